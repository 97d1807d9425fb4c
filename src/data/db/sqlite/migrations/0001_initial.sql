-- Schema version 1: the users, the gateway queue with the state of the POP3 mail drops, and the
-- mail-drop locks.

-- One row per user of the suite (POP3, HTTP and administrative users alike).
CREATE TABLE Users (
  RecID         INTEGER PRIMARY KEY,
  UserID        TEXT NOT NULL,                -- 32 hexadecimal digits, part of the password digest
  UserName      TEXT,
  DisplayName   TEXT,
  Alias         TEXT,
  Description   TEXT,
  Email         TEXT,                         -- address of the user's mail drop
  Mobile        TEXT,
  Department    TEXT,
  LogonName     TEXT,
  UserPassword  TEXT,                         -- the password digest
  POP3User      INTEGER NOT NULL DEFAULT 0,
  HTTPUser      INTEGER NOT NULL DEFAULT 0,
  Administrator INTEGER NOT NULL DEFAULT 0,
  AcctDisabled  INTEGER NOT NULL DEFAULT 0,   -- 1: the account may not log in
  UserType      INTEGER NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX Users_UserID ON Users (UserID);
CREATE INDEX Users_LogonName ON Users (LogonName COLLATE NOCASE);

-- The gateway queue. Outbound items ("O") wait here for their recipients; those addressed to a
-- user's e-mail address form that user's POP3 mail drop. GWQID values are never reused, so a
-- session's list never points at an item stored after it was made.
CREATE TABLE GatewayItems (
  GWQID       INTEGER PRIMARY KEY AUTOINCREMENT,
  DTReceived  TEXT,                           -- as the writer gave it (mail date form)
  Source      TEXT,
  MessageID   TEXT,
  Content     TEXT,                           -- content type line(s) of the body
  FromAddress TEXT,
  FromName    TEXT,
  ToAddress   TEXT NOT NULL,
  Subject     TEXT,
  -- Octets the body takes on the POP3 wire (Windows-1252, one "?" per character the code page
  -- lacks), stored when the item is written so that listing a drop never reads the bodies.
  BodyLength  INTEGER NOT NULL DEFAULT 0,
  Direction   TEXT NOT NULL,                  -- "I" inbound, "O" outbound
  RawData     TEXT,
  Transport   INTEGER,
  DTQueued    TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP,  -- UTC, when the item was stored
  -- Mail-drop state: 0 waiting, 4 listed by the session in SessionID, 5 deleted by that session,
  -- 6 deleted by that session after retrieval. 5 and 6 are removed when the session quits.
  Status      INTEGER NOT NULL DEFAULT 0,
  SessionID   TEXT
);
-- The body of each item, apart from the item's row: the mail-drop state changes (a lock, a
-- listing, every DELE) rewrite item rows, and a body inside the row would be rewritten with
-- them, overflow pages and all.
CREATE TABLE GatewayBodies (
  GWQID INTEGER PRIMARY KEY REFERENCES GatewayItems (GWQID) ON DELETE CASCADE,
  Body  TEXT
);

CREATE INDEX GatewayItems_Drop ON GatewayItems (ToAddress COLLATE NOCASE, Direction);
CREATE INDEX GatewayItems_Session ON GatewayItems (SessionID) WHERE SessionID IS NOT NULL;

-- The lock of a mail drop: at most one session serves a drop at a time, across every server
-- process that shares the database. A lock older than 15 minutes is stale (sessions end after
-- ten) and the next session takes it over.
CREATE TABLE MailDropLocks (
  Address   TEXT PRIMARY KEY,                 -- the drop's e-mail address in lower case
  SessionID TEXT NOT NULL,
  LockTime  INTEGER NOT NULL                  -- seconds since 1970-01-01 UTC
) WITHOUT ROWID;
CREATE INDEX MailDropLocks_Session ON MailDropLocks (SessionID);
