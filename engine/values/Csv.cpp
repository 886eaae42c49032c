#include "engine/values/Csv.h"

bool SplitCsvLine(const std::string& line, std::vector<std::string>* fields) {
  fields->clear();
  std::string field;
  size_t k = 0;
  for (;;) {
    field.clear();
    if (k < line.size() && line[k] == '"') {
      ++k;
      for (;;) {
        if (k >= line.size()) return false;
        if (line[k] == '"') {
          if (k + 1 < line.size() && line[k + 1] == '"') {
            field.push_back('"');
            k += 2;
            continue;
          }
          ++k;
          break;
        }
        field.push_back(line[k++]);
      }
      if (k < line.size() && line[k] != ',') return false;
    } else {
      while (k < line.size() && line[k] != ',') field.push_back(line[k++]);
    }
    fields->push_back(field);
    if (k >= line.size()) return true;
    ++k;  // the comma
  }
}

std::string CsvField(const std::string& text) {
  const bool formula = !text.empty() && std::string("=+-@\t\r").find(text[0]) != std::string::npos;
  const std::string cell = formula ? "'" + text : text;
  if (!formula && cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
  std::string quoted = "\"";
  for (char c : cell) {
    if (c == '"') quoted.push_back('"');
    quoted.push_back(c);
  }
  return quoted + "\"";
}

std::string CsvLine(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t k = 0; k < fields.size(); ++k) {
    if (k > 0) line.push_back(',');
    line += CsvField(fields[k]);
  }
  return line;
}
