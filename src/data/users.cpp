// The operations on the suite's user records (procedures in db/sqlite/users.sql).
#include "data/data_handler.hpp"

namespace talvex {

namespace {

ParameterDescriptor Text(const char* name, std::int32_t size, const std::string& value) {
  return {name, AdType::kVarChar, size, value};
}

ParameterDescriptor SmallInt(const char* name, const std::string& value) {
  return {name, AdType::kSmallInt, 2, value};
}

}  // namespace

bool DataHandler::WriteUser(const UserRecord& user) {
  return ExecuteHandled("Unable to add User due to a database error", "SMS_WriteUser",
                        {Text("RecID", 50, user.RecID),
                         {"UserID", AdType::kChar, 32, user.UserID},
                         Text("UserName", 255, user.UserName),
                         {"DisplayName", AdType::kVarChar, 255, user.DisplayName},
                         Text("Alias", 255, user.Alias),
                         Text("Description", 255, user.Description),
                         Text("Email", 255, user.Email),
                         Text("Mobile", 255, user.Mobile),
                         Text("Department", 255, user.Department),
                         Text("LogonName", 255, user.LogonName),
                         Text("UserPassword", 50, user.UserPassword),
                         SmallInt("POP3User", user.POP3User),
                         SmallInt("HTTPUser", user.HTTPUser),
                         SmallInt("Administrator", user.Administrator),
                         SmallInt("AcctDisabled", user.AcctDisabled),
                         SmallInt("UserType", user.UserType)});
}

bool DataHandler::DeleteUser(const std::string& RecID) {
  return ExecuteHandled("Unable to delete User due to a database error", "SMS_DeleteUser",
                        {{"RecID", AdType::kInteger, 4, RecID}});
}

Recordset DataHandler::GetUser(const std::string& RecID) {
  return Query("SMS_GetUser", {{"RecID", AdType::kInteger, 4, RecID}});
}

Recordset DataHandler::GetAllUsers(const std::string& UserType) {
  return Query("SMS_GetAllUsers", {SmallInt("UserType", UserType)});
}

Recordset DataHandler::GetUsers(const std::string& UserType) {
  return Query("SMS_GetUsers", {SmallInt("UserType", UserType)});
}

Recordset DataHandler::CheckDupUsers(const std::string& UserName, const std::string& Alias,
                                     const std::string& Email, const std::string& Mobile,
                                     const std::string& LogonName, const std::string& UserType) {
  return Query("SMS_CheckDupUsers",
               {Text("UserName", 255, UserName), Text("Alias", 255, Alias),
                Text("Email", 255, Email), Text("Mobile", 255, Mobile),
                Text("LogonName", 255, LogonName), SmallInt("UserType", UserType)});
}

}  // namespace talvex
