// ledgerfill: writes known attempts into a ledger through the ledger's own code, for the
// dashboard's tests and benchmark. Not shipped.
//
//   ledgerfill LOCATION < attempts.jsonl
//
// Each line is an attempt in the export's JSON form (`corvane ledger export --format jsonl`);
// time, station, address and result are required, the rest optional. An address seen for the
// first time is bound to the next number with the line's name (its written name), so the
// ledger looks as a station's would. Exit 0, or 1 with one line on stderr.
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

#include "ledger/Ledger.h"

namespace {

std::optional<std::string> Text(const nlohmann::json& line, const char* key) {
  auto it = line.find(key);
  if (it == line.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

bool Fill(CLedger& ledger, const nlohmann::json& line, std::string* error) {
  CLedgerAttempt a;
  a.m_strTime = Text(line, "time").value_or("");
  a.m_strStation = Text(line, "station").value_or("");
  a.m_strAddress = Text(line, "address").value_or("");
  a.m_strResult = Text(line, "result").value_or("");
  if (a.m_strTime.empty() || a.m_strStation.empty() || a.m_strAddress.empty() ||
      a.m_strResult.empty()) {
    *error = "each line needs time, station, address and result";
    return false;
  }
  a.m_strVersion = Text(line, "version").value_or("corvane 1.2.0");
  a.m_strPort = Text(line, "port").value_or("/dev/ttyUSB0");
  a.m_written.m_name = Text(line, "name");
  a.m_written.m_role = Text(line, "role");
  a.m_strMessage = Text(line, "message").value_or("");
  a.m_strNotes = Text(line, "notes").value_or("");
  if (line.contains("duration_ms") && line["duration_ms"].is_number_integer())
    a.m_nDurationMs = line["duration_ms"].get<long long>();
  CLedgerError failure;
  CLedgerModule module;
  bool bound = false;
  const auto name = a.m_written.m_name;
  if (!ledger.Bind(
          a.m_strAddress,
          [name](long long, CLedgerValues* values, std::string*) {
            values->m_name = name;
            return true;
          },
          &module, &bound, &failure) ||
      !ledger.RecordAttempt(a, &failure)) {
    *error = failure.m_strText;
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: ledgerfill LOCATION < attempts.jsonl\n";
    return 1;
  }
  CLedgerError failure;
  std::unique_ptr<CLedger> ledger = OpenLedger(argv[1], "ledgerfill", &failure);
  if (!ledger) {
    std::cerr << "ledgerfill: " << failure.m_strText << "\n";
    return 1;
  }
  std::string text, error;
  for (long long n = 1; std::getline(std::cin, text); ++n) {
    if (text.empty()) continue;
    const nlohmann::json line = nlohmann::json::parse(text, nullptr, false);
    if (!line.is_object() || !Fill(*ledger, line, &error)) {
      std::cerr << "ledgerfill: line " << n << ": " << (error.empty() ? "not JSON" : error) << "\n";
      return 1;
    }
  }
  return 0;
}
