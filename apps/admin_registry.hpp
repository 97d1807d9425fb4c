// The registry commands of talvex-admin (reg get, set and delete): text values under
// HKEY_LOCAL_MACHINE, read and written through RegLib as the server reads them. Each returns the
// program's exit code and prints the reason of a refusal on stderr.
#pragma once

#include <cstdint>
#include <iostream>
#include <string>

#include "platform/environment.hpp"
#include "platform/reglib.hpp"

namespace talvex::apps {

inline int FailRegistry(const std::string& reason) {
  std::cerr << "talvex-admin: " << reason << "\n";
  return 1;
}

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
    return FailRegistry("no value '" + args.name + "' under '" + KeyName(args.key) + "'");
  }
  if (status != RegStatus::kSuccess) {
    return FailRegistry("cannot read '" + args.name + "' under '" + KeyName(args.key) +
                        "': registry status " + std::to_string(static_cast<std::int32_t>(status)));
  }
  std::cout << value.TextOrEmpty() << "\n";
  return 0;
}

inline int RegSet(const Environment& env, const RegArgs& args) {
  const RegLib reg(env);
  const auto status = reg.WriteRegValue(RegRoot::kLocalMachine, args.key, args.name,
                                        RegValueType::kText, Variant(args.value));
  if (status != RegStatus::kSuccess) {
    return FailRegistry("cannot write '" + args.name + "' under '" + KeyName(args.key) +
                        "': registry status " + std::to_string(static_cast<std::int32_t>(status)));
  }
  return 0;
}

inline int RegDelete(const Environment& env, const RegArgs& args) {
  const RegLib reg(env);
  const auto status = reg.DeleteRegValue(RegRoot::kLocalMachine, args.key, args.name);
  if (status != RegStatus::kSuccess) {
    return FailRegistry("cannot delete '" + args.name + "' under '" + KeyName(args.key) +
                        "': registry status " + std::to_string(static_cast<std::int32_t>(status)));
  }
  return 0;
}

}  // namespace talvex::apps
