// Tests of reading the code description "encoder.txt": the accepted layouts, the refusals with
// the file named in the message, the clamp to four branches of each kind, and a tap of 1000 or
// more.
#include "code/code_file_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "code/nonbinary_codec.h"

namespace nbsim {
namespace {

using Taps = std::vector<std::int32_t>;

constexpr std::string_view kFileName = "codes/enc.txt";

constexpr std::string_view kTwoByTwo =
    "nk=2  nr=2\n  i=0  v=0  2  0  4\n  i=1  v=0  1  9\n  i=0  v=1  3  2  6  7\n  i=1  v=1  0\n";

void expectTwoByTwo(const CodeFileResult& result) {
  ASSERT_TRUE(result.code.has_value()) << result.error;
  const CodeDescription& code = *result.code;
  EXPECT_EQ(code.nk, 2);
  EXPECT_EQ(code.nr, 2);
  EXPECT_EQ(code.polynomials[0][0].taps, (Taps{0, 4}));
  EXPECT_EQ(code.polynomials[1][0].taps, (Taps{9}));
  EXPECT_EQ(code.polynomials[0][1].taps, (Taps{2, 6, 7}));
  EXPECT_EQ(code.polynomials[1][1].taps, Taps{});
}

// A description of nk x nr polynomials, each holding the single tap tapOf(i, v).
template <typename TapOf>
std::string generatedDescription(int nk, int nr, TapOf tapOf) {
  std::ostringstream text;
  text << "nk=" << nk << "  nr=" << nr << "\n";
  for (int v = 0; v < nr; ++v) {
    for (int i = 0; i < nk; ++i)
      text << "  i=" << i << "  v=" << v << "  1  " << tapOf(i, v) << "\n";
  }
  return text.str();
}

TEST(CodeDescriptionFile, ReadsTheTwoByTwoExample) {
  const CodeFileResult result = parseCodeDescription(kTwoByTwo, kFileName);
  EXPECT_TRUE(result.error.empty());
  EXPECT_FALSE(result.tapOutOfRange);
  expectTwoByTwo(result);
}

TEST(CodeDescriptionFile, LineBreaksSpacingLabelsAndSignsCarryNoMeaning) {
  const char* const layouts[] = {
      "nk=2\nnr=2\ni=0 v=0 2 0 4 i=1 v=0 1 9 i=0 v=1 3 2 6 7 i=1 v=1 0",
      "nk=2nr=2i=0v=0 2 0 4i=1v=0 1 9i=0v=1 3 2 6 7i=1v=1 0",
      "nk= +2\r\n\tnr=\n2\r\n  i=7  v=-3\n2\n0\n4\n  i=0 v=0 1 9 i=5 v=5 +3 2 +6 7 i=1 v=1 -0",
      "nk=2  nr=2  i=0  v=0  2  00  04  i=1  v=0  1  9  i=0  v=1  3  2  6  7  i=1  v=1  0\n",
  };
  for (const char* text : layouts) {
    SCOPED_TRACE(text);
    expectTwoByTwo(parseCodeDescription(text, kFileName));
  }
}

TEST(CodeDescriptionFile, IgnoresEverythingAfterTheLastTap) {
  expectTwoByTwo(parseCodeDescription(std::string(kTwoByTwo) + "end -5 i= \x01\xff", kFileName));
  // Taps beyond the count of the last polynomial are text after the last tap as well.
  const CodeFileResult surplus =
      parseCodeDescription("nk=1 nr=2 i=0 v=0 1 3 i=0 v=1 1 5 6 7", kFileName);
  ASSERT_TRUE(surplus.code.has_value()) << surplus.error;
  EXPECT_EQ(surplus.code->polynomials[0][1].taps, (Taps{5}));
}

TEST(CodeDescriptionFile, SurplusTapInAnEarlierPolynomialMeetsTheNextLabelAndFails) {
  const CodeFileResult result =
      parseCodeDescription("nk=1 nr=2 i=0 v=0 1 3 4 i=0 v=1 1 5", kFileName);
  EXPECT_FALSE(result.code.has_value());
  EXPECT_FALSE(result.tapOutOfRange);
}

TEST(CodeDescriptionFile, RefusesMalformedDescriptionsNamingTheFile) {
  const char* const texts[] = {
      "",
      " nk=1 nr=1 i=0 v=0 1 0",
      "\xEF\xBB\xBFnk=1 nr=1 i=0 v=0 1 0",
      "NK=1 nr=1 i=0 v=0 1 0",
      "nk=0 nr=1 i=0 v=0 1 0",
      "nk=41 nr=1 i=0 v=0 1 0",
      "nk=1 nr=0 i=0 v=0 1 0",
      "nk=1 nr=41 i=0 v=0 1 0",
      "nk=99999999999999999999 nr=1 i=0 v=0 1 0",
      "nk=1 nr=1 i=0 v=0 -1",
      "nk=1 nr=1 i=0 v=0 2 0 -3",
      "nk=1 nr=1 i=0 v=0 3 0 1",
      "nk=1 nr=1 i=0 v=0 2 0 x",
      "nk=1 nr=2 i=0 v=0 1 0",
      "nk=2 nr=1 i=0 v=0 1 0 v=0 1 0",
      "nk=1 nr=1 i=0 v=0",
      "nk=1 nr=1 i=0 v=x 1 0",
      "nk=1 nr=1 i=0 v=0 - 1 0",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    const CodeFileResult result = parseCodeDescription(text, kFileName);
    EXPECT_FALSE(result.code.has_value());
    EXPECT_FALSE(result.tapOutOfRange);
    EXPECT_EQ(result.error.rfind(std::string(kFileName), 0), 0u) << result.error;
  }
}

TEST(CodeDescriptionFile, KeepsOnlyTheFirstFourBranchesOfEachKind) {
  // Tap 10i + v, and 900 in every polynomial that the clamp drops.
  const auto tapOf = [](int i, int v) { return i < 4 && v < 4 ? 10 * i + v : 900; };
  const CodeFileResult result = parseCodeDescription(generatedDescription(6, 5, tapOf), kFileName);
  ASSERT_TRUE(result.code.has_value()) << result.error;
  EXPECT_EQ(result.code->nk, 4);
  EXPECT_EQ(result.code->nr, 4);
  for (int i = 0; i < 4; ++i) {
    for (int v = 0; v < 4; ++v) EXPECT_EQ(result.code->polynomials[i][v].taps, (Taps{10 * i + v}));
  }
  // The dropped taps of 900 do not reach the block length: 2 x 33 + 1.
  EXPECT_EQ(NonBinaryCodec(*result.code, 16, 2).blockLength(), 67);
}

TEST(CodeDescriptionFile, WarnsAboutDroppedBranchesAndRepeatedTaps) {
  EXPECT_TRUE(parseCodeDescription(kTwoByTwo, kFileName).warnings.empty());
  const CodeFileResult result = parseCodeDescription(
      "nk=5\nnr=1\ni=0 v=0 3 1 4 1\ni=1 v=0 2 2 2\ni=2 v=0 1 7\n"
      "i=3 v=0 1 8\ni=4 v=0 2 9 9",
      kFileName);
  // The dropped branch's repeated tap is nobody's concern.
  EXPECT_EQ(result.warnings,
            (std::vector<std::string>{
                std::string(kFileName) + ": line 1: nk=5: only the first 4 information branches "
                                         "are used; the polynomials of the others are dropped",
                std::string(kFileName) + ": line 3: polynomial i=0 v=0 lists tap 1 more than "
                                         "once: its checks take that symbol twice and the code "
                                         "distance that the report gives does not hold",
                std::string(kFileName) + ": line 4: polynomial i=1 v=0 lists tap 2 more than "
                                         "once: its checks take that symbol twice and the code "
                                         "distance that the report gives does not hold"}));
}

TEST(CodeDescriptionFile, AcceptsFortyBranchesOfEachKind) {
  const auto tapOf = [](int i, int v) { return (i * 7 + v) % 1000; };
  const CodeFileResult result =
      parseCodeDescription(generatedDescription(40, 40, tapOf), kFileName);
  ASSERT_TRUE(result.code.has_value()) << result.error;
  EXPECT_EQ(result.code->nk, 4);
  EXPECT_EQ(result.code->polynomials[3][2].taps, (Taps{23}));
}

TEST(CodeDescriptionFile, TapOfOneThousandStopsTheReadEvenInADroppedPolynomial) {
  const auto inDropped = [](int i, int v) { return i == 5 && v == 0 ? 1000 : 999; };
  const std::string texts[] = {
      generatedDescription(6, 1, inDropped),
      "nk=1 nr=2 i=0 v=0 2 5 123456789 i=0 v=1 -1",  // the fault after it is never reached
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    const CodeFileResult result = parseCodeDescription(text, kFileName);
    EXPECT_FALSE(result.code.has_value());
    EXPECT_TRUE(result.tapOutOfRange);
    EXPECT_EQ(result.error.rfind(std::string(kFileName), 0), 0u) << result.error;
  }
  // A fault read before the large tap is the one reported.
  EXPECT_FALSE(parseCodeDescription("nk=1 nr=1 i=0 v=0 2 -1 1000", kFileName).tapOutOfRange);
}

}  // namespace
}  // namespace nbsim
