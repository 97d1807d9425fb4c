// The catalogue table put together from its groups (see catalogue_cases.hpp).
#include "catalogue_cases.hpp"

namespace talvex::test {

namespace {

struct NamedGroup {
  const char* name;
  CatalogueGroup group;
};

const std::vector<NamedGroup>& Groups() {
  static const std::vector<NamedGroup> kGroups = {
      {"Configuration", ConfigurationGroup()},
      {"Gateway", GatewayGroup()},
      {"Users", UsersGroup()},
      {"Networks", NetworksGroup()},
      {"TransLog", TransLogGroup()},
      {"Sms", SmsGroup()},
  };
  return kGroups;
}

}  // namespace

const std::vector<CatalogueCase>& CatalogueCases() {
  static const std::vector<CatalogueCase> kCases = [] {
    std::vector<CatalogueCase> all;
    for (const auto& [name, group] : Groups()) {
      for (CatalogueCase& c : group.cases()) {
        c.group = name;
        all.push_back(std::move(c));
      }
    }
    return all;
  }();
  return kCases;
}

void SeedCatalogue(TestDatabase& db, std::string_view group) {
  for (const auto& [name, seeded] : Groups()) {
    if (name == group) db.Exec(seeded.seed);
  }
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

std::string Listed(const Recordset& rows, const char* field) {
  return rows.IsOpen() ? Column(rows, field) : std::string("unopened");
}

Recordset Stale() {
  return {std::make_shared<const std::vector<std::string>>(
              std::vector<std::string>{"GWQID", "SMSQID", "SegCacheID"}),
          {Variant("stale"), Variant("stale"), Variant("stale")}};
}

std::string Filled(bool result, const std::string& direction, const Recordset& rows,
                   const char* field) {
  return Flag(result) + "|" + direction + "|" + Listed(rows, field);
}

}  // namespace talvex::test
