// The groups of users and their memberships (procedures in db/<engine>/groups.sql). A membership
// joins a user's and a group's 32-digit ids, which is what the callers hold when they build
// one; record numbers are what they hold when they remove a whole user or group.
#include "data/data_handler.hpp"
#include "data/descriptors.hpp"

namespace talvex {

using namespace descriptor;

namespace {

ParameterDescriptor RecId(const std::string& recId) {
  return {"RecID", AdType::kInteger, 4, recId};
}

ParameterDescriptor Id(const char* name, const std::string& id) {
  return {name, AdType::kChar, 32, id};
}

std::vector<ParameterDescriptor> Membership(const std::string& userId, const std::string& groupId) {
  return {Id("UserID", userId), Id("GroupID", groupId)};
}

}  // namespace

bool DataHandler::WriteGroup(const GroupRecord& group) {
  return ExecuteHandled("Unable to add Group due to a database error", "SMS_WriteGroup",
                        {{"RecID", AdType::kVarChar, 50, group.recId},
                         Id("GroupID", group.groupId),
                         Text("GroupName", 255, group.groupName),
                         Text("Alias", 255, group.alias),
                         Text("Description", 255, group.description),
                         SmallInt("AllowBroadcast", group.allowBroadcast),
                         SmallInt("GroupType", group.groupType)});
}

bool DataHandler::DeleteGroup(const std::string& recId) {
  return ExecuteHandled("Unable to delete Group due to a database error", "SMS_DeleteGroup",
                        {RecId(recId)});
}

Recordset DataHandler::GetGroup(const std::string& recId) {
  return Query("SMS_GetGroup", {RecId(recId)});
}

Recordset DataHandler::GetAllGroups() {
  return Query("SMS_GetAllGroups", {});
}

Recordset DataHandler::CheckDupGroups(const std::string& groupName, const std::string& alias,
                                      const std::string& groupType) {
  return Query("SMS_CheckDupGroups", {Text("GroupName", 255, groupName), Text("Alias", 255, alias),
                                      SmallInt("GroupType", groupType)});
}

Recordset DataHandler::CheckDupGroupAlias(const std::string& alias, const std::string& userType) {
  return Query("SMS_CheckDupGroupAlias",
               {Text("Alias", 255, alias), SmallInt("UserType", userType)});
}

Recordset DataHandler::GetUserGroups(const std::string& userId) {
  return Query("SMS_GetUserGroups", {Id("UserID", userId)});
}

Recordset DataHandler::GetGroupUsers(const std::string& groupId) {
  return Query("SMS_GetGroupUsers", {Id("GroupID", groupId)});
}

Recordset DataHandler::GetGroupUsersByAlias(const std::string& alias) {
  return Query("SMS_GetGroupUsersByAlias", {Text("Alias", 255, alias)});
}

bool DataHandler::WriteUsersGroups(const std::string& userId, const std::string& groupId) {
  return ExecuteHandled("Unable to add User/Group due to a database error", "SMS_WriteUsersGroups",
                        Membership(userId, groupId));
}

bool DataHandler::DeleteUsersGroups(const std::string& userId, const std::string& groupId) {
  return ExecuteHandled("Unable to delete User/Group due to a database error",
                        "SMS_DeleteUsersGroups", Membership(userId, groupId));
}

bool DataHandler::DeleteAllUserGroups(const std::string& recId) {
  return ExecuteHandled("Unable to delete Users/Groups due to a database error",
                        "SMS_DeleteAllUserGroups", {RecId(recId)});
}

bool DataHandler::DeleteAllGroupUsers(const std::string& recId) {
  return ExecuteHandled("Unable to delete Groups/Users due to a database error",
                        "SMS_DeleteAllGroupUsers", {RecId(recId)});
}

}  // namespace talvex
