// MailDropView: one session's view of its user's mail drop. It locks the drop under the
// session's identifier, numbers the items it holds from 1 in the database's order, and loads
// items by message number. Numbers never change during a session; a deleted message keeps its
// number, and the database stops showing it.
//
// Item fields are read from the database at every command, so that each answer reflects the
// stored item as it is then. What is worked out from them, a message's size and unique
// identifier, is remembered per message under a digest of the fields and host name it came
// from: an item whose fields change is worked out again, one the database no longer shows is
// left out, exactly as when nothing was remembered. The memo holds 32 bytes per message, so
// an idle session stays small.
#pragma once

#include <array>
#include <asio/awaitable.hpp>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/maildrop_store.hpp"

namespace talvex {

// A message-number argument as a command reads it.
struct MessageNumber {
  enum class Kind { kNotNumeric, kOutOfRange, kValid };
  Kind kind = Kind::kNotNumeric;
  std::size_t number = 0;  // from 1, when valid
};

class MailDropView {
 public:
  // `store` is the session's data access; `sessionId` names the session towards the database.
  MailDropView(data::MailDropStore store, std::string sessionId)
      : store_(std::move(store)), sessionId_(std::move(sessionId)) {}

  data::MailDropStore& Store() { return store_; }

  // Locks the drop of `email` and numbers its items. A lock refused or failed leaves the drop
  // empty: the client finds no messages.
  asio::awaitable<LockOutcome> Open(const std::string& email);
  // Takes the lock again, which renews its time, so that a session that outlives the age at
  // which a lock counts as stale keeps its drop; false when refused.
  asio::awaitable<bool> Renew();
  std::size_t Count() const { return ids_.size(); }
  // A numeric argument (a half rounds to the even neighbour) is valid from 1 to Count().
  MessageNumber Parse(std::string_view argument) const;

  // Message n's fields, or nullopt when the database no longer shows its item.
  asio::awaitable<std::optional<data::ItemStats>> Stats(std::size_t n);
  // Every message's fields in one query: entry n - 1 is what Stats(n) would give.
  using Shown = std::vector<std::optional<data::ItemStats>>;
  asio::awaitable<Shown> AllStats();
  // Message n's size and unique identifier, worked out from `item`, its current fields, as
  // MessageSize and UniqueIdentifier do (with their failures), or taken from the memo.
  std::int64_t Size(std::size_t n, const data::ItemStats& item, std::string_view hostName);
  std::string UniqueId(std::size_t n, const data::ItemStats& item, std::string_view hostName);
  // Message n with its body when that is at most `bodyUpTo` octets long; a longer one is read
  // through OpenBody.
  asio::awaitable<std::optional<data::MailItem>> Item(std::size_t n, std::int64_t bodyUpTo);
  std::unique_ptr<data::BodyReader> OpenBody(std::size_t n);
  // Marks message n deleted, by DELE or by a retrieval that deletes.
  asio::awaitable<bool> MarkDeleted(std::size_t n, data::ItemStatus status);
  // RSET: every item of the session is listed again.
  asio::awaitable<bool> Restore();
  // QUIT: removes the messages marked deleted; false when the database refused.
  asio::awaitable<bool> RemoveDeleted();
  // Hands every item back to the drop and ends the lock.
  asio::awaitable<bool> Release();

 private:
  std::int64_t IdOf(std::size_t n) const { return ids_.at(n - 1); }

  // What has been worked out for one message, valid while the digest of its header fields
  // and the host name stays `fields`: the octets of its header block on the wire (0 until
  // worked out; a header block is never empty), to which the body's length is added, and an
  // identifier in digest form, 32 hexadecimal digits, kept as the 16 bytes they spell. Any
  // other identifier is a stored one, which comes with the fields at no cost.
  struct Remembered {
    std::uint64_t fields = 0;
    std::uint32_t headerOctets = 0;
    bool hasId = false;
    std::array<std::uint8_t, 16> id{};
  };
  // An idle session with a hundred messages keeps its memo within about 3 KiB.
  static_assert(sizeof(Remembered) <= 32);
  // Message n's memo entry for `item`, emptied when the fields changed; nullptr for an item
  // that must be worked out each time.
  Remembered* Memo(std::size_t n, const data::ItemStats& item, std::string_view hostName);

  data::MailDropStore store_;
  std::string sessionId_;
  std::string email_;              // the drop's address, once opened
  std::vector<std::int64_t> ids_;  // message n is ids_[n - 1]; ascending, as listed
  std::vector<Remembered> memo_;   // parallel to ids_
};

}  // namespace talvex
