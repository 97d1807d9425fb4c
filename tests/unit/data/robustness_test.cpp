// The embedded database under bad input, damaged or read-only files, other processes writing
// at the same time, and a writer killed in the middle of its work.
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <utility>

#include "data/data_errors.hpp"
#include "data/sql_catalog.hpp"
#include "data_support.hpp"
#include "platform/sqlite.hpp"

namespace talvex::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// The child runs `body` and exits with its result (1 when it throws), never returning into
// the test framework.
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

TEST(DataRobustness, SchemaIsMadeOnceInWalModeAndNewerOnesAreRefused) {
  const auto db = MakeSqliteTestDatabase();
  DataHandler(db->Env()).GetP3UserDetails("again");
  const int latest = data::SqlCatalog::Sqlite().LatestVersion();
  EXPECT_EQ(db->QueryInt("SELECT count(*) FROM SchemaVersion"), latest);  // one row per version
  EXPECT_EQ(db->QueryInt("SELECT count(*) FROM pragma_journal_mode WHERE journal_mode = 'wal'"), 1);
  db->Exec("INSERT INTO SchemaVersion (Version) VALUES (99)");
  EXPECT_THAT(
      Raised([&] { DataHandler(db->Env()).GetP3MailItem("1"); }).Description(),
      HasSubstr("schema version 99 is newer than this program's (" + std::to_string(latest) + ")"));
}

TEST(DataRobustness, BadInputFailsClearlyAndChangesNothing) {
  const auto db = MakeSqliteTestDatabase();
  Session session(db->Env());
  const std::string id = WriteItem(session.data, "alice@example.com");
  ASSERT_TRUE(session.data.LockP3MailDrop("alice@example.com", kSessionA));
  ASSERT_EQ(Ids(session.data.GetP3MailDrop("alice@example.com", kSessionA)).size(), 1u);

  EXPECT_TRUE(Raised([&] { session.data.GetP3MailItem("abc"); }).Is(ErrorNumber::kDbConversion));
  EXPECT_TRUE(Raised([&] {
                session.data.GetP3UserDetails(std::string(256, 'x'));
              }).Is(ErrorNumber::kDbOverflow));
  EXPECT_FALSE(session.data.LockP3MailDrop("alice@example.com", std::string(33, 'A')));
  EXPECT_FALSE(session.data.UpdateP3ItemStatus(id, ""));  // no status: the engine refuses
  ASSERT_EQ(session.log.size(), 2u);
  EXPECT_EQ(session.log[0].message,
            "Unable to lock POP3 mail drop to a database connectivity error: [SMS_Quillon: "
            "-2147217833. Parameter 'SessionID' (adChar): a text of 33 characters does not fit "
            "in 32]");
  EXPECT_EQ(session.log[1].severity, Severity::kFailure);
  EXPECT_THAT(session.log[1].message, HasSubstr("NOT NULL constraint failed"));
  EXPECT_EQ(db->QueryInt("SELECT Status FROM GatewayItems WHERE GWQID = " + id), 0);
  EXPECT_EQ(db->QueryInt("SELECT count(*) FROM MailDropLocks"), 1);
}

TEST(DataRobustness, CorruptFileFailsClearlyAndIsLeftAsItWas) {
  TempDir dir;
  const Environment env{dir.Path(), ""};
  std::string garbage;
  while (garbage.size() < 8192) garbage += "This is not a database. ";
  std::ofstream(env.EmbeddedDatabasePath(), std::ios::binary) << garbage;
  Session session(env);
  const Failure failure = Raised([&] { session.data.GetP3UserDetails("alice"); });
  EXPECT_TRUE(failure.Is(ErrorNumber::kDbCorrupt));
  EXPECT_THAT(failure.Description(), HasSubstr("file is not a database"));
  EXPECT_FALSE(session.data.LockP3MailDrop("alice@example.com", kSessionA));
  ASSERT_EQ(session.log.size(), 1u);
  EXPECT_EQ(session.log[0].severity, Severity::kFailure);
  std::ifstream in(env.EmbeddedDatabasePath(), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), garbage);
}

TEST(DataRobustness, ReadOnlyFileFailsClearlyAndStaysIntact) {
  const auto db = MakeSqliteTestDatabase();
  const Environment env = db->Env();
  {
    DataHandler data(env);
    WriteItem(data, "alice@example.com");
  }
  const fs::path report = env.dataDir.parent_path() / "report";
  std::ofstream(report).close();
  fs::permissions(report, fs::perms::all);
  fs::permissions(env.dataDir.parent_path(), fs::perms::others_exec, fs::perm_options::add);
  const auto noWrite =
      fs::perms::all & ~(fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write);
  fs::permissions(env.dataDir, noWrite);
  fs::permissions(env.EmbeddedDatabasePath(), noWrite);
  struct Restore {  // lets the temporary directory go
    fs::path dir;
    ~Restore() { fs::permissions(dir, fs::perms::owner_all); }
  } restore{env.dataDir};

  const pid_t child = Fork([&] {
    // The superuser writes through any permission: take an ordinary user's rights.
    if (geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
      return 3;
    }
    Session session(env);
    std::ofstream out(report);
    out << session.data.LockP3MailDrop("alice@example.com", kSessionA);
    for (const LogLine& line : session.log)
      out << '|' << static_cast<int>(line.severity) << '|' << line.message;
    return 0;
  });
  ASSERT_EQ(ExitCode(child), 0);
  std::ifstream in(report);
  const std::string text(std::istreambuf_iterator<char>(in), {});
  EXPECT_THAT(text, StartsWith("0|4|Unable to lock POP3 mail drop to a database connectivity "
                               "error: [SMS_Quillon: -2147220990. SMS_LockP3MailDrop: "));
  EXPECT_THAT(text, ::testing::EndsWith("attempt to write a readonly database]"));
  EXPECT_EQ(db->QueryInt("SELECT count(*) FROM GatewayItems WHERE Status = 0"), 1);
  EXPECT_EQ(db->QueryInt("SELECT count(*) FROM MailDropLocks"), 0);
}

TEST(DataRobustness, WritersInTwoProcessesWaitForEachOther) {
  const auto db = MakeSqliteTestDatabase();
  const Environment env = db->Env();
  constexpr int kEach = 40;
  const pid_t child = Fork([&] {
    DataHandler other(env);
    for (int i = 0; i < kEach; ++i) WriteItem(other, "bob@example.com");
    return 0;
  });
  DataHandler data(env);
  for (int i = 0; i < kEach; ++i) WriteItem(data, "carol@example.com");
  ASSERT_EQ(ExitCode(child), 0);
  EXPECT_EQ(db->QueryInt("SELECT count(*) FROM GatewayItems"), 2 * kEach);
}

TEST(DataRobustness, KilledWriterLosesNoCommittedItem) {
  const auto db = MakeSqliteTestDatabase();
  const Environment env = db->Env();
  const pid_t child = Fork([&] {
    DataHandler data(env);
    for (int i = 0; i < 100000; ++i) WriteItem(data, "alice@example.com", std::string(2000, 'x'));
    return 0;
  });
  // What a reader in this process sees while the other writes is committed; the writer dies
  // with more on the way.
  Session session(env);
  std::vector<std::string> committed;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (committed.size() < 30 && std::chrono::steady_clock::now() < deadline) {
    committed = Ids(session.data.GetGWItems("O"));
  }
  kill(child, SIGKILL);
  EXPECT_EQ(ExitCode(child), -1);
  ASSERT_GE(committed.size(), 30u);
  for (const std::string& id : committed) {
    EXPECT_EQ(session.data.GetP3ItemStats(id).RecordCount(), 1) << id;
  }
  EXPECT_EQ(
      db->QueryInt("SELECT count(*) FROM pragma_integrity_check WHERE integrity_check = 'ok'"), 1);
}

// A VFS in front of the default one that counts the syncs of write-ahead logs, made the
// default while it lives: the connections opened meanwhile go through it. The log files it
// opens are the default VFS's own, with their methods but for a counting xSync.
class LogSyncCounter {
 public:
  LogSyncCounter() : real_(sqlite3_vfs_find(nullptr)) {
    vfs_ = *real_;
    vfs_.zName = "log_sync_counter";
    vfs_.xOpen = &Open;
    active_ = this;
    sqlite3_vfs_register(&vfs_, 1);
  }
  ~LogSyncCounter() {
    sqlite3_vfs_unregister(&vfs_);
    sqlite3_vfs_register(real_, 1);
    active_ = nullptr;
  }
  LogSyncCounter(const LogSyncCounter&) = delete;
  LogSyncCounter& operator=(const LogSyncCounter&) = delete;

  int Syncs() const { return syncs_; }

 private:
  static int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags,
                  int* outFlags) {
    LogSyncCounter& self = *active_;
    const int rc = self.real_->xOpen(self.real_, name, file, flags, outFlags);
    if (rc != SQLITE_OK || file->pMethods == nullptr || (flags & SQLITE_OPEN_WAL) == 0) return rc;
    if (self.methods_.iVersion == 0) {
      self.realMethods_ = file->pMethods;
      self.methods_ = *file->pMethods;
      self.methods_.xSync = [](sqlite3_file* f, int syncFlags) {
        ++active_->syncs_;
        return active_->realMethods_->xSync(f, syncFlags);
      };
    }
    file->pMethods = &self.methods_;
    return SQLITE_OK;
  }

  static inline LogSyncCounter* active_ = nullptr;
  sqlite3_vfs* real_;
  sqlite3_vfs vfs_{};
  const sqlite3_io_methods* realMethods_ = nullptr;
  sqlite3_io_methods methods_{};
  int syncs_ = 0;
};

// The lock, the listing and the release may be undone by a power loss (a drop looks locked a
// while, or a message comes again); a mark, a removal and a stored item must reach the disk
// before the call returns. Which calls synced the log tells which.
TEST(DataRobustness, OnlyLockListingAndReleaseCommitWithoutWaitingForTheDisk) {
  const auto db = MakeSqliteTestDatabase();
  const LogSyncCounter counter;
  Session session(db->Env());
  auto synced = [&, seen = 0]() mutable {
    const int now = counter.Syncs();
    return std::exchange(seen, now) != now;
  };
  const std::string id = WriteItem(session.data, "alice@example.com");
  EXPECT_TRUE(synced());
  ASSERT_TRUE(session.data.LockP3MailDrop("alice@example.com", kSessionA));
  EXPECT_FALSE(synced());
  ASSERT_EQ(Ids(session.data.GetP3MailDrop("alice@example.com", kSessionA)),
            std::vector<std::string>{id});
  EXPECT_FALSE(synced());
  ASSERT_TRUE(session.data.UpdateP3ItemStatus(id, 5));
  EXPECT_TRUE(synced());
  ASSERT_TRUE(session.data.SetP3ItemsStatus(kSessionA, 4, 0));  // RSET
  EXPECT_FALSE(synced());
  ASSERT_TRUE(session.data.RemoveP3Items(kSessionA));  // nothing marked: nothing to sync
  EXPECT_FALSE(synced());
  ASSERT_TRUE(session.data.UpdateP3ItemStatus(id, 5));
  EXPECT_TRUE(synced());
  ASSERT_TRUE(session.data.RemoveP3Items(kSessionA));
  EXPECT_TRUE(synced());
  ASSERT_TRUE(session.data.SetP3ItemsStatus(kSessionA, 0, -1));
  EXPECT_FALSE(synced());
  session.data.EvaluateSQL("CREATE TABLE Scratch (x)");
  EXPECT_TRUE(synced());
  EXPECT_EQ(db->QueryInt("SELECT count(*) FROM GatewayItems WHERE GWQID = " + id), 0);
}

}  // namespace
}  // namespace talvex::test
