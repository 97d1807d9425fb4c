// The catalogue rows of users, web log-ins, groups and memberships (see catalogue_cases.hpp).
// The seed's users are of type 3 and named grp-...; users 9101 and 9102 are in group 9201, 9101
// also in 9202, and 9103 in 9203, a group of type 1 with 9201's alias.
#include "catalogue_cases.hpp"

namespace talvex::test {

namespace {

const std::string kAnn = "ANN00000000000000000000000009101";
const std::string kCat = "CAT00000000000000000000000009103";
const std::string kSales = "SALES000000000000000000000009201";

std::string Logons(Recordset rows) {
  return Column(std::move(rows), "LogonName");
}

std::string GroupNames(Recordset rows) {
  return Column(std::move(rows), "GroupName");
}

UserRecord Dan() {
  return {.recId = "",
          .userId = "DAN00000000000000000000000009104",
          .userName = "Dan",
          .displayName = Variant::Null(),
          .alias = "",
          .description = "",
          .email = "grp-dan@example.org",
          .mobile = "",
          .department = "",
          .logonName = "grp-dan",
          .userPassword = "digest",
          .httpUser = "1",
          .userType = "3"};
}

GroupRecord Support() {
  return {.recId = "",
          .groupId = "SUPPORT0000000000000000000009204",
          .groupName = "grp-Support",
          .alias = "grp-support",
          .description = "the help desk",
          .allowBroadcast = "1"};
}

std::vector<CatalogueCase> UserCases() {
  return {
      {"GetHTTPUserDetails",
       [](DataHandler& d) { return Logons(d.GetHTTPUserDetails("GRP-ANN")); },
       {"grp-ann"},
       {OnFailure::kRaised, ""}},
      {"WriteUser",
       [](DataHandler& d) { return Flag(d.WriteUser(Dan())); },
       {"True",
        "SELECT count(*) FROM Users WHERE LogonName = 'grp-dan' AND "
        "UserID = 'DAN00000000000000000000000009104' AND UserName = 'Dan' AND "
        "DisplayName IS NULL AND Email = 'grp-dan@example.org' AND UserPassword = 'digest' AND "
        "HTTPUser = 1 AND POP3User = 0 AND UserType = 3",
        1},
       {OnFailure::kLogged, "False", "Unable to add User due to a database error"}},
      {"DeleteUser",
       [](DataHandler& d) { return Flag(d.DeleteUser("9102")); },
       {"True", "SELECT count(*) FROM UsersGroups WHERE UserID LIKE 'BOB%'", 0},
       {OnFailure::kLogged, "False", "Unable to delete User due to a database error"}},
      {"GetUser",
       [](DataHandler& d) { return Logons(d.GetUser("9101")); },
       {"grp-ann"},
       {OnFailure::kRaised, ""}},
      {"GetAllUsers",
       [](DataHandler& d) { return Logons(d.GetAllUsers("3")); },
       {"grp-ann,grp-bob,grp-cat"},
       {OnFailure::kRaised, ""}},
      {"GetUsers",
       [](DataHandler& d) { return Logons(d.GetUsers("3")); },
       {"grp-ann,grp-cat"},
       {OnFailure::kRaised, ""}},
      {"CheckDupUsers",
       [](DataHandler& d) {
         return Logons(d.CheckDupUsers("", "GRP-BOBBY", "", "", "grp-cat", "3"));
       },
       {"grp-bob,grp-cat"},
       {OnFailure::kRaised, ""}},
      {"CheckDupUserAlias",
       [](DataHandler& d) { return Logons(d.CheckDupUserAlias("GRP-ANNIE")); },
       {"grp-ann"},
       {OnFailure::kRaised, ""}},
  };
}

std::vector<CatalogueCase> GroupCases() {
  return {
      {"WriteGroup",
       [](DataHandler& d) { return Flag(d.WriteGroup(Support())); },
       {"True",
        "SELECT count(*) FROM Groups WHERE GroupID = 'SUPPORT0000000000000000000009204' AND "
        "GroupName = 'grp-Support' AND Alias = 'grp-support' AND "
        "Description = 'the help desk' AND AllowBroadcast = 1 AND GroupType = 0",
        1},
       {OnFailure::kLogged, "False", "Unable to add Group due to a database error"}},
      {"DeleteGroup",
       [](DataHandler& d) { return Flag(d.DeleteGroup("9202")); },
       {"True", "SELECT count(*) FROM UsersGroups WHERE GroupID LIKE 'OPS%'", 0},
       {OnFailure::kLogged, "False", "Unable to delete Group due to a database error"}},
      {"GetGroup",
       [](DataHandler& d) { return GroupNames(d.GetGroup("9201")); },
       {"grp-Sales"},
       {OnFailure::kRaised, ""}},
      {"GetAllGroups",
       [](DataHandler& d) { return GroupNames(d.GetAllGroups()); },
       {"grp-Ops,grp-Pagers,grp-Sales"},
       {OnFailure::kRaised, ""}},
      {"CheckDupGroups",
       [](DataHandler& d) { return GroupNames(d.CheckDupGroups("GRP-OPS", "grp-SALES", "0")); },
       {"grp-Sales,grp-Ops"},
       {OnFailure::kRaised, ""}},
      {"CheckDupGroupAlias",
       [](DataHandler& d) { return GroupNames(d.CheckDupGroupAlias("GRP-SALES", "1")); },
       {"grp-Pagers"},
       {OnFailure::kRaised, ""}},
      {"GetUserGroups",
       [](DataHandler& d) { return GroupNames(d.GetUserGroups(kAnn)); },
       {"grp-Ops,grp-Sales"},
       {OnFailure::kRaised, ""}},
      {"GetGroupUsers",
       [](DataHandler& d) { return Logons(d.GetGroupUsers(kSales)); },
       {"grp-ann,grp-bob"},
       {OnFailure::kRaised, ""}},
      {"GetGroupUsersByAlias",
       [](DataHandler& d) { return Logons(d.GetGroupUsersByAlias("Grp-Sales")); },
       {"grp-ann,grp-bob,grp-cat"},
       {OnFailure::kRaised, ""}},
      {"WriteUsersGroups",
       [](DataHandler& d) { return Flag(d.WriteUsersGroups(kCat, kSales)); },
       {"True", "SELECT count(*) FROM UsersGroups WHERE GroupID LIKE 'SALES%'", 3},
       {OnFailure::kLogged, "False", "Unable to add User/Group due to a database error"}},
      {"DeleteUsersGroups",
       [](DataHandler& d) { return Flag(d.DeleteUsersGroups(kAnn, kSales)); },
       {"True", "SELECT count(*) FROM UsersGroups WHERE UserID LIKE 'ANN%'", 1},
       {OnFailure::kLogged, "False", "Unable to delete User/Group due to a database error"}},
      {"DeleteAllUserGroups",
       [](DataHandler& d) { return Flag(d.DeleteAllUserGroups("9101")); },
       {"True", "SELECT count(*) FROM UsersGroups", 2},
       {OnFailure::kLogged, "False", "Unable to delete Users/Groups due to a database error"}},
      {"DeleteAllGroupUsers",
       [](DataHandler& d) { return Flag(d.DeleteAllGroupUsers("9201")); },
       {"True", "SELECT count(*) FROM UsersGroups", 2},
       {OnFailure::kLogged, "False", "Unable to delete Groups/Users due to a database error"}},
  };
}

std::vector<CatalogueCase> Cases() {
  std::vector<CatalogueCase> all = UserCases();
  for (CatalogueCase& c : GroupCases()) all.push_back(std::move(c));
  return all;
}

}  // namespace

CatalogueGroup UsersGroup() {
  return {Cases,
          "INSERT INTO Users (RecID, UserID, UserName, Alias, LogonName, HTTPUser, AcctDisabled, "
          "UserType) VALUES "
          "(9101, 'ANN00000000000000000000000009101', 'Ann', 'grp-annie', 'grp-ann', 1, 0, 3), "
          "(9102, 'BOB00000000000000000000000009102', 'Bob', 'grp-bobby', 'grp-bob', 0, 1, 3), "
          "(9103, 'CAT00000000000000000000000009103', 'Cat', 'grp-kitty', 'grp-cat', 1, 0, 3);"
          "INSERT INTO Groups (RecID, GroupID, GroupName, Alias, GroupType) VALUES "
          "(9201, 'SALES000000000000000000000009201', 'grp-Sales', 'grp-sales', 0), "
          "(9202, 'OPS00000000000000000000000009202', 'grp-Ops', 'grp-ops', 0), "
          "(9203, 'PAGERS00000000000000000000009203', 'grp-Pagers', 'grp-sales', 1);"
          "INSERT INTO UsersGroups (UserID, GroupID) VALUES "
          "('ANN00000000000000000000000009101', 'SALES000000000000000000000009201'), "
          "('BOB00000000000000000000000009102', 'SALES000000000000000000000009201'), "
          "('ANN00000000000000000000000009101', 'OPS00000000000000000000000009202'), "
          "('CAT00000000000000000000000009103', 'PAGERS00000000000000000000009203');"};
}

}  // namespace talvex::test
