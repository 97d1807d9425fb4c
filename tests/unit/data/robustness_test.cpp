// The embedded database under bad input, damaged or read-only files, other processes writing
// at the same time, and a writer killed in the middle of its work.
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "data/data_errors.hpp"
#include "data_support.hpp"
#include "platform/sqlite.hpp"

namespace talvex::test {
namespace {

namespace fs = std::filesystem;

class Pipe {
 public:
  Pipe() {
    if (pipe(fds_) != 0) throw std::runtime_error("pipe failed");
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  void CloseRead() { Close(fds_[0]); }
  void CloseWrite() { Close(fds_[1]); }
  // Whole values only; false at the end of the stream.
  template <typename T>
  bool Read(T& value) {
    auto* bytes = reinterpret_cast<char*>(&value);
    for (std::size_t got = 0; got < sizeof value;) {
      const ssize_t n = read(fds_[0], bytes + got, sizeof value - got);
      if (n <= 0) return false;
      got += static_cast<std::size_t>(n);
    }
    return true;
  }
  template <typename T>
  void Write(const T& value) {
    if (write(fds_[1], &value, sizeof value) != static_cast<ssize_t>(sizeof value)) _exit(4);
  }
  std::string ReadAll() {
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = read(fds_[0], buffer, sizeof buffer)) > 0;) {
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
  }
  void WriteText(const std::string& text) {
    if (write(fds_[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) _exit(4);
  }

 private:
  static void Close(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  int fds_[2] = {-1, -1};
};

// Forks; the child runs `body` and exits with its result (1 when it throws), never returning
// into the test framework.
pid_t Fork(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  int code = 1;
  try {
    code = body();
  } catch (...) {
  }
  _exit(code);
}

int ExitCode(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DataRobustness, SchemaIsMadeOnceInWalMode) {
  const auto db = MakeSqliteTestDatabase();
  DataHandler(db->Env()).GetP3UserDetails("again");
  EXPECT_EQ(db->QueryInt("SELECT count(*) FROM SchemaVersion"), 1);
  EXPECT_EQ(db->QueryInt("SELECT max(Version) FROM SchemaVersion"), 1);
  sqlite::Database raw(db->Env().EmbeddedDatabasePath(), sqlite::Database::Mode::ReadOnly);
  sqlite::Statement mode(raw, "PRAGMA journal_mode");
  ASSERT_TRUE(mode.Step());
  EXPECT_EQ(mode.ColumnText(0), "wal");

  db->Exec("INSERT INTO SchemaVersion (Version) VALUES (99)");
  try {
    DataHandler(db->Env()).GetP3MailItem("1");
    ADD_FAILURE() << "a newer schema was used";
  } catch (const Failure& failure) {
    EXPECT_NE(failure.Description().find("schema version 99 is newer than this program's (1)"),
              std::string::npos)
        << failure.Description();
  }
}

TEST(DataRobustness, BadInputFailsClearlyAndChangesNothing) {
  const auto db = MakeSqliteTestDatabase();
  DataAccess access(db->Env());
  const std::string id = std::to_string(WriteItem(access, "alice@example.com"));
  Session session(db->Env());
  ASSERT_TRUE(session.data.LockP3MailDrop("alice@example.com", kSessionA));
  ASSERT_EQ(Ids(session.data.GetP3MailDrop("alice@example.com", kSessionA)).size(), 1u);

  const auto number = [](const std::function<void()>& call) {
    try {
      call();
    } catch (const Failure& failure) {
      return failure.Number();
    }
    return 0;
  };
  EXPECT_EQ(number([&] { session.data.GetP3MailItem("abc"); }), data::dberr::kConversion);
  EXPECT_EQ(number([&] { session.data.GetP3UserDetails(std::string(256, 'x')); }),
            data::dberr::kOverflow);
  EXPECT_FALSE(session.data.LockP3MailDrop("alice@example.com", std::string(33, 'A')));
  EXPECT_FALSE(session.data.UpdateP3ItemStatus(id, "70000"));
  EXPECT_FALSE(session.data.UpdateP3ItemStatus(id, ""));  // no status: the engine refuses
  ASSERT_EQ(session.log.size(), 3u);
  EXPECT_EQ(session.log[0].message,
            "Unable to lock POP3 mail drop to a database connectivity error: [SMS_Quillon: "
            "-2147217833. Parameter 'SessionID' (adChar): a text of 33 characters does not fit "
            "in 32]");
  EXPECT_EQ(session.log[0].messageType, 4);
  EXPECT_EQ(session.log[1].messageType, 4);
  EXPECT_EQ(session.log[2].messageType, 7);
  EXPECT_NE(session.log[2].message.find("NOT NULL constraint failed"), std::string::npos);
  EXPECT_EQ(db->QueryInt("SELECT Status FROM GatewayItems WHERE GWQID = " + id), 4);
  EXPECT_EQ(
      db->QueryInt("SELECT count(*) FROM MailDropLocks WHERE SessionID = '" + kSessionA + "'"), 1);
}

TEST(DataRobustness, CorruptFileFailsClearlyAndIsLeftAsItWas) {
  TempDir dir;
  const Environment env{dir.Path(), ""};
  std::string garbage;
  while (garbage.size() < 8192) garbage += "This is not a database. ";
  std::ofstream(env.EmbeddedDatabasePath(), std::ios::binary) << garbage;

  Session session(env);
  try {
    session.data.GetP3UserDetails("alice");
    ADD_FAILURE() << "read a corrupt file";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.Number(), data::dberr::kProvider);
    EXPECT_NE(failure.Description().find("file is not a database"), std::string::npos)
        << failure.Description();
  }
  EXPECT_FALSE(session.data.LockP3MailDrop("alice@example.com", kSessionA));
  ASSERT_EQ(session.log.size(), 1u);
  EXPECT_EQ(session.log[0].messageType, 7);
  std::ifstream in(env.EmbeddedDatabasePath(), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), garbage);
}

TEST(DataRobustness, ReadOnlyFileFailsClearlyAndStaysIntact) {
  const auto db = MakeSqliteTestDatabase();
  const Environment env = db->Env();
  {
    DataAccess access(env);
    WriteItem(access, "alice@example.com");
  }
  const fs::path file = env.EmbeddedDatabasePath();
  const auto readOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  const auto traversable =
      readOnly | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
  fs::permissions(env.dataDir.parent_path(), traversable | fs::perms::owner_write);
  fs::permissions(env.dataDir, traversable);
  fs::permissions(file, readOnly);
  struct Restore {
    const Environment& env;
    ~Restore() {
      fs::permissions(env.dataDir, fs::perms::owner_all);
      fs::permissions(env.EmbeddedDatabasePath(), fs::perms::owner_read | fs::perms::owner_write);
    }
  } restore{env};

  Pipe report;
  const pid_t child = Fork([&] {
    report.CloseRead();
    // The superuser writes through any permission: take an ordinary user's rights.
    if (geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
      return 3;
    }
    Session session(env);
    const bool locked = session.data.LockP3MailDrop("alice@example.com", kSessionA);
    std::ostringstream out;
    out << locked << '|' << session.log.size() << '|';
    if (!session.log.empty()) out << session.log[0].messageType << '|' << session.log[0].message;
    report.WriteText(out.str());
    return 0;
  });
  report.CloseWrite();
  const std::string text = report.ReadAll();
  ASSERT_EQ(ExitCode(child), 0);
  EXPECT_EQ(text.rfind("0|1|7|Unable to lock POP3 mail drop to a database connectivity error: "
                       "[SMS_Quillon: -2147467259. SMS_LockP3MailDrop: ",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find("attempt to write a readonly database]"), std::string::npos) << text;
  EXPECT_EQ(db->QueryInt("SELECT count(*) FROM GatewayItems WHERE Status = 0"), 1);
  EXPECT_EQ(db->QueryInt("SELECT count(*) FROM MailDropLocks"), 0);
}

TEST(DataRobustness, OtherProcessesReadAndWriteAtTheSameTime) {
  const auto db = MakeSqliteTestDatabase();
  const Environment env = db->Env();
  DataAccess access(env);
  const std::int64_t seed = WriteItem(access, "alice@example.com");
  Session reader(env);

  // A reader goes on while another process holds the write lock, and sees only committed
  // items.
  Pipe started, proceed;
  pid_t child = Fork([&] {
    sqlite::Database writer(env.EmbeddedDatabasePath(), sqlite::Database::Mode::ReadWrite);
    writer.Exec(
        "BEGIN IMMEDIATE; INSERT INTO GatewayItems (ToAddress, Direction) "
        "VALUES ('alice@example.com', 'O')");
    started.Write('s');
    char go = 0;
    proceed.Read(go);
    writer.Exec("COMMIT");
    return 0;
  });
  char signal = 0;
  ASSERT_TRUE(started.Read(signal));
  EXPECT_EQ(reader.data.GetP3ItemStats(std::to_string(seed)).RecordCount(), 1);
  EXPECT_EQ(reader.data.GetP3ItemStats(std::to_string(seed + 1)).RecordCount(), 0);
  proceed.Write('g');
  ASSERT_EQ(ExitCode(child), 0);
  EXPECT_EQ(reader.data.GetP3ItemStats(std::to_string(seed + 1)).RecordCount(), 1);

  // Two writers at once: each waits for the other's transactions and loses none.
  constexpr int kEach = 40;
  child = Fork([&] {
    DataAccess other(env);
    for (int i = 0; i < kEach; ++i) WriteItem(other, "bob@example.com");
    return 0;
  });
  for (int i = 0; i < kEach; ++i) WriteItem(access, "carol@example.com");
  ASSERT_EQ(ExitCode(child), 0);
  EXPECT_EQ(db->QueryInt("SELECT count(*) FROM GatewayItems"), 2 + 2 * kEach);
}

TEST(DataRobustness, KilledWriterLosesNoCommittedItem) {
  const auto db = MakeSqliteTestDatabase();
  const Environment env = db->Env();
  Pipe reports;
  const pid_t child = Fork([&] {
    reports.CloseRead();
    DataAccess access(env);
    const std::string body(2000, 'x');
    for (int i = 0; i < 100000; ++i) reports.Write(WriteItem(access, "alice@example.com", body));
    return 0;
  });
  reports.CloseWrite();
  std::vector<std::int64_t> committed;
  for (std::int64_t id = 0; committed.size() < 30 && reports.Read(id);) committed.push_back(id);
  kill(child, SIGKILL);
  for (std::int64_t id = 0; reports.Read(id);) committed.push_back(id);
  EXPECT_EQ(ExitCode(child), -1);
  ASSERT_GE(committed.size(), 30u);

  Session session(env);
  for (const std::int64_t id : committed) {
    EXPECT_EQ(session.data.GetP3ItemStats(std::to_string(id)).RecordCount(), 1) << id;
  }
  sqlite::Database raw(env.EmbeddedDatabasePath(), sqlite::Database::Mode::ReadWrite);
  sqlite::Statement check(raw, "PRAGMA integrity_check");
  ASSERT_TRUE(check.Step());
  EXPECT_EQ(check.ColumnText(0), "ok");
}

}  // namespace
}  // namespace talvex::test
