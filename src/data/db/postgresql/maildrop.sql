-- The POP3 mail drop: the user record of the log-in, the lock on a drop, its listing, the item
-- reads and the status changes of DELE, RSET, QUIT and a session's end.
--
-- A drop is the outbound items whose ToAddress equals the user's address without regard to
-- case, with Status 0, 4, 5 or 6 (other statuses belong to the gateway's own delivery). Its lock
-- is the MailDropLocks row of the lower-cased address: while a session holds it, the drop's
-- waiting items are the session's without a write to any of them. An item carries the
-- session's SessionID only once the session marks it (5 or 6 by DELE, 4 again by RSET), so that
-- the removal at QUIT and the release find exactly the session's marks. Items of status 5 and 6
-- are hidden from the item reads. A log-in therefore writes the lock row and nothing else.
--
-- Every function is one statement for its caller and so one transaction, run at READ
-- COMMITTED. Parameters are named "@Name" after the callers' names, so they never clash with a
-- column or a row name. Several front-ends share these tables; what keeps two sessions from serving one drop is
-- the row lock on the drop's MailDropLocks row, taken FOR UPDATE by the lock and the listing
-- (see SMS_LockP3MailDrop). The status changes by item or by session take the lock rows of the
-- drops they change before any item, as the lock does: a takeover holds that row while it undoes
-- the drop's marks, so that a dead session's late mark, removal or release waits for the takeover
-- and then, in a statement of its own, sees the marks it undid. A drop's version row (see
-- SMS_GetP3DropChanges) is taken last, by the triggers on the items, once a statement has changed
-- them.
--
-- The lock, the listing and the release commit with synchronous_commit off (SET LOCAL, for
-- their own transaction only): a crash of the database server may undo such a commit, and the
-- drop then looks locked until its lock is stale, or released items come back to a session
-- that is gone, so that a message may be delivered twice but is never lost. The marks and
-- removals that make up a deletion keep the server's setting and so reach the disk before the
-- client is told, and with them everything committed before.

-- @procedure SMS_GetP3UserDetails
CREATE OR REPLACE FUNCTION "SMS_GetP3UserDetails"("@LogonName" text)
RETURNS TABLE ("RecID" bigint, "UserID" text, "UserName" text, "DisplayName" text,
               "Alias" text, "Description" text, "Email" text, "Mobile" text,
               "Department" text, "LogonName" text, "UserPassword" text, "POP3User" integer,
               "HTTPUser" integer, "Administrator" integer, "AcctDisabled" integer,
               "UserType" integer)
LANGUAGE sql STABLE AS $$
  SELECT RecID, UserID, UserName, DisplayName, Alias, Description, Email, Mobile, Department,
         LogonName, UserPassword, POP3User, HTTPUser, Administrator, AcctDisabled, UserType
    FROM Users
   WHERE lower(LogonName) = lower("@LogonName") AND POP3User <> 0
   ORDER BY RecID;
$$;

-- @procedure SMS_LockP3MailDrop
-- Refused while another session holds a lock younger than 15 minutes and serves items of the
-- drop; an older lock is stale and taken over, and so is one whose server process (its
-- InstanceID) has not beaten for a minute or is gone. A session that found the drop empty holds
-- nothing anyone could miss, so its lock (Serving 0) does not stand in the way (a QUIT on an
-- empty drop sends no release). The holder's own call renews its lock. Marks that another
-- session left on the drop's items (a stale holder's DELE or RSET) are undone in the lock's
-- transaction, so that nothing a dead session marked is lost and no item of the drop belongs
-- to anyone else once the lock is taken. The row it gives is the drop's version as the lock
-- leaves it (none for a drop that never had an item): a listing taken under that version, by
-- any session, is the listing this session would be given now.
--
-- Why two front-ends never both win: the INSERT ... ON CONFLICT DO NOTHING makes sure the lock
-- row exists (a second inserter of the same address waits for the first one's transaction and
-- then inserts nothing), and SELECT ... FOR UPDATE then holds that row until this transaction
-- ends. Every locker of the drop passes this row lock one at a time, and under READ COMMITTED
-- each later statement sees everything the previous holder committed: its lock row and whether
-- it serves items. So the second of two racing sessions finds the first one's fresh lock
-- serving items and is refused.
DROP FUNCTION IF EXISTS "SMS_LockP3MailDrop"(text, text, text);
CREATE FUNCTION "SMS_LockP3MailDrop"("@EmailAddress" text, "@SessionID" text,
                                     "@InstanceID" text)
RETURNS TABLE ("Version" bigint) LANGUAGE plpgsql AS $$
DECLARE
  drop_address constant text := lower("@EmailAddress");
  now_seconds constant bigint := floor(extract(epoch FROM clock_timestamp()))::bigint;
  holder MailDropLocks%ROWTYPE;
BEGIN
  SET LOCAL synchronous_commit = off;
  INSERT INTO MailDropLocks (Address, SessionID, LockTime, InstanceID, Serving)
  VALUES (drop_address, "@SessionID", now_seconds, "@InstanceID", 0)
      ON CONFLICT (Address) DO NOTHING;
  SELECT * INTO holder FROM MailDropLocks WHERE Address = drop_address FOR UPDATE;
  IF holder.SessionID <> "@SessionID" AND holder.LockTime > now_seconds - 900
     AND (holder.InstanceID IS NULL
          OR EXISTS (SELECT 1 FROM P3Instances AS i
                      WHERE i.InstanceID = holder.InstanceID AND i.Heartbeat > now_seconds - 60))
     AND holder.Serving <> 0 THEN
    RAISE EXCEPTION 'Mail drop % is locked by session %', "@EmailAddress", holder.SessionID;
  END IF;
  UPDATE MailDropLocks
     SET SessionID = "@SessionID", LockTime = now_seconds, InstanceID = "@InstanceID",
         Serving = CASE WHEN EXISTS (SELECT 1 FROM GatewayItems AS g
                                      WHERE lower(g.ToAddress) = drop_address
                                        AND g.Direction = 'O' AND g.Status IN (0, 4, 5, 6))
                        THEN 1 ELSE 0 END
   WHERE Address = drop_address;
  -- Only marked items can need it; the condition lets their index spare reading the others.
  UPDATE GatewayItems AS g SET Status = 0, SessionID = NULL
   WHERE lower(g.ToAddress) = drop_address AND (g.Status <> 0 OR g.SessionID IS NOT NULL)
     AND g.Direction = 'O' AND g.Status IN (0, 4, 5, 6)
     AND (g.SessionID <> "@SessionID" OR (g.SessionID IS NULL AND g.Status <> 0));
  RETURN QUERY SELECT v.Version FROM MailDropVersions AS v WHERE v.Address = drop_address;
END;
$$;

-- @procedure SMS_GetP3MailDrop
-- Only the lock holder may list: the drop's items that are waiting or that the session put
-- back with RSET, in storage order, including those that arrived since the lock. A holder that
-- found the drop empty and now lists items serves them from here on, so its lock starts to
-- stand in the way. The lock row is held FOR UPDATE meanwhile, so a takeover cannot come
-- between the check and the listing. Each row carries the item's digest as SMS_GetP3DropDigests
-- gives it, and the drop's version as SMS_GetP3DropChanges gives it, read by the same statement
-- and so from the same state of the items: while the version stays the same, so do the items and
-- their digests.
DROP FUNCTION IF EXISTS "SMS_GetP3MailDrop"(text, text);
CREATE FUNCTION "SMS_GetP3MailDrop"("@EmailAddress" text, "@SessionID" text)
RETURNS TABLE ("GWQID" bigint, "Digest" bigint, "Changes" bigint) LANGUAGE plpgsql AS $$
DECLARE
  drop_address constant text := lower("@EmailAddress");
  serving integer;
BEGIN
  SET LOCAL synchronous_commit = off;
  SELECT l.Serving INTO serving FROM MailDropLocks AS l
    WHERE l.Address = drop_address AND l.SessionID = "@SessionID" FOR UPDATE;
  IF NOT FOUND THEN
    RAISE EXCEPTION 'Session % does not hold the lock on mail drop %', "@SessionID",
                    "@EmailAddress";
  END IF;
  RETURN QUERY
    SELECT g.GWQID, g.FieldsDigest,
           (SELECT v.Version FROM MailDropVersions AS v WHERE v.Address = drop_address)
      FROM GatewayItems AS g
     WHERE lower(g.ToAddress) = drop_address AND g.Direction = 'O' AND g.Status IN (0, 4)
       AND (g.SessionID IS NULL OR g.SessionID = "@SessionID")
     ORDER BY g.GWQID;
  IF serving = 0 AND FOUND THEN
    UPDATE MailDropLocks SET Serving = 1 WHERE Address = drop_address;
  END IF;
END;
$$;

-- @procedure SMS_GetP3MailItem
CREATE OR REPLACE FUNCTION "SMS_GetP3MailItem"("@GWQID" bigint)
RETURNS TABLE ("GWQID" bigint, "MessageID" text, "DTReceived" text, "Subject" text,
               "Content" text, "FromName" text, "FromAddress" text, "ToAddress" text,
               "Body" text)
LANGUAGE sql STABLE AS $$
  SELECT i.GWQID, i.MessageID, i.DTReceived, i.Subject, i.Content, i.FromName, i.FromAddress,
         i.ToAddress, b.Body
    FROM GatewayItems AS i LEFT JOIN GatewayBodies AS b ON b.GWQID = i.GWQID
   WHERE i.GWQID = "@GWQID" AND i.Status NOT IN (5, 6);
$$;

-- @procedure SMS_GetP3MailItemUpTo
-- SMS_GetP3MailItem for a reader that takes a long body a piece at a time: the body comes only
-- when its stored length is at most BodyUpTo, and BodyLeft says that one was left behind.
CREATE OR REPLACE FUNCTION "SMS_GetP3MailItemUpTo"("@GWQID" bigint, "@BodyUpTo" bigint)
RETURNS TABLE ("GWQID" bigint, "MessageID" text, "DTReceived" text, "Subject" text,
               "Content" text, "FromName" text, "FromAddress" text, "ToAddress" text,
               "Body" text, "BodyLeft" integer)
LANGUAGE sql STABLE AS $$
  SELECT i.GWQID, i.MessageID, i.DTReceived, i.Subject, i.Content, i.FromName, i.FromAddress,
         i.ToAddress, CASE WHEN i.BodyLength <= "@BodyUpTo" THEN b.Body END,
         (i.BodyLength > "@BodyUpTo" AND b.Body IS NOT NULL)::integer
    FROM GatewayItems AS i LEFT JOIN GatewayBodies AS b ON b.GWQID = i.GWQID
   WHERE i.GWQID = "@GWQID" AND i.Status NOT IN (5, 6);
$$;

-- @procedure SMS_GetP3BodyPiece
-- Count characters of an item's body from the Start-th: how a large body is read without
-- holding it whole on either side of the connection.
CREATE OR REPLACE FUNCTION "SMS_GetP3BodyPiece"("@GWQID" bigint, "@Start" bigint,
                                                "@Count" bigint)
RETURNS TABLE ("Piece" text)
LANGUAGE sql STABLE AS $$
  SELECT substr(Body, "@Start"::integer, "@Count"::integer)
    FROM GatewayBodies WHERE GWQID = "@GWQID";
$$;

-- @procedure SMS_GetP3ItemStats
CREATE OR REPLACE FUNCTION "SMS_GetP3ItemStats"("@GWQID" bigint)
RETURNS TABLE ("GWQID" bigint, "MessageID" text, "DTReceived" text, "Subject" text,
               "Content" text, "FromName" text, "FromAddress" text, "ToAddress" text,
               "BodyLength" bigint)
LANGUAGE sql STABLE AS $$
  SELECT GWQID, MessageID, DTReceived, Subject, Content, FromName, FromAddress, ToAddress,
         BodyLength
    FROM GatewayItems
   WHERE GWQID = "@GWQID" AND Status NOT IN (5, 6);
$$;

-- @procedure SMS_SetP3ItemsStatus
-- ClearItems 0 (RSET) gives the items the session marked the status; any other value releases
-- them: they leave the session with the status, and the session's lock on the drop ends. Only
-- marked rows carry the session, found through the session index; the others were never
-- written.
CREATE OR REPLACE FUNCTION "SMS_SetP3ItemsStatus"("@SessionID" text, "@Status" integer,
                                                  "@ClearItems" integer)
RETURNS void LANGUAGE sql AS $$
  SET LOCAL synchronous_commit = off;
  SELECT 1 FROM MailDropLocks
   WHERE Address IN (SELECT lower(ToAddress) FROM GatewayItems WHERE SessionID = "@SessionID")
      OR SessionID = "@SessionID"
   ORDER BY Address FOR UPDATE;
  UPDATE GatewayItems
     SET Status = "@Status",
         SessionID = CASE WHEN coalesce("@ClearItems", 0) = 0 THEN SessionID END
   WHERE SessionID = "@SessionID";
  DELETE FROM MailDropLocks WHERE SessionID = "@SessionID" AND coalesce("@ClearItems", 0) <> 0;
$$;

-- @procedure SMS_RemoveP3Items
CREATE OR REPLACE FUNCTION "SMS_RemoveP3Items"("@SessionID" text)
RETURNS void LANGUAGE sql AS $$
  SELECT 1 FROM MailDropLocks
   WHERE Address IN (SELECT lower(ToAddress) FROM GatewayItems
                      WHERE SessionID = "@SessionID" AND Status IN (5, 6))
   ORDER BY Address FOR UPDATE;
  DELETE FROM GatewayItems WHERE SessionID = "@SessionID" AND Status IN (5, 6);
$$;

-- @procedure SMS_UpdateP3ItemStatus
-- A mark belongs to the session that holds the item's drop, so that its removal at QUIT and
-- its release find it; an item of no locked drop keeps whatever session it had.
CREATE OR REPLACE FUNCTION "SMS_UpdateP3ItemStatus"("@ItemID" bigint, "@Status" integer)
RETURNS void LANGUAGE sql AS $$
  SELECT 1 FROM MailDropLocks
   WHERE Address = (SELECT lower(ToAddress) FROM GatewayItems WHERE GWQID = "@ItemID")
     FOR UPDATE;
  UPDATE GatewayItems AS g
     SET Status = "@Status",
         SessionID = coalesce((SELECT l.SessionID FROM MailDropLocks AS l
                                WHERE l.Address = lower(g.ToAddress)), g.SessionID)
   WHERE g.GWQID = "@ItemID";
$$;

-- @procedure SMS_GetP3DropStats
-- The listing fields of many items in one call: ItemIDs is a comma-separated list of GWQIDs (a
-- session's message list). Each listed item gives exactly the row SMS_GetP3ItemStats gives for
-- it, and none when that gives none: a removed item, or one marked 5 or 6 by whichever session
-- holds it now, is left out. Rows come in GWQID order. Digest is SMS_GetP3DropDigests's: the
-- one the table keeps with each item.
DROP FUNCTION IF EXISTS "SMS_GetP3DropStats"(text);
CREATE FUNCTION "SMS_GetP3DropStats"("@ItemIDs" text)
RETURNS TABLE ("GWQID" bigint, "MessageID" text, "DTReceived" text, "Subject" text,
               "Content" text, "FromName" text, "FromAddress" text, "ToAddress" text,
               "BodyLength" bigint, "Digest" bigint)
LANGUAGE sql STABLE AS $$
  SELECT GWQID, MessageID, DTReceived, Subject, Content, FromName, FromAddress, ToAddress,
         BodyLength, FieldsDigest
    FROM GatewayItems
   WHERE GWQID = ANY (string_to_array(nullif(trim("@ItemIDs"), ''), ',')::bigint[])
     AND Status NOT IN (5, 6)
   ORDER BY GWQID;
$$;

-- @procedure SMS_GetP3DropDigests
-- Each item of the drop that SMS_GetP3ItemStats shows, by GWQID in storage order, with the
-- digest of its other fields as SMS_GetP3DropStats gives it: a listing that has worked an item
-- out before checks with it that the item is there and its fields unchanged without reading
-- them.
DROP FUNCTION IF EXISTS "SMS_GetP3DropDigests"(text);
CREATE FUNCTION "SMS_GetP3DropDigests"("@EmailAddress" text)
RETURNS TABLE ("GWQID" bigint, "Digest" bigint)
LANGUAGE sql STABLE AS $$
  SELECT GWQID, FieldsDigest
    FROM GatewayItems
   WHERE lower(ToAddress) = lower("@EmailAddress") AND Direction = 'O' AND Status NOT IN (5, 6)
   ORDER BY GWQID;
$$;

-- @procedure SMS_GetP3DropChanges
-- The drop's version, which every arrival, change and removal of one of its items raises (the
-- triggers on the items keep it); no row when the session does not hold the lock.
CREATE OR REPLACE FUNCTION "SMS_GetP3DropChanges"("@EmailAddress" text, "@SessionID" text)
RETURNS TABLE ("Changes" bigint) LANGUAGE sql STABLE AS $$
  SELECT v.Version
    FROM MailDropLocks AS l JOIN MailDropVersions AS v ON v.Address = l.Address
   WHERE l.Address = lower("@EmailAddress") AND l.SessionID = "@SessionID";
$$;

-- @procedure SMS_BeatP3Instance
-- A server process's heartbeat, and its registration at the first beat: the row is made when
-- it is missing (its start, or a row removed while the process lived) and its time renewed
-- otherwise. Rows of processes that have not beaten for a day are cleared away on the way: they
-- died without their orderly stop, and their locks are stale long since. The heartbeat waits
-- for no disk: a lost one is renewed by the next.
CREATE OR REPLACE FUNCTION "SMS_BeatP3Instance"("@InstanceID" text, "@HostName" text,
                                                "@ProcessID" bigint)
RETURNS void LANGUAGE sql AS $$
  SET LOCAL synchronous_commit = off;
  DELETE FROM P3Instances
   WHERE Heartbeat < floor(extract(epoch FROM clock_timestamp()))::bigint - 86400;
  INSERT INTO P3Instances (InstanceID, HostName, ProcessID, StartTime, Heartbeat)
  VALUES ("@InstanceID", "@HostName", "@ProcessID",
          floor(extract(epoch FROM clock_timestamp()))::bigint,
          floor(extract(epoch FROM clock_timestamp()))::bigint)
      ON CONFLICT (InstanceID) DO UPDATE SET Heartbeat = excluded.Heartbeat;
$$;

-- @procedure SMS_RemoveP3Instance
-- A server process's orderly stop. Locks its sessions still hold are stale from now on.
CREATE OR REPLACE FUNCTION "SMS_RemoveP3Instance"("@InstanceID" text)
RETURNS void LANGUAGE sql AS $$
  DELETE FROM P3Instances WHERE InstanceID = "@InstanceID";
$$;
