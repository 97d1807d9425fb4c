// The catalogue rows of networks, number prefixes, cost bands and the ACL networks (see
// catalogue_cases.hpp).
#include "catalogue_cases.hpp"

namespace talvex::test {

namespace {

// The seed's own ACL entries among those of every group.
std::string OwnAclNetworks(Recordset rows) {
  std::string joined;
  for (rows.MoveFirst(); !rows.Eof(); rows.MoveNext()) {
    if (rows.Fields("ConfCat").TextOrEmpty() != "net-ACL") continue;
    if (!joined.empty()) joined += ',';
    joined += rows.Fields("Network").TextOrEmpty();
  }
  return joined;
}

// A new band whose value is no number; the result shows what the caller's record holds after.
CostRecord NewBand() {
  return {"0", "net-evening", "18:00:00", "22:00:00", "n/a", "902", "O", "1"};
}

std::vector<CatalogueCase> Cases() {
  return {
      {"GetPrefixes",
       [](DataHandler& d) { return Column(d.GetPrefixes(), "Prefix"); },
       {"+4670,+4790,+4791"},
       {OnFailure::kRaised, ""}},
      {"GetCosts",
       [](DataHandler& d) { return Column(d.GetCosts("O"), "CostName"); },
       {"net-day,net-night"},
       {OnFailure::kRaised, ""}},
      {"GetNetworkList",
       [](DataHandler& d) { return Column(d.GetNetworkList(), "NetworkName"); },
       {"net-Axel,net-Fjord,net-Nordnett"},
       {OnFailure::kRaised, ""}},
      {"GetNetworks",
       [](DataHandler& d) { return Column(d.GetNetworks(), "NetworkID"); },
       {"903,901,902"},
       {OnFailure::kRaised, ""}},
      {"GetCountries",
       [](DataHandler& d) { return Column(d.GetCountries(), "Country"); },
       {"net-Norway,net-Sweden"},
       {OnFailure::kRaised, ""}},
      {"WriteNetwork",
       [](DataHandler& d) { return Flag(d.WriteNetwork("0", "net-Added", "net-Denmark")); },
       {"True",
        "SELECT NetworkID FROM Networks WHERE NetworkName = 'net-Added' AND "
        "Country = 'net-Denmark'",
        904},
       {OnFailure::kLogged, "False", "Unable to write Network item due to a database error"}},
      {"DeleteNetwork",
       [](DataHandler& d) { return Flag(d.DeleteNetwork("901")); },
       {"True",
        "SELECT (SELECT count(*) FROM Networks WHERE NetworkID = 901) + (SELECT count(*) FROM "
        "Prefixes WHERE NetworkID = 901) + (SELECT count(*) FROM Costs WHERE NetworkID = 901)",
        0},
       {OnFailure::kRaised, ""}},
      {"WritePrefix",
       [](DataHandler& d) { return Flag(d.WritePrefix("902", "+4792", "901", "1")); },
       {"True",
        "SELECT 1000 * LocalNetwork + NetworkID FROM Prefixes WHERE PrefixID = 902 AND Prefix = "
        "'+4792'",
        1901},
       {OnFailure::kLogged, "False", "Unable to write Prefix item due to a database error"}},
      {"DeletePrefix",
       [](DataHandler& d) { return Flag(d.DeletePrefix("903")); },
       {"True", "SELECT count(*) FROM Prefixes WHERE PrefixID = 903", 0},
       {OnFailure::kLogged, "False", "Unable to remove Prefix item due to a database error"}},
      {"GetPrefix",
       [](DataHandler& d) { return Column(d.GetPrefix("+4790"), "NetworkName"); },
       {"net-Nordnett"},
       {OnFailure::kRaised, ""}},
      {"WriteCost",
       [](DataHandler& d) {
         CostRecord band = NewBand();
         const bool written = d.WriteCost(band);
         return Flag(written) + " " + band.costValue;
       },
       {"True 0",
        "SELECT count(*) FROM Costs WHERE CostName = 'net-evening' AND CostValue = 0 AND "
        "NetworkID = 902 AND Direction = 'O' AND Enabled = 1 AND StartTime = '18:00:00' AND "
        "EndTime = '22:00:00'",
        1},
       {OnFailure::kLogged, "False 0", "Unable to write Cost item due to a database error"}},
      {"DeleteCost",
       [](DataHandler& d) { return Flag(d.DeleteCost("902")); },
       {"True", "SELECT count(*) FROM Costs WHERE CostID = 902", 0},
       {OnFailure::kLogged, "False", "Unable to remove Cost item due to a database error"}},
      {"GetACLNetworks",
       [](DataHandler& d) { return OwnAclNetworks(d.GetACLNetworks()); },
       {"10.1.0.0/16,10.2.0.0/16"},
       {OnFailure::kRaised, ""}},
  };
}

}  // namespace

CatalogueGroup NetworksGroup() {
  return {Cases,
          "INSERT INTO Networks (NetworkID, NetworkName, Country) VALUES (901, 'net-Nordnett', "
          "'net-Norway'), (902, 'net-Axel', 'net-Sweden'), (903, 'net-Fjord', 'net-Norway');"
          "INSERT INTO Prefixes (PrefixID, Prefix, NetworkID, LocalNetwork) VALUES (901, '+4790', "
          "901, 1), (902, '+4791', 903, 0), (903, '+4670', 902, 0);"
          "INSERT INTO Costs (CostID, CostName, StartTime, EndTime, CostValue, NetworkID, "
          "Direction, Enabled) VALUES (901, 'net-night', '18:00:00', '08:00:00', 0.1, 901, 'O', "
          "1), (902, 'net-day', '08:00:00', '18:00:00', 0.25, 901, 'O', 1), (903, 'net-in', "
          "'00:00:00', '00:00:00', 0, 902, 'I', 0);"
          "INSERT INTO ACLNetworks (ConfCat, ConfName, Network) VALUES ('net-ACL', 'SMPP', "
          "'10.1.0.0/16'), ('net-ACL', 'SMPP', '10.2.0.0/16');"};
}

}  // namespace talvex::test
