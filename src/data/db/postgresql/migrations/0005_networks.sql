-- Schema version 5: the mobile networks that messages are routed to, the number prefixes that
-- map a number to its network, and the cost bands of each network and direction. Adds tables
-- only and refers to no table of another step, so it applies to an existing database in place.
--
-- Identifiers are small integers (1 to 32767), as the suite's programs pass them; a row written
-- without one gets the next free number, one above the highest in use (the write procedures
-- count it under a table lock, as there is no sequence to give it). There is no table of
-- countries: a country is the text that networks give, and the list of countries is the
-- distinct Country values of the networks, so that a country is never listed without a network
-- or missing for one.

-- One row per network.
CREATE TABLE Networks (
  NetworkID   integer PRIMARY KEY CHECK (NetworkID BETWEEN 1 AND 32767),
  NetworkName text COLLATE "C" NOT NULL CHECK (NetworkName <> ''),
  Country     text COLLATE "C"
);

-- The leading digits of the numbers of a network ("+4790"), each prefix once. LocalNetwork: 0
-- the numbers are on a foreign network, any other value on the local one. A network's prefixes
-- go with it.
CREATE TABLE Prefixes (
  PrefixID     integer PRIMARY KEY CHECK (PrefixID BETWEEN 1 AND 32767),
  Prefix       text COLLATE "C" NOT NULL UNIQUE CHECK (Prefix <> ''),
  NetworkID    integer NOT NULL REFERENCES Networks (NetworkID) ON DELETE CASCADE,
  LocalNetwork integer NOT NULL DEFAULT 0
);
CREATE INDEX Prefixes_Network ON Prefixes (NetworkID);

-- What a message costs on a network in one direction ("I" inbound, "O" outbound) during a band
-- of the local time of day. StartTime and EndTime are "HH:MM:SS"; the band starts at StartTime
-- and ends before EndTime, and one whose EndTime is not after its StartTime runs past midnight
-- (equal times: the whole day). CostValue is money to four decimals, kept exactly. Enabled: 0
-- the band is not in use, any other value it is. A network's bands go with it.
CREATE TABLE Costs (
  CostID    integer PRIMARY KEY CHECK (CostID BETWEEN 1 AND 32767),
  CostName  text COLLATE "C" NOT NULL,
  StartTime text COLLATE "C" NOT NULL
            CHECK (StartTime ~ '^([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]$'),
  EndTime   text COLLATE "C" NOT NULL
            CHECK (EndTime ~ '^([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]$'),
  CostValue numeric(19, 4) NOT NULL DEFAULT 0,
  NetworkID integer NOT NULL REFERENCES Networks (NetworkID) ON DELETE CASCADE,
  Direction text COLLATE "C" NOT NULL CHECK (Direction IN ('I', 'O')),
  Enabled   integer NOT NULL DEFAULT 1
);
CREATE INDEX Costs_Network ON Costs (NetworkID, Direction);
