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

// The counts skip ASCII a word at a time: a character that is not ASCII must be found wherever
// it falls within or across the eight-byte steps, and at either end of the text.
TEST(Utf16, CountsAgreeWithTheConversionsWhereverOtherCharactersFall) {
  struct Sequence {
    const char* bytes;
    std::size_t units;    // UTF-16 code units
    std::size_t encoded;  // Windows-1252 octets
  };
  const Sequence sequences[] = {
      {"\xC3\xA9", 1, 1},          // é
      {"\xE2\x82\xAC", 1, 1},      // €
      {"\xF0\x9F\x98\x80", 2, 1},  // an emoji: a surrogate pair, one "?"
      {"\xC3", 1, 1},              // malformed: a lead byte alone
      {"\x80\x80", 2, 2},          // malformed: stray continuation bytes
  };
  for (const Sequence& sequence : sequences) {
    for (std::size_t before = 0; before <= 17; ++before) {
      for (const std::size_t after : {0UL, 1UL, 7UL, 8UL, 9UL}) {
        const std::string text =
            std::string(before, 'a') + sequence.bytes + std::string(after, 'b');
        const std::size_t ascii = before + after;
        SCOPED_TRACE(testing::Message() << sequence.bytes << " after " << before << " bytes");
        EXPECT_EQ(utf16::Length(text), ascii + sequence.units);
        EXPECT_EQ(utf16::Length(text), utf16::FromUtf8(text).size());
        EXPECT_EQ(ansi::EncodedLength(text), ascii + sequence.encoded);
        EXPECT_EQ(ansi::Encode(text).size(), ascii + sequence.encoded);
      }
    }
  }
  EXPECT_EQ(utf16::Length(""), 0U);
  EXPECT_EQ(utf16::Length(std::string(4096, 'x')), 4096U);
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
