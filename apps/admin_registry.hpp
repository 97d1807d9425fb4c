// The registry commands of talvex-admin (reg get, set and delete): text values under
// HKEY_LOCAL_MACHINE, read and written through RegLib as the server reads them. Each returns the
// program's exit code and prints the reason of a refusal on stderr.
#pragma once

#include <cstdint>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "admin_support.hpp"
#include "platform/environment.hpp"
#include "platform/reglib.hpp"

namespace talvex::apps {

inline std::string KeyName(const std::string& key) {
  return "HKEY_LOCAL_MACHINE\\" + key;
}

struct RegArgs {
  std::string key;
  std::string name;
  std::string value;
};

inline int RegGet(const Environment& env, const RegArgs& args) {
  const RegLib reg(env);
  Variant value;
  const auto status = reg.ReadRegValue(RegRoot::kLocalMachine, args.key, args.name,
                                       RegValueType::kText, Variant(), value);
  if (status == RegStatus::kNotFound) {
    return Refuse("no value '" + args.name + "' under '" + KeyName(args.key) + "'");
  }
  if (status != RegStatus::kSuccess) {
    return Refuse("cannot read '" + args.name + "' under '" + KeyName(args.key) +
                  "': registry status " + std::to_string(static_cast<std::int32_t>(status)));
  }
  std::cout << value.TextOrEmpty() << "\n";
  return kExitOk;
}

inline int RegSet(const Environment& env, const RegArgs& args) {
  const RegLib reg(env);
  const auto status = reg.WriteRegValue(RegRoot::kLocalMachine, args.key, args.name,
                                        RegValueType::kText, Variant(args.value));
  if (status != RegStatus::kSuccess) {
    return Refuse("cannot write '" + args.name + "' under '" + KeyName(args.key) +
                  "': registry status " + std::to_string(static_cast<std::int32_t>(status)));
  }
  return kExitOk;
}

inline int RegDelete(const Environment& env, const RegArgs& args) {
  const RegLib reg(env);
  const auto status = reg.DeleteRegValue(RegRoot::kLocalMachine, args.key, args.name);
  if (status != RegStatus::kSuccess) {
    return Refuse("cannot delete '" + args.name + "' under '" + KeyName(args.key) +
                  "': registry status " + std::to_string(static_cast<std::int32_t>(status)));
  }
  return kExitOk;
}

// Adds "reg get", "reg set" and "reg delete"; the one given sets `action`.
inline void AddRegistryCommands(CLI::App& app, RegArgs& args, Action& action) {
  auto* reg = app.add_subcommand("reg", "registry values under HKEY_LOCAL_MACHINE");
  reg->require_subcommand(1);
  const auto add = [&](const char* name, const char* help,
                       int (*run)(const Environment&, const RegArgs&)) {
    auto* sub = reg->add_subcommand(name, help);
    sub->add_option("KEY", args.key, "key path, e.g. Software\\Corvath\\Talvex\\Database")
        ->required();
    sub->add_option("NAME", args.name, "value name")->required();
    return OnGiven(sub, action, [&args, run](const Environment& env) { return run(env, args); });
  };
  add("get", "print a text value (exit 1 when absent)", RegGet);
  add("set", "write a text value", RegSet)
      ->add_option("VALUE", args.value, "text to store")
      ->required();
  add("delete", "delete a value", RegDelete);
}

}  // namespace talvex::apps
