// talvex-admin: administration of the suite's data that this service shares: POP3 users,
// gateway items, the transaction log, registry values, configuration items and the database's
// version. Users, items and records go through the data layer's operations, exactly as the
// suite's other programs write them.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "admin_conf.hpp"
#include "admin_database.hpp"
#include "admin_registry.hpp"
#include "admin_translog.hpp"
#include "crypto/password_digest.hpp"
#include "data/data_handler.hpp"
#include "data_options.hpp"
#include "platform/ansi.hpp"
#include "platform/ascii.hpp"
#include "platform/guid.hpp"
#include "platform/resources.hpp"
#include "text/mail_date.hpp"

namespace {

using talvex::apps::Action;
using talvex::apps::Data;
using talvex::apps::kExitOk;
using talvex::apps::kExitUsage;
using talvex::apps::OnGiven;

int Fail(const std::string& reason) {
  return talvex::apps::Refuse(reason);
}

std::string NewUserID() {
  std::string id = talvex::NewHexIdentifier();
  if (id.empty()) throw std::runtime_error("no random source for a user identifier");
  return id;
}

struct UserArgs {
  std::string logon;
  std::string email;
  std::string password;
  bool disabled = false;
};

int UserAdd(const talvex::Environment& env, const UserArgs& args) {
  Data data(env);
  talvex::Recordset dups = data.handler.CheckDupUsers("", "", args.email, "", args.logon, "0");
  for (dups.MoveFirst(); !dups.Eof(); dups.MoveNext()) {
    const std::string logon = dups.Fields("LogonName").TextOrEmpty();
    if (talvex::EqualsIgnoreCase(logon, args.logon))
      return Fail("user '" + args.logon + "' exists already");
    return Fail("address '" + args.email + "' is the mail drop of user '" + logon +
                "' already; each user needs an address of their own");
  }
  talvex::UserRecord user;
  user.userId = NewUserID();
  user.userName = args.logon;
  user.displayName = args.logon;
  user.logonName = args.logon;
  user.email = args.email;
  user.userPassword = talvex::PasswordDigest(args.password, user.userId);
  user.pop3User = "1";
  user.acctDisabled = args.disabled ? "1" : "0";
  if (!data.handler.WriteUser(user)) {
    return Fail("cannot add user '" + args.logon + "': " + data.lastError);
  }
  return kExitOk;
}

int UserPasswd(const talvex::Environment& env, const UserArgs& args) {
  Data data(env);
  talvex::Recordset rows = data.handler.CheckDupUsers("", "", "", "", args.logon, "0");
  if (rows.RecordCount() == 0) return Fail("no user '" + args.logon + "'");
  rows.MoveFirst();
  talvex::UserRecord user;
  const auto field = [&](const char* name) { return rows.Fields(name).TextOrEmpty(); };
  user.recId = field("RecID");
  user.userId = field("UserID");
  user.userName = field("UserName");
  user.displayName = rows.Fields("DisplayName");
  user.alias = field("Alias");
  user.description = field("Description");
  user.email = field("Email");
  user.mobile = field("Mobile");
  user.department = field("Department");
  user.logonName = field("LogonName");
  user.userPassword = talvex::PasswordDigest(args.password, user.userId);
  user.pop3User = field("POP3User");
  user.httpUser = field("HTTPUser");
  user.administrator = field("Administrator");
  user.acctDisabled = field("AcctDisabled");
  user.userType = field("UserType");
  if (!data.handler.WriteUser(user)) {
    return Fail("cannot change the password of '" + args.logon + "': " + data.lastError);
  }
  return kExitOk;
}

int UserList(const talvex::Environment& env) {
  Data data(env);
  talvex::Recordset users = data.handler.GetAllUsers("");
  for (users.MoveFirst(); !users.Eof(); users.MoveNext()) {
    std::cout << users.Fields("LogonName").TextOrEmpty() << "\t"
              << users.Fields("Email").TextOrEmpty() << "\t"
              << (users.Fields("AcctDisabled").EqualsNumber(1) ? "disabled" : "enabled") << "\n";
  }
  return kExitOk;
}

struct ItemArgs {
  std::string to;
  std::string from;
  std::string fromName;
  std::string subject;
  std::string date;
  std::string messageId;
  std::string content = "Windows-1252";
  std::string body;
  std::string bodyFile;
  bool bodyGiven = false;
  bool dateGiven = false;  // an explicit empty date is stored empty: served, it is dated then
};

int ItemAdd(const talvex::Environment& env, ItemArgs args) {
  if (const auto problem = talvex::apps::ReadBody(args.bodyFile, args.bodyGiven, args.body)) {
    return Fail(*problem);
  }
  if (!talvex::apps::IsUtf8(args.body)) return Fail("the body is not UTF-8 text");
  if (!args.dateGiven) args.date = talvex::FormatMailDate("");
  Data data(env);
  talvex::Variant content = args.content;
  std::string id;
  if (!data.handler.WriteGWItem(args.date, "talvex-admin", args.messageId, content, args.from,
                                args.fromName, args.to, args.subject, args.body, "O", "", "",
                                &id)) {
    return Fail("cannot store the item for '" + args.to + "': " + data.lastError);
  }
  std::cout << id << "\n";
  return kExitOk;
}

int ItemList(const talvex::Environment& env, const std::string& to) {
  Data data(env);
  talvex::Recordset items = data.handler.GetGWItems("O");
  for (items.MoveFirst(); !items.Eof(); items.MoveNext()) {
    const std::string address = items.Fields("ToAddress").TextOrEmpty();
    if (!to.empty() && !talvex::EqualsIgnoreCase(address, to)) continue;
    std::cout << items.Fields("GWQID").TextOrEmpty() << "\t" << items.Fields("Status").TextOrEmpty()
              << "\t" << items.Fields("SessionID").TextOrEmpty() << "\t" << address << "\t"
              << items.Fields("Subject").TextOrEmpty() << "\t"
              << items.Fields("BodyLength").TextOrEmpty() << "\n";
  }
  return kExitOk;
}

void AddUserCommands(CLI::App& app, UserArgs& args, Action& action) {
  auto* user = app.add_subcommand("user", "POP3 users");
  user->require_subcommand(1);
  auto* add = user->add_subcommand("add", "add a POP3 user");
  add->add_option("LOGON", args.logon, "logon name")->required();
  add->add_option("--email", args.email, "address of the user's mail drop")->required();
  add->add_option("--password", args.password, "password")->required();
  add->add_flag("--disabled", args.disabled, "add the account disabled");
  OnGiven(add, action, [&args](const talvex::Environment& env) { return UserAdd(env, args); });
  auto* passwd = user->add_subcommand("passwd", "set a user's password");
  passwd->add_option("LOGON", args.logon, "logon name")->required();
  passwd->add_option("--password", args.password, "new password")->required();
  OnGiven(passwd, action,
          [&args](const talvex::Environment& env) { return UserPasswd(env, args); });
  OnGiven(user->add_subcommand("list", "one line per user: logon, email, state"), action, UserList);
}

void AddItemCommands(CLI::App& app, ItemArgs& args, std::string& listTo, Action& action) {
  auto* item = app.add_subcommand("item", "gateway items");
  item->require_subcommand(1);
  auto* add = item->add_subcommand("add", "store one outbound item; prints its GWQID");
  const CLI::Validator header = talvex::apps::HeaderText();
  add->add_option("--to", args.to, "recipient address")->required()->check(header);
  add->add_option("--from", args.from, "sender address")->check(header);
  add->add_option("--from-name", args.fromName, "sender display name")->check(header);
  add->add_option("--subject", args.subject, "subject")->check(header);
  auto* date = add->add_option("--date", args.date,
                               "date in mail form (default: now; \"\": dated at each retrieval)")
                   ->check(header);
  add->add_option("--message-id", args.messageId, "message identifier (default: none)")
      ->check(header);
  add->add_option("--content", args.content,
                  "charset: Windows-1252 lets the registry settings choose; anything else "
                  "stores UTF-8")
      ->capture_default_str()
      ->check(header);
  auto* bodyText = add->add_option("--body", args.body, "body text (UTF-8)");
  bodyText->excludes(add->add_option("--body-file", args.bodyFile, "file with the body"));
  OnGiven(add, action, [&args, bodyText, date](const talvex::Environment& env) {
    args.bodyGiven = bodyText->count() > 0;
    args.dateGiven = date->count() > 0;
    return ItemAdd(env, args);
  });
  auto* list = item->add_subcommand(
      "list", "one line per item: GWQID, status, session, to, subject, body length");
  list->add_option("--to", listTo, "only the items for this address");
  OnGiven(list, action,
          [&listTo](const talvex::Environment& env) { return ItemList(env, listTo); });
}

}  // namespace

int Run(int argc, char** argv) {
  CLI::App app{"Talvex administration: registry values, users and gateway items"};
  app.require_subcommand(1);
  const talvex::apps::DataOptions dataOptions(app);
  UserArgs userArgs;
  ItemArgs itemArgs;
  std::string listTo;
  talvex::apps::RegArgs regArgs;
  talvex::apps::TransLogArgs transLogArgs;
  talvex::apps::ConfArgs confArgs;
  Action action;
  AddUserCommands(app, userArgs, action);
  AddItemCommands(app, itemArgs, listTo, action);
  talvex::apps::AddRegistryCommands(app, regArgs, action);
  talvex::apps::AddTransLogCommands(app, transLogArgs, action);
  talvex::apps::AddConfCommands(app, confArgs, action);
  std::string backupFile;
  talvex::apps::AddDatabaseCommands(app, backupFile, action);
  bool create = false;
  app.add_flag("--create", create,
               "start a new embedded database where the data dir's database file was deleted "
               "while in use (its write-ahead log remains)");
  if (const auto exitCode =
          talvex::apps::ParseCommandLine(app, argc, argv, dataOptions, "talvex-admin")) {
    return *exitCode;
  }
  if (!action) return kExitUsage;
  try {
    if (create) talvex::apps::StartOverOrphanedDatabase(dataOptions.Env());
    return action(dataOptions.Env());
  } catch (const std::exception& error) {
    return Fail(error.what());
  }
}

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "talvex-admin: " << error.what() << "\n";
    return talvex::apps::kExitRefused;
  }
}
