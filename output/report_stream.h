// The report's text stream: takes UTF-8 text from the program and writes it as Windows-1251 bytes
// with CR LF line ends and no byte-order mark.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace nbsim::text {

// Converts UTF-8 text to Windows-1251, each line feed to CR LF. Returns nothing when the text
// holds a character that Windows-1251 cannot represent or is not valid UTF-8.
std::optional<std::string> toWindows1251(std::string_view utf8);

// Writes report text to a byte stream opened in binary mode. The stream's error state tells
// whether the bytes reached it.
class ReportStream {
 public:
  explicit ReportStream(std::ostream& bytes) : bytes_(bytes) {}

  // Converts and writes `utf8`. The program's own literals always convert; text that does not
  // is a programming error and aborts with a message rather than writing garbage.
  ReportStream& operator<<(std::string_view utf8);

  // Pushes the written bytes to the file.
  void flush();

  // True while every write and flush has succeeded.
  bool good() const;

  // The system error number of the first failed write or flush (EIO when the system gave
  // none); 0 while all is well.
  int failure() const { return failure_; }

 private:
  void noteFailure();

  std::ostream& bytes_;
  int failure_ = 0;
};

}  // namespace nbsim::text
