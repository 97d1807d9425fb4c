// Record sets and parameter binding: the pieces every call goes through.
#include <gtest/gtest.h>

#include <functional>

#include "data/data_errors.hpp"
#include "data/parameter.hpp"
#include "data/recordset.hpp"

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

}  // namespace
}  // namespace talvex
