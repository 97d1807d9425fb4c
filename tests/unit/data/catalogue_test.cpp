// The catalogue operations: each operation's result on a seeded database of each engine, and
// its failure contract against an engine that fails. The rows are in catalogue_cases_*.cpp.
#include <gtest/gtest.h>

#include <tuple>

#include "catalogue_cases.hpp"
#include "data_support.hpp"
#include "recording_backend.hpp"

namespace talvex::test {
namespace {

const Failure kEngineDown("Fake Engine", -2147217900, "engine down");
const char* const kEngineDownLine = "[Fake Engine: -2147217900. engine down]";

class CatalogueOperation : public ::testing::TestWithParam<CatalogueCase> {};

TEST_P(CatalogueOperation, KeepsItsFailureContract) {
  const CatalogueCase& c = GetParam();
  FakeSession fake(std::make_shared<RecordingBackend>(kEngineDown));
  Session& session = *fake.session;
  if (c.onFailure.kind == OnFailure::kRaised) {
    EXPECT_EQ(ErrorLine(Raised([&] { c.call(session.data); })), ErrorLine(kEngineDown));
  } else {
    EXPECT_EQ(c.call(session.data), c.onFailure.result);
  }
  const bool logged = c.onFailure.kind == OnFailure::kLogged;
  ASSERT_EQ(session.log.size(), logged ? 1u : 0u);
  if (!logged) return;
  EXPECT_EQ(session.log[0].severity, Severity::kFailure);
  EXPECT_EQ(session.log[0].source, "Data Handler");
  const std::string prefix =
      *c.onFailure.message == '\0' ? std::string() : std::string(c.onFailure.message) + ": ";
  EXPECT_EQ(session.log[0].message, prefix + kEngineDownLine);
}

INSTANTIATE_TEST_SUITE_P(Operations, CatalogueOperation, ::testing::ValuesIn(CatalogueCases()),
                         [](const auto& testInfo) {
                           return std::string(testInfo.param.operation);
                         });

// One row on a freshly seeded database of one engine; every group's rows hold on both.
class CatalogueOnDatabase
    : public ::testing::TestWithParam<std::tuple<CatalogueCase, TestBackend>> {
 protected:
  void SetUp() override {
    const auto& [c, backend] = GetParam();
    db_ = backend.make();  // skips the test when the engine is not there
    if (IsSkipped()) return;
    SeedCatalogue(*db_, c.group);
  }
  std::unique_ptr<TestDatabase> db_;
};

TEST_P(CatalogueOnDatabase, GivesItsResultAndLeavesItsChanges) {
  const CatalogueCase& c = std::get<0>(GetParam());
  Session session(db_->Env());
  EXPECT_EQ(c.call(session.data), c.onDatabase.result);
  EXPECT_TRUE(session.log.empty()) << session.log.front().message;
  if (c.onDatabase.sql) {
    EXPECT_EQ(db_->QueryInt(c.onDatabase.sql), c.onDatabase.value);
  }
}

INSTANTIATE_TEST_SUITE_P(Operations, CatalogueOnDatabase,
                         ::testing::Combine(::testing::ValuesIn(CatalogueCases()), kEachBackend),
                         [](const auto& testInfo) {
                           return std::string(std::get<0>(testInfo.param).operation) + "_" +
                                  std::get<1>(testInfo.param).name;
                         });

}  // namespace
}  // namespace talvex::test
