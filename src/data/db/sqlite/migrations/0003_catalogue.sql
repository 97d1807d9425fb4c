-- Schema version 3: the configuration items, the database's own version row, the counters and
-- message identifiers of the network message queue, the event log and the ACL network lists.
-- Nothing here refers to a table of another migration, so this step applies on its own.

-- The suite's configuration: one text value per category and name.
CREATE TABLE Configuration (
  ConfID    INTEGER PRIMARY KEY,
  ConfCat   TEXT NOT NULL,
  ConfName  TEXT NOT NULL,
  ConfValue TEXT,
  UNIQUE (ConfCat, ConfName)
);

-- The release the schema belongs to; exactly one row, which the suite's programs read to learn
-- whether they understand this database (2, 3, 1 for release 2.3.1).
CREATE TABLE Version (
  Release  TEXT NOT NULL,
  Version  TEXT NOT NULL,
  Revision TEXT NOT NULL
);
INSERT INTO Version (Release, Version, Revision) VALUES ('2', '3', '1');

-- The rolling counter (0 to 999) of each target address of the network message queue.
CREATE TABLE NMQCounters (
  TargetAddress TEXT PRIMARY KEY COLLATE NOCASE,
  Counter       INTEGER NOT NULL
) WITHOUT ROWID;

-- The message identifier sent under each counter value of a target address, so that a reply
-- that quotes the counter finds its message.
CREATE TABLE NMQMessageIDs (
  TargetAddress TEXT NOT NULL COLLATE NOCASE,
  Counter       INTEGER NOT NULL,
  MessageID     TEXT,
  PRIMARY KEY (TargetAddress, Counter)
) WITHOUT ROWID;

-- The suite's event log.
CREATE TABLE EventLog (
  EventID   INTEGER PRIMARY KEY,
  EventDT   TEXT NOT NULL,                    -- "YYYY-MM-DD HH:MM:SS", the writer's local time
  EventType INTEGER,
  Source    TEXT,
  Event     TEXT
);
CREATE INDEX EventLog_EventDT ON EventLog (EventDT);

-- Networks of the access-control lists; a list is named like a configuration item, by category
-- and name. Network is an address or a network in CIDR form ("192.0.2.0/24").
CREATE TABLE ACLNetworks (
  ACLID    INTEGER PRIMARY KEY,
  ConfCat  TEXT NOT NULL,
  ConfName TEXT NOT NULL,
  Network  TEXT NOT NULL,
  UNIQUE (ConfCat, ConfName, Network)
);
