-- Schema version 8: the server processes that serve POP3 from this database, each with its
-- heartbeat, and on every mail-drop lock the process of the session that holds it. A lock whose
-- process has stopped beating is stale within a minute instead of fifteen.

-- One row per running server process. A process takes a new InstanceID at every start, so a
-- restarted server never passes for the one that died. Times are seconds since 1970-01-01 UTC,
-- from the database server's clock, so that processes on several hosts compare alike.
CREATE TABLE P3Instances (
  InstanceID text COLLATE "C" PRIMARY KEY,
  HostName   text,
  ProcessID  bigint,
  StartTime  bigint NOT NULL,
  Heartbeat  bigint NOT NULL
);

-- NULL for a lock taken without a process (rows from before, or callers that register none):
-- only the 15-minute rule makes those stale.
ALTER TABLE MailDropLocks ADD COLUMN InstanceID text COLLATE "C";

-- The lock takes the holder's process as a third parameter: the two-parameter function goes,
-- so that the new one does not stand beside it as an overload.
DROP FUNCTION IF EXISTS "SMS_LockP3MailDrop"(text, text);
