#include <gtest/gtest.h>

#include "support/Common.h"
#include "support/DateTime.h"
#include "support/Typeconvert.h"

namespace qvu {
namespace {

TEST(TextToInt, AcceptsOnlyWholeNumbersInRange) {
  struct Case { const char* text; int32_t want; } cases[] = {
      {"8080", 8080}, {"-5", -5}, {"+7", 7}, {"1.5", 0}, {"abc", 0}, {"", 0}, {"-", 0},
      {" 1", 0}, {"2147483647", 2147483647}, {"2147483648", 0}, {"-2147483648", INT32_MIN},
      {"99999999999999999999", 0}};
  for (const auto& c : cases) EXPECT_EQ(TextToInt(c.text), c.want) << c.text;
}

TEST(IntToText, WritesUnsignedDecimal) {
  EXPECT_EQ(IntToText(1234), "1234");
  EXPECT_EQ(IntToText(0), "0");
  EXPECT_EQ(IntToText(-1), "4294967295");
}

TEST(SubText, CutsByCharacters) {
  struct Case { const char* text; int start, count; const char* want; } cases[] = {
      {"abcdef", 2, 3, "bcd"}, {"abc", 3, 5, "c"}, {"abc", 4, 1, ""}, {"abc", 0, 2, "ab"},
      {"abc", 1, 0, ""}, {"abc", -3, 1, "a"}, {"", 1, 1, ""},
      {"日本語", 2, 1, "本"}};  // multi-byte characters count once
  for (const auto& c : cases) EXPECT_EQ(SubText(c.text, c.start, c.count), c.want) << c.text;
}

TEST(GetCommonName, TakesFirstUpperCaseCnItem) {
  struct Case { const char* dn; const char* want; } cases[] = {
      {"/C=JP/O=Org/CN=host1", "host1"}, {"/C=JP/O=Org", ""}, {"/cn=host1", ""},
      {"/CN=first/CN=second", "first"}, {"/O=A B/CN=with blank", "with blank"},
      {"CN=nolead", "nolead"}, {"", ""}, {"/CN=", ""}};
  for (const auto& c : cases) EXPECT_EQ(GetCommonName(c.dn), c.want) << c.dn;
}

TEST(EndsWithText, IsCaseSensitiveAndAcceptsEmptySuffix) {
  EXPECT_TRUE(EndsWithText("def", "abcdef"));
  EXPECT_FALSE(EndsWithText("DEF", "abcdef"));
  EXPECT_TRUE(EndsWithText("", "abcdef"));
  EXPECT_TRUE(EndsWithText("", ""));
  EXPECT_FALSE(EndsWithText("xabcdef", "abcdef"));
}

TEST(Trim, DropsBlanksTabsAndLineEndsAround) {
  EXPECT_EQ(Trim("  a b \t\r\n"), "a b");
  EXPECT_EQ(Trim(" \t "), "");
  EXPECT_EQ(Trim("x"), "x");
}

TEST(CompareOrdinalUtf16, ComparesCodeUnitsNotBytes) {
  EXPECT_LT(CompareOrdinalUtf16("1.2.3", "1.2.3.4"), 0);  // a prefix is smaller
  EXPECT_GT(CompareOrdinalUtf16("9", "10"), 0);
  EXPECT_EQ(CompareOrdinalUtf16("abc", "abc"), 0);
  EXPECT_LT(CompareOrdinalUtf16("A", "a"), 0);
  // U+FF21 (one UTF-16 unit) sorts after U+1F600 (a surrogate pair starting 0xD83D) in
  // UTF-16, although its UTF-8 bytes sort before.
  EXPECT_GT(CompareOrdinalUtf16("\xEF\xBC\xA1", "\xF0\x9F\x98\x80"), 0);
}

TEST(DateTime, EncodesDaysSinceOrigin) {
  TDateTime v = 0;
  ASSERT_TRUE(TryEncodeDateTime({1899, 12, 30, 0, 0, 0, 0}, v));
  EXPECT_EQ(v, 0.0);
  ASSERT_TRUE(TryEncodeDateTime({1900, 1, 1, 12, 0, 0, 0}, v));
  EXPECT_DOUBLE_EQ(v, 2.5);
  ASSERT_TRUE(TryEncodeDateTime({2018, 7, 5, 9, 3, 7, 0}, v));
  DateTimeParts p = DecodeDateTime(v);
  EXPECT_EQ(p.year, 2018);
  EXPECT_EQ(p.month, 7);
  EXPECT_EQ(p.day, 5);
  EXPECT_EQ(p.hour, 9);
  EXPECT_EQ(p.minute, 3);
  EXPECT_EQ(p.second, 7);
  EXPECT_FALSE(TryEncodeDateTime({2019, 2, 29, 0, 0, 0, 0}, v));
  EXPECT_TRUE(TryEncodeDateTime({2020, 2, 29, 0, 0, 0, 0}, v));
}

TEST(DateTime, TextRoundTripInFixedFormats) {
  TDateTime v = 0;
  ASSERT_TRUE(TryEncodeDateTime({2024, 3, 9, 7, 5, 3, 0}, v));
  EXPECT_EQ(DateTimeToText(v), "2024/03/09 7:05:03");
  EXPECT_EQ(TextToDateTime("2024/03/09 7:05:03"), v);
  ASSERT_TRUE(TryEncodeDateTime({2024, 3, 9, 0, 0, 0, 0}, v));
  EXPECT_EQ(DateTimeToText(v), "2024/03/09");  // the date alone at midnight
  EXPECT_EQ(TextToDateTime("2024/3/9"), v);
}

TEST(DateTime, ParsesWhatAUserWouldTypeAndRejectsTheRest) {
  struct Case { const char* text; bool ok; } cases[] = {
      {"2018/07/05 09:03:07", true}, {"2018/7/5 9:03", true}, {"2018/7/5", true},
      {" 2018/07/05 23:59:59 ", true}, {"2018/07/05  9:03:07", true},
      {"2018/07/05 9:3", true}, {"2018/7/5 9:3:7", true}, {"2018/07/05 09:03:07.5", true},
      {"2018/07/05 09:03:07.1234567", true}, {"18/7/5", true},
      {"2018-07-05", false}, {"018/7/5", false}, {"8/7/5", false}, {"2018/13/01", false},
      {"2018/02/30", false}, {"2018/007/05", false}, {"2018/07/05 24:00:00", false},
      {"2018/07/05 9:03:070", false}, {"2018/07/05 9:03.5", false}, {"2018/07/05 9:03:07.", false},
      {"2018/07/05 9:03:07,5", false}, {"2018/07/05T09:03", false}, {"", false}, {"abc", false},
      {"2018/07/05 9:03:07 x", false}};
  for (const auto& c : cases) {
    TDateTime v = 0;
    EXPECT_EQ(TryTextToDateTime(c.text, v), c.ok) << c.text;
  }
  EXPECT_THROW(TextToDateTime("not a date"), EConvertError);
}

TEST(DateTime, FractionsAndTwoDigitYears) {
  TDateTime v = 0;
  ASSERT_TRUE(TryTextToDateTime("2018/07/05 9:03:07.5", v));
  EXPECT_EQ(DecodeDateTime(v).millisecond, 500);
  ASSERT_TRUE(TryTextToDateTime("2018/07/05 9:03:07.0999", v));
  EXPECT_EQ(DecodeDateTime(v).millisecond, 99) << "digits past milliseconds are dropped";
  ASSERT_TRUE(TryTextToDateTime("2018/07/05 23:59:59.9999", v));
  EXPECT_EQ(DecodeDateTime(v).day, 5) << "never rounded into the next day";

  // The window starts 50 years before the current year and spans 100 years.
  struct Case { const char* text; int currentYear; int year; } years[] = {
      {"75/1/1", 2025, 1975}, {"74/1/1", 2025, 2074}, {"00/1/1", 2025, 2000},
      {"99/1/1", 2025, 1999}, {"49/1/1", 2099, 2049}, {"48/1/1", 2099, 2148},
      {"50/1/1", 2000, 1950}, {"49/1/1", 2000, 2049}};
  for (const auto& c : years) {
    ASSERT_TRUE(TryTextToDateTime(c.text, v, c.currentYear)) << c.text;
    EXPECT_EQ(DecodeDateTime(v).year, c.year) << c.text << " in " << c.currentYear;
  }
}

TEST(VariantToText, WritesEachKindAsThePlatformDoes) {
  TDateTime d = 0;
  ASSERT_TRUE(TryEncodeDateTime({1974, 9, 21, 0, 0, 0, 0}, d));
  struct Case { Variant v; const char* want; } cases[] = {
      {Variant::Null(), ""}, {Variant{}, ""}, {Variant::Text("abc"), "abc"},
      {Variant::Integer(333333333), "333333333"}, {Variant::Integer(-2), "-2"},
      {Variant::Float(444.555), "444.555"}, {Variant::Float(0.1 + 0.2), "0.3"},
      {Variant::Float(1e20), "1E20"}, {Variant::Float(-0.5), "-0.5"},
      {Variant::Float(0.0001), "0.0001"},
      {Variant::Currency(35000), "3.5"}, {Variant::Currency(0), "0"},
      {Variant::Currency(-12345), "-1.2345"}, {Variant::Currency(-5000), "-0.5"},
      {Variant::DateTime(d), "1974/09/21"}, {Variant::DateTime(d + 0.5), "1974/09/21 12:00:00"},
      {Variant::Boolean(true), "True"}, {Variant::Boolean(false), "False"}};
  for (const auto& c : cases) EXPECT_EQ(VariantToText(c.v), c.want) << c.want;
}

// The 8-bit services get texts in the ANSI code page: 932 under Wine with a Japanese locale
// and on the shops' machines, where "表" ends in the byte of a backslash; UTF-8 on Linux.
TEST(AnsiCodePage, ConvertsToTheSystemsCodePageAndBack) {
#ifdef _WIN32
  EXPECT_EQ(ToAnsiCodePage("表\\x.txt"), "\x95\x5C\\x.txt");
#else
  EXPECT_EQ(ToAnsiCodePage("表\\x.txt"), "表\\x.txt");
#endif
  EXPECT_EQ(FromAnsiCodePage(ToAnsiCodePage("日本語 abc")), "日本語 abc");
  EXPECT_EQ(ToAnsiCodePage(""), "");
}

}  // namespace
}  // namespace qvu
