// talvex-bench-seed: the mail drops of the POP3 benchmarks in one process. Users user<F>..,
// each with the same number of outbound items of one exact POP3 size, stored through the same
// data-layer calls with the same arguments as `talvex-admin user add` and `talvex-admin item
// add`, so that the server serves exactly what it serves after those commands; one process
// instead of one per item makes seeding ten thousand items a matter of seconds.
#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>

#include "crypto/password_digest.hpp"
#include "data/backend.hpp"
#include "data/data_handler.hpp"
#include "data/maildrop_store.hpp"
#include "platform/environment.hpp"
#include "platform/guid.hpp"
#include "platform/net.hpp"
#include "session/message_composer.hpp"

namespace {

constexpr const char* kSource = "talvex-admin";   // what `item add` records as the writer
constexpr const char* kCharset = "Windows-1252";  // `item add`'s default --content
constexpr const char* kSender = "bench@example.org";
constexpr const char* kSenderName = "Bench Sender";
constexpr const char* kSubject = "Benchmark message";
constexpr int kMaxMessages = 50000;  // the per-message date below stays a valid time of day

struct Options {
  std::string dataDir = "./talvex-data";
  std::string database;
  int users = 1;
  int firstUser = 1;
  int messages = 1;
  std::int64_t size = 4096;
  std::string password = "pw";
  std::string hostName = talvex::LocalHostName();
};

std::string Logon(int user) {
  return "user" + std::to_string(user);
}

std::string Address(int user) {
  return Logon(user) + "@example.org";
}

// A fixed-width date per message: the Message-ID digest covers the date, so every item of a
// drop gets an identifier of its own, and the header block keeps one length.
std::string MessageDate(int message) {
  char text[40];
  std::snprintf(text, sizeof text, "Sat, 5 Dec 2026 %02d:%02d:%02d +0000", 10 + message / 3600,
                message / 60 % 60, message % 60);
  return text;
}

// `length` octets of text lines, each ending in CR LF as mail's lines do, the last one too.
// No line starts with a dot: the server sends a body as stored, so a client would take such a
// line for a dot-stuffed one.
std::string BenchBody(std::int64_t length) {
  static const std::string kLines[] = {
      "The quick brown fox jumps over the lazy dog, again and again. 0123456789",
      "Profiles and shell settings were both changed; figures are provisional.",
      "Regards from the benchmark: every message of a drop has this very body.",
  };
  std::string body;
  for (std::size_t n = 0; static_cast<std::int64_t>(body.size()) + 80 < length; ++n) {
    body.append(kLines[n % std::size(kLines)]).append("\r\n");
  }
  const auto rest = length - static_cast<std::int64_t>(body.size());
  if (rest >= 2) body.append(static_cast<std::size_t>(rest - 2), 'x').append("\r\n");
  return body;
}

class Seeder {
 public:
  explicit Seeder(const Options& options) : options_(options), handler_(Env(options)) {
    handler_.SetEventLog([this](talvex::Severity, std::string_view, std::string_view message) {
      lastError_ = message;
    });
  }

  static talvex::Environment Env(const Options& options) {
    talvex::Environment env;
    env.dataDir = options.dataDir;
    env.database = options.database;
    return env;
  }

  void AddUser(int user) {
    talvex::UserRecord record;
    record.userId = talvex::NewHexIdentifier();
    if (record.userId.empty()) throw std::runtime_error("no random source for a user identifier");
    record.userName = Logon(user);
    record.displayName = record.userName;
    record.logonName = record.userName;
    record.email = Address(user);
    record.userPassword = talvex::PasswordDigest(options_.password, record.userId);
    record.pop3User = "1";
    if (!handler_.WriteUser(record)) Fail("cannot add " + Logon(user));
  }

  void AddItem(int user, int message) {
    const talvex::data::ItemHeader header = Header(user, message);
    const std::int64_t bodyLength =
        options_.size - talvex::MessageSize({header, 0}, options_.hostName);
    if (bodyLength < 2) Fail("--size is too small for the header block of the items");
    const std::string body = BenchBody(bodyLength);
    const auto stored = Write(header, body);
    if (stored.bodyLength != bodyLength) {
      Fail("the stored items would not be " + std::to_string(options_.size) +
           " octets: the content settings encode the body");
    }
    if (stored.content == content_) {
      learnt_ = true;
      return;
    }
    // The stored content description follows the registry's settings; the first item shows
    // it, and is written again with the body length that the real header block leaves.
    if (learnt_) Fail("the stored content description changed while seeding");
    if (!handler_.RemoveGWItem(stored.id)) Fail("cannot remove the sizing item");
    content_ = stored.content;
    learnt_ = true;
    AddItem(user, message);
  }

 private:
  struct Stored {
    std::string id;
    std::string content;
    std::int64_t bodyLength;
  };

  talvex::data::ItemHeader Header(int user, int message) const {
    talvex::data::ItemHeader header;
    header.dtReceived = MessageDate(message);
    header.subject = kSubject;
    header.content = content_;
    header.messageId = "";
    header.fromName = kSenderName;
    header.fromAddress = kSender;
    header.toAddress = Address(user);
    return header;
  }

  Stored Write(const talvex::data::ItemHeader& header, std::string body) {
    std::string messageId;
    std::string subject = *header.subject;
    talvex::Variant content = std::string(kCharset);
    Stored stored;
    if (!handler_.WriteGWItem(*header.dtReceived, kSource, messageId, content, kSender, kSenderName,
                              *header.toAddress, subject, body, "O", "", "", &stored.id)) {
      Fail("cannot store an item for " + *header.toAddress);
    }
    stored.content = content.TextOrEmpty();
    stored.bodyLength = static_cast<std::int64_t>(body.size());
    return stored;
  }

  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error(lastError_.empty() ? what : what + ": " + lastError_);
  }

  const Options& options_;
  talvex::DataHandler handler_;
  std::string lastError_;
  std::string content_ = "text/plain; charset=\"Windows-1252\"";
  bool learnt_ = false;
};

void AddOptions(CLI::App& app, Options& options) {
  app.add_option("--data-dir", options.dataDir, "directory of the embedded database")
      ->capture_default_str();
  app.add_option("--db", options.database, "database connection (default: the embedded one)");
  app.add_option("--users", options.users, "users to add")->check(CLI::Range(1, 1000000));
  app.add_option("--first-user", options.firstUser, "number of the first user")
      ->check(CLI::Range(1, 1000000));
  app.add_option("--messages", options.messages, "items per user")
      ->check(CLI::Range(0, kMaxMessages));
  app.add_option("--size", options.size, "octets of each item as LIST and RETR count them")
      ->check(CLI::Range(std::int64_t{1}, std::int64_t{1} << 30));
  app.add_option("--password", options.password, "every user's password")->capture_default_str();
  app.add_option("--host-name", options.hostName,
                 "the server's host name (in each Message-ID, so in the size)")
      ->capture_default_str();
}

int Seed(const Options& options) {
  // Creates the data directory and the schema, as talvex-admin does before any command.
  talvex::data::CreateBackend(talvex::data::ResolveConnection("", Seeder::Env(options)));
  Seeder seeder(options);
  for (int user = options.firstUser; user < options.firstUser + options.users; ++user) {
    seeder.AddUser(user);
    for (int message = 1; message <= options.messages; ++message) seeder.AddItem(user, message);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    CLI::App app{"Seeds users and items of one exact size for the POP3 benchmarks"};
    Options options;
    AddOptions(app, options);
    try {
      app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
      return app.exit(error);
    }
    return Seed(options);
  } catch (const std::exception& error) {
    std::cerr << "talvex-bench-seed: " << error.what() << "\n";
    return 1;
  }
}
