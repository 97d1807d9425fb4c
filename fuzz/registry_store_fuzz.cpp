// The registry store's key paths, driven by a sequence of operations on a fresh store file and
// checked against a model of keys and values. Paths and names are drawn from a small alphabet
// of letters in both cases, separators and the characters that mean something to SQL
// patterns, so that the same key is reached by many spellings: leading, trailing and repeated
// separators do not matter, ASCII letters compare without regard to case, other characters
// exactly; creating a key creates every key above it; a key with subkeys cannot be deleted.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <system_error>

#include "fuzz_check.hpp"
#include "platform/registry_store.hpp"

namespace {

using talvex::RegistryStore;
using talvex::RegStatus;
using talvex::RegType;
using talvex::fuzz::Check;

constexpr std::string_view kRoots[] = {"HKLM", "HKCU"};
// "\xC3\xA9" and "\xC3\x89" are e-acute and E-acute: different characters to the store.
constexpr std::string_view kPieces[] = {"A", "a", "b", "B",        "\\",       "\\",
                                        "%", "_", "!", "\xC3\xA9", "\xC3\x89", "x"};
constexpr RegType kTypes[] = {RegType::kString, RegType::kBinary, RegType::kDword};
constexpr std::size_t kMaxPieces = 8;

// A directory of its own per process for the store file, which is removed with each input so
// that every run starts empty; the directory goes when the process exits.
class StoreDirectory {
 public:
  StoreDirectory()
      : path_(std::filesystem::temp_directory_path() /
              ("talvex-fuzz-registry-" + std::to_string(getpid()))) {
    std::filesystem::create_directories(path_);
  }
  ~StoreDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  StoreDirectory(const StoreDirectory&) = delete;
  StoreDirectory& operator=(const StoreDirectory&) = delete;

  std::filesystem::path File() const { return path_ / "registry.db"; }

 private:
  std::filesystem::path path_;
};

std::string Spelling(FuzzedDataProvider& input) {
  std::string text;
  const auto pieces = input.ConsumeIntegralInRange<std::size_t>(0, kMaxPieces);
  for (std::size_t i = 0; i < pieces; ++i) text += input.PickValueInArray(kPieces);
  return text;
}

// What the model calls a key path or name: separators tidied, ASCII letters in lower case.
std::string Canonical(std::string_view spelling) {
  std::string out;
  bool separator = false;
  for (const char c : spelling) {
    if (c == '\\') {
      separator = !out.empty();
      continue;
    }
    if (separator) out += '\\';
    separator = false;
    out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return out;
}

std::string CanonicalName(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return out;
}

struct Model {
  struct Stored {
    RegType type;
    std::string data;
  };
  std::set<std::string> keys[2];  // per root; the root itself ("") always exists
  std::map<std::pair<std::string, std::string>, Stored> values[2];

  bool Exists(std::size_t root, const std::string& key) const {
    return key.empty() || keys[root].contains(key);
  }
  bool HasSubkeys(std::size_t root, const std::string& key) const {
    const auto next = keys[root].upper_bound(key + "\\");
    return next != keys[root].end() && next->starts_with(key + "\\");
  }
};

class Run {
 public:
  Run(FuzzedDataProvider& input, const std::filesystem::path& file) : input_(input), store_(file) {}

  void Step() {
    root_ = input_.ConsumeIntegralInRange<std::size_t>(0, 1);
    path_ = Spelling(input_);
    key_ = Canonical(path_);
    switch (input_.ConsumeIntegralInRange(0, 5)) {
      case 0:
        return CreateKey();
      case 1:
        return OpenKey();
      case 2:
        return SetValue();
      case 3:
        return QueryValue();
      case 4:
        return DeleteValue();
      default:
        return DeleteKey();
    }
  }

 private:
  std::string_view Root() const { return kRoots[root_]; }

  void CreateKey() {
    Check(store_.CreateKey(Root(), path_) == RegStatus::kSuccess, "CreateKey succeeds");
    for (std::size_t at = 1; at <= key_.size(); ++at) {
      if (at == key_.size() || key_[at] == '\\') model_.keys[root_].insert(key_.substr(0, at));
    }
  }

  void OpenKey() {
    const RegStatus expected =
        model_.Exists(root_, key_) ? RegStatus::kSuccess : RegStatus::kNotFound;
    Check(store_.OpenKey(Root(), path_) == expected, "OpenKey finds exactly the keys created");
  }

  void SetValue() {
    const std::string name = Spelling(input_);
    const RegType type = input_.PickValueInArray(kTypes);
    const std::string data = input_.ConsumeRandomLengthString(16);
    const bool exists = model_.Exists(root_, key_);
    Check(store_.SetValue(Root(), path_, name, type, data) ==
              (exists ? RegStatus::kSuccess : RegStatus::kNotFound),
          "SetValue writes into existing keys only");
    if (exists) model_.values[root_][{key_, CanonicalName(name)}] = {type, data};
  }

  void QueryValue() {
    const std::string name = Spelling(input_);
    const auto value = store_.QueryValue(Root(), path_, name);
    const auto& values = model_.values[root_];
    const auto found = values.find({key_, CanonicalName(name)});
    if (found == values.end()) {
      Check(value.status == RegStatus::kNotFound, "a value never written is not found");
      return;
    }
    Check(value.status == RegStatus::kSuccess, "a written value is found");
    Check(value.type == found->second.type && value.data == found->second.data,
          "a value reads back as written");
  }

  void DeleteValue() {
    const std::string name = Spelling(input_);
    const bool existed = model_.values[root_].erase({key_, CanonicalName(name)}) > 0;
    Check(store_.DeleteValue(Root(), path_, name) ==
              (existed ? RegStatus::kSuccess : RegStatus::kNotFound),
          "DeleteValue removes exactly the values written");
  }

  void DeleteKey() {
    const std::string name = Spelling(input_);
    const std::string key = Canonical(path_ + "\\" + name);
    RegStatus expected = RegStatus::kSuccess;
    if (!model_.Exists(root_, key_) || key == key_ || !model_.Exists(root_, key)) {
      expected = RegStatus::kNotFound;
    } else if (model_.HasSubkeys(root_, key)) {
      expected = RegStatus::kAccessDenied;
    }
    Check(store_.DeleteKey(Root(), path_, name) == expected,
          "DeleteKey removes existing keys without subkeys only");
    if (expected != RegStatus::kSuccess) return;
    model_.keys[root_].erase(key);
    std::erase_if(model_.values[root_],
                  [&](const auto& entry) { return entry.first.first == key; });
  }

  FuzzedDataProvider& input_;
  RegistryStore store_;
  Model model_;
  std::size_t root_ = 0;
  std::string path_;
  std::string key_;
};

void RemoveStore(const std::filesystem::path& file) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    std::filesystem::remove(file.string() + suffix);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr int kMaxSteps = 24;
  static const StoreDirectory kStore;
  const std::filesystem::path file = kStore.File();
  RemoveStore(file);
  FuzzedDataProvider input(data, size);
  Run run(input, file);
  for (int step = 0; step < kMaxSteps && input.remaining_bytes() > 0; ++step) run.Step();
  RemoveStore(file);
  return 0;
}
