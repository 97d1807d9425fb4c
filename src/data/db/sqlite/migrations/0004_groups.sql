-- Schema version 4: the groups of users and who belongs to them, and the gateway queue's own
-- delivery states. Adds tables and an index only; users and items stay as they are.

-- One row per group of the suite. Groups are typed like users (Users.UserType): a group of one
-- type gathers users of that type.
CREATE TABLE Groups (
  RecID          INTEGER PRIMARY KEY,
  GroupID        TEXT NOT NULL,               -- 32 hexadecimal digits
  GroupName      TEXT,
  Alias          TEXT,                        -- the name a message addressed to the group uses
  Description    TEXT,
  AllowBroadcast INTEGER NOT NULL DEFAULT 0,  -- 1: a message to the group goes to every member
  GroupType      INTEGER NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX Groups_GroupID ON Groups (GroupID);

-- Membership: one row per user in a group, by the two records' 32-digit ids. A membership ends
-- with its user or its group, and follows a user whose record is rewritten with another id.
CREATE TABLE UsersGroups (
  UserID  TEXT NOT NULL REFERENCES Users (UserID) ON UPDATE CASCADE ON DELETE CASCADE,
  GroupID TEXT NOT NULL REFERENCES Groups (GroupID) ON UPDATE CASCADE ON DELETE CASCADE,
  PRIMARY KEY (UserID, GroupID)
) WITHOUT ROWID;
CREATE INDEX UsersGroups_GroupID ON UsersGroups (GroupID);

-- GatewayItems.Status also carries the gateway's own delivery of an item, beside the mail-drop
-- states 4, 5 and 6 (0001): 0 waiting (to be sent, or in a mail drop), 2 sent, 3 failed (dead).
-- 1 is not used. Sent and dead items are no longer part of any mail drop; reviving a dead item
-- makes it waiting again. Dead items are few among many, and the queue's tools look for them
-- by direction.
CREATE INDEX GatewayItems_Dead ON GatewayItems (Direction) WHERE Status = 3;
