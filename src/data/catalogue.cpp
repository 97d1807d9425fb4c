// The configuration items and the direct queries (procedures in db/sqlite/catalogue.sql):
// reading and writing items, the ACL network lists, and the fixed or free queries that run
// through SMS_EvaluateSQL, among them the connection test and the database's version.
#include <string_view>

#include "data/backend.hpp"
#include "data/data_handler.hpp"
#include "data/descriptors.hpp"

namespace talvex {

using namespace descriptor;

namespace {

std::vector<ParameterDescriptor> ItemName(const std::string& confCat, const std::string& confName) {
  return {Text("ConfCat", 255, confCat), Text("ConfName", 255, confName)};
}

// Whether the text reads as a number by the automation rules (the empty text does not).
bool IsNumber(const std::string& text) {
  if (text.empty()) return false;
  try {
    static_cast<void>(Variant(text).ToDouble());
    return true;
  } catch (const Failure&) {
    return false;
  }
}

}  // namespace

void DataHandler::TestConnection(const std::string& connection) {
  QueryOn(connection, data::kEvaluateSql, {Text("SQLString", 4096, "SELECT * FROM Configuration")});
}

std::string DataHandler::ReadConfItem(const std::string& confCat, const std::string& confName,
                                      const std::string& defaultValue) {
  try {
    const Recordset rows = Query("SMS_ReadConfItem", ItemName(confCat, confName));
    std::string value = rows.Fields("ConfValue").TextOrEmpty();
    return value.empty() ? defaultValue : value;
  } catch (const std::exception&) {
    // An item that cannot be read counts as one that is not set.
    return defaultValue;
  }
}

bool DataHandler::WriteConfItem(const std::string& confCat, const std::string& confName,
                                const std::string& confValue, bool noUpdate) {
  return ExecuteHandled("", "SMS_WriteConfItem",
                        {Text("ConfCat", 255, confCat),
                         Text("ConfName", 255, confName),
                         Text("ConfValue", 255, confValue),
                         {"NoUpdate", AdType::kSmallInt, 2, noUpdate}});
}

bool DataHandler::UpdateConfItem(const std::string& confId, const std::string& confValue) {
  Execute("SMS_UpdateConfItem",
          {{"ConfID", AdType::kInteger, 4, confId}, Text("ConfValue", 255, confValue)});
  return true;
}

Variant DataHandler::DeleteConfItem(const std::string& confCat, const std::string& confName) {
  return ExecuteHandledVariant("", "SMS_DeleteConfItem", ItemName(confCat, confName));
}

Variant DataHandler::RemoveConfItem(const std::string& confId) {
  return ExecuteHandledVariant("", "SMS_RemoveConfItem", {{"ConfID", AdType::kInteger, 4, confId}});
}

std::optional<Recordset> DataHandler::GetConfItems(const std::string& confCat,
                                                   const std::string& confName) {
  try {
    return Query("SMS_ReadConfItem", ItemName(confCat, confName));
  } catch (const std::exception& error) {
    ReportError("", ToFailure(error));
    return std::nullopt;
  }
}

Recordset DataHandler::GetACLNetworkList(const std::string& confCat, const std::string& confName) {
  return Query("SMS_GetACLNetworkList", ItemName(confCat, confName));
}

Recordset DataHandler::EvaluateSQL(const std::string& sqlString) {
  return Query(data::kEvaluateSql, {Text("SQLString", 4095, sqlString)});
}

std::int16_t DataHandler::GetDatabaseVersion(const std::string& connection) {
  Recordset rows =
      QueryOn(connection, data::kEvaluateSql, {Text("SQLString", 4095, "SELECT * FROM Version")});
  if (rows.RecordCount() == 0) return 0;
  rows.MoveFirst();
  const std::string joined = rows.Fields("Release").TextOrEmpty() +
                             rows.Fields("Version").TextOrEmpty() +
                             rows.Fields("Revision").TextOrEmpty();
  return IsNumber(joined) ? Variant(joined).ToInt16() : std::int16_t{0};
}

}  // namespace talvex
