// DataHandler: the component's data-access layer. Each operation calls one stored procedure of
// the suite's database through the object's DataAccess, with one parameter descriptor per
// parameter, and returns the rows or a success flag. Operations armed with a failure handler
// turn a failure into one log line (source "Data Handler") and their failure value; the
// others pass the failure to their caller. Each session owns one DataHandler, which owns its
// DataAccess (with its database connection), one RegLib and the cached registry switches.
#pragma once

#include <asio/awaitable.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/data_access.hpp"
#include "data/parameter.hpp"
#include "data/recordset.hpp"
#include "platform/environment.hpp"
#include "platform/failure.hpp"
#include "platform/log.hpp"
#include "platform/reglib.hpp"

namespace talvex {

inline constexpr std::string_view kDataHandlerSource = "Data Handler";

// The error reporter's line: the message, ": " when the message is not empty, then "[", the
// failure's error line, "]".
std::string ErrorReportLine(std::string_view message, const Failure& failure);
// Its severity: detail for the generic provider error (0x80004005), failure for any other
// number.
Severity ErrorMessageType(std::int32_t number);

// A user record as WriteUser stores it; every field is the text the procedure receives.
struct UserRecord {
  std::string recId;  // empty for a new user
  std::string userId;
  std::string userName;
  Variant displayName;
  std::string alias;
  std::string description;
  std::string email;
  std::string mobile;
  std::string department;
  std::string logonName;
  std::string userPassword;
  std::string pop3User = "0";
  std::string httpUser = "0";
  std::string administrator = "0";
  std::string acctDisabled = "0";
  std::string userType = "0";
};

// A group record as WriteGroup stores it; every field is the text the procedure receives.
struct GroupRecord {
  std::string recId;  // empty for a new group
  std::string groupId;
  std::string groupName;
  std::string alias;
  std::string description;
  std::string allowBroadcast = "0";
  std::string groupType = "0";
};

// A transaction-log record as WriteTransLog receives it, in the order of the operation's
// arguments. Numbers are passed as their decimal text; an empty one is stored as NULL.
struct TransLogEntry {
  std::string transDt;  // "YYYY-MM-DD HH:MM:SS"; empty: the time of writing
  std::string messageId;
  std::string content;  // "Unicode": the body is kept as its 16-bit character codes
  std::string fromAddress;
  std::string fromName;
  Variant toAddress;
  std::string toName;
  std::string subject;
  std::string body;
  std::string direction;
  std::string network;
  std::string cost;  // set to "0" in place when empty or not a number
  std::string type;
  std::string status;
  std::string department;
  std::string parentId;
  std::string messageType;
};

// A cost band as WriteCost stores it; every field is the text the procedure receives.
struct CostRecord {
  std::string costId;  // "0" or empty for a new band
  std::string costName;
  std::string startTime;  // "HH:MM:SS", local time of day
  std::string endTime;    // likewise; not after startTime: the band runs past midnight
  std::string costValue;  // set to "0" in place when it is not a number
  std::string networkId;
  std::string direction;  // "I" or "O"
  std::string enabled = "1";
};

// An SMS queue item as WriteSMSItem stores it, in the order of the operation's arguments.
// Dates are "YYYY-MM-DD HH:MM:SS" or empty: no receipt date means the time of writing, no send
// date means at once.
struct SmsItemRecord {
  std::string dtReceived;
  std::string source;
  std::string messageId;
  Variant content;
  std::string fromAddress;
  std::string fromName;
  std::string toAddress;
  std::string subject;
  std::string body;
  std::string direction;  // "I" or "O"
  std::string rawData;
  std::string connector;
  std::string dataCoding;
  std::string sendDt;
};

// One segment of a multipart SMS as WriteSMSSegment caches it, in the order of the
// operation's arguments. Segments with the same hash form one message, which becomes a queue
// item once all segmentCount of them are cached.
struct SmsSegmentRecord {
  std::string dtReceived;  // "YYYY-MM-DD HH:MM:SS"; empty: the time of writing
  std::string source;
  std::string messageId;
  std::string dataCoding;
  std::string content;
  std::string fromAddress;
  std::string toAddress;
  std::string segmentHash;  // 32 characters
  std::string segmentReference;
  std::string segmentCount;
  std::string segmentNumber;  // from 1
  std::string body;
  std::string rawData;
  std::string direction;
  std::string connector;
  std::string status = "0";
};

// A server process as the mail-drop locks know it. instanceId is new at every start, so that a
// process never passes for one that ran before it.
struct ServerInstance {
  std::string instanceId;  // 32 hexadecimal digits
  std::string hostName;
  std::int32_t processId = 0;
};

// One procedure call of an operation: built once, run by the operation's blocking form and by
// its awaited form alike. `failureMessage` is the line that a handled failure is logged with.
struct ProcedureCall {
  std::string_view procedure;
  std::vector<ParameterDescriptor> parameters;
  std::string_view failureMessage;
};

// How a call of the lock procedure ended: the drop is the session's, the procedure refused
// because another session holds it, or the database failed.
enum class LockOutcome { kLocked, kInUse, kFailed };

// An awaited lock: how it ended and, when it took the drop, the rows the procedure gave.
struct LockResult {
  LockOutcome outcome = LockOutcome::kFailed;
  Recordset rows{};
};

class DataHandler {
 public:
  // Raises Failure -20042304 (source "Data Handler") when the data-access object cannot be
  // created; other failures pass unchanged.
  // `pool`, when given, shares the database connections of one server among its sessions.
  explicit DataHandler(const Environment& env, std::shared_ptr<data::BackendPool> pool = {});

  // Where the failure handlers' lines go (source "Data Handler"); none are written without.
  void SetEventLog(LogSink sink) { eventLog_ = std::move(sink); }

  // Passed unchanged to every call; empty means the process default database.
  const std::string& ConnectionString() const { return connectionString_; }
  void ConnectionString(std::string value) { connectionString_ = std::move(value); }

  // The POP3 mail drop. The record-set operations raise their failures; the flag operations
  // log them and return false.
  Recordset GetP3UserDetails(const std::string& logonName);
  // `instanceId` names the server process of the session, whose heartbeat keeps the lock
  // alive; without one only the lock's age makes it stale.
  bool LockP3MailDrop(const std::string& emailAddress, const std::string& sessionId,
                      const std::string& instanceId = {});
  Recordset GetP3MailDrop(const std::string& emailAddress, const std::string& sessionId);
  // Item identifiers, statuses and the clearItems flag are passed as numbers or as their
  // decimal text; a number goes to the database as it is.
  Recordset GetP3MailItem(const Variant& itemId);
  bool SetP3ItemsStatus(const std::string& sessionId, const Variant& status,
                        const Variant& clearItems);
  bool RemoveP3Items(const std::string& sessionId);
  bool UpdateP3ItemStatus(const Variant& itemId, const Variant& status);
  Recordset GetP3ItemStats(const Variant& itemId);
  // The GetP3ItemStats rows of many items at once, in GWQID order; `itemIds` lists their
  // GWQIDs, separated by commas.
  Recordset GetP3DropStats(const std::string& itemIds);
  // For each item of the drop of `emailAddress` that GetP3ItemStats would give a row for, in
  // GWQID order: GWQID and Digest, a number that changes whenever any of the fields of that row
  // changes (the row of GetP3DropStats carries it too), so that what was worked out from the
  // fields can be told to be still valid without reading them. Digest is Null where the
  // database keeps none at hand; GetP3DropStats gives it with the fields.
  Recordset GetP3DropDigests(const std::string& emailAddress);
  // The field Changes: the version of the drop of `emailAddress`, a number that moves with
  // every arrival, update and removal of one of its items; no row unless `sessionId` holds the
  // lock. GetP3MailDrop's rows carry it and each item's Digest too: while it is the same, no
  // listed item has changed or gone.
  Recordset GetP3DropChanges(const std::string& emailAddress, const std::string& sessionId);
  // A server process's heartbeat; the first one registers it. A lock held by a process that
  // has not beaten for a minute, or that removed itself, is stale.
  bool BeatP3Instance(const ServerInstance& instance);
  bool RemoveP3Instance(const std::string& instanceId);
  // The same operations for a session on the event loop: the same procedures and the same
  // failures, awaited, so that a database on the network holds up only the awaiting session.
  asio::awaitable<Recordset> GetP3UserDetailsAsync(const std::string& logonName);
  asio::awaitable<bool> LockP3MailDropAsync(const std::string& emailAddress,
                                            const std::string& sessionId,
                                            const std::string& instanceId = {});
  // The same call, telling a refusal from a failure; either is reported as above. A lock taken
  // gives the drop's version (field Version; no row for a drop that never had an item) as
  // GetP3DropChanges gives it: any session's listing made under that version is the one that
  // GetP3MailDrop gives now.
  asio::awaitable<LockResult> LockP3MailDropOutcomeAsync(const std::string& emailAddress,
                                                         const std::string& sessionId,
                                                         const std::string& instanceId = {});
  asio::awaitable<Recordset> GetP3MailDropAsync(const std::string& emailAddress,
                                                const std::string& sessionId);
  asio::awaitable<Recordset> GetP3MailItemAsync(const Variant& itemId);
  asio::awaitable<bool> SetP3ItemsStatusAsync(const std::string& sessionId, const Variant& status,
                                              const Variant& clearItems);
  asio::awaitable<bool> RemoveP3ItemsAsync(const std::string& sessionId);
  asio::awaitable<bool> UpdateP3ItemStatusAsync(const Variant& itemId, const Variant& status);
  asio::awaitable<Recordset> GetP3ItemStatsAsync(const Variant& itemId);
  asio::awaitable<Recordset> GetP3DropStatsAsync(const std::string& itemIds);
  asio::awaitable<Recordset> GetP3DropDigestsAsync(const std::string& emailAddress);
  asio::awaitable<Recordset> GetP3DropChangesAsync(const std::string& emailAddress,
                                                   const std::string& sessionId);
  // GetP3MailItem for a reader that takes a long body a piece at a time: the field Body holds
  // the body only when its stored length is at most `bodyUpTo`; BodyLeft is 1 when a body was
  // left in the database for being longer.
  asio::awaitable<Recordset> GetP3MailItemUpToAsync(std::int64_t itemId, std::int64_t bodyUpTo);
  // The field Piece: `count` characters of the item's stored body from the `start`-th (the
  // first is 1); no row when the item has no body.
  asio::awaitable<Recordset> GetP3BodyPieceAsync(std::int64_t itemId, std::int64_t start,
                                                 std::int64_t count);
  // The backend's own reader of the item's stored body, or null: see DataAccess::OpenBody.
  std::unique_ptr<data::BodyReader> OpenP3Body(std::int64_t itemId);
  asio::awaitable<bool> BeatP3InstanceAsync(const ServerInstance& instance);
  asio::awaitable<bool> RemoveP3InstanceAsync(const std::string& instanceId);

  // Users and gateway items.
  bool WriteUser(const UserRecord& user);
  bool DeleteUser(const std::string& recId);
  Recordset GetUser(const std::string& recId);
  Recordset GetAllUsers(const std::string& userType);
  Recordset GetUsers(const std::string& userType);
  Recordset CheckDupUsers(const std::string& userName, const std::string& alias,
                          const std::string& email, const std::string& mobile,
                          const std::string& logonName, const std::string& userType);
  // Stores one gateway item. For direction "O" composes content (passed in as the requested
  // charset) and encodes body first; messageId and subject are cut to 255 characters. The
  // caller's variables receive these changes. False, without a log line, for an empty
  // toAddress; false with a logged line for any failure. newItemId, when given, receives the
  // new item's GWQID.
  bool WriteGWItem(const std::string& dtReceived, const std::string& source, std::string& messageId,
                   Variant& content, const std::string& fromAddress, const std::string& fromName,
                   const std::string& toAddress, std::string& subject, std::string& body,
                   const std::string& direction, const std::string& rawData = {},
                   const std::string& transport = {}, std::string* newItemId = nullptr);
  Recordset GetGWItems(const std::string& direction);

  // The gateway's own delivery of the queue (gateway.cpp). Besides the mail-drop states an
  // item is 0 waiting, 2 sent or 3 failed (dead); reviving puts dead items back to waiting,
  // purging removes them. GetGWQStats raises its failures; the others log them. GetGWItem
  // gives a new unopened record set after a failure.
  Recordset GetGWItem(const std::string& itemId);
  bool RemoveGWItem(const std::string& itemId);
  // Item and status travel as texts; the status must be one of the codes above or 4 to 6.
  bool SetGWItemStatus(const std::string& gwItem, const std::string& itemStatus);
  bool PurgeDeadGWItems(const std::string& direction);
  // The waiting items of the direction into gwItems. An empty direction means "O", which the
  // caller's variable receives. After a failure gwItems is a new unopened record set and the
  // result false.
  bool QueryGWQueue(Recordset& gwItems, std::string& direction);
  Recordset GetGWQStats(const std::string& direction);  // rows of Status and Items
  bool ReviveGWItems(const std::string& direction);
  Variant UpdateGWToAddress(const std::string& itemId, const std::string& toAddress);
  // The dead items, as QueryGWQueue gives the waiting ones. The retry time is accepted for the
  // callers' sake; the procedure takes none.
  bool GetDeadGWItems(Recordset& deadItems, std::string& direction,
                      const std::string& retryTime = {});
  bool GetDeadGWItems(Recordset& deadItems);  // direction "O"

  // Web log-ins and the groups of users (users.cpp, groups.cpp). Memberships join a user's
  // and a group's 32-digit ids; the DeleteAll operations take a record number and find the id.
  // The writes and deletes log their failures and give false; the reads raise theirs.
  Recordset GetHTTPUserDetails(const std::string& logonName);
  bool WriteGroup(const GroupRecord& group);
  bool DeleteGroup(const std::string& recId);
  Recordset GetGroup(const std::string& recId);
  Recordset GetAllGroups();
  Recordset CheckDupGroups(const std::string& groupName, const std::string& alias,
                           const std::string& groupType);
  Recordset CheckDupGroupAlias(const std::string& alias, const std::string& userType);
  Recordset GetUserGroups(const std::string& userId);
  Recordset GetGroupUsers(const std::string& groupId);
  Recordset CheckDupUserAlias(const std::string& alias);
  Recordset GetGroupUsersByAlias(const std::string& alias);
  bool WriteUsersGroups(const std::string& userId, const std::string& groupId);
  bool DeleteUsersGroups(const std::string& userId, const std::string& groupId);
  bool DeleteAllUserGroups(const std::string& recId);
  bool DeleteAllGroupUsers(const std::string& recId);

  // The transaction log. While the transaction-log switch is on, every operation but
  // GetTransLogs returns true at once and touches nothing. Subject and body are stored
  // encrypted under the message identifier unless "EncryptTrans" says otherwise; GetTransItem
  // gives them back decrypted in the rows it returns. WriteTransLog, RemoveTransItem and
  // SetTLItemStatus log their failures and return false; the others raise them.
  bool WriteTransLog(TransLogEntry& entry);
  bool GetTransItem(const std::string& messageId, const std::string& direction,
                    Recordset& transItem);
  Recordset GetTransLogs();
  bool RemoveTransItem(const Variant& itemId);
  bool SetTLItemStatus(const std::string& transDt, const std::string& direction,
                       const Variant& itemStatus, const std::string& messageId,
                       const std::string& toAddress, std::string cost = {});
  // False, writing nothing, for empty itemData.
  bool SetTLExtItem(const std::string& messageId, const std::string& extItem,
                    const std::string& itemData);

  // The SMS queue and its segment cache (sms.cpp). Items and segments have the statuses 0
  // waiting, 1 sending, 2 sent and 3 failed ("dead"). GetSMSSegments, GetSMSItems,
  // GetSMSItemData and GetSMSQStats raise their failures; GetSMSItem logs one and gives a new,
  // unopened record set; the others log one and give false, and those that fill a record-set
  // argument put a new, unopened one there. An empty direction of those means "O" ("I" for the
  // stale segments) and is written back to the caller's variable.
  bool WriteSMSItem(const SmsItemRecord& item);
  bool WriteSMSSegment(const SmsSegmentRecord& segment);
  // Changes recipient, body and status of segment number `segment` of the item smsqId.
  bool UpdateSMSSegment(const std::string& smsqId, const std::string& toAddress,
                        const std::string& body, const std::string& segment,
                        const std::string& status);
  // The segments matching every key given; GetSMSSegments gives all when none is given,
  // RemoveSMSSegments then removes none.
  Recordset GetSMSSegments(const std::string& segCacheId = {}, const std::string& smsqId = {},
                           const std::string& segmentHash = {});
  bool RemoveSMSSegments(const std::string& segCacheId = {}, const std::string& smsqId = {},
                         const std::string& segmentHash = {});
  Recordset GetSMSItem(const std::string& itemId);
  Recordset GetSMSItems(const std::string& direction);
  // The item named by smsqId, else the one the segment segCacheId was assembled into, else the
  // latest one assembled from segments of segmentHash.
  Recordset GetSMSItemData(const std::string& smsqId = {}, const std::string& segCacheId = {},
                           const std::string& segmentHash = {});
  bool RemoveSMSItem(std::string itemId);  // removes the item's segments with it
  // An empty sendDt or subject keeps the stored one; an empty lastError clears it.
  bool SetSMSItemStatus(const std::string& smsItem, const std::string& itemStatus,
                        const std::string& sendDt = {}, const std::string& lastError = {},
                        const std::string& subject = {});
  // The waiting items whose send time has come.
  bool QuerySMSQueue(Recordset& smsItems, std::string& direction);
  Recordset GetSMSQStats(const std::string& direction);  // per Status: ItemCount, OldestReceived
  bool ReviveSMSItems(const std::string& direction);     // failed items back to waiting
  bool UpdateSMSToAddress(const std::string& itemId, const std::string& toAddress);
  // The failed items. retryTime is accepted and not used.
  bool GetDeadSMSItems(Recordset& deadItems, std::string& direction,
                       const std::string& retryTime = {});
  bool GetDeadSMSItems(Recordset& deadItems);  // direction "O"
  // The segments of incomplete messages whose first segment arrived more than itemTimeOut
  // minutes ago (empty: 60).
  bool GetStaleSMSSegments(Recordset& staleItems, std::string& direction,
                           const std::string& itemTimeOut = {});

  // Configuration and direct queries (catalogue.cpp). TestConnection and GetDatabaseVersion use
  // their own connection string instead of ConnectionString(), empty meaning the process
  // default.
  // Runs "SELECT * FROM Configuration"; raises when the database cannot be reached.
  void TestConnection(const std::string& connection);
  // The item's value; defaultValue when it is empty or absent, or when the read fails (nothing
  // logged, nothing raised).
  std::string ReadConfItem(const std::string& confCat, const std::string& confName,
                           const std::string& defaultValue);
  // With noUpdate an existing item keeps its value. Logs a failure and gives false.
  bool WriteConfItem(const std::string& confCat, const std::string& confName,
                     const std::string& confValue, bool noUpdate = false);
  bool UpdateConfItem(const std::string& confId, const std::string& confValue);  // raises
  // True, or Empty after a logged failure.
  Variant DeleteConfItem(const std::string& confCat, const std::string& confName);
  Variant RemoveConfItem(const std::string& confId);
  // The items of SMS_ReadConfItem; no record set at all (std::nullopt) after a logged failure.
  std::optional<Recordset> GetConfItems(const std::string& confCat, const std::string& confName);
  Recordset GetACLNetworkList(const std::string& confCat, const std::string& confName);
  // Runs any statement text and returns its rows; raises. An administrator's interface: no
  // network command reaches it.
  Recordset EvaluateSQL(const std::string& sqlString);
  // Release, version and revision of the Version row joined as digits (2, 3, 1 give 231); 0
  // when there is no row or the joined text is not a number. Raises failures.
  std::int16_t GetDatabaseVersion(const std::string& connection = {});

  // Counters and message identifiers of the network message queue (counters.cpp). The two
  // reads give the empty text when their call fails, without a log line; the two writes log a
  // failure and give Empty, else True.
  std::string GetNMQCounter(const std::string& toAddress);  // advanced counter as "007"
  std::string GetNMQMsgID(const std::string& toAddress, const std::string& counter);
  Variant WriteNMQMsgID(const std::string& toAddress, const std::string& counter,
                        const std::string& messageId);
  Variant UpdateNMQMsgID(const std::string& toAddress, const std::string& counter,
                         const std::string& messageId);

  // The event log (counters.cpp). eventDt is "YYYY-MM-DD HH:MM:SS". PurgeELI raises failures.
  bool WriteEventLog(const std::string& eventDt, const std::string& eventType,
                     const std::string& source, const std::string& eventData);
  bool ClearEventLog();
  bool PurgeELI();

  // Networks, their number prefixes and cost bands (networks.cpp). Identifiers are small
  // integers as decimal text; a write with the identifier "0" or empty adds a row, any other
  // writes the row of that identifier. The reads and DeleteNetwork raise their failures; the
  // other writes log them and give false. DeleteNetwork takes the network's prefixes and cost
  // bands with it.
  Recordset GetPrefixes();
  Recordset GetCosts(const std::string& direction = {});  // both directions when empty
  Recordset GetNetworkList();
  Recordset GetNetworks();
  Recordset GetCountries();  // the countries that networks name, each once
  bool WriteNetwork(const std::string& networkId, const std::string& networkName,
                    const std::string& country);
  bool DeleteNetwork(const std::string& networkId);
  bool WritePrefix(const std::string& prefixId, const std::string& prefix,
                   const std::string& networkId, const std::string& localNetwork);
  bool DeletePrefix(const std::string& prefixId);
  Recordset GetPrefix(const std::string& prefix);  // the row of exactly this prefix
  bool WriteCost(CostRecord& cost);
  bool DeleteCost(const std::string& costId);
  Recordset GetACLNetworks();  // the networks of every access-control list

  // The transaction-log switch: true when the registry value "TLOff" is exactly "1". Read at
  // the first use and kept while the read gives a non-empty text.
  bool TransLogOff();

 private:
  Recordset Query(std::string_view procedure, const std::vector<ParameterDescriptor>& parameters);
  // Query on a connection of the caller's instead of ConnectionString().
  Recordset QueryOn(const std::string& connection, std::string_view procedure,
                    const std::vector<ParameterDescriptor>& parameters);
  void Execute(std::string_view procedure, const std::vector<ParameterDescriptor>& parameters);
  // Execute under a failure handler whose failure value is Empty: True, or Empty after a
  // failure reported with `message`.
  Variant ExecuteHandledVariant(std::string_view message, std::string_view procedure,
                                const std::vector<ParameterDescriptor>& parameters);
  // Execute under a failure handler: a failure is reported with `message` and gives false.
  bool ExecuteHandled(std::string_view message, std::string_view procedure,
                      const std::vector<ParameterDescriptor>& parameters);
  // Query under a failure handler: the rows, or a new unopened record set after a failure
  // reported with `message`.
  Recordset QueryHandled(std::string_view message, std::string_view procedure,
                         const std::vector<ParameterDescriptor>& parameters);
  // Query and ExecuteHandled of a built call, blocking and awaited.
  Recordset Query(const ProcedureCall& call);
  bool ExecuteHandled(const ProcedureCall& call);
  asio::awaitable<Recordset> QueryAsync(ProcedureCall call);
  asio::awaitable<bool> ExecuteHandledAsync(ProcedureCall call);
  asio::awaitable<LockResult> LockOutcomeAsync(ProcedureCall call);
  void ReportError(std::string_view message, const Failure& failure) const;
  // A setting under the database key, read into `cache` when it is empty (an absent value
  // reads as `fallback`) and kept from then on.
  const std::string& DatabaseSetting(std::string& cache, const char* name,
                                     const char* fallback) const;

  DataAccess dataAccess_;
  RegLib regLib_;
  std::string connectionString_;
  std::string transLogSwitch_;
  // The encryption setting "EncryptTrans" (default "1"), read once while non-empty: on when
  // its text reads as the number 1; raises Type mismatch for a text that is not a number.
  bool EncryptTrans();
  std::string encryptTrans_;
  void ReadContentSettings();
  std::string contentType_;        // registry "ContentType", cached at the first outbound write
  std::string contTransEncoding_;  // registry "ContTransEncoding", read with it
  LogSink eventLog_;
};

}  // namespace talvex
