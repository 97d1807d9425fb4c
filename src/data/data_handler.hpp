// DataHandler: the component's data-access layer. Each operation calls one stored procedure of
// the suite's database through the object's DataAccess, with one parameter descriptor per
// parameter, and returns the rows or a success flag. Operations armed with a failure handler
// turn a failure into one log line (source "Data Handler") and their failure value; the
// others pass the failure to their caller. Each session owns one DataHandler, which owns its
// DataAccess (with its database connection), one RegLib and the cached registry switches.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/data_access.hpp"
#include "data/parameter.hpp"
#include "data/recordset.hpp"
#include "platform/environment.hpp"
#include "platform/failure.hpp"
#include "platform/log.hpp"
#include "platform/reglib.hpp"

namespace talvex {

inline constexpr std::string_view kDataHandlerSource = "Data Handler";

// The error reporter's line: the message, ": " when the message is not empty, then "[", the
// failure's error line, "]".
std::string ErrorReportLine(std::string_view message, const Failure& failure);
// Its severity: detail for the generic provider error (0x80004005), failure for any other
// number.
Severity ErrorMessageType(std::int32_t number);

// A user record as WriteUser stores it; every field is the text the procedure receives.
struct UserRecord {
  std::string RecID;  // empty for a new user
  std::string UserID;
  std::string UserName;
  Variant DisplayName;
  std::string Alias;
  std::string Description;
  std::string Email;
  std::string Mobile;
  std::string Department;
  std::string LogonName;
  std::string UserPassword;
  std::string POP3User = "0";
  std::string HTTPUser = "0";
  std::string Administrator = "0";
  std::string AcctDisabled = "0";
  std::string UserType = "0";
};

class DataHandler {
 public:
  // Raises Failure -20042304 (source "Data Handler") when the data-access object cannot be
  // created; other failures pass unchanged.
  // `pool`, when given, shares the database connections of one server among its sessions.
  explicit DataHandler(const Environment& env, std::shared_ptr<data::BackendPool> pool = {});

  // Where the failure handlers' lines go (source "Data Handler"); none are written without.
  void SetEventLog(LogSink sink) { eventLog_ = std::move(sink); }

  // Passed unchanged to every call; empty means the process default database.
  const std::string& ConnectionString() const { return connectionString_; }
  void ConnectionString(std::string value) { connectionString_ = std::move(value); }

  // The POP3 mail drop. The record-set operations raise their failures; the flag operations
  // log them and return false.
  Recordset GetP3UserDetails(const std::string& LogonName);
  bool LockP3MailDrop(const std::string& EmailAddress, const std::string& SessionID);
  Recordset GetP3MailDrop(const std::string& EmailAddress, const std::string& SessionID);
  // Item identifiers, statuses and the ClearItems flag are passed as numbers or as their
  // decimal text; a number goes to the database as it is.
  Recordset GetP3MailItem(const Variant& ItemID);
  bool SetP3ItemsStatus(const std::string& SessionID, const Variant& Status,
                        const Variant& ClearItems);
  bool RemoveP3Items(const std::string& SessionID);
  bool UpdateP3ItemStatus(const Variant& ItemID, const Variant& Status);
  Recordset GetP3ItemStats(const Variant& ItemID);

  // Users and gateway items.
  bool WriteUser(const UserRecord& user);
  bool DeleteUser(const std::string& RecID);
  Recordset GetUser(const std::string& RecID);
  Recordset GetAllUsers(const std::string& UserType);
  Recordset GetUsers(const std::string& UserType);
  Recordset CheckDupUsers(const std::string& UserName, const std::string& Alias,
                          const std::string& Email, const std::string& Mobile,
                          const std::string& LogonName, const std::string& UserType);
  // Stores one gateway item. For direction "O" composes Content (passed in as the requested
  // charset) and encodes Body first; MessageID and Subject are cut to 255 characters. The
  // caller's variables receive these changes. False, without a log line, for an empty
  // ToAddress; false with a logged line for any failure. NewItemID, when given, receives the
  // new item's GWQID.
  bool WriteGWItem(const std::string& DTReceived, const std::string& Source, std::string& MessageID,
                   Variant& Content, const std::string& FromAddress, const std::string& FromName,
                   const std::string& ToAddress, std::string& Subject, std::string& Body,
                   const std::string& Direction, const std::string& RawData = {},
                   const std::string& Transport = {}, std::string* NewItemID = nullptr);
  Recordset GetGWItems(const std::string& Direction);

  // The transaction-log switch: true when the registry value "TLOff" is exactly "1". Read at
  // the first use and kept while the read gives a non-empty text.
  bool TransLogOff();

 private:
  Recordset Query(std::string_view procedure, const std::vector<ParameterDescriptor>& parameters);
  void Execute(std::string_view procedure, const std::vector<ParameterDescriptor>& parameters);
  // Execute under a failure handler: a failure is reported with `message` and gives false.
  bool ExecuteHandled(std::string_view message, std::string_view procedure,
                      const std::vector<ParameterDescriptor>& parameters);
  void ReportError(std::string_view message, const Failure& failure) const;

  DataAccess dataAccess_;
  RegLib regLib_;
  std::string connectionString_;
  std::string transLogSwitch_;
  void ReadContentSettings();
  std::string contentType_;        // registry "ContentType", cached at the first outbound write
  std::string contTransEncoding_;  // registry "ContTransEncoding", read with it
  LogSink eventLog_;
};

}  // namespace talvex
