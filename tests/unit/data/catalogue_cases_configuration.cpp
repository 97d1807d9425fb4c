// The catalogue rows of configuration items, direct queries, message-identifier counters and
// the event log (see catalogue_cases.hpp).
#include "catalogue_cases.hpp"

namespace talvex::test {

namespace {

constexpr auto kText = AdType::kVarChar;
constexpr auto kInt = AdType::kInteger;
constexpr bool kRows = true;  // RunProcedureQuery
constexpr bool kRun = false;  // RunProcedure

std::vector<CatalogueCase> Cases() {
  return {
      {"TestConnection",
       [](DataHandler& d) {
         d.TestConnection("");
         return std::string("done");
       },
       {"SMS_EvaluateSQL", kRows},
       {{"SQLString", kText, 4096, "SELECT * FROM Configuration"}},
       {"done"},
       {OnFailure::kRaised, ""}},
      {"ReadConfItem",
       [](DataHandler& d) { return d.ReadConfItem("Mail", "Domain", "dflt"); },
       {"SMS_ReadConfItem", kRows},
       {{"ConfCat", kText, 255, "Mail"}, {"ConfName", kText, 255, "Domain"}},
       {"example.org"},
       {OnFailure::kIgnored, "dflt"}},
      {"WriteConfItem",
       [](DataHandler& d) { return Flag(d.WriteConfItem("Mail", "Domain", "x.example", true)); },
       {"SMS_WriteConfItem", kRun},
       {{"ConfCat", kText, 255, "Mail"},
        {"ConfName", kText, 255, "Domain"},
        {"ConfValue", kText, 255, "x.example"},
        {"NoUpdate", AdType::kSmallInt, 2, true}},
       {"True", "SELECT count(*) FROM Configuration WHERE ConfValue = 'example.org'", 1},
       {OnFailure::kLogged, "False"}},
      {"UpdateConfItem",
       [](DataHandler& d) { return Flag(d.UpdateConfItem("3", "7")); },
       {"SMS_UpdateConfItem", kRun},
       {{"ConfID", kInt, 4, "3"}, {"ConfValue", kText, 255, "7"}},
       {"True", "SELECT ConfValue FROM Configuration WHERE ConfID = 3", 7},
       {OnFailure::kRaised, ""}},
      {"DeleteConfItem",
       [](DataHandler& d) { return Shown(d.DeleteConfItem("Queue", "Retries")); },
       {"SMS_DeleteConfItem", kRun},
       {{"ConfCat", kText, 255, "Queue"}, {"ConfName", kText, 255, "Retries"}},
       {"True", "SELECT count(*) FROM Configuration WHERE ConfCat = 'Queue'", 0},
       {OnFailure::kLogged, "Empty"}},
      {"RemoveConfItem",
       [](DataHandler& d) { return Shown(d.RemoveConfItem("1")); },
       {"SMS_RemoveConfItem", kRun},
       {{"ConfID", kInt, 4, "1"}},
       {"True", "SELECT count(*) FROM Configuration WHERE ConfID = 1", 0},
       {OnFailure::kLogged, "Empty"}},
      {"GetConfItems",
       [](DataHandler& d) {
         const auto rows = d.GetConfItems("Mail", "");
         return rows ? Column(*rows, "ConfName") : std::string("none");
       },
       {"SMS_ReadConfItem", kRows},
       {{"ConfCat", kText, 255, "Mail"}, {"ConfName", kText, 255, ""}},
       {"Domain,Relay"},
       {OnFailure::kLogged, "none"}},
      {"GetACLNetworkList",
       [](DataHandler& d) { return Column(d.GetACLNetworkList("ACL", "POP3"), "Network"); },
       {"SMS_GetACLNetworkList", kRows},
       {{"ConfCat", kText, 255, "ACL"}, {"ConfName", kText, 255, "POP3"}},
       {"192.0.2.0/24,198.51.100.7"},
       {OnFailure::kRaised, ""}},
      {"EvaluateSQL",
       [](DataHandler& d) {
         return Column(d.EvaluateSQL("SELECT ConfValue AS v FROM Configuration WHERE ConfID = 3"),
                       "v");
       },
       {"SMS_EvaluateSQL", kRows},
       {{"SQLString", kText, 4095, "SELECT ConfValue AS v FROM Configuration WHERE ConfID = 3"}},
       {"5"},
       {OnFailure::kRaised, ""}},
      {"GetDatabaseVersion",
       [](DataHandler& d) { return std::to_string(d.GetDatabaseVersion("")); },
       {"SMS_EvaluateSQL", kRows},
       {{"SQLString", kText, 4095, "SELECT * FROM Version"}},
       {"231"},
       {OnFailure::kRaised, ""}},
      {"GetNMQCounter",
       [](DataHandler& d) { return d.GetNMQCounter("+4412345"); },
       {"SMS_GetNMQCounter", kRows},
       {{"TargetAddress", kText, 255, "+4412345"}},
       {"007", "SELECT Counter FROM NMQCounters", 7},
       {OnFailure::kIgnored, ""}},
      {"GetNMQMsgID",
       [](DataHandler& d) { return d.GetNMQMsgID("+4412345", "012"); },
       {"SMS_GetNMQMsgID", kRows},
       {{"TargetAddress", kText, 255, "+4412345"}, {"Counter", kInt, 4, "012"}},
       {"ID-twelve"},
       {OnFailure::kIgnored, ""}},
      {"WriteNMQMsgID",
       [](DataHandler& d) { return Shown(d.WriteNMQMsgID("+4412345", "007", "ID-new")); },
       {"SMS_WriteNMQMsgID", kRun},
       {{"TargetAddress", kText, 255, "+4412345"},
        {"Counter", kInt, 4, "7"},
        {"MessageID", AdType::kChar, 32, "ID-new"}},
       {"True", "SELECT count(*) FROM NMQMessageIDs WHERE Counter = 7 AND MessageID = 'ID-new'", 1},
       {OnFailure::kLogged, "Empty"}},
      {"UpdateNMQMsgID",
       [](DataHandler& d) { return Shown(d.UpdateNMQMsgID("+4412345", "012", "ID-changed")); },
       {"SMS_UpdateNMQMsgID", kRun},
       {{"TargetAddress", kText, 255, "+4412345"},
        {"Counter", kInt, 4, "12"},
        {"MessageID", AdType::kChar, 32, "ID-changed"}},
       {"True",
        "SELECT count(*) FROM NMQMessageIDs WHERE Counter = 12 AND MessageID = 'ID-changed'", 1},
       {OnFailure::kLogged, "Empty"}},
      {"WriteEventLog",
       [](DataHandler& d) {
         return Flag(d.WriteEventLog("2026-12-07 10:00:00", "4", "talvex", "started"));
       },
       {"SMS_WriteEventLog", kRun},
       {{"EventDT", AdType::kDate, 8, "2026-12-07 10:00:00"},
        {"EventType", kInt, 255, "4"},
        {"Source", kText, 255, "talvex"},
        {"Event", kText, 4096, "started"}},
       {"True", "SELECT count(*) FROM EventLog WHERE Source = 'talvex' AND EventType = 4", 1},
       {OnFailure::kLogged, "False"}},
      {"ClearEventLog",
       [](DataHandler& d) { return Flag(d.ClearEventLog()); },
       {"SMS_ClearEventLog", kRun},
       {},
       {"True", "SELECT count(*) FROM EventLog", 0},
       {OnFailure::kLogged, "False"}},
      {"PurgeELI",
       [](DataHandler& d) { return Flag(d.PurgeELI()); },
       {"SMS_PurgeELI", kRun},
       {},
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
