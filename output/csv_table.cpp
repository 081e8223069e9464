// Reading an RFC 4180 table, one character at a time.
#include "output/csv_table.h"

namespace nbsim {

int CsvTable::column(std::string_view name) const {
  for (std::size_t k = 0; k < header.size(); ++k) {
    if (header[k] == name) return static_cast<int>(k);
  }
  return -1;
}

bool readCsvTable(std::string_view bytes, CsvTable& table, std::string& error) {
  table = CsvTable{};
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  const auto fail = [&](const std::string& what) {
    error = "record " + std::to_string(records.size() + 1) + ": " + what;
    return false;
  };
  std::size_t at = 0;
  while (at < bytes.size()) {
    // One field, then its end: a comma, a line end or the end of the bytes.
    field.clear();
    if (bytes[at] == '"') {
      ++at;
      for (;;) {
        if (at == bytes.size()) return fail("a quoted field is not closed");
        if (bytes[at] == '"') {
          if (at + 1 < bytes.size() && bytes[at + 1] == '"') {
            field += '"';
            at += 2;
            continue;
          }
          ++at;
          break;
        }
        field += bytes[at++];
      }
    } else {
      while (at < bytes.size() && bytes[at] != ',' && bytes[at] != '\r' && bytes[at] != '\n') {
        if (bytes[at] == '"') return fail("a quote within an unquoted field");
        field += bytes[at++];
      }
    }
    record.push_back(field);
    if (at == bytes.size()) break;
    if (bytes[at] == ',') {
      ++at;
      // A comma at the very end leaves one more, empty, field.
      if (at == bytes.size()) record.emplace_back();
      continue;
    }
    if (bytes.substr(at, 2) != "\r\n") return fail("a line end other than CR LF, or a stray byte");
    at += 2;
    records.push_back(std::move(record));
    record.clear();
  }
  if (!record.empty()) records.push_back(std::move(record));
  if (records.empty()) {
    error = "no header";
    return false;
  }
  for (std::size_t k = 1; k < records.size(); ++k) {
    if (records[k].size() != records[0].size()) {
      error = "record " + std::to_string(k + 1) + ": " + std::to_string(records[k].size()) +
              " fields where the header has " + std::to_string(records[0].size());
      return false;
    }
  }
  table.header = std::move(records[0]);
  table.rows.assign(std::make_move_iterator(records.begin() + 1),
                    std::make_move_iterator(records.end()));
  return true;
}

}  // namespace nbsim
