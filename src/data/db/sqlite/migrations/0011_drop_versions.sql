-- Schema version 11: each mail drop has a version, a number that every arrival, change and
-- removal of one of its outbound items raises. A listing taken under a version stands, item for
-- item and digest for digest, for as long as the drop's version is the same: a server that has
-- listed a drop once lists it again from memory while the version it locks the drop under is
-- the one it listed it under, and a session that has listed its drop learns from the version
-- alone that nothing it listed has changed or gone.
--
-- The version replaces the lock's count of changes, which covered changes alone and only while
-- a lock stood. A drop's row is made with a random version at the drop's first item and is never
-- deleted, so that a drop whose row was lost by other means starts again from a version that no
-- server remembers. A quarter of random()'s range leaves room to count up without overflow.
CREATE TABLE MailDropVersions (
  Address TEXT PRIMARY KEY,  -- lower-cased, as the lock's
  Version INTEGER NOT NULL
) WITHOUT ROWID;

DROP TRIGGER GatewayItems_DropChangedByUpdate;
DROP TRIGGER GatewayItems_DropChangedByDelete;
ALTER TABLE MailDropLocks DROP COLUMN Changes;

INSERT INTO MailDropVersions (Address, Version)
SELECT lower(ToAddress), random() >> 2 FROM GatewayItems
 WHERE Direction = 'O' AND ToAddress IS NOT NULL
 GROUP BY lower(ToAddress);

CREATE TRIGGER GatewayItems_DropVersionByInsert AFTER INSERT ON GatewayItems
 WHEN NEW.Direction = 'O' AND NEW.ToAddress IS NOT NULL
BEGIN
  INSERT INTO MailDropVersions (Address, Version) VALUES (lower(NEW.ToAddress), random() >> 2)
      ON CONFLICT (Address) DO UPDATE SET Version = Version + 1;
END;
-- An item that moves to another drop (its address or direction changed) changes both.
CREATE TRIGGER GatewayItems_DropVersionByUpdate AFTER UPDATE ON GatewayItems
 WHEN OLD.Direction = 'O' OR NEW.Direction = 'O'
BEGIN
  INSERT INTO MailDropVersions (Address, Version)
  SELECT lower(OLD.ToAddress), random() >> 2 WHERE OLD.Direction = 'O' AND OLD.ToAddress IS NOT NULL
      ON CONFLICT (Address) DO UPDATE SET Version = Version + 1;
  INSERT INTO MailDropVersions (Address, Version)
  SELECT lower(NEW.ToAddress), random() >> 2
   WHERE NEW.Direction = 'O' AND NEW.ToAddress IS NOT NULL
     AND (OLD.Direction IS NOT 'O' OR lower(OLD.ToAddress) IS NOT lower(NEW.ToAddress))
      ON CONFLICT (Address) DO UPDATE SET Version = Version + 1;
END;
CREATE TRIGGER GatewayItems_DropVersionByDelete AFTER DELETE ON GatewayItems
 WHEN OLD.Direction = 'O' AND OLD.ToAddress IS NOT NULL
BEGIN
  INSERT INTO MailDropVersions (Address, Version) VALUES (lower(OLD.ToAddress), random() >> 2)
      ON CONFLICT (Address) DO UPDATE SET Version = Version + 1;
END;
