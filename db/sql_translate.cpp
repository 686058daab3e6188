// Oracle-to-SQLite translation, rule by rule over one token stream.
//
// Every rule lexes the statement, decides on the tokens what to change and re-emits the original
// text for everything else: blanks, line breaks, comments and the case of names stay as written,
// because callers read the names of expression columns back from the select list text. A rule
// that cannot make sense of a statement (unbalanced parentheses, an outer join it cannot place)
// leaves it as written, so that SQLite refuses it with its own message instead of running
// something with another meaning.
#include "db/sql_translate.h"

#include <algorithm>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/text.h"

namespace tallyvet::db::sql {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
// The longest name PostgreSQL keeps, in bytes.
constexpr std::size_t kMaxPostgresName = 63;

// ---------------------------------------------------------------------------------------------
// Lexing

enum class Kind {
  kWord,        // identifier or keyword, unquoted
  kQuotedName,  // "identifier"
  kString,      // 'text'
  kNumber,
  kOperator,
  kOpen,
  kClose,
  kComma,
  kSemicolon,
  kDot,
};

struct Token {
  Kind kind;
  std::size_t lead;   // where the blanks and comments in front of the token start
  std::size_t begin;  // the token itself
  std::size_t end;
};

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
// Bytes of multi-byte UTF-8 characters count as name characters: only Chinese text in names
// would carry them, and it must never be split.
bool IsNameStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool IsNameChar(char c) {
  return IsNameStart(c) || IsDigit(c) || c == '$' || c == '#';
}

// From `pos` past blanks and comments (a hint is a comment); returns where the next token starts.
// An unterminated block comment runs to the end.
std::size_t SkipTrivia(const std::string& s, std::size_t pos) {
  while (pos < s.size()) {
    if (IsSpace(s[pos])) {
      ++pos;
    } else if (s.compare(pos, 2, "--") == 0) {
      pos = s.find('\n', pos);
      if (pos == std::string::npos) return s.size();
    } else if (s.compare(pos, 2, "/*") == 0) {
      const std::size_t close = s.find("*/", pos + 2);
      pos = close == std::string::npos ? s.size() : close + 2;
    } else {
      break;
    }
  }
  return pos;
}

// End of the quoted run that opens at `pos`; a doubled quote stands for itself. An unterminated
// run goes to the end, so that nothing after a stray quote is taken for SQL.
std::size_t SkipQuoted(const std::string& s, std::size_t pos, char quote) {
  for (++pos; pos < s.size(); ++pos) {
    if (s[pos] != quote) continue;
    if (pos + 1 < s.size() && s[pos + 1] == quote) {
      ++pos;
      continue;
    }
    return pos + 1;
  }
  return s.size();
}

// Whether the text holds "(+)", blanks allowed inside, anywhere.
bool HoldsOuterJoinMark(std::string_view s) {
  for (std::size_t plus = s.find('+'); plus != std::string_view::npos;
       plus = s.find('+', plus + 1)) {
    const std::size_t before = s.find_last_not_of(" \t\r\n", plus == 0 ? 0 : plus - 1);
    const std::size_t after = s.find_first_not_of(" \t\r\n", plus + 1);
    if (plus > 0 && before != std::string_view::npos && s[before] == '(' &&
        after != std::string_view::npos && s[after] == ')') {
      return true;
    }
  }
  return false;
}

// True when the text ends inside a quoted string or name, or inside a block comment.
bool EndsInsideQuoteOrComment(const std::string& s) {
  std::size_t pos = 0;
  const auto pair = [&s](std::size_t at, char a, char b) {
    return s[at] == a && at + 1 < s.size() && s[at + 1] == b;
  };
  while (pos < s.size()) {
    if (pair(pos, '/', '*')) {
      const std::size_t close = s.find("*/", pos + 2);
      if (close == std::string::npos) return true;
      pos = close + 2;
    } else if (pair(pos, '-', '-')) {
      pos = s.find('\n', pos);
      if (pos == std::string::npos) return false;
    } else if (s[pos] == '\'' || s[pos] == '"') {
      const char quote = s[pos];
      bool closed = false;
      for (++pos; pos < s.size() && !closed; ++pos) {
        if (s[pos] != quote) continue;
        if (pos + 1 < s.size() && s[pos + 1] == quote) {
          ++pos;  // a doubled quote stands for itself
        } else {
          closed = true;
        }
      }
      if (!closed) return true;
    } else {
      ++pos;
    }
  }
  return false;
}

std::size_t SkipNumber(const std::string& s, std::size_t pos) {
  while (pos < s.size() && IsDigit(s[pos])) ++pos;
  if (pos < s.size() && s[pos] == '.') {
    ++pos;
    while (pos < s.size() && IsDigit(s[pos])) ++pos;
  }
  if (pos < s.size() && (s[pos] == 'e' || s[pos] == 'E')) {
    std::size_t exp = pos + 1;
    if (exp < s.size() && (s[exp] == '+' || s[exp] == '-')) ++exp;
    if (exp < s.size() && IsDigit(s[exp])) {
      pos = exp;
      while (pos < s.size() && IsDigit(s[pos])) ++pos;
    }
  }
  return pos;
}

std::size_t OperatorLength(const std::string& s, std::size_t pos) {
  static constexpr std::string_view kTwoChar[] = {
      "||", "<=", ">=", "<>", "!=", "^=", ":=", "=>", "**"};
  for (std::string_view op : kTwoChar) {
    if (s.compare(pos, 2, op) == 0) return 2;
  }
  return 1;
}

// A lexed statement with its nesting: each "(" knows its ")" and each CASE its END.
class Statement {
 public:
  explicit Statement(const std::string& sql) : sql_(sql) {
    Lex();
    Nest();
  }

  std::size_t size() const { return tokens_.size(); }
  const Token& token(std::size_t i) const { return tokens_[i]; }
  std::string_view Text(std::size_t i) const {
    return std::string_view(sql_).substr(tokens_[i].begin, tokens_[i].end - tokens_[i].begin);
  }
  std::string_view Lead(std::size_t i) const {
    return std::string_view(sql_).substr(tokens_[i].lead, tokens_[i].begin - tokens_[i].lead);
  }
  std::string_view Tail() const { return std::string_view(sql_).substr(tail_); }
  bool balanced() const { return balanced_; }

  bool Is(std::size_t i, Kind kind) const { return i < size() && tokens_[i].kind == kind; }
  // An unquoted word, compared without regard to case.
  bool IsWord(std::size_t i, std::string_view word) const {
    return Is(i, Kind::kWord) && EqualsIgnoringAsciiCase(Text(i), word);
  }
  bool IsWordIn(std::size_t i, std::initializer_list<std::string_view> words) const {
    if (!Is(i, Kind::kWord)) return false;
    for (std::string_view w : words) {
      if (EqualsIgnoringAsciiCase(Text(i), w)) return true;
    }
    return false;
  }
  bool IsOperator(std::size_t i, std::string_view op) const {
    return Is(i, Kind::kOperator) && Text(i) == op;
  }
  bool IsName(std::size_t i) const { return Is(i, Kind::kWord) || Is(i, Kind::kQuotedName); }
  bool IsComparison(std::size_t i) const {
    if (!Is(i, Kind::kOperator)) return false;
    const std::string_view t = Text(i);
    return t == "=" || t == "<>" || t == "!=" || t == "<" || t == "<=" || t == ">" || t == ">=";
  }

  // An identifier as the database sees it: unquoted names upper-cased, quoted ones as written.
  std::string Name(std::size_t i) const {
    const std::string_view t = Text(i);
    if (!Is(i, Kind::kQuotedName)) return UpperAscii(t);
    std::string name;
    for (std::size_t k = 1; k + 1 < t.size(); ++k) {
      name += t[k];
      if (t[k] == '"') ++k;
    }
    return name;
  }

  // The partner of a "(" / ")" or CASE / END; kNone for any other token.
  std::size_t Match(std::size_t i) const { return match_[i]; }
  // Number of parentheses around the token.
  std::size_t Depth(std::size_t i) const { return depth_[i]; }
  // The token after `i`, stepping over a whole parenthesised group or CASE ... END.
  std::size_t Step(std::size_t i) const {
    const bool opens = Is(i, Kind::kOpen) || IsWord(i, "CASE");
    return opens && match_[i] != kNone ? match_[i] + 1 : i + 1;
  }

 private:
  void Lex() {
    std::size_t pos = 0;
    for (;;) {
      const std::size_t lead = pos;
      pos = SkipTrivia(sql_, pos);
      if (pos >= sql_.size()) {
        tail_ = lead;
        return;
      }
      const std::size_t begin = pos;
      const char c = sql_[pos];
      Kind kind = Kind::kOperator;
      const bool after_name =
          !tokens_.empty() &&
          (tokens_.back().kind == Kind::kWord || tokens_.back().kind == Kind::kQuotedName) &&
          tokens_.back().end == begin;
      if (c == '\'') {
        kind = Kind::kString;
        pos = SkipQuoted(sql_, pos, '\'');
      } else if (c == '"') {
        kind = Kind::kQuotedName;
        pos = SkipQuoted(sql_, pos, '"');
      } else if (IsDigit(c) ||
                 (c == '.' && !after_name && pos + 1 < sql_.size() && IsDigit(sql_[pos + 1]))) {
        kind = Kind::kNumber;
        pos = SkipNumber(sql_, pos);
      } else if (IsNameStart(c)) {
        kind = Kind::kWord;
        while (pos < sql_.size() && IsNameChar(sql_[pos])) ++pos;
      } else if (c == '(' || c == ')' || c == ',' || c == ';' || c == '.') {
        kind = c == '('   ? Kind::kOpen
               : c == ')' ? Kind::kClose
               : c == ',' ? Kind::kComma
               : c == ';' ? Kind::kSemicolon
                          : Kind::kDot;
        ++pos;
      } else {
        pos += OperatorLength(sql_, pos);
      }
      tokens_.push_back({kind, lead, begin, pos});
    }
  }

  void Nest() {
    match_.assign(size(), kNone);
    depth_.assign(size(), 0);
    std::vector<std::size_t> open;
    std::size_t parens = 0;
    for (std::size_t i = 0; i < size(); ++i) {
      depth_[i] = parens;
      if (Is(i, Kind::kOpen)) {
        open.push_back(i);
        ++parens;
      } else if (IsWord(i, "CASE")) {
        open.push_back(i);
      } else if (Is(i, Kind::kClose)) {
        if (open.empty() || !Is(open.back(), Kind::kOpen)) {
          balanced_ = false;
          return;
        }
        Pair(open.back(), i);
        open.pop_back();
        depth_[i] = --parens;
      } else if (IsWord(i, "END") && !open.empty() && IsWord(open.back(), "CASE")) {
        Pair(open.back(), i);
        open.pop_back();
      }
    }
    balanced_ = open.empty();
  }

  void Pair(std::size_t a, std::size_t b) {
    match_[a] = b;
    match_[b] = a;
  }

  const std::string& sql_;
  std::vector<Token> tokens_;
  std::size_t tail_ = 0;
  std::vector<std::size_t> match_;
  std::vector<std::size_t> depth_;
  bool balanced_ = true;
};

// ---------------------------------------------------------------------------------------------
// Re-emission: the statement's text piece by piece (each token with the blanks and comments in
// front of it); rules edit pieces and the rest comes out as it went in.

class Edits {
 public:
  explicit Edits(const Statement& st) : st_(st), edited_(st.size(), kNone) {}

  // Removes the token. The blanks in front of it go too; comments stay where they were unless
  // `keep_comments` is false (the text moves elsewhere with them).
  void Drop(std::size_t i, bool keep_comments = true) {
    Piece& p = Edit(i);
    if (!keep_comments || !HasComment(st_.Lead(i))) p.lead.clear();
    p.before.clear();
    p.body.clear();
    p.after.clear();
  }
  // Removes the token's own text and keeps what stood in front of it.
  void Erase(std::size_t i) { Edit(i).body.clear(); }
  void Prepend(std::size_t i, std::string_view text) {
    std::string piece(text);
    // Written straight after a word, a word would merge with it: WHERE(a)||b must not become
    // WHEREIFNULL((a),'')||...
    if (!piece.empty() && IsNameChar(piece.front()) && i > 0 && st_.Lead(i).empty() &&
        !st_.Text(i - 1).empty() && IsNameChar(st_.Text(i - 1).back())) {
      piece.insert(0, " ");
    }
    Edit(i).before.insert(0, piece);
  }
  void Append(std::size_t i, std::string_view text) { Edit(i).after += text; }

  // The current text of tokens first..last, without what stands in front of the first.
  std::string Span(std::size_t first, std::size_t last) const {
    std::string out;
    for (std::size_t i = first; i <= last; ++i) AppendPiece(out, i, i != first);
    return out;
  }

  // Puts `text` in place of tokens first..last; what stands in front of the first stays.
  void Replace(std::size_t first, std::size_t last, std::string text) {
    for (std::size_t i = first + 1; i <= last; ++i) Drop(i, false);
    Piece& p = Edit(first);
    p.before.clear();
    p.body = std::move(text);
    p.after.clear();
  }

  // Takes tokens first..last away to be emitted elsewhere; returns their text.
  std::string Move(std::size_t first, std::size_t last) {
    std::string text = Span(first, last);
    Drop(first);
    for (std::size_t i = first + 1; i <= last; ++i) Drop(i, false);
    return text;
  }

  std::string Render() const {
    std::string out;
    for (std::size_t i = 0; i < st_.size(); ++i) AppendPiece(out, i, true);
    out += st_.Tail();
    return out;
  }

 private:
  // A token that a rule changed; the others are emitted straight from the statement.
  struct Piece {
    std::string lead, before, body, after;
  };

  static bool HasComment(std::string_view lead) {
    return lead.find("--") != std::string_view::npos || lead.find("/*") != std::string_view::npos;
  }

  Piece& Edit(std::size_t i) {
    if (edited_[i] == kNone) {
      edited_[i] = pieces_.size();
      pieces_.push_back({std::string(st_.Lead(i)), {}, std::string(st_.Text(i)), {}});
    }
    return pieces_[edited_[i]];
  }

  void AppendPiece(std::string& out, std::size_t i, bool with_lead) const {
    if (edited_[i] == kNone) {
      if (with_lead) out += st_.Lead(i);
      out += st_.Text(i);
      return;
    }
    const Piece& p = pieces_[edited_[i]];
    if (with_lead) out += p.lead;
    out += p.before;
    out += p.body;
    out += p.after;
  }

  const Statement& st_;
  std::vector<std::size_t> edited_;  // index into pieces_, or kNone
  std::vector<Piece> pieces_;
};

// Removes the separators (commas, ANDs) that no longer stand between two kept elements; element
// j and j + 1 are separated by separators[j]. Returns the separators that stay.
std::vector<std::size_t> DropSeparators(Edits& edits, const std::vector<bool>& kept,
                                        const std::vector<std::size_t>& separators) {
  std::vector<std::size_t> staying;
  bool kept_before = kept[0];
  for (std::size_t j = 0; j < separators.size(); ++j) {
    if (kept[j + 1] && kept_before) {
      staying.push_back(separators[j]);
    } else {
      edits.Drop(separators[j]);
    }
    kept_before = kept_before || kept[j + 1];
  }
  return staying;
}

// ---------------------------------------------------------------------------------------------
// Outer joins

class OuterJoins {
 public:
  OuterJoins(const Statement& st, Edits& edits, Dialect dialect)
      : st_(st), edits_(edits), dialect_(dialect) {}

  // Rewrites every SELECT in tokens [begin, end): the subqueries first, so that a subquery that
  // moves as a whole carries its own rewriting along.
  void Range(std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      if (st_.Is(i, Kind::kOpen)) {
        Range(i + 1, st_.Match(i));
        i = st_.Match(i);
      }
    }
    for (std::size_t i = begin; i < end;) {
      if (!st_.IsWord(i, "SELECT")) {
        i = st_.Step(i);
        continue;
      }
      std::size_t stop = i + 1;
      while (stop < end && !st_.Is(stop, Kind::kSemicolon) &&
             !st_.IsWordIn(stop, {"UNION", "INTERSECT", "EXCEPT", "MINUS"})) {
        stop = st_.Step(stop);
      }
      Select(i, stop);
      i = stop;
    }
  }

 private:
  struct FromItem {
    std::size_t first, last;
    std::string key;  // alias, or the table name when there is none
  };
  struct Conjunct {
    std::size_t first, end;
    std::vector<std::size_t> markers;  // the "(" of each "(+)"
  };

  // First token in [begin, end) at this level that is one of `words` (or a ";"), else `end`.
  std::size_t Find(std::size_t begin, std::size_t end,
                   std::initializer_list<std::string_view> words) const {
    for (std::size_t i = begin; i < end; i = st_.Step(i)) {
      if (st_.IsWordIn(i, words) || st_.Is(i, Kind::kSemicolon)) return i;
    }
    return end;
  }

  bool IsMarker(std::size_t i) const {
    return st_.Is(i, Kind::kOpen) && st_.IsOperator(i + 1, "+") && st_.Match(i) == i + 2;
  }

  // One element of a comma-joined FROM list: a table (maybe qualified) or a parenthesised
  // subquery, with an optional alias. Anything else (ANSI joins) is not ours to rewrite.
  bool ParseItem(std::size_t first, std::size_t end, FromItem& item) const {
    if (first >= end) return false;
    std::size_t i = first;
    if (st_.Is(i, Kind::kOpen)) {
      i = st_.Match(i) + 1;
    } else if (st_.IsName(i)) {
      item.key = st_.Name(i++);
      while (i + 1 < end && st_.Is(i, Kind::kDot) && st_.IsName(i + 1)) {
        item.key = st_.Name(i + 1);
        i += 2;
      }
    } else {
      return false;
    }
    if (i < end && st_.IsWord(i, "AS")) ++i;
    if (i < end && st_.IsName(i)) item.key = st_.Name(i++);
    item.first = first;
    item.last = end - 1;
    return i == end && !item.key.empty();
  }

  // One SELECT from its keyword to `end` (a set operator, ";" or the end of its group).
  void Select(std::size_t select, std::size_t end) {
    const std::size_t from = Find(select + 1, end, {"FROM"});
    if (from == end || !st_.IsWord(from, "FROM")) return;
    const std::size_t from_end = Find(from + 1, end,
                                      {"WHERE", "GROUP", "HAVING", "ORDER", "CONNECT", "START",
                                       "LIMIT", "WINDOW", "UNION", "INTERSECT", "MINUS"});
    if (!st_.IsWord(from_end, "WHERE") || from_end >= end) return;
    const std::size_t where = from_end;
    const std::size_t where_end =
        Find(where + 1, end, {"GROUP", "HAVING", "ORDER", "CONNECT", "START", "LIMIT", "WINDOW"});

    std::vector<Conjunct> conjuncts;
    std::vector<std::size_t> ands;
    if (!SplitConjuncts(where + 1, where_end, conjuncts, ands)) return;
    bool any_marker = false;
    for (Conjunct& c : conjuncts) {
      if (!FindMarkers(c)) return;
      any_marker = any_marker || !c.markers.empty();
    }
    if (!any_marker) return;

    std::vector<FromItem> items;
    std::vector<std::size_t> commas;
    std::size_t item_first = from + 1;
    for (std::size_t i = from + 1; i <= from_end; i = i == from_end ? i + 1 : st_.Step(i)) {
      if (i < from_end && !st_.Is(i, Kind::kComma)) continue;
      FromItem item;
      if (!ParseItem(item_first, i, item)) return;
      items.push_back(item);
      if (i < from_end) commas.push_back(i);
      item_first = i + 1;
    }
    std::unordered_map<std::string, std::size_t> by_key;
    for (std::size_t t = 0; t < items.size(); ++t) {
      // A name used twice cannot be told apart; kNone makes any outer join on it fail below.
      const auto [it, fresh] = by_key.emplace(items[t].key, t);
      if (!fresh) it->second = kNone;
    }

    std::vector<std::vector<std::size_t>> joined_on(items.size());  // conjunct indexes
    for (std::size_t c = 0; c < conjuncts.size(); ++c) {
      if (conjuncts[c].markers.empty()) continue;
      const std::size_t marker = conjuncts[c].markers.front();
      const auto it = by_key.find(st_.Name(marker - 3));
      if (it == by_key.end() || it->second == kNone) return;
      for (std::size_t m : conjuncts[c].markers) {
        if (st_.Name(m - 3) != st_.Name(marker - 3)) return;  // one table per predicate
      }
      joined_on[it->second].push_back(c);
    }

    const std::vector<std::size_t> order = JoinOrder(items, conjuncts, joined_on, by_key);
    if (order.empty()) return;

    // Rewrite: the markers go, then the outer tables and their predicates move into the joins.
    for (const Conjunct& c : conjuncts) {
      for (std::size_t m : c.markers) {
        edits_.Drop(m);
        edits_.Drop(m + 1);
        edits_.Drop(m + 2);
      }
    }
    std::string joins;
    for (std::size_t t : order) {
      std::string on;
      for (std::size_t c : joined_on[t]) {
        if (!on.empty()) on += " AND ";
        on += edits_.Move(conjuncts[c].first, conjuncts[c].end - 1);
      }
      joins += " LEFT JOIN " + edits_.Move(items[t].first, items[t].last) + " ON " + on;
    }
    std::vector<bool> item_kept(items.size());
    for (std::size_t t = 0; t < items.size(); ++t) item_kept[t] = joined_on[t].empty();
    // PostgreSQL binds a comma looser than a JOIN, so an ON could see only the last table of a
    // comma list; CROSS JOINs keep every table in sight. (SQLite reads a comma as a join already,
    // and would take CROSS JOIN as an order the planner must not change.)
    for (std::size_t comma : DropSeparators(edits_, item_kept, commas)) {
      if (dialect_ != Dialect::kPostgres) continue;
      edits_.Erase(comma);
      edits_.Prepend(comma, " CROSS JOIN ");
    }
    std::vector<bool> conjunct_kept(conjuncts.size());
    bool where_kept = false;
    for (std::size_t c = 0; c < conjuncts.size(); ++c) {
      conjunct_kept[c] = conjuncts[c].markers.empty();
      where_kept = where_kept || conjunct_kept[c];
    }
    DropSeparators(edits_, conjunct_kept, ands);
    if (!where_kept) edits_.Drop(where);
    edits_.Append(from_end - 1, joins);
  }

  // The WHERE condition as terms joined by AND at its top level. False when it is not such a
  // conjunction (an OR at the top, an empty term): Oracle allows no outer join there anyway.
  bool SplitConjuncts(std::size_t begin, std::size_t end, std::vector<Conjunct>& conjuncts,
                      std::vector<std::size_t>& ands) const {
    std::size_t first = begin;
    std::size_t open_betweens = 0;
    for (std::size_t i = begin; i < end; i = st_.Step(i)) {
      if (st_.IsWord(i, "OR")) return false;
      if (st_.IsWord(i, "BETWEEN")) {
        ++open_betweens;
      } else if (st_.IsWord(i, "AND")) {
        if (open_betweens > 0) {
          --open_betweens;  // the AND of BETWEEN ... AND ...
          continue;
        }
        if (i == first) return false;
        conjuncts.push_back({first, i, {}});
        ands.push_back(i);
        first = i + 1;
      }
    }
    if (first >= end) return false;
    conjuncts.push_back({first, end, {}});
    return true;
  }

  // Collects the "(+)" of a term outside its subqueries (those are their own SELECTs). False
  // when a marker does not follow a qualified column: the table it means is unknown here.
  bool FindMarkers(Conjunct& c) const {
    for (std::size_t i = c.first; i < c.end; ++i) {
      if (!st_.Is(i, Kind::kOpen)) continue;
      if (IsMarker(i)) {
        if (i < c.first + 3 || !st_.IsName(i - 1) || !st_.Is(i - 2, Kind::kDot) ||
            !st_.IsName(i - 3)) {
          return false;
        }
        c.markers.push_back(i);
        i += 2;
      } else if (st_.IsWordIn(i + 1, {"SELECT", "WITH"})) {
        i = st_.Match(i);
      }
    }
    return true;
  }

  // The outer tables in the order they can be joined: each after every other outer table its
  // predicates name, otherwise in FROM order. Empty when that is impossible (a cycle, or every
  // table outer-joined).
  std::vector<std::size_t> JoinOrder(
      const std::vector<FromItem>& items, const std::vector<Conjunct>& conjuncts,
      const std::vector<std::vector<std::size_t>>& joined_on,
      const std::unordered_map<std::string, std::size_t>& by_key) const {
    std::size_t outer = 0;
    std::vector<std::vector<std::size_t>> needs(items.size());
    for (std::size_t t = 0; t < items.size(); ++t) {
      if (joined_on[t].empty()) continue;
      ++outer;
      for (std::size_t c : joined_on[t]) {
        for (std::size_t i = conjuncts[c].first; i + 2 < conjuncts[c].end; ++i) {
          if (!st_.IsName(i) || !st_.Is(i + 1, Kind::kDot) || !st_.IsName(i + 2)) continue;
          const auto it = by_key.find(st_.Name(i));
          if (it == by_key.end() || it->second == kNone || it->second == t) continue;
          if (!joined_on[it->second].empty()) needs[t].push_back(it->second);
        }
      }
    }
    if (outer == 0 || outer == items.size()) return {};
    std::vector<std::size_t> order;
    std::vector<bool> placed(items.size(), false);
    while (order.size() < outer) {
      bool progress = false;
      for (std::size_t t = 0; t < items.size(); ++t) {
        if (joined_on[t].empty() || placed[t]) continue;
        bool ready = true;
        for (std::size_t n : needs[t]) ready = ready && placed[n];
        if (!ready) continue;
        placed[t] = true;
        order.push_back(t);
        progress = true;
      }
      if (!progress) return {};
    }
    return order;
  }

  const Statement& st_;
  Edits& edits_;
  Dialect dialect_;
};

// ---------------------------------------------------------------------------------------------
// Text compared with a number

// Words that end an operand of a comparison, on either side.
bool EndsOperand(const Statement& st, std::size_t i) {
  return st.Is(i, Kind::kComma) || st.Is(i, Kind::kSemicolon) || st.IsComparison(i) ||
         st.IsWordIn(i,
                     {"AND",    "OR",     "NOT",    "WHERE",     "ON",    "HAVING",    "WHEN",
                      "THEN",   "ELSE",   "SELECT", "SET",       "GROUP", "ORDER",     "LIMIT",
                      "UNION",  "EXCEPT", "MINUS",  "INTERSECT", "FROM",  "AS",        "INTO",
                      "VALUES", "BY",     "IS",     "LIKE",      "IN",    "BETWEEN",   "ESCAPE",
                      "ASC",    "DESC",   "NULLS",  "OFFSET",    "FETCH", "FOR",       "CONNECT",
                      "START",  "JOIN",   "USING",  "DISTINCT",  "ALL",   "RETURNING", "COLLATE"});
}

// First token of the operand that ends just before `op`.
std::size_t OperandBefore(const Statement& st, std::size_t op) {
  std::size_t i = op;
  while (i > 0) {
    const std::size_t prev = i - 1;
    if (st.Is(prev, Kind::kClose) || (st.IsWord(prev, "END") && st.Match(prev) != kNone)) {
      i = st.Match(prev);
    } else if (st.Is(prev, Kind::kOpen) || EndsOperand(st, prev)) {
      break;
    } else {
      i = prev;
    }
  }
  return i;
}

// One past the last token of the operand that starts just after `op`.
std::size_t OperandAfter(const Statement& st, std::size_t op) {
  std::size_t i = op + 1;
  while (i < st.size() && !st.Is(i, Kind::kClose) && !EndsOperand(st, i)) i = st.Step(i);
  return i;
}

bool IsBareNumber(const Statement& st, std::size_t first, std::size_t end) {
  if (end == first + 1) return st.Is(first, Kind::kNumber);
  return end == first + 2 && (st.IsOperator(first, "-") || st.IsOperator(first, "+")) &&
         st.Is(first + 1, Kind::kNumber);
}

bool HasTopLevelConcat(const Statement& st, std::size_t first, std::size_t end) {
  for (std::size_t i = first; i < end; i = st.Step(i)) {
    if (st.IsOperator(i, "||")) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Concatenation

// The columns of every select list in the statement, as [first, last] token ranges.
std::vector<std::pair<std::size_t, std::size_t>> SelectColumns(const Statement& st) {
  std::vector<std::pair<std::size_t, std::size_t>> columns;
  for (std::size_t s = 0; s < st.size(); ++s) {
    if (!st.IsWord(s, "SELECT")) continue;
    std::size_t first = s + 1;
    while (st.IsWordIn(first, {"DISTINCT", "ALL", "UNIQUE"})) ++first;
    for (std::size_t i = first;; i = st.Step(i)) {
      const bool list_ends =
          i >= st.size() || st.Is(i, Kind::kClose) || st.Is(i, Kind::kSemicolon) ||
          st.IsWordIn(i, {"FROM", "INTO", "UNION", "INTERSECT", "EXCEPT", "MINUS"});
      if (!list_ends && !st.Is(i, Kind::kComma)) continue;
      if (i > first) columns.emplace_back(first, i - 1);
      if (list_ends) break;
      first = i + 1;
    }
  }
  return columns;
}

// Whether the expression [first, last] ends in an alias written without AS ("SUM(x) dblAmount").
bool EndsInBareAlias(const Statement& st, std::size_t first, std::size_t last) {
  if (last == first || !st.IsName(last) || EndsOperand(st, last)) return false;
  if (st.IsWord(last, "END") && st.Match(last) != kNone) return false;
  const std::size_t prev = last - 1;
  if (st.IsWord(prev, "END")) return st.Match(prev) != kNone;
  return st.Is(prev, Kind::kClose) || st.Is(prev, Kind::kString) || st.Is(prev, Kind::kNumber) ||
         (st.IsName(prev) && !EndsOperand(st, prev));
}

bool HasAlias(const Statement& st, std::size_t first, std::size_t last) {
  return (last > first && st.IsWord(last - 1, "AS") && st.IsName(last)) ||
         EndsInBareAlias(st, first, last);
}

// Text Oracle can never take for null: a non-empty string literal or a number.
bool IsNeverNull(const Statement& st, std::size_t first, std::size_t end) {
  if (end != first + 1) return false;
  return st.Is(first, Kind::kNumber) || (st.Is(first, Kind::kString) && st.Text(first) != "''");
}

// A chain this rule has written already: every term a literal or IFNULL(...) (Oracle has no
// IFNULL, so the host never writes one).
bool AlreadyOracleConcat(const Statement& st,
                         const std::vector<std::pair<std::size_t, std::size_t>>& terms) {
  for (const auto& [first, end] : terms) {
    const bool wrapped = st.IsWord(first, "IFNULL") && st.Is(first + 1, Kind::kOpen) &&
                         st.Match(first + 1) == end - 1;
    if (!wrapped && !IsNeverNull(st, first, end)) return false;
  }
  return true;
}

// The name SQLite gives a select-list column without alias: its text as written, up to the next
// token, without the blanks at its end.
std::string ColumnText(const std::string& sql, const Statement& st, std::size_t first,
                       std::size_t last) {
  const std::size_t end = last + 1 < st.size() ? st.token(last + 1).begin : sql.size();
  std::string text = sql.substr(st.token(first).begin, end - st.token(first).begin);
  while (!text.empty() && IsSpace(text.back())) text.pop_back();
  return text;
}

std::string QuoteName(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + '"';
}

// ---------------------------------------------------------------------------------------------
// Null ordering

// Ends the list of ORDER BY terms (besides the ")" closing the group around it).
bool EndsOrderBy(const Statement& st, std::size_t i, bool in_group) {
  if (st.Is(i, Kind::kSemicolon)) return true;
  if (st.IsWordIn(i, {"LIMIT", "FOR", "OFFSET", "FETCH", "UNION", "INTERSECT", "EXCEPT", "MINUS"}))
    return true;
  // A window's frame follows its ordering inside OVER (...).
  return in_group && st.IsWordIn(i, {"ROWS", "RANGE", "GROUPS"});
}

// ---------------------------------------------------------------------------------------------
// Function calls

struct Range {
  std::size_t first, end;  // tokens [first, end)
};

// A call of the built-in `name`: the word followed by "(", not qualified by a schema (someone's
// own function of that name is not ours to rewrite).
bool IsCall(const Statement& st, std::size_t i, std::string_view name) {
  return st.IsWord(i, name) && st.Is(i + 1, Kind::kOpen) && st.Match(i + 1) != kNone &&
         !(i > 0 && st.Is(i - 1, Kind::kDot));
}

// The arguments of the call whose "(" is at `open`, split at its top-level commas. An empty
// argument list gives no argument.
std::vector<Range> Arguments(const Statement& st, std::size_t open) {
  std::vector<Range> args;
  const std::size_t close = st.Match(open);
  if (close == open + 1) return args;
  std::size_t first = open + 1;
  for (std::size_t i = first; i <= close; i = i == close ? i + 1 : st.Step(i)) {
    if (i < close && !st.Is(i, Kind::kComma)) continue;
    args.push_back({first, i});
    first = i + 1;
  }
  return args;
}

// NULL, or the empty text, which Oracle holds as null.
bool IsNullLiteral(const Statement& st, std::size_t first, std::size_t end) {
  return end == first + 1 &&
         (st.IsWord(first, "NULL") || (st.Is(first, Kind::kString) && st.Text(first) == "''"));
}

bool IsLiteral(const Statement& st, std::size_t first, std::size_t end) {
  return IsBareNumber(st, first, end) || (end == first + 1 && st.Is(first, Kind::kString));
}

// A select-list column that is a plain column reference: name, a.name, a.b.name, * or a.*.
bool IsColumnReference(const Statement& st, std::size_t first, std::size_t last) {
  for (std::size_t i = first; i <= last; ++i) {
    const bool even = (i - first) % 2 == 0;
    const bool ok =
        even ? st.IsName(i) || (i == last && st.IsOperator(i, "*")) : st.Is(i, Kind::kDot);
    if (!ok) return false;
  }
  return (last - first) % 2 == 0;
}

}  // namespace

std::string DropNologging(const std::string& sql) {
  const Statement st(sql);
  Edits edits(st);
  for (std::size_t i = 0; i + 1 < st.size(); ++i) {
    if (!(st.IsWord(i, "DELETE") && st.IsWord(i + 1, "FROM")) &&
        !(st.IsWord(i, "INSERT") && st.IsWord(i + 1, "INTO"))) {
      continue;
    }
    std::size_t j = i + 2;
    if (!st.IsName(j)) continue;
    ++j;
    while (st.Is(j, Kind::kDot) && st.IsName(j + 1)) j += 2;
    if (st.IsWord(j, "NOLOGGING")) edits.Drop(j);
  }
  return edits.Render();
}

std::string RewriteOuterJoins(const std::string& sql, Dialect dialect) {
  const Statement st(sql);
  if (!st.balanced()) return sql;
  Edits edits(st);
  OuterJoins(st, edits, dialect).Range(0, st.size());
  return edits.Render();
}

std::string StripOwner(const std::string& sql, const std::string& owner) {
  if (owner.empty()) return sql;
  const Statement st(sql);
  Edits edits(st);
  const std::string wanted = UpperAscii(owner);
  for (std::size_t i = 0; i + 2 < st.size(); ++i) {
    if (!st.IsName(i) || !st.Is(i + 1, Kind::kDot) || !st.IsName(i + 2)) continue;
    if (i > 0 && st.Is(i - 1, Kind::kDot)) continue;  // a name in the middle of a.b.c
    if (UpperAscii(st.Name(i)) != wanted) continue;
    // OWNER.OWNER.x names a table called like its owner; stripped once, it would read as the
    // owner's qualifier again. Such a chain is left as written.
    if (st.Is(i + 3, Kind::kDot) && UpperAscii(st.Name(i + 2)) == wanted) continue;
    edits.Erase(i);
    edits.Drop(i + 1);
  }
  return edits.Render();
}

std::string CompareTextWithNumber(const std::string& sql, Dialect dialect) {
  const Statement st(sql);
  if (!st.balanced()) return sql;
  Edits edits(st);
  for (std::size_t op = 0; op < st.size(); ++op) {
    if (!st.IsComparison(op)) continue;
    const std::size_t left = OperandBefore(st, op);
    const std::size_t right_end = OperandAfter(st, op);
    if (left == op || right_end == op + 1) continue;
    std::size_t first = kNone;
    std::size_t last = kNone;
    if (IsBareNumber(st, op + 1, right_end) && HasTopLevelConcat(st, left, op)) {
      first = left;
      last = op - 1;
    } else if (IsBareNumber(st, left, op) && HasTopLevelConcat(st, op + 1, right_end)) {
      first = op + 1;
      last = right_end - 1;
    }
    if (first == kNone) continue;
    edits.Prepend(first, "CAST(");
    edits.Append(last, dialect == Dialect::kPostgres ? " AS NUMERIC)" : " AS REAL)");
  }
  return edits.Render();
}

std::string OracleConcatenation(const std::string& sql, Dialect dialect) {
  const Statement st(sql);
  if (!st.balanced()) return sql;
  Edits edits(st);
  std::vector<bool> done(st.size(), false);     // the || of chains already handled
  std::vector<bool> changed(st.size(), false);  // tokens that got text around them
  for (std::size_t op = 0; op < st.size(); ++op) {
    if (!st.IsOperator(op, "||") || done[op]) continue;
    const std::size_t first = OperandBefore(st, op);
    std::size_t end = OperandAfter(st, op);
    if (EndsInBareAlias(st, first, end - 1)) --end;

    // The chain's terms, split at its top-level ||.
    std::vector<std::pair<std::size_t, std::size_t>> terms;
    std::size_t term = first;
    for (std::size_t i = first; i <= end; i = i == end ? i + 1 : st.Step(i)) {
      if (i < end && !st.IsOperator(i, "||")) continue;
      terms.emplace_back(term, i);
      if (i < end) done[i] = true;
      term = i + 1;
    }
    // Oracle gives || the rank of + and -, SQLite ranks it above them: a + or - after the first
    // term would be grouped differently, so such a chain is left as it stands.
    bool plain = true;
    for (std::size_t t = 0; t < terms.size(); ++t) {
      const auto [tf, te] = terms[t];
      plain = plain && te > tf;
      for (std::size_t k = st.Step(tf); t > 0 && k < te; k = st.Step(k)) {
        plain = plain && !st.IsOperator(k, "+") && !st.IsOperator(k, "-");
      }
    }
    if (!plain || AlreadyOracleConcat(st, terms)) continue;

    bool never_null = false;
    for (const auto& [tf, te] : terms) {
      changed[tf] = changed[te - 1] = true;
      if (IsNeverNull(st, tf, te)) {
        never_null = true;
      } else if (dialect == Dialect::kSqlite) {
        edits.Prepend(tf, "IFNULL(");
        edits.Append(te - 1, ",'')");
      }
    }
    if (dialect == Dialect::kPostgres) {
      for (std::size_t t = 1; t < terms.size(); ++t) {
        const std::size_t bar = terms[t].first - 1;
        edits.Erase(bar);
        edits.Prepend(bar, ",");
      }
      edits.Prepend(first, "CONCAT(");
      edits.Append(end - 1, ")");
    }
    if (!never_null) {
      edits.Prepend(first, "NULLIF(");
      edits.Append(end - 1, ",'')");
    }
  }
  // Callers read columns by the names SQLite makes of their text; a changed column keeps its name.
  for (const auto& [first, last] : SelectColumns(st)) {
    if (HasAlias(st, first, last)) continue;
    bool touched = false;
    for (std::size_t i = first; i <= last && !touched; ++i) touched = changed[i];
    if (touched) edits.Append(last, " AS " + QuoteName(ColumnText(sql, st, first, last)));
  }
  return edits.Render();
}

std::string OracleNullOrdering(const std::string& sql) {
  const Statement st(sql);
  if (!st.balanced()) return sql;
  Edits edits(st);
  for (std::size_t order = 0; order + 1 < st.size(); ++order) {
    if (!st.IsWord(order, "ORDER") || !st.IsWord(order + 1, "BY")) continue;
    const bool in_group = st.Depth(order) > 0;
    std::size_t term = order + 2;
    for (std::size_t i = term;; i = st.Step(i)) {
      const bool list_ends =
          i >= st.size() || st.Is(i, Kind::kClose) || EndsOrderBy(st, i, in_group);
      if (!list_ends && !st.Is(i, Kind::kComma)) continue;
      bool says_nulls = i == term;  // an empty term gets nothing
      for (std::size_t k = term; k < i && !says_nulls; k = st.Step(k)) {
        says_nulls = st.IsWord(k, "NULLS");
      }
      if (!says_nulls) {
        edits.Append(i - 1, st.IsWord(i - 1, "DESC") ? " NULLS FIRST" : " NULLS LAST");
      }
      if (list_ends) break;
      term = i + 1;
    }
  }
  return edits.Render();
}

std::string DecodeToCase(const std::string& sql) {
  const Statement st(sql);
  if (!st.balanced()) return sql;
  Edits edits(st);
  // From the last DECODE back: one that starts later is inside an earlier one or after it, so
  // every argument's text already holds its own rewriting when its DECODE is rewritten.
  for (std::size_t d = st.size(); d-- > 0;) {
    if (!IsCall(st, d, "DECODE")) continue;
    const std::vector<Range> args = Arguments(st, d + 1);
    if (args.size() < 3) continue;
    const std::string key = "(" + edits.Span(args[0].first, args[0].end - 1) + ")";
    std::string text = "CASE";
    std::size_t a = 1;
    for (; a + 1 < args.size(); a += 2) {
      const Range search = args[a];
      const std::string value = edits.Span(search.first, search.end - 1);
      if (IsNullLiteral(st, search.first, search.end)) {
        text += " WHEN " + key + " IS NULL";
      } else if (IsLiteral(st, search.first, search.end)) {
        text += " WHEN " + key + "=" + value;
      } else {
        text += " WHEN " + key + " IS NOT DISTINCT FROM (" + value + ")";
      }
      text += " THEN " + edits.Span(args[a + 1].first, args[a + 1].end - 1);
    }
    if (a < args.size()) text += " ELSE " + edits.Span(args[a].first, args[a].end - 1);
    edits.Replace(d, st.Match(d + 1), text + " END");
  }
  return edits.Render();
}

std::string BinaryTextOrder(const std::string& sql, Dialect dialect) {
  const Statement st(sql);
  if (!st.balanced()) return sql;
  Edits edits(st);
  // From the last call back, as DECODE: an NLSSORT inside another's argument is rewritten first.
  for (std::size_t n = st.size(); n-- > 0;) {
    if (!IsCall(st, n, "NLSSORT")) continue;
    const std::vector<Range> args = Arguments(st, n + 1);
    if (args.size() != 2 || args[1].end != args[1].first + 1 ||
        !st.Is(args[1].first, Kind::kString))
      continue;
    std::string sort;
    for (char c : st.Text(args[1].first)) {
      if (c != '\'' && !IsSpace(c)) sort += c;
    }
    if (UpperAscii(sort) != "NLS_SORT=BINARY") continue;
    const std::string text = edits.Span(args[0].first, args[0].end - 1);
    edits.Replace(n, st.Match(n + 1),
                  "(" + text + (dialect == Dialect::kPostgres ? ") COLLATE \"C\"" : ")"));
  }
  return edits.Render();
}

std::string NvlToCoalesce(const std::string& sql) {
  const Statement st(sql);
  Edits edits(st);
  for (std::size_t i = 0; i < st.size(); ++i) {
    if (!IsCall(st, i, "NVL")) continue;
    edits.Erase(i);
    edits.Prepend(i, "COALESCE");
  }
  return edits.Render();
}

std::string DropFromDual(const std::string& sql) {
  const Statement st(sql);
  Edits edits(st);
  for (std::size_t i = 0; i + 1 < st.size(); ++i) {
    if (!st.IsWord(i, "FROM") || !st.IsWord(i + 1, "DUAL")) continue;
    const std::size_t next = i + 2;
    // Only the bare table: DUAL.x, or an alias after it, is somebody's own table.
    if (next < st.size() && !st.Is(next, Kind::kClose) && !st.Is(next, Kind::kSemicolon) &&
        !st.IsWordIn(
            next, {"WHERE", "GROUP", "HAVING", "ORDER", "UNION", "INTERSECT", "MINUS", "EXCEPT"})) {
      continue;
    }
    edits.Drop(i);
    edits.Drop(i + 1);
  }
  return edits.Render();
}

std::string NameExpressionColumns(const std::string& sql, LongNames* long_names) {
  const Statement st(sql);
  if (!st.balanced()) return sql;
  Edits edits(st);
  for (const auto& [first, last] : SelectColumns(st)) {
    if (HasAlias(st, first, last) || IsColumnReference(st, first, last)) continue;
    // PostgreSQL keeps 63 bytes of a name and warns about the rest; cut it here, whole
    // characters only, so that the statement runs without a notice.
    std::string name = UpperAscii(ColumnText(sql, st, first, last));
    if (name.size() > kMaxPostgresName && long_names != nullptr) {
      std::string label = "TV_NAME_" + std::to_string(long_names->size() + 1);
      long_names->emplace_back(label, std::move(name));
      name = std::move(label);
    } else if (name.size() > kMaxPostgresName) {
      std::size_t cut = kMaxPostgresName;
      while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
      name.resize(cut);
    }
    edits.Append(last, " AS " + QuoteName(name));
  }
  return edits.Render();
}

std::string TranslateOracle(const std::string& sql, const std::string& owner) {
  // A rule may write behind the last token (an alias after the last column); when that token is
  // a string, name or comment left open, the addition would land inside it.
  if (EndsInsideQuoteOrComment(sql)) return sql;
  // Each rule reads the statement token by token; one whose word or operator the text does not
  // hold anywhere (literals and comments included) has nothing to change and is not run. The
  // program sends thousands of small statements a registration, most of which need no rule.
  const std::string upper = UpperAscii(sql);
  const auto holds = [&upper](std::string_view word) {
    return upper.find(word) != std::string::npos;
  };
  std::string out = !owner.empty() && holds(UpperAscii(owner)) ? StripOwner(sql, owner) : sql;
  if (holds("NOLOGGING")) out = DropNologging(out);
  if (holds("DUAL")) out = DropFromDual(out);
  if (HoldsOuterJoinMark(upper)) out = RewriteOuterJoins(out);
  if (holds("||")) out = OracleConcatenation(CompareTextWithNumber(out));
  if (holds("ORDER")) out = OracleNullOrdering(out);
  if (holds("NLSSORT")) out = BinaryTextOrder(out, Dialect::kSqlite);
  return out;
}

std::string TranslateForPostgres(const std::string& sql, LongNames* long_names) {
  std::string out = NameExpressionColumns(sql, long_names);
  out = RewriteOuterJoins(DropFromDual(DropNologging(out)), Dialect::kPostgres);
  out = OracleConcatenation(CompareTextWithNumber(out, Dialect::kPostgres), Dialect::kPostgres);
  return BinaryTextOrder(DecodeToCase(NvlToCoalesce(out)), Dialect::kPostgres);
}

bool IsSavepointRelease(const std::string& sql) {
  const Statement st(sql);
  std::size_t i = 0;
  if (!st.IsWord(i++, "RELEASE")) return false;
  if (st.IsWord(i, "SAVEPOINT") && st.IsName(i + 1)) ++i;
  if (!st.IsName(i++)) return false;
  if (st.Is(i, Kind::kSemicolon)) ++i;
  return i == st.size();
}

std::optional<StatementShape> LiteralsAsParameters(const std::string& sql) {
  StatementShape out;
  out.shape.reserve(sql.size());
  bool firstWord = true;
  std::size_t i = 0;
  const std::size_t n = sql.size();
  while (i < n) {
    const char c = sql[i];
    if (c == '\'') {
      // A blob literal X'..' has no text form to bind.
      if (i > 0 && (sql[i - 1] == 'x' || sql[i - 1] == 'X')) return std::nullopt;
      std::string value;
      std::size_t j = i + 1;
      for (;; ++j) {
        if (j >= n) return std::nullopt;  // a literal left open: prepared as written, to fail
        if (sql[j] != '\'') {
          value += sql[j];
        } else if (j + 1 < n && sql[j + 1] == '\'') {
          value += '\'';
          ++j;
        } else {
          break;
        }
      }
      out.literals.push_back({true, std::move(value)});
      out.shape += '?';
      i = j + 1;
    } else if (c == '"') {
      const std::size_t close = sql.find('"', i + 1);
      if (close == std::string::npos) return std::nullopt;
      out.shape.append(sql, i, close + 1 - i);
      i = close + 1;
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      const std::size_t end = std::min(n, sql.find('\n', i));
      out.shape.append(sql, i, end - i);
      i = end;
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      const std::size_t close = sql.find("*/", i + 2);
      if (close == std::string::npos) return std::nullopt;
      out.shape.append(sql, i, close + 2 - i);
      i = close + 2;
    } else if (IsNameStart(c)) {
      std::size_t j = i;
      while (j < n && IsNameChar(sql[j])) ++j;
      const std::string_view word(sql.data() + i, j - i);
      if (firstWord && !EqualsIgnoringAsciiCase(word, "UPDATE") &&
          !EqualsIgnoringAsciiCase(word, "DELETE")) {
        return std::nullopt;
      }
      if (EqualsIgnoringAsciiCase(word, "SELECT")) return std::nullopt;
      firstWord = false;
      out.shape.append(word);
      i = j;
    } else if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(sql[i + 1]))) {
      std::size_t j = i;
      while (j < n && IsDigit(sql[j])) ++j;
      if (j < n && sql[j] == '.') {
        ++j;
        while (j < n && IsDigit(sql[j])) ++j;
      }
      if (j < n && (sql[j] == 'e' || sql[j] == 'E')) {
        std::size_t k = j + 1;
        if (k < n && (sql[k] == '+' || sql[k] == '-')) ++k;
        if (k < n && IsDigit(sql[k])) {
          while (k < n && IsDigit(sql[k])) ++k;
          j = k;
        }
      }
      if (j < n && IsNameChar(sql[j])) return std::nullopt;  // not a number after all
      out.literals.push_back({false, sql.substr(i, j - i)});
      out.shape += '?';
      i = j;
    } else if (c == '?' || c == ':' || c == '@' || c == '$') {
      return std::nullopt;  // parameters of the statement's own
    } else {
      out.shape += c;
      ++i;
    }
  }
  if (firstWord) return std::nullopt;
  return out;
}

bool IsTableLock(const std::string& sql) {
  // Asked of every statement a SQLite connection runs: most are told apart by their first word.
  const std::size_t start = sql.find_first_not_of(" \t\r\n");
  if (start == std::string::npos || (sql[start] != 'L' && sql[start] != 'l')) return false;
  const Statement st(sql);
  std::size_t i = 0;
  if (!st.IsWord(i++, "LOCK") || !st.IsWord(i++, "TABLE")) return false;
  for (; i < st.size(); ++i) {
    if (st.IsWord(i, "MODE"))
      return i + 1 == st.size() || (i + 2 == st.size() && st.Is(i + 1, Kind::kSemicolon));
  }
  return false;
}

std::string Translate(Dialect dialect, const std::string& sql, const std::string& owner) {
  return dialect == Dialect::kPostgres ? TranslateForPostgres(sql) : TranslateOracle(sql, owner);
}

}  // namespace tallyvet::db::sql
