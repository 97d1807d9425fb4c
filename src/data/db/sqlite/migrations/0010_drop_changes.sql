-- Schema version 10: each lock counts the changes made to its drop's items while it stands, so
-- that a session that has listed its drop learns from one number that none of the items it
-- listed has changed or gone since, instead of reading every item's digest again.
--
-- Any update or removal of an outbound item counts for the drop it was in. Items that arrive
-- need no count: a session serves only the items it listed. A drop that no lock names costs one
-- look-up of the lock's key that finds nothing.
ALTER TABLE MailDropLocks ADD COLUMN Changes INTEGER NOT NULL DEFAULT 0;
CREATE TRIGGER GatewayItems_DropChangedByUpdate AFTER UPDATE ON GatewayItems
 WHEN OLD.Direction = 'O'
BEGIN
  UPDATE MailDropLocks SET Changes = Changes + 1 WHERE Address = lower(OLD.ToAddress);
END;
CREATE TRIGGER GatewayItems_DropChangedByDelete AFTER DELETE ON GatewayItems
 WHEN OLD.Direction = 'O'
BEGIN
  UPDATE MailDropLocks SET Changes = Changes + 1 WHERE Address = lower(OLD.ToAddress);
END;
