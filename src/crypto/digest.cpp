// Message digests through the loaded providers, MD2 through our own implementation.
#include "crypto/digest.hpp"

#include <array>

#include "crypto/md2.hpp"

namespace talvex::crypto {

namespace {

struct HashSpec {
  std::int32_t code;
  HashAlgorithm algorithm;
  const char* opensslName;  // null: computed here
  std::size_t length;
};

constexpr std::array<HashSpec, 4> kHashes = {{
    {1, HashAlgorithm::kMd5, "MD5", 16},
    {2, HashAlgorithm::kMd4, "MD4", 16},
    {3, HashAlgorithm::kMd2, nullptr, 16},
    {4, HashAlgorithm::kSha1, "SHA1", 20},
}};

const HashSpec& EntryOf(HashAlgorithm algorithm) {
  for (const HashSpec& entry : kHashes) {
    if (entry.algorithm == algorithm) return entry;
  }
  return kHashes.front();  // unreachable: every enumerator has a row
}

}  // namespace

std::optional<HashAlgorithm> HashFromCode(std::int32_t code) {
  for (const HashSpec& entry : kHashes) {
    if (entry.code == code) return entry.algorithm;
  }
  return std::nullopt;
}

std::optional<Bytes> Digest(const Providers& providers, HashAlgorithm algorithm,
                            std::span<const std::uint8_t> message) {
  const HashSpec& entry = EntryOf(algorithm);
  if (entry.opensslName == nullptr) {
    const Md2Digest md2 = Md2(message);
    return Bytes(md2.begin(), md2.end());
  }
  const UniqueMd md = providers.FetchDigest(entry.opensslName);
  const UniqueMdCtx ctx(EVP_MD_CTX_new());
  if (!md || !ctx) return std::nullopt;
  std::array<std::uint8_t, EVP_MAX_MD_SIZE> out{};
  unsigned int length = 0;
  if (EVP_DigestInit_ex2(ctx.get(), md.get(), nullptr) != 1 ||
      EVP_DigestUpdate(ctx.get(), message.data(), message.size()) != 1 ||
      EVP_DigestFinal_ex(ctx.get(), out.data(), &length) != 1 || length != entry.length) {
    return std::nullopt;
  }
  return Bytes(out.begin(), out.begin() + length);
}

}  // namespace talvex::crypto
