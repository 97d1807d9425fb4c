// Registry values: status codes, value types and the rules for empty and oversized values.
#include <gtest/gtest.h>

#include <fstream>

#include "temp_dir.hpp"
#include "platform/reglib.hpp"
#include "platform/resources.hpp"

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
  ASSERT_EQ(reg_.WriteRegValue(RegRoot::kLocalMachine, kKey, "Name", RegValueType::kText, "abc"),
            RegStatus::kSuccess);
  const auto stored = store_.QueryValue("HKLM", kKey, "Name");
  EXPECT_EQ(stored.type, RegType::kString);
  EXPECT_EQ(stored.data, std::string("abc\0", 4));

  // The empty text is stored as the one-character text NUL and read back as empty.
  ASSERT_EQ(reg_.WriteRegValue(RegRoot::kLocalMachine, kKey, "Empty", RegValueType::kText, ""),
            RegStatus::kSuccess);
  EXPECT_EQ(store_.QueryValue("HKLM", kKey, "Empty").data, std::string(2, '\0'));
  Variant value = "stale";
  EXPECT_EQ(
      reg_.ReadRegValue(RegRoot::kLocalMachine, kKey, "Empty", RegValueType::kText, "d", value),
      RegStatus::kSuccess);
  EXPECT_EQ(value, Variant(""));

  // Non-ASCII text is kept in the code page and comes back as the same text; key paths and
  // names compare without regard to case.
  ASSERT_EQ(reg_.WriteRegValue(RegRoot::kLocalMachine, kKey, "Euro", RegValueType::kText,
                               "5\xE2\x82\xAC"),
            RegStatus::kSuccess);
  EXPECT_EQ(reg_.ReadRegValue(RegRoot::kLocalMachine, "software\\corvath\\talvex\\TESTS\\", "EURO",
                              RegValueType::kText, "", value),
            RegStatus::kSuccess);
  EXPECT_EQ(value, Variant("5\xE2\x82\xAC"));
}

TEST_F(Registry, MissingValuesLeaveTheDefault) {
  Variant value;
  // Before anything was written, and for an absent key or value afterwards.
  EXPECT_EQ(reg_.ReadRegValue(RegRoot::kLocalMachine, resources::DatabaseSettingsKey(), "TLOff",
                              RegValueType::kText, "0", value),
            RegStatus::kNotFound);
  EXPECT_EQ(value, Variant("0"));
  ASSERT_EQ(reg_.WriteRegValue(RegRoot::kLocalMachine, kKey, "A", RegValueType::kText, "x"),
            RegStatus::kSuccess);
  EXPECT_EQ(reg_.ReadRegValue(RegRoot::kLocalMachine, kKey, "B", RegValueType::kText, 0, value),
            RegStatus::kNotFound);
  EXPECT_EQ(value, Variant(0));
  EXPECT_EQ(reg_.ReadRegValue(RegRoot::kLocalMachine, "Software\\None", "A", RegValueType::kText,
                              "1", value),
            RegStatus::kNotFound);
  EXPECT_EQ(value, Variant("1"));
  // Unknown root codes reach nothing.
  EXPECT_EQ(reg_.ReadRegValue(static_cast<RegRoot>(7), kKey, "A", RegValueType::kText, "d", value),
            RegStatus::kNoRoot);
  EXPECT_EQ(value, Variant("d"));
  // Deleting what does not exist counts as success.
  EXPECT_EQ(reg_.DeleteRegValue(RegRoot::kLocalMachine, kKey, "B"), RegStatus::kSuccess);
  EXPECT_EQ(reg_.DeleteRegValue(RegRoot::kLocalMachine, "Software\\None", "B"),
            RegStatus::kSuccess);
  EXPECT_EQ(reg_.DeleteRegKey(RegRoot::kLocalMachine, "Software", "None"), RegStatus::kSuccess);
}

TEST_F(Registry, BooleanAndWordValues) {
  Variant value;
  ASSERT_EQ(reg_.WriteRegValue(RegRoot::kCurrentUser, kKey, "Flag", RegValueType::kBoolean, true),
            RegStatus::kSuccess);
  EXPECT_EQ(store_.QueryValue("HKCU", kKey, "Flag").data, "\xFF\xFF");
  EXPECT_EQ(
      reg_.ReadRegValue(RegRoot::kCurrentUser, kKey, "Flag", RegValueType::kBoolean, false, value),
      RegStatus::kSuccess);
  EXPECT_EQ(value, Variant(true));

  ASSERT_EQ(reg_.WriteRegValue(RegRoot::kLocalMachine, kKey, "Word", RegValueType::kWord, -5),
            RegStatus::kSuccess);
  EXPECT_EQ(store_.QueryValue("HKLM", kKey, "Word").data, "\xFB\xFF\xFF\xFF");  // sign-extended
  EXPECT_EQ(reg_.ReadRegValue(RegRoot::kLocalMachine, kKey, "Word", RegValueType::kWord, 0, value),
            RegStatus::kSuccess);
  EXPECT_EQ(value, Variant(-5));

  // A word outside 16 bits fails after the key was made: status 0, nothing stored.
  EXPECT_EQ(reg_.WriteRegValue(RegRoot::kLocalMachine, "Software\\Fresh", "Big",
                               RegValueType::kWord, 40000),
            RegStatus::kSuccess);
  EXPECT_EQ(store_.OpenKey("HKLM", "Software\\Fresh"), RegStatus::kSuccess);
  EXPECT_EQ(store_.QueryValue("HKLM", "Software\\Fresh", "Big").status, RegStatus::kNotFound);

  // A text read as a word is larger than its buffer.
  EXPECT_EQ(
      reg_.ReadRegValue(RegRoot::kLocalMachine, kKey, "Word", RegValueType::kBoolean, false, value),
      RegStatus::kMoreData);
  // Types without a letter read and write nothing.
  EXPECT_EQ(
      reg_.WriteRegValue(RegRoot::kLocalMachine, kKey, "Other", static_cast<RegValueType>(9), "x"),
      RegStatus::kSuccess);
  EXPECT_EQ(store_.QueryValue("HKLM", kKey, "Other").status, RegStatus::kNotFound);
}

TEST_F(Registry, KeysWithSubkeysAreNotDeleted) {
  ASSERT_EQ(
      reg_.WriteRegValue(RegRoot::kLocalMachine, "Software\\A\\B", "V", RegValueType::kText, "1"),
      RegStatus::kSuccess);
  EXPECT_EQ(reg_.DeleteRegKey(RegRoot::kLocalMachine, "Software", "A"), RegStatus::kAccessDenied);
  EXPECT_EQ(reg_.DeleteRegKey(RegRoot::kLocalMachine, "Software\\A", "B"), RegStatus::kSuccess);
  EXPECT_EQ(store_.OpenKey("HKLM", "Software\\A\\B"), RegStatus::kNotFound);
  EXPECT_EQ(reg_.DeleteRegKey(RegRoot::kLocalMachine, "Software", "A"), RegStatus::kSuccess);
}

TEST_F(Registry, UnwritableStoreReportsAnIoFailure) {
  Environment broken;
  broken.dataDir = dir_.Path() / "file";
  { std::ofstream(broken.dataDir) << "not a directory"; }
  const RegLib reg(broken);
  EXPECT_EQ(reg.WriteRegValue(RegRoot::kLocalMachine, kKey, "A", RegValueType::kText, "x"),
            RegStatus::kIoFailed);
  RecordLocalHostName(broken, "host");  // must not throw
}

}  // namespace
}  // namespace talvex
