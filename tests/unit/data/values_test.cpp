// Record sets, parameter binding and the SQL catalog: the pieces every call goes through.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <stdexcept>

#include "data/data_errors.hpp"
#include "data/parameter.hpp"
#include "data/recordset.hpp"
#include "data/sql_catalog.hpp"

namespace talvex {
namespace {

std::int32_t FailureNumber(const std::function<void()>& call) {
  try {
    call();
  } catch (const Failure& failure) {
    return failure.Number();
  }
  return 0;
}

TEST(Recordset, NavigationAndFields) {
  const Recordset closed;
  EXPECT_FALSE(closed.IsOpen());
  EXPECT_EQ(FailureNumber([&] { (void)closed.RecordCount(); }), recordseterr::kObjectClosed);
  EXPECT_EQ(FailureNumber([&] { (void)closed.Eof(); }), recordseterr::kObjectClosed);

  auto names = std::make_shared<const std::vector<std::string>>(
      std::vector<std::string>{"GWQID", "MessageID"});
  Recordset rows(names, {Variant(7), Variant("a"), Variant(9), Variant::Null()});
  ASSERT_EQ(rows.RecordCount(), 2);
  EXPECT_EQ(rows.Fields("gwqid"), Variant(7));  // names compare without regard to case
  rows.Fields("MessageID") = Variant("x");
  rows.MoveNext();
  EXPECT_TRUE(rows.Fields("MessageID").IsNull());
  EXPECT_EQ(FailureNumber([&] { (void)rows.Fields("Body"); }), recordseterr::kItemNotFound);
  rows.MoveNext();
  EXPECT_TRUE(rows.Eof());
  EXPECT_EQ(FailureNumber([&] { rows.MoveNext(); }), recordseterr::kNoCurrentRecord);
  EXPECT_EQ(FailureNumber([&] { (void)rows.Fields("GWQID"); }), recordseterr::kNoCurrentRecord);
  rows.MoveFirst();
  EXPECT_EQ(rows.Fields("MessageID"), Variant("x"));

  const Recordset empty(std::make_shared<const std::vector<std::string>>(), {});
  EXPECT_EQ(empty.RecordCount(), 0);
  EXPECT_TRUE(empty.Eof());
}

data::BoundValue Bound(std::int32_t type, std::int32_t size, const Variant& value) {
  return data::BindParameter({"P", type, size, value}).value;
}

std::int32_t BindFailure(std::int32_t type, std::int32_t size, const Variant& value) {
  return FailureNumber([&] { Bound(type, size, value); });
}

TEST(ParameterBinding, NumbersFitTheirTypeOrFail) {
  using data::dberr::kConversion;
  using data::dberr::kOverflow;
  EXPECT_EQ(Bound(adtype::kInteger, 4, "42"), data::BoundValue(std::int64_t{42}));
  EXPECT_EQ(Bound(adtype::kSmallInt, 2, "-32768"), data::BoundValue(std::int64_t{-32768}));
  EXPECT_EQ(Bound(adtype::kSmallInt, 2, true), data::BoundValue(std::int64_t{-1}));
  EXPECT_EQ(BindFailure(adtype::kSmallInt, 2, "32768"), kOverflow);
  EXPECT_EQ(BindFailure(adtype::kInteger, 4, "2147483648"), kOverflow);
  EXPECT_EQ(BindFailure(adtype::kInteger, 4, "1.5"), kConversion);
  EXPECT_EQ(BindFailure(adtype::kInteger, 4, " "), kConversion);
  // An omitted argument is NULL.
  EXPECT_EQ(Bound(adtype::kInteger, 4, ""), data::BoundValue());
  EXPECT_EQ(Bound(adtype::kSmallInt, 2, Variant::Null()), data::BoundValue());
  EXPECT_EQ(Bound(adtype::kCurrency, 4, "-12.3456"), data::BoundValue(data::Currency{-123456}));
  EXPECT_EQ(BindFailure(adtype::kCurrency, 4, "1e16"), kOverflow);
  EXPECT_EQ(BindFailure(adtype::kCurrency, 4, "ten"), kConversion);
  EXPECT_EQ(BindFailure(99, 4, "1"), kConversion);
  try {
    data::BindParameter({"GWQID", adtype::kInteger, 4, "abc"});
    ADD_FAILURE();
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.Source(), "SMS_Quillon");
    EXPECT_EQ(failure.Description(), "Parameter 'GWQID' (adInteger): 'abc' is not a number");
  }
}

TEST(ParameterBinding, DatesAndTexts) {
  EXPECT_EQ(Bound(adtype::kDate, 8, "2024-02-29 13:05:09"),
            data::BoundValue(data::Timestamp{"2024-02-29 13:05:09"}));
  EXPECT_EQ(Bound(adtype::kDate, 8, "2024-01-31T10:00"),
            data::BoundValue(data::Timestamp{"2024-01-31 10:00:00"}));
  for (const char* bad : {"2023-02-29", "2024-13-01", "2024-01-01 24:00", "01/02/2024"}) {
    EXPECT_EQ(BindFailure(adtype::kDate, 8, bad), data::dberr::kConversion) << bad;
  }
  // Sizes count characters, not octets; nothing is cut.
  std::string accents;
  for (int i = 0; i < 255; ++i) accents += "\u00E9";
  EXPECT_EQ(Bound(adtype::kVarChar, 255, accents), data::BoundValue(accents));
  EXPECT_EQ(BindFailure(adtype::kVarChar, 255, accents + "x"), data::dberr::kOverflow);
  EXPECT_EQ(BindFailure(adtype::kChar, 32, std::string(33, 'A')), data::dberr::kOverflow);
  EXPECT_EQ(Bound(adtype::kLongVarWChar, 4, "abc"), data::BoundValue(std::string("abc")));
  EXPECT_EQ(Bound(adtype::kVarChar, 255, Variant()), data::BoundValue(std::string()));
  EXPECT_EQ(Bound(adtype::kVarChar, 255, Variant::Null()), data::BoundValue());
}

TEST(SqlCatalog, ProceduresAndMigrations) {
  const std::array<data::SqlFile, 1> migrations = {{{"0001_a.sql", "CREATE TABLE T (x);"}}};
  const std::array<data::SqlFile, 1> groups = {
      {{"g.sql", "-- the group\n-- @procedure P1\nSELECT 1;\n-- @procedure P2\nSELECT 2;\n"}}};
  const data::SqlCatalog catalog(migrations, groups);
  EXPECT_EQ(catalog.LatestVersion(), 1);
  EXPECT_EQ(catalog.Procedure("P1"), std::optional<std::string_view>("SELECT 1;\n"));
  EXPECT_EQ(catalog.Procedure("P2"), std::optional<std::string_view>("SELECT 2;\n"));
  EXPECT_EQ(catalog.Procedure("the group"), std::nullopt);

  const std::array<data::SqlFile, 2> twice = {
      {{"a.sql", "-- @procedure P\n"}, {"b.sql", "-- @procedure P\n"}}};
  EXPECT_THROW(data::SqlCatalog({}, twice), std::logic_error);
  const std::array<data::SqlFile, 1> gap = {{{"0002_b.sql", ""}}};
  EXPECT_THROW(data::SqlCatalog(gap, {}), std::logic_error);
  // The embedded files follow the rules.
  EXPECT_GE(data::SqlCatalog::Sqlite().LatestVersion(), 1);
}

}  // namespace
}  // namespace talvex
