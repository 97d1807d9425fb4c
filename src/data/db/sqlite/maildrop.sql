-- The POP3 mail drop: the user record of the log-in, the lock on a drop, its listing, the item
-- reads and the status changes of DELE, RSET, QUIT and a session's end.
--
-- A drop is the outbound items whose ToAddress equals the user's address without regard to
-- case, with Status 0, 4, 5 or 6 (other statuses belong to the gateway's own delivery). Its lock
-- is the MailDropLocks row of the lower-cased address: while a session holds it, the drop's
-- waiting items are the session's without a write to any of them. An item carries the
-- session's SessionID only once the session marks it (5 or 6 by DELE, 4 again by RSET), so that
-- the removal at QUIT and the release find exactly the session's marks. Items of status 5 and 6
-- are hidden from the item reads.
--
-- A log-in therefore writes the lock row and nothing else, and a release deletes it and resets
-- the marks, if any: the cost of a session no longer grows with the size of its drop.
--
-- A drop's statuses are tested as two lists of two: SQLite builds a lookup table for a list of
-- more constants on every run of the statement, and compares with two at once.
--
-- A procedure marked "@durability normal" commits without waiting for the disk (synchronous
-- NORMAL in WAL mode): the lock, the listing and the release. A power loss may undo such a
-- commit; the drop then looks locked until its lock is stale, or released items come back to
-- a session that is gone, so that a message may be delivered twice but is never lost. Every
-- other procedure that writes is on the disk when it returns, above all the marks and removals
-- that make up a deletion, and its sync of the log also carries the relaxed commits before it.

-- @procedure SMS_GetP3UserDetails
SELECT RecID, UserID, UserName, DisplayName, Alias, Description, Email, Mobile, Department,
       LogonName, UserPassword, POP3User, HTTPUser, Administrator, AcctDisabled, UserType
  FROM Users
 WHERE LogonName = :LogonName COLLATE NOCASE AND POP3User <> 0
 ORDER BY RecID;

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
-- @durability normal
SELECT raise_error('Mail drop ' || :EmailAddress || ' is locked by session ' || l.SessionID)
  FROM MailDropLocks AS l
 WHERE l.Address = lower(:EmailAddress) AND l.SessionID <> :SessionID
   AND l.LockTime > unixepoch() - 900
   AND (l.InstanceID IS NULL
        OR EXISTS (SELECT 1 FROM P3Instances AS i
                    WHERE i.InstanceID = l.InstanceID AND i.Heartbeat > unixepoch() - 60))
   AND l.Serving <> 0;
INSERT INTO MailDropLocks (Address, SessionID, LockTime, InstanceID, Serving)
VALUES (lower(:EmailAddress), :SessionID, unixepoch(), :InstanceID,
        EXISTS (SELECT 1 FROM GatewayItems
                 WHERE ToAddress = :EmailAddress COLLATE NOCASE AND Direction = 'O'
                   AND (Status IN (0, 4) OR Status IN (5, 6))))
    ON CONFLICT (Address) DO UPDATE SET SessionID = excluded.SessionID,
                                        LockTime = excluded.LockTime,
                                        InstanceID = excluded.InstanceID,
                                        Serving = excluded.Serving;
-- Only marked items can need it; their index spares the reading of the others. There are
-- seldom any (a session that died), so the guard looks for any marked item of the drop first:
-- every row the UPDATE changes is one of those, so the guard never skips a needed UPDATE.
-- @guard
SELECT 1 FROM GatewayItems INDEXED BY GatewayItems_Marked
 WHERE ToAddress = :EmailAddress COLLATE NOCASE AND (Status <> 0 OR SessionID IS NOT NULL)
   AND Direction = 'O' AND (Status IN (0, 4) OR Status IN (5, 6))
 LIMIT 1;
UPDATE GatewayItems INDEXED BY GatewayItems_Marked SET Status = 0, SessionID = NULL
 WHERE ToAddress = :EmailAddress COLLATE NOCASE AND (Status <> 0 OR SessionID IS NOT NULL)
   AND Direction = 'O' AND (Status IN (0, 4) OR Status IN (5, 6))
   AND (SessionID <> :SessionID OR (SessionID IS NULL AND Status <> 0));
SELECT Version FROM MailDropVersions WHERE Address = lower(:EmailAddress);

-- @procedure SMS_GetP3MailDrop
-- Only the lock holder may list: the drop's items that are waiting or that the session put
-- back with RSET, in storage order, including those that arrived since the lock. A holder that
-- found the drop empty and now lists items serves them from here on, so its lock starts to
-- stand in the way. Nothing else is written. Each row carries the item's digest as
-- SMS_GetP3DropDigests gives it, and the drop's version as SMS_GetP3DropChanges gives it: while
-- the version stays the same, so do the items and their digests.
-- @durability normal
SELECT raise_error('Session ' || :SessionID || ' does not hold the lock on mail drop '
                   || :EmailAddress)
 WHERE NOT EXISTS (SELECT 1 FROM MailDropLocks
                    WHERE Address = lower(:EmailAddress) AND SessionID = :SessionID);
UPDATE MailDropLocks SET Serving = 1
 WHERE Address = lower(:EmailAddress) AND SessionID = :SessionID AND Serving = 0
   AND EXISTS (SELECT 1 FROM GatewayItems
                WHERE ToAddress = :EmailAddress COLLATE NOCASE AND Direction = 'O'
                  AND Status IN (0, 4));
SELECT GWQID, FieldsDigest AS Digest,
       (SELECT Version FROM MailDropVersions WHERE Address = lower(:EmailAddress)) AS Changes
  FROM GatewayItems
 WHERE ToAddress = :EmailAddress COLLATE NOCASE AND Direction = 'O' AND Status IN (0, 4)
   AND (SessionID IS NULL OR SessionID = :SessionID)
 ORDER BY GWQID;

-- @procedure SMS_GetP3MailItem
SELECT i.GWQID, i.MessageID, i.DTReceived, i.Subject, i.Content, i.FromName, i.FromAddress,
       i.ToAddress, b.Body
  FROM GatewayItems AS i LEFT JOIN GatewayBodies AS b ON b.GWQID = i.GWQID
 WHERE i.GWQID = :GWQID AND i.Status NOT IN (5, 6);

-- @procedure SMS_GetP3MailItemUpTo
-- SMS_GetP3MailItem for a reader that takes a long body a piece at a time: the body comes only
-- when its stored length is at most BodyUpTo, and BodyLeft says that one was left behind. The
-- CASE reads the body only when it is taken, and typeof() looks at the value's type alone.
SELECT i.GWQID, i.MessageID, i.DTReceived, i.Subject, i.Content, i.FromName, i.FromAddress,
       i.ToAddress, CASE WHEN i.BodyLength <= :BodyUpTo THEN b.Body END AS Body,
       i.BodyLength > :BodyUpTo AND typeof(b.Body) <> 'null' AS BodyLeft
  FROM GatewayItems AS i LEFT JOIN GatewayBodies AS b ON b.GWQID = i.GWQID
 WHERE i.GWQID = :GWQID AND i.Status NOT IN (5, 6);

-- @procedure SMS_GetP3BodyPiece
-- Count characters of an item's body from the Start-th, for an engine without ranged reads of
-- its own; the server reads the embedded database's bodies in place instead.
SELECT substr(Body, :Start, :Count) AS Piece FROM GatewayBodies WHERE GWQID = :GWQID;

-- @procedure SMS_GetP3ItemStats
SELECT GWQID, MessageID, DTReceived, Subject, Content, FromName, FromAddress, ToAddress,
       BodyLength
  FROM GatewayItems
 WHERE GWQID = :GWQID AND Status NOT IN (5, 6);

-- @procedure SMS_SetP3ItemsStatus
-- ClearItems 0 (RSET) gives the items the session marked the status; any other value releases
-- them: they leave the session with the status, and the session's lock on the drop ends. Only
-- marked rows carry the session, found through the session index; the others were never
-- written.
-- @durability normal
-- @guard
SELECT 1 FROM GatewayItems WHERE SessionID = :SessionID LIMIT 1;
UPDATE GatewayItems
   SET Status = :Status,
       SessionID = CASE WHEN coalesce(:ClearItems, 0) = 0 THEN SessionID END
 WHERE SessionID = :SessionID;
DELETE FROM MailDropLocks WHERE SessionID = :SessionID AND coalesce(:ClearItems, 0) <> 0;

-- @procedure SMS_RemoveP3Items
DELETE FROM GatewayItems WHERE SessionID = :SessionID AND Status IN (5, 6);

-- @procedure SMS_UpdateP3ItemStatus
-- A mark belongs to the session that holds the item's drop, so that its removal at QUIT and
-- its release find it; an item of no locked drop keeps whatever session it had.
UPDATE GatewayItems
   SET Status = :Status,
       SessionID = coalesce((SELECT l.SessionID FROM MailDropLocks AS l
                              WHERE l.Address = lower(GatewayItems.ToAddress)), SessionID)
 WHERE GWQID = :ItemID;

-- @procedure SMS_GetP3DropStats
-- The listing fields of many items in one call: ItemIDs is a comma-separated list of GWQIDs (a
-- session's message list). Each listed item gives exactly the row SMS_GetP3ItemStats gives for
-- it, and none when that gives none: a removed item, or one marked 5 or 6 by whichever session
-- holds it now, is left out. Rows come in GWQID order. Digest is SMS_GetP3DropDigests's.
SELECT GWQID, MessageID, DTReceived, Subject, Content, FromName, FromAddress, ToAddress,
       BodyLength,
       coalesce(FieldsDigest,
                fields_digest(MessageID, DTReceived, Subject, Content, FromName, FromAddress,
                              ToAddress, BodyLength)) AS Digest
  FROM GatewayItems
 WHERE GWQID IN (SELECT value FROM json_each('[' || :ItemIDs || ']')) AND Status NOT IN (5, 6)
 ORDER BY GWQID;

-- @procedure SMS_GetP3DropDigests
-- Each item of the drop that SMS_GetP3ItemStats shows, by GWQID in storage order, with the
-- digest of its other fields as SMS_GetP3DropStats gives it: a listing that has worked an item
-- out before checks with it that the item is there and its fields unchanged without reading
-- them. It reads the drop's index alone, so the digest is the one stored with the item, null
-- where none is (SMS_GetP3DropStats computes it then).
SELECT GWQID, FieldsDigest AS Digest
  FROM GatewayItems
 WHERE ToAddress = :EmailAddress COLLATE NOCASE AND Direction = 'O' AND Status NOT IN (5, 6)
 ORDER BY GWQID;

-- @procedure SMS_GetP3DropChanges
-- The drop's version, which every arrival, change and removal of one of its items raises (the
-- triggers on the items keep it); no row when the session does not hold the lock.
SELECT v.Version AS Changes
  FROM MailDropLocks AS l JOIN MailDropVersions AS v ON v.Address = l.Address
 WHERE l.Address = lower(:EmailAddress) AND l.SessionID = :SessionID;

-- @procedure SMS_BeatP3Instance
-- A server process's heartbeat, and its registration at the first beat: the row is made when
-- it is missing (its start, or a row removed while the process lived) and its time renewed
-- otherwise. Rows of processes that have not beaten for a day are cleared away on the way: they
-- died without their orderly stop, and their locks are stale long since. A lost heartbeat is
-- renewed by the next.
-- @durability normal
DELETE FROM P3Instances WHERE Heartbeat < unixepoch() - 86400;
INSERT INTO P3Instances (InstanceID, HostName, ProcessID, StartTime, Heartbeat)
VALUES (:InstanceID, :HostName, :ProcessID, unixepoch(), unixepoch())
    ON CONFLICT (InstanceID) DO UPDATE SET Heartbeat = excluded.Heartbeat;

-- @procedure SMS_RemoveP3Instance
-- A server process's orderly stop. Locks its sessions still hold are stale from now on.
DELETE FROM P3Instances WHERE InstanceID = :InstanceID;
