// The transaction log's protection of texts: any hexadecimal text and password decrypt
// without harm, and what EncryptText writes reads back through DecryptText under the same
// password as the text's Windows-1252 form. A password of spaces alone encrypts with the
// default password, which DecryptText reaches through the empty password.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "data/trans_crypt.hpp"
#include "fuzz_check.hpp"
#include "platform/ansi.hpp"
#include "platform/hex.hpp"

namespace {

using talvex::fuzz::Check;

constexpr std::size_t kMaxPassword = 40;

bool UpperHex(std::string_view text) {
  return text.find_first_not_of(talvex::hex::kDigits) == std::string_view::npos;
}

bool OnlySpaces(std::string_view text) {
  return text.find_first_not_of(' ') == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string password = input.ConsumeRandomLengthString(kMaxPassword);
  const std::string text = input.ConsumeRemainingBytesAsString();
  talvex::DecryptText(text, password);

  const std::string cipher = talvex::EncryptText(text, password);
  Check(cipher.size() % 2 == 0 && UpperHex(cipher), "two upper-case digits per byte");
  Check(!text.empty() || cipher.empty(), "an empty text encrypts to nothing");
  if (cipher.empty()) return 0;
  const std::string readWith = OnlySpaces(password) ? std::string() : password;
  Check(talvex::DecryptText(cipher, readWith) == talvex::ansi::Decode(talvex::ansi::Encode(text)),
        "the encrypted text decrypts to the text");
  return 0;
}
