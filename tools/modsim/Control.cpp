#include "tools/modsim/Control.h"

#include <unistd.h>

#include <cerrno>

#include "tools/modsim/Options.h"

namespace {

// Words split at spaces and tabs; a word in double quotes may hold spaces (a name like
// "Lab unit").
bool SplitWords(const std::string& line, std::vector<std::string>& words) {
  size_t i = 0;
  for (;;) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i == line.size()) return true;
    std::string word;
    if (line[i] == '"') {
      size_t end = line.find('"', i + 1);
      if (end == std::string::npos) return false;
      word = line.substr(i + 1, end - i - 1);
      i = end + 1;
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') word += line[i++];
    }
    words.push_back(word);
  }
}

bool ParseInsert(const std::vector<std::string>& words, CControl& out, std::string& why) {
  // A new module: factory settings, not those modsim was started with.
  CModuleState state;
  for (size_t i = 1; i < words.size(); ++i) {
    std::string option = words[i];
    std::string value;
    size_t eq = option.find('=');
    bool inlineValue = eq != std::string::npos;
    if (inlineValue) {
      value = option.substr(eq + 1);
      option.resize(eq);
    }
    const std::string name = option.compare(0, 2, "--") == 0 ? option.substr(2) : std::string();
    if (name != "address" && name != "peer" && name != "name" && name != "pin" && name != "role") {
      why = "unknown insert option: " + option;
      return false;
    }
    if (!inlineValue) {
      if (i + 1 == words.size()) {
        why = "missing value for " + option;
        return false;
      }
      value = words[++i];
    }
    if (!ParseSetting(name, value, state)) {
      why = "bad " + option + ": " + value;
      return false;
    }
  }
  out.m_eKind = EControl::Insert;
  out.m_state = state;
  return true;
}

}  // namespace

bool ParseControl(const std::string& line, CControl& out, std::string& why) {
  std::vector<std::string> words;
  if (!SplitWords(line, words)) {
    why = "unmatched quote";
    return false;
  }
  const std::string verb = words.empty() ? std::string() : words[0];
  if (verb == "insert") return ParseInsert(words, out, why);
  if (verb != "remove" && verb != "link" && verb != "unlink") {
    why = "unknown command";
    return false;
  }
  if (words.size() > 1) {
    why = verb + " takes no arguments";
    return false;
  }
  out.m_eKind = verb == "remove" ? EControl::Remove
                : verb == "link" ? EControl::Link
                                 : EControl::Unlink;
  return true;
}

void CLineReader::Read(std::vector<std::string>& lines) {
  if (m_hInput < 0) return;
  char chunk[512];
  ssize_t got = read(m_hInput, chunk, sizeof chunk);
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (got <= 0) {
    // End of input, or a descriptor that cannot be read (closed, or a terminal modsim is in
    // the background of): stop listening, keep serving the line.
    m_hInput = -1;
    return;
  }
  m_strBuffer.append(chunk, static_cast<size_t>(got));
  size_t end;
  while ((end = m_strBuffer.find('\n')) != std::string::npos) {
    std::string line = m_strBuffer.substr(0, end);
    m_strBuffer.erase(0, end + 1);
    if (m_bDiscarding) {
      // The end of a line already handed over as too long.
      m_bDiscarding = false;
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  if (m_strBuffer.size() > kMaxLine) {
    if (!m_bDiscarding) lines.push_back(m_strBuffer);
    m_bDiscarding = true;
    m_strBuffer.clear();
  }
}
