-- The gateway queue: storing items. The writer has already composed Content and encoded Body.

-- @procedure SMS_WriteGWItem
-- Returns the new item's GWQID to callers that ask for rows.
INSERT INTO GatewayItems (DTReceived, Source, MessageID, Content, FromAddress, FromName,
                          ToAddress, Subject, BodyLength, Direction, RawData, Transport)
VALUES (:DTReceived, :Source, :MessageID, :Content, :FromAddress, :FromName, :ToAddress,
        :Subject, coalesce(ansi_length(:Body), 0), :Direction, :RawData, :Transport);
INSERT INTO GatewayBodies (GWQID, Body) VALUES (last_insert_rowid(), :Body);
SELECT last_insert_rowid() AS GWQID;

-- @procedure SMS_GetGWItems
-- The queue of one direction in storage order, with the mail-drop state of each item.
SELECT GWQID, DTReceived, Source, MessageID, Content, FromAddress, FromName, ToAddress, Subject,
       BodyLength, Direction, RawData, Transport, DTQueued, Status, SessionID
  FROM GatewayItems
 WHERE Direction = :Direction
 ORDER BY GWQID;
