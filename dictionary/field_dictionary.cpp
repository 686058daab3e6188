#include "dictionary/field_dictionary.h"

#include <array>
#include <limits>
#include <optional>
#include <utility>

#include "db/error.h"
#include "db/recordset.h"
#include "db/text.h"

namespace tallyvet {

namespace {

struct IdColumn {
  const char* column;
  const char* table;
  const char* code_column;  // null: the value is named by VoucherSourceName, not looked up
};

// Id column -> master table -> code column. Organization is reached from two id columns and is
// registered once; Enum has no code column.
constexpr std::array<IdColumn, 22> kIdColumns = {{
    {"lngItemID", "Item", "strItemCode"},
    {"lngCustomID0", "Custom0", "strCustomCode"},
    {"lngCustomID1", "Custom1", "strCustomCode"},
    {"lngCustomID2", "Custom2", "strCustomCode"},
    {"lngCustomID3", "Custom3", "strCustomCode"},
    {"lngCustomID4", "Custom4", "strCustomCode"},
    {"lngCustomID5", "Custom5", "strCustomCode"},
    {"lngPositionID", "Position", "strPositionCode"},
    {"lngPositionGroupID", "PositionGroup", "strPositionGroupCode"},
    {"lngOrganizationID", "Organization", "strOrganizationCode"},
    {"lngSourceOrganizationID", "Organization", "strOrganizationCode"},
    {"lngCustomerID", "Customer", "strCustomerCode"},
    {"lngDepartmentID", "Department", "strDepartmentCode"},
    {"lngEmployeeID", "Employee", "strEmployeeCode"},
    {"lngClassID1", "Class1", "strClassCode"},
    {"lngClassID2", "Class2", "strClassCode"},
    {"lngJobID", "Job", "strJobCode"},
    {"lngAccountID", "Account", "strAccountCode"},
    {"lngCurrencyID", "Currencys", "strCurrencyCode"},
    {"lngVoucherTypeID", "VoucherType", "strVoucherTypeName"},
    {"lngVoucherSourceID", "Enum", nullptr},
    {"lngReceiptTypeID", "ReceiptType", "strReceiptTypeName"},
}};

struct CaptionEntry {
  const char* column;
  const char* caption;
};

// Captions in registration order. Some captions serve two columns, and the mix of full-width and
// half-width parentheses (and one trailing blank) is what users know: keep them byte for byte.
constexpr std::array<CaptionEntry, 151> kCaptions = {{
    {"lngItemID", "商品"},
    {"lngCustomID0", "自定项目0"},
    {"lngCustomID1", "自定项目1"},
    {"lngCustomID2", "自定项目2"},
    {"lngCustomID3", "自定项目3"},
    {"lngCustomID4", "自定项目4"},
    {"lngCustomID5", "自定项目5"},
    {"lngPositionGroupID", "成本计算组"},
    {"lngOrganizationID", "组织机构"},
    {"lngCustomerID", "客户"},
    {"lngDepartmentID", "部门"},
    {"lngEmployeeID", "职员"},
    {"lngClassID1", "统计"},
    {"lngClassID2", "项目"},
    {"strDate", "日期"},
    {"strProduceNum", "批号"},
    {"lngJobID", "工程"},
    {"dblDirectPurchaseQuantity", "直运采购数量"},
    {"dblDirectPurchaseQuantityAux", "直运采购数量(辅)"},
    {"dblDirectPurchaseAmount", "直运采购金额"},
    {"dblPurchaseQuantity", "采购/受托入库数量"},
    {"dblPurchaseQuantityAux", "采购/受托入库数量(辅)"},
    {"dblPurchaseAmount", "采购/受托入库金额"},
    {"dblPurchaseExpense", "采购费用"},
    {"dblPurchaseDiffDebit", "采购/受托入库差异借方"},
    {"dblPurchaseSaleTaxDebit", "采购/受托入库待实现销项税借方"},
    {"dblPurchaseDiffCredit", "采购/受托入库差异贷方"},
    {"dblPurchaseSaleTaxCredit", "采购/受托入库待实现销项税贷方"},
    {"dblBorrowPurchaseQuantity", "受托代销结算数量"},
    {"dblBorrowPurchaseQuantityAux", "受托代销结算数量(辅)"},
    {"dblBorrowPurchaseAmount", "受托代销结算金额"},
    {"dblEntrustInQuantity", "加工入库数量"},
    {"dblEntrustInQuantityAux", "加工入库数量(辅)"},
    {"dblEntrustInAmount", "加工入库金额"},
    {"dblEntrustExpense", "加工费用"},
    {"dblInQuantity", "内部入库数量"},
    {"dblInQuantityAux", "内部入库数量(辅)"},
    {"dblInAmount", "内部入库金额(手工)"},
    {"dblCostInAmount", "内部入库金额(成本计算)"},
    {"dblCheckUpQuantity", "盘赢数量"},
    {"dblCheckUpQuantityAux", "盘赢数量(辅)"},
    {"dblCheckUpAmount", "盘赢金额"},
    {"dblAdjPriceAdd", "调价调高金额"},
    {"dblAdjPriceAddSaleTax", "调价调高金额待实现销项税"},
    {"dblInDiffDebit", "入库差异借方"},
    {"dblInSaleTaxDebit", "入库待实现销项税借方"},
    {"dblInDiffCredit", "入库差异贷方"},
    {"dblInSaleTaxCredit", "入库待实现销项税贷方"},
    {"dblCostInDiffDebit", "成本计算入库差异借方"},
    {"dblCostInSaleTaxDebit", "成本计算入库待实现销项税借方"},
    {"dblCostInDiffCredit", "成本计算入库差异贷方"},
    {"dblCostInSaleTaxCredit", "成本计算入库待实现销项税贷方"},
    {"dblDirectSaleQuantity", "直运销售数量"},
    {"dblDirectSaleQuantityAux", "直运销售数量(辅)"},
    {"dblDirectSaleAmount", "直运销售金额"},
    {"dblDirectSaleCost", "直运销售成本"},
    {"dblSaleQuantity", "销售数量"},
    {"dblSaleQuantityAux", "销售数量(辅)"},
    {"dblSaleAmount", "销售金额"},
    {"dblSaleCost", "销售成本"},
    {"dblSaleCostDiff", "销售差异"},
    {"dblSaleCostSaleTax", "销售待实现销项税"},
    {"dblLendQuantity", "委托出库数量"},
    {"dblLendQuantityAux", "委托出库数量(辅)"},
    {"dblLendAmount", "委托出库金额"},
    {"dblLendCost", "委托出库成本"},
    {"dblLendCostDiff", "委托出库差异"},
    {"dblLendCostSaleTax", "委托出库待实现销项税"},
    {"dblLendSaleQuantity", "委托结算数量"},
    {"dblLendSaleQuantityAux", "委托结算数量"},
    {"dblLendSaleCost", "委托结算成本"},
    {"dblStageQuantity", "分期出库数量"},
    {"dblStageQuantityAux", "分期出库数量(辅)"},
    {"dblStageAmount", "分期出库金额"},
    {"dblStageCost", "分期出库成本"},
    {"dblStageCostDiff", "分期出库差异"},
    {"dblStageCostSaleTax", "分期出库待实现销项税"},
    {"dblStageSaleQuantity", "分期结算数量"},
    {"dblStageSaleQuantityAux", "分期结算数量(辅)"},
    {"dblStageSaleAmount", "分期结算金额"},
    {"dblStageSaleCost", "分期结算成本"},
    {"dblEntrustOutQuantity", "加工出库数量"},
    {"dblEntrustOutQuantityAux", "加工出库数量(辅)"},
    {"dblEntrustOutAmount", "加工出库金额"},
    {"dblOutQuantity", "内部出库数量"},
    {"dblOutQuantityAux", "内部出库数量(辅)"},
    {"dblOutAmount", "内部出库金额"},
    {"dblCheckDownQuantity", "盘亏数量"},
    {"dblCheckDownQuantityAux", "盘亏数量(辅)"},
    {"dblCheckDownAmount", "盘亏金额"},
    {"dblAdjPriceDec", "调价调低金额"},
    {"dblAdjPriceDecSaleTax", "调价调低金额待实现销项税"},
    {"dblCostAdj", "手工成本调整"},
    {"dblCostCostAdj", "成本计算成本调整"},
    {"dblCostOutDiff", "成本计算出库差异"},
    {"dblCostOutSaleTax", "成本计算出库待实现销项税"},
    {"dblBorrowQuantity", "受托入库数量"},
    {"dblBorrowQuantityAux", "受托入库数量（辅）"},
    {"dblBorrowAmount", "受托入库金额"},
    {"dblBorrowTax", "受托入库税金"},
    {"dblBorrowPurchaseTax", "受托代销结算税金"},
    {"dblLendTax", "委托代销出库税金"},
    {"dblLendSaleAmount", "委托代销结算金额"},
    {"dblLendSaleTax", "委托代销结算税金"},
    {"dblStageTax", "分期付款出库税金"},
    {"dblStageSaleTax", "分期付款结算税金"},
    {"lngPositionID", "货位ID"},
    {"dblPurchaseCtrlAmount", "采购/受托入库售价控制金额"},
    {"dblEntrustInCtrlAmount", "加工入库售价控制金额"},
    {"dblAdjInQuantity", "调入数量"},
    {"dblAdjInQuantityAux", "调入数量（辅）"},
    {"dblAdjInAmount", "调入金额"},
    {"dblAdjInCtrlAmount", "调入售价控制金额"},
    {"dblInCtrlAmount", "内部入库售价控制金额"},
    {"dblCheckUpCtrlAmount", "盘赢售价控制金额"},
    {"dblAdjPriceAddCtrl", "售价控制调价调高金额"},
    {"dblSaleCtrlAmount", "销售金额"},
    {"dblLendCtrlAmount", "委托出库售价控制金额"},
    {"dblStageCtrlAmount", "分期出库售价控制金额"},
    {"dblEntrustOutCtrlAmount", "加工出库售价控制金额"},
    {"dblAdjOutQuantity", "调出数量"},
    {"dblAdjOutQuantityAux", "调出数量（辅） "},
    {"dblAdjOutAmount", "调出金额"},
    {"dblAdjOutCtrlAmount", "调出售价控制金额"},
    {"dblOutCtrlAmount", "内部出库售价控制金额"},
    {"dblCheckDownCtrlAmount", "盘亏售价控制金额"},
    {"dblAdjPriceDecCtrl", "售价控制调价调低金额"},
    {"lngAccountID", "科目"},
    {"lngCurrencyID", "币种"},
    {"lngSourceOrganizationID", "来源机构"},
    {"dblUnVoucherDebit", "本币本期往来借方"},
    {"dblUnPostedDebit", "本币本期未记帐借方"},
    {"dblPostedDebit", "本币本期已记帐借方"},
    {"dblUnVoucherCredit", "本币本期往来贷方"},
    {"dblUnPostedCredit", "本币本期未记帐贷方"},
    {"dblPostedCredit", "本币本期已记帐贷方"},
    {"dblCurrencyUnVoucherDebit", "原币本期往来借方"},
    {"dblCurrencyUnPostedDebit", "原币本期未记帐借方"},
    {"dblCurrencyPostedDebit", "原币本期已记帐借方"},
    {"dblCurrencyUnVoucherCredit", "原币本期往来贷方"},
    {"dblCurrencyUnPostedCredit", "原币本期未记帐贷方"},
    {"dblCurrencyPostedCredit", "原币本期已记帐贷方"},
    {"dblQuantityUnVoucherDebit", "数量本期往来借方"},
    {"dblQuantityUnPostedDebit", "数量本期未记帐借方"},
    {"dblQuantityPostedDebit", "数量本期已记帐借方"},
    {"dblQuantityUnVoucherCredit", "数量本期往来贷方"},
    {"dblQuantityUnPostedCredit", "数量本期未记帐贷方"},
    {"dblQuantityPostedCredit", "数量本期已记帐贷方"},
    {"intVoucherNo", "记账凭证"},
    {"dblAmount", "金额"},
    {"lngVoucherSourceID", "凭证来源"},
}};

// The table whose ids are voucher sources, named by VoucherSourceName instead of a lookup.
constexpr std::string_view kEnumTable = "ENUM";

// "SELECT strItemCode FROM ITEM WHERE lngItemID=15": no quoting, the id is a bare number.
std::string CodeLookupSql(std::string_view code_column, std::string_view table,
                          std::string_view field_name, std::string_view id_text) {
  std::string sql = "SELECT ";
  sql += code_column;
  sql += " FROM ";
  sql += table;
  sql += " WHERE ";
  sql += field_name;
  sql += "=";
  sql += id_text;
  return sql;
}

// The statement takes the id as a bare literal, so only a plain decimal number may go into it;
// a text value in a numeric field (which the host never hands out) must not become SQL.
bool IsPlainNumber(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  bool digits = false;
  bool point = false;
  for (; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      digits = true;
    } else if (text[i] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digits;
}

std::int16_t ToVoucherSourceId(const db::Value& value) {
  const std::int64_t id = value.AsInteger();
  // An id beyond 16 bits is no known source; narrowing it could alias one (65545 -> 9).
  if (id < std::numeric_limits<std::int16_t>::min() ||
      id > std::numeric_limits<std::int16_t>::max()) {
    return 0;
  }
  return static_cast<std::int16_t>(id);
}

}  // namespace

void KeyedCollection::Add(std::string_view key, std::string value) {
  std::string upper = db::UpperAscii(key);
  if (!map_.try_emplace(upper, std::move(value)).second) {
    throw DictionaryError(name_ + ": key '" + upper + "' is already present");
  }
  order_.push_back(std::move(upper));
}

const std::string& KeyedCollection::At(std::string_view key) const {
  if (const std::string* value = Find(key)) return *value;
  throw DictionaryError(name_ + ": no entry for key '" + db::UpperAscii(key) + "'");
}

const std::string* KeyedCollection::Find(std::string_view key) const {
  auto it = map_.find(db::UpperAscii(key));
  return it == map_.end() ? nullptr : &it->second;
}

void FieldDictionary::BuildFieldDictionary() {
  KeyedCollection field_table("FieldTableMap");
  KeyedCollection table_code("TableCodeFieldMap");
  KeyedCollection captions("FieldCaptionMap");
  for (const IdColumn& id : kIdColumns) field_table.Add(id.column, id.table);
  for (const IdColumn& id : kIdColumns) {
    if (id.code_column != nullptr && table_code.Find(id.table) == nullptr) {
      table_code.Add(id.table, id.code_column);
    }
  }
  for (const CaptionEntry& entry : kCaptions) captions.Add(entry.column, entry.caption);

  // Built aside and moved in, so a failed build leaves the previous dictionary as it was.
  FieldTableMap = std::move(field_table);
  TableCodeFieldMap = std::move(table_code);
  FieldCaptionMap = std::move(captions);
  CodeTextCache.emplace();
}

void FieldDictionary::Release() {
  FieldTableMap.reset();
  TableCodeFieldMap.reset();
  FieldCaptionMap.reset();
  CodeTextCache.reset();
}

void FieldDictionary::ResetCodeTextCache() {
  CodeTextCache.emplace();
}

void FieldDictionary::ReleaseCodeTextCache() {
  CodeTextCache.reset();
}

const std::string& FieldDictionary::Caption(std::string_view column) const {
  if (!FieldCaptionMap) throw DictionaryError("field dictionary is not built");
  return FieldCaptionMap->At(column);
}

db::Value FieldDictionary::GetFieldText(db::Connection& conn, const db::Field& field,
                                        std::string& fieldName) {
  const int type = field.Type();
  if (type == db::adVarChar || type == db::adChar) return field.Value();

  if (fieldName.empty()) fieldName = field.Name();

  if (!FieldTableMap || !TableCodeFieldMap) {
    throw DictionaryError("field dictionary is not built");
  }
  const std::string table = db::UpperAscii(FieldTableMap->At(fieldName));
  const db::Value value = field.Value();
  if (table == kEnumTable) return VoucherSourceName(ToVoucherSourceId(value));

  const std::string& code_column = TableCodeFieldMap->At(table);

  // From here on nothing is reported to the caller: a lookup that cannot be made shows the id.
  const std::string id_text = value.AsText();
  const std::string cache_key = code_column + id_text;
  if (CodeTextCache) {
    auto it = CodeTextCache->find(cache_key);
    // A present entry answers even when its text is empty (a master row with an empty code),
    // so each id costs one query per build.
    if (it != CodeTextCache->end()) return it->second;
  }
  if (value.IsNull() || value.AsDouble() <= 0) return std::string();
  if (!value.IsNumber() && !IsPlainNumber(id_text)) return value;

  std::optional<std::string> code;
  try {
    auto rs = conn.OpenResultset(CodeLookupSql(code_column, table, fieldName, id_text), 3);
    if (!rs->Eof()) code = rs->Fields()[0].Value().AsText();
    rs->Close();
  } catch (const db::Error&) {
    // A lookup the database refuses (a missing master table or column) is not the caller's
    // concern: the raw id stands in for the code. It is not cached, so a later call retries
    // rather than freezing the failure for the rest of the run.
    return value;
  }
  // The cost adjustment may have released the cache; the lookup still answers, uncached.
  if (CodeTextCache) CodeTextCache->try_emplace(cache_key, code ? *code : id_text);
  // A missing master row shows the id itself, as the field holds it.
  if (!code) return value;
  return *code;
}

std::string VoucherSourceName(std::int16_t id) {
  switch (id) {
    case 9:
      return "采购";
    case 10:
      return "销售";
    case 11:
      return "库存";
    case 12:
      return "成本";
    default:
      return "手工";
  }
}

}  // namespace tallyvet
