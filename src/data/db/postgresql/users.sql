-- The suite's users: writing a record, reading it back, and the duplicate check that writers
-- make before they add one. Every read returns the whole record under the same names.

-- @procedure SMS_WriteUser
-- An empty RecID adds a user; an existing one replaces that user's record, and a RecID that is
-- not there yet adds the user under it (the identity then moves past it, so that later users
-- added without one do not collide).
CREATE OR REPLACE FUNCTION "SMS_WriteUser"(
    "@RecID" text, "@UserID" text, "@UserName" text, "@DisplayName" text, "@Alias" text,
    "@Description" text, "@Email" text, "@Mobile" text, "@Department" text, "@LogonName" text,
    "@UserPassword" text, "@POP3User" integer, "@HTTPUser" integer, "@Administrator" integer,
    "@AcctDisabled" integer, "@UserType" integer)
RETURNS void LANGUAGE plpgsql AS $$
DECLARE
  given constant bigint := nullif("@RecID", '')::bigint;
BEGIN
  INSERT INTO Users (RecID, UserID, UserName, DisplayName, Alias, Description, Email, Mobile,
                     Department, LogonName, UserPassword, POP3User, HTTPUser, Administrator,
                     AcctDisabled, UserType)
  VALUES (coalesce(given, nextval(pg_get_serial_sequence('users', 'recid'))), "@UserID",
          "@UserName", "@DisplayName", "@Alias", "@Description", "@Email", "@Mobile",
          "@Department", "@LogonName", "@UserPassword", coalesce("@POP3User", 0),
          coalesce("@HTTPUser", 0), coalesce("@Administrator", 0), coalesce("@AcctDisabled", 0),
          coalesce("@UserType", 0))
      ON CONFLICT (RecID) DO UPDATE SET
         UserID = excluded.UserID, UserName = excluded.UserName,
         DisplayName = excluded.DisplayName, Alias = excluded.Alias,
         Description = excluded.Description, Email = excluded.Email, Mobile = excluded.Mobile,
         Department = excluded.Department, LogonName = excluded.LogonName,
         UserPassword = excluded.UserPassword, POP3User = excluded.POP3User,
         HTTPUser = excluded.HTTPUser, Administrator = excluded.Administrator,
         AcctDisabled = excluded.AcctDisabled, UserType = excluded.UserType;
  IF given IS NOT NULL THEN
    PERFORM setval(pg_get_serial_sequence('users', 'recid'), max(RecID)) FROM Users;
  END IF;
END;
$$;

-- @procedure SMS_DeleteUser
CREATE OR REPLACE FUNCTION "SMS_DeleteUser"("@RecID" bigint)
RETURNS void LANGUAGE sql AS $$
  DELETE FROM Users WHERE RecID = "@RecID";
$$;

-- @procedure SMS_GetUser
CREATE OR REPLACE FUNCTION "SMS_GetUser"("@RecID" bigint)
RETURNS TABLE ("RecID" bigint, "UserID" text, "UserName" text, "DisplayName" text,
               "Alias" text, "Description" text, "Email" text, "Mobile" text,
               "Department" text, "LogonName" text, "UserPassword" text, "POP3User" integer,
               "HTTPUser" integer, "Administrator" integer, "AcctDisabled" integer,
               "UserType" integer)
LANGUAGE sql STABLE AS $$
  SELECT * FROM Users WHERE RecID = "@RecID";
$$;

-- @procedure SMS_GetAllUsers
-- Every user of the type (of every type when none is given), by logon name.
CREATE OR REPLACE FUNCTION "SMS_GetAllUsers"("@UserType" integer)
RETURNS TABLE ("RecID" bigint, "UserID" text, "UserName" text, "DisplayName" text,
               "Alias" text, "Description" text, "Email" text, "Mobile" text,
               "Department" text, "LogonName" text, "UserPassword" text, "POP3User" integer,
               "HTTPUser" integer, "Administrator" integer, "AcctDisabled" integer,
               "UserType" integer)
LANGUAGE sql STABLE AS $$
  SELECT * FROM Users
   WHERE "@UserType" IS NULL OR UserType = "@UserType"
   ORDER BY lower(LogonName) NULLS FIRST, RecID;
$$;

-- @procedure SMS_GetUsers
-- As SMS_GetAllUsers, without disabled accounts.
CREATE OR REPLACE FUNCTION "SMS_GetUsers"("@UserType" integer)
RETURNS TABLE ("RecID" bigint, "UserID" text, "UserName" text, "DisplayName" text,
               "Alias" text, "Description" text, "Email" text, "Mobile" text,
               "Department" text, "LogonName" text, "UserPassword" text, "POP3User" integer,
               "HTTPUser" integer, "Administrator" integer, "AcctDisabled" integer,
               "UserType" integer)
LANGUAGE sql STABLE AS $$
  SELECT * FROM Users
   WHERE ("@UserType" IS NULL OR UserType = "@UserType") AND AcctDisabled <> 1
   ORDER BY lower(LogonName) NULLS FIRST, RecID;
$$;

-- @procedure SMS_CheckDupUsers
-- The users of the type that share any of the given names, addresses or numbers (empty ones are
-- not compared), without regard to case.
CREATE OR REPLACE FUNCTION "SMS_CheckDupUsers"(
    "@UserName" text, "@Alias" text, "@Email" text, "@Mobile" text, "@LogonName" text,
    "@UserType" integer)
RETURNS TABLE ("RecID" bigint, "UserID" text, "UserName" text, "DisplayName" text,
               "Alias" text, "Description" text, "Email" text, "Mobile" text,
               "Department" text, "LogonName" text, "UserPassword" text, "POP3User" integer,
               "HTTPUser" integer, "Administrator" integer, "AcctDisabled" integer,
               "UserType" integer)
LANGUAGE sql STABLE AS $$
  SELECT * FROM Users
   WHERE ("@UserType" IS NULL OR UserType = "@UserType")
     AND (("@UserName" <> '' AND lower(UserName) = lower("@UserName"))
       OR ("@Alias" <> '' AND lower(Alias) = lower("@Alias"))
       OR ("@Email" <> '' AND lower(Email) = lower("@Email"))
       OR ("@Mobile" <> '' AND Mobile = "@Mobile")
       OR ("@LogonName" <> '' AND lower(LogonName) = lower("@LogonName")))
   ORDER BY RecID;
$$;

-- @procedure SMS_GetHTTPUserDetails
-- The record of a web log-in, by logon name without regard to case; disabled accounts too, as
-- the caller tells the user why the log-in fails.
CREATE OR REPLACE FUNCTION "SMS_GetHTTPUserDetails"("@LogonName" text)
RETURNS TABLE ("RecID" bigint, "UserID" text, "UserName" text, "DisplayName" text,
               "Alias" text, "Description" text, "Email" text, "Mobile" text,
               "Department" text, "LogonName" text, "UserPassword" text, "POP3User" integer,
               "HTTPUser" integer, "Administrator" integer, "AcctDisabled" integer,
               "UserType" integer)
LANGUAGE sql STABLE AS $$
  SELECT RecID, UserID, UserName, DisplayName, Alias, Description, Email, Mobile, Department,
         LogonName, UserPassword, POP3User, HTTPUser, Administrator, AcctDisabled, UserType
    FROM Users
   WHERE lower(LogonName) = lower("@LogonName") AND HTTPUser <> 0
   ORDER BY RecID;
$$;

-- @procedure SMS_CheckDupUserAlias
-- The users that already answer to the alias, without regard to case.
CREATE OR REPLACE FUNCTION "SMS_CheckDupUserAlias"("@Alias" text)
RETURNS TABLE ("RecID" bigint, "UserID" text, "UserName" text, "DisplayName" text,
               "Alias" text, "Description" text, "Email" text, "Mobile" text,
               "Department" text, "LogonName" text, "UserPassword" text, "POP3User" integer,
               "HTTPUser" integer, "Administrator" integer, "AcctDisabled" integer,
               "UserType" integer)
LANGUAGE sql STABLE AS $$
  SELECT * FROM Users WHERE lower(Alias) = lower("@Alias") ORDER BY RecID;
$$;
