-- Schema version 6: the SMS queue and the segment cache of multipart SMS. Adds tables only and
-- refers to no table of another migration, so an existing database keeps its users and items
-- as they are.
--
-- Directions: "I" inbound (received from the mobile network), "O" outbound (to be sent to it).
-- Status of an item and of a segment:
--   0 waiting   queued; an outbound item goes once its SendDT has come
--   1 sending   handed to its connector, no answer yet
--   2 sent      the connector has taken it
--   3 failed    the last attempt failed (a "dead" item); it stays until it is revived (back to 0)
--               or removed

-- One row per short message. Bodies are short (a few segments of at most 160 characters), so
-- they stay in the row.
CREATE TABLE SMSQueue (
  SMSQID      INTEGER PRIMARY KEY AUTOINCREMENT,
  DTReceived  TEXT NOT NULL,                  -- "YYYY-MM-DD HH:MM:SS" local time; when not
                                              -- given, the time of writing
  Source      TEXT,                           -- the program or connection that queued it
  MessageID   TEXT,
  DataCoding  TEXT,                           -- the data coding scheme as the connector names it
  Content     TEXT,                           -- content type of the body
  FromAddress TEXT,
  FromName    TEXT,
  ToAddress   TEXT,                           -- one or more numbers or addresses
  Subject     TEXT,
  Body        TEXT,
  RawData     TEXT,                           -- the message as the network carried it, if kept
  Direction   TEXT NOT NULL,
  Connector   INTEGER,                        -- the connector that sends or received it
  SendDT      TEXT,                           -- local time: while waiting, not before then
                                              -- (NULL: at once); once sent, when it went
  Status      INTEGER NOT NULL DEFAULT 0,
  LastError   INTEGER,                        -- the connector's error code of the last failed
                                              -- attempt; a status change without one clears it
  StatusDT    TEXT,                           -- local time of the last status change
  DTQueued    TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP  -- UTC, when the row was stored
);
CREATE INDEX SMSQueue_State ON SMSQueue (Direction, Status);

-- The segments of multipart messages. Segments of one message share SegmentHash; they are kept
-- here until all SegmentCount of them are in, and the write of the last one assembles them
-- into one SMSQueue item (SMSQID). Segments whose message never completes stay unlinked and
-- become stale once the message's first segment is older than the reader's time-out.
CREATE TABLE SMSSegmentCache (
  SegCacheID       INTEGER PRIMARY KEY AUTOINCREMENT,
  DTReceived       TEXT NOT NULL,             -- "YYYY-MM-DD HH:MM:SS" local time
  Source           TEXT,
  MessageID        TEXT,
  DataCoding       TEXT,
  Content          TEXT,
  FromAddress      TEXT,
  ToAddress        TEXT,
  SegmentHash      TEXT NOT NULL,             -- 32 characters naming the message (the writer
                                              -- hashes sender, recipient and reference)
  SegmentReference INTEGER,                   -- the reference number of the segments' header
  SegmentCount     INTEGER NOT NULL,          -- segments of the whole message
  SegmentNumber    INTEGER NOT NULL,          -- this segment's place, from 1
  Body             TEXT,
  RawData          TEXT,
  Direction        TEXT NOT NULL,
  Connector        INTEGER,
  Status           INTEGER NOT NULL DEFAULT 0,  -- the codes of the queue, for this segment
  -- The item assembled from the message; NULL while segments are missing. Removing the item
  -- removes its segments.
  SMSQID           INTEGER REFERENCES SMSQueue (SMSQID) ON DELETE CASCADE,
  CHECK (SegmentNumber BETWEEN 1 AND SegmentCount)
);
-- A message still being collected holds each segment number once; a reference number comes
-- round again, so the hash may name a new message after the old one was assembled.
CREATE UNIQUE INDEX SMSSegmentCache_Open ON SMSSegmentCache (SegmentHash, SegmentNumber)
 WHERE SMSQID IS NULL;
CREATE INDEX SMSSegmentCache_Item ON SMSSegmentCache (SMSQID) WHERE SMSQID IS NOT NULL;
