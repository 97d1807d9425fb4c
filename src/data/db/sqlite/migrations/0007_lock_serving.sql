-- Schema version 7: a drop's items no longer carry the session that serves them while it only
-- lists them; the lock row says whether its holder serves anything, which is what decides
-- whether the lock stands in another session's way. Items keep their SessionID only when a
-- session marks them (DELE, RSET), so a log-in writes one lock row instead of every item row.
--
-- Existing locks serve something when their holder claimed items under the old scheme.
ALTER TABLE MailDropLocks ADD COLUMN Serving INTEGER NOT NULL DEFAULT 1;
UPDATE MailDropLocks
   SET Serving = EXISTS (SELECT 1 FROM GatewayItems AS g WHERE g.SessionID = MailDropLocks.SessionID);
