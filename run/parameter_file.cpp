// Reading and checking "param.txt".
#include "run/parameter_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "engine/sweep_points.h"
#include "output/number_format.h"

namespace nbsim {
namespace {

// Consumes characters up to and including the next line feed; false at the end of the file.
bool consumeRestOfLine(std::FILE* file) {
  for (int c = std::fgetc(file); c != '\n'; c = std::fgetc(file)) {
    if (c == EOF) return false;
  }
  return true;
}

// The reason for a file that ends within line `line` of the first six.
std::string endsEarly(const std::string& fileName, int line) {
  return fileName + ": ends within line " + std::to_string(line) +
         "; the first six lines must each end";
}

// Where the read of one key stood in the file: the start of its line, the end of what the
// formatted read took (the key and the number) and the end of the consumed rest of the line.
// Offsets are -1 when the stream cannot tell them.
struct KeyRead {
  long start = -1;
  long valueEnd = -1;
  long lineEnd = -1;
  bool matched = false;
};
// Where every key's read stood, and itert as the file gives it, before its clamp.
struct KeyReads {
  std::array<KeyRead, 7> keys;
  std::int32_t itert = 0;
};

// The reader itself; `reads` receives where each key's read stood.
ParameterFileResult readKeys(std::FILE* file, const std::string& fileName, KeyReads& reads) {
  RunParameters parameters;
  std::int32_t volume = 0;
  const auto shortFile = [&](int lines) {
    if (std::ferror(file)) {
      return ParameterFileResult{
          std::nullopt, fileName + ": cannot be read: " + std::strerror(errno), {}};
    }
    return ParameterFileResult{std::nullopt, endsEarly(fileName, lines), {}};
  };
  // One formatted read and the rest of its line. The result of the read decides nothing: an
  // unmatched key leaves its default. False when the file ends before the line does.
  int line = 0;
  const auto readLine = [&](const char* pattern, auto* value) {
    KeyRead read;
    read.start = std::ftell(file);
    read.matched = std::fscanf(file, pattern, value) == 1;
    read.valueEnd = std::ftell(file);
    const bool ended = consumeRestOfLine(file);
    read.lineEnd = std::ftell(file);
    reads.keys[line++] = read;
    return ended;
  };
  if (!readLine("Q=%d", &parameters.Q)) return shortFile(1);
  if (!readLine("P0_first=%f", &parameters.P0_first)) return shortFile(2);
  if (!readLine("P0_last=%f", &parameters.P0_last)) return shortFile(3);
  if (!readLine("P0_step=%f", &parameters.P0_step)) return shortFile(4);
  if (!readLine("volume=%d", &volume)) return shortFile(5);
  if (!readLine("minBlockErr=%d", &parameters.minBlockErr)) return shortFile(6);
  (void)readLine("itert=%d", &parameters.itert);  // the seventh line may end with the file

  if (reads.keys[4].matched) parameters.volume = static_cast<std::uint32_t>(volume);
  reads.itert = parameters.itert;
  parameters.itert = parameters.itert < 3 ? 3 : std::min(parameters.itert, 10);
  return ParameterFileResult{parameters, {}, {}};
}

// The keys in file order, and whether each takes a whole number.
struct Key {
  std::string_view name;
  bool integer;
};
constexpr std::array<Key, 7> keys{{{"Q", true},
                                   {"P0_first", false},
                                   {"P0_last", false},
                                   {"P0_step", false},
                                   {"volume", true},
                                   {"minBlockErr", true},
                                   {"itert", true}}};

// The values that a run takes from the file, as the warnings show them: key k of `parameters`
// (itert before its clamp).
std::string shownValue(const RunParameters& parameters, std::int32_t itert, std::size_t k) {
  switch (k) {
    case 0:
      return std::to_string(parameters.Q);
    case 1:
      return text::formatShortest(parameters.P0_first);
    case 2:
      return text::formatShortest(parameters.P0_last);
    case 3:
      return text::formatShortest(parameters.P0_step);
    case 4:
      return std::to_string(parameters.volumeAsRead());
    case 5:
      return std::to_string(parameters.minBlockErr);
    default:
      return std::to_string(itert);
  }
}

// The line of `text` that begins at `start`, fit for one line of a message: without its line
// end, control and non-ASCII bytes as \xHH, and cut after 60 bytes.
std::string shownLine(std::string_view text, std::size_t start) {
  std::size_t end = std::min(text.find('\n', start), text.size());
  if (end > start && text[end - 1] == '\r') --end;
  std::string shown;
  for (std::size_t i = start; i < end && i < start + 60; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte >= 0x7F || byte == '"' || byte == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      shown += escaped;
    } else {
      shown += static_cast<char>(byte);
    }
  }
  if (end > start + 60) shown += "...";
  return shown;
}

std::int64_t lineNumber(std::string_view text, std::size_t offset) {
  return 1 + std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n');
}

bool blank(std::string_view part) {
  return std::all_of(part.begin(), part.end(),
                     [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); });
}

// The number that the formatted read took for an integer key, when it does not fit in 32 bits.
std::optional<std::string> overflowing(std::string_view number) {
  while (!number.empty() && blank(number.substr(0, 1))) number.remove_prefix(1);
  const bool negative = !number.empty() && number[0] == '-';
  std::string_view digits =
      number.substr(!number.empty() && (number[0] == '-' || number[0] == '+'));
  while (digits.size() > 1 && digits[0] == '0') digits.remove_prefix(1);
  const std::string_view limit = negative ? "2147483648" : "2147483647";
  if (digits.size() < limit.size() || (digits.size() == limit.size() && digits <= limit)) {
    return std::nullopt;
  }
  return std::string(number);
}

// The warnings about one key's line.
void warnAboutKey(std::string_view text, const std::string& fileName, std::size_t k,
                  const KeyRead& read, const RunParameters& parameters, std::int32_t itert,
                  const RunParameters& defaults, std::vector<std::string>& warnings) {
  if (read.start < 0 || read.valueEnd < read.start || read.lineEnd < read.valueEnd) return;
  const auto start = static_cast<std::size_t>(read.start);
  // A file that ends after six lines leaves itert at its default: that is no surprise.
  if (start >= text.size()) return;
  const auto valueEnd = static_cast<std::size_t>(read.valueEnd);
  const auto lineEnd = std::min(static_cast<std::size_t>(read.lineEnd), text.size());
  const std::string key = std::string(keys[k].name) + "=";
  const std::string name(keys[k].name);
  const std::string line = fileName + ": line " + std::to_string(lineNumber(text, start));
  const std::string where = line + " \"" + shownLine(text, start) + "\"";
  const std::string_view taken = text.substr(start, valueEnd - start);
  // The conversion skips blanks, line ends too: a key without a value reaches into what follows.
  const bool reachesOn = taken.find('\n') != std::string_view::npos;
  const std::string later = "line " + std::to_string(lineNumber(text, valueEnd));
  if (!read.matched) {
    const std::string keeps =
        name + " keeps its default " + shownValue(defaults, defaults.itert, k);
    if (start == 0 && text.substr(0, 3) == "\xEF\xBB\xBF") {
      warnings.push_back(line + " starts with a byte-order mark, so it is not \"" + key +
                         "\": " + keeps);
    } else if (text.substr(start, key.size()) != key) {
      warnings.push_back(where + " is not \"" + key + "\": " + keeps);
    } else if (reachesOn) {
      warnings.push_back(where + " has no value: " + keeps + ", and " + later +
                         " is skipped with it, so each later key is looked for one line late");
    } else {
      warnings.push_back(where + " has no number after \"" + key + "\": " + keeps);
    }
    return;
  }
  const std::string value = shownValue(parameters, itert, k);
  if (reachesOn) {
    warnings.push_back(where + " has no value: " + name + " takes " + value + " from " + later);
  }
  if (keys[k].integer) {
    if (const auto number = overflowing(taken.substr(key.size()))) {
      warnings.push_back(where + ": " + *number + " does not fit in 32 bits: " + name + " is " +
                         value);
    }
  }
  const std::string_view rest = text.substr(valueEnd, lineEnd - valueEnd);
  if (!blank(rest)) {
    std::string_view shownRest = rest;
    while (!shownRest.empty() && blank(shownRest.substr(shownRest.size() - 1))) {
      shownRest.remove_suffix(1);
    }
    warnings.push_back(where + ": \"" + shownLine(shownRest, 0) +
                       "\" after the number is ignored: " + name + " is " + value);
  }
  if (k == 4 && parameters.volumeAsRead() < 0) {
    warnings.push_back(where + ": a negative volume counts as " +
                       std::to_string(parameters.volume) + " symbols");
  }
  if (k == 6 && itert != parameters.itert) {
    warnings.push_back(where + ": itert is clamped to " + std::to_string(parameters.itert));
  }
}

// Every surprise in the file that reads as `parameters`: lines that do not say what their key
// expects and values that a run will not use as written. `reads` tells where each key stood.
std::vector<std::string> parameterWarnings(std::string_view text, const std::string& fileName,
                                           const KeyReads& reads, const RunParameters& parameters) {
  const std::int32_t itert = reads.itert;
  std::vector<std::string> warnings;
  const RunParameters defaults;
  for (std::size_t k = 0; k < keys.size(); ++k) {
    warnAboutKey(text, fileName, k, reads.keys[k], parameters, itert, defaults, warnings);
  }
  if (parameters.P0_first < parameters.P0_last) {
    warnings.push_back(fileName + ": P0_first=" + shownValue(parameters, itert, 1) +
                       " is below P0_last=" + shownValue(parameters, itert, 2) +
                       ": the sweep has no point");
  }
  if (parameters.minBlockErr <= 0 || parameters.volume == 0) {
    warnings.push_back(fileName + ": " +
                       (parameters.volume == 0
                            ? std::string("volume=0")
                            : "minBlockErr=" + shownValue(parameters, itert, 5)) +
                       ": every point ends before its first block");
  }
  return warnings;
}
}  // namespace

ParameterFileResult readParameterFile(std::FILE* file, const std::string& fileName) {
  KeyReads reads;
  return readKeys(file, fileName, reads);
}

ParameterFileResult readParameterText(const std::string& text, const std::string& fileName) {
  // A stream over no byte cannot be made; an empty file ends within its first line.
  if (text.empty()) {
    return ParameterFileResult{std::nullopt, endsEarly(fileName, 1), {}};
  }
  std::string bytes = text;
  std::FILE* file = fmemopen(bytes.data(), bytes.size(), "r");
  if (file == nullptr) {
    return ParameterFileResult{
        std::nullopt, fileName + ": cannot be read: " + std::strerror(errno), {}};
  }
  KeyReads reads;
  ParameterFileResult result = readKeys(file, fileName, reads);
  std::fclose(file);
  if (result.parameters) {
    result.warnings = parameterWarnings(text, fileName, reads, *result.parameters);
  }
  return result;
}

std::optional<std::string> refuseParameters(const RunParameters& parameters,
                                            const std::string& fileName) {
  if (parameters.Q < 2) {
    return fileName + ": Q=" + std::to_string(parameters.Q) + " is below 2";
  }
  // No point is simulated when P0_first < P0_last (or either is not a number): nothing to check.
  if (!(parameters.P0_first >= parameters.P0_last)) return std::nullopt;
  if (parameters.P0_step <= 0.0f) {
    return fileName + ": P0_step must be above 0 for the sweep to end";
  }
  // Walk the sweep's own P0 values: each step must move P0 until the sweep ends. The walk is
  // short: a step moves P0 only while |P0| stays below about 2^25 steps.
  SweepPoints points(parameters);
  float previous = 0.0f;
  points.next(previous);
  for (float P0 = 0.0f; points.next(P0); previous = P0) {
    if (!(P0 < previous)) {
      char value[32];
      std::snprintf(value, sizeof value, "%g", static_cast<double>(previous));
      return fileName + ": P0_step is too small to move P0 below " + value +
             ", so the sweep would never end";
    }
  }
  return std::nullopt;
}

}  // namespace nbsim
