// Test support: runs the built nbsim binary in a fresh temporary folder, with the clock pinned by
// faketime and the time zone set to UTC, and collects what it leaves behind.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace nbsim::testing {

inline std::string readFile(const std::filesystem::path& path) {
  if (!std::filesystem::is_regular_file(path)) return {};
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

struct ProgramOutcome {
  int exitStatus = -1;
  std::string console;  // standard output
  std::string errors;   // standard error
};

// A temporary folder that the program runs in; removed with the object.
class ProgramFolder {
 public:
  ProgramFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "nbsim-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~ProgramFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ProgramFolder(const ProgramFolder&) = delete;
  ProgramFolder& operator=(const ProgramFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  void write(const std::string& name, const std::string& bytes) const {
    writeFile(path_ / name, bytes);
  }
  std::string read(const std::string& name) const { return readFile(path_ / name); }
  // The names of the files here, sorted.
  std::string listing() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_)) {
      names.push_back(std::filesystem::relative(entry.path(), path_).string());
    }
    std::sort(names.begin(), names.end());
    std::string text;
    for (const std::string& name : names) text += name + '\n';
    return text;
  }
  bool exists(const std::string& name) const { return std::filesystem::exists(path_ / name); }

  // Runs nbsim (or `program`, shell words) here with standard input from /dev/null and
  // `arguments` (shell words). With `clockSecond` >= 0 the clock starts at that second
  // (faketime), in UTC.
  ProgramOutcome run(long long clockSecond = -1, const std::string& arguments = {},
                     const std::string& program = "'" NBSIM_BINARY "'") const {
    std::string command = "cd '" + path_.string() + "' && TZ=UTC";
    if (clockSecond >= 0) {
      const std::time_t seconds = static_cast<std::time_t>(clockSecond);
      std::tm utc{};
      gmtime_r(&seconds, &utc);
      char stamp[32];
      std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &utc);
      // faketime preloads its library before the sanitizer runtime; let the sanitizer accept it.
      command += " ASAN_OPTIONS=verify_asan_link_order=0 faketime -f '@" + std::string(stamp) + "'";
    }
    command += " " + program + " " + arguments + " </dev/null >stdout.captured 2>stderr.captured";
    const int status = std::system(command.c_str());
    ProgramOutcome outcome;
    outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.console = read("stdout.captured");
    outcome.errors = read("stderr.captured");
    std::filesystem::remove(path_ / "stdout.captured");
    std::filesystem::remove(path_ / "stderr.captured");
    return outcome;
  }

 private:
  std::filesystem::path path_;
};

// Replaces the values of the start-time, time and speed lines, which depend on the real clock.
inline std::string maskClockLines(const std::string& console) {
  std::istringstream lines(console);
  std::string out;
  std::string line;
  while (std::getline(lines, line)) {
    const bool lastWithoutEnd = lines.eof();
    if (line.rfind("Start time: ", 0) == 0) line = "Start time: <T>";
    if (line.rfind("Modeling time: ", 0) == 0) line = "Modeling time: <T>";
    if (line.rfind("Modeling speed: ", 0) == 0) line = "Modeling speed: <S>";
    out += line;
    if (!lastWithoutEnd) out += '\n';
  }
  return out;
}

}  // namespace nbsim::testing
