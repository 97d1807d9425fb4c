// Registry operations: root and type tables, the read and write rules of each value type.
#include "platform/reglib.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <string_view>

#include "platform/ansi.hpp"
#include "platform/failure.hpp"
#include "platform/resources.hpp"

namespace talvex {

namespace {

// ParentKey code -> root name. "HKDD" is a known root that no code produces.
constexpr std::array<std::string_view, 5> kRootNames = {"HKCR", "HKCU", "HKLM", "HKU", "HKCC"};
constexpr std::array<std::string_view, 6> kKnownRoots = {"HKCR", "HKCU", "HKLM",
                                                         "HKU",  "HKCC", "HKDD"};

// ValueType code -> letter; other codes have none.
constexpr std::array<char, 3> kTypeLetters = {'S', 'B', 'D'};

std::string RootName(std::int32_t parentKey) {
  if (parentKey < 0 || parentKey >= static_cast<std::int32_t>(kRootNames.size())) return {};
  return std::string(kRootNames[static_cast<std::size_t>(parentKey)]);
}

char TypeLetter(std::int32_t valueType) {
  if (valueType < 0 || valueType >= static_cast<std::int32_t>(kTypeLetters.size())) return 0;
  return kTypeLetters[static_cast<std::size_t>(valueType)];
}

// Root names compare without regard to case; the canonical upper-case name is the store's.
std::optional<std::string> ResolveRoot(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (std::find(kKnownRoots.begin(), kKnownRoots.end(), name) == kKnownRoots.end()) {
    return std::nullopt;
  }
  return name;
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

}  // namespace

std::int32_t RegLib::ReadRegValue(std::int32_t ParentKey, const std::string& SubKey,
                                  const std::string& ValueName, std::int32_t ValueType,
                                  const Variant& Default, Variant& Value) const {
  Value = Default;
  const auto root = ResolveRoot(RootName(ParentKey));
  if (!root) return kRegStatusNoRoot;
  std::int32_t status = store_.OpenKey(*root, SubKey);
  if (status != regstatus::kSuccess) return status;

  // A query for a value larger than its fixed buffer answers "more data".
  const auto query = [&](std::size_t buffer) {
    auto value = store_.QueryValue(*root, SubKey, ValueName);
    if (value.status == regstatus::kSuccess && value.data.size() > buffer) {
      value.status = regstatus::kMoreData;
    }
    return value;
  };
  switch (TypeLetter(ValueType)) {
    case 'S': {
      // The text is read with a buffer of the size the registry reports.
      const auto value = store_.QueryValue(*root, SubKey, ValueName);
      status = value.status;
      if (status == regstatus::kSuccess) {
        std::string_view bytes = value.data;
        if (!bytes.empty() && bytes.back() == '\0') bytes.remove_suffix(1);
        std::string text = ansi::decode(bytes);
        Value = text == std::string(1, '\0') ? std::string() : std::move(text);
      }
      break;
    }
    case 'B': {
      const auto value = query(2);
      status = value.status;
      if (status == regstatus::kSuccess) Value = FromLittleEndian(value.data) != 0;
      break;
    }
    case 'D': {
      const auto value = query(4);
      status = value.status;
      if (status == regstatus::kSuccess) {
        Value = std::int64_t{static_cast<std::int32_t>(FromLittleEndian(value.data))};
      }
      break;
    }
    default:
      break;
  }
  return status;
}

std::int32_t RegLib::WriteRegValue(std::int32_t ParentKey, const std::string& SubKey,
                                   const std::string& ValueName, std::int32_t ValueType,
                                   const Variant& Value) const {
  // An empty text is stored as the one-character text NUL, so that a read gives it back.
  const Variant stored =
      Value.IsText() && Value.ToText().empty() ? Variant(std::string(1, '\0')) : Value;
  const auto root = ResolveRoot(RootName(ParentKey));
  if (!root) return kRegStatusNoRoot;
  std::int32_t status = store_.CreateKey(*root, SubKey);
  if (status != regstatus::kSuccess) return status;
  try {
    switch (TypeLetter(ValueType)) {
      case 'S':
        status = store_.SetValue(*root, SubKey, ValueName, regtype::kString,
                                 ansi::encode(stored.ToText()) + '\0');
        break;
      case 'B':
        status = store_.SetValue(*root, SubKey, ValueName, regtype::kBinary,
                                 stored.ToBool() ? std::string("\xFF\xFF") : std::string(2, '\0'));
        break;
      case 'D': {
        const auto word = static_cast<std::int32_t>(stored.ToInt16());
        status = store_.SetValue(*root, SubKey, ValueName, regtype::kDword,
                                 LittleEndian(static_cast<std::uint32_t>(word), 4));
        break;
      }
      default:
        break;
    }
  } catch (const Failure&) {
    // A value that does not convert ends the call with the last registry status obtained.
  }
  return status;
}

std::int32_t RegLib::DeleteRegValue(std::int32_t ParentKey, const std::string& SubKey,
                                    const std::string& ValueName) const {
  const auto root = ResolveRoot(RootName(ParentKey));
  if (!root) return kRegStatusNoRoot;
  const std::int32_t status = store_.DeleteValue(*root, SubKey, ValueName);
  return status == regstatus::kNotFound ? regstatus::kSuccess : status;
}

std::int32_t RegLib::DeleteRegKey(std::int32_t ParentKey, const std::string& SubKey,
                                  const std::string& KeyName) const {
  const auto root = ResolveRoot(RootName(ParentKey));
  if (!root) return kRegStatusNoRoot;
  const std::int32_t status = store_.DeleteKey(*root, SubKey, KeyName);
  return status == regstatus::kNotFound ? regstatus::kSuccess : status;
}

void RecordLocalHostName(const Environment& env, const std::string& HostName) {
  try {
    const RegLib reg(env);
    reg.WriteRegValue(regroot::kLocalMachine, resources::GatewayServiceKey(), "LocalHostName",
                      regvalue::kText, Variant(HostName));
  } catch (...) {  // NOLINT(bugprone-empty-catch): the start never fails on the registry
  }
}

}  // namespace talvex
