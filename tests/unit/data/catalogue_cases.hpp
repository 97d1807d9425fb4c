// The table of the catalogue operations that catalogue_test.cpp runs: per operation, how to
// call it, the call a recording engine must see, its result on a seeded embedded database and
// its failure contract.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "data_support.hpp"

namespace talvex::test {

enum class OnFailure { kLogged, kRaised, kIgnored };

struct CatalogueCase {
  const char* operation;
  std::function<std::string(DataHandler&)> call;  // runs the operation, renders its result
  struct {
    const char* name;
    bool rows;  // RunProcedureQuery rather than RunProcedure
  } procedure;
  std::vector<ParameterDescriptor> descriptors;
  struct {
    std::string result;    // on the seeded database
    const char* sql = {};  // what the database holds afterwards (first column), when not null
    std::int64_t value = {};
  } onDatabase;
  struct {
    OnFailure kind;
    std::string result;  // the result after a logged or ignored failure
  } onFailure;
};

inline void PrintTo(const CatalogueCase& c, std::ostream* out) {
  *out << c.operation;
}

// One row per operation, in the order of the DataHandler declarations.
const std::vector<CatalogueCase>& CatalogueCases();
// What the seeded database holds before each operation.
void SeedCatalogue(TestDatabase& db);

}  // namespace talvex::test
