-- Configuration items, direct queries, the counters and message identifiers of the network
-- message queue, and the event log.

-- @procedure SMS_EvaluateSQL
-- Runs the statement text given as :SQLString and returns the rows of its SELECT. SQLite has no
-- dynamic SQL inside a statement, so the backend itself prepares the text, per call and never
-- cached; this entry only names the procedure. It is an administrator's interface: no network
-- command reaches it.

-- @procedure SMS_ReadConfItem
-- The items of a category and name; an empty name gives every item of the category, an empty
-- category every item.
SELECT ConfID, ConfCat, ConfName, ConfValue FROM Configuration
 WHERE (coalesce(:ConfCat, '') = '' OR ConfCat = :ConfCat)
   AND (coalesce(:ConfName, '') = '' OR ConfName = :ConfName)
 ORDER BY ConfCat, ConfName;

-- @procedure SMS_WriteConfItem
-- Stores an item's value; with NoUpdate set an existing item keeps its value.
INSERT INTO Configuration (ConfCat, ConfName, ConfValue) VALUES (:ConfCat, :ConfName, :ConfValue)
    ON CONFLICT (ConfCat, ConfName) DO UPDATE SET ConfValue = excluded.ConfValue
 WHERE coalesce(:NoUpdate, 0) = 0;

-- @procedure SMS_UpdateConfItem
-- Sets the value of the item with the ConfID.
UPDATE Configuration SET ConfValue = :ConfValue WHERE ConfID = :ConfID;

-- @procedure SMS_DeleteConfItem
-- Deletes the item of a category and name.
DELETE FROM Configuration WHERE ConfCat = :ConfCat AND ConfName = :ConfName;

-- @procedure SMS_RemoveConfItem
-- Deletes the item with the ConfID.
DELETE FROM Configuration WHERE ConfID = :ConfID;

-- @procedure SMS_GetACLNetworkList
-- The networks of the access-control list named by category and name.
SELECT ACLID, ConfCat, ConfName, Network FROM ACLNetworks
 WHERE ConfCat = :ConfCat AND ConfName = :ConfName
 ORDER BY ACLID;

-- @procedure SMS_GetNMQCounter
-- Advances the target address's counter (0 to 999, then 0 again; 1 for a new address) and
-- returns it.
INSERT INTO NMQCounters (TargetAddress, Counter) VALUES (:TargetAddress, 1)
    ON CONFLICT (TargetAddress) DO UPDATE SET Counter = (Counter + 1) % 1000;
SELECT Counter FROM NMQCounters WHERE TargetAddress = :TargetAddress;

-- @procedure SMS_GetNMQMsgID
-- The message identifier kept for a target address and counter value.
SELECT MessageID FROM NMQMessageIDs WHERE TargetAddress = :TargetAddress AND Counter = :Counter;

-- @procedure SMS_WriteNMQMsgID
-- Keeps the message identifier of a target address and counter value, replacing an older one
-- (the counter comes round again after 1000 messages).
INSERT INTO NMQMessageIDs (TargetAddress, Counter, MessageID)
VALUES (:TargetAddress, :Counter, :MessageID)
    ON CONFLICT (TargetAddress, Counter) DO UPDATE SET MessageID = excluded.MessageID;

-- @procedure SMS_UpdateNMQMsgID
-- Changes the message identifier kept for a target address and counter value.
UPDATE NMQMessageIDs SET MessageID = :MessageID
 WHERE TargetAddress = :TargetAddress AND Counter = :Counter;

-- @procedure SMS_WriteEventLog
-- Adds one event.
INSERT INTO EventLog (EventDT, EventType, Source, Event)
VALUES (:EventDT, :EventType, :Source, :Event);

-- @procedure SMS_ClearEventLog
-- Deletes every event.
DELETE FROM EventLog;

-- @procedure SMS_PurgeELI
-- Deletes the events older than the configuration item EventLog/RetentionDays (30 days when it
-- is not set).
DELETE FROM EventLog
 WHERE EventDT < datetime('now', 'localtime',
                          '-' || coalesce((SELECT CAST(ConfValue AS INTEGER) FROM Configuration
                                            WHERE ConfCat = 'EventLog'
                                              AND ConfName = 'RetentionDays'), 30) || ' days');
