-- Schema version 9: three aids to a log-in's reading of its drop. None changes what any
-- procedure returns.
--
-- The drop's index carries, in storage order, what the lock and the listings ask of each item
-- (its status, session and digest, below): they read the index alone, not each item's row.
ALTER TABLE GatewayItems ADD COLUMN FieldsDigest INTEGER;
DROP INDEX GatewayItems_Drop;
CREATE INDEX GatewayItems_Drop ON GatewayItems (ToAddress COLLATE NOCASE, Direction, GWQID, Status,
                                                SessionID, FieldsDigest);
--
-- The items that carry a mark (a status other than waiting, or a session) have an index of their
-- own. A lock undoes the marks that a session which is gone left on its drop; through this index
-- it finds that there are none without reading every item of the drop.
CREATE INDEX GatewayItems_Marked ON GatewayItems (ToAddress COLLATE NOCASE)
 WHERE Status <> 0 OR SessionID IS NOT NULL;

-- Each item keeps the digest of its listed fields, fields_digest() over them as the listings
-- compute it, from when it was stored: a listing then reads one number per item instead of
-- eight fields. A change to any listed field clears it, and the listings compute it from the
-- fields again, as they do for a row stored by other means than the procedures (digest null).
CREATE TRIGGER GatewayItems_FieldsChanged
 AFTER UPDATE OF MessageID, DTReceived, Subject, Content, FromName, FromAddress, ToAddress,
                 BodyLength ON GatewayItems
 WHEN NEW.FieldsDigest IS NOT NULL
BEGIN
  UPDATE GatewayItems SET FieldsDigest = NULL WHERE GWQID = NEW.GWQID;
END;
-- Only the items that mail drops can list: the others would be rewritten for nothing.
UPDATE GatewayItems
   SET FieldsDigest = fields_digest(MessageID, DTReceived, Subject, Content, FromName,
                                    FromAddress, ToAddress, BodyLength)
 WHERE Direction = 'O' AND Status IN (0, 4, 5, 6);
