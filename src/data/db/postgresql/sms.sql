-- The SMS queue and the segment cache of multipart SMS (tables and codes in the migration
-- "sms_queue"). Empty date texts arrive as '' and count as not given. Of the optional keys of
-- the segment procedures, the numbers arrive as NULL and the hash as '' when left out.
--
-- "Now" is the local time of the connection's time zone, which the program sets to its own, in
-- the text form the tables keep ("YYYY-MM-DD HH:MM:SS", the fraction cut off, so that an item
-- whose send time is this second counts as due). NULL ids sort first, as on the embedded
-- database.

-- @procedure SMS_WriteSMSItem
-- Queues one item as waiting; without DTReceived it is dated now, without SendDT it goes at once.
CREATE OR REPLACE FUNCTION "SMS_WriteSMSItem"(
    "@DTReceived" text, "@Source" text, "@MessageID" text, "@DataCoding" text,
    "@Content" text, "@FromAddress" text, "@FromName" text, "@ToAddress" text,
    "@Subject" text, "@Body" text, "@RawData" text, "@Direction" text, "@Connector" integer,
    "@SendDT" text)
RETURNS void LANGUAGE sql AS $$
  INSERT INTO SMSQueue (DTReceived, Source, MessageID, DataCoding, Content, FromAddress, FromName,
                        ToAddress, Subject, Body, RawData, Direction, Connector, SendDT)
  VALUES (coalesce(nullif("@DTReceived", ''),
                   to_char(localtimestamp, 'YYYY-MM-DD HH24:MI:SS')),
          "@Source", "@MessageID", "@DataCoding", "@Content", "@FromAddress", "@FromName",
          "@ToAddress", "@Subject", "@Body", "@RawData", "@Direction", "@Connector",
          nullif("@SendDT", ''));
$$;

-- @procedure SMS_WriteSMSSegment
-- Caches one segment (a repeated segment of a message still being collected keeps the first
-- copy); the segment that completes its message assembles it into one waiting queue item, with
-- the bodies joined in segment order and the other fields of segment 1, and links the
-- message's segments to that item.
--
-- The segments of one message may arrive at several front-ends at once. Each writer first
-- takes a transaction-scoped lock named after the hash, so writers of one message pass one at
-- a time and each sees the segments its predecessors committed: the writer of the last one
-- always finds the message complete. (Two hashes that share a lock only wait for each other.)
CREATE OR REPLACE FUNCTION "SMS_WriteSMSSegment"(
    "@DTReceived" text, "@Source" text, "@MessageID" text, "@DataCoding" text,
    "@Content" text, "@FromAddress" text, "@ToAddress" text, "@SegmentHash" text,
    "@SegmentReference" integer, "@SegmentCount" integer, "@SegmentNumber" integer,
    "@Body" text, "@RawData" text, "@Direction" text, "@Connector" integer, "@Status" integer)
RETURNS void LANGUAGE plpgsql AS $$
DECLARE
  cached bigint;
  opening SMSSegmentCache%ROWTYPE;
  item bigint;
BEGIN
  PERFORM pg_advisory_xact_lock(hashtext('talvex sms segments ' || "@SegmentHash"));
  INSERT INTO SMSSegmentCache (DTReceived, Source, MessageID, DataCoding, Content, FromAddress,
                               ToAddress, SegmentHash, SegmentReference, SegmentCount,
                               SegmentNumber, Body, RawData, Direction, Connector, Status)
  VALUES (coalesce(nullif("@DTReceived", ''), to_char(localtimestamp, 'YYYY-MM-DD HH24:MI:SS')),
          "@Source", "@MessageID", "@DataCoding", "@Content", "@FromAddress", "@ToAddress",
          "@SegmentHash", "@SegmentReference", "@SegmentCount", "@SegmentNumber", "@Body",
          "@RawData", "@Direction", "@Connector", coalesce("@Status", 0))
      ON CONFLICT (SegmentHash, SegmentNumber) WHERE SMSQID IS NULL DO NOTHING;

  SELECT count(*) INTO cached FROM SMSSegmentCache AS s
   WHERE s.SegmentHash = "@SegmentHash" AND s.SMSQID IS NULL;
  SELECT * INTO opening FROM SMSSegmentCache AS s
   WHERE s.SegmentHash = "@SegmentHash" AND s.SMSQID IS NULL AND s.SegmentNumber = 1;
  -- Segment numbers lie within 1..SegmentCount and each is cached once, so as many segments
  -- as the first one announces are the whole message.
  IF NOT FOUND OR cached <> opening.SegmentCount THEN
    RETURN;
  END IF;
  INSERT INTO SMSQueue (DTReceived, Source, MessageID, DataCoding, Content, FromAddress,
                        ToAddress, Body, Direction, Connector)
  SELECT min(s.DTReceived), opening.Source, opening.MessageID, opening.DataCoding,
         opening.Content, opening.FromAddress, opening.ToAddress,
         string_agg(coalesce(s.Body, ''), '' ORDER BY s.SegmentNumber), opening.Direction,
         opening.Connector
    FROM SMSSegmentCache AS s
   WHERE s.SegmentHash = "@SegmentHash" AND s.SMSQID IS NULL
  RETURNING SMSQID INTO item;
  UPDATE SMSSegmentCache AS s SET SMSQID = item
   WHERE s.SegmentHash = "@SegmentHash" AND s.SMSQID IS NULL;
END;
$$;

-- @procedure SMS_UpdateSMSSegment
-- Changes recipient, body and status of one segment (by number) of an assembled item.
CREATE OR REPLACE FUNCTION "SMS_UpdateSMSSegment"("@SMSQID" bigint, "@ToAddress" text,
                                                  "@Body" text, "@Segment" integer,
                                                  "@Status" integer)
RETURNS void LANGUAGE sql AS $$
  UPDATE SMSSegmentCache
     SET ToAddress = "@ToAddress", Body = "@Body", Status = coalesce("@Status", Status)
   WHERE SMSQID = "@SMSQID" AND SegmentNumber = "@Segment";
$$;

-- @procedure SMS_GetSMSSegments
-- The segments that match every key given (every segment when none is), message by message in
-- segment order.
CREATE OR REPLACE FUNCTION "SMS_GetSMSSegments"("@SegCacheID" bigint, "@SMSQID" bigint,
                                                "@SegmentHash" text)
RETURNS TABLE ("SegCacheID" bigint, "DTReceived" text, "Source" text, "MessageID" text,
               "DataCoding" text, "Content" text, "FromAddress" text, "ToAddress" text,
               "SegmentHash" text, "SegmentReference" integer, "SegmentCount" integer,
               "SegmentNumber" integer, "Body" text, "RawData" text, "Direction" text,
               "Connector" integer, "Status" integer, "SMSQID" bigint)
LANGUAGE sql STABLE AS $$
  SELECT * FROM SMSSegmentCache
   WHERE ("@SegCacheID" IS NULL OR SegCacheID = "@SegCacheID")
     AND ("@SMSQID" IS NULL OR SMSQID = "@SMSQID")
     AND (coalesce("@SegmentHash", '') = '' OR SegmentHash = "@SegmentHash")
   ORDER BY SegmentHash, SMSQID NULLS FIRST, SegmentNumber, SegCacheID;
$$;

-- @procedure SMS_RemoveSMSSegments
-- Deletes the segments that match every key given; with no key given, none.
CREATE OR REPLACE FUNCTION "SMS_RemoveSMSSegments"("@SegCacheID" bigint, "@SMSQID" bigint,
                                                   "@SegmentHash" text)
RETURNS void LANGUAGE sql AS $$
  DELETE FROM SMSSegmentCache
   WHERE ("@SegCacheID" IS NULL OR SegCacheID = "@SegCacheID")
     AND ("@SMSQID" IS NULL OR SMSQID = "@SMSQID")
     AND (coalesce("@SegmentHash", '') = '' OR SegmentHash = "@SegmentHash")
     AND ("@SegCacheID" IS NOT NULL OR "@SMSQID" IS NOT NULL
          OR coalesce("@SegmentHash", '') <> '');
$$;

-- @procedure SMS_GetSMSItem
-- One item, any status.
CREATE OR REPLACE FUNCTION "SMS_GetSMSItem"("@SMSQID" bigint)
RETURNS TABLE ("SMSQID" bigint, "DTReceived" text, "Source" text, "MessageID" text,
               "DataCoding" text, "Content" text, "FromAddress" text, "FromName" text,
               "ToAddress" text, "Subject" text, "Body" text, "RawData" text,
               "Direction" text, "Connector" integer, "SendDT" text, "Status" integer,
               "LastError" integer, "StatusDT" text, "DTQueued" text)
LANGUAGE sql STABLE AS $$
  SELECT * FROM SMSQueue WHERE SMSQID = "@SMSQID";
$$;

-- @procedure SMS_GetSMSItems
-- Every item of one direction, any status, in queue order.
CREATE OR REPLACE FUNCTION "SMS_GetSMSItems"("@Direction" text)
RETURNS TABLE ("SMSQID" bigint, "DTReceived" text, "Source" text, "MessageID" text,
               "DataCoding" text, "Content" text, "FromAddress" text, "FromName" text,
               "ToAddress" text, "Subject" text, "Body" text, "RawData" text,
               "Direction" text, "Connector" integer, "SendDT" text, "Status" integer,
               "LastError" integer, "StatusDT" text, "DTQueued" text)
LANGUAGE sql STABLE AS $$
  SELECT * FROM SMSQueue WHERE Direction = "@Direction" ORDER BY SMSQID;
$$;

-- @procedure SMS_GetSMSItemData
-- The item named by the first key given: the SMSQID itself, else the item that the cached
-- segment was assembled into, else the latest item assembled from segments of the hash.
CREATE OR REPLACE FUNCTION "SMS_GetSMSItemData"("@SMSQID" bigint, "@SegCacheID" bigint,
                                                "@SegmentHash" text)
RETURNS TABLE ("SMSQID" bigint, "DTReceived" text, "Source" text, "MessageID" text,
               "DataCoding" text, "Content" text, "FromAddress" text, "FromName" text,
               "ToAddress" text, "Subject" text, "Body" text, "RawData" text,
               "Direction" text, "Connector" integer, "SendDT" text, "Status" integer,
               "LastError" integer, "StatusDT" text, "DTQueued" text)
LANGUAGE sql STABLE AS $$
  SELECT * FROM SMSQueue
   WHERE SMSQID = coalesce("@SMSQID",
                           (SELECT s.SMSQID FROM SMSSegmentCache AS s
                             WHERE s.SegCacheID = "@SegCacheID"),
                           (SELECT max(s.SMSQID) FROM SMSSegmentCache AS s
                             WHERE s.SegmentHash = nullif("@SegmentHash", '')));
$$;

-- @procedure SMS_RemoveSMSItem
-- Deletes the item; its segments go with it.
CREATE OR REPLACE FUNCTION "SMS_RemoveSMSItem"("@ItemID" bigint)
RETURNS void LANGUAGE sql AS $$
  DELETE FROM SMSQueue WHERE SMSQID = "@ItemID";
$$;

-- @procedure SMS_SetSMSItemStatus
-- Sets the status and the last error (none given clears it); a given SendDT or Subject
-- replaces the stored one.
CREATE OR REPLACE FUNCTION "SMS_SetSMSItemStatus"("@ItemID" bigint, "@Status" integer,
                                                  "@SendDT" text, "@LastError" integer,
                                                  "@Subject" text)
RETURNS void LANGUAGE sql AS $$
  UPDATE SMSQueue
     SET Status = "@Status", LastError = "@LastError",
         SendDT = coalesce(nullif("@SendDT", ''), SendDT),
         Subject = coalesce(nullif("@Subject", ''), Subject),
         StatusDT = to_char(localtimestamp, 'YYYY-MM-DD HH24:MI:SS')
   WHERE SMSQID = "@ItemID";
$$;

-- @procedure SMS_QuerySMSQueue
-- The waiting items of one direction whose send time has come, in queue order.
CREATE OR REPLACE FUNCTION "SMS_QuerySMSQueue"("@Direction" text)
RETURNS TABLE ("SMSQID" bigint, "DTReceived" text, "Source" text, "MessageID" text,
               "DataCoding" text, "Content" text, "FromAddress" text, "FromName" text,
               "ToAddress" text, "Subject" text, "Body" text, "RawData" text,
               "Direction" text, "Connector" integer, "SendDT" text, "Status" integer,
               "LastError" integer, "StatusDT" text, "DTQueued" text)
LANGUAGE sql STABLE AS $$
  SELECT * FROM SMSQueue
   WHERE Direction = "@Direction" AND Status = 0
     AND (SendDT IS NULL OR SendDT <= to_char(localtimestamp, 'YYYY-MM-DD HH24:MI:SS'))
   ORDER BY SMSQID;
$$;

-- @procedure SMS_GetSMSQStats
-- Per status of one direction: how many items, and when the oldest of them was received.
CREATE OR REPLACE FUNCTION "SMS_GetSMSQStats"("@Direction" text)
RETURNS TABLE ("Status" integer, "ItemCount" bigint, "OldestReceived" text)
LANGUAGE sql STABLE AS $$
  SELECT Status, count(*), min(DTReceived) FROM SMSQueue
   WHERE Direction = "@Direction"
   GROUP BY Status
   ORDER BY Status;
$$;

-- @procedure SMS_ReviveSMSItems
-- Puts the failed items of one direction back in the queue as waiting.
CREATE OR REPLACE FUNCTION "SMS_ReviveSMSItems"("@Direction" text)
RETURNS void LANGUAGE sql AS $$
  UPDATE SMSQueue SET Status = 0, StatusDT = to_char(localtimestamp, 'YYYY-MM-DD HH24:MI:SS')
   WHERE Direction = "@Direction" AND Status = 3;
$$;

-- @procedure SMS_UpdateSMSToAddress
-- Changes the recipient of one item.
CREATE OR REPLACE FUNCTION "SMS_UpdateSMSToAddress"("@ItemID" bigint, "@ToAddress" text)
RETURNS void LANGUAGE sql AS $$
  UPDATE SMSQueue SET ToAddress = "@ToAddress" WHERE SMSQID = "@ItemID";
$$;

-- @procedure SMS_GetDeadSMSItems
-- The failed items of one direction, in queue order.
CREATE OR REPLACE FUNCTION "SMS_GetDeadSMSItems"("@Direction" text)
RETURNS TABLE ("SMSQID" bigint, "DTReceived" text, "Source" text, "MessageID" text,
               "DataCoding" text, "Content" text, "FromAddress" text, "FromName" text,
               "ToAddress" text, "Subject" text, "Body" text, "RawData" text,
               "Direction" text, "Connector" integer, "SendDT" text, "Status" integer,
               "LastError" integer, "StatusDT" text, "DTQueued" text)
LANGUAGE sql STABLE AS $$
  SELECT * FROM SMSQueue WHERE Direction = "@Direction" AND Status = 3 ORDER BY SMSQID;
$$;

-- @procedure SMS_GetStaleSMSSegments
-- The segments of the incomplete messages of one direction whose first segment arrived more
-- than ItemTimeOut minutes ago (60 when not given), message by message in segment order. A
-- time-out that reaches back before the calendar's first year leaves nothing stale.
CREATE OR REPLACE FUNCTION "SMS_GetStaleSMSSegments"("@Direction" text, "@ItemTimeOut" integer)
RETURNS TABLE ("SegCacheID" bigint, "DTReceived" text, "Source" text, "MessageID" text,
               "DataCoding" text, "Content" text, "FromAddress" text, "ToAddress" text,
               "SegmentHash" text, "SegmentReference" integer, "SegmentCount" integer,
               "SegmentNumber" integer, "Body" text, "RawData" text, "Direction" text,
               "Connector" integer, "Status" integer, "SMSQID" bigint)
LANGUAGE sql STABLE AS $$
  WITH cutoff AS (
    SELECT CASE WHEN moment >= '0001-01-01' THEN to_char(moment, 'YYYY-MM-DD HH24:MI:SS') END
             AS moment
      FROM (SELECT localtimestamp - make_interval(mins => coalesce("@ItemTimeOut", 60)))
             AS t (moment))
  SELECT s.* FROM SMSSegmentCache AS s
   WHERE s.Direction = "@Direction" AND s.SMSQID IS NULL
     AND s.SegmentHash IN (SELECT o.SegmentHash FROM SMSSegmentCache AS o
                            WHERE o.Direction = "@Direction" AND o.SMSQID IS NULL
                            GROUP BY o.SegmentHash
                           HAVING min(o.DTReceived) < (SELECT moment FROM cutoff))
   ORDER BY s.SegmentHash, s.SegmentNumber;
$$;
