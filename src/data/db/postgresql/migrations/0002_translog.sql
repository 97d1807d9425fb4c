-- Schema version 2: the transaction log, one record per message that passed through the suite,
-- and the named extension items that other parts of the suite attach to a message. Adds tables
-- only, so an existing database keeps its users and items as they are.

CREATE TABLE TransLog (
  ItemID      bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  TransDT     text COLLATE "C" NOT NULL,      -- "YYYY-MM-DD HH:MM:SS", local time
  MessageID   text COLLATE "C",
  ParentID    text COLLATE "C",
  Content     text COLLATE "C",               -- "Unicode": Body holds the text's 16-bit codes
  MessageType integer,
  FromAddress text COLLATE "C",
  FromName    text COLLATE "C",
  ToAddress   text COLLATE "C",
  ToName      text COLLATE "C",
  Subject     text COLLATE "C",               -- hexadecimal ciphertext when Encrypted is 1
  Body        text COLLATE "C",               -- likewise
  Direction   text COLLATE "C",               -- "I" inbound, "O" outbound
  Network     text COLLATE "C",
  Cost        double precision NOT NULL DEFAULT 0,
  Type        integer,
  Status      integer NOT NULL DEFAULT 0,
  StatusDT    text COLLATE "C",               -- when the status last changed, if it did
  Encrypted   integer NOT NULL DEFAULT 0,
  Department  text COLLATE "C"
);
CREATE INDEX TransLog_Message ON TransLog (MessageID, Direction);
CREATE INDEX TransLog_Time ON TransLog (TransDT);

CREATE TABLE TransLogExtItems (
  MessageID text COLLATE "C" NOT NULL,
  ItemName  text COLLATE "C" NOT NULL,        -- "TransLogExt." followed by the item's name
  ItemData  text COLLATE "C",
  PRIMARY KEY (MessageID, ItemName)
);
