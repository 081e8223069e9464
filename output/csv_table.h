// A strict reader of RFC 4180 tables, for reading back the CSV files the program writes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace nbsim {

struct CsvTable {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;

  // The index of column `name`, or -1.
  int column(std::string_view name) const;
};

// Reads `bytes` as RFC 4180: records end with CR LF (the last may lack it), fields are separated
// by commas, a field in double quotes may hold commas, line breaks and doubled quotes. Strict:
// a bare CR or LF, a quote within an unquoted field, anything but a comma or a line end after a
// closing quote, an unclosed quote, a missing header or a record whose width differs from the
// header's are refused. Returns false, with one English sentence in `error` naming the record,
// when the bytes are not such a table.
bool readCsvTable(std::string_view bytes, CsvTable& table, std::string& error);

}  // namespace nbsim
