#include "cli/Gang.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>

#include "cli/CliPlatform.h"
#include "cli/ModuleSession.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/Progress.h"
#include "serial/SerialPort.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char kSomeAddress[] = "000000000000";

// The placeholders of a value template, in the order they are tried.
bool MatchPlaceholder(const std::string& text, size_t at, size_t* length, int* width,
                      std::string* kind) {
  static const char* const kFixed[] = {"{seq}", "{addr4}", "{addr}"};
  for (const char* fixed : kFixed) {
    if (text.compare(at, std::strlen(fixed), fixed) == 0) {
      *length = std::strlen(fixed);
      *width = 0;
      *kind = fixed;
      return true;
    }
  }
  // {seq:0N}: N from 1 to 9.
  if (text.compare(at, 6, "{seq:0") == 0 && at + 8 <= text.size() && text[at + 6] >= '1' &&
      text[at + 6] <= '9' && text[at + 7] == '}') {
    *length = 8;
    *width = text[at + 6] - '0';
    *kind = "{seq}";
    return true;
  }
  return false;
}

// RFC 4180 fields of one line: commas, and double quotes around a field that holds commas or
// quotes (a quote inside doubled). False on a quote left open or text after a closing quote.
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
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted.push_back('"');
    quoted.push_back(c);
  }
  return quoted + "\"";
}

// Where the workers and the coordinating thread meet between two phases: every port probed
// before the modules are numbered, every module read before the values are worked out, and
// the values checked before any module is programmed. One thread per worker for the whole
// run: a thread costs more than all of a phase's own work.
class CPhaseGate {
 public:
  explicit CPhaseGate(size_t parties) : m_nParties(parties) {}

  // Blocks until every party has arrived at this meeting.
  void Arrive() {
    std::unique_lock<std::mutex> lock(m_mutex);
    const size_t generation = m_nGeneration;
    if (++m_nArrived >= m_nParties) {
      Release();
      return;
    }
    m_cv.wait(lock, [&] { return m_nGeneration != generation; });
  }
  // One party fewer from now on (a worker whose thread could not start).
  void Leave() {
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_nParties;
    if (m_nArrived > 0 && m_nArrived >= m_nParties) Release();
  }

 private:
  void Release() {
    m_nArrived = 0;
    ++m_nGeneration;
    m_cv.notify_all();
  }

  std::mutex m_mutex;
  std::condition_variable m_cv;
  size_t m_nParties;
  size_t m_nArrived = 0;
  size_t m_nGeneration = 0;
};

struct CWorker {
  std::string m_strListed;  // the name the worker's search lists ("COM3")
  std::string m_strShown;   // the name the report uses (the COM name, or a device path)
  std::unique_ptr<CommApi> m_pOwnedApi;
  CommApi* m_pApi = nullptr;
  std::unique_ptr<CModuleSession> m_pSession;
  bool m_bAnswered = false;
  bool m_bProgram = false;
  // The Program has run (whatever its outcome).
  bool m_bFinished = false;
  CModuleSettings m_target;
  CModuleReport m_report;
  double m_dSeconds = 0;
};

const char* const kReportColumns[] = {"port",     "address",  "old_name", "old_pin",
                                      "old_role", "old_peer", "new_name", "new_pin",
                                      "new_role", "new_peer", "result",   "seconds"};

bool Acked(const CModuleReport& report, const char* setting) {
  for (const std::string& name : report.m_acked) {
    if (name == setting) return true;
  }
  return false;
}

// One report row, its cells in the order of kReportColumns.
std::vector<std::string> ReportRow(const CWorker& worker) {
  const CModuleReport& report = worker.m_report;
  std::vector<std::string> row(std::size(kReportColumns));
  row[0] = worker.m_strShown;
  if (report.m_read) {
    const CModuleSettings& old = *report.m_read;
    row[1] = AddressWithColons(old.m_strAddress);
    row[2] = old.m_strName;
    row[3] = old.m_strPin;
    row[4] = old.m_bMaster ? "master" : "slave";
    row[5] = FormatAddress(old.m_peer);
  }
  if (report.m_written) {
    const CModuleSettings& now = *report.m_written;
    // Only what the module acknowledged counts as written.
    if (Acked(report, "name")) row[6] = now.m_strName;
    if (Acked(report, "pin")) row[7] = now.m_strPin;
    if (Acked(report, "role")) row[8] = now.m_bMaster ? "master" : "slave";
    if (Acked(report, "peer")) row[9] = FormatAddress(now.m_peer);
  }
  row[10] = OutcomeText(report.m_outcome);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f", worker.m_dSeconds);
  row[11] = seconds;
  return row;
}

CJson RowJson(const std::vector<std::string>& row) {
  CJson json;
  for (size_t k = 0; k + 1 < row.size(); ++k) json[kReportColumns[k]] = row[k];
  json["seconds"] = std::stod(row.back());
  return json;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool WriteReport(const std::string& path, const std::vector<std::vector<std::string>>& rows) {
  const std::string temporary = path + ".part";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    if (!file) return false;
    if (EndsWith(path, ".jsonl")) {
      for (const auto& row : rows) file << DumpJson(RowJson(row)) << "\n";
    } else {
      for (size_t k = 0; k < std::size(kReportColumns); ++k) {
        file << (k > 0 ? "," : "") << kReportColumns[k];
      }
      file << "\r\n";
      for (const auto& row : rows) {
        for (size_t k = 0; k < row.size(); ++k) file << (k > 0 ? "," : "") << CsvField(row[k]);
        file << "\r\n";
      }
    }
    file.flush();
    if (!file) {
      file.close();
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (ReplaceFile(temporary, path)) return true;
  std::remove(temporary.c_str());
  return false;
}

void PrintTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const char* column : kReportColumns) widths.push_back(std::strlen(column));
  std::vector<std::vector<std::string>> shown;
  for (const auto& row : rows) {
    shown.emplace_back();
    for (size_t k = 0; k < row.size(); ++k) {
      shown.back().push_back(Printable(row[k]));
      widths[k] = std::max(widths[k], shown.back().back().size());
    }
  }
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (size_t k = 0; k < cells.size(); ++k) {
      text += cells[k];
      if (k + 1 < cells.size()) text.append(widths[k] - cells[k].size() + 2, ' ');
    }
    out << text << "\n";
  };
  line(std::vector<std::string>(std::begin(kReportColumns), std::end(kReportColumns)));
  for (const auto& cells : shown) line(cells);
}

class CGang {
 public:
  CGang(const CGangOptions& options, CCliEnv& env) : m_options(options), m_env(env) {}
  int Run();

 private:
  bool Given(const CLI::Option* option) const { return option != nullptr && option->count() > 0; }
  int Usage(const std::string& text) {
    m_env.m_err << "corvane: " << text << "\n";
    return kExitUsage;
  }
  bool MakeWorkers(std::string* error);
  // The templates against the number of ports, before any is opened.
  bool CheckTemplates(std::string* error) const;
  bool NeedsRead() const;
  // Works out every module's values; false with the first rule broken.
  bool PlanValues(std::string* error);
  void Work(CWorker& worker, CPhaseGate& gate, CProgressSink& sink, bool needsRead,
            const bool& planned);
  double Elapsed(Clock::time_point start) const {
    return std::chrono::duration<double>(Clock::now() - start).count();
  }
  int Report();

  const CGangOptions& m_options;
  CCliEnv& m_env;
  CPlan m_plan;
  std::vector<CWorker> m_workers;
};

bool CGang::MakeWorkers(std::string* error) {
  std::vector<std::string> names;
  if (m_options.m_strPorts == "all") {
    CSerialPort(m_env.m_api).ListPorts(names);
  } else {
    std::stringstream list(m_options.m_strPorts);
    for (std::string name; std::getline(list, name, ',');) names.push_back(name);
  }
  std::set<std::string> seen;
  for (const std::string& name : names) {
    const std::string rule = CheckPortOption(name, static_cast<bool>(m_env.m_fnPathApi));
    // The system's listing may hold a name no user could type (COM0): no port to search.
    if (!rule.empty() && m_options.m_strPorts == "all") continue;
    if (!rule.empty()) {
      *error = "--ports: \"" + Printable(name) + "\": " + rule;
      return false;
    }
    CPortChoice port = ChoosePort(name, m_env);
    CWorker worker;
    worker.m_pOwnedApi = std::move(port.m_owned);
    worker.m_pApi = port.m_pApi;
    worker.m_strListed = port.m_strListed;
    worker.m_strShown = port.m_strShown;
    if (!seen.insert(worker.m_strShown).second) {
      *error = "--ports: " + worker.m_strShown + " is named twice";
      return false;
    }
    m_workers.push_back(std::move(worker));
  }
  return true;
}

void CGang::Work(CWorker& worker, CPhaseGate& gate, CProgressSink& sink, bool needsRead,
                 const bool& planned) {
  const CInterrupt& interrupt = m_env.m_interrupt;
  // Every port at once: the probe's own bytes and wait on each.
  Clock::time_point start = Clock::now();
  worker.m_bAnswered = worker.m_pSession->Probe(worker.m_strListed);
  if (!worker.m_bAnswered && !interrupt.IsSet()) {
    worker.m_report.m_outcome = EOutcome::NoModule;
    sink.OnProgress(0, OutcomeText(EOutcome::NoModule));
  }
  worker.m_dSeconds += Elapsed(start);
  gate.Arrive();

  if (needsRead && worker.m_bAnswered && !interrupt.IsSet()) {
    start = Clock::now();
    worker.m_pSession->Read(false, worker.m_report);
    worker.m_dSeconds += Elapsed(start);
  }
  gate.Arrive();

  // The coordinating thread works out every module's values here.
  gate.Arrive();
  if (!planned || !worker.m_bProgram || interrupt.IsSet()) return;
  start = Clock::now();
  worker.m_report.m_outcome = EOutcome::Ok;
  worker.m_pSession->Program(worker.m_target, m_options.m_bTurnOff, m_options.m_bVerify,
                             worker.m_report);
  worker.m_bFinished = true;
  worker.m_dSeconds += Elapsed(start);
}

bool CGang::CheckTemplates(std::string* error) const {
  // The highest number any module can get gives the longest value.
  const int last = m_options.m_nStart + static_cast<int>(m_workers.size()) - 1;
  if (Given(m_options.m_pName)) {
    const CValueTemplate name(m_options.m_strName);
    if (m_workers.size() > 1 && !name.HasPlaceholder()) {
      *error = "--name: every module would get the name \"" + Printable(m_options.m_strName) +
               "\"; number them with {seq} or tell them apart with {addr} or {addr4}";
      return false;
    }
    const std::string rule = CheckName(name.Expand(last, kSomeAddress));
    if (!rule.empty()) {
      *error = "--name: " + rule + " (as module " + std::to_string(last) + " it would be \"" +
               Printable(name.Expand(last, kSomeAddress)) + "\")";
      return false;
    }
  }
  if (Given(m_options.m_pPin)) {
    const std::string rule =
        CheckPin(CValueTemplate(m_options.m_strPin).Expand(last, kSomeAddress));
    if (!rule.empty()) {
      *error = "--pin: " + rule;
      return false;
    }
  }
  return true;
}

bool CGang::NeedsRead() const {
  if (!m_options.m_strPlan.empty()) return true;
  if (!Given(m_options.m_pName) || !Given(m_options.m_pPin) || !Given(m_options.m_pRole) ||
      !Given(m_options.m_pPeer)) {
    return true;
  }
  return CValueTemplate(m_options.m_strName).NeedsAddress() ||
         CValueTemplate(m_options.m_strPin).NeedsAddress();
}

bool CGang::PlanValues(std::string* error) {
  std::map<std::string, std::string> names;  // name given -> port that gets it
  const bool needsRead = NeedsRead();
  int seq = m_options.m_nStart;
  for (CWorker& worker : m_workers) {
    if (!worker.m_bAnswered) continue;
    const int number = seq++;
    // A module whose Read failed keeps the outcome it had.
    if (needsRead && !worker.m_report.m_read) continue;

    CModuleSettings values = worker.m_report.m_read ? *worker.m_report.m_read : CModuleSettings();
    const std::string digits = AddressDigits(values.m_strAddress);
    bool nameSet = false;
    if (Given(m_options.m_pName)) {
      values.m_strName = CValueTemplate(m_options.m_strName).Expand(number, digits);
      nameSet = true;
    }
    if (Given(m_options.m_pPin))
      values.m_strPin = CValueTemplate(m_options.m_strPin).Expand(number, digits);
    if (Given(m_options.m_pRole)) ParseRole(m_options.m_strRole, &values.m_bMaster);
    if (Given(m_options.m_pPeer)) ParsePeer(m_options.m_strPeer, &values.m_peer);
    if (!m_options.m_strPlan.empty()) {
      const auto row = m_plan.find(digits);
      if (row == m_plan.end()) {
        worker.m_report.m_outcome = EOutcome::NotInPlan;
        continue;
      }
      if (row->second.m_name) {
        values.m_strName = *row->second.m_name;
        nameSet = true;
      }
      if (row->second.m_pin) values.m_strPin = *row->second.m_pin;
      if (row->second.m_master) values.m_bMaster = *row->second.m_master;
      if (row->second.m_peer) values.m_peer = *row->second.m_peer;
    }

    std::string rule = CheckName(values.m_strName);
    if (rule.empty()) rule = CheckPin(values.m_strPin);
    if (!rule.empty()) {
      *error = worker.m_strShown + ": name \"" + Printable(values.m_strName) + "\", PIN \"" +
               Printable(values.m_strPin) + "\": " + rule;
      return false;
    }
    if (nameSet) {
      const auto taken = names.emplace(values.m_strName, worker.m_strShown);
      if (!taken.second) {
        *error = "two modules would get the name \"" + Printable(values.m_strName) + "\" (" +
                 taken.first->second + " and " + worker.m_strShown + ")";
        return false;
      }
    }
    worker.m_target = values;
    worker.m_bProgram = true;
  }
  return true;
}

int CGang::Run() {
  if (!m_options.m_strPlan.empty()) {
    std::ifstream file(m_options.m_strPlan, std::ios::binary);
    if (!file) return Usage("--plan: cannot read " + m_options.m_strPlan);
    std::stringstream text;
    text << file.rdbuf();
    std::string error;
    if (!ParsePlan(text.str(), &m_plan, &error)) return Usage("--plan: " + error);
  }
  if (!m_options.m_strReport.empty() && !EndsWith(m_options.m_strReport, ".csv") &&
      !EndsWith(m_options.m_strReport, ".jsonl")) {
    return Usage("--report: the report file ends in .csv or .jsonl");
  }
  std::string error;
  if (!MakeWorkers(&error)) return Usage(error);
  if (!CheckTemplates(&error)) return Usage(error);

  std::vector<std::string> shown;
  for (const CWorker& worker : m_workers) shown.push_back(worker.m_strShown);
  CGangProgress progress(m_env.m_err, m_env.m_bErrIsTerminal, m_options.m_bQuiet, shown);
  for (size_t k = 0; k < m_workers.size(); ++k) {
    CWorker& worker = m_workers[k];
    CommApi& api = *worker.m_pApi;
    worker.m_pSession = std::make_unique<CModuleSession>(api, m_env.m_interrupt, &progress.Sink(k));
    worker.m_pSession->ListOnly(worker.m_strListed);
    worker.m_report.m_outcome = EOutcome::Interrupted;
  }

  // The workers and this thread, which works out the values between the reads and the
  // programming.
  CPhaseGate gate(m_workers.size() + 1);
  const bool needsRead = NeedsRead();
  bool planned = false;
  std::vector<std::thread> threads;
  for (size_t k = 0; k < m_workers.size(); ++k) {
    try {
      threads.emplace_back([this, k, &gate, &progress, needsRead, &planned] {
        Work(m_workers[k], gate, progress.Sink(k), needsRead, planned);
      });
    } catch (const std::system_error&) {
      // Out of threads: this port is left out, the others go on.
      gate.Leave();
      m_workers[k].m_report.m_outcome = EOutcome::CommError;
      m_workers[k].m_report.m_strMessage = "no thread could be started for this port";
    }
  }
  gate.Arrive();  // every port probed
  gate.Arrive();  // every module that needed it read
  planned = !m_env.m_interrupt.IsSet() && PlanValues(&error);
  gate.Arrive();  // the workers program, or end
  for (std::thread& thread : threads) thread.join();
  if (!planned && !m_env.m_interrupt.IsSet()) {
    for (CWorker& worker : m_workers) worker.m_pSession.reset();
    return Usage(error + "; nothing was programmed");
  }

  // Sessions close their ports before they return; drop them with their channels now.
  for (CWorker& worker : m_workers) {
    worker.m_pSession.reset();
    // Read but never programmed: the interruption came between the two.
    if (m_env.m_interrupt.IsSet() && worker.m_bAnswered && !worker.m_bFinished &&
        worker.m_report.m_outcome == EOutcome::Ok) {
      worker.m_report.m_outcome = EOutcome::Interrupted;
    }
  }
  return Report();
}

int CGang::Report() {
  std::vector<std::vector<std::string>> rows;
  bool allOk = true;
  bool anyAnswered = false;
  for (const CWorker& worker : m_workers) {
    rows.push_back(ReportRow(worker));
    // A module lost after it answered the probe counts among those that answered.
    if (!worker.m_bAnswered) continue;
    anyAnswered = true;
    if (worker.m_report.m_outcome != EOutcome::Ok) allOk = false;
  }
  if (m_options.m_strFormat == "json") {
    CJson modules = CJson::array();
    for (const auto& row : rows) modules.push_back(RowJson(row));
    m_env.m_out << DumpJson({{"modules", modules}}) << "\n";
  } else {
    PrintTable(m_env.m_out, rows);
  }
  int code = allOk ? kExitOk : kExitCommError;
  if (!anyAnswered) {
    m_env.m_err << MSG_CANNOT_CONNECT << "\n";
    code = kExitNoModule;
  }
  if (!m_options.m_strReport.empty() && !WriteReport(m_options.m_strReport, rows)) {
    m_env.m_err << "corvane: cannot write the report " << m_options.m_strReport << "\n";
    if (code == kExitOk) code = kExitCommError;
  }
  if (m_env.m_interrupt.IsSet()) {
    m_env.m_err << "corvane: interrupted; every port is closed.\n";
    return kExitInterrupted;
  }
  return code;
}

}  // namespace

std::string CValueTemplate::Check(const std::string& text) {
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '}') return "a '}' without its '{'";
    if (text[at] != '{') continue;
    size_t length = 0;
    int width = 0;
    std::string kind;
    if (!MatchPlaceholder(text, at, &length, &width, &kind)) {
      return "unknown placeholder at \"" + Printable(text.substr(at)) +
             "\" (there are {seq}, {seq:0N}, {addr} and {addr4})";
    }
    at += length - 1;
  }
  return std::string();
}

bool CValueTemplate::HasPlaceholder() const {
  return m_strText.find('{') != std::string::npos;
}

bool CValueTemplate::NeedsAddress() const {
  return m_strText.find("{addr") != std::string::npos;
}

std::string CValueTemplate::Expand(int seq, const std::string& addressDigits) const {
  std::string out;
  for (size_t at = 0; at < m_strText.size(); ++at) {
    size_t length = 0;
    int width = 0;
    std::string kind;
    if (m_strText[at] != '{' || !MatchPlaceholder(m_strText, at, &length, &width, &kind)) {
      out.push_back(m_strText[at]);
      continue;
    }
    if (kind == "{seq}") {
      char number[32];
      std::snprintf(number, sizeof number, "%0*d", width, seq);
      out += number;
    } else if (kind == "{addr}") {
      out += addressDigits;
    } else {
      out += addressDigits.size() >= 4 ? addressDigits.substr(addressDigits.size() - 4)
                                       : addressDigits;
    }
    at += length - 1;
  }
  return out;
}

bool ParsePlan(const std::string& text, CPlan* plan, std::string* error) {
  plan->clear();
  std::stringstream lines(text);
  std::string line;
  std::vector<std::string> cells;
  std::vector<std::string> columns;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string at = "line " + std::to_string(number) + ": ";
    if (!SplitCsvLine(line, &cells)) {
      *error = at + "a quoted field is not closed";
      return false;
    }
    if (columns.empty()) {
      static const std::set<std::string> kKnown = {"name", "pin", "role", "peer"};
      if (cells.empty() || cells[0] != "address") {
        *error = at + "the header starts with address (address,name,pin,role,peer)";
        return false;
      }
      for (size_t k = 1; k < cells.size(); ++k) {
        if (kKnown.count(cells[k]) == 0 ||
            std::find(cells.begin(), cells.begin() + static_cast<long>(k), cells[k]) !=
                cells.begin() + static_cast<long>(k)) {
          *error = at + "unknown or repeated column \"" + Printable(cells[k]) +
                   "\" (the columns are address,name,pin,role,peer)";
          return false;
        }
      }
      columns = cells;
      continue;
    }
    if (line.empty()) continue;
    if (cells.size() != columns.size()) {
      *error = at + "has " + std::to_string(cells.size()) + " fields, the header " +
               std::to_string(columns.size());
      return false;
    }
    CAddress address;
    if (!ParsePeer(cells[0], &address)) {
      *error = at + "the address \"" + Printable(cells[0]) + "\" is not six hex bytes";
      return false;
    }
    const std::string digits = AddressDigits(FormatAddress(address));
    CPlanRow row;
    for (size_t k = 1; k < cells.size(); ++k) {
      const std::string& cell = cells[k];
      if (cell.empty()) continue;
      std::string rule;
      if (columns[k] == "name") {
        rule = CheckName(cell);
        row.m_name = cell;
      } else if (columns[k] == "pin") {
        rule = CheckPin(cell);
        row.m_pin = cell;
      } else if (columns[k] == "role") {
        bool master = false;
        rule = CheckRole(cell);
        if (ParseRole(cell, &master)) row.m_master = master;
      } else {
        CAddress peer;
        rule = CheckPeer(cell);
        if (ParsePeer(cell, &peer)) row.m_peer = peer;
      }
      if (!rule.empty()) {
        *error = at + columns[k] + " \"" + Printable(cell) + "\": " + rule;
        return false;
      }
    }
    if (!plan->emplace(digits, row).second) {
      *error = at + "the address " + FormatAddress(address) + " is planned twice";
      return false;
    }
  }
  if (columns.empty()) {
    *error = "the plan is empty (it starts with the header address,name,pin,role,peer)";
    return false;
  }
  std::map<std::string, std::string> names;
  for (const auto& entry : *plan) {
    if (!entry.second.m_name) continue;
    const auto taken = names.emplace(*entry.second.m_name, entry.first);
    if (!taken.second) {
      *error = "two modules would get the name \"" + Printable(*entry.second.m_name) + "\"";
      return false;
    }
  }
  return true;
}

CLI::App* AddGangCommand(CLI::App& app, CGangOptions& options) {
  CLI::App* gang =
      app.add_subcommand("gang", "Program every module on every port at once, with a report");
  // Before any port is opened, a template is held to the rules as far as it can be: an
  // address always puts in 12 or 4 digits, a number at least its padding. Each module's own
  // value is checked again once its number and address are known.
  auto nameRule = [](const std::string& text) {
    std::string rule = CValueTemplate::Check(text);
    return rule.empty() ? CheckName(CValueTemplate(text).Expand(0, kSomeAddress)) : rule;
  };
  auto pinRule = [](const std::string& text) {
    std::string rule = CValueTemplate::Check(text);
    return rule.empty() ? CheckPin(CValueTemplate(text).Expand(0, kSomeAddress)) : rule;
  };
  gang->add_option("--ports", options.m_strPorts, "all (default) or P1,P2,...");
  options.m_pName =
      gang->add_option("--name", options.m_strName,
                       "Name template: {seq}, {seq:03}, {addr}, {addr4}")
          ->check(CLI::Validator([nameRule](std::string& v) { return nameRule(v); }, "TEMPLATE"));
  options.m_pPin =
      gang->add_option("--pin", options.m_strPin, "PIN template")
          ->check(CLI::Validator([pinRule](std::string& v) { return pinRule(v); }, "TEMPLATE"));
  options.m_pRole = gang->add_option("--role", options.m_strRole, "master or slave")
                        ->check(Rule(CheckRole, "master|slave"));
  options.m_pPeer = gang->add_option("--peer", options.m_strPeer, "Peer address XX:XX:XX:XX:XX:XX")
                        ->check(Rule(CheckPeer, "ADDRESS"));
  gang->add_option("--start", options.m_nStart, "First {seq} number (default 1)")
      ->check(CLI::Range(0, 99999999));
  gang->add_option("--plan", options.m_strPlan, "CSV file: address,name,pin,role,peer");
  gang->add_flag("--verify", options.m_bVerify, "Read back and compare");
  gang->add_flag("--turn-off", options.m_bTurnOff, "Turn Bluetooth off at the end");
  gang->add_option("--report", options.m_strReport, "Write the report to FILE.csv or FILE.jsonl");
  gang->add_option("--format", options.m_strFormat, "Output: text (default) or json")
      ->check(Rule(CheckFormat, "text|json"));
  gang->add_flag("--quiet,-q", options.m_bQuiet, "No progress lines");
  return gang;
}

int RunGang(const CGangOptions& options, CCliEnv& env) {
  CGang gang(options, env);
  return gang.Run();
}
