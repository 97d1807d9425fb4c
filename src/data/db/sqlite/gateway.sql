-- The gateway queue: storing items. The writer has already composed Content and encoded Body.

-- @procedure SMS_WriteGWItem
-- Returns the new item's GWQID to callers that ask for rows.
INSERT INTO GatewayItems (DTReceived, Source, MessageID, Content, FromAddress, FromName,
                          ToAddress, Subject, BodyLength, Direction, RawData, Transport)
VALUES (:DTReceived, :Source, :MessageID, :Content, :FromAddress, :FromName, :ToAddress,
        :Subject, coalesce(ansi_length(:Body), 0), :Direction, :RawData, :Transport);
INSERT INTO GatewayBodies (GWQID, Body) VALUES (last_insert_rowid(), :Body);
-- From the stored row, so that it is exactly what the listings would compute from it.
UPDATE GatewayItems
   SET FieldsDigest = fields_digest(MessageID, DTReceived, Subject, Content, FromName,
                                    FromAddress, ToAddress, BodyLength)
 WHERE GWQID = last_insert_rowid();
SELECT last_insert_rowid() AS GWQID;

-- @procedure SMS_GetGWItems
-- The queue of one direction in storage order, with the mail-drop state of each item.
SELECT GWQID, DTReceived, Source, MessageID, Content, FromAddress, FromName, ToAddress, Subject,
       BodyLength, Direction, RawData, Transport, DTQueued, Status, SessionID
  FROM GatewayItems
 WHERE Direction = :Direction
 ORDER BY GWQID;

-- The gateway's own delivery of the queue. Statuses: 0 waiting, 2 sent, 3 failed (dead); 4, 5
-- and 6 are the mail-drop states of a POP3 session (maildrop.sql).

-- @procedure SMS_GetGWItem
-- One item of any status, with its body.
SELECT i.GWQID, i.DTReceived, i.Source, i.MessageID, i.Content, i.FromAddress, i.FromName,
       i.ToAddress, i.Subject, i.BodyLength, i.Direction, i.RawData, i.Transport, i.DTQueued,
       i.Status, i.SessionID, b.Body
  FROM GatewayItems AS i LEFT JOIN GatewayBodies AS b ON b.GWQID = i.GWQID
 WHERE i.GWQID = :ItemID;

-- @procedure SMS_RemoveGWItem
-- The body goes with the item.
DELETE FROM GatewayItems WHERE GWQID = :ItemID;

-- @procedure SMS_SetGWItemStatus
-- Both arguments come as text. Only the known codes are taken, so that no mistyped status
-- hides an item from its mail drop for good. An item the gateway has sent or given up leaves
-- any POP3 session that listed it, so that the session's RSET or release cannot make it
-- waiting again.
SELECT raise_error('Unknown gateway item status ' || coalesce(:Status, 'NULL'))
 WHERE coalesce(:Status, '') NOT IN ('0', '2', '3', '4', '5', '6');
UPDATE GatewayItems
   SET Status = CAST(:Status AS INTEGER),
       SessionID = CASE WHEN :Status IN ('2', '3') THEN NULL ELSE SessionID END
 WHERE GWQID = CAST(:ItemID AS INTEGER);

-- @procedure SMS_PurgeDeadGWItems
-- Removes the dead items of the direction, with their bodies.
DELETE FROM GatewayItems WHERE Direction = :Direction AND Status = 3;

-- @procedure SMS_QueryGWQueue
-- The items of the direction that wait to be sent, oldest first.
SELECT GWQID, DTReceived, Source, MessageID, Content, FromAddress, FromName, ToAddress, Subject,
       BodyLength, Direction, RawData, Transport, DTQueued, Status
  FROM GatewayItems
 WHERE Direction = :Direction AND Status = 0
 ORDER BY GWQID;

-- @procedure SMS_GetGWQStats
-- How many items of the direction are in each status, one row per status that has any.
SELECT Status, count(*) AS Items
  FROM GatewayItems
 WHERE Direction = :Direction
 GROUP BY Status
 ORDER BY Status;

-- @procedure SMS_ReviveGWItems
-- Puts the dead items of the direction back in the queue.
UPDATE GatewayItems SET Status = 0 WHERE Direction = :Direction AND Status = 3;

-- @procedure SMS_UpdateGWToAddress
-- A readdressed item that a POP3 session had listed or marked leaves that session and waits
-- for its new recipient; the gateway's own states stay.
UPDATE GatewayItems
   SET ToAddress = :ToAddress,
       Status = CASE WHEN Status IN (4, 5, 6) THEN 0 ELSE Status END,
       SessionID = NULL
 WHERE GWQID = :ItemID;

-- @procedure SMS_GetDeadGWItems
-- The dead items of the direction, oldest first.
SELECT GWQID, DTReceived, Source, MessageID, Content, FromAddress, FromName, ToAddress, Subject,
       BodyLength, Direction, RawData, Transport, DTQueued, Status
  FROM GatewayItems
 WHERE Direction = :Direction AND Status = 3
 ORDER BY GWQID;
