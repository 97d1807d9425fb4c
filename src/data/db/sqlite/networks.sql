-- Networks, the number prefixes that map numbers to them, their cost bands, and the list of all
-- ACL networks. A write whose ID is 0 or empty adds a row under the next free ID; any other ID
-- writes the row of that ID, changing the one stored there.

-- @procedure SMS_GetPrefixes
-- Every prefix with its network, in the order of the prefixes.
SELECT p.PrefixID, p.Prefix, p.NetworkID, p.LocalNetwork, n.NetworkName, n.Country
  FROM Prefixes AS p JOIN Networks AS n ON n.NetworkID = p.NetworkID
 ORDER BY p.Prefix;

-- @procedure SMS_GetCosts
-- The cost bands of one direction, or of both when Direction is empty, with their network's
-- name, by network and start time.
SELECT c.CostID, c.CostName, c.StartTime, c.EndTime, c.CostValue, c.NetworkID, n.NetworkName,
       c.Direction, c.Enabled
  FROM Costs AS c JOIN Networks AS n ON n.NetworkID = c.NetworkID
 WHERE coalesce(:Direction, '') = '' OR c.Direction = :Direction
 ORDER BY c.NetworkID, c.Direction, c.StartTime, c.CostID;

-- @procedure SMS_GetNetworkList
-- The networks to choose from: ID and name, by name.
SELECT NetworkID, NetworkName FROM Networks ORDER BY NetworkName, NetworkID;

-- @procedure SMS_GetNetworks
-- Every network with its country and how many prefixes it has, by country and name.
SELECT n.NetworkID, n.NetworkName, n.Country,
       (SELECT count(*) FROM Prefixes AS p WHERE p.NetworkID = n.NetworkID) AS PrefixCount
  FROM Networks AS n
 ORDER BY n.Country, n.NetworkName, n.NetworkID;

-- @procedure SMS_GetCountries
-- The countries that networks name, each once.
SELECT DISTINCT Country FROM Networks WHERE coalesce(Country, '') <> '' ORDER BY Country;

-- @procedure SMS_WriteNetwork
-- Adds a network or changes its name and country.
INSERT INTO Networks (NetworkID, NetworkName, Country)
VALUES (nullif(:NetworkID, 0), :NetworkName, :Country)
    ON CONFLICT (NetworkID) DO UPDATE SET NetworkName = excluded.NetworkName,
                                          Country = excluded.Country;

-- @procedure SMS_DeleteNetwork
-- Deletes a network; its prefixes and cost bands go with it.
DELETE FROM Networks WHERE NetworkID = :NetworkID;

-- @procedure SMS_WritePrefix
-- Adds a prefix or changes it; a prefix that another row already holds is refused.
INSERT INTO Prefixes (PrefixID, Prefix, NetworkID, LocalNetwork)
VALUES (nullif(:PrefixID, 0), :Prefix, :NetworkID, coalesce(:LocalNetwork, 0))
    ON CONFLICT (PrefixID) DO UPDATE SET Prefix = excluded.Prefix,
                                         NetworkID = excluded.NetworkID,
                                         LocalNetwork = excluded.LocalNetwork;

-- @procedure SMS_DeletePrefix
-- Deletes a prefix.
DELETE FROM Prefixes WHERE PrefixID = :PrefixID;

-- @procedure SMS_GetPrefix
-- The row of exactly this prefix, with its network.
SELECT p.PrefixID, p.Prefix, p.NetworkID, p.LocalNetwork, n.NetworkName, n.Country
  FROM Prefixes AS p JOIN Networks AS n ON n.NetworkID = p.NetworkID
 WHERE p.Prefix = :Prefix;

-- @procedure SMS_WriteCost
-- Adds a cost band or changes it; a band without an Enabled value is not in use.
INSERT INTO Costs (CostID, CostName, StartTime, EndTime, CostValue, NetworkID, Direction, Enabled)
VALUES (nullif(:CostID, 0), :CostName, :StartTime, :EndTime, coalesce(:CostValue, 0), :NetworkID,
        :Direction, coalesce(:Enabled, 0))
    ON CONFLICT (CostID) DO UPDATE SET CostName = excluded.CostName,
                                       StartTime = excluded.StartTime,
                                       EndTime = excluded.EndTime,
                                       CostValue = excluded.CostValue,
                                       NetworkID = excluded.NetworkID,
                                       Direction = excluded.Direction,
                                       Enabled = excluded.Enabled;

-- @procedure SMS_DeleteCost
-- Deletes a cost band.
DELETE FROM Costs WHERE CostID = :CostID;

-- @procedure SMS_GetACLNetworks
-- The networks of every access-control list, list by list.
SELECT ACLID, ConfCat, ConfName, Network FROM ACLNetworks ORDER BY ConfCat, ConfName, ACLID;
