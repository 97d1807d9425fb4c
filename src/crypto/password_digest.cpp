// The password digest from HashText and the string table's salt.
#include "crypto/password_digest.hpp"

#include "crypto/hash_text.hpp"
#include "platform/resources.hpp"

namespace talvex {

std::string PasswordDigest(std::string_view password, std::string_view userId) {
  std::string text(password);
  text += userId;
  text += resources::LoadResString(resources::StringId::kPasswordSalt);
  return HashText(text);
}

}  // namespace talvex
