// The catalogue rows of the transaction log (see catalogue_cases.hpp). Encryption is on, the
// registry's default. The seeded record "secret" holds the ciphertext that the suite's Windows
// installations store for "Hello, World" under the password "secret".
#include "catalogue_cases.hpp"

namespace talvex::test {

namespace {

// An inbound record of message "secret" whose cost is no number; the result shows what the
// caller's entry holds after.
std::string WriteHello(DataHandler& d) {
  TransLogEntry entry{.transDt = "2026-12-05 01:27:37",
                      .messageId = "secret",
                      .content = "",
                      .fromAddress = "+4790000001",
                      .fromName = "",
                      .toAddress = Variant("tl-bob@example.org"),
                      .toName = "",
                      .subject = "Hello, World",
                      .body = "Hello, World",
                      .direction = "I",
                      .network = "tl-net",
                      .cost = "free",
                      .type = "1",
                      .status = "2",
                      .department = "",
                      .parentId = "tl-parent",
                      .messageType = "3"};
  const bool written = d.WriteTransLog(entry);
  return Flag(written) + " " + entry.cost;
}

std::string ReadHello(DataHandler& d) {
  Recordset item;
  const bool read = d.GetTransItem("secret", "O", item);
  if (item.RecordCount() == 0) return Flag(read);
  return Flag(read) + " " + item.Fields("Subject").TextOrEmpty() + "|" +
         item.Fields("Body").TextOrEmpty();
}

std::vector<CatalogueCase> Cases() {
  return {
      {"WriteTransLog",
       WriteHello,
       {"True 0",
        "SELECT count(*) FROM TransLog WHERE MessageID = 'secret' AND Direction = 'I' AND "
        "Encrypted = 1 AND Subject = '47AF0E9668F602FD67097E17' AND "
        "Body = '47AF0E9668F602FD67097E17' AND Cost = 0 AND TransDT = '2026-12-05 01:27:37' AND "
        "ParentID = 'tl-parent' AND MessageType = 3 AND FromAddress = '+4790000001' AND "
        "ToAddress = 'tl-bob@example.org' AND Network = 'tl-net' AND Type = 1 AND Status = 2",
        1},
       {OnFailure::kLogged, "False 0", "Unable to add TransLog item due to a database error"}},
      {"GetTransItem", ReadHello, {"True Hello, World|Hello, World"}, {OnFailure::kRaised, ""}},
      {"GetTransLogs",
       [](DataHandler& d) { return Column(d.GetTransLogs(), "MessageID"); },
       {"tl-plain,secret"},
       {OnFailure::kRaised, ""}},
      {"RemoveTransItem",
       [](DataHandler& d) { return Flag(d.RemoveTransItem("9102")); },
       // The message's extension items go with its last record.
       {"True",
        "SELECT (SELECT count(*) FROM TransLog WHERE ItemID = 9102) + (SELECT count(*) FROM "
        "TransLogExtItems WHERE MessageID = 'tl-plain')",
        0},
       {OnFailure::kLogged, "False", "Unable to remove TransLog item due to a database error"}},
      {"SetTLItemStatus",
       [](DataHandler& d) {
         return Flag(
             d.SetTLItemStatus("2026-12-06 10:00", "O", "7", "secret", "TL-BOB@example.org"));
       },
       {"True",
        "SELECT Status FROM TransLog WHERE ItemID = 9101 AND Cost = 0 AND "
        "StatusDT = '2026-12-06 10:00:00'",
        7},
       {OnFailure::kLogged, "False",
        "Unable to change TransLog item status due to a database error"}},
      {"SetTLExtItem",
       [](DataHandler& d) { return Flag(d.SetTLExtItem("tl-plain", "Route", "new")); },
       // A later value replaces the earlier one: one item, the new value.
       {"True",
        "SELECT sum(CASE ItemData WHEN 'new' THEN 1 ELSE 100 END) FROM TransLogExtItems WHERE "
        "MessageID = 'tl-plain'",
        1},
       {OnFailure::kRaised, ""}},
  };
}

}  // namespace

CatalogueGroup TransLogGroup() {
  return {Cases,
          "INSERT INTO TransLog (ItemID, TransDT, MessageID, Content, ToAddress, Subject, Body, "
          "Direction, Cost, Status, Encrypted) VALUES (9101, '2026-12-01 10:00:00', 'secret', '', "
          "'tl-bob@example.org', '47AF0E9668F602FD67097E17', '47AF0E9668F602FD67097E17', 'O', "
          "1.5, 1, 1), (9102, '2026-12-02 10:00:00', 'tl-plain', '', 'tl-ann@example.org', "
          "'plain', 'plain', 'I', 0, 1, 0);"
          "INSERT INTO TransLogExtItems (MessageID, ItemName, ItemData) VALUES ('tl-plain', "
          "'TransLogExt.Route', 'old');"};
}

}  // namespace talvex::test
