-- The SMS queue and the segment cache of multipart SMS (tables and codes in the migration
-- "sms_queue"). Empty date texts arrive as '' and count as not given. Of the optional keys of
-- the segment procedures, the numbers arrive as NULL and the hash as '' when left out.

-- @procedure SMS_WriteSMSItem
-- Queues one item as waiting; without DTReceived it is dated now, without SendDT it goes at once.
INSERT INTO SMSQueue (DTReceived, Source, MessageID, DataCoding, Content, FromAddress, FromName,
                      ToAddress, Subject, Body, RawData, Direction, Connector, SendDT)
VALUES (coalesce(nullif(:DTReceived, ''), datetime('now', 'localtime')), :Source, :MessageID,
        :DataCoding, :Content, :FromAddress, :FromName, :ToAddress, :Subject, :Body, :RawData,
        :Direction, :Connector, nullif(:SendDT, ''));

-- @procedure SMS_WriteSMSSegment
-- Caches one segment (a repeated segment of a message still being collected keeps the first
-- copy); the segment that completes its message assembles it into one waiting queue item, with
-- the bodies joined in segment order and the other fields of segment 1, and links the
-- message's segments to that item.
INSERT INTO SMSSegmentCache (DTReceived, Source, MessageID, DataCoding, Content, FromAddress,
                             ToAddress, SegmentHash, SegmentReference, SegmentCount,
                             SegmentNumber, Body, RawData, Direction, Connector, Status)
VALUES (coalesce(:DTReceived, datetime('now', 'localtime')), :Source, :MessageID, :DataCoding,
        :Content, :FromAddress, :ToAddress, :SegmentHash, :SegmentReference, :SegmentCount,
        :SegmentNumber, :Body, :RawData, :Direction, :Connector, coalesce(:Status, 0))
    ON CONFLICT (SegmentHash, SegmentNumber) WHERE SMSQID IS NULL DO NOTHING;
WITH RECURSIVE
  pending AS (SELECT * FROM SMSSegmentCache WHERE SegmentHash = :SegmentHash AND SMSQID IS NULL),
  joined (n, body) AS (
    SELECT 0, ''
    UNION ALL
    SELECT joined.n + 1, joined.body || coalesce(pending.Body, '')
      FROM joined JOIN pending ON pending.SegmentNumber = joined.n + 1)
INSERT INTO SMSQueue (DTReceived, Source, MessageID, DataCoding, Content, FromAddress, ToAddress,
                      Body, Direction, Connector)
SELECT (SELECT min(DTReceived) FROM pending), first.Source, first.MessageID, first.DataCoding,
       first.Content, first.FromAddress, first.ToAddress,
       (SELECT body FROM joined ORDER BY n DESC LIMIT 1), first.Direction, first.Connector
  FROM pending AS first
 WHERE first.SegmentNumber = 1 AND (SELECT count(*) FROM pending) = first.SegmentCount;
-- The item was stored just above exactly when this condition holds.
UPDATE SMSSegmentCache SET SMSQID = last_insert_rowid()
 WHERE SegmentHash = :SegmentHash AND SMSQID IS NULL
   AND (SELECT count(*) FROM SMSSegmentCache WHERE SegmentHash = :SegmentHash AND SMSQID IS NULL)
     = (SELECT SegmentCount FROM SMSSegmentCache
         WHERE SegmentHash = :SegmentHash AND SMSQID IS NULL AND SegmentNumber = 1);

-- @procedure SMS_UpdateSMSSegment
-- Changes recipient, body and status of one segment (by number) of an assembled item.
UPDATE SMSSegmentCache
   SET ToAddress = :ToAddress, Body = :Body, Status = coalesce(:Status, Status)
 WHERE SMSQID = :SMSQID AND SegmentNumber = :Segment;

-- @procedure SMS_GetSMSSegments
-- The segments that match every key given (every segment when none is), message by message in
-- segment order.
SELECT * FROM SMSSegmentCache
 WHERE (:SegCacheID IS NULL OR SegCacheID = :SegCacheID)
   AND (:SMSQID IS NULL OR SMSQID = :SMSQID)
   AND (coalesce(:SegmentHash, '') = '' OR SegmentHash = :SegmentHash)
 ORDER BY SegmentHash, SMSQID, SegmentNumber, SegCacheID;

-- @procedure SMS_RemoveSMSSegments
-- Deletes the segments that match every key given; with no key given, none.
DELETE FROM SMSSegmentCache
 WHERE (:SegCacheID IS NULL OR SegCacheID = :SegCacheID)
   AND (:SMSQID IS NULL OR SMSQID = :SMSQID)
   AND (coalesce(:SegmentHash, '') = '' OR SegmentHash = :SegmentHash)
   AND coalesce(:SegCacheID, :SMSQID, nullif(:SegmentHash, '')) IS NOT NULL;

-- @procedure SMS_GetSMSItem
-- One item, any status.
SELECT * FROM SMSQueue WHERE SMSQID = :SMSQID;

-- @procedure SMS_GetSMSItems
-- Every item of one direction, any status, in queue order.
SELECT * FROM SMSQueue WHERE Direction = :Direction ORDER BY SMSQID;

-- @procedure SMS_GetSMSItemData
-- The item named by the first key given: the SMSQID itself, else the item that the cached
-- segment was assembled into, else the latest item assembled from segments of the hash.
SELECT * FROM SMSQueue
 WHERE SMSQID = coalesce(:SMSQID,
                         (SELECT SMSQID FROM SMSSegmentCache WHERE SegCacheID = :SegCacheID),
                         (SELECT max(SMSQID) FROM SMSSegmentCache
                           WHERE SegmentHash = nullif(:SegmentHash, '')));

-- @procedure SMS_RemoveSMSItem
-- Deletes the item; its segments go with it.
DELETE FROM SMSQueue WHERE SMSQID = :ItemID;

-- @procedure SMS_SetSMSItemStatus
-- Sets the status and the last error (none given clears it); a given SendDT or Subject
-- replaces the stored one.
UPDATE SMSQueue
   SET Status = :Status, LastError = :LastError, SendDT = coalesce(nullif(:SendDT, ''), SendDT),
       Subject = coalesce(nullif(:Subject, ''), Subject), StatusDT = datetime('now', 'localtime')
 WHERE SMSQID = :ItemID;

-- @procedure SMS_QuerySMSQueue
-- The waiting items of one direction whose send time has come, in queue order.
SELECT * FROM SMSQueue
 WHERE Direction = :Direction AND Status = 0
   AND (SendDT IS NULL OR SendDT <= datetime('now', 'localtime'))
 ORDER BY SMSQID;

-- @procedure SMS_GetSMSQStats
-- Per status of one direction: how many items, and when the oldest of them was received.
SELECT Status, count(*) AS ItemCount, min(DTReceived) AS OldestReceived FROM SMSQueue
 WHERE Direction = :Direction
 GROUP BY Status
 ORDER BY Status;

-- @procedure SMS_ReviveSMSItems
-- Puts the failed items of one direction back in the queue as waiting.
UPDATE SMSQueue SET Status = 0, StatusDT = datetime('now', 'localtime')
 WHERE Direction = :Direction AND Status = 3;

-- @procedure SMS_UpdateSMSToAddress
-- Changes the recipient of one item.
UPDATE SMSQueue SET ToAddress = :ToAddress WHERE SMSQID = :ItemID;

-- @procedure SMS_GetDeadSMSItems
-- The failed items of one direction, in queue order.
SELECT * FROM SMSQueue WHERE Direction = :Direction AND Status = 3 ORDER BY SMSQID;

-- @procedure SMS_GetStaleSMSSegments
-- The segments of the incomplete messages of one direction whose first segment arrived more
-- than ItemTimeOut minutes ago (60 when not given), message by message in segment order.
SELECT * FROM SMSSegmentCache
 WHERE Direction = :Direction AND SMSQID IS NULL
   AND SegmentHash IN (SELECT SegmentHash FROM SMSSegmentCache
                        WHERE Direction = :Direction AND SMSQID IS NULL
                        GROUP BY SegmentHash
                       HAVING min(DTReceived) < datetime('now', 'localtime',
                                                         '-' || coalesce(:ItemTimeOut, 60)
                                                             || ' minutes'))
 ORDER BY SegmentHash, SegmentNumber;
