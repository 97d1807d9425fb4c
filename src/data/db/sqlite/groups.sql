-- The suite's groups of users: writing a group, reading it back, the duplicate checks that
-- writers make before they add one, and the memberships of users in groups.

-- @procedure SMS_WriteGroup
-- An empty RecID adds a group; an existing one replaces that group's record.
INSERT INTO Groups (RecID, GroupID, GroupName, Alias, Description, AllowBroadcast, GroupType)
VALUES (CAST(nullif(:RecID, '') AS INTEGER), :GroupID, :GroupName, :Alias, :Description,
        coalesce(:AllowBroadcast, 0), coalesce(:GroupType, 0))
    ON CONFLICT (RecID) DO UPDATE SET
       GroupID = excluded.GroupID, GroupName = excluded.GroupName, Alias = excluded.Alias,
       Description = excluded.Description, AllowBroadcast = excluded.AllowBroadcast,
       GroupType = excluded.GroupType;

-- @procedure SMS_DeleteGroup
-- Its memberships go with it.
DELETE FROM Groups WHERE RecID = :RecID;

-- @procedure SMS_GetGroup
SELECT * FROM Groups WHERE RecID = :RecID;

-- @procedure SMS_GetAllGroups
-- Every group, by name.
SELECT * FROM Groups ORDER BY GroupName COLLATE NOCASE, RecID;

-- @procedure SMS_CheckDupGroups
-- The groups of the type that share the name or the alias (an empty one is not compared),
-- without regard to case.
SELECT * FROM Groups
 WHERE (:GroupType IS NULL OR GroupType = :GroupType)
   AND ((:GroupName <> '' AND GroupName = :GroupName COLLATE NOCASE)
     OR (:Alias <> '' AND Alias = :Alias COLLATE NOCASE))
 ORDER BY RecID;

-- @procedure SMS_CheckDupGroupAlias
-- The groups for users of the type that already answer to the alias, without regard to case.
SELECT * FROM Groups
 WHERE Alias = :Alias COLLATE NOCASE AND (:UserType IS NULL OR GroupType = :UserType)
 ORDER BY RecID;

-- @procedure SMS_GetUserGroups
-- The groups the user belongs to, by name.
SELECT g.* FROM Groups AS g JOIN UsersGroups AS m ON m.GroupID = g.GroupID
 WHERE m.UserID = :UserID
 ORDER BY g.GroupName COLLATE NOCASE, g.RecID;

-- @procedure SMS_GetGroupUsers
-- The members of the group, by logon name.
SELECT u.* FROM Users AS u JOIN UsersGroups AS m ON m.UserID = u.UserID
 WHERE m.GroupID = :GroupID
 ORDER BY u.LogonName COLLATE NOCASE, u.RecID;

-- @procedure SMS_GetGroupUsersByAlias
-- Whom a message to the alias reaches: the members of every group that answers to it, each
-- once, by logon name.
SELECT u.* FROM Users AS u
 WHERE u.UserID IN (SELECT m.UserID FROM UsersGroups AS m JOIN Groups AS g ON g.GroupID = m.GroupID
                     WHERE g.Alias = :Alias COLLATE NOCASE)
 ORDER BY u.LogonName COLLATE NOCASE, u.RecID;

-- @procedure SMS_WriteUsersGroups
-- Adds the user to the group; a membership that exists stays as it is. Both records must exist.
INSERT INTO UsersGroups (UserID, GroupID) VALUES (:UserID, :GroupID)
    ON CONFLICT (UserID, GroupID) DO NOTHING;

-- @procedure SMS_DeleteUsersGroups
DELETE FROM UsersGroups WHERE UserID = :UserID AND GroupID = :GroupID;

-- @procedure SMS_DeleteAllUserGroups
-- Takes the user, given by record number, out of every group.
DELETE FROM UsersGroups WHERE UserID = (SELECT UserID FROM Users WHERE RecID = :RecID);

-- @procedure SMS_DeleteAllGroupUsers
-- Empties the group, given by record number.
DELETE FROM UsersGroups WHERE GroupID = (SELECT GroupID FROM Groups WHERE RecID = :RecID);
