-- The transaction log: writing records, reading them, their status and their extension items.
-- The writer has already cut and, when the suite asks for it, encrypted Subject and Body.

-- @procedure SMS_WriteTransLog
-- A record without a time gets the local time of writing, one without a status 0.
INSERT INTO TransLog (TransDT, MessageID, ParentID, Content, MessageType, FromAddress, FromName,
                      ToAddress, ToName, Subject, Body, Direction, Network, Cost, Type, Status,
                      Encrypted, Department)
VALUES (coalesce(nullif(:TransDT, ''), datetime('now', 'localtime')), :MessageID, :ParentID,
        :Content, :MessageType, :FromAddress, :FromName, :ToAddress, :ToName, :Subject, :Body,
        :Direction, :Network, coalesce(:Cost, 0), :Type, coalesce(:Status, 0),
        coalesce(:Encrypted, 0), :Department);

-- @procedure SMS_GetTransItem
-- The records of one message in one direction, the latest first.
SELECT * FROM TransLog
 WHERE MessageID = :MessageID AND Direction = :Direction
 ORDER BY ItemID DESC;

-- @procedure SMS_GetTransLogs
-- Every record, newest first; records of the same time in the reverse order of writing.
SELECT * FROM TransLog ORDER BY TransDT DESC, ItemID DESC;

-- @procedure SMS_RemoveTransItem
-- The extension items of the message go with its last record.
DELETE FROM TransLogExtItems
 WHERE MessageID = (SELECT MessageID FROM TransLog WHERE ItemID = :ItemID)
   AND NOT EXISTS (SELECT 1 FROM TransLog AS t
                    WHERE t.MessageID = TransLogExtItems.MessageID AND t.ItemID <> :ItemID);
DELETE FROM TransLog WHERE ItemID = :ItemID;

-- @procedure SMS_SetTLItemStatus
-- Sets status and cost of the message's records for one recipient (address without regard to
-- case); the given time, else the local time now, is when the status changed.
UPDATE TransLog
   SET Status = :Status, Cost = coalesce(:Cost, Cost),
       StatusDT = coalesce(nullif(:TransDT, ''), datetime('now', 'localtime'))
 WHERE MessageID = :MessageID AND Direction = :Direction AND ToAddress = :ToAddress COLLATE NOCASE;

-- @procedure SMS_SetTLExtItem
-- One value per message and item name; a later write replaces it.
INSERT INTO TransLogExtItems (MessageID, ItemName, ItemData)
VALUES (:MessageID, :ExtItem, :ItemData)
    ON CONFLICT (MessageID, ItemName) DO UPDATE SET ItemData = excluded.ItemData;
