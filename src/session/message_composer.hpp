// Message composition: the header block of an RFC 822 message made from one stored item, and
// the first lines of a body for TOP. Items are served as header block + stored body; the body
// was encoded when the item was stored and is never changed here.
#pragma once

#include <cstdint>
#include <string>

#include "data/recordset.hpp"

namespace talvex {

// The header block of the item in the current row of `item`, ending with an empty line. Writes
// the generated identifier into the row's "MessageID" (the caller reads it from there). The
// date, subject, content type and identifier steps tolerate fields that cannot be read; a row
// without "MessageID", "FromName", "FromAddress" or "ToAddress" raises.
std::string ComposeMessageHeader(Recordset& item, const std::string& hostName);

// The first `count` lines of `body` joined by CR LF; the whole body when it has fewer line
// ends than `count`.
std::string GetTopLines(const std::string& body, std::int32_t count);

}  // namespace talvex
