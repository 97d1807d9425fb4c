// The configuration commands of talvex-admin (conf get, set and list). They go through the data
// layer's operations, as the suite's other programs read and write the same items. Each returns the
// program's exit code and prints the reason of a refusal on stderr.
#pragma once

#include <iostream>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "admin_support.hpp"
#include "data/data_handler.hpp"
#include "platform/environment.hpp"

namespace talvex::apps {

struct ConfArgs {
  std::string category;
  std::string name;
  std::string value;
  std::string defaultValue;
  bool defaultGiven = false;
};

inline std::string ItemName(const ConfArgs& args) {
  return "'" + args.name + "' in category '" + args.category + "'";
}

// Prints the item's value, or the default when it has no value; refuses when it has neither.
inline int ConfGet(const Environment& env, const ConfArgs& args) {
  Data data(env);
  const std::string value = data.handler.ReadConfItem(args.category, args.name, args.defaultValue);
  if (value.empty() && !args.defaultGiven) {
    return Refuse("no configuration item " + ItemName(args) + " (or it is empty)");
  }
  std::cout << value << "\n";
  return kExitOk;
}

inline int ConfSet(const Environment& env, const ConfArgs& args) {
  Data data(env);
  if (!data.handler.WriteConfItem(args.category, args.name, args.value)) {
    return Refuse("cannot set configuration item " + ItemName(args) + ": " + data.lastError);
  }
  return kExitOk;
}

// One line per item, by category and name: category, name, value.
inline int ConfList(const Environment& env, const ConfArgs& args) {
  Data data(env);
  std::optional<Recordset> items = data.handler.GetConfItems(args.category, "");
  if (!items) return Refuse("cannot list the configuration: " + data.lastError);
  for (items->MoveFirst(); !items->Eof(); items->MoveNext()) {
    std::cout << items->Fields("ConfCat").TextOrEmpty() << "\t"
              << items->Fields("ConfName").TextOrEmpty() << "\t"
              << items->Fields("ConfValue").TextOrEmpty() << "\n";
  }
  return kExitOk;
}

// Adds "conf get", "conf set" and "conf list"; the one given sets `action`.
inline void AddConfCommands(CLI::App& app, ConfArgs& args, Action& action) {
  auto* conf = app.add_subcommand("conf", "configuration items");
  conf->require_subcommand(1);
  const auto add = [&](const char* name, const char* help,
                       int (*run)(const Environment&, const ConfArgs&)) {
    return OnGiven(conf->add_subcommand(name, help), action,
                   [&args, run](const Environment& env) { return run(env, args); });
  };
  auto* get = add("get", "print an item's value (exit 1 when it has none)", ConfGet);
  get->add_option("CATEGORY", args.category, "category")->required();
  get->add_option("NAME", args.name, "item name")->required();
  auto* fallback = get->add_option("--default", args.defaultValue, "printed when there is none");
  OnGiven(get, action, [&args, fallback](const Environment& env) {
    args.defaultGiven = fallback->count() > 0;
    return ConfGet(env, args);
  });
  auto* set = add("set", "write an item's value", ConfSet);
  set->add_option("CATEGORY", args.category, "category")->required();
  set->add_option("NAME", args.name, "item name")->required();
  set->add_option("VALUE", args.value, "text to store")->required();
  add("list", "one line per item: category, name, value", ConfList)
      ->add_option("CATEGORY", args.category, "only the items of this category");
}

}  // namespace talvex::apps
