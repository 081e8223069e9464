// Reads the code description with the matching rules of C formatted input: a blank matches any
// run of whitespace, other pattern characters must match exactly, %d skips whitespace and reads
// an optional sign and decimal digits.
#include "code/code_file_reader.h"

#include <algorithm>
#include <bitset>
#include <cstdint>

namespace nbsim {
namespace {

// Branch counts that a description may declare; the polynomial table of the file has room for
// this many branches of each kind.
constexpr std::int64_t maxDeclaredBranches = 40;
constexpr std::int64_t tapLimit = 1000;

class PatternScanner {
 public:
  explicit PatternScanner(std::string_view text) : text_(text) {}

  // A blank in a pattern: any run of whitespace, also an empty one.
  void skipWhitespace() {
    while (pos_ < text_.size() && isWhitespace(text_[pos_])) ++pos_;
  }

  // Pattern characters that must equal the next characters of the text.
  bool literal(std::string_view chars) {
    for (char c : chars) {
      if (pos_ >= text_.size() || text_[pos_] != c) return false;
      ++pos_;
    }
    return true;
  }

  // %d. Magnitudes beyond any count or tap that could be valid saturate, so that a huge number
  // is still judged by its sign and size without overflowing.
  std::optional<std::int64_t> integer() {
    skipWhitespace();
    bool negative = false;
    if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) {
      negative = text_[pos_] == '-';
      ++pos_;
    }
    constexpr std::int64_t saturation = std::int64_t{1} << 40;
    std::int64_t value = 0;
    std::size_t digits = 0;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
      if (value < saturation) value = value * 10 + (text_[pos_] - '0');
      ++pos_;
      ++digits;
    }
    if (digits == 0) return std::nullopt;
    return negative ? -value : value;
  }

 private:
  static bool isWhitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  // Line ends before `counted_`, which only moves forward with `pos_`.
  std::size_t counted_ = 0;
  std::int64_t lineEnds_ = 0;

 public:
  // The line (from 1) of the next unread character.
  std::int64_t line() {
    lineEnds_ += std::count(text_.begin() + static_cast<std::ptrdiff_t>(counted_),
                            text_.begin() + static_cast<std::ptrdiff_t>(pos_), '\n');
    counted_ = pos_;
    return 1 + lineEnds_;
  }
};

class CodeParser {
 public:
  CodeParser(std::string_view text, std::string_view fileName)
      : scanner_(text), fileName_(fileName) {}

  CodeFileResult parse() {
    if (!scanner_.literal("nk=")) return fail("expected \"nk=\" at the start of the file");
    const auto nk = scanner_.integer();
    if (!nk) return fail("expected a number after \"nk=\"");
    scanner_.skipWhitespace();
    if (!scanner_.literal("nr=")) return fail("expected \"nr=\" after nk");
    const auto nr = scanner_.integer();
    if (!nr) return fail("expected a number after \"nr=\"");
    const std::int64_t nrLine = scanner_.line();
    if (*nk < 1 || *nk > maxDeclaredBranches)
      return fail("nk=" + std::to_string(*nk) + " is outside 1..40");
    if (*nr < 1 || *nr > maxDeclaredBranches)
      return fail("nr=" + std::to_string(*nr) + " is outside 1..40");
    if (*nk > CodeDescription::maxUsedBranches) warnDropped(1, "nk", *nk, "information");
    if (*nr > CodeDescription::maxUsedBranches) warnDropped(nrLine, "nr", *nr, "check");

    CodeDescription code;
    // The file lists the polynomials check branch by check branch; that order alone decides
    // which slot each fills. All of them are read and tap-checked, but only the first
    // maxUsedBranches of each kind are kept.
    for (std::int32_t v = 0; v < *nr; ++v) {
      for (std::int32_t i = 0; i < *nk; ++i) {
        const bool used =
            i < CodeDescription::maxUsedBranches && v < CodeDescription::maxUsedBranches;
        auto result = readPolynomial(i, v, used ? &code.polynomials[i][v].taps : nullptr);
        if (result) return std::move(*result);
      }
    }
    code.nk =
        static_cast<std::int32_t>(std::min<std::int64_t>(*nk, CodeDescription::maxUsedBranches));
    code.nr =
        static_cast<std::int32_t>(std::min<std::int64_t>(*nr, CodeDescription::maxUsedBranches));
    // Whatever follows the last tap (one word or anything else) is ignored.
    return CodeFileResult{code, {}, false, std::move(warnings_)};
  }

 private:
  // Reads the labels, count and taps of polynomial (i, v) into `taps` when it is kept. Returns
  // the failure, or nothing when the polynomial was read.
  std::optional<CodeFileResult> readPolynomial(std::int32_t i, std::int32_t v,
                                               std::vector<std::int32_t>* taps) {
    const std::string where = " polynomial i=" + std::to_string(i) + " v=" + std::to_string(v);
    scanner_.skipWhitespace();
    if (!scanner_.literal("i=")) return fail("expected \"i=\" before" + where);
    if (!scanner_.integer()) return fail("expected a number after \"i=\" of" + where);
    scanner_.skipWhitespace();
    if (!scanner_.literal("v=")) return fail("expected \"v=\" in" + where);
    if (!scanner_.integer()) return fail("expected a number after \"v=\" of" + where);
    const auto count = scanner_.integer();
    if (!count) return fail("expected the tap count of" + where);
    if (*count < 0)
      return fail("tap count " + std::to_string(*count) + " of" + where + " is negative");
    // Taps are appended as they are read, never reserved by the count: a count is only a claim
    // until its taps are there.
    std::bitset<tapLimit> seen;
    bool repeated = false;
    for (std::int64_t n = 0; n < *count; ++n) {
      const auto tap = scanner_.integer();
      if (!tap) {
        return fail("expected tap " + std::to_string(n + 1) + " of " + std::to_string(*count) +
                    " in" + where);
      }
      if (*tap >= tapLimit) {
        CodeFileResult result =
            fail("tap " + std::to_string(*tap) + " in" + where + " is 1000 or more");
        result.tapOutOfRange = true;
        return result;
      }
      if (*tap < 0) return fail("tap " + std::to_string(*tap) + " in" + where + " is negative");
      if (taps) {
        // One warning per polynomial, however many taps repeat.
        if (seen.test(static_cast<std::size_t>(*tap)) && !repeated) {
          repeated = true;
          warn("line " + std::to_string(scanner_.line()) + ":" + where + " lists tap " +
               std::to_string(*tap) + " more than once: its checks take that symbol twice and " +
               "the code distance that the report gives does not hold");
        }
        seen.set(static_cast<std::size_t>(*tap));
        taps->push_back(static_cast<std::int32_t>(*tap));
      }
    }
    return std::nullopt;
  }

  void warnDropped(std::int64_t line, const char* key, std::int64_t declared, const char* kind) {
    warn("line " + std::to_string(line) + ": " + key + "=" + std::to_string(declared) +
         ": only the first " + std::to_string(CodeDescription::maxUsedBranches) + " " + kind +
         " branches are used; the polynomials of the others are dropped");
  }

  void warn(const std::string& what) { warnings_.push_back(std::string(fileName_) + ": " + what); }

  CodeFileResult fail(const std::string& what) const {
    return CodeFileResult{std::nullopt, std::string(fileName_) + ": " + what, false, {}};
  }

  PatternScanner scanner_;
  std::string_view fileName_;
  std::vector<std::string> warnings_;
};

}  // namespace

CodeFileResult parseCodeDescription(std::string_view text, std::string_view fileName) {
  return CodeParser(text, fileName).parse();
}

}  // namespace nbsim
