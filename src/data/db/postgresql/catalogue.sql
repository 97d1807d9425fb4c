-- Configuration items, direct queries, the counters and message identifiers of the network
-- message queue, and the event log.

-- @procedure SMS_EvaluateSQL
-- Runs the statement text given as @SQLString and returns the rows of its SELECT. The backend
-- sends the text itself as one statement, never prepared for later; this entry only names the
-- procedure. It is an administrator's interface: no network command reaches it.

-- @procedure SMS_ReadConfItem
-- The items of a category and name; an empty name gives every item of the category, an empty
-- category every item.
CREATE OR REPLACE FUNCTION "SMS_ReadConfItem"("@ConfCat" text, "@ConfName" text)
RETURNS TABLE ("ConfID" bigint, "ConfCat" text, "ConfName" text, "ConfValue" text)
LANGUAGE sql STABLE AS $$
  SELECT ConfID, ConfCat, ConfName, ConfValue FROM Configuration
   WHERE (coalesce("@ConfCat", '') = '' OR ConfCat = "@ConfCat")
     AND (coalesce("@ConfName", '') = '' OR ConfName = "@ConfName")
   ORDER BY ConfCat, ConfName;
$$;

-- @procedure SMS_WriteConfItem
-- Stores an item's value; with NoUpdate set an existing item keeps its value.
CREATE OR REPLACE FUNCTION "SMS_WriteConfItem"("@ConfCat" text, "@ConfName" text,
                                               "@ConfValue" text, "@NoUpdate" integer)
RETURNS void LANGUAGE sql AS $$
  INSERT INTO Configuration (ConfCat, ConfName, ConfValue)
  VALUES ("@ConfCat", "@ConfName", "@ConfValue")
      ON CONFLICT (ConfCat, ConfName) DO UPDATE SET ConfValue = excluded.ConfValue
   WHERE coalesce("@NoUpdate", 0) = 0;
$$;

-- @procedure SMS_UpdateConfItem
-- Sets the value of the item with the ConfID.
CREATE OR REPLACE FUNCTION "SMS_UpdateConfItem"("@ConfID" bigint, "@ConfValue" text)
RETURNS void LANGUAGE sql AS $$
  UPDATE Configuration SET ConfValue = "@ConfValue" WHERE ConfID = "@ConfID";
$$;

-- @procedure SMS_DeleteConfItem
-- Deletes the item of a category and name.
CREATE OR REPLACE FUNCTION "SMS_DeleteConfItem"("@ConfCat" text, "@ConfName" text)
RETURNS void LANGUAGE sql AS $$
  DELETE FROM Configuration WHERE ConfCat = "@ConfCat" AND ConfName = "@ConfName";
$$;

-- @procedure SMS_RemoveConfItem
-- Deletes the item with the ConfID.
CREATE OR REPLACE FUNCTION "SMS_RemoveConfItem"("@ConfID" bigint)
RETURNS void LANGUAGE sql AS $$
  DELETE FROM Configuration WHERE ConfID = "@ConfID";
$$;

-- @procedure SMS_GetACLNetworkList
-- The networks of the access-control list named by category and name.
CREATE OR REPLACE FUNCTION "SMS_GetACLNetworkList"("@ConfCat" text, "@ConfName" text)
RETURNS TABLE ("ACLID" bigint, "ConfCat" text, "ConfName" text, "Network" text)
LANGUAGE sql STABLE AS $$
  SELECT ACLID, ConfCat, ConfName, Network FROM ACLNetworks
   WHERE ConfCat = "@ConfCat" AND ConfName = "@ConfName"
   ORDER BY ACLID;
$$;

-- @procedure SMS_GetNMQCounter
-- Advances the target address's counter (0 to 999, then 0 again; 1 for a new address) and
-- returns it. The upsert holds the counter's row until the call ends, so concurrent callers
-- each get a value of their own.
CREATE OR REPLACE FUNCTION "SMS_GetNMQCounter"("@TargetAddress" text)
RETURNS TABLE ("Counter" integer) LANGUAGE sql AS $$
  INSERT INTO NMQCounters AS c (TargetAddress, Counter) VALUES ("@TargetAddress", 1)
      ON CONFLICT (lower(TargetAddress)) DO UPDATE SET Counter = (c.Counter + 1) % 1000
  RETURNING c.Counter;
$$;

-- @procedure SMS_GetNMQMsgID
-- The message identifier kept for a target address and counter value.
CREATE OR REPLACE FUNCTION "SMS_GetNMQMsgID"("@TargetAddress" text, "@Counter" integer)
RETURNS TABLE ("MessageID" text) LANGUAGE sql STABLE AS $$
  SELECT MessageID FROM NMQMessageIDs
   WHERE lower(TargetAddress) = lower("@TargetAddress") AND Counter = "@Counter";
$$;

-- @procedure SMS_WriteNMQMsgID
-- Keeps the message identifier of a target address and counter value, replacing an older one
-- (the counter comes round again after 1000 messages).
CREATE OR REPLACE FUNCTION "SMS_WriteNMQMsgID"("@TargetAddress" text, "@Counter" integer,
                                               "@MessageID" text)
RETURNS void LANGUAGE sql AS $$
  INSERT INTO NMQMessageIDs (TargetAddress, Counter, MessageID)
  VALUES ("@TargetAddress", "@Counter", "@MessageID")
      ON CONFLICT (lower(TargetAddress), Counter) DO UPDATE SET MessageID = excluded.MessageID;
$$;

-- @procedure SMS_UpdateNMQMsgID
-- Changes the message identifier kept for a target address and counter value.
CREATE OR REPLACE FUNCTION "SMS_UpdateNMQMsgID"("@TargetAddress" text, "@Counter" integer,
                                                "@MessageID" text)
RETURNS void LANGUAGE sql AS $$
  UPDATE NMQMessageIDs SET MessageID = "@MessageID"
   WHERE lower(TargetAddress) = lower("@TargetAddress") AND Counter = "@Counter";
$$;

-- @procedure SMS_WriteEventLog
-- Adds one event.
CREATE OR REPLACE FUNCTION "SMS_WriteEventLog"("@EventDT" text, "@EventType" integer,
                                               "@Source" text, "@Event" text)
RETURNS void LANGUAGE sql AS $$
  INSERT INTO EventLog (EventDT, EventType, Source, Event)
  VALUES ("@EventDT", "@EventType", "@Source", "@Event");
$$;

-- @procedure SMS_ClearEventLog
-- Deletes every event.
CREATE OR REPLACE FUNCTION "SMS_ClearEventLog"()
RETURNS void LANGUAGE sql AS $$
  DELETE FROM EventLog;
$$;

-- @procedure SMS_PurgeELI
-- Deletes the events older than the configuration item EventLog/RetentionDays (30 days when it
-- is not set). The value's leading whole number counts, as a text without one counts 0.
CREATE OR REPLACE FUNCTION "SMS_PurgeELI"()
RETURNS void LANGUAGE sql AS $$
  DELETE FROM EventLog
   WHERE EventDT < to_char(localtimestamp(0) - make_interval(days => coalesce(
           (SELECT coalesce(substring(ConfValue FROM '^\s*([-+]?\d{1,9})')::integer, 0)
              FROM Configuration
             WHERE ConfCat = 'EventLog' AND ConfName = 'RetentionDays'), 30)),
           'YYYY-MM-DD HH24:MI:SS');
$$;
