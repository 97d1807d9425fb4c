// talvex-admin: administration of the suite's data that this service shares: registry values
// (users and gateway items follow).
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>
#include <string>

#include "host/reglib.hpp"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

std::string EnvOr(const char* name, std::string fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::string(value) : fallback;
}

int Fail(const std::string& reason) {
  std::cerr << "talvex-admin: " << reason << "\n";
  return kExitRefused;
}

std::string KeyName(const std::string& key) {
  return "HKEY_LOCAL_MACHINE\\" + key;
}

struct RegArgs {
  std::string key;
  std::string name;
  std::string value;
};

int RegGet(const talvex::Environment& env, const RegArgs& args) {
  const talvex::RegLib reg(env);
  talvex::Variant value;
  const auto status = reg.ReadRegValue(talvex::regroot::kLocalMachine, args.key, args.name,
                                       talvex::regvalue::kText, talvex::Variant(), value);
  if (status == talvex::regstatus::kNotFound) {
    return Fail("no value '" + args.name + "' under '" + KeyName(args.key) + "'");
  }
  if (status != talvex::regstatus::kSuccess) {
    return Fail("cannot read '" + args.name + "' under '" + KeyName(args.key) +
                "': registry status " + std::to_string(status));
  }
  std::cout << value.TextOrEmpty() << "\n";
  return kExitOk;
}

int RegSet(const talvex::Environment& env, const RegArgs& args) {
  const talvex::RegLib reg(env);
  const auto status = reg.WriteRegValue(talvex::regroot::kLocalMachine, args.key, args.name,
                                        talvex::regvalue::kText, talvex::Variant(args.value));
  if (status != talvex::regstatus::kSuccess) {
    return Fail("cannot write '" + args.name + "' under '" + KeyName(args.key) +
                "': registry status " + std::to_string(status));
  }
  return kExitOk;
}

int RegDelete(const talvex::Environment& env, const RegArgs& args) {
  const talvex::RegLib reg(env);
  const auto status = reg.DeleteRegValue(talvex::regroot::kLocalMachine, args.key, args.name);
  if (status != talvex::regstatus::kSuccess) {
    return Fail("cannot delete '" + args.name + "' under '" + KeyName(args.key) +
                "': registry status " + std::to_string(status));
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Talvex administration: registry values, users and gateway items"};
  app.require_subcommand(1);
  std::string dataDir = EnvOr("TALVEX_DATA_DIR", "./talvex-data");
  std::string database = EnvOr("TALVEX_DB", "");
  app.add_option("--data-dir", dataDir, "directory of the embedded database and the registry")
      ->capture_default_str();
  app.add_option("--db", database, "database connection, e.g. sqlite:/path/file.db");

  RegArgs regArgs;
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

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "talvex-admin: " << e.what() << " (see --help)\n";
    return kExitUsage;
  }

  talvex::Environment env;
  env.dataDir = dataDir;
  env.database = database;
  if (regGet->parsed()) return RegGet(env, regArgs);
  if (regSet->parsed()) return RegSet(env, regArgs);
  if (regDelete->parsed()) return RegDelete(env, regArgs);
  return kExitUsage;
}
