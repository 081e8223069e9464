// Tests of the report's Windows-1251 conversion and of the stream that writes it: the report's
// own literals come out byte for byte, and text that cannot be converted is refused.
#include "output/report_stream.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <sstream>
#include <streambuf>
#include <string>

namespace nbsim::text {
namespace {

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (const int value : values) {
    out += static_cast<char>(value);
  }
  return out;
}

TEST(ToWindows1251, ConvertsTheReportLiteralsExactly) {
  EXPECT_EQ(toWindows1251("Используемые при моделировании параметры:\n"),
            bytes({0xC8, 0xF1, 0xEF, 0xEE, 0xEB, 0xFC, 0xE7, 0xF3, 0xE5, 0xEC, 0xFB,
                   0xE5, 0x20, 0xEF, 0xF0, 0xE8, 0x20, 0xEC, 0xEE, 0xE4, 0xE5, 0xEB,
                   0xE8, 0xF0, 0xEE, 0xE2, 0xE0, 0xED, 0xE8, 0xE8, 0x20, 0xEF, 0xE0,
                   0xF0, 0xE0, 0xEC, 0xE5, 0xF2, 0xF0, 0xFB, 0x3A, 0x0D, 0x0A}));
  EXPECT_EQ(
      toWindows1251("Q-ичный симметричный канал\n"),
      bytes({0x51, 0x2D, 0xE8, 0xF7, 0xED, 0xFB, 0xE9, 0x20, 0xF1, 0xE8, 0xEC, 0xEC, 0xE5, 0xF2,
             0xF0, 0xE8, 0xF7, 0xED, 0xFB, 0xE9, 0x20, 0xEA, 0xE0, 0xED, 0xE0, 0xEB, 0x0D, 0x0A}));
}

TEST(ToWindows1251, MapsEveryCyrillicLetterToItsOneByte) {
  std::string expected;
  for (int byte = 0xC0; byte <= 0xFF; ++byte) {
    expected += static_cast<char>(byte);
  }
  EXPECT_EQ(toWindows1251("АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюя"),
            expected);
  EXPECT_EQ(toWindows1251("Ёё"), bytes({0xA8, 0xB8}));
  EXPECT_EQ(toWindows1251("№ «» — € …"),
            bytes({0xB9, 0x20, 0xAB, 0xBB, 0x20, 0x97, 0x20, 0x88, 0x20, 0x85}));
}

TEST(ToWindows1251, KeepsAsciiAndEndsLinesWithCrLf) {
  EXPECT_EQ(toWindows1251("p = 0.24\tQ = 4"), "p = 0.24\tQ = 4");
  EXPECT_EQ(toWindows1251("a\n\nb\n"), "a\r\n\r\nb\r\n");
  EXPECT_EQ(toWindows1251("a\rb"), "a\rb");
  // No byte-order mark, not even for empty text.
  EXPECT_EQ(toWindows1251(""), "");
}

TEST(ToWindows1251, RefusesCharactersItCannotRepresent) {
  EXPECT_EQ(toWindows1251("中"), std::nullopt);
  EXPECT_EQ(toWindows1251("ok 😀"), std::nullopt);
  EXPECT_EQ(toWindows1251("café"), std::nullopt);
  EXPECT_EQ(toWindows1251("\xEF\xBB\xBFtext"), std::nullopt);  // a byte-order mark
}

TEST(ToWindows1251, RefusesInvalidUtf8) {
  EXPECT_EQ(toWindows1251("\x80"), std::nullopt);    // stray continuation byte
  EXPECT_EQ(toWindows1251("ab\xD0"), std::nullopt);  // truncated letter
  EXPECT_EQ(toWindows1251("\xD0"
                          "A"),
            std::nullopt);                                     // missing continuation byte
  EXPECT_EQ(toWindows1251("\xC0\xAF"), std::nullopt);          // overlong '/'
  EXPECT_EQ(toWindows1251("\xE0\x90\x90"), std::nullopt);      // overlong 'А'
  EXPECT_EQ(toWindows1251("\xED\xA0\x80"), std::nullopt);      // surrogate
  EXPECT_EQ(toWindows1251("\xF4\x90\x80\x80"), std::nullopt);  // beyond U+10FFFF
  EXPECT_EQ(toWindows1251("\xC8\xF1"), std::nullopt);          // already Windows-1251
}

TEST(ReportStream, WritesTheConvertedBytes) {
  std::ostringstream file;
  ReportStream report(file);
  report << "Канал"
         << ": Q = "
         << "4\n";
  report.flush();
  EXPECT_TRUE(report.good());
  EXPECT_EQ(file.str(),
            bytes({0xCA, 0xE0, 0xED, 0xE0, 0xEB, ':', ' ', 'Q', ' ', '=', ' ', '4', 0x0D, 0x0A}));
}

// A file that refuses every byte and every flush.
class FailingBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
  int sync() override { return -1; }
};

TEST(ReportStream, GoodTurnsFalseWhenWritingOrFlushingFails) {
  FailingBuffer failing;
  std::ostream writeTarget(&failing);
  ReportStream writes(writeTarget);
  EXPECT_TRUE(writes.good());
  writes << "x";
  EXPECT_FALSE(writes.good());

  std::ostream flushTarget(&failing);
  ReportStream flushes(flushTarget);
  flushes.flush();
  EXPECT_FALSE(flushes.good());
}

TEST(ReportStreamDeathTest, AbortsRatherThanWriteUnconvertibleText) {
  std::ostringstream file;
  ReportStream report(file);
  EXPECT_DEATH(report << "канал 中", "Windows-1251.*канал");
}

}  // namespace
}  // namespace nbsim::text
