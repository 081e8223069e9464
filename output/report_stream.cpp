// Conversion of the program's UTF-8 text to the Windows-1251 bytes of the report, and the stream
// that writes those bytes.
#include "output/report_stream.h"

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <iostream>

namespace nbsim::text {
namespace {

// Characters of the Windows-1251 bytes 0x80..0xBF; 0x98 holds no character and is marked by 0.
// The bytes 0xC0..0xFF are the letters А..я, U+0410..U+044F in order, and need no table.
constexpr std::array<char32_t, 64> kBytes80ToBF = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 0x88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 0x98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // 0xA0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // 0xA8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // 0xB0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // 0xB8
};

std::optional<char> windows1251Byte(char32_t character) {
  if (character < 0x80) {
    return static_cast<char>(character);
  }
  if (character >= 0x0410 && character <= 0x044F) {
    return static_cast<char>(0xC0 + (character - 0x0410));
  }
  for (std::size_t i = 0; i < kBytes80ToBF.size(); ++i) {
    if (kBytes80ToBF[i] == character) {
      return static_cast<char>(0x80 + i);
    }
  }
  return std::nullopt;
}

// Decodes the character that starts at `pos` and moves `pos` past it. Nothing if the bytes there
// are not well-formed UTF-8: a stray or missing continuation byte, an overlong form, a surrogate
// or a value beyond U+10FFFF.
std::optional<char32_t> decodeUtf8(std::string_view text, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  std::size_t length = 1;
  char32_t character = lead;
  char32_t smallest = 0;
  if (lead >= 0x80) {
    if ((lead & 0xE0) == 0xC0) {
      length = 2;
      character = lead & 0x1F;
      smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      character = lead & 0x0F;
      smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      character = lead & 0x07;
      smallest = 0x10000;
    } else {
      return std::nullopt;
    }
  }
  if (text.size() - pos < length) {
    return std::nullopt;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[pos + i]);
    if ((next & 0xC0) != 0x80) {
      return std::nullopt;
    }
    character = (character << 6) | (next & 0x3F);
  }
  if (character < smallest || character > 0x10FFFF ||
      (character >= 0xD800 && character <= 0xDFFF)) {
    return std::nullopt;
  }
  pos += length;
  return character;
}

// Appends the converted text to `out`. Returns the byte offset of the first character that
// cannot be converted, or nothing when all of it was.
std::optional<std::size_t> convert(std::string_view utf8, std::string& out) {
  out.reserve(out.size() + utf8.size() + utf8.size() / 8);
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const std::size_t start = pos;
    const std::optional<char32_t> character = decodeUtf8(utf8, pos);
    const std::optional<char> byte = character ? windows1251Byte(*character) : std::nullopt;
    if (!byte) {
      return start;
    }
    // A carriage return in the text is passed on as it is; only line feeds gain one.
    if (*byte == '\n') {
      out += '\r';
    }
    out += *byte;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> toWindows1251(std::string_view utf8) {
  std::string out;
  if (convert(utf8, out)) {
    return std::nullopt;
  }
  return out;
}

ReportStream& ReportStream::operator<<(std::string_view utf8) {
  std::string bytes;
  if (const std::optional<std::size_t> badAt = convert(utf8, bytes)) {
    std::cerr << "nbsim: internal error: report text cannot be written in Windows-1251 (byte "
              << *badAt << "): \"" << utf8 << "\"\n";
    std::abort();
  }
  errno = 0;
  bytes_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  noteFailure();
  return *this;
}

void ReportStream::flush() {
  errno = 0;
  bytes_.flush();
  noteFailure();
}

void ReportStream::noteFailure() {
  // The first failure's system error, read right after the operation that met it.
  if (!bytes_.good() && failure_ == 0) failure_ = errno != 0 ? errno : EIO;
}

bool ReportStream::good() const { return bytes_.good(); }

}  // namespace nbsim::text
