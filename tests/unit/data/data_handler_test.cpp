// The DataHandler frame: creation, the message type of a failure, the connection string and
// the transaction-log switch.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "data/data_errors.hpp"
#include "data_support.hpp"
#include "platform/resources.hpp"

namespace talvex::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// The logged line of a failure is shown with every catalogue operation (catalogue_test.cpp).
TEST(DataHandlerFrame, MessageTypeOfAnErrorNumber) {
  EXPECT_EQ(ErrorMessageType(-2147467259), Severity::kDetail);
  for (const std::int32_t number : {-2147217900, -2147467258, 0, 5}) {
    EXPECT_EQ(ErrorMessageType(number), Severity::kFailure) << number;
  }
}

TEST(DataHandlerFrame, CreationFailsWhenTheDataAccessCannotBeMade) {
  TempDir dir;
  std::ofstream(dir.Path() / "file") << "not a directory";
  for (const Environment& env : {Environment{dir.Path() / "file" / "data", ""},
                                 Environment{dir.Path(), "mysql://localhost/talvex"}}) {
    const Failure failure = Raised([&] { DataHandler handler(env); });
    EXPECT_EQ(failure.Source(), "Data Handler");
    EXPECT_EQ(failure.Number(), -20042304);
    EXPECT_EQ(failure.Description(),
              "Cannot instantiate object 'Quillon.dll'\r\n\r\n Please repair this installation or "
              "re-install the application.");
  }
}

TEST(DataHandlerFrame, ConnectionStringGoesWithEveryCall) {
  const auto home = MakeSqliteTestDatabase();
  const auto other = MakeSqliteTestDatabase();
  other->Exec(
      "INSERT INTO Users (UserID, LogonName, Email, POP3User) "
      "VALUES ('0123456789ABCDEF0123456789ABCDEF', 'carol', 'carol@example.com', 1)");
  Session session(home->Env());
  EXPECT_EQ(session.data.GetP3UserDetails("carol").RecordCount(), 0);
  session.data.ConnectionString("sqlite:" + other->Env().EmbeddedDatabasePath().string());
  EXPECT_EQ(session.data.GetP3UserDetails("carol").RecordCount(), 1);
  session.data.ConnectionString("");
  EXPECT_EQ(session.data.GetP3UserDetails("carol").RecordCount(), 0);

  // A connection that cannot be made fails the call, logged without the password.
  for (const char* bad :
       {"postgresql://user:secret@/talvex?host=/nonexistent&connect_timeout=2", "mysql://db"}) {
    session.data.ConnectionString(bad);
    EXPECT_FALSE(session.data.LockP3MailDrop("carol@example.com", kSessionA)) << bad;
  }
  ASSERT_EQ(session.log.size(), 2u);
  EXPECT_EQ(session.log[0].severity, Severity::kFailure);
  EXPECT_THAT(session.log[0].message, HasSubstr("PostgreSQL: cannot connect"));
  EXPECT_THAT(session.log[0].message, Not(HasSubstr("secret")));
  EXPECT_THAT(session.log[1].message, HasSubstr("neither sqlite:PATH nor postgresql://"));
}

TEST(DataHandlerFrame, TransactionLogSwitchIsReadOnceAndMeansExactlyOne) {
  TempDir dir;
  const Environment env{dir.Path(), ""};
  const auto set = [&](const char* value) {
    RegLib(env).WriteRegValue(RegRoot::kLocalMachine, resources::DatabaseSettingsKey(), "TLOff",
                              RegValueType::kText, Variant(value));
  };
  EXPECT_FALSE(DataHandler(env).TransLogOff());  // absent
  for (const char* off : {"01", " 1"}) {
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
