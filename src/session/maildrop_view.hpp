// MailDropView: one session's view of its user's mail drop. It locks the drop under the
// session's identifier, numbers the items it holds from 1 in the database's order, and loads
// items by message number. Numbers never change during a session; a deleted message keeps its
// number, and the database stops showing it.
//
// Every answer reflects the stored item as it is at that command. A listing asks the database
// for the digests of its items' fields, and takes a message's size or unique identifier from
// the server's MessageFacts while the digest (with the host name) is the one it was worked out
// under; only the other items' fields are read and worked out, and then remembered. An item
// whose fields change gets another digest and is worked out again; one the database no longer
// shows gives no digest and is left out, exactly as when nothing was remembered. The listing at
// the log-in gave the digests too, and with them the drop's version: while that is the same, no
// listed item has changed or gone, and the listings take those digests instead of reading them
// again. A log-in whose lock gives a version that the server has a listing of takes that one.
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
#include "session/message_facts.hpp"

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
  // `facts` is the server's memory of worked-out messages; without one every listing works
  // each message out from its fields.
  MailDropView(data::MailDropStore store, std::string sessionId,
               std::shared_ptr<MessageFacts> facts = {})
      : store_(std::move(store)), sessionId_(std::move(sessionId)), facts_(std::move(facts)) {}

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

  // What a listing shows of one message: what was remembered of it, or its current fields.
  struct Listed {
    std::int64_t itemId = 0;
    std::uint64_t key = 0;   // the fields' digest mixed with the host name's
    bool remember = false;   // what is worked out from `stats` may be remembered under `key`
    std::int64_t size = -1;  // remembered, or -1
    std::string uniqueId{};  // remembered, or empty
    // Read when what is needed was not remembered. Held apart, since a listing of remembered
    // messages walks a vector of these once per command and rarely needs the fields.
    std::unique_ptr<const data::ItemStats> stats{};
  };
  // What the listing needs of each message.
  enum class Need { kSize, kUniqueId };
  // Message n as GetP3ItemStats shows it, or nullopt when the database no longer shows its item.
  asio::awaitable<std::optional<Listed>> Stats(std::size_t n);
  // Every message in at most two queries: entry n - 1 is shown exactly when Stats(n) would
  // show it, and holds what `need` asks for or the fields to work it out from.
  using Shown = std::vector<std::optional<Listed>>;
  asio::awaitable<Shown> AllStats(Need need, std::string_view hostName);
  // A message's size and unique identifier as MessageSize and UniqueIdentifier work them out
  // from its current fields (with their failures), or as remembered.
  std::int64_t Size(const Listed& item, std::string_view hostName);
  std::string UniqueId(const Listed& item, std::string_view hostName);
  // Message n with its body when that is at most `bodyUpTo` octets long; a longer one is read
  // through OpenBody.
  asio::awaitable<std::optional<data::MailItem>> Item(std::size_t n, std::int64_t bodyUpTo);
  std::unique_ptr<data::BodyReader> OpenBody(std::size_t n);
  // The server's memory of worked-out messages, for composing them; null when there is none.
  MessageFacts* Facts() const { return facts_.get(); }
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
  // The fields a listing entry was read with; an entry holds them unless it was remembered.
  static const data::ItemStats& FieldsOf(const Listed& item);
  // Entry n - 1 of `shown` for the item, when the item is one of the drop's.
  std::optional<Listed>* SlotOf(Shown& shown, std::int64_t itemId) const;
  // Takes from the memory what `need` asks for of each item whose digest is unchanged; gives
  // the identifiers of the others.
  asio::awaitable<std::vector<std::int64_t>> Recall(Shown& shown, Need need, std::uint64_t hostKey);
  // Whether every listed item is as it was listed, with the digest in digests_.
  asio::awaitable<bool> Unchanged();

  data::MailDropStore store_;
  std::string sessionId_;
  std::shared_ptr<MessageFacts> facts_;
  std::string email_;              // the drop's address, once opened
  std::vector<std::int64_t> ids_;  // message n is ids_[n - 1]; ascending, as listed
  // What the listing gave: each item's digest (parallel to ids_), and the drop's version then;
  // none once a version differed.
  std::vector<std::uint64_t> digests_;
  std::optional<std::int64_t> listedChanges_;
};

}  // namespace talvex
