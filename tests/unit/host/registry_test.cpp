// Registry values: status codes, value types and the rules for empty and oversized values.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/reglib.hpp"
#include "platform/resources.hpp"
#include "loopback.hpp"

namespace talvex {
namespace {

class Registry : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  Environment env_{dir_.Path(), ""};
  RegLib reg_{env_};
  RegistryStore store_{env_.RegistryPath()};
};

constexpr const char* kKey = "Software\\Corvath\\Talvex\\Tests";

TEST_F(Registry, TextValuesRoundTripWithTheirTerminator) {
  ASSERT_EQ(reg_.WriteRegValue(regroot::kLocalMachine, kKey, "Name", regvalue::kText, "abc"), 0);
  const auto stored = store_.QueryValue("HKLM", kKey, "Name");
  EXPECT_EQ(stored.type, regtype::kString);
  EXPECT_EQ(stored.data, std::string("abc\0", 4));

  // The empty text is stored as the one-character text NUL and read back as empty.
  ASSERT_EQ(reg_.WriteRegValue(regroot::kLocalMachine, kKey, "Empty", regvalue::kText, ""), 0);
  EXPECT_EQ(store_.QueryValue("HKLM", kKey, "Empty").data, std::string(2, '\0'));
  Variant value = "stale";
  EXPECT_EQ(reg_.ReadRegValue(regroot::kLocalMachine, kKey, "Empty", regvalue::kText, "d", value),
            0);
  EXPECT_EQ(value, Variant(""));

  // Non-ASCII text is kept in the code page and comes back as the same text; key paths and
  // names compare without regard to case.
  ASSERT_EQ(
      reg_.WriteRegValue(regroot::kLocalMachine, kKey, "Euro", regvalue::kText, "5\xE2\x82\xAC"),
      0);
  EXPECT_EQ(reg_.ReadRegValue(regroot::kLocalMachine, "software\\corvath\\talvex\\TESTS\\", "EURO",
                              regvalue::kText, "", value),
            0);
  EXPECT_EQ(value, Variant("5\xE2\x82\xAC"));
}

TEST_F(Registry, MissingValuesLeaveTheDefault) {
  Variant value;
  // Before anything was written, and for an absent key or value afterwards.
  EXPECT_EQ(reg_.ReadRegValue(regroot::kLocalMachine, resources::DatabaseSettingsKey(), "TLOff",
                              regvalue::kText, "0", value),
            regstatus::kNotFound);
  EXPECT_EQ(value, Variant("0"));
  ASSERT_EQ(reg_.WriteRegValue(regroot::kLocalMachine, kKey, "A", regvalue::kText, "x"), 0);
  EXPECT_EQ(reg_.ReadRegValue(regroot::kLocalMachine, kKey, "B", regvalue::kText, 0, value), 2);
  EXPECT_EQ(value, Variant(0));
  EXPECT_EQ(
      reg_.ReadRegValue(regroot::kLocalMachine, "Software\\None", "A", regvalue::kText, "1", value),
      2);
  EXPECT_EQ(value, Variant("1"));
  // Unknown root codes reach nothing.
  EXPECT_EQ(reg_.ReadRegValue(7, kKey, "A", regvalue::kText, "d", value), kRegStatusNoRoot);
  EXPECT_EQ(value, Variant("d"));
  // Deleting what does not exist counts as success.
  EXPECT_EQ(reg_.DeleteRegValue(regroot::kLocalMachine, kKey, "B"), 0);
  EXPECT_EQ(reg_.DeleteRegValue(regroot::kLocalMachine, "Software\\None", "B"), 0);
  EXPECT_EQ(reg_.DeleteRegKey(regroot::kLocalMachine, "Software", "None"), 0);
}

TEST_F(Registry, BooleanAndWordValues) {
  Variant value;
  ASSERT_EQ(reg_.WriteRegValue(regroot::kCurrentUser, kKey, "Flag", regvalue::kBoolean, true), 0);
  EXPECT_EQ(store_.QueryValue("HKCU", kKey, "Flag").data, "\xFF\xFF");
  EXPECT_EQ(
      reg_.ReadRegValue(regroot::kCurrentUser, kKey, "Flag", regvalue::kBoolean, false, value), 0);
  EXPECT_EQ(value, Variant(true));

  ASSERT_EQ(reg_.WriteRegValue(regroot::kLocalMachine, kKey, "Word", regvalue::kWord, -5), 0);
  EXPECT_EQ(store_.QueryValue("HKLM", kKey, "Word").data, "\xFB\xFF\xFF\xFF");  // sign-extended
  EXPECT_EQ(reg_.ReadRegValue(regroot::kLocalMachine, kKey, "Word", regvalue::kWord, 0, value), 0);
  EXPECT_EQ(value, Variant(-5));

  // A word outside 16 bits fails after the key was made: status 0, nothing stored.
  EXPECT_EQ(
      reg_.WriteRegValue(regroot::kLocalMachine, "Software\\Fresh", "Big", regvalue::kWord, 40000),
      0);
  EXPECT_EQ(store_.OpenKey("HKLM", "Software\\Fresh"), 0);
  EXPECT_EQ(store_.QueryValue("HKLM", "Software\\Fresh", "Big").status, regstatus::kNotFound);

  // A text read as a word is larger than its buffer.
  EXPECT_EQ(
      reg_.ReadRegValue(regroot::kLocalMachine, kKey, "Word", regvalue::kBoolean, false, value),
      regstatus::kMoreData);
  // Types without a letter read and write nothing.
  EXPECT_EQ(reg_.WriteRegValue(regroot::kLocalMachine, kKey, "Other", 9, "x"), 0);
  EXPECT_EQ(store_.QueryValue("HKLM", kKey, "Other").status, regstatus::kNotFound);
}

TEST_F(Registry, KeysWithSubkeysAreNotDeleted) {
  ASSERT_EQ(reg_.WriteRegValue(regroot::kLocalMachine, "Software\\A\\B", "V", regvalue::kText, "1"),
            0);
  EXPECT_EQ(reg_.DeleteRegKey(regroot::kLocalMachine, "Software", "A"), regstatus::kAccessDenied);
  EXPECT_EQ(reg_.DeleteRegKey(regroot::kLocalMachine, "Software\\A", "B"), 0);
  EXPECT_EQ(store_.OpenKey("HKLM", "Software\\A\\B"), regstatus::kNotFound);
  EXPECT_EQ(reg_.DeleteRegKey(regroot::kLocalMachine, "Software", "A"), 0);
}

TEST_F(Registry, UnwritableStoreReportsAnIoFailure) {
  Environment broken;
  broken.dataDir = dir_.Path() / "file";
  { std::ofstream(broken.dataDir) << "not a directory"; }
  const RegLib reg(broken);
  EXPECT_EQ(reg.WriteRegValue(regroot::kLocalMachine, kKey, "A", regvalue::kText, "x"),
            regstatus::kIoFailed);
  RecordLocalHostName(broken, "host");  // must not throw
}

}  // namespace
}  // namespace talvex
