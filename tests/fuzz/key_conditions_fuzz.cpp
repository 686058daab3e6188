// The key condition helpers. Built from known keys (qualified or NVL-wrapped names, numbers and
// quoted texts of any characters), a condition splits back into exactly those names and values,
// and its ledger-side form is the same terms with bare names. On raw text the helpers never
// crash, and the small ones keep their one-line promises.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "ledger_engine/key_conditions.h"
#include "reconcile_ui/corrections.h"

namespace {

using namespace tallyvet;

void Require(bool condition) {
  if (!condition) std::abort();
}

// A column name as the ledger has it: a letter, then letters, digits and "_", upper-cased; never
// the word AND, which no table can have as a column and which the condition's grammar reserves.
std::string Name(FuzzedDataProvider& in) {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";
  std::string name(1, kChars[in.ConsumeIntegralInRange<int>(0, 25)]);
  const int length = in.ConsumeIntegralInRange<int>(0, 12);
  for (int k = 0; k < length; ++k) name += kChars[in.ConsumeIntegralInRange<int>(0, 36)];
  return name == "AND" ? name + "_" : name;
}

void SplitsBackIntoItsKeys(FuzzedDataProvider& in) {
  const int count = in.ConsumeIntegralInRange<int>(1, 6);
  std::string condition, ledgerSide, columns;
  std::vector<std::string> values;
  for (int k = 0; k < count; ++k) {
    const std::string name = Name(in);
    std::string written = name;
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
      case 1:
        written = Name(in) + "." + name;
        break;
      case 2:
        written = "NVL(" + Name(in) + "." + name + ",0)";
        break;
      default:
        break;
    }
    std::string value;
    if (in.ConsumeBool()) {
      value = std::to_string(in.ConsumeIntegral<std::int32_t>());
    } else {
      value = QuoteSqlText(in.ConsumeRandomLengthString(16));
    }
    const std::string joiner = k == 0 ? "" : " AND ";
    condition += joiner + written + "=" + value;
    ledgerSide += joiner + name + "=" + value;
    columns += (k == 0 ? "" : ",") + name;
    values.push_back(value);
  }
  std::string keyColumns = "stale", keyValues = "stale";
  Require(SplitCondition(condition, keyColumns, keyValues) == ledgerSide);
  Require(keyColumns == columns);
  Require(SplitSqlList(keyValues) == values);
  // A condition already ledger-side comes back unchanged, with the same lists.
  std::string again, againValues;
  Require(SplitCondition(ledgerSide, again, againValues) == ledgerSide);
  Require(again == keyColumns && againValues == keyValues);
}

void SurvivesRawText(FuzzedDataProvider& in) {
  const std::string a = in.ConsumeRandomLengthString(64);
  const std::string b = in.ConsumeRandomLengthString(64);
  const std::string c = in.ConsumeRemainingBytesAsString();
  std::string keyColumns, keyValues;
  SplitCondition(a, keyColumns, keyValues);

  Require(ReplaceRepeatedName(a, b, b) == a);
  const std::string replaced = ReplaceRepeatedName(a, b, c);
  if (!b.empty() && a.find(b) != std::string::npos) {
    // Everything up to and including the first occurrence stays.
    Require(replaced.compare(0, a.find(b) + b.size(), a, 0, a.find(b) + b.size()) == 0);
  }

  Require(FieldBaseName("SUM(" + a + ")") == a);
  try {
    FieldBaseName(b);
  } catch (const std::invalid_argument&) {
    Require(!b.empty() && b.back() == '(');
  }

  CheckItemTable items;
  items.SelectSql[0] = c;
  const std::string qualified = QualifyKeyColumn(items, a, 1);
  Require(qualified == a ||
          (qualified.size() > a.size() + 1 &&
           qualified.compare(qualified.size() - a.size() - 1, std::string::npos, "." + a) == 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool()) {
    SplitsBackIntoItsKeys(in);
  } else {
    SurvivesRawText(in);
  }
  return 0;
}
