#include "cli/OptionsFile.h"

#include <algorithm>

#include "engine/os/Platform.h"
#include "platform/FilePolicy.h"

const char kOptionsFileOption[] = "--options-file";

namespace {

// An options file is a few dozen lines; anything near this is not one.
constexpr size_t kOptionsFileMaxBytes = 1 << 20;

// Where a run of arguments came from: its order is the order of precedence.
enum class ESource { Before, File, After };

// One option as given, with its values; m_pOption is null for anything that is not an option of
// the command, which is kept as it is for the parser to judge.
struct CGiven {
  const CLI::Option* m_pOption = nullptr;
  std::vector<std::string> m_words;
  ESource m_source = ESource::Before;
};

std::string NameOf(const std::string& word) {
  return word.substr(0, word.find('='));
}

const CLI::Option* OptionOf(const CLI::App& command, const std::string& word) {
  if (word.size() < 2 || word[0] != '-') return nullptr;
  return command.get_option_no_throw(NameOf(word));
}

// The words of one line; false with why in *error.
bool SplitLine(const std::string& line, std::vector<std::string>* words, std::string* error) {
  std::string word;
  bool inWord = false;
  for (size_t at = 0; at < line.size(); ++at) {
    const char c = line[at];
    if (c == ' ' || c == '\t') {
      if (inWord) words->push_back(word);
      word.clear();
      inWord = false;
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      *error = "holds a control character";
      return false;
    } else if (c == '#' && !inWord) {
      break;
    } else if (c == '\'' || c == '"') {
      inWord = true;
      size_t end = at + 1;
      for (; end < line.size() && line[end] != c; ++end) {
        if (c == '"' && line[end] == '\\' && end + 1 < line.size() &&
            (line[end + 1] == '"' || line[end + 1] == '\\')) {
          ++end;
        }
        word += line[end];
      }
      if (end >= line.size()) {
        *error = std::string("a ") + c + " is not closed";
        return false;
      }
      at = end;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words->push_back(word);
  return true;
}

// One line's words as one option of command and its values; empty when they are, else why not.
std::string CheckLine(const CLI::App& command, const std::vector<std::string>& words) {
  const std::string& first = words.front();
  const CLI::Option* option = OptionOf(command, first);
  if (option == nullptr) {
    return "\"" + ShownPath(first) + "\" is not an option of corvane " + command.get_name();
  }
  if (NameOf(first) == kOptionsFileOption) return "an options file cannot name another";
  const bool inlineValue = first.find('=') != std::string::npos;
  const size_t most = inlineValue ? 0 : static_cast<size_t>(option->get_items_expected_max());
  const size_t least = inlineValue || option->get_items_expected_min() == 0 ? 0 : 1;
  if (words.size() - 1 < least) return NameOf(first) + " needs a value";
  if (words.size() - 1 > most) {
    return "one option a line (\"" + ShownPath(words[most + 1]) + "\" follows " + NameOf(first) +
           ")";
  }
  return std::string();
}

// Parts args into options and their values as the parser will take them.
std::vector<CGiven> Group(const CLI::App& command, const std::vector<std::string>& args,
                          ESource source) {
  std::vector<CGiven> given;
  for (size_t at = 0; at < args.size(); ++at) {
    CGiven one;
    one.m_source = source;
    one.m_words.push_back(args[at]);
    if (args[at] == "--") {
      // Everything after is an argument, never an option.
      one.m_words.assign(args.begin() + static_cast<std::ptrdiff_t>(at), args.end());
      given.push_back(one);
      break;
    }
    one.m_pOption = OptionOf(command, args[at]);
    if (one.m_pOption != nullptr && args[at].find('=') == std::string::npos) {
      const size_t most = static_cast<size_t>(one.m_pOption->get_items_expected_max());
      for (size_t k = 0; k < most && at + 1 < args.size(); ++k) {
        // A value is whatever follows, "-" (stdout) included; a list stops at the next option.
        if (k > 0 && OptionOf(command, args[at + 1]) != nullptr) break;
        one.m_words.push_back(args[++at]);
      }
    }
    given.push_back(one);
  }
  return given;
}

// An option given before the file yields to the file's, the file's to one given after it.
bool Replaced(const CGiven& one, const std::vector<CGiven>& all) {
  if (one.m_pOption == nullptr) return false;
  return std::any_of(all.begin(), all.end(), [&one](const CGiven& other) {
    return other.m_pOption == one.m_pOption && other.m_source > one.m_source &&
           (one.m_source == ESource::File || other.m_source == ESource::File);
  });
}

}  // namespace

bool ReadOptionLines(const CLI::App& command, const std::string& text,
                     std::vector<std::string>* args, std::string* error) {
  size_t number = 0;
  for (size_t start = 0; start < text.size(); ++number) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    // A file saved by a Windows editor ends its lines with CR LF.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> words;
    std::string why;
    if (line.size() > kOptionsLineMax) {
      why = "is longer than " + std::to_string(kOptionsLineMax) + " characters";
    } else if (SplitLine(line, &words, &why) && !words.empty()) {
      why = CheckLine(command, words);
    }
    if (!why.empty()) {
      *error = "line " + std::to_string(number + 1) + ": " + why;
      return false;
    }
    args->insert(args->end(), words.begin(), words.end());
  }
  return true;
}

bool ExpandOptionsFile(const CLI::App& command, const CInterrupt& interrupt,
                       std::vector<std::string>* args, std::string* error) {
  const std::vector<CGiven> given = Group(command, *args, ESource::Before);
  auto named = given.end();
  for (auto it = given.begin(); it != given.end(); ++it) {
    if (it->m_pOption == nullptr || NameOf(it->m_words[0]) != kOptionsFileOption) continue;
    if (named != given.end()) {
      *error = std::string(kOptionsFileOption) + ": give one options file";
      return false;
    }
    named = it;
  }
  if (named == given.end()) return true;
  const std::string& first = named->m_words[0];
  const size_t equals = first.find('=');
  if (equals == std::string::npos && named->m_words.size() < 2) return true;  // the parser says
  const std::string path =
      equals != std::string::npos ? first.substr(equals + 1) : named->m_words[1];
  std::string text, why;
  std::vector<std::string> fileArgs;
  if (path.empty() || path == "-") {
    why = "give a file";
  } else if (ReadSmallFile(path, kOptionsFileMaxBytes, interrupt, &text, &why) &&
             !ReadOptionLines(command, text, &fileArgs, &why)) {
    why = ShownPath(path) + " " + why;
  }
  if (!why.empty()) {
    *error = std::string(kOptionsFileOption) + ": " + why;
    return false;
  }
  std::vector<CGiven> all(given.begin(), named);
  for (CGiven& one : Group(command, fileArgs, ESource::File)) all.push_back(one);
  for (auto it = named + 1; it != given.end(); ++it) {
    all.push_back(*it);
    all.back().m_source = ESource::After;
  }
  args->clear();
  for (const CGiven& one : all) {
    if (!Replaced(one, all)) args->insert(args->end(), one.m_words.begin(), one.m_words.end());
  }
  return true;
}
