// The text model's conversions and the Variant rules that the rest of the system leans on.
#include <gtest/gtest.h>

#include "platform/ansi.hpp"
#include "platform/failure.hpp"
#include "platform/variant.hpp"

namespace talvex {
namespace {

TEST(Ansi, EveryByteSurvivesDecodeThenEncode) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string text = ansi::Decode(all);
  EXPECT_EQ(ansi::Encode(text), all);
  EXPECT_EQ(ansi::EncodedLength(text), all.size());
}

TEST(Ansi, MapsWindows1252AndReplacesTheRest) {
  EXPECT_EQ(ansi::Encode("Caf\xC3\xA9 = 5\xE2\x82\xAC"), "Caf\xE9 = 5\x80");  // é and €
  EXPECT_EQ(ansi::Decode("\x80\x9F"), "\xE2\x82\xAC\xC5\xB8");                // € and Ÿ
  // Outside the code page (U+9A6C, an emoji) and malformed UTF-8 become "?", one per character.
  const std::string foreign = "\xE9\xA9\xAC-\xF0\x9F\x98\x80-\xC3";
  EXPECT_EQ(ansi::Encode(foreign), "?-?-?");
  EXPECT_EQ(ansi::EncodedLength(foreign), 5U);
}

TEST(Utf16, CountsCodeUnitsAndPairsSurrogates) {
  const std::u16string units = utf16::FromUtf8("A\xC3\xA9\xF0\x9F\x98\x80");
  ASSERT_EQ(units.size(), 4U);
  EXPECT_EQ(units[2], 0xD83D);
  EXPECT_EQ(units[3], 0xDE00);
  EXPECT_EQ(utf16::ToUtf8(units), "A\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(utf16::ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");  // lone surrogate
}

TEST(Variant, ConvertsLikeAutomationValues) {
  EXPECT_EQ(Variant().ToText(), "");
  EXPECT_EQ(Variant(true).ToText(), "True");
  EXPECT_EQ(Variant(2.5).ToText(), "2.5");
  EXPECT_EQ(Variant(std::int64_t{-7}).ToText(), "-7");
  EXPECT_EQ(Variant::Null().TextOrEmpty(), "");
  // Texts are read as numbers, and halves round to even (the rules of rules_test.cpp).
  EXPECT_EQ(Variant(" 12.5 ").ToInt16(), 12);
  EXPECT_EQ(Variant("-3").ToInt32(), -3);
  EXPECT_TRUE(Variant("1").EqualsNumber(1));
  EXPECT_FALSE(Variant::Null().EqualsNumber(0));
  EXPECT_FALSE(Variant("x").EqualsNumber(0));
  EXPECT_TRUE(Variant("false").ToBool() == false && Variant(std::int64_t{2}).ToBool());
}

TEST(Variant, RaisesTheAutomationErrors) {
  const auto number = [](const auto& fn) {
    try {
      fn();
    } catch (const Failure& f) {
      return ErrorNumber{f.Number()};
    }
    return ErrorNumber{};
  };
  EXPECT_EQ(number([] { Variant::Null().ToText(); }), ErrorNumber::kInvalidUseOfNull);
  EXPECT_EQ(number([] { Variant("abc").ToInt16(); }), ErrorNumber::kTypeMismatch);
  EXPECT_EQ(number([] { Variant(std::int64_t{40000}).ToInt16(); }), ErrorNumber::kOverflow);
  EXPECT_EQ(number([] { Variant(32767.5).ToInt16(); }), ErrorNumber::kOverflow);
  EXPECT_EQ(number([] { Variant(-32768.4).ToInt16(); }), ErrorNumber{});
}

}  // namespace
}  // namespace talvex
