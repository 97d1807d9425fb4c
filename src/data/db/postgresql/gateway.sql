-- The gateway queue: storing items. The writer has already composed Content and encoded Body.

-- @procedure SMS_WriteGWItem
-- Returns the new item's GWQID to callers that ask for rows. BodyLength is the octets of the
-- body in Windows-1252: one per character, as every character the code page lacks goes out as
-- one "?" (the database is UTF-8, so char_length counts characters).
CREATE OR REPLACE FUNCTION "SMS_WriteGWItem"(
    "@DTReceived" text, "@Source" text, "@MessageID" text, "@Content" text,
    "@FromAddress" text, "@FromName" text, "@ToAddress" text, "@Subject" text, "@Body" text,
    "@Direction" text, "@RawData" text, "@Transport" integer)
RETURNS TABLE ("GWQID" bigint) LANGUAGE sql AS $$
  WITH item AS (
    INSERT INTO GatewayItems (DTReceived, Source, MessageID, Content, FromAddress, FromName,
                              ToAddress, Subject, BodyLength, Direction, RawData, Transport)
    VALUES ("@DTReceived", "@Source", "@MessageID", "@Content", "@FromAddress", "@FromName",
            "@ToAddress", "@Subject", coalesce(char_length("@Body"), 0), "@Direction",
            "@RawData", "@Transport")
    RETURNING GWQID),
  body AS (INSERT INTO GatewayBodies (GWQID, Body) SELECT GWQID, "@Body" FROM item)
  SELECT GWQID FROM item;
$$;

-- @procedure SMS_GetGWItems
-- The queue of one direction in storage order, with the mail-drop state of each item.
CREATE OR REPLACE FUNCTION "SMS_GetGWItems"("@Direction" text)
RETURNS TABLE ("GWQID" bigint, "DTReceived" text, "Source" text, "MessageID" text,
               "Content" text, "FromAddress" text, "FromName" text, "ToAddress" text,
               "Subject" text, "BodyLength" bigint, "Direction" text, "RawData" text,
               "Transport" integer, "DTQueued" text, "Status" integer, "SessionID" text)
LANGUAGE sql STABLE AS $$
  SELECT GWQID, DTReceived, Source, MessageID, Content, FromAddress, FromName, ToAddress, Subject,
         BodyLength, Direction, RawData, Transport, DTQueued, Status, SessionID
    FROM GatewayItems
   WHERE Direction = "@Direction"
   ORDER BY GWQID;
$$;

-- The gateway's own delivery of the queue. Statuses: 0 waiting, 2 sent, 3 failed (dead); 4, 5
-- and 6 are the mail-drop states of a POP3 session (maildrop.sql).

-- @procedure SMS_GetGWItem
-- One item of any status, with its body.
CREATE OR REPLACE FUNCTION "SMS_GetGWItem"("@ItemID" bigint)
RETURNS TABLE ("GWQID" bigint, "DTReceived" text, "Source" text, "MessageID" text,
               "Content" text, "FromAddress" text, "FromName" text, "ToAddress" text,
               "Subject" text, "BodyLength" bigint, "Direction" text, "RawData" text,
               "Transport" integer, "DTQueued" text, "Status" integer, "SessionID" text,
               "Body" text)
LANGUAGE sql STABLE AS $$
  SELECT i.GWQID, i.DTReceived, i.Source, i.MessageID, i.Content, i.FromAddress, i.FromName,
         i.ToAddress, i.Subject, i.BodyLength, i.Direction, i.RawData, i.Transport, i.DTQueued,
         i.Status, i.SessionID, b.Body
    FROM GatewayItems AS i LEFT JOIN GatewayBodies AS b ON b.GWQID = i.GWQID
   WHERE i.GWQID = "@ItemID";
$$;

-- @procedure SMS_RemoveGWItem
-- The body goes with the item.
CREATE OR REPLACE FUNCTION "SMS_RemoveGWItem"("@ItemID" bigint)
RETURNS void LANGUAGE sql AS $$
  DELETE FROM GatewayItems WHERE GWQID = "@ItemID";
$$;

-- @procedure SMS_SetGWItemStatus
-- Both arguments come as text. Only the known codes are taken, so that no mistyped status
-- hides an item from its mail drop for good. An item the gateway has sent or given up leaves
-- any POP3 session that listed it, so that the session's RSET or release cannot make it
-- waiting again. The item is named by the whole number the text begins with, as the embedded
-- database reads a text as an integer; a text without one names no item.
CREATE OR REPLACE FUNCTION "SMS_SetGWItemStatus"("@ItemID" text, "@Status" text)
RETURNS void LANGUAGE plpgsql AS $$
DECLARE
  item constant numeric := substring("@ItemID" FROM '^\s*([-+]?\d+)')::numeric;
BEGIN
  IF coalesce("@Status", '') NOT IN ('0', '2', '3', '4', '5', '6') THEN
    RAISE EXCEPTION 'Unknown gateway item status %', coalesce("@Status", 'NULL');
  END IF;
  IF item IS NULL OR item NOT BETWEEN -9223372036854775808 AND 9223372036854775807 THEN
    RETURN;
  END IF;
  UPDATE GatewayItems
     SET Status = "@Status"::integer,
         SessionID = CASE WHEN "@Status" IN ('2', '3') THEN NULL ELSE SessionID END
   WHERE GWQID = item::bigint;
END;
$$;

-- @procedure SMS_PurgeDeadGWItems
-- Removes the dead items of the direction, with their bodies.
CREATE OR REPLACE FUNCTION "SMS_PurgeDeadGWItems"("@Direction" text)
RETURNS void LANGUAGE sql AS $$
  DELETE FROM GatewayItems WHERE Direction = "@Direction" AND Status = 3;
$$;

-- @procedure SMS_QueryGWQueue
-- The items of the direction that wait to be sent, oldest first.
CREATE OR REPLACE FUNCTION "SMS_QueryGWQueue"("@Direction" text)
RETURNS TABLE ("GWQID" bigint, "DTReceived" text, "Source" text, "MessageID" text,
               "Content" text, "FromAddress" text, "FromName" text, "ToAddress" text,
               "Subject" text, "BodyLength" bigint, "Direction" text, "RawData" text,
               "Transport" integer, "DTQueued" text, "Status" integer)
LANGUAGE sql STABLE AS $$
  SELECT GWQID, DTReceived, Source, MessageID, Content, FromAddress, FromName, ToAddress, Subject,
         BodyLength, Direction, RawData, Transport, DTQueued, Status
    FROM GatewayItems
   WHERE Direction = "@Direction" AND Status = 0
   ORDER BY GWQID;
$$;

-- @procedure SMS_GetGWQStats
-- How many items of the direction are in each status, one row per status that has any.
CREATE OR REPLACE FUNCTION "SMS_GetGWQStats"("@Direction" text)
RETURNS TABLE ("Status" integer, "Items" bigint)
LANGUAGE sql STABLE AS $$
  SELECT Status, count(*)
    FROM GatewayItems
   WHERE Direction = "@Direction"
   GROUP BY Status
   ORDER BY Status;
$$;

-- @procedure SMS_ReviveGWItems
-- Puts the dead items of the direction back in the queue.
CREATE OR REPLACE FUNCTION "SMS_ReviveGWItems"("@Direction" text)
RETURNS void LANGUAGE sql AS $$
  UPDATE GatewayItems SET Status = 0 WHERE Direction = "@Direction" AND Status = 3;
$$;

-- @procedure SMS_UpdateGWToAddress
-- A readdressed item that a POP3 session had listed or marked leaves that session and waits
-- for its new recipient; the gateway's own states stay.
CREATE OR REPLACE FUNCTION "SMS_UpdateGWToAddress"("@ItemID" bigint, "@ToAddress" text)
RETURNS void LANGUAGE sql AS $$
  UPDATE GatewayItems
     SET ToAddress = "@ToAddress",
         Status = CASE WHEN Status IN (4, 5, 6) THEN 0 ELSE Status END,
         SessionID = NULL
   WHERE GWQID = "@ItemID";
$$;

-- @procedure SMS_GetDeadGWItems
-- The dead items of the direction, oldest first.
CREATE OR REPLACE FUNCTION "SMS_GetDeadGWItems"("@Direction" text)
RETURNS TABLE ("GWQID" bigint, "DTReceived" text, "Source" text, "MessageID" text,
               "Content" text, "FromAddress" text, "FromName" text, "ToAddress" text,
               "Subject" text, "BodyLength" bigint, "Direction" text, "RawData" text,
               "Transport" integer, "DTQueued" text, "Status" integer)
LANGUAGE sql STABLE AS $$
  SELECT GWQID, DTReceived, Source, MessageID, Content, FromAddress, FromName, ToAddress, Subject,
         BodyLength, Direction, RawData, Transport, DTQueued, Status
    FROM GatewayItems
   WHERE Direction = "@Direction" AND Status = 3
   ORDER BY GWQID;
$$;
