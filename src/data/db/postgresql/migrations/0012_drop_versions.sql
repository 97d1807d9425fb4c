-- Schema version 12: each mail drop has a version, a number that every arrival, change and
-- removal of one of its outbound items raises. A listing taken under a version stands, item for
-- item and digest for digest, for as long as the drop's version is the same: a server that has
-- listed a drop once lists it again from memory while the version it locks the drop under is
-- the one it listed it under, and a session that has listed its drop learns from the version
-- alone that nothing it listed has changed or gone.
--
-- The version replaces the lock's count of changes, which covered changes alone and only while
-- a lock stood. A drop's row is made with a random version at the drop's first item and is never
-- deleted, so that a drop whose row was lost by other means starts again from a version that no
-- server remembers; 2^61 leaves room to count up without overflow. The versions are raised once
-- per statement, over the rows it changed, in address order, so that two statements that change
-- items of the same drops take their version rows in the same order.
CREATE TABLE MailDropVersions (
  Address text PRIMARY KEY,  -- lower-cased, as the lock's
  Version bigint NOT NULL
);

DROP TRIGGER GatewayItems_DropChangedByUpdate ON GatewayItems;
DROP TRIGGER GatewayItems_DropChangedByDelete ON GatewayItems;
DROP FUNCTION count_drop_changes();
ALTER TABLE MailDropLocks DROP COLUMN Changes;

-- Raises the versions of the drops of `addresses` (as stored, any case), once each.
CREATE FUNCTION raise_drop_versions_of(addresses text[]) RETURNS void LANGUAGE sql AS $$
  INSERT INTO MailDropVersions AS v (Address, Version)
  SELECT d.Address, floor(random() * 2305843009213693952)::bigint
    FROM (SELECT DISTINCT lower(a) AS Address FROM unnest(addresses) AS a
           WHERE a IS NOT NULL) AS d
   ORDER BY d.Address
      ON CONFLICT (Address) DO UPDATE SET Version = v.Version + 1;
$$;

SELECT raise_drop_versions_of(ARRAY(SELECT DISTINCT ToAddress FROM GatewayItems
                                     WHERE Direction = 'O'));

-- An item that moves to another drop (its address or direction changed) raises both.
CREATE FUNCTION raise_drop_versions() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  IF TG_OP = 'INSERT' THEN
    PERFORM raise_drop_versions_of(ARRAY(SELECT ToAddress FROM new_items WHERE Direction = 'O'));
  ELSIF TG_OP = 'DELETE' THEN
    PERFORM raise_drop_versions_of(ARRAY(SELECT ToAddress FROM old_items WHERE Direction = 'O'));
  ELSE
    PERFORM raise_drop_versions_of(ARRAY(SELECT ToAddress FROM old_items WHERE Direction = 'O'
                                         UNION ALL
                                         SELECT ToAddress FROM new_items WHERE Direction = 'O'));
  END IF;
  RETURN NULL;
END;
$$;

CREATE TRIGGER GatewayItems_DropVersionByInsert AFTER INSERT ON GatewayItems
  REFERENCING NEW TABLE AS new_items
  FOR EACH STATEMENT EXECUTE FUNCTION raise_drop_versions();
CREATE TRIGGER GatewayItems_DropVersionByUpdate AFTER UPDATE ON GatewayItems
  REFERENCING OLD TABLE AS old_items NEW TABLE AS new_items
  FOR EACH STATEMENT EXECUTE FUNCTION raise_drop_versions();
CREATE TRIGGER GatewayItems_DropVersionByDelete AFTER DELETE ON GatewayItems
  REFERENCING OLD TABLE AS old_items
  FOR EACH STATEMENT EXECUTE FUNCTION raise_drop_versions();
