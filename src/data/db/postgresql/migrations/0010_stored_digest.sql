-- Schema version 10: each item keeps the digest of its listed fields as a stored generated
-- column, so that a listing reads one number per item instead of hashing eight fields of every
-- item of the drop at every STAT, LIST and UIDL. The database computes it whenever a listed
-- field changes, however the row is written.
--
-- fields_digest: a 64-bit hash of its arguments' texts, each with its length or marked null, so
-- that no two different lists of fields run together into the same text. It lives here rather
-- than with the procedures because the column depends on it; it must never change, or the
-- stored digests would no longer be the ones it gives.
CREATE OR REPLACE FUNCTION fields_digest(VARIADIC fields text[])
RETURNS bigint LANGUAGE sql IMMUTABLE AS $$
  SELECT hashtextextended(string_agg(coalesce(length(f) || ':' || f, '-'), '|' ORDER BY n), 0)
    FROM unnest(fields) WITH ORDINALITY AS u(f, n);
$$;

-- Rewrites the table once, computing the digest of every item.
ALTER TABLE GatewayItems ADD COLUMN FieldsDigest bigint
  GENERATED ALWAYS AS (fields_digest(MessageID, DTReceived, Subject, Content, FromName,
                                     FromAddress, ToAddress, BodyLength::text)) STORED;
