-- Networks, the number prefixes that map numbers to them, their cost bands, and the list of all
-- ACL networks. A write whose ID is 0 or empty adds a row under the next free ID; any other ID
-- writes the row of that ID, changing the one stored there.
--
-- The next free ID is one above the highest in use. Each write locks its table against other
-- writers (readers go on) until its call ends, so that two writers adding at once never count
-- the same ID, which would make the second one change the first one's new row.

-- @procedure SMS_GetPrefixes
-- Every prefix with its network, in the order of the prefixes.
CREATE OR REPLACE FUNCTION "SMS_GetPrefixes"()
RETURNS TABLE ("PrefixID" integer, "Prefix" text, "NetworkID" integer, "LocalNetwork" integer,
               "NetworkName" text, "Country" text)
LANGUAGE sql STABLE AS $$
  SELECT p.PrefixID, p.Prefix, p.NetworkID, p.LocalNetwork, n.NetworkName, n.Country
    FROM Prefixes AS p JOIN Networks AS n ON n.NetworkID = p.NetworkID
   ORDER BY p.Prefix;
$$;

-- @procedure SMS_GetCosts
-- The cost bands of one direction, or of both when Direction is empty, with their network's
-- name, by network and start time.
CREATE OR REPLACE FUNCTION "SMS_GetCosts"("@Direction" text)
RETURNS TABLE ("CostID" integer, "CostName" text, "StartTime" text, "EndTime" text,
               "CostValue" numeric, "NetworkID" integer, "NetworkName" text, "Direction" text,
               "Enabled" integer)
LANGUAGE sql STABLE AS $$
  SELECT c.CostID, c.CostName, c.StartTime, c.EndTime, c.CostValue, c.NetworkID, n.NetworkName,
         c.Direction, c.Enabled
    FROM Costs AS c JOIN Networks AS n ON n.NetworkID = c.NetworkID
   WHERE coalesce("@Direction", '') = '' OR c.Direction = "@Direction"
   ORDER BY c.NetworkID, c.Direction, c.StartTime, c.CostID;
$$;

-- @procedure SMS_GetNetworkList
-- The networks to choose from: ID and name, by name.
CREATE OR REPLACE FUNCTION "SMS_GetNetworkList"()
RETURNS TABLE ("NetworkID" integer, "NetworkName" text)
LANGUAGE sql STABLE AS $$
  SELECT NetworkID, NetworkName FROM Networks ORDER BY NetworkName, NetworkID;
$$;

-- @procedure SMS_GetNetworks
-- Every network with its country and how many prefixes it has, by country (networks without
-- one first) and name.
CREATE OR REPLACE FUNCTION "SMS_GetNetworks"()
RETURNS TABLE ("NetworkID" integer, "NetworkName" text, "Country" text, "PrefixCount" bigint)
LANGUAGE sql STABLE AS $$
  SELECT n.NetworkID, n.NetworkName, n.Country,
         (SELECT count(*) FROM Prefixes AS p WHERE p.NetworkID = n.NetworkID)
    FROM Networks AS n
   ORDER BY n.Country NULLS FIRST, n.NetworkName, n.NetworkID;
$$;

-- @procedure SMS_GetCountries
-- The countries that networks name, each once.
CREATE OR REPLACE FUNCTION "SMS_GetCountries"()
RETURNS TABLE ("Country" text)
LANGUAGE sql STABLE AS $$
  SELECT DISTINCT Country FROM Networks WHERE coalesce(Country, '') <> '' ORDER BY Country;
$$;

-- @procedure SMS_WriteNetwork
-- Adds a network or changes its name and country.
CREATE OR REPLACE FUNCTION "SMS_WriteNetwork"("@NetworkID" integer, "@NetworkName" text,
                                              "@Country" text)
RETURNS void LANGUAGE plpgsql AS $$
BEGIN
  LOCK TABLE Networks IN SHARE ROW EXCLUSIVE MODE;
  INSERT INTO Networks (NetworkID, NetworkName, Country)
  VALUES (coalesce(nullif("@NetworkID", 0),
                   (SELECT coalesce(max(NetworkID), 0) + 1 FROM Networks)),
          "@NetworkName", "@Country")
      ON CONFLICT (NetworkID) DO UPDATE SET NetworkName = excluded.NetworkName,
                                            Country = excluded.Country;
END;
$$;

-- @procedure SMS_DeleteNetwork
-- Deletes a network; its prefixes and cost bands go with it.
CREATE OR REPLACE FUNCTION "SMS_DeleteNetwork"("@NetworkID" integer)
RETURNS void LANGUAGE sql AS $$
  DELETE FROM Networks WHERE NetworkID = "@NetworkID";
$$;

-- @procedure SMS_WritePrefix
-- Adds a prefix or changes it; a prefix that another row already holds is refused.
CREATE OR REPLACE FUNCTION "SMS_WritePrefix"("@PrefixID" integer, "@Prefix" text,
                                             "@NetworkID" integer, "@LocalNetwork" integer)
RETURNS void LANGUAGE plpgsql AS $$
BEGIN
  LOCK TABLE Prefixes IN SHARE ROW EXCLUSIVE MODE;
  INSERT INTO Prefixes (PrefixID, Prefix, NetworkID, LocalNetwork)
  VALUES (coalesce(nullif("@PrefixID", 0),
                   (SELECT coalesce(max(PrefixID), 0) + 1 FROM Prefixes)),
          "@Prefix", "@NetworkID", coalesce("@LocalNetwork", 0))
      ON CONFLICT (PrefixID) DO UPDATE SET Prefix = excluded.Prefix,
                                           NetworkID = excluded.NetworkID,
                                           LocalNetwork = excluded.LocalNetwork;
END;
$$;

-- @procedure SMS_DeletePrefix
-- Deletes a prefix.
CREATE OR REPLACE FUNCTION "SMS_DeletePrefix"("@PrefixID" integer)
RETURNS void LANGUAGE sql AS $$
  DELETE FROM Prefixes WHERE PrefixID = "@PrefixID";
$$;

-- @procedure SMS_GetPrefix
-- The row of exactly this prefix, with its network.
CREATE OR REPLACE FUNCTION "SMS_GetPrefix"("@Prefix" text)
RETURNS TABLE ("PrefixID" integer, "Prefix" text, "NetworkID" integer, "LocalNetwork" integer,
               "NetworkName" text, "Country" text)
LANGUAGE sql STABLE AS $$
  SELECT p.PrefixID, p.Prefix, p.NetworkID, p.LocalNetwork, n.NetworkName, n.Country
    FROM Prefixes AS p JOIN Networks AS n ON n.NetworkID = p.NetworkID
   WHERE p.Prefix = "@Prefix";
$$;

-- @procedure SMS_WriteCost
-- Adds a cost band or changes it; a band without an Enabled value is not in use.
CREATE OR REPLACE FUNCTION "SMS_WriteCost"(
    "@CostID" integer, "@CostName" text, "@StartTime" text, "@EndTime" text,
    "@CostValue" numeric, "@NetworkID" integer, "@Direction" text, "@Enabled" integer)
RETURNS void LANGUAGE plpgsql AS $$
BEGIN
  LOCK TABLE Costs IN SHARE ROW EXCLUSIVE MODE;
  INSERT INTO Costs (CostID, CostName, StartTime, EndTime, CostValue, NetworkID, Direction,
                     Enabled)
  VALUES (coalesce(nullif("@CostID", 0), (SELECT coalesce(max(CostID), 0) + 1 FROM Costs)),
          "@CostName", "@StartTime", "@EndTime", coalesce("@CostValue", 0), "@NetworkID",
          "@Direction", coalesce("@Enabled", 0))
      ON CONFLICT (CostID) DO UPDATE SET CostName = excluded.CostName,
                                         StartTime = excluded.StartTime,
                                         EndTime = excluded.EndTime,
                                         CostValue = excluded.CostValue,
                                         NetworkID = excluded.NetworkID,
                                         Direction = excluded.Direction,
                                         Enabled = excluded.Enabled;
END;
$$;

-- @procedure SMS_DeleteCost
-- Deletes a cost band.
CREATE OR REPLACE FUNCTION "SMS_DeleteCost"("@CostID" integer)
RETURNS void LANGUAGE sql AS $$
  DELETE FROM Costs WHERE CostID = "@CostID";
$$;

-- @procedure SMS_GetACLNetworks
-- The networks of every access-control list, list by list.
CREATE OR REPLACE FUNCTION "SMS_GetACLNetworks"()
RETURNS TABLE ("ACLID" bigint, "ConfCat" text, "ConfName" text, "Network" text)
LANGUAGE sql STABLE AS $$
  SELECT ACLID, ConfCat, ConfName, Network FROM ACLNetworks ORDER BY ConfCat, ConfName, ACLID;
$$;
