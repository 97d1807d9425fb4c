-- The transaction log: writing records, reading them, their status and their extension items.
-- The writer has already cut and, when the suite asks for it, encrypted Subject and Body.
-- "The local time" is the connection's time zone, which the program sets to its own.

-- @procedure SMS_WriteTransLog
-- A record without a time gets the local time of writing, one without a status 0.
CREATE OR REPLACE FUNCTION "SMS_WriteTransLog"(
    "@TransDT" text, "@MessageID" text, "@ParentID" text, "@Content" text,
    "@MessageType" integer, "@FromAddress" text, "@FromName" text, "@ToAddress" text,
    "@ToName" text, "@Subject" text, "@Body" text, "@Direction" text, "@Network" text,
    "@Cost" double precision, "@Type" integer, "@Status" integer, "@Encrypted" integer,
    "@Department" text)
RETURNS void LANGUAGE sql AS $$
  INSERT INTO TransLog (TransDT, MessageID, ParentID, Content, MessageType, FromAddress, FromName,
                        ToAddress, ToName, Subject, Body, Direction, Network, Cost, Type, Status,
                        Encrypted, Department)
  VALUES (coalesce(nullif("@TransDT", ''), to_char(localtimestamp(0), 'YYYY-MM-DD HH24:MI:SS')),
          "@MessageID", "@ParentID", "@Content", "@MessageType", "@FromAddress", "@FromName",
          "@ToAddress", "@ToName", "@Subject", "@Body", "@Direction", "@Network",
          coalesce("@Cost", 0), "@Type", coalesce("@Status", 0), coalesce("@Encrypted", 0),
          "@Department");
$$;

-- @procedure SMS_GetTransItem
-- The records of one message in one direction, the latest first.
CREATE OR REPLACE FUNCTION "SMS_GetTransItem"("@MessageID" text, "@Direction" text)
RETURNS TABLE ("ItemID" bigint, "TransDT" text, "MessageID" text, "ParentID" text,
               "Content" text, "MessageType" integer, "FromAddress" text, "FromName" text,
               "ToAddress" text, "ToName" text, "Subject" text, "Body" text, "Direction" text,
               "Network" text, "Cost" double precision, "Type" integer, "Status" integer,
               "StatusDT" text, "Encrypted" integer, "Department" text)
LANGUAGE sql STABLE AS $$
  SELECT * FROM TransLog
   WHERE MessageID = "@MessageID" AND Direction = "@Direction"
   ORDER BY ItemID DESC;
$$;

-- @procedure SMS_GetTransLogs
-- Every record, newest first; records of the same time in the reverse order of writing.
CREATE OR REPLACE FUNCTION "SMS_GetTransLogs"()
RETURNS TABLE ("ItemID" bigint, "TransDT" text, "MessageID" text, "ParentID" text,
               "Content" text, "MessageType" integer, "FromAddress" text, "FromName" text,
               "ToAddress" text, "ToName" text, "Subject" text, "Body" text, "Direction" text,
               "Network" text, "Cost" double precision, "Type" integer, "Status" integer,
               "StatusDT" text, "Encrypted" integer, "Department" text)
LANGUAGE sql STABLE AS $$
  SELECT * FROM TransLog ORDER BY TransDT DESC, ItemID DESC;
$$;

-- @procedure SMS_RemoveTransItem
-- The extension items of the message go with its last record.
CREATE OR REPLACE FUNCTION "SMS_RemoveTransItem"("@ItemID" bigint)
RETURNS void LANGUAGE sql AS $$
  DELETE FROM TransLogExtItems AS x
   WHERE x.MessageID = (SELECT MessageID FROM TransLog WHERE ItemID = "@ItemID")
     AND NOT EXISTS (SELECT 1 FROM TransLog AS t
                      WHERE t.MessageID = x.MessageID AND t.ItemID <> "@ItemID");
  DELETE FROM TransLog WHERE ItemID = "@ItemID";
$$;

-- @procedure SMS_SetTLItemStatus
-- Sets status and cost of the message's records for one recipient (address without regard to
-- case); the given time, else the local time now, is when the status changed.
CREATE OR REPLACE FUNCTION "SMS_SetTLItemStatus"(
    "@TransDT" text, "@Direction" text, "@Status" integer, "@MessageID" text,
    "@ToAddress" text, "@Cost" double precision)
RETURNS void LANGUAGE sql AS $$
  UPDATE TransLog
     SET Status = "@Status", Cost = coalesce("@Cost", Cost),
         StatusDT = coalesce(nullif("@TransDT", ''),
                             to_char(localtimestamp(0), 'YYYY-MM-DD HH24:MI:SS'))
   WHERE MessageID = "@MessageID" AND Direction = "@Direction"
     AND lower(ToAddress) = lower("@ToAddress");
$$;

-- @procedure SMS_SetTLExtItem
-- One value per message and item name; a later write replaces it.
CREATE OR REPLACE FUNCTION "SMS_SetTLExtItem"("@MessageID" text, "@ExtItem" text,
                                              "@ItemData" text)
RETURNS void LANGUAGE sql AS $$
  INSERT INTO TransLogExtItems (MessageID, ItemName, ItemData)
  VALUES ("@MessageID", "@ExtItem", "@ItemData")
      ON CONFLICT (MessageID, ItemName) DO UPDATE SET ItemData = excluded.ItemData;
$$;
