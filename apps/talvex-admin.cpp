// talvex-admin: administration of the suite's data that this service shares: POP3 users,
// gateway items and registry values. Users and items go through the data layer's operations,
// exactly as the suite's other programs write them.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "admin_registry.hpp"
#include "crypto/password_digest.hpp"
#include "data/data_handler.hpp"
#include "data_options.hpp"
#include "platform/ansi.hpp"
#include "platform/ascii.hpp"
#include "platform/guid.hpp"
#include "platform/resources.hpp"
#include "text/mail_date.hpp"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

int Fail(const std::string& reason) {
  std::cerr << "talvex-admin: " << reason << "\n";
  return kExitRefused;
}

// A DataHandler whose failure lines become the reason printed on refusal.
struct Data {
  explicit Data(const talvex::Environment& env) : handler(env) {
    handler.SetEventLog([this](talvex::Severity, std::string_view, std::string_view message) {
      lastError = message;
    });
  }
  talvex::DataHandler handler;
  std::string lastError;
};

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
};

bool IsUtf8(std::string_view text) {
  return talvex::utf16::ToUtf8(talvex::utf16::FromUtf8(text)) == text;
}

int ItemAdd(const talvex::Environment& env, ItemArgs args) {
  if (!args.bodyFile.empty()) {
    std::ifstream file(args.bodyFile, std::ios::binary);
    if (!file)
      return Fail("cannot read body file '" + args.bodyFile + "': " + std::strerror(errno));
    args.body.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (file.bad()) return Fail("cannot read body file '" + args.bodyFile + "'");
  } else if (!args.bodyGiven) {
    args.body.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  }
  if (!IsUtf8(args.body)) return Fail("the body is not UTF-8 text");
  if (args.date.empty()) args.date = talvex::FormatMailDate("");
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

}  // namespace

int Run(int argc, char** argv) {
  CLI::App app{"Talvex administration: registry values, users and gateway items"};
  app.require_subcommand(1);
  const talvex::apps::DataOptions dataOptions(app);

  UserArgs userArgs;
  auto* user = app.add_subcommand("user", "POP3 users");
  user->require_subcommand(1);
  auto* userAdd = user->add_subcommand("add", "add a POP3 user");
  userAdd->add_option("LOGON", userArgs.logon, "logon name")->required();
  userAdd->add_option("--email", userArgs.email, "address of the user's mail drop")->required();
  userAdd->add_option("--password", userArgs.password, "password")->required();
  userAdd->add_flag("--disabled", userArgs.disabled, "add the account disabled");
  auto* userPasswd = user->add_subcommand("passwd", "set a user's password");
  userPasswd->add_option("LOGON", userArgs.logon, "logon name")->required();
  userPasswd->add_option("--password", userArgs.password, "new password")->required();
  auto* userList = user->add_subcommand("list", "one line per user: logon, email, state");

  ItemArgs itemArgs;
  std::string listTo;
  auto* item = app.add_subcommand("item", "gateway items");
  item->require_subcommand(1);
  auto* itemAdd = item->add_subcommand("add", "store one outbound item; prints its GWQID");
  itemAdd->add_option("--to", itemArgs.to, "recipient address")->required();
  itemAdd->add_option("--from", itemArgs.from, "sender address");
  itemAdd->add_option("--from-name", itemArgs.fromName, "sender display name");
  itemAdd->add_option("--subject", itemArgs.subject, "subject");
  itemAdd->add_option("--date", itemArgs.date, "date in mail form (default: now)");
  itemAdd->add_option("--message-id", itemArgs.messageId, "message identifier (default: none)");
  itemAdd
      ->add_option("--content", itemArgs.content,
                   "charset: Windows-1252 lets the registry settings choose; anything else "
                   "stores UTF-8")
      ->capture_default_str();
  auto* bodyText = itemAdd->add_option("--body", itemArgs.body, "body text (UTF-8)");
  auto* bodyFile = itemAdd->add_option("--body-file", itemArgs.bodyFile, "file with the body");
  bodyText->excludes(bodyFile);
  auto* itemList = item->add_subcommand("list",
                                        "one line per item: GWQID, status, session, to, "
                                        "subject, body length");
  itemList->add_option("--to", listTo, "only the items for this address");

  talvex::apps::RegArgs regArgs;
  auto* reg = app.add_subcommand("reg", "registry values under HKEY_LOCAL_MACHINE");
  reg->require_subcommand(1);
  auto* regGet = reg->add_subcommand("get", "print a text value (exit 1 when absent)");
  auto* regSet = reg->add_subcommand("set", "write a text value");
  auto* regDelete = reg->add_subcommand("delete", "delete a value");
  for (auto* sub : {regGet, regSet, regDelete}) {
    sub->add_option("KEY", regArgs.key, "key path, e.g. Software\\Corvath\\Talvex\\Database")
        ->required();
    sub->add_option("NAME", regArgs.name, "value name")->required();
  }
  regSet->add_option("VALUE", regArgs.value, "text to store")->required();

  if (const auto exitCode =
          talvex::apps::ParseCommandLine(app, argc, argv, dataOptions, "talvex-admin")) {
    return *exitCode;
  }

  const talvex::Environment env = dataOptions.Env();
  itemArgs.bodyGiven = bodyText->count() > 0;
  try {
    if (userAdd->parsed()) return UserAdd(env, userArgs);
    if (userPasswd->parsed()) return UserPasswd(env, userArgs);
    if (userList->parsed()) return UserList(env);
    if (itemAdd->parsed()) return ItemAdd(env, itemArgs);
    if (itemList->parsed()) return ItemList(env, listTo);
  } catch (const std::exception& error) {
    return Fail(error.what());
  }
  if (regGet->parsed()) return talvex::apps::RegGet(env, regArgs);
  if (regSet->parsed()) return talvex::apps::RegSet(env, regArgs);
  if (regDelete->parsed()) return talvex::apps::RegDelete(env, regArgs);
  return kExitUsage;
}

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "talvex-admin: " << error.what() << "\n";
    return 1;
  }
}
