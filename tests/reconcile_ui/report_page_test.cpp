// The report page: amounts to the cent, the period of a difference, and the page the program writes
// for a faulted sample, read back with libxml2's HTML and XML parsers (every difference in its
// table, one chart bar per period with a difference) and rendered by headless Chromium into
// screenshots/ of this build folder.
#include "reconcile_ui/report_page.h"

#include <gtest/gtest.h>
#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <sys/wait.h>

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "reconcile_ui/account_set.h"
#include "sample/sample.h"

namespace tallyvet {
namespace {

TEST(ReportPage, AmountsAreRoundedToTheCentAndGroupedByThousands) {
  const std::pair<double, const char*> cases[] = {
      {0, "0.00"},
      {1234.567, "1,234.57"},
      {-1234.5, "-1,234.50"},
      {-0.004, "0.00"},
      {0.005, "0.00"},
      {2.675, "2.68"},
      {999.995, "1,000.00"},
      {1e6, "1,000,000.00"},
      {-86439.29000000001, "-86,439.29"},
      {123, "123.00"},
      {-999999.999, "-1,000,000.00"},
  };
  for (const auto& [amount, text] : cases) EXPECT_EQ(CentText(amount), text) << amount;
}

TEST(ReportPage, ADifferenceBelongsToThePeriodOfItsDate) {
  const std::vector<PagePeriod> periods = {{"期初", " ", ""},
                                           {"2025.01", "2025-01-01", "2025-01-31"},
                                           {"2025.02", "2025-02-01", "2025-02-28"}};
  using K = std::vector<KeyValue>;
  const db::Value item(std::int64_t{24});
  const std::pair<K, const char*> cases[] = {
      {{{"STRDATE", db::Value("2025-01-31")}, {"LNGITEMID", item}}, "2025.01"},
      {{{"LNGITEMID", item}, {"STRDATE", db::Value("2025-02-01")}}, "2025.02"},
      {{{"STRDATE", db::Value("2024-12-31")}, {"LNGITEMID", item}}, "期初"},
      {{{"STRDATE", db::Value(" ")}, {"LNGITEMID", item}}, "期初"},
      {{{"STRDATE", db::Value("2025-03-01")}, {"LNGITEMID", item}}, "其他"},
      {{{"INTYEAR", db::Value(std::int64_t{2025})},
        {"BYTPERIOD", db::Value(std::int64_t{2})},
        {"LNGACCOUNTID", db::Value(std::int64_t{3})}},
       "2025.02"},
      {{{"LNGACCOUNTID", db::Value(std::int64_t{3})}}, "其他"},
      {{{"STRDATE", db::Value()}, {"LNGITEMID", item}}, "其他"},
  };
  for (const auto& [keys, period] : cases) {
    DifferenceRecord record;
    record.item = 1;
    record.keys = keys;
    record.keyCount = static_cast<std::int16_t>(keys.size());
    EXPECT_EQ(PeriodOfDifference(record, periods), period) << keys.front().column;
  }
}

// libxml2's messages while a page is parsed.
class ParseErrors {
 public:
  ParseErrors() { xmlSetStructuredErrorFunc(this, &Collect); }
  ~ParseErrors() { xmlSetStructuredErrorFunc(nullptr, nullptr); }
  ParseErrors(const ParseErrors&) = delete;
  ParseErrors& operator=(const ParseErrors&) = delete;
  std::vector<std::pair<int, std::string>> errors;

 private:
  static void Collect(void* self, xmlErrorPtr error) {
    static_cast<ParseErrors*>(self)->errors.emplace_back(error->code, error->message);
  }
};

using Document = std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)>;

// The text of the nodes `xpath` selects in `doc`, in document order.
std::vector<std::string> Texts(xmlDoc* doc, const std::string& xpath) {
  std::unique_ptr<xmlXPathContext, decltype(&xmlXPathFreeContext)> context(xmlXPathNewContext(doc),
                                                                           xmlXPathFreeContext);
  std::unique_ptr<xmlXPathObject, decltype(&xmlXPathFreeObject)> found(
      xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(xpath.c_str()), context.get()),
      xmlXPathFreeObject);
  std::vector<std::string> texts;
  if (!found || !found->nodesetval) return texts;
  for (int i = 0; i < found->nodesetval->nodeNr; ++i) {
    xmlChar* text = xmlNodeGetContent(found->nodesetval->nodeTab[i]);
    texts.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
    xmlFree(text);
  }
  return texts;
}

std::string Quoted(const std::filesystem::path& path) {
  return "'" + path.string() + "'";
}

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ReportPage, ShowsEveryDifferenceOfAFaultedSampleAndOneBarPerPeriodWithADifference) {
  testing::TempDir dir;
  const std::filesystem::path db = dir / "faulted.db";
  sample::CreateSample(
      {.path = db, .owner = "demo", .scale = 400, .seed = 7, .faults = sample::FaultSet::kAll});
  const std::filesystem::path page = dir / "report.html";
  ASSERT_EQ(Shell(std::string(TALLYVET_PROGRAM) + " reconcile --db " + Quoted(db) +
                  " --user demo --from 期初 --to 2025.12 --json --explain --report-dir " +
                  Quoted(dir.path()) + " --html " + Quoted(page) + " >" + Quoted(dir / "out.json") +
                  " 2>" + Quoted(dir / "err.txt")),
            1)
      << testing::FileText(dir / "err.txt");

  // What the page must show, from the JSON lines of the same run; periods from the account set.
  std::map<std::string, std::pair<std::string, std::string>> periodDates;
  {
    auto conn = db::SqliteConnection::Open(db.string(), "demo");
    auto rs = conn->OpenResultset(
        "SELECT intYear,bytPeriod,strStartDate,strEndDate FROM "
        "demo.AccountPeriod",
        3);
    for (; !rs->Eof(); rs->MoveNext()) {
      const auto& f = rs->Fields();
      periodDates[PeriodEntry(f["intYear"].Value().AsInteger(),
                              f["bytPeriod"].Value().AsInteger())] = {
          f["strStartDate"].Value().AsText(), f["strEndDate"].Value().AsText()};
    }
  }
  std::map<int, std::multiset<std::string>> expectedRows;  // item -> caption|stored|...
  std::map<int, std::map<std::string, int>> expectedBars;  // item -> period -> differences
  std::map<int, std::set<std::string>> differingRows;      // item -> keys
  std::istringstream lines(testing::FileText(dir / "out.json"));
  int differences = 0;
  for (std::string line; std::getline(lines, line); ++differences) {
    const auto d = nlohmann::json::parse(line);
    const int item = d["item"];
    differingRows[item].insert(d["keys"].dump());
    expectedRows[item].insert(d["caption"].get<std::string>() + "|" + CentText(d["stored"]) + "|" +
                              CentText(d["recomputed"]) + "|" + CentText(d["difference"]));
    const std::string date = d["keys"]["STRDATE"];
    std::string period = "期初";
    for (const auto& [name, dates] : periodDates) {
      if (date >= dates.first && date <= dates.second) period = name;
    }
    ++expectedBars[item][period];
  }
  ASSERT_GT(differences, 10) << "the faulted sample has differences in every item";
  ASSERT_EQ(expectedRows.size(), 6u);

  const std::string html = testing::FileText(page);
  {
    // A real HTML parser: nothing but the inline SVG's element names (unknown to its HTML 4
    // tables) may be reported.
    ParseErrors parse;
    Document doc(htmlReadMemory(html.data(), static_cast<int>(html.size()), "report.html", "UTF-8",
                                HTML_PARSE_NONET),
                 xmlFreeDoc);
    ASSERT_TRUE(doc);
    const std::set<std::string> svgTags = {"svg", "rect", "line", "text", "title"};
    for (const auto& [code, message] : parse.errors) {
      const bool svgTag = code == XML_HTML_UNKNOWN_TAG &&
                          std::any_of(svgTags.begin(), svgTags.end(), [&](const std::string& t) {
                            return message.find("Tag " + t + " invalid") != std::string::npos;
                          });
      EXPECT_TRUE(svgTag) << "HTML parser: " << message;
    }
    for (const auto& [item, rows] : expectedRows) {
      const std::string section = "//div[@id='item-" + std::to_string(item) + "']";
      std::multiset<std::string> shown;
      const std::string row = section + "//table[@class='differences']/tbody/tr";
      const auto captions = Texts(doc.get(), row + "/td[3]");
      const auto stored = Texts(doc.get(), row + "/td[4]");
      const auto recomputed = Texts(doc.get(), row + "/td[5]");
      const auto difference = Texts(doc.get(), row + "/td[6]");
      ASSERT_EQ(stored.size(), captions.size());
      for (std::size_t i = 0; i < captions.size(); ++i) {
        shown.insert(captions[i] + "|" + stored[i] + "|" + recomputed[i] + "|" + difference[i]);
      }
      EXPECT_EQ(shown, rows) << "item " << item;
      // Every row with its cause, and the differing rows counted by cause.
      for (const std::string& cause : Texts(doc.get(), row + "/td[7]/b")) {
        EXPECT_FALSE(cause.empty()) << "item " << item;
      }
      EXPECT_EQ(Texts(doc.get(), row + "/td[7]/b").size(), captions.size());
      int counted = 0;
      for (const std::string& n : Texts(doc.get(), section + "//table[@class='causes']//td[2]"))
        counted += std::stoi(n);
      EXPECT_EQ(counted, static_cast<int>(differingRows[item].size())) << "item " << item;

      // One bar per period with a difference, each saying how many it has.
      const std::string bar = section + "//svg[@id='chart-" + std::to_string(item) + "']/rect";
      const auto periods = Texts(doc.get(), bar + "/@data-period");
      const auto titles = Texts(doc.get(), bar + "/title");
      std::map<std::string, int> bars;
      for (std::size_t i = 0; i < periods.size(); ++i) {
        const std::string prefix = periods[i] + "：";
        ASSERT_EQ(titles[i].rfind(prefix, 0), 0u) << titles[i];
        bars[periods[i]] = std::stoi(titles[i].substr(prefix.size()));
      }
      EXPECT_EQ(periods.size(), bars.size()) << "a period has two bars, item " << item;
      EXPECT_EQ(bars, expectedBars[item]) << "item " << item;
      // The summary: one line per differing column.
      std::set<std::string> columns;
      for (const std::string& r : rows) columns.insert(r.substr(0, r.find('|')));
      EXPECT_EQ(Texts(doc.get(), section + "//table[@class='summary']/tbody/tr").size(),
                columns.size());
    }
    EXPECT_NE(Texts(doc.get(), "//table[@class='facts']").at(0).find("demo"), std::string::npos);
  }
  {
    // Also well-formed XML: every element closed, every text escaped.
    ParseErrors parse;
    Document doc(xmlReadMemory(html.data(), static_cast<int>(html.size()), "report.html", "UTF-8",
                               XML_PARSE_NONET),
                 xmlFreeDoc);
    EXPECT_TRUE(doc);
    for (const auto& [code, message] : parse.errors) ADD_FAILURE() << "XML parser: " << message;
  }
  // Self-contained: nothing to fetch, no script.
  for (const char* outside : {"<script", "src=", "http://", "https://", "<link"}) {
    const auto at = html.find(outside);
    // The SVG namespace names a URI; it is never fetched.
    EXPECT_TRUE(at == std::string::npos ||
                html.compare(at, 27, "http://www.w3.org/2000/svg\"") == 0)
        << outside;
  }

  // The page as a browser draws it.
  const std::filesystem::path shots = TALLYVET_SCREENSHOT_DIR;
  std::filesystem::create_directories(shots);
  const std::filesystem::path png = shots / "report-page.png";
  std::filesystem::remove(png);
  ASSERT_EQ(Shell("command -v chromium >/dev/null"), 0)
      << "headless Chromium renders the page: install chromium (scripts/setup-deps.sh)";
  EXPECT_EQ(Shell("chromium --headless --no-sandbox --disable-gpu --hide-scrollbars"
                  " --user-data-dir=" +
                  Quoted(dir / "chromium") + " --window-size=1000,2000 --screenshot=" +
                  Quoted(png) + " " + Quoted("file://" + page.string()) + " >" +
                  Quoted(dir / "chromium.log") + " 2>&1"),
            0)
      << testing::FileText(dir / "chromium.log");
  ASSERT_TRUE(std::filesystem::exists(png)) << testing::FileText(dir / "chromium.log");
  EXPECT_GT(std::filesystem::file_size(png), 20000u) << "an empty page?";
}

}  // namespace
}  // namespace tallyvet
