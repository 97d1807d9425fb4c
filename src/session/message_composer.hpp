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
#include "session/message_facts.hpp"

namespace talvex {

// The identifier in the Message-ID line: the digest of the item's date, sender name, sender
// address and recipient, so that it is the same in every session. Empty when all four are
// null, as there is nothing to digest. With `facts`, a digest worked out before is taken from
// there, and a new one kept there; every function below that composes a header passes its
// `facts` on to this one.
std::string GeneratedMessageId(const data::ItemHeader& item, MessageFacts* facts = nullptr);

// The header block (text, CR LF line ends), ending with an empty line. `hostName` follows the
// "@" of the Message-ID. A stored date is written as stored; a missing one is the current
// local date.
std::string ComposeMessageHeader(const data::ItemHeader& item, std::string_view hostName,
                                 MessageFacts* facts = nullptr);

// The octets RETR sends for the item: its header block on the wire plus its stored body's
// length. A null body length raises the invalid-use-of-null failure.
std::int64_t MessageSize(const data::ItemStats& item, std::string_view hostName,
                         MessageFacts* facts = nullptr);

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
                     std::string_view hostName, DotStuffing stuffing = DotStuffing::kOff,
                     MessageFacts* facts = nullptr);

// RETR's message as AppendRetrieved gives it, a piece at a time, so that a large body is read,
// encoded and queued while the client reads rather than held whole: the caller appends the
// body's text as it reads it to Unsent(), and each piece encodes what of that text ends at its
// last line end (or, in a long line, at a character boundary), keeping the rest for the next.
// The pieces joined are exactly AppendRetrieved's output, wherever the reads end. The header
// block goes with the first piece, the "\r\n." that ends the message with the last.
class RetrievedPieces {
 public:
  RetrievedPieces(const data::ItemHeader& item, std::string_view hostName, DotStuffing stuffing,
                  MessageFacts* facts = nullptr);
  // The body's text that is read but not yet encoded.
  std::string& Unsent() { return unsent_; }
  // The octets still to read before a piece that is not the last: a cut needs the whole
  // character (of up to four octets) that it falls in. 0 when there are enough.
  std::size_t Missing(std::size_t pieceOctets) const {
    const std::size_t needed = pieceOctets + kCharacterOctets;
    return unsent_.size() < needed ? needed - unsent_.size() : 0;
  }
  bool NeedsMore(std::size_t pieceOctets) const { return Missing(pieceOctets) > 0; }
  // Encodes the next piece onto `out`: with `last` (the body has been read to its end) all of
  // the unsent text and the message's end; otherwise, once no more is needed, the unsent text
  // up to its last line end within `pieceOctets`, else `pieceOctets` of it cut at a character
  // boundary.
  void AppendNext(std::string& out, std::size_t pieceOctets, bool last);

 private:
  static constexpr std::size_t kCharacterOctets = 4;  // the longest character's
  std::string header_;
  DotStuffing stuffing_;
  std::string unsent_;
  bool started_ = false;
  bool lineStart_ = true;  // the unsent text begins a line
};

// The item's unique identifier: its stored identifier, or for an item without one the digest
// of its header block.
std::string UniqueIdentifier(const data::ItemHeader& item, std::string_view hostName,
                             MessageFacts* facts = nullptr);

// The first `count` lines of `body` joined by CR LF; the whole body when it has fewer line
// ends than `count`.
std::string GetTopLines(const std::string& body, std::int32_t count);

}  // namespace talvex
