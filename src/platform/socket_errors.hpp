// Socket errors as the component reports them: Linux errors mapped to the socket layer's
// numbers (10048 "address in use" and its family), so that the numbers in log lines and the
// decisions taken on them do not depend on the platform.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

namespace talvex {

// The socket layer's number for an error (e.g. EADDRINUSE -> 10048); errors without such a
// number keep their own value.
std::int32_t SocketErrorNumber(const std::error_code& ec);

// A readable description of the error.
std::string SocketErrorDescription(const std::error_code& ec);

}  // namespace talvex
