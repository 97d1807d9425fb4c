// The DataHandler frame: creation, the error reporter's line and message type, the
// connection string and the transaction-log switch.
#include <gtest/gtest.h>

#include <fstream>

#include "data/data_errors.hpp"
#include "data_support.hpp"
#include "host/resources.hpp"

namespace talvex::test {
namespace {

TEST(DataHandlerFrame, ErrorLineAndMessageType) {
  const Failure failure("S", 5, "D");
  EXPECT_EQ(ErrorReportLine("Unable to remove POP3 mail item due to a database error", failure),
            "Unable to remove POP3 mail item due to a database error: [S: 5. D]");
  EXPECT_EQ(ErrorReportLine("", failure), "[S: 5. D]");
  EXPECT_EQ(ErrorMessageType(-2147467259), 7);
  for (const std::int32_t number : {-2147217900, -2147217913, 0, 429, 5}) {
    EXPECT_EQ(ErrorMessageType(number), 4) << number;
  }
}

TEST(DataHandlerFrame, CreationFailsWhenTheDataAccessCannotBeMade) {
  TempDir dir;
  std::ofstream(dir.Path() / "file") << "not a directory";
  const std::string expected =
      "Cannot instantiate object 'Quillon.dll'\r\n\r\n Please repair this installation or "
      "re-install the application.";
  for (const Environment& env : {Environment{dir.Path() / "file" / "data", ""},
                                 Environment{dir.Path(), "postgresql://localhost/talvex"}}) {
    try {
      DataHandler handler(env);
      ADD_FAILURE() << "created with data dir " << env.dataDir;
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.Source(), "Data Handler");
      EXPECT_EQ(failure.Number(), -20042304);
      EXPECT_EQ(failure.Description(), expected);
    }
  }
}

TEST(DataHandlerFrame, ConnectionStringGoesWithEveryCall) {
  const auto home = MakeSqliteTestDatabase();
  const auto other = MakeSqliteTestDatabase();
  other->Exec(
      "INSERT INTO Users (UserID, LogonName, Email, POP3User) "
      "VALUES ('0123456789ABCDEF0123456789ABCDEF', 'carol', 'carol@example.com', 1)");
  Session session(home->Env());
  EXPECT_EQ(session.data.ConnectionString(), "");
  EXPECT_EQ(session.data.GetP3UserDetails("carol").RecordCount(), 0);
  session.data.ConnectionString("sqlite:" + other->Env().EmbeddedDatabasePath().string());
  EXPECT_EQ(session.data.GetP3UserDetails("carol").RecordCount(), 1);
  EXPECT_EQ(session.data.GetP3UserDetails("carol").RecordCount(), 1);
  session.data.ConnectionString("");
  EXPECT_EQ(session.data.GetP3UserDetails("carol").RecordCount(), 0);

  // A connection that cannot be made fails the call, logged as a provider error.
  session.data.ConnectionString("postgresql://user:secret@db/talvex");
  EXPECT_FALSE(session.data.LockP3MailDrop("carol@example.com", kSessionA));
  session.data.ConnectionString("mysql://db");
  EXPECT_FALSE(session.data.RemoveP3Items(kSessionA));
  ASSERT_EQ(session.log.size(), 2u);
  EXPECT_EQ(session.log[0].messageType, 7);
  EXPECT_NE(session.log[0].message.find("PostgreSQL backend is not built yet"), std::string::npos);
  EXPECT_EQ(session.log[0].message.find("secret"), std::string::npos);
  EXPECT_NE(session.log[1].message.find("neither sqlite:PATH nor postgresql://"),
            std::string::npos);
}

TEST(DataHandlerFrame, TransactionLogSwitchIsReadOnceAndMeansExactlyOne) {
  TempDir dir;
  const Environment env{dir.Path(), ""};
  const RegLib registry(env);
  const auto set = [&](const char* value) {
    registry.WriteRegValue(regroot::kLocalMachine, resources::DatabaseSettingsKey(), "TLOff",
                           regvalue::kText, Variant(value));
  };
  EXPECT_FALSE(DataHandler(env).TransLogOff());  // absent: "0"
  for (const char* off : {"0", "01", "true", " 1"}) {
    set(off);
    EXPECT_FALSE(DataHandler(env).TransLogOff()) << off;
  }
  DataHandler early(env);
  EXPECT_FALSE(early.TransLogOff());
  set("1");
  EXPECT_TRUE(DataHandler(env).TransLogOff());
  EXPECT_FALSE(early.TransLogOff());  // kept from its first read
}

}  // namespace
}  // namespace talvex::test
