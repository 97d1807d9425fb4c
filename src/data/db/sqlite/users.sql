-- The suite's users: writing a record, reading it back, and the duplicate check that writers
-- make before they add one.

-- @procedure SMS_WriteUser
-- An empty RecID adds a user; an existing one replaces that user's record.
INSERT INTO Users (RecID, UserID, UserName, DisplayName, Alias, Description, Email, Mobile,
                   Department, LogonName, UserPassword, POP3User, HTTPUser, Administrator,
                   AcctDisabled, UserType)
VALUES (CAST(nullif(:RecID, '') AS INTEGER), :UserID, :UserName, :DisplayName, :Alias,
        :Description, :Email, :Mobile, :Department, :LogonName, :UserPassword,
        coalesce(:POP3User, 0), coalesce(:HTTPUser, 0), coalesce(:Administrator, 0),
        coalesce(:AcctDisabled, 0), coalesce(:UserType, 0))
    ON CONFLICT (RecID) DO UPDATE SET
       UserID = excluded.UserID, UserName = excluded.UserName,
       DisplayName = excluded.DisplayName, Alias = excluded.Alias,
       Description = excluded.Description, Email = excluded.Email, Mobile = excluded.Mobile,
       Department = excluded.Department, LogonName = excluded.LogonName,
       UserPassword = excluded.UserPassword, POP3User = excluded.POP3User,
       HTTPUser = excluded.HTTPUser, Administrator = excluded.Administrator,
       AcctDisabled = excluded.AcctDisabled, UserType = excluded.UserType;

-- @procedure SMS_DeleteUser
DELETE FROM Users WHERE RecID = :RecID;

-- @procedure SMS_GetUser
SELECT * FROM Users WHERE RecID = :RecID;

-- @procedure SMS_GetAllUsers
-- Every user of the type (of every type when none is given), by logon name.
SELECT * FROM Users
 WHERE :UserType IS NULL OR UserType = :UserType
 ORDER BY LogonName COLLATE NOCASE, RecID;

-- @procedure SMS_GetUsers
-- As SMS_GetAllUsers, without disabled accounts.
SELECT * FROM Users
 WHERE (:UserType IS NULL OR UserType = :UserType) AND AcctDisabled <> 1
 ORDER BY LogonName COLLATE NOCASE, RecID;

-- @procedure SMS_CheckDupUsers
-- The users of the type that share any of the given names, addresses or numbers (empty ones are
-- not compared), without regard to case.
SELECT * FROM Users
 WHERE (:UserType IS NULL OR UserType = :UserType)
   AND ((:UserName <> '' AND UserName = :UserName COLLATE NOCASE)
     OR (:Alias <> '' AND Alias = :Alias COLLATE NOCASE)
     OR (:Email <> '' AND Email = :Email COLLATE NOCASE)
     OR (:Mobile <> '' AND Mobile = :Mobile)
     OR (:LogonName <> '' AND LogonName = :LogonName COLLATE NOCASE))
 ORDER BY RecID;

-- @procedure SMS_GetHTTPUserDetails
-- The record of a web log-in, by logon name without regard to case; disabled accounts too, as
-- the caller tells the user why the log-in fails.
SELECT RecID, UserID, UserName, DisplayName, Alias, Description, Email, Mobile, Department,
       LogonName, UserPassword, POP3User, HTTPUser, Administrator, AcctDisabled, UserType
  FROM Users
 WHERE LogonName = :LogonName COLLATE NOCASE AND HTTPUser <> 0
 ORDER BY RecID;

-- @procedure SMS_CheckDupUserAlias
-- The users that already answer to the alias, without regard to case.
SELECT * FROM Users WHERE Alias = :Alias COLLATE NOCASE ORDER BY RecID;
