// The table of the catalogue operations that catalogue_test.cpp runs: per operation, how to
// call it, its result on a seeded database and its failure contract.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "data_support.hpp"

namespace talvex::test {

enum class OnFailure { kLogged, kRaised, kIgnored };

struct CatalogueCase {
  const char* operation;
  std::function<std::string(DataHandler&)> call;  // runs the operation, renders its result
  struct {
    std::string result;    // on the seeded database
    const char* sql = {};  // what the database holds afterwards (first column), when not null
    std::int64_t value = {};
  } onDatabase;
  struct {
    OnFailure kind;
    std::string result;        // the result after a logged or ignored failure
    const char* message = "";  // the logged line's message before the failure
  } onFailure;
  const char* group = "";  // the name of the row's group, set when the table is put together
};

inline void PrintTo(const CatalogueCase& c, std::ostream* out) {
  *out << c.operation;
}

// A group of operations: its rows, one per operation in the order of the DataHandler
// declarations, and what the seeded database holds before each of them.
struct CatalogueGroup {
  std::vector<CatalogueCase> (*cases)();
  const char* seed;  // SQL
};

// Each group's rows live in a file of their own (catalogue_cases_<group>.cpp).
CatalogueGroup ConfigurationGroup();
CatalogueGroup GatewayGroup();
CatalogueGroup UsersGroup();
CatalogueGroup NetworksGroup();
CatalogueGroup TransLogGroup();
CatalogueGroup SmsGroup();

// The rows of every group, and the seed of the named group run on `db`. Seeds are plain SQL
// that both engines take; a row's database holds its own group's seed only, so that each group
// runs on an engine as soon as its own tables and procedures are there.
const std::vector<CatalogueCase>& CatalogueCases();
void SeedCatalogue(TestDatabase& db, std::string_view group);

// Renderings the rows share.
std::string Flag(bool value);
std::string Shown(const Variant& value);                // "Empty" or the text
std::string Column(Recordset rows, const char* field);  // the field of every row, joined by ","
std::string Listed(const Recordset& rows, const char* field);  // Column, or "unopened"
// An open record set with a row, for the record-set argument of a query: a failure must
// replace it.
Recordset Stale();
// A query that fills its record-set argument: its result, the caller's direction afterwards
// and the rows.
std::string Filled(bool result, const std::string& direction, const Recordset& rows,
                   const char* field);

}  // namespace talvex::test
