// Registry operations: root and type tables, the read and write rules of each value type.
#include "platform/reglib.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

#include "platform/ansi.hpp"
#include "platform/ascii.hpp"
#include "platform/failure.hpp"
#include "platform/resources.hpp"

namespace talvex {

namespace {

// ParentKey code -> root name. "HKDD" is a known root that no code produces.
constexpr std::array<std::string_view, 5> kRootNames = {"HKCR", "HKCU", "HKLM", "HKU", "HKCC"};
constexpr std::array<std::string_view, 6> kKnownRoots = {"HKCR", "HKCU", "HKLM",
                                                         "HKU",  "HKCC", "HKDD"};

// How each ValueType code is stored and read; other codes have no rule.
struct ValueRule {
  char letter;
  RegType stored;
  std::size_t readBuffer;  // fixed buffer of a read; 0: as large as the value
};
constexpr std::array<ValueRule, 3> kValueRules = {{
    {'S', RegType::kString, 0},
    {'B', RegType::kBinary, 2},
    {'D', RegType::kDword, 4},
}};

// The table entry of a code, or nothing for a code outside the table.
template <typename Code, typename Entry, std::size_t N>
std::optional<Entry> Lookup(const std::array<Entry, N>& table, Code code) {
  const auto index = static_cast<std::int32_t>(code);
  if (index < 0 || index >= static_cast<std::int32_t>(N)) return std::nullopt;
  return table[static_cast<std::size_t>(index)];
}

std::string RootName(RegRoot parentKey) {
  return std::string(Lookup(kRootNames, parentKey).value_or(""));
}

// Root names compare without regard to case; the canonical upper-case name is the store's.
std::optional<std::string> ResolveRoot(std::string_view given) {
  std::string name = ToUpper(given);
  if (std::find(kKnownRoots.begin(), kKnownRoots.end(), name) == kKnownRoots.end()) {
    return std::nullopt;
  }
  return name;
}

// A delete of something that is not there has nothing left to do.
RegStatus GoneIsDone(RegStatus status) {
  return status == RegStatus::kNotFound ? RegStatus::kSuccess : status;
}

std::string LittleEndian(std::uint32_t value, std::size_t bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

std::uint32_t FromLittleEndian(std::string_view data) {
  std::uint32_t value = 0;
  for (std::size_t i = data.size(); i-- > 0;) {
    value = (value << 8) | static_cast<unsigned char>(data[i]);
  }
  return value;
}

// The value that a read of stored bytes gives.
Variant Decoded(char letter, std::string_view bytes) {
  switch (letter) {
    case 'B':
      return FromLittleEndian(bytes) != 0;
    case 'D':
      return std::int64_t{static_cast<std::int32_t>(FromLittleEndian(bytes))};
    default: {
      if (!bytes.empty() && bytes.back() == '\0') bytes.remove_suffix(1);
      std::string text = ansi::Decode(bytes);
      return text == std::string(1, '\0') ? std::string() : std::move(text);
    }
  }
}

// The bytes that a write of the value stores; raises the conversion's Failure.
std::string Encoded(char letter, const Variant& value) {
  switch (letter) {
    case 'B':
      return value.ToBool() ? std::string("\xFF\xFF") : std::string(2, '\0');
    case 'D':
      return LittleEndian(static_cast<std::uint32_t>(std::int32_t{value.ToInt16()}), 4);
    default: {
      // An empty text is stored as the one-character text NUL, so that a read gives it back.
      const bool emptyText = value.IsText() && value.ToText().empty();
      return ansi::Encode(emptyText ? std::string(1, '\0') : value.ToText()) + '\0';
    }
  }
}

}  // namespace

RegStatus RegLib::ReadRegValue(RegRoot parentKey, const std::string& subKey,
                               const std::string& valueName, RegValueType valueType,
                               const Variant& defaultValue, Variant& value) const {
  value = defaultValue;
  const auto root = ResolveRoot(RootName(parentKey));
  if (!root) return RegStatus::kNoRoot;
  const RegStatus opened = store_.OpenKey(*root, subKey);
  const auto rule = Lookup(kValueRules, valueType);
  if (opened != RegStatus::kSuccess || !rule) return opened;
  auto stored = store_.QueryValue(*root, subKey, valueName);
  // A query for a value larger than its fixed buffer answers "more data".
  if (stored.status == RegStatus::kSuccess && rule->readBuffer > 0 &&
      stored.data.size() > rule->readBuffer) {
    stored.status = RegStatus::kMoreData;
  }
  if (stored.status == RegStatus::kSuccess) value = Decoded(rule->letter, stored.data);
  return stored.status;
}

RegStatus RegLib::WriteRegValue(RegRoot parentKey, const std::string& subKey,
                                const std::string& valueName, RegValueType valueType,
                                const Variant& value) const {
  const auto root = ResolveRoot(RootName(parentKey));
  if (!root) return RegStatus::kNoRoot;
  const RegStatus created = store_.CreateKey(*root, subKey);
  const auto rule = Lookup(kValueRules, valueType);
  if (created != RegStatus::kSuccess || !rule) return created;
  std::string bytes;
  try {
    bytes = Encoded(rule->letter, value);
  } catch (const Failure&) {
    // A value that does not convert ends the call with the last registry status obtained.
    return created;
  }
  return store_.SetValue(*root, subKey, valueName, rule->stored, bytes);
}

RegStatus RegLib::DeleteRegValue(RegRoot parentKey, const std::string& subKey,
                                 const std::string& valueName) const {
  const auto root = ResolveRoot(RootName(parentKey));
  return root ? GoneIsDone(store_.DeleteValue(*root, subKey, valueName)) : RegStatus::kNoRoot;
}

RegStatus RegLib::DeleteRegKey(RegRoot parentKey, const std::string& subKey,
                               const std::string& keyName) const {
  const auto root = ResolveRoot(RootName(parentKey));
  return root ? GoneIsDone(store_.DeleteKey(*root, subKey, keyName)) : RegStatus::kNoRoot;
}

void RecordLocalHostName(const Environment& env, const std::string& hostName) {
  try {
    const RegLib reg(env);
    reg.WriteRegValue(RegRoot::kLocalMachine, resources::GatewayServiceKey(), "LocalHostName",
                      RegValueType::kText, Variant(hostName));
  } catch (const std::exception&) {  // NOLINT(bugprone-empty-catch)
    // Ignored: the name is recorded for the suite's other programs, and a start never fails on
    // the registry.
  }
}

}  // namespace talvex
