// Message composition: how a stored item is served as an RFC 822 message. The message is the
// header block composed here from the item's fields, followed by the stored body, which was
// encoded when the item was stored and is never changed here. Its size and its unique
// identifier follow from the same header block, so that what STAT, LIST and UIDL report
// matches what RETR sends.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "data/maildrop_store.hpp"

namespace talvex {

// The identifier in the Message-ID line: the digest of the item's date, sender name, sender
// address and recipient, so that it is the same in every session. Empty when all four are
// null, as there is nothing to digest.
std::string GeneratedMessageId(const data::ItemHeader& item);

// The header block (text, CR LF line ends), ending with an empty line. `hostName` follows the
// "@" of the Message-ID. A stored date is written as stored; a missing one is the current
// local date.
std::string ComposeMessageHeader(const data::ItemHeader& item, std::string_view hostName);

// The octets RETR sends for the item: its header block on the wire plus its stored body's
// length. A null body length raises the invalid-use-of-null failure.
std::int64_t MessageSize(const data::ItemStats& item, std::string_view hostName);

// Whether a line of the message that begins with "." goes out with the "." doubled, so that
// a client can tell it from the line "." that ends the reply. Sizes never count the added dots.
enum class DotStuffing { kOff, kOn };

// `text` encoded as wire bytes and appended to `out`, its lines stuffed when asked; `text`
// begins a line unless `lineStart` says otherwise (a piece cut from the middle of one).
void AppendWireText(std::string& out, std::string_view text, DotStuffing stuffing,
                    bool lineStart = true);

// RETR's message as wire bytes, appended to `out`: the header block, the stored body and the
// "\r\n." that ends it, encoded straight into `out` after one reservation.
void AppendRetrieved(std::string& out, const data::ItemHeader& item, std::string_view body,
                     std::string_view hostName, DotStuffing stuffing = DotStuffing::kOff);

// RETR's message as AppendRetrieved gives it, a piece at a time, so that a large message is
// encoded and queued while the client reads rather than all at once: each piece holds at most
// `pieceOctets` of the stored body, cut after its last line end where it has one and otherwise
// at a character boundary, and the pieces joined are exactly AppendRetrieved's output. The
// header block goes with the first piece, the "\r\n." that ends the message with the last.
// `body` must outlive the object.
class RetrievedPieces {
 public:
  RetrievedPieces(const data::ItemHeader& item, std::string_view body, std::string_view hostName,
                  DotStuffing stuffing);
  // Whether the next piece is the last.
  bool LastIsNext(std::size_t pieceOctets) const { return body_.size() - next_ <= pieceOctets; }
  bool Done() const { return done_; }
  void AppendNext(std::string& out, std::size_t pieceOctets);

 private:
  std::string header_;
  std::string_view body_;
  DotStuffing stuffing_;
  std::size_t next_ = 0;
  bool done_ = false;
};

// The item's unique identifier: its stored identifier, or for an item without one the digest
// of its header block.
std::string UniqueIdentifier(const data::ItemHeader& item, std::string_view hostName);

// The first `count` lines of `body` joined by CR LF; the whole body when it has fewer line
// ends than `count`.
std::string GetTopLines(const std::string& body, std::int32_t count);

}  // namespace talvex
