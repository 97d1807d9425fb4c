// The catalogue rows of configuration items, direct queries, message-identifier counters and
// the event log (see catalogue_cases.hpp).
#include "catalogue_cases.hpp"

namespace talvex::test {

namespace {

std::vector<CatalogueCase> Cases() {
  return {
      {"TestConnection",
       [](DataHandler& d) {
         d.TestConnection("");
         return std::string("done");
       },
       {"done"},
       {OnFailure::kRaised, ""}},
      {"ReadConfItem",
       [](DataHandler& d) { return d.ReadConfItem("Mail", "Domain", "dflt"); },
       {"example.org"},
       {OnFailure::kIgnored, "dflt"}},
      {"WriteConfItem",
       [](DataHandler& d) { return Flag(d.WriteConfItem("Mail", "Domain", "x.example", true)); },
       {"True", "SELECT count(*) FROM Configuration WHERE ConfValue = 'example.org'", 1},
       {OnFailure::kLogged, "False"}},
      {"UpdateConfItem",
       [](DataHandler& d) { return Flag(d.UpdateConfItem("3", "7")); },
       {"True", "SELECT ConfValue FROM Configuration WHERE ConfID = 3", 7},
       {OnFailure::kRaised, ""}},
      {"DeleteConfItem",
       [](DataHandler& d) { return Shown(d.DeleteConfItem("Queue", "Retries")); },
       {"True", "SELECT count(*) FROM Configuration WHERE ConfCat = 'Queue'", 0},
       {OnFailure::kLogged, "Empty"}},
      {"RemoveConfItem",
       [](DataHandler& d) { return Shown(d.RemoveConfItem("1")); },
       {"True", "SELECT count(*) FROM Configuration WHERE ConfID = 1", 0},
       {OnFailure::kLogged, "Empty"}},
      {"GetConfItems",
       [](DataHandler& d) {
         const auto rows = d.GetConfItems("Mail", "");
         return rows ? Column(*rows, "ConfName") : std::string("none");
       },
       {"Domain,Relay"},
       {OnFailure::kLogged, "none"}},
      {"GetACLNetworkList",
       [](DataHandler& d) { return Column(d.GetACLNetworkList("ACL", "POP3"), "Network"); },
       {"192.0.2.0/24,198.51.100.7"},
       {OnFailure::kRaised, ""}},
      {"EvaluateSQL",
       [](DataHandler& d) {
         return Column(d.EvaluateSQL("SELECT ConfValue AS v FROM Configuration WHERE ConfID = 3"),
                       "v");
       },
       {"5"},
       {OnFailure::kRaised, ""}},
      {"GetDatabaseVersion",
       [](DataHandler& d) { return std::to_string(d.GetDatabaseVersion("")); },
       {"231"},
       {OnFailure::kRaised, ""}},
      {"GetNMQCounter",
       [](DataHandler& d) { return d.GetNMQCounter("+4412345"); },
       {"007", "SELECT Counter FROM NMQCounters", 7},
       {OnFailure::kIgnored, ""}},
      {"GetNMQMsgID",
       [](DataHandler& d) { return d.GetNMQMsgID("+4412345", "012"); },
       {"ID-twelve"},
       {OnFailure::kIgnored, ""}},
      {"WriteNMQMsgID",
       [](DataHandler& d) { return Shown(d.WriteNMQMsgID("+4412345", "007", "ID-new")); },
       {"True", "SELECT count(*) FROM NMQMessageIDs WHERE Counter = 7 AND MessageID = 'ID-new'", 1},
       {OnFailure::kLogged, "Empty"}},
      {"UpdateNMQMsgID",
       [](DataHandler& d) { return Shown(d.UpdateNMQMsgID("+4412345", "012", "ID-changed")); },
       {"True",
        "SELECT count(*) FROM NMQMessageIDs WHERE Counter = 12 AND MessageID = 'ID-changed'", 1},
       {OnFailure::kLogged, "Empty"}},
      {"WriteEventLog",
       [](DataHandler& d) {
         return Flag(d.WriteEventLog("2026-12-07 10:00:00", "4", "talvex", "started"));
       },
       {"True",
        "SELECT count(*) FROM EventLog WHERE Source = 'talvex' AND EventType = 4 AND "
        "Event = 'started' AND EventDT = '2026-12-07 10:00:00'",
        1},
       {OnFailure::kLogged, "False"}},
      {"ClearEventLog",
       [](DataHandler& d) { return Flag(d.ClearEventLog()); },
       {"True", "SELECT count(*) FROM EventLog", 0},
       {OnFailure::kLogged, "False"}},
      {"PurgeELI",
       [](DataHandler& d) { return Flag(d.PurgeELI()); },
       {"True", "SELECT count(*) FROM EventLog WHERE Source = 'recent'", 1},
       {OnFailure::kRaised, ""}},
  };
}

}  // namespace

CatalogueGroup ConfigurationGroup() {
  return {Cases,
          "INSERT INTO Configuration (ConfID, ConfCat, ConfName, ConfValue) VALUES "
          "(1, 'Mail', 'Domain', 'example.org'), (2, 'Mail', 'Relay', ''), (3, 'Queue', 'Retries', "
          "'5');"
          "INSERT INTO ACLNetworks (ConfCat, ConfName, Network) VALUES ('ACL', 'POP3', "
          "'192.0.2.0/24'), ('ACL', 'POP3', '198.51.100.7'), ('ACL', 'HTTP', '203.0.113.0/24');"
          "INSERT INTO NMQCounters VALUES ('+4412345', 6);"
          "INSERT INTO NMQMessageIDs VALUES ('+4412345', 7, 'ID-seven'), ('+4412345', 12, "
          "'ID-twelve');"
          // The recent event is dated ahead of any clock, which no retention reaches and
          // which both engines take as it is.
          "INSERT INTO EventLog (EventDT, EventType, Source, Event) VALUES ('2000-01-01 00:00:00', "
          "4, 'old', 'x'), ('2999-01-01 00:00:00', 4, 'recent', 'y');"};
}

}  // namespace talvex::test
