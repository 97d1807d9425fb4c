// The options both programs take to find their data: --data-dir and --db (with their
// environment variables), and the check that they lead somewhere usable before any work starts.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "data/backend.hpp"
#include "data/postgresql_backend.hpp"
#include "exit_codes.hpp"
#include "platform/environment.hpp"
#include "platform/failure.hpp"

namespace talvex::apps {

class DataOptions {
 public:
  explicit DataOptions(CLI::App& app) {
    app.add_option("--data-dir", dataDir_, "directory of the embedded database and the registry")
        ->envname("TALVEX_DATA_DIR")
        ->capture_default_str();
    app.add_option("--db", database_,
                   "database connection, e.g. sqlite:/path/file.db (default: the embedded "
                   "database in the data dir)")
        ->envname("TALVEX_DB");
    app.add_option("--db-connections", connections_,
                   "PostgreSQL connections that the sessions share at most (default " +
                       std::to_string(data::kPooledConnections) + ")")
        ->envname("TALVEX_DB_CONNECTIONS")
        ->check(CLI::Range(1, 1000));
  }

  Environment Env() const {
    Environment env;
    env.dataDir = dataDir_;
    env.database = database_;
    env.databaseConnections = connections_;
    return env;
  }

  // Why the database cannot be used, or nothing when it can (the data dir is created here).
  std::optional<std::string> Problem() const {
    try {
      data::CreateBackend(data::ResolveConnection("", Env()));
      return std::nullopt;
    } catch (const Failure& failure) {
      return "--data-dir/--db: " + failure.Description();
    }
  }

 private:
  std::string dataDir_ = "./talvex-data";
  std::string database_;
  std::size_t connections_ = 0;
};

// Parses the command line and checks the data options: the exit code to end with (0 after
// --help, 2 for a bad option or value, the reason as one line on stderr), or nothing to go on.
inline std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv,
                                           const DataOptions& data, std::string_view program) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << program << ": " << e.what() << " (see --help)\n";
    return kExitUsage;
  }
  if (const auto problem = data.Problem()) {
    std::cerr << program << ": " << *problem << "\n";
    return kExitUsage;
  }
  return std::nullopt;
}

}  // namespace talvex::apps
