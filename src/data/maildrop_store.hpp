// MailDropStore: the POP3 session's access to the mail-drop operations of its DataHandler, in
// the session's own terms: item identifiers as integers, statuses as an enum, rows as structs.
// It owns the session's DataHandler. Every call is awaitable, so that a backend that waits on
// the network suspends only the session that asked; the embedded backend completes each call
// at once. Failures pass to the caller as the DataHandler operation raises them; the status
// operations log theirs and give false.
#pragma once

#include <asio/awaitable.hpp>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/backend_pool.hpp"
#include "data/body_reader.hpp"
#include "data/data_handler.hpp"
#include "data/recordset.hpp"
#include "platform/environment.hpp"
#include "platform/log.hpp"

namespace talvex::data {

// What an item's status says about it in the mail drop.
enum class ItemStatus : std::int16_t {
  kWaiting = 0,           // in the drop, held by no session
  kListed = 4,            // locked and listed by a session
  kDeleted = 5,           // marked by DELE
  kRetrievedDeleted = 6,  // retrieved while deletion on retrieval is on
};

// The user record of a log-in.
struct UserAccount {
  std::string userId;
  std::string userPassword;          // the stored digest
  std::optional<std::string> email;  // names the mail drop; nullopt for a null field
  bool disabled = false;
};

// The stored fields a message's header block is made of; nullopt stands for a null field.
struct ItemHeader {
  std::optional<std::string> dtReceived;
  std::optional<std::string> subject;
  std::optional<std::string> content;
  std::optional<std::string> messageId;
  std::optional<std::string> fromName;
  std::optional<std::string> fromAddress;
  std::optional<std::string> toAddress;
};

// An item as the listings see it: its header fields and the length of its stored body.
struct ItemStats {
  ItemHeader header;
  std::optional<std::int32_t> bodyLength;  // nullopt when the database holds none
};

// An item's listing fields under its identifier, with the digest the database gives them.
struct ItemStatsRow {
  std::int64_t itemId = 0;
  ItemStats stats;
  std::uint64_t digest = 0;
};

// An item's identifier and the digest of its listing fields: the same digest as long as each
// field is the same, another one (but for a chance of 2^-64) when any differs; nullopt when the
// database has none at hand (the item's full row carries it).
struct ItemDigest {
  std::int64_t itemId = 0;
  std::optional<std::uint64_t> digest;
};

// A drop as its listing found it: the items the session holds, in the database's order, and
// what tells later that none of them has changed since.
struct DropListing {
  std::vector<std::int64_t> ids;
  // The digests of the items' fields (as ItemDigest), in the order of `ids`; empty unless the
  // database had one at hand for every item.
  std::vector<std::uint64_t> digests;
  // The drop's version when the items were listed; while DropChanges gives the same, every
  // listed item is there with the same digest.
  std::optional<std::int64_t> changes;
};

// A lock taken or refused, with the drop's version when taken: a listing made under the same
// version, by any session, is the one that ListItems would give now. A drop that never had an
// item has no version.
struct DropLock {
  LockOutcome outcome = LockOutcome::kFailed;
  std::optional<std::int64_t> version{};
};

// An item as retrieval sees it: its header fields and its stored body, unless that was left in
// the database to be read a piece at a time.
struct MailItem {
  ItemHeader header;
  std::optional<std::string> body;
  bool bodyLeft = false;  // the body was longer than asked for: read it with OpenBody
};

class MailDropStore {
 public:
  // Creates the DataHandler (which raises its creation error when the database cannot be
  // reached); its log lines go to `log`. `instanceId` names the server process whose heartbeat
  // keeps the locks alive; empty for none.
  MailDropStore(const Environment& env, std::shared_ptr<BackendPool> pool, LogSink log,
                std::string instanceId = {});

  // The account of a logon name, or nullopt when there is none.
  asio::awaitable<std::optional<UserAccount>> FindUser(const std::string& logonName);
  // Locks the drop of `email` for the session; false (logged) when refused or failed.
  asio::awaitable<bool> Lock(const std::string& email, const std::string& sessionId);
  // The same, telling a drop in use from a failed database.
  asio::awaitable<DropLock> LockWithOutcome(const std::string& email, const std::string& sessionId);
  // The items of the drop that the session holds, in the database's order.
  asio::awaitable<DropListing> ListItems(const std::string& email, const std::string& sessionId);
  // The drop's version, or nullopt when the session no longer holds the lock.
  asio::awaitable<std::optional<std::int64_t>> DropChanges(const std::string& email,
                                                           const std::string& sessionId);
  // An item's fields, or nullopt when the drop no longer shows it.
  asio::awaitable<std::optional<ItemStats>> Stats(std::int64_t itemId);
  // Stats of many items in one call: a row for each of `itemIds` that Stats would show, in
  // ascending identifier order.
  asio::awaitable<std::vector<ItemStatsRow>> StatsOf(const std::vector<std::int64_t>& itemIds);
  // The digests of the items of the drop of `email` that Stats would show, in ascending
  // identifier order.
  asio::awaitable<std::vector<ItemDigest>> DigestsOf(const std::string& email);
  // An item's fields and its body when that is at most `bodyUpTo` octets long, or nullopt when
  // the drop no longer shows the item.
  asio::awaitable<std::optional<MailItem>> Load(std::int64_t itemId, std::int64_t bodyUpTo);
  // A reader of the item's stored body. It refers to this object, which must outlive it.
  std::unique_ptr<BodyReader> OpenBody(std::int64_t itemId);
  // Status changes; false (logged) when the database refused them.
  asio::awaitable<bool> SetStatus(std::int64_t itemId, ItemStatus status);
  // Gives every item the session holds the status; with `release` they leave the session.
  asio::awaitable<bool> SetSessionStatus(const std::string& sessionId, ItemStatus status,
                                         bool release);
  // Removes the session's items that are marked deleted.
  asio::awaitable<bool> RemoveDeleted(const std::string& sessionId);

 private:
  DataHandler handler_;
  std::string instanceId_;
  // Where the fields read lie in each query's rows, found at its first result.
  FieldPositions<4> userFields_;
  FieldPositions<3> dropFields_;
  FieldPositions<1> changesField_;
  FieldPositions<1> versionField_;  // of the lock's row
  FieldPositions<8> statsFields_;
  FieldPositions<8> dropStatsFields_;
  FieldPositions<2> dropStatsIds_;  // GWQID and Digest of the full rows
  FieldPositions<2> digestFields_;  // the same of the digests' rows
  FieldPositions<8> itemFields_;
  FieldPositions<1> bodyLeftField_;
};

}  // namespace talvex::data
