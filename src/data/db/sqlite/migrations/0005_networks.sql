-- Schema version 5: the mobile networks that messages are routed to, the number prefixes that
-- map a number to its network, and the cost bands of each network and direction. Adds tables
-- only and refers to no table of another step, so it applies to an existing database in place.
--
-- Identifiers are small integers (1 to 32767), as the suite's programs pass them; a row written
-- without one gets the next free number. There is no table of countries: a country is the text
-- that networks give, and the list of countries is the distinct Country values of the networks,
-- so that a country is never listed without a network or missing for one.

-- One row per network.
CREATE TABLE Networks (
  NetworkID   INTEGER PRIMARY KEY CHECK (NetworkID BETWEEN 1 AND 32767),
  NetworkName TEXT NOT NULL CHECK (NetworkName <> ''),
  Country     TEXT
);

-- The leading digits of the numbers of a network ("+4790"), each prefix once. LocalNetwork: 0
-- the numbers are on a foreign network, any other value on the local one. A network's prefixes
-- go with it.
CREATE TABLE Prefixes (
  PrefixID     INTEGER PRIMARY KEY CHECK (PrefixID BETWEEN 1 AND 32767),
  Prefix       TEXT NOT NULL UNIQUE CHECK (Prefix <> ''),
  NetworkID    INTEGER NOT NULL REFERENCES Networks (NetworkID) ON DELETE CASCADE,
  LocalNetwork INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX Prefixes_Network ON Prefixes (NetworkID);

-- What a message costs on a network in one direction ("I" inbound, "O" outbound) during a band
-- of the local time of day. StartTime and EndTime are "HH:MM:SS"; the band starts at StartTime
-- and ends before EndTime, and one whose EndTime is not after its StartTime runs past midnight
-- (equal times: the whole day). CostValue is money to four decimals. Enabled: 0 the band is not
-- in use, any other value it is. A network's bands go with it.
CREATE TABLE Costs (
  CostID    INTEGER PRIMARY KEY CHECK (CostID BETWEEN 1 AND 32767),
  CostName  TEXT NOT NULL,
  StartTime TEXT NOT NULL CHECK (time(StartTime) IS StartTime),
  EndTime   TEXT NOT NULL CHECK (time(EndTime) IS EndTime),
  CostValue REAL NOT NULL DEFAULT 0,
  NetworkID INTEGER NOT NULL REFERENCES Networks (NetworkID) ON DELETE CASCADE,
  Direction TEXT NOT NULL CHECK (Direction IN ('I', 'O')),
  Enabled   INTEGER NOT NULL DEFAULT 1
);
CREATE INDEX Costs_Network ON Costs (NetworkID, Direction);
