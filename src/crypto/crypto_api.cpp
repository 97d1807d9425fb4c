// CryptoAPI on the loaded OpenSSL providers.
#include "crypto/crypto_api.hpp"

#include <openssl/rand.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "crypto/bytes.hpp"
#include "crypto/digest.hpp"
#include "platform/hex.hpp"

namespace talvex {

namespace {

using crypto::Bytes;
using crypto::WipedBytes;

// The password used when the caller sets none. Data written by other installations with
// their own default cannot be read with this one, so it never changes once data exists.
constexpr std::string_view kDefaultPassword = "Kq;Vx-Rb!Tz.Mw,Hj?Lp";
static_assert(kDefaultPassword.size() == 20);

constexpr std::size_t kSeedDigestLength = 20;  // SHA-1
constexpr std::int32_t kSeedSaltLength = 40;
constexpr std::int32_t kRandomPasswordLength = 20;

// The current local date and time as days since 30 December 1899 plus the milliseconds of a
// monotonic clock: the seed material of the random routines.
double ClockNumber() {
  using std::chrono::duration;
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  const double localSeconds =
      duration<double>(now.time_since_epoch()).count() + static_cast<double>(local.tm_gmtoff);
  constexpr double kUnixEpochAsDays = 25569.0;
  const double days = localSeconds / 86400.0 + kUnixEpochAsDays;
  const double ticks =
      duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
  return days + ticks;
}

// The bytes of an array without its trailing element.
Bytes WithoutTrailing(const CryptoAPI::ByteArray& bytes) {
  if (bytes.size() < 2) return {};
  return Bytes(bytes.begin(), bytes.end() - 1);
}

}  // namespace

CryptoAPI::CryptoAPI(ProviderSource source) : source_(std::move(source)) {}

CryptoAPI::~CryptoAPI() {
  crypto::Wipe(password_);
  crypto::Wipe(input_);
  crypto::Wipe(output_);
}

void CryptoAPI::InputData(const ByteArray& arInData) {
  crypto::Wipe(input_);
  input_ = ByteArrayToString(arInData);
}

void CryptoAPI::Password(ByteArray& arPWord) {
  crypto::Wipe(password_);
  if (arPWord.size() >= 2) {
    password_ = arPWord;
    crypto::Wipe(arPWord);
  } else {
    password_ = useDefaultPassword_ ? DefaultPassword(true) : ByteArray{0};
  }
}

CryptoAPI::ByteArray CryptoAPI::StringToByteArray(std::string_view varInput) {
  ByteArray out = crypto::ToBytes(varInput);
  out.push_back(0);
  return out;
}

std::string CryptoAPI::ByteArrayToString(const ByteArray& bytes) {
  if (bytes.size() < 2) return {};
  return crypto::ToByteText(std::span(bytes).first(bytes.size() - 1));
}

std::string CryptoAPI::ConvertByteToHex(const ByteArray& bytes) {
  if (bytes.size() < 2) return {};
  return crypto::UpperHex(std::span(bytes).first(bytes.size() - 1));
}

std::string CryptoAPI::ConvertStringToHex(std::string_view strInput, bool /*blnRetUppercase*/) {
  return crypto::UpperHex(crypto::AsBytes(strInput));
}

std::string CryptoAPI::ConvertStringFromHex(std::string_view strHex) {
  if (strHex.size() % 2 != 0) return {};
  std::string out;
  out.reserve(strHex.size() / 2);
  for (std::size_t i = 0; i < strHex.size(); i += 2) {
    const int high = hex::DigitValue(strHex[i]);
    const int low = hex::DigitValue(strHex[i + 1]);
    int value = 0;
    if (high >= 0) value = low >= 0 ? high * 16 + low : high;
    out += static_cast<char>(value);
  }
  return out;
}

std::string CryptoAPI::CreateHash(std::string_view strInText, std::int16_t intHashChoice,
                                  bool blnConvertToHex, bool blnAppendPassword,
                                  bool /*blnCaseSensitive*/) {
  if (!AcquireContext()) return {};
  try {
    const auto hash = crypto::HashFromCode(intHashChoice);
    if (!hash) return {};
    std::span<const std::uint8_t> message = crypto::AsBytes(strInText);
    WipedBytes joined;
    if (blnAppendPassword) {
      // The field's password, or when it has none the default (or a random) one, which is
      // not stored.
      WipedBytes password(password_.size() >= 2
                              ? WithoutTrailing(password_)
                              : WithoutTrailing(DefaultPassword(useDefaultPassword_)));
      joined.Get().assign(message.begin(), message.end());
      joined.Get().insert(joined.Get().end(), password.Get().begin(), password.Get().end());
      message = joined.Get();
    }
    const auto digest = DigestOf(*hash, message);
    if (!digest) return {};
    return blnConvertToHex ? crypto::UpperHex(*digest) : crypto::ToByteText(*digest);
  } catch (const std::exception&) {
    return {};  // the members never raise: a failure gives the empty text
  }
}

std::string CryptoAPI::CreateRandom(std::int32_t length, bool limit, bool hex) {
  if (!AcquireContext()) return {};
  if (length < 0) return {};
  try {
    char clock[64];
    std::snprintf(clock, sizeof clock, "%.15g", ClockNumber());
    const auto seed =
        DigestOf(crypto::HashAlgorithm::kSha1,
                 crypto::ToBytes(std::string(clock) + CreateSaltValue(kSeedSaltLength, true)));
    if (!seed || seed->size() != kSeedDigestLength) return {};

    // The generator of the loaded providers seeds itself from the operating system; the
    // clock digest only fills the result when fewer than 20 random bytes are asked for.
    const auto count = static_cast<std::size_t>(length);
    Bytes buffer(count);
    if (count > 0 && RAND_bytes_ex(context_->providers->Library(), buffer.data(), count, 0) != 1) {
      return {};
    }
    if (count < kSeedDigestLength) {
      buffer.insert(buffer.end(), seed->begin() + static_cast<std::ptrdiff_t>(count), seed->end());
    }
    std::string result = hex ? crypto::UpperHex(buffer) : crypto::ToByteText(buffer);
    if (limit && result.size() > count) result.resize(count);
    return result;
  } catch (const std::exception&) {
    return {};  // the members never raise: a failure gives the empty text
  }
}

std::string CryptoAPI::CreateSaltValue(std::int32_t lngReturnLength,
                                       bool blnUseLettersNumbersOnly) {
  if (!blnUseLettersNumbersOnly) return CreateRandom(lngReturnLength, true, false);
  std::string salt;
  for (std::int32_t i = 0; i < lngReturnLength; ++i) {
    // 48..121 with the punctuation between the digits and the letters shifted past it.
    int code = static_cast<int>(std::floor(Rnd2(48, 122)));
    if ((code >= 58 && code <= 64) || (code >= 91 && code <= 96)) code += 9;
    salt += static_cast<char>(code);
  }
  return salt;
}

float CryptoAPI::Rnd2(float low, float high) {
  // Seeded once per object, from the clock and the system's entropy. Reseeding from the clock
  // before every draw would hand out the same value again and again within one clock tick.
  if (!generator_) {
    const double clock = ClockNumber();
    std::uint32_t entropy = 0;
    try {
      entropy = std::random_device{}();
    } catch (const std::exception&) {
      entropy = 0;  // the clock alone then
    }
    std::seed_seq seed{static_cast<std::uint32_t>(std::fmod(clock * 1000.0, 4294967296.0)),
                       entropy};
    generator_.emplace(seed);
  }
  // 24 random bits: a float in [0, 1) exactly.
  const double r = static_cast<double>((*generator_)() >> 8) / 16777216.0;
  const auto value = static_cast<float>(r * (static_cast<double>(high) - low) + low);
  // Rounding to single precision must not reach the excluded upper bound.
  if (high > low && value >= high) return std::nextafter(high, low);
  return value;
}

bool CryptoAPI::Encrypt(std::int16_t intHashType, std::int16_t intCipherType) {
  return Transform(true, intHashType, intCipherType);
}

bool CryptoAPI::Decrypt(std::int16_t intHashType, std::int16_t intCipherType) {
  return Transform(false, intHashType, intCipherType);
}

bool CryptoAPI::AcquireContext() {
  if (context_) return true;
  std::shared_ptr<const crypto::Providers> providers;
  try {
    if (source_) providers = source_();
  } catch (const std::exception&) {
    providers = nullptr;  // a source that fails is one without providers
  }
  if (!providers) {
    ReleaseContext();
    return false;
  }
  context_ = ProviderContext{std::move(providers), enhanced_ ? crypto::ProviderKind::kEnhanced
                                                             : crypto::ProviderKind::kBase};
  return true;
}

bool CryptoAPI::Transform(bool encrypt, std::int16_t hashCode, std::int16_t cipherCode) {
  output_ = ByteArray{0};
  const auto hash = crypto::HashFromCode(hashCode);
  const auto cipher = crypto::CipherFromCode(
      cipherCode, enhanced_ ? crypto::ProviderKind::kEnhanced : crypto::ProviderKind::kBase);
  if (!hash || !cipher) {
    ReleaseContext();
    return false;
  }
  if (!AcquireContext()) return false;
  try {
    if (password_.size() < 2 && useDefaultPassword_) password_ = DefaultPassword(true);
    const WipedBytes password(WithoutTrailing(password_));
    const auto digest = DigestOf(*hash, password.Get());
    if (!digest) return false;
    const WipedBytes hashValue(*digest);
    const crypto::Providers& providers = *context_->providers;
    const auto key =
        crypto::SessionKey::Derive(providers, context_->kind, *cipher, *hash, hashValue.Get());
    if (!key) return false;

    // The provider works in place on a buffer of 2n bytes: the data and n spaces. Only its
    // length matters here, as the room that block padding may use.
    const auto data = crypto::AsBytes(input_);
    auto result =
        encrypt ? key->Encrypt(providers, data, 2 * data.size()) : key->Decrypt(providers, data);
    if (!result) return false;
    result->push_back(0);
    output_ = std::move(*result);
    return true;
  } catch (const std::exception&) {
    output_ = ByteArray{0};  // the members never raise: a failure gives false
    return false;
  }
}

CryptoAPI::ByteArray CryptoAPI::DefaultPassword(bool useDefault) {
  std::string text =
      useDefault ? std::string(kDefaultPassword) : CreateSaltValue(kRandomPasswordLength, true);
  ByteArray bytes = StringToByteArray(text);
  crypto::Wipe(text);
  return bytes;
}

std::optional<Bytes> CryptoAPI::DigestOf(crypto::HashAlgorithm hash,
                                         std::span<const std::uint8_t> data) {
  return crypto::Digest(*context_->providers, hash, data);
}

}  // namespace talvex
