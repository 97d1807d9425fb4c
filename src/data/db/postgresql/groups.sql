-- The suite's groups of users: writing a group, reading it back, the duplicate checks that
-- writers make before they add one, and the memberships of users in groups. Every read of
-- groups returns the whole group record, every read of members the whole user record, under
-- the same names.

-- @procedure SMS_WriteGroup
-- An empty RecID adds a group; an existing one replaces that group's record, and a RecID that
-- is not there yet adds the group under it (the identity then moves past it, so that later
-- groups added without one do not collide).
CREATE OR REPLACE FUNCTION "SMS_WriteGroup"(
    "@RecID" text, "@GroupID" text, "@GroupName" text, "@Alias" text, "@Description" text,
    "@AllowBroadcast" integer, "@GroupType" integer)
RETURNS void LANGUAGE plpgsql AS $$
DECLARE
  given constant bigint := nullif("@RecID", '')::bigint;
BEGIN
  INSERT INTO Groups (RecID, GroupID, GroupName, Alias, Description, AllowBroadcast, GroupType)
  VALUES (coalesce(given, nextval(pg_get_serial_sequence('groups', 'recid'))), "@GroupID",
          "@GroupName", "@Alias", "@Description", coalesce("@AllowBroadcast", 0),
          coalesce("@GroupType", 0))
      ON CONFLICT (RecID) DO UPDATE SET
         GroupID = excluded.GroupID, GroupName = excluded.GroupName, Alias = excluded.Alias,
         Description = excluded.Description, AllowBroadcast = excluded.AllowBroadcast,
         GroupType = excluded.GroupType;
  IF given IS NOT NULL THEN
    PERFORM setval(pg_get_serial_sequence('groups', 'recid'), max(RecID)) FROM Groups;
  END IF;
END;
$$;

-- @procedure SMS_DeleteGroup
-- Its memberships go with it.
CREATE OR REPLACE FUNCTION "SMS_DeleteGroup"("@RecID" bigint)
RETURNS void LANGUAGE sql AS $$
  DELETE FROM Groups WHERE RecID = "@RecID";
$$;

-- @procedure SMS_GetGroup
CREATE OR REPLACE FUNCTION "SMS_GetGroup"("@RecID" bigint)
RETURNS TABLE ("RecID" bigint, "GroupID" text, "GroupName" text, "Alias" text,
               "Description" text, "AllowBroadcast" integer, "GroupType" integer)
LANGUAGE sql STABLE AS $$
  SELECT * FROM Groups WHERE RecID = "@RecID";
$$;

-- @procedure SMS_GetAllGroups
-- Every group, by name.
CREATE OR REPLACE FUNCTION "SMS_GetAllGroups"()
RETURNS TABLE ("RecID" bigint, "GroupID" text, "GroupName" text, "Alias" text,
               "Description" text, "AllowBroadcast" integer, "GroupType" integer)
LANGUAGE sql STABLE AS $$
  SELECT * FROM Groups ORDER BY lower(GroupName) NULLS FIRST, RecID;
$$;

-- @procedure SMS_CheckDupGroups
-- The groups of the type that share the name or the alias (an empty one is not compared),
-- without regard to case.
CREATE OR REPLACE FUNCTION "SMS_CheckDupGroups"("@GroupName" text, "@Alias" text,
                                                "@GroupType" integer)
RETURNS TABLE ("RecID" bigint, "GroupID" text, "GroupName" text, "Alias" text,
               "Description" text, "AllowBroadcast" integer, "GroupType" integer)
LANGUAGE sql STABLE AS $$
  SELECT * FROM Groups
   WHERE ("@GroupType" IS NULL OR GroupType = "@GroupType")
     AND (("@GroupName" <> '' AND lower(GroupName) = lower("@GroupName"))
       OR ("@Alias" <> '' AND lower(Alias) = lower("@Alias")))
   ORDER BY RecID;
$$;

-- @procedure SMS_CheckDupGroupAlias
-- The groups for users of the type that already answer to the alias, without regard to case.
CREATE OR REPLACE FUNCTION "SMS_CheckDupGroupAlias"("@Alias" text, "@UserType" integer)
RETURNS TABLE ("RecID" bigint, "GroupID" text, "GroupName" text, "Alias" text,
               "Description" text, "AllowBroadcast" integer, "GroupType" integer)
LANGUAGE sql STABLE AS $$
  SELECT * FROM Groups
   WHERE lower(Alias) = lower("@Alias") AND ("@UserType" IS NULL OR GroupType = "@UserType")
   ORDER BY RecID;
$$;

-- @procedure SMS_GetUserGroups
-- The groups the user belongs to, by name.
CREATE OR REPLACE FUNCTION "SMS_GetUserGroups"("@UserID" text)
RETURNS TABLE ("RecID" bigint, "GroupID" text, "GroupName" text, "Alias" text,
               "Description" text, "AllowBroadcast" integer, "GroupType" integer)
LANGUAGE sql STABLE AS $$
  SELECT g.* FROM Groups AS g JOIN UsersGroups AS m ON m.GroupID = g.GroupID
   WHERE m.UserID = "@UserID"
   ORDER BY lower(g.GroupName) NULLS FIRST, g.RecID;
$$;

-- @procedure SMS_GetGroupUsers
-- The members of the group, by logon name.
CREATE OR REPLACE FUNCTION "SMS_GetGroupUsers"("@GroupID" text)
RETURNS TABLE ("RecID" bigint, "UserID" text, "UserName" text, "DisplayName" text,
               "Alias" text, "Description" text, "Email" text, "Mobile" text,
               "Department" text, "LogonName" text, "UserPassword" text, "POP3User" integer,
               "HTTPUser" integer, "Administrator" integer, "AcctDisabled" integer,
               "UserType" integer)
LANGUAGE sql STABLE AS $$
  SELECT u.* FROM Users AS u JOIN UsersGroups AS m ON m.UserID = u.UserID
   WHERE m.GroupID = "@GroupID"
   ORDER BY lower(u.LogonName) NULLS FIRST, u.RecID;
$$;

-- @procedure SMS_GetGroupUsersByAlias
-- Whom a message to the alias reaches: the members of every group that answers to it, each
-- once, by logon name.
CREATE OR REPLACE FUNCTION "SMS_GetGroupUsersByAlias"("@Alias" text)
RETURNS TABLE ("RecID" bigint, "UserID" text, "UserName" text, "DisplayName" text,
               "Alias" text, "Description" text, "Email" text, "Mobile" text,
               "Department" text, "LogonName" text, "UserPassword" text, "POP3User" integer,
               "HTTPUser" integer, "Administrator" integer, "AcctDisabled" integer,
               "UserType" integer)
LANGUAGE sql STABLE AS $$
  SELECT u.* FROM Users AS u
   WHERE u.UserID IN (SELECT m.UserID FROM UsersGroups AS m
                        JOIN Groups AS g ON g.GroupID = m.GroupID
                       WHERE lower(g.Alias) = lower("@Alias"))
   ORDER BY lower(u.LogonName) NULLS FIRST, u.RecID;
$$;

-- @procedure SMS_WriteUsersGroups
-- Adds the user to the group; a membership that exists stays as it is. Both records must exist.
CREATE OR REPLACE FUNCTION "SMS_WriteUsersGroups"("@UserID" text, "@GroupID" text)
RETURNS void LANGUAGE sql AS $$
  INSERT INTO UsersGroups (UserID, GroupID) VALUES ("@UserID", "@GroupID")
      ON CONFLICT (UserID, GroupID) DO NOTHING;
$$;

-- @procedure SMS_DeleteUsersGroups
CREATE OR REPLACE FUNCTION "SMS_DeleteUsersGroups"("@UserID" text, "@GroupID" text)
RETURNS void LANGUAGE sql AS $$
  DELETE FROM UsersGroups WHERE UserID = "@UserID" AND GroupID = "@GroupID";
$$;

-- @procedure SMS_DeleteAllUserGroups
-- Takes the user, given by record number, out of every group.
CREATE OR REPLACE FUNCTION "SMS_DeleteAllUserGroups"("@RecID" bigint)
RETURNS void LANGUAGE sql AS $$
  DELETE FROM UsersGroups WHERE UserID = (SELECT UserID FROM Users WHERE RecID = "@RecID");
$$;

-- @procedure SMS_DeleteAllGroupUsers
-- Empties the group, given by record number.
CREATE OR REPLACE FUNCTION "SMS_DeleteAllGroupUsers"("@RecID" bigint)
RETURNS void LANGUAGE sql AS $$
  DELETE FROM UsersGroups WHERE GroupID = (SELECT GroupID FROM Groups WHERE RecID = "@RecID");
$$;
