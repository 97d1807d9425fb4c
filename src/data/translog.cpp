// The transaction-log operations (procedures in db/sqlite/translog.sql): records written with
// their subject and body encrypted under the message identifier when the suite asks for it,
// read back decrypted, their status and extension items.
#include "data/data_handler.hpp"
#include "data/trans_crypt.hpp"
#include "platform/ansi.hpp"
#include "platform/numbers.hpp"
#include "platform/resources.hpp"

namespace talvex {

namespace {

constexpr std::size_t kMaxSubject = 255;

// A date-time when one is given; otherwise an empty text, which the procedure replaces with
// the time of writing (an empty value cannot pass as a date).
ParameterDescriptor TransDtDescriptor(const std::string& transDt) {
  if (transDt.empty()) return {"TransDT", AdType::kVarChar, 50, transDt};
  return {"TransDT", AdType::kDate, 8, transDt};
}

// Undoes the encryption in the current row; a field that does not decrypt becomes empty.
void DecryptCurrentRow(Recordset& rows) {
  const std::string password = rows.Fields("MessageID").TextOrEmpty();
  for (const char* name : {"Subject", "Body"}) {
    Variant& field = rows.Fields(name);
    field = DecryptText(field.TextOrEmpty(), password);
  }
  if (rows.Fields("Content").TextOrEmpty() == "Unicode") {
    Variant& body = rows.Fields("Body");
    body = HexToText(body.TextOrEmpty());
  }
}

}  // namespace

bool DataHandler::EncryptTrans() {
  return Variant(DatabaseSetting(encryptTrans_, "EncryptTrans", "1")).ToDouble() == 1;
}

bool DataHandler::WriteTransLog(TransLogEntry& entry) {
  try {
    if (TransLogOff()) return true;
    // assign(1, '0'), not = "0": GCC 12 at -O3 misreads that assignment as an overlapping copy.
    if (!ParseDecimal(entry.cost)) entry.cost.assign(1, '0');
    std::string subject = utf16::Prefix(entry.subject, kMaxSubject);
    std::string body = entry.body;
    if (EncryptTrans()) {
      subject = EncryptText(subject, entry.messageId);
      if (entry.content == "Unicode") body = BodyToHex(body);
      body = EncryptText(body, entry.messageId);
    }
    Execute("SMS_WriteTransLog", {TransDtDescriptor(entry.transDt),
                                  {"MessageID", AdType::kChar, 32, entry.messageId},
                                  {"ParentID", AdType::kChar, 32, entry.parentId},
                                  {"Content", AdType::kVarChar, 255, entry.content},
                                  {"MessageType", AdType::kSmallInt, 2, entry.messageType},
                                  {"FromAddress", AdType::kVarChar, 255, entry.fromAddress},
                                  {"FromName", AdType::kVarChar, 255, entry.fromName},
                                  {"ToAddress", AdType::kVarChar, 255, entry.toAddress},
                                  {"ToName", AdType::kVarChar, 255, entry.toName},
                                  {"Subject", AdType::kVarChar, 512, subject},
                                  LongTextDescriptor("Body", body),
                                  {"Direction", AdType::kChar, 1, entry.direction},
                                  {"Network", AdType::kVarChar, 255, entry.network},
                                  {"Cost", AdType::kCurrency, 4, entry.cost},
                                  {"Type", AdType::kSmallInt, 2, entry.type},
                                  {"Status", AdType::kSmallInt, 2, entry.status},
                                  {"Encrypted", AdType::kSmallInt, 2, encryptTrans_},
                                  {"Department", AdType::kVarChar, 255, entry.department}});
    return true;
  } catch (const std::exception& error) {
    ReportError("Unable to add TransLog item due to a database error", ToFailure(error));
    return false;
  }
}

bool DataHandler::GetTransItem(const std::string& messageId, const std::string& direction,
                               Recordset& transItem) {
  if (TransLogOff()) return true;
  transItem = Query("SMS_GetTransItem", {{"MessageID", AdType::kChar, 32, messageId},
                                         {"Direction", AdType::kChar, 1, direction}});
  if (transItem.RecordCount() > 0 && transItem.Fields("Encrypted").ToBool()) {
    DecryptCurrentRow(transItem);
  }
  return true;
}

Recordset DataHandler::GetTransLogs() {
  return Query("SMS_GetTransLogs", {});
}

bool DataHandler::RemoveTransItem(const Variant& itemId) {
  return ExecuteHandled("Unable to remove TransLog item due to a database error",
                        "SMS_RemoveTransItem", {{"ItemID", AdType::kInteger, 4, itemId}});
}

bool DataHandler::SetTLItemStatus(const std::string& transDt, const std::string& direction,
                                  const Variant& itemStatus, const std::string& messageId,
                                  const std::string& toAddress, std::string cost) {
  try {
    if (TransLogOff()) return true;
    // Windows writes 0.00 in the user's currency format ("$0.00", "0,00 €"), which only that
    // locale's reader takes back. Here it is the plain "0.00" that the currency binding reads
    // the same in every locale.
    if (cost.empty()) cost = "0.00";
    Execute("SMS_SetTLItemStatus", {TransDtDescriptor(transDt),
                                    {"Direction", AdType::kChar, 1, direction},
                                    {"Status", AdType::kSmallInt, 2, itemStatus},
                                    {"MessageID", AdType::kChar, 32, messageId},
                                    {"ToAddress", AdType::kVarChar, 255, toAddress},
                                    {"Cost", AdType::kCurrency, 4, cost}});
    return true;
  } catch (const std::exception& error) {
    ReportError("Unable to change TransLog item status due to a database error", ToFailure(error));
    return false;
  }
}

bool DataHandler::SetTLExtItem(const std::string& messageId, const std::string& extItem,
                               const std::string& itemData) {
  bool off = false;
  try {
    off = TransLogOff();
  } catch (const std::exception&) {
    off = false;  // a switch that cannot be read leaves the log on
  }
  if (off) return true;
  if (itemData.empty()) return false;
  Execute("SMS_SetTLExtItem", {{"MessageID", AdType::kChar, 32, messageId},
                               {"ExtItem", AdType::kVarChar, 255, "TransLogExt." + extItem},
                               {"ItemData", AdType::kVarChar, 255, itemData}});
  return true;
}

}  // namespace talvex
