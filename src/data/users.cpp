// The operations on the suite's user records (procedures in db/<engine>/users.sql): writing,
// reading and checking them, and the web log-in's read.
#include "data/data_handler.hpp"
#include "data/descriptors.hpp"

namespace talvex {

using namespace descriptor;

namespace {}  // namespace

bool DataHandler::WriteUser(const UserRecord& user) {
  return ExecuteHandled("Unable to add User due to a database error", "SMS_WriteUser",
                        {Text("RecID", 50, user.recId),
                         {"UserID", AdType::kChar, 32, user.userId},
                         Text("UserName", 255, user.userName),
                         {"DisplayName", AdType::kVarChar, 255, user.displayName},
                         Text("Alias", 255, user.alias),
                         Text("Description", 255, user.description),
                         Text("Email", 255, user.email),
                         Text("Mobile", 255, user.mobile),
                         Text("Department", 255, user.department),
                         Text("LogonName", 255, user.logonName),
                         Text("UserPassword", 50, user.userPassword),
                         SmallInt("POP3User", user.pop3User),
                         SmallInt("HTTPUser", user.httpUser),
                         SmallInt("Administrator", user.administrator),
                         SmallInt("AcctDisabled", user.acctDisabled),
                         SmallInt("UserType", user.userType)});
}

bool DataHandler::DeleteUser(const std::string& recId) {
  return ExecuteHandled("Unable to delete User due to a database error", "SMS_DeleteUser",
                        {{"RecID", AdType::kInteger, 4, recId}});
}

Recordset DataHandler::GetUser(const std::string& recId) {
  return Query("SMS_GetUser", {{"RecID", AdType::kInteger, 4, recId}});
}

Recordset DataHandler::GetAllUsers(const std::string& userType) {
  return Query("SMS_GetAllUsers", {SmallInt("UserType", userType)});
}

Recordset DataHandler::GetUsers(const std::string& userType) {
  return Query("SMS_GetUsers", {SmallInt("UserType", userType)});
}

Recordset DataHandler::CheckDupUsers(const std::string& userName, const std::string& alias,
                                     const std::string& email, const std::string& mobile,
                                     const std::string& logonName, const std::string& userType) {
  return Query("SMS_CheckDupUsers",
               {Text("UserName", 255, userName), Text("Alias", 255, alias),
                Text("Email", 255, email), Text("Mobile", 255, mobile),
                Text("LogonName", 255, logonName), SmallInt("UserType", userType)});
}

Recordset DataHandler::GetHTTPUserDetails(const std::string& logonName) {
  return Query("SMS_GetHTTPUserDetails", {Text("LogonName", 255, logonName)});
}

Recordset DataHandler::CheckDupUserAlias(const std::string& alias) {
  return Query("SMS_CheckDupUserAlias", {Text("Alias", 255, alias)});
}

}  // namespace talvex
