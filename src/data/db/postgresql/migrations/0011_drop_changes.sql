-- Schema version 11: each lock counts the changes made to its drop's items while it stands, so
-- that a session that has listed its drop learns from one number that none of the items it
-- listed has changed or gone since, instead of reading every item's digest again.
--
-- Any update or removal of an outbound item counts for the drop it was in. Items that arrive
-- need no count: a session serves only the items it listed. The count is taken once per
-- statement, over the rows it changed, so that a removal of many items rewrites the lock's row
-- once and not once for each.
ALTER TABLE MailDropLocks ADD COLUMN Changes bigint NOT NULL DEFAULT 0;

CREATE FUNCTION count_drop_changes() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  UPDATE MailDropLocks SET Changes = Changes + 1
   WHERE Address IN (SELECT lower(ToAddress) FROM changed_items WHERE Direction = 'O');
  RETURN NULL;
END;
$$;

CREATE TRIGGER GatewayItems_DropChangedByUpdate AFTER UPDATE ON GatewayItems
  REFERENCING OLD TABLE AS changed_items
  FOR EACH STATEMENT EXECUTE FUNCTION count_drop_changes();
CREATE TRIGGER GatewayItems_DropChangedByDelete AFTER DELETE ON GatewayItems
  REFERENCING OLD TABLE AS changed_items
  FOR EACH STATEMENT EXECUTE FUNCTION count_drop_changes();
