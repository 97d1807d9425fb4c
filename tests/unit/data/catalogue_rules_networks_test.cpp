// The edges of the network, prefix and cost operations that the table's rows leave out: adding
// against changing by identifier, the cost value of WriteCost, the writes that the schema
// refuses, and GetCosts without a direction. Each runs on both engines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "data_support.hpp"

namespace talvex::test {
namespace {

using ::testing::StartsWith;

class NetworkRules : public OnEachBackend {
 protected:
  void SetUp() override {
    if (IsSkipped()) return;  // no PostgreSQL test cluster
    db_->Exec(
        "INSERT INTO Networks (NetworkID, NetworkName, Country) VALUES (1, 'One', 'Norway'), "
        "(2, 'Two', 'Sweden');"
        "INSERT INTO Prefixes (PrefixID, Prefix, NetworkID) VALUES (1, '+4790', 1);"
        "INSERT INTO Costs (CostID, CostName, StartTime, EndTime, NetworkID, Direction) VALUES "
        "(1, 'out', '00:00:00', '00:00:00', 1, 'O'), (2, 'in', '00:00:00', '00:00:00', 2, 'I');");
  }
  Session session_{db_->Env()};
};

CostRecord Band(std::string id, std::string name, std::string value = "1") {
  return {std::move(id), std::move(name), "08:00:00", "18:00:00", std::move(value), "2", "O", "1"};
}

// Each write adds a row for the identifier "0" or empty, each under a new identifier, and
// changes the row of any other identifier in place.
TEST_P(NetworkRules, IdentifierZeroOrEmptyAddsAnyOtherChangesThatRow) {
  using Write = bool (*)(DataHandler&, const std::string& id, const std::string& name);
  const struct {
    const char* table;
    const char* id;
    const char* name;  // the column that Write fills with its name
    Write write;
  } cases[] = {
      {"Networks", "NetworkID", "NetworkName",
       [](DataHandler& d, const std::string& id, const std::string& name) {
         return d.WriteNetwork(id, name, "Denmark");
       }},
      {"Prefixes", "PrefixID", "Prefix",
       [](DataHandler& d, const std::string& id, const std::string& name) {
         return d.WritePrefix(id, name, "2", "0");
       }},
      {"Costs", "CostID", "CostName",
       [](DataHandler& d, const std::string& id, const std::string& name) {
         CostRecord band = Band(id, name);
         return d.WriteCost(band);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    const std::string count = std::string("SELECT count(*) FROM ") + c.table;
    const std::int64_t before = db_->QueryInt(count);
    ASSERT_TRUE(c.write(session_.data, "", "+471"));
    ASSERT_TRUE(c.write(session_.data, "0", "+472"));
    EXPECT_EQ(db_->QueryInt(count), before + 2);
    ASSERT_TRUE(c.write(session_.data, "1", "+473"));
    EXPECT_EQ(db_->QueryInt(count), before + 2);
    EXPECT_EQ(db_->QueryInt(count + " WHERE " + c.id + " = 1 AND " + c.name + " = '+473'"), 1);
  }
  EXPECT_TRUE(session_.log.empty());
}

TEST_P(NetworkRules, CostValueIsKeptWhenANumberAndIsZeroOtherwise) {
  const struct {
    const char* given;
    const char* kept;  // in the caller's record
    std::int64_t tenThousandths;
  } cases[] = {{"0.0125", "0.0125", 125}, {"2", "2", 20000},
               {" 1.5 ", " 1.5 ", 15000}, {"", "0", 0},
               {"n/a", "0", 0},           {"1,5", "0", 0}};
  for (const auto& c : cases) {
    CostRecord band = Band("1", "out", c.given);
    ASSERT_TRUE(session_.data.WriteCost(band)) << c.given;
    EXPECT_EQ(band.costValue, c.kept);
    EXPECT_EQ(db_->QueryInt("SELECT round(CostValue * 10000) FROM Costs WHERE CostID = 1"),
              c.tenThousandths)
        << c.given;
  }
  EXPECT_TRUE(session_.log.empty());
}

// What the schema refuses comes back as the operation's logged failure.
TEST_P(NetworkRules, RefusedWritesAreLoggedAndGiveFalse) {
  const auto writeCost = [](CostRecord band) {
    return [band](DataHandler& d) mutable { return d.WriteCost(band); };
  };
  const struct {
    const char* what;
    std::function<bool(DataHandler&)> write;
    const char* message;
  } cases[] = {
      {"a prefix that another row holds",
       [](DataHandler& d) { return d.WritePrefix("", "+4790", "2", "0"); },
       "Unable to write Prefix item"},
      {"a prefix of no network", [](DataHandler& d) { return d.WritePrefix("", "+45", "9", "0"); },
       "Unable to write Prefix item"},
      {"a time of day without seconds",
       writeCost({"", "short", "08:00:00", "18:00", "1", "2", "O", "1"}),
       "Unable to write Cost item"},
      {"an hour past 23", writeCost({"", "late", "25:00:00", "18:00:00", "1", "2", "O", "1"}),
       "Unable to write Cost item"},
      {"a direction other than I and O",
       writeCost({"", "sideways", "08:00:00", "18:00:00", "1", "2", "X", "1"}),
       "Unable to write Cost item"},
      {"a network without a name", [](DataHandler& d) { return d.WriteNetwork("", {}, "x"); },
       "Unable to write Network item"},
  };
  for (const auto& c : cases) {
    Session session(db_->Env());
    EXPECT_FALSE(c.write(session.data)) << c.what;
    ASSERT_EQ(session.log.size(), 1u) << c.what;
    EXPECT_THAT(session.log[0].message,
                StartsWith(std::string(c.message) + " due to a database error: ["))
        << c.what;
  }
  EXPECT_EQ(db_->QueryInt("SELECT (SELECT count(*) FROM Prefixes) + (SELECT count(*) FROM Costs)"),
            3);
}

TEST_P(NetworkRules, CostsWithoutADirectionAreThoseOfBoth) {
  EXPECT_EQ(session_.data.GetCosts().RecordCount(), 2);
  EXPECT_EQ(session_.data.GetCosts("I").Fields("CostName").ToText(), "in");
}

INSTANTIATE_TEST_SUITE_P(Backends, NetworkRules, kEachBackend, BackendName);

}  // namespace
}  // namespace talvex::test
