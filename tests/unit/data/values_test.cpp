// Record sets, parameter binding and the SQL catalog: the pieces every call goes through.
#include <gtest/gtest.h>

#include <array>
#include <stdexcept>

#include "data/data_errors.hpp"
#include "data/sql_catalog.hpp"
#include "data_support.hpp"

namespace talvex::test {
namespace {

Recordset::FieldNames NamesOf(std::vector<std::string> names) {
  return std::make_shared<const std::vector<std::string>>(std::move(names));
}

TEST(Recordset, NavigationFieldsAndPositions) {
  const auto names = NamesOf({"GWQID", "Subject", "Body"});
  Recordset rows(names, {Variant(1), Variant("s1"), Variant("b1"), Variant(2), Variant::Null(),
                         Variant("b2")});
  ASSERT_EQ(rows.RecordCount(), 2);
  // Names compare without regard to case; positions are found once and hold on every row.
  const std::size_t body = rows.FieldIndex("bODY");
  EXPECT_EQ(body, 2u);
  EXPECT_EQ(rows.Fields("gwqid"), Variant(1));
  // An unknown name fails as a read by that name does, source and text alike.
  const Failure unknown = Raised([&] { (void)rows.FieldIndex("Bod"); });
  const Failure unknownRead = Raised([&] { (void)rows.Fields("Bod"); });
  EXPECT_TRUE(unknown.Is(ErrorNumber::kItemNotFound));
  EXPECT_EQ(unknown.Source(), unknownRead.Source());
  EXPECT_EQ(unknown.Description(), unknownRead.Description());
  EXPECT_TRUE(Raised([&] { (void)rows.FieldAt(3); }).Is(ErrorNumber::kItemNotFound));

  EXPECT_EQ(rows.FieldAt(body), Variant("b1"));
  rows.Fields("Subject") = Variant("changed");
  rows.MoveNext();
  EXPECT_EQ(rows.FieldAt(body), Variant("b2"));
  EXPECT_TRUE(rows.FieldAt(rows.FieldIndex("subject")).IsNull());
  // A field taken out of the record set leaves the other rows and fields as they were.
  EXPECT_EQ(std::move(rows.FieldAt(body)).TextOrEmpty(), "b2");
  EXPECT_EQ(std::move(rows.FieldAt(0)).TextOrEmpty(), "2");
  rows.MoveNext();
  EXPECT_TRUE(rows.Eof());
  EXPECT_TRUE(Raised([&] { rows.MoveNext(); }).Is(ErrorNumber::kNoCurrentRecord));
  EXPECT_TRUE(Raised([&] { (void)rows.Fields("GWQID"); }).Is(ErrorNumber::kNoCurrentRecord));
  rows.MoveFirst();
  EXPECT_EQ(rows.Fields("Body"), Variant("b1"));
  EXPECT_EQ(rows.FieldAt(1), Variant("changed"));
  rows.FieldAt(1) = Variant("again");
  EXPECT_EQ(rows.Fields("SUBJECT"), Variant("again"));

  // Positions need no current row, the reads do; a closed set has neither.
  const Recordset none(names, {});
  EXPECT_TRUE(none.Eof());
  EXPECT_EQ(none.FieldIndex("Body"), 2u);
  EXPECT_TRUE(Raised([&] { (void)none.FieldAt(0); }).Is(ErrorNumber::kNoCurrentRecord));
  const Recordset closed;
  EXPECT_FALSE(closed.IsOpen());
  EXPECT_TRUE(Raised([&] { (void)closed.Eof(); }).Is(ErrorNumber::kObjectClosed));
  EXPECT_TRUE(Raised([&] { (void)closed.FieldIndex("Body"); }).Is(ErrorNumber::kObjectClosed));
  EXPECT_TRUE(Raised([&] { (void)closed.FieldAt(0); }).Is(ErrorNumber::kObjectClosed));
}

TEST(Recordset, PositionsFollowTheFieldListOfEachQuery) {
  FieldPositions<2> positions({"body", "GWQID"});
  const auto itemQuery = NamesOf({"GWQID", "Body"});
  const Recordset first(itemQuery, {Variant(1), Variant("a")});
  const Recordset second(itemQuery, {Variant(2), Variant("b")});
  EXPECT_EQ(positions.In(first), (std::array<std::size_t, 2>{1, 0}));
  EXPECT_EQ(second.FieldAt(positions.In(second)[0]), Variant("b"));

  // Another query with the same names in another order: the positions are found anew.
  const Recordset reordered(NamesOf({"Body", "Extra", "GWQID"}), {Variant("c"), Variant(), 3});
  EXPECT_EQ(positions.In(reordered), (std::array<std::size_t, 2>{0, 2}));
  EXPECT_EQ(first.FieldAt(positions.In(first)[1]), Variant(1));

  // A list that lacks a name fails every time and leaves the positions of the last good list.
  const Recordset lacking(NamesOf({"GWQID"}), {Variant(4)});
  EXPECT_TRUE(Raised([&] { positions.In(lacking); }).Is(ErrorNumber::kItemNotFound));
  EXPECT_TRUE(Raised([&] { positions.In(lacking); }).Is(ErrorNumber::kItemNotFound));
  EXPECT_TRUE(Raised([&] { positions.In(Recordset()); }).Is(ErrorNumber::kObjectClosed));
  EXPECT_EQ(positions.In(first), (std::array<std::size_t, 2>{1, 0}));
}

data::BoundValue Bound(AdType type, std::int32_t size, const Variant& value) {
  return data::BindParameter({"P", type, size, value}).value;
}

ErrorNumber BindFailure(AdType type, std::int32_t size, const Variant& value) {
  return ErrorNumber{Raised([&] { Bound(type, size, value); }).Number()};
}

TEST(ParameterBinding, ValuesAreConvertedByTypeAndNeverCut) {
  using data::BoundValue;
  using enum ErrorNumber;
  EXPECT_EQ(Bound(AdType::kInteger, 4, "42"), BoundValue(std::int64_t{42}));
  EXPECT_EQ(Bound(AdType::kSmallInt, 2, "-32768"), BoundValue(std::int64_t{-32768}));
  EXPECT_EQ(Bound(AdType::kSmallInt, 2, true), BoundValue(std::int64_t{-1}));
  EXPECT_EQ(BindFailure(AdType::kSmallInt, 2, "32768"), kDbOverflow);
  EXPECT_EQ(BindFailure(AdType::kInteger, 4, "2147483648"), kDbOverflow);
  EXPECT_EQ(BindFailure(AdType::kInteger, 4, "1.5"), kDbConversion);
  EXPECT_EQ(BindFailure(AdType::kInteger, 4, " "), kDbConversion);
  EXPECT_EQ(BindFailure(static_cast<AdType>(99), 4, "1"), kDbConversion);
  // An omitted argument is NULL, for texts only a null one.
  EXPECT_EQ(Bound(AdType::kInteger, 4, ""), BoundValue());
  EXPECT_EQ(Bound(AdType::kSmallInt, 2, Variant::Null()), BoundValue());
  EXPECT_EQ(Bound(AdType::kVarChar, 255, Variant()), BoundValue(std::string()));
  EXPECT_EQ(Bound(AdType::kVarChar, 255, Variant::Null()), BoundValue());
  EXPECT_EQ(Bound(AdType::kCurrency, 4, "-12.3456"), BoundValue(data::Currency{-123456}));
  EXPECT_EQ(BindFailure(AdType::kCurrency, 4, "1e16"), kDbOverflow);
  EXPECT_EQ(Bound(AdType::kDate, 8, "2024-02-29T13:05"),
            BoundValue(data::Timestamp{"2024-02-29 13:05:00"}));
  EXPECT_EQ(BindFailure(AdType::kDate, 8, "2023-02-29"), kDbConversion);
  // Sizes count characters, not octets.
  std::string accents;
  for (int i = 0; i < 255; ++i) accents += "\u00E9";
  EXPECT_EQ(Bound(AdType::kVarChar, 255, accents), BoundValue(accents));
  EXPECT_EQ(BindFailure(AdType::kVarChar, 255, accents + "x"), kDbOverflow);
  EXPECT_EQ(Bound(AdType::kLongVarWChar, 4, "abc"), BoundValue(std::string("abc")));
  const Failure failure = Raised([] {
    data::BindParameter({"GWQID", AdType::kInteger, 4, "abc"});
  });
  EXPECT_EQ(failure.Source(), "SMS_Quillon");
  EXPECT_EQ(failure.Description(), "Parameter 'GWQID' (adInteger): 'abc' is not a number");
}

TEST(SqlCatalog, ProceduresEndAtTheNextAndBreachesOfTheRulesAreRefused) {
  const std::array<data::SqlFile, 1> groups = {
      {{"g.sql", "-- the group\n-- @procedure P1\nSELECT 1;\n-- @procedure P2\nSELECT 2;\n"}}};
  const data::SqlCatalog catalog({}, groups);
  EXPECT_EQ(catalog.Procedure("P1"), std::optional<std::string_view>("SELECT 1;\n"));
  EXPECT_EQ(catalog.Procedure("the group"), std::nullopt);

  const std::array<data::SqlFile, 2> twice = {
      {{"a.sql", "-- @procedure P\n"}, {"b.sql", "-- @procedure P\n"}}};
  EXPECT_THROW(data::SqlCatalog({}, twice), std::logic_error);
  const std::array<data::SqlFile, 1> gap = {{{"0002_b.sql", ""}}};
  EXPECT_THROW(data::SqlCatalog(gap, {}), std::logic_error);
}

}  // namespace
}  // namespace talvex::test
