-- Schema version 9: the items that carry a mark (a status other than waiting, or a session) have
-- an index of their own. A lock undoes the marks that a session which is gone left on its drop;
-- through this index it finds that there are none without reading every item of the drop.
CREATE INDEX GatewayItems_Marked ON GatewayItems (lower(ToAddress))
 WHERE Status <> 0 OR SessionID IS NOT NULL;
