-- Schema version 2: the transaction log, one record per message that passed through the suite,
-- and the named extension items that other parts of the suite attach to a message. Adds tables
-- only, so an existing database keeps its users and items as they are.

CREATE TABLE TransLog (
  ItemID      INTEGER PRIMARY KEY AUTOINCREMENT,
  TransDT     TEXT NOT NULL,                  -- "YYYY-MM-DD HH:MM:SS", local time
  MessageID   TEXT,
  ParentID    TEXT,
  Content     TEXT,                           -- "Unicode": Body holds the text's 16-bit codes
  MessageType INTEGER,
  FromAddress TEXT,
  FromName    TEXT,
  ToAddress   TEXT,
  ToName      TEXT,
  Subject     TEXT,                           -- hexadecimal ciphertext when Encrypted is 1
  Body        TEXT,                           -- likewise
  Direction   TEXT,                           -- "I" inbound, "O" outbound
  Network     TEXT,
  Cost        REAL NOT NULL DEFAULT 0,
  Type        INTEGER,
  Status      INTEGER NOT NULL DEFAULT 0,
  StatusDT    TEXT,                           -- when the status last changed, if it did
  Encrypted   INTEGER NOT NULL DEFAULT 0,
  Department  TEXT
);
CREATE INDEX TransLog_Message ON TransLog (MessageID, Direction);
CREATE INDEX TransLog_Time ON TransLog (TransDT);

CREATE TABLE TransLogExtItems (
  MessageID TEXT NOT NULL,
  ItemName  TEXT NOT NULL,                    -- "TransLogExt." followed by the item's name
  ItemData  TEXT,
  PRIMARY KEY (MessageID, ItemName)
) WITHOUT ROWID;
