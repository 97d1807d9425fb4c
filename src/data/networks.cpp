// The networks that messages are routed to, the number prefixes that map numbers to them, the
// cost bands of each network and direction, and the list of all ACL networks (procedures in
// db/<engine>/networks.sql).
#include "data/data_handler.hpp"
#include "data/descriptors.hpp"
#include "platform/numbers.hpp"

namespace talvex {

using namespace descriptor;

namespace {}  // namespace

Recordset DataHandler::GetPrefixes() {
  return Query("SMS_GetPrefixes", {});
}

Recordset DataHandler::GetCosts(const std::string& direction) {
  return Query("SMS_GetCosts", {Char("Direction", 1, direction)});
}

Recordset DataHandler::GetNetworkList() {
  return Query("SMS_GetNetworkList", {});
}

Recordset DataHandler::GetNetworks() {
  return Query("SMS_GetNetworks", {});
}

Recordset DataHandler::GetCountries() {
  return Query("SMS_GetCountries", {});
}

bool DataHandler::WriteNetwork(const std::string& networkId, const std::string& networkName,
                               const std::string& country) {
  return ExecuteHandled("Unable to write Network item due to a database error", "SMS_WriteNetwork",
                        {SmallInt("NetworkID", networkId), Text("NetworkName", 255, networkName),
                         Text("Country", 255, country)});
}

bool DataHandler::DeleteNetwork(const std::string& networkId) {
  Execute("SMS_DeleteNetwork", {SmallInt("NetworkID", networkId)});
  return true;
}

bool DataHandler::WritePrefix(const std::string& prefixId, const std::string& prefix,
                              const std::string& networkId, const std::string& localNetwork) {
  return ExecuteHandled("Unable to write Prefix item due to a database error", "SMS_WritePrefix",
                        {SmallInt("PrefixID", prefixId), Text("Prefix", 255, prefix),
                         SmallInt("NetworkID", networkId), SmallInt("LocalNetwork", localNetwork)});
}

bool DataHandler::DeletePrefix(const std::string& prefixId) {
  return ExecuteHandled("Unable to remove Prefix item due to a database error", "SMS_DeletePrefix",
                        {SmallInt("PrefixID", prefixId)});
}

Recordset DataHandler::GetPrefix(const std::string& prefix) {
  return Query("SMS_GetPrefix", {Text("Prefix", 50, prefix)});
}

bool DataHandler::WriteCost(CostRecord& cost) {
  // A value that is no number costs nothing rather than failing the write; the caller sees
  // what was stored. assign(1, '0'), not = "0": GCC 12 at -O3 misreads that assignment as an
  // overlapping copy.
  if (!ParseDecimal(cost.costValue)) cost.costValue.assign(1, '0');
  return ExecuteHandled("Unable to write Cost item due to a database error", "SMS_WriteCost",
                        {SmallInt("CostID", cost.costId),
                         Text("CostName", 255, cost.costName),
                         Char("StartTime", 8, cost.startTime),
                         Char("EndTime", 8, cost.endTime),
                         {"CostValue", AdType::kCurrency, 4, cost.costValue},
                         SmallInt("NetworkID", cost.networkId),
                         Char("Direction", 1, cost.direction),
                         SmallInt("Enabled", cost.enabled)});
}

bool DataHandler::DeleteCost(const std::string& costId) {
  return ExecuteHandled("Unable to remove Cost item due to a database error", "SMS_DeleteCost",
                        {SmallInt("CostID", costId)});
}

Recordset DataHandler::GetACLNetworks() {
  return Query("SMS_GetACLNetworks", {});
}

}  // namespace talvex
