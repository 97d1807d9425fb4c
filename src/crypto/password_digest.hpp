// The digest that a user record stores in place of the password, and that a log-in compares.
#pragma once

#include <string>
#include <string_view>

namespace talvex {

// HashText of the password, the user's identifier (UserID) and the installation's salt (string
// table entry PasswordSalt), joined in that order. The identifier makes equal passwords of two
// users differ; the salt makes digests of two installations differ.
std::string PasswordDigest(std::string_view password, std::string_view userId);

}  // namespace talvex
