// The exit codes of both programs.
#pragma once

namespace talvex::apps {

inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;  // not found or refused; for the server, a failed start
inline constexpr int kExitUsage = 2;    // a bad option or value

}  // namespace talvex::apps
