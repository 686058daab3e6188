// The component's fixed vocabulary for the host schema: which master table and code column an id
// column points at, and the Chinese caption of every ledger and voucher column; plus GetFieldText,
// which turns an id read from the host into the code a user recognises, with a per-run cache.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"

namespace tallyvet {

// A missing or duplicate key in one of the dictionary's keyed collections, or a dictionary that
// is not built.
class DictionaryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A keyed collection of texts: keys are stored upper-cased and every lookup upper-cases its key
// (ASCII letters only, so Chinese text is unchanged). Adding a present key and reading an absent
// one throw DictionaryError naming the collection and the key.
class KeyedCollection {
 public:
  explicit KeyedCollection(std::string name) : name_(std::move(name)) {}
  void Add(std::string_view key, std::string value);
  const std::string& At(std::string_view key) const;
  const std::string* Find(std::string_view key) const;  // null when absent
  std::size_t Count() const { return map_.size(); }
  // Keys (upper-cased) in registration order.
  const std::vector<std::string>& Keys() const { return order_; }

 private:
  std::string name_;
  std::map<std::string, std::string, std::less<>> map_;
  std::vector<std::string> order_;
};

class FieldDictionary {
 public:
  // BuildFieldDictionary: the three maps and the code cache anew, entries in their fixed order.
  void BuildFieldDictionary();
  // All four members set to nothing; later lookups throw DictionaryError.
  void Release();
  bool IsBuilt() const { return FieldTableMap.has_value(); }

  // A new empty code cache / no cache at all (the cost adjustment's last phase).
  void ResetCodeTextCache();
  void ReleaseCodeTextCache();

  // GetFieldText(field, fieldName): the display text of a recordset field: a character field's own
  // value; for an id column the code of its master row (looked up once per distinct id between two
  // builds), the raw id when the master row is missing, empty for 0, null or negative ids; for the
  // voucher source its name. An empty fieldName is set to the field's name for the caller.
  // Throws DictionaryError when fieldName is not an id column (step 3) or its table has no code
  // column; a lookup query that fails is skipped, not raised.
  db::Value GetFieldText(db::Connection& conn, const db::Field& field, std::string& fieldName);

  // FieldCaptionMap at the upper-cased column name; throws DictionaryError when absent.
  const std::string& Caption(std::string_view column) const;

  std::optional<KeyedCollection> FieldTableMap;
  std::optional<KeyedCollection> TableCodeFieldMap;
  std::optional<KeyedCollection> FieldCaptionMap;
  std::optional<std::map<std::string, std::string>> CodeTextCache;
};

// 9 "采购", 10 "销售", 11 "库存", 12 "成本", anything else "手工".
std::string VoucherSourceName(std::int16_t id);

}  // namespace tallyvet
