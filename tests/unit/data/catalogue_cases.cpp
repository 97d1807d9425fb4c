// The catalogue table put together from its groups (see catalogue_cases.hpp).
#include "catalogue_cases.hpp"

namespace talvex::test {

namespace {

const std::vector<CatalogueGroup>& Groups() {
  static const std::vector<CatalogueGroup> kGroups = {
      ConfigurationGroup(),
      GatewayGroup(),
      UsersGroup(),
      NetworksGroup(),
      TransLogGroup(),
      SmsGroup(),
  };
  return kGroups;
}

}  // namespace

const std::vector<CatalogueCase>& CatalogueCases() {
  static const std::vector<CatalogueCase> kCases = [] {
    std::vector<CatalogueCase> all;
    for (const CatalogueGroup& group : Groups()) {
      for (CatalogueCase& c : group.cases()) all.push_back(std::move(c));
    }
    return all;
  }();
  return kCases;
}

void SeedCatalogue(TestDatabase& db) {
  for (const CatalogueGroup& group : Groups()) db.Exec(group.seed);
}

std::string Flag(bool value) {
  return value ? "True" : "False";
}

std::string Shown(const Variant& value) {
  return value.IsEmpty() ? "Empty" : value.ToText();
}

std::string Column(Recordset rows, const char* field) {
  std::string joined;
  for (rows.MoveFirst(); !rows.Eof(); rows.MoveNext()) {
    if (!joined.empty()) joined += ',';
    joined += rows.Fields(field).TextOrEmpty();
  }
  return joined;
}

}  // namespace talvex::test
