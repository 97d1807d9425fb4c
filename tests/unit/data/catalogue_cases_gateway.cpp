// The catalogue rows of the gateway queue's delivery (see catalogue_cases.hpp). The seed's
// items are addressed to gw-...; 6 is listed by a POP3 session. They take the ids a fresh
// database gives, 1 to 7 in the order of the seed: the queue's ids come from the database alone
// (PostgreSQL refuses an explicit one), so that none is ever reused.
#include "catalogue_cases.hpp"

namespace talvex::test {

namespace {

std::vector<CatalogueCase> Cases() {
  return {
      {"GetGWItems",
       [](DataHandler& d) { return Column(d.GetGWItems("I"), "GWQID"); },
       {"5,7"},
       {OnFailure::kRaised, ""}},
      {"GetGWItem",
       [](DataHandler& d) {
         const Recordset item = d.GetGWItem("3");
         return item.IsOpen() ? Column(item, "Subject") + ":" + Column(item, "Body") : "unopened";
       },
       {"dead:dead body"},
       {OnFailure::kLogged, "unopened", "Unable to retrieve GW item due to a database error"}},
      {"RemoveGWItem",
       [](DataHandler& d) { return Flag(d.RemoveGWItem("3")); },
       {"True", "SELECT count(*) FROM GatewayBodies WHERE GWQID = 3", 0},
       {OnFailure::kLogged, "False", "Unable to remove GW item due to a database error"}},
      {"SetGWItemStatus",
       [](DataHandler& d) { return Flag(d.SetGWItemStatus("1", "2")); },
       {"True", "SELECT Status FROM GatewayItems WHERE GWQID = 1", 2},
       {OnFailure::kLogged, "False", "Unable to change GW item status due to a database error"}},
      {"PurgeDeadGWItems",
       [](DataHandler& d) { return Flag(d.PurgeDeadGWItems("O")); },
       {"True", "SELECT count(*) FROM GatewayItems WHERE Status = 3", 1},
       {OnFailure::kLogged, "False"}},
      {"QueryGWQueue",
       [](DataHandler& d) {
         Recordset rows = Stale();
         std::string direction;
         const bool done = d.QueryGWQueue(rows, direction);
         return Filled(done, direction, rows, "GWQID");
       },
       {"True|O|1"},
       {OnFailure::kLogged, "False|O|unopened",
        "Unable to retrieve GW items due to a database error"}},
      {"GetGWQStats",
       [](DataHandler& d) {
         const Recordset stats = d.GetGWQStats("O");
         return Column(stats, "Status") + "/" + Column(stats, "Items");
       },
       {"0,2,3,4/1,1,2,1"},
       {OnFailure::kRaised, ""}},
      {"ReviveGWItems",
       [](DataHandler& d) { return Flag(d.ReviveGWItems("O")); },
       {"True", "SELECT count(*) FROM GatewayItems WHERE Status = 0 AND Direction = 'O'", 3},
       {OnFailure::kLogged, "False"}},
      {"UpdateGWToAddress",
       [](DataHandler& d) { return Shown(d.UpdateGWToAddress("1", "gw-carl@example.org")); },
       {"True", "SELECT GWQID FROM GatewayItems WHERE ToAddress = 'gw-carl@example.org'", 1},
       {OnFailure::kLogged, "Empty"}},
      {"GetDeadGWItems",
       [](DataHandler& d) {
         Recordset rows = Stale();
         std::string direction;
         const bool done = d.GetDeadGWItems(rows, direction, "60");
         return Filled(done, direction, rows, "GWQID");
       },
       {"True|O|3,4"},
       {OnFailure::kLogged, "False|O|unopened",
        "Unable to retrieve Dead GW items due to a database error"}},
  };
}

}  // namespace

CatalogueGroup GatewayGroup() {
  return {Cases,
          "INSERT INTO GatewayItems (ToAddress, Direction, Subject, Status, SessionID) "
          "VALUES ('gw-ann@example.org', 'O', 'waiting', 0, NULL), "
          "('gw-ann@example.org', 'O', 'sent', 2, NULL), "
          "('gw-ann@example.org', 'O', 'dead', 3, NULL), "
          "('gw-bob@example.org', 'O', 'dead too', 3, NULL), "
          "('gw-in@example.org', 'I', 'dead inbound', 3, NULL), "
          "('gw-ann@example.org', 'O', 'listed', 4, 'GW000000000000000000000000000001'), "
          "('gw-in@example.org', 'I', 'waiting inbound', 0, NULL);"
          "INSERT INTO GatewayBodies (GWQID, Body) VALUES (1, 'body'), (3, 'dead body'), "
          "(4, 'dead body too');"};
}

}  // namespace talvex::test
