-- The POP3 mail drop: the user record of the log-in, the lock on a drop, its listing, the item
-- reads and the status changes of DELE, RSET, QUIT and a session's end.
--
-- A drop is the outbound items whose ToAddress equals the user's address without regard to
-- case, with Status 0, 4, 5 or 6 (other statuses belong to the gateway's own delivery). Its lock
-- is the MailDropLocks row of the lower-cased address; the items a session serves carry its
-- SessionID. Items of status 5 and 6 are hidden from the item reads.
--
-- Every function is one statement for its caller and so one transaction, run at READ
-- COMMITTED. Parameters are named "@Name" after the callers' names, so they never clash with a
-- column or a row name. Several front-ends share these tables; what keeps two sessions from serving one drop is
-- the row lock on the drop's MailDropLocks row, taken FOR UPDATE by the lock and the listing
-- (see SMS_LockP3MailDrop). The status changes by item or by session need no lock of their own:
-- an UPDATE or DELETE that meets a row another transaction changed waits for it and evaluates
-- its WHERE again on the new row, so a dead session's late release never touches the items a
-- takeover gave to another session.
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
-- Refused while another session holds a lock younger than 15 minutes and still serves items of
-- the drop; an older lock is stale and taken over, and so is one whose server process (its
-- InstanceID) has not beaten for a minute or is gone. A session that found the drop empty holds
-- nothing anyone could miss, so its lock does not stand in the way (a QUIT on an empty drop
-- sends no release). The holder's own call renews its lock. The drop's items become the
-- session's here, in the same transaction as the lock, so that no other session can slip in
-- between the lock and the listing.
--
-- Why two front-ends never both win: the INSERT ... ON CONFLICT DO NOTHING makes sure the lock
-- row exists (a second inserter of the same address waits for the first one's transaction and
-- then inserts nothing), and SELECT ... FOR UPDATE then holds that row until this transaction
-- ends. Every locker of the drop passes this row lock one at a time, and under READ COMMITTED
-- each later statement sees everything the previous holder committed: its lock row and the items
-- it claimed. So the second of two racing sessions finds the first one's fresh lock with items
-- and is refused.
CREATE OR REPLACE FUNCTION "SMS_LockP3MailDrop"("@EmailAddress" text, "@SessionID" text,
                                                "@InstanceID" text)
RETURNS void LANGUAGE plpgsql AS $$
DECLARE
  drop_address constant text := lower("@EmailAddress");
  now_seconds constant bigint := floor(extract(epoch FROM clock_timestamp()))::bigint;
  holder MailDropLocks%ROWTYPE;
BEGIN
  SET LOCAL synchronous_commit = off;
  INSERT INTO MailDropLocks (Address, SessionID, LockTime, InstanceID)
  VALUES (drop_address, "@SessionID", now_seconds, "@InstanceID")
      ON CONFLICT (Address) DO NOTHING;
  SELECT * INTO holder FROM MailDropLocks WHERE Address = drop_address FOR UPDATE;
  IF holder.SessionID <> "@SessionID" AND holder.LockTime > now_seconds - 900
     AND (holder.InstanceID IS NULL
          OR EXISTS (SELECT 1 FROM P3Instances AS i
                      WHERE i.InstanceID = holder.InstanceID AND i.Heartbeat > now_seconds - 60))
     AND EXISTS (SELECT 1 FROM GatewayItems AS g WHERE g.SessionID = holder.SessionID) THEN
    RAISE EXCEPTION 'Mail drop % is locked by session %', "@EmailAddress", holder.SessionID;
  END IF;
  UPDATE MailDropLocks SET SessionID = "@SessionID", LockTime = now_seconds,
                           InstanceID = "@InstanceID"
   WHERE Address = drop_address;
  UPDATE GatewayItems SET Status = 4, SessionID = "@SessionID"
   WHERE lower(ToAddress) = drop_address AND Direction = 'O' AND Status IN (0, 4, 5, 6)
     AND (SessionID IS NULL OR SessionID <> "@SessionID");
END;
$$;

-- @procedure SMS_GetP3MailDrop
-- Only the lock holder may list. Every item of the drop that is not yet the session's becomes
-- the session's with status 4: waiting items, and those a stale session left listed or marked,
-- so that nothing a dead session marked is lost. The lock has claimed the drop already, so this
-- touches only what arrived since; the rows the session holds are read, never rewritten. Rows
-- come in storage order. The lock row is held FOR UPDATE while the items are claimed, so a
-- takeover cannot come between the check and the claim.
CREATE OR REPLACE FUNCTION "SMS_GetP3MailDrop"("@EmailAddress" text, "@SessionID" text)
RETURNS TABLE ("GWQID" bigint) LANGUAGE plpgsql AS $$
DECLARE
  drop_address constant text := lower("@EmailAddress");
BEGIN
  SET LOCAL synchronous_commit = off;
  PERFORM 1 FROM MailDropLocks AS l
    WHERE l.Address = drop_address AND l.SessionID = "@SessionID" FOR UPDATE;
  IF NOT FOUND THEN
    RAISE EXCEPTION 'Session % does not hold the lock on mail drop %', "@SessionID",
                    "@EmailAddress";
  END IF;
  UPDATE GatewayItems AS g SET Status = 4, SessionID = "@SessionID"
   WHERE lower(g.ToAddress) = drop_address AND g.Direction = 'O' AND g.Status IN (0, 4, 5, 6)
     AND (g.SessionID IS NULL OR g.SessionID <> "@SessionID");
  RETURN QUERY
    SELECT g.GWQID FROM GatewayItems AS g
     WHERE g.SessionID = "@SessionID" AND g.Status = 4
       AND lower(g.ToAddress) = drop_address AND g.Direction = 'O'
     ORDER BY g.GWQID;
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
-- ClearItems 0 (RSET) gives all the session's items the status; any other value releases them:
-- they leave the session with the status, and the session's lock on the drop ends. Each of the
-- session's rows is written once, found through the session index.
CREATE OR REPLACE FUNCTION "SMS_SetP3ItemsStatus"("@SessionID" text, "@Status" integer,
                                                  "@ClearItems" integer)
RETURNS void LANGUAGE sql AS $$
  SET LOCAL synchronous_commit = off;
  UPDATE GatewayItems
     SET Status = "@Status",
         SessionID = CASE WHEN coalesce("@ClearItems", 0) = 0 THEN SessionID END
   WHERE SessionID = "@SessionID";
  DELETE FROM MailDropLocks WHERE SessionID = "@SessionID" AND coalesce("@ClearItems", 0) <> 0;
$$;

-- @procedure SMS_RemoveP3Items
CREATE OR REPLACE FUNCTION "SMS_RemoveP3Items"("@SessionID" text)
RETURNS void LANGUAGE sql AS $$
  DELETE FROM GatewayItems WHERE SessionID = "@SessionID" AND Status IN (5, 6);
$$;

-- @procedure SMS_UpdateP3ItemStatus
CREATE OR REPLACE FUNCTION "SMS_UpdateP3ItemStatus"("@ItemID" bigint, "@Status" integer)
RETURNS void LANGUAGE sql AS $$
  UPDATE GatewayItems SET Status = "@Status" WHERE GWQID = "@ItemID";
$$;

-- @procedure SMS_GetP3DropStats
-- The listing fields of many items in one call: ItemIDs is a comma-separated list of GWQIDs (a
-- session's message list). Each listed item gives exactly the row SMS_GetP3ItemStats gives for
-- it, and none when that gives none: a removed item, or one marked 5 or 6 by whichever session
-- holds it now, is left out. Rows come in GWQID order.
CREATE OR REPLACE FUNCTION "SMS_GetP3DropStats"("@ItemIDs" text)
RETURNS TABLE ("GWQID" bigint, "MessageID" text, "DTReceived" text, "Subject" text,
               "Content" text, "FromName" text, "FromAddress" text, "ToAddress" text,
               "BodyLength" bigint)
LANGUAGE sql STABLE AS $$
  SELECT GWQID, MessageID, DTReceived, Subject, Content, FromName, FromAddress, ToAddress,
         BodyLength
    FROM GatewayItems
   WHERE GWQID = ANY (string_to_array(nullif(trim("@ItemIDs"), ''), ',')::bigint[])
     AND Status NOT IN (5, 6)
   ORDER BY GWQID;
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
