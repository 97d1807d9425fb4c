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
