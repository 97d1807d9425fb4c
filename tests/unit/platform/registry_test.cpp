// Registry values: the stored form of each value type, the status codes callers decide on, and
// the rules for empty, absent and oversized values. Get, set and delete through talvex-admin are
// proven end to end.
#include <gtest/gtest.h>

#include <fstream>

#include "temp_dir.hpp"
#include "platform/reglib.hpp"
#include "platform/resources.hpp"

namespace talvex {
namespace {

constexpr const char* kKey = "Software\\Corvath\\Talvex\\Tests";
constexpr RegRoot kHklm = RegRoot::kLocalMachine;

class Registry : public ::testing::Test {
 protected:
  RegStatus Write(const std::string& name, RegValueType type, const Variant& value,
                  const std::string& key = kKey, RegRoot root = kHklm) {
    return reg_.WriteRegValue(root, key, name, type, value);
  }
  // The status of the read; value holds what it left there, starting from "stale".
  RegStatus Read(const std::string& name, RegValueType type, const Variant& fallback,
                 const std::string& key = kKey, RegRoot root = kHklm) {
    value_ = "stale";
    return reg_.ReadRegValue(root, key, name, type, fallback, value_);
  }
  std::string Stored(const char* name, const char* root = "HKLM") {
    return store_.QueryValue(root, kKey, name).data;
  }

  testing::TempDir dir_;
  Environment env_{dir_.Path(), ""};
  RegLib reg_{env_};
  RegistryStore store_{env_.RegistryPath()};
  Variant value_;
};

TEST_F(Registry, TextIsStoredWithItsTerminatorAndTheEmptyTextAsOneNul) {
  // Absent before anything was stored: the default comes back.
  EXPECT_EQ(Read("TLOff", RegValueType::kText, "0", resources::DatabaseSettingsKey()),
            RegStatus::kNotFound);
  EXPECT_EQ(value_, Variant("0"));
  ASSERT_EQ(Write("Name", RegValueType::kText, "abc"), RegStatus::kSuccess);
  EXPECT_EQ(store_.QueryValue("HKLM", kKey, "Name").type, RegType::kString);
  EXPECT_EQ(Stored("Name"), std::string("abc\0", 4));
  ASSERT_EQ(Write("Empty", RegValueType::kText, ""), RegStatus::kSuccess);
  EXPECT_EQ(Stored("Empty"), std::string(2, '\0'));
  EXPECT_EQ(Read("Empty", RegValueType::kText, "d"), RegStatus::kSuccess);
  EXPECT_EQ(value_, Variant(""));
  // Non-ASCII text survives the code page; key paths compare without case or trailing "\".
  ASSERT_EQ(Write("Euro", RegValueType::kText, "5\xE2\x82\xAC"), RegStatus::kSuccess);
  EXPECT_EQ(Read("EURO", RegValueType::kText, "", "software\\corvath\\talvex\\TESTS\\"),
            RegStatus::kSuccess);
  EXPECT_EQ(value_, Variant("5\xE2\x82\xAC"));
}

TEST_F(Registry, AbsentValuesAndKeysLeaveTheDefaultAndDeleteAsSuccess) {
  ASSERT_EQ(Write("A", RegValueType::kText, "x"), RegStatus::kSuccess);
  EXPECT_EQ(Read("B", RegValueType::kText, 0), RegStatus::kNotFound);
  EXPECT_EQ(value_, Variant(0));
  EXPECT_EQ(Read("A", RegValueType::kText, "1", "Software\\None"), RegStatus::kNotFound);
  EXPECT_EQ(value_, Variant("1"));
  EXPECT_EQ(Read("A", RegValueType::kText, "d", kKey, static_cast<RegRoot>(7)),
            RegStatus::kNoRoot);
  EXPECT_EQ(value_, Variant("d"));
  EXPECT_EQ(reg_.DeleteRegValue(kHklm, kKey, "B"), RegStatus::kSuccess);
  EXPECT_EQ(reg_.DeleteRegValue(kHklm, "Software\\None", "B"), RegStatus::kSuccess);
  EXPECT_EQ(reg_.DeleteRegKey(kHklm, "Software", "None"), RegStatus::kSuccess);
}

TEST_F(Registry, BooleanAndWordValues) {
  ASSERT_EQ(Write("Flag", RegValueType::kBoolean, true, kKey, RegRoot::kCurrentUser),
            RegStatus::kSuccess);
  EXPECT_EQ(Stored("Flag", "HKCU"), "\xFF\xFF");
  EXPECT_EQ(Read("Flag", RegValueType::kBoolean, false, kKey, RegRoot::kCurrentUser),
            RegStatus::kSuccess);
  EXPECT_EQ(value_, Variant(true));
  ASSERT_EQ(Write("Word", RegValueType::kWord, -5), RegStatus::kSuccess);
  EXPECT_EQ(Stored("Word"), "\xFB\xFF\xFF\xFF");  // sign-extended
  EXPECT_EQ(Read("Word", RegValueType::kWord, 0), RegStatus::kSuccess);
  EXPECT_EQ(value_, Variant(-5));
  // A four-byte value read as a boolean is larger than its buffer.
  EXPECT_EQ(Read("Word", RegValueType::kBoolean, false), RegStatus::kMoreData);

  // A word outside 16 bits fails after the key was made: status 0, nothing stored.
  EXPECT_EQ(Write("Big", RegValueType::kWord, 40000, "Software\\Fresh"), RegStatus::kSuccess);
  EXPECT_EQ(store_.OpenKey("HKLM", "Software\\Fresh"), RegStatus::kSuccess);
  EXPECT_EQ(store_.QueryValue("HKLM", "Software\\Fresh", "Big").status, RegStatus::kNotFound);
  // Types without a letter write nothing.
  EXPECT_EQ(Write("Other", static_cast<RegValueType>(9), "x"), RegStatus::kSuccess);
  EXPECT_EQ(store_.QueryValue("HKLM", kKey, "Other").status, RegStatus::kNotFound);
}

TEST_F(Registry, KeysWithSubkeysAreNotDeleted) {
  ASSERT_EQ(Write("V", RegValueType::kText, "1", "Software\\A\\B"), RegStatus::kSuccess);
  EXPECT_EQ(reg_.DeleteRegKey(kHklm, "Software", "A"), RegStatus::kAccessDenied);
  EXPECT_EQ(reg_.DeleteRegKey(kHklm, "Software\\A", "B"), RegStatus::kSuccess);
  EXPECT_EQ(store_.OpenKey("HKLM", "Software\\A\\B"), RegStatus::kNotFound);
  EXPECT_EQ(reg_.DeleteRegKey(kHklm, "Software", "A"), RegStatus::kSuccess);
}

TEST_F(Registry, UnwritableStoreReportsAnIoFailure) {
  Environment broken;
  broken.dataDir = dir_.Path() / "file";
  std::ofstream(broken.dataDir) << "not a directory";
  EXPECT_EQ(RegLib(broken).WriteRegValue(kHklm, kKey, "A", RegValueType::kText, "x"),
            RegStatus::kIoFailed);
  RecordLocalHostName(broken, "host");  // must not throw
}

}  // namespace
}  // namespace talvex
