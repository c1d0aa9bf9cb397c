// The UI script reader (see ui/Automation.h for the grammar). Strict: every
// line either is a known step with exactly its words or is an error.
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <map>
#include <string>

#include "ce/msgbox.h"
#include "ce/text.h"
#include "ui/Automation.h"

namespace ui::test {
namespace {

using Kind = ScriptStep::Kind;

// Splits a line into words; quoted words may hold blanks, \" and \\.
bool SplitWords(std::string_view line, std::vector<std::string>* words, std::vector<bool>* quoted,
                std::string* error) {
  size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t') {
      ++i;
      continue;
    }
    std::string w;
    if (c == '"') {
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char d = line[i++];
        if (d == '"') {
          closed = true;
          break;
        }
        if (d == '\\') {
          if (i >= line.size() || (line[i] != '"' && line[i] != '\\')) {
            *error = "bad escape in quoted text (only \\\" and \\\\)";
            return false;
          }
          d = line[i++];
        }
        w += d;
      }
      if (!closed) {
        *error = "missing closing quote";
        return false;
      }
      if (i < line.size() && line[i] != ' ' && line[i] != '\t') {
        *error = "text right after a closing quote";
        return false;
      }
      quoted->push_back(true);
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
        if (line[i] == '"') {
          *error = "quote inside a word";
          return false;
        }
        w += line[i++];
      }
      quoted->push_back(false);
    }
    words->push_back(std::move(w));
  }
  return true;
}

// A decimal or 0x hex number in [lo, hi].
bool Number(const std::string& w, int64_t lo, int64_t hi, int64_t* out) {
  if (w.empty() || w[0] == '-' || w[0] == '+') return false;
  bool hex = w.size() > 2 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X');
  const char* start = w.c_str() + (hex ? 2 : 0);
  if (hex ? !isxdigit(static_cast<unsigned char>(*start)) : !isdigit(static_cast<unsigned char>(*start)))
    return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = strtoull(start, &end, hex ? 16 : 10);
  if (errno || *end) return false;
  if (v > static_cast<unsigned long long>(hi) || static_cast<int64_t>(v) < lo) return false;
  *out = static_cast<int64_t>(v);
  return true;
}

bool Answer(std::string w, int64_t* out) {
  static const std::map<std::string, int> kNames = {{"ok", IDOK},       {"cancel", IDCANCEL}, {"yes", IDYES},
                                                    {"no", IDNO},       {"abort", IDABORT},   {"retry", IDRETRY},
                                                    {"ignore", IDIGNORE}};
  for (char& c : w) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  auto it = kNames.find(w);
  if (it != kNames.end()) {
    *out = it->second;
    return true;
  }
  return Number(w, IDOK, IDNO, out);
}

bool ScreenshotName(const std::string& w) {
  if (w.empty() || w.size() > 100 || w[0] == '.') return false;
  for (char c : w)
    if (!isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') return false;
  return true;
}

// A tree path: texts joined by '/', none of them empty.
bool TreePath(const std::u16string& path, std::string* error) {
  bool ok = !path.empty() && path.front() != u'/' && path.back() != u'/' && path.find(u"//") == std::u16string::npos;
  if (!ok) *error = "bad tree path (item texts joined by '/', none empty)";
  return ok;
}

bool TreeStateWord(std::string w, int64_t* out, std::string* error) {
  static const std::map<std::string, int> kNames = {{"none", 0}, {"unchecked", 1}, {"checked", 2}, {"partial", 3}};
  for (char& c : w) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  auto it = kNames.find(w);
  if (it != kNames.end()) {
    *out = it->second;
    return true;
  }
  if (Number(w, 0, 15, out)) return true;
  *error = "bad tree state '" + w + "' (unchecked checked partial none or 0..15)";
  return false;
}

// A program's file name: no folder, nothing empty.
bool ProgramName(const std::string& w, std::string* error) {
  if (!w.empty() && w.find_first_of("\\/") == std::string::npos && w != "." && w != "..") return true;
  *error = "bad program name '" + w + "' (a file name such as \"Halvey.exe\")";
  return false;
}

struct Syntax {
  Kind kind;
  const char* usage;  // the words after the command
};

const std::map<std::string, Syntax>& Commands() {
  static const std::map<std::string, Syntax> k = {
      {"dialog", {Kind::Dialog, "ID"}},
      {"set", {Kind::Set, "ID TEXT"}},
      {"click", {Kind::Click, "ID"}},
      {"check", {Kind::Check, "ID 0|1|2"}},
      {"select", {Kind::Select, "ID INDEX"}},
      {"focus", {Kind::Focus, "ID"}},
      {"tap", {Kind::Tap, "ID"}},
      {"key", {Kind::Key, "VK"}},
      {"box", {Kind::Box, "STRINGID ANSWER"}},
      {"boxtext", {Kind::BoxText, "TEXT ANSWER"}},
      {"advance", {Kind::Advance, "MS"}},
      {"expect-text", {Kind::ExpectText, "ID TEXT"}},
      {"expect-visible", {Kind::ExpectVisible, "ID 0|1"}},
      {"expect-enabled", {Kind::ExpectEnabled, "ID 0|1"}},
      {"screenshot", {Kind::Screenshot, "NAME"}},
      {"card", {Kind::Card, "insert|remove NAME"}},
      {"bubble", {Kind::Bubble, "COMMAND"}},
      {"tree-check", {Kind::TreeCheck, "ID PATH"}},
      {"tree-expand", {Kind::TreeExpand, "ID PATH"}},
      {"tree-select", {Kind::TreeSelect, "ID PATH"}},
      {"expect-tree", {Kind::ExpectTree, "ID PATH STATE"}},
      {"program", {Kind::Program, "NAME"}},
      {"menu", {Kind::Menu, "COMMAND"}},
      {"tab", {Kind::Tab, "INDEX"}},
      {"datetime", {Kind::DateTime, "ID VALUE"}},
      {"expect-menu", {Kind::ExpectMenu, "BUTTON TEXT"}},
      {"list-tap", {Kind::ListTap, "ID ROW"}},
      {"list-dbltap", {Kind::ListDoubleTap, "ID ROW"}},
      {"list-activate", {Kind::ListActivate, "ID ROW"}},
      {"expect-item", {Kind::ExpectItem, "ID ROW COLUMN TEXT"}},
  };
  return k;
}

// "YYYY-MM-DD", "HH:MM" or both, blank between: into step->time, with
// step->value bit 1 for a date and bit 2 for a time.
bool DateTimeValue(const std::string& w, ScriptStep* step) {
  auto digits = [&](size_t at, size_t n, int lo, int hi, WORD* out) {
    if (at + n > w.size()) return false;
    int v = 0;
    for (size_t i = at; i < at + n; ++i) {
      if (!isdigit(static_cast<unsigned char>(w[i]))) return false;
      v = v * 10 + (w[i] - '0');
    }
    if (v < lo || v > hi) return false;
    *out = static_cast<WORD>(v);
    return true;
  };
  SYSTEMTIME& t = step->time;
  size_t at = 0;
  step->value = 0;
  if (w.size() >= 10 && w[4] == '-' && w[7] == '-') {
    if (!digits(0, 4, 1601, 30827, &t.wYear) || !digits(5, 2, 1, 12, &t.wMonth) || !digits(8, 2, 1, 31, &t.wDay))
      return false;
    step->value |= 1;
    at = 10;
    if (at < w.size() && w[at] == ' ') ++at;
    else if (at < w.size()) return false;
  }
  if (at < w.size()) {
    if (w.size() - at != 5 || w[at + 2] != ':' || !digits(at, 2, 0, 23, &t.wHour) || !digits(at + 3, 2, 0, 59, &t.wMinute))
      return false;
    step->value |= 2;
  }
  return step->value != 0;
}

size_t WordsOf(const char* usage) {
  size_t n = 1;
  for (const char* p = usage; *p; ++p) n += *p == ' ';
  return n;
}

// Parses one non-empty line into *step; false with the reason.
bool ParseLine(const std::vector<std::string>& w, bool haveDialog, ScriptStep* step, std::string* error) {
  auto it = Commands().find(w[0]);
  if (it == Commands().end()) {
    *error = "unknown step '" + w[0] + "'";
    return false;
  }
  const Syntax& syn = it->second;
  if (w.size() - 1 != WordsOf(syn.usage)) {
    *error = "'" + w[0] + "' takes " + syn.usage;
    return false;
  }
  step->kind = syn.kind;
  const bool needsDialog = syn.kind != Kind::Dialog && syn.kind != Kind::Box && syn.kind != Kind::BoxText &&
                           syn.kind != Kind::Advance && syn.kind != Kind::Screenshot && syn.kind != Kind::Card &&
                           syn.kind != Kind::Bubble && syn.kind != Kind::Program;
  if (needsDialog && !haveDialog) {
    *error = "'" + w[0] + "' before any 'dialog' step";
    return false;
  }
  constexpr int64_t kMaxId = 0xFFFF;
  auto num = [&](size_t i, int64_t lo, int64_t hi, int64_t* out, const char* what) {
    if (Number(w[i], lo, hi, out)) return true;
    *error = std::string("bad ") + what + " '" + w[i] + "' (" + std::to_string(lo) + ".." + std::to_string(hi) + ")";
    return false;
  };
  auto text = [&](size_t i) {
    bool invalid = false;
    step->text = ce::FromUtf8(w[i], &invalid);
    if (invalid) *error = "text is not valid UTF-8";
    return !invalid;
  };
  switch (syn.kind) {
    case Kind::Dialog:
      return num(1, 1, kMaxId, &step->id, "template id");
    case Kind::Click:
    case Kind::Focus:
    case Kind::Tap:
      return num(1, 0, kMaxId, &step->id, "control id");
    case Kind::Key:
      return num(1, 1, 0xFF, &step->id, "virtual key");
    case Kind::Set:
    case Kind::ExpectText:
      return num(1, 0, kMaxId, &step->id, "control id") && text(2);
    case Kind::Check:
      return num(1, 0, kMaxId, &step->id, "control id") && num(2, 0, 2, &step->value, "check state");
    case Kind::Select:
      return num(1, 0, kMaxId, &step->id, "control id") &&
             num(2, 0, std::numeric_limits<int32_t>::max(), &step->value, "index");
    case Kind::ExpectVisible:
    case Kind::ExpectEnabled:
      return num(1, 0, kMaxId, &step->id, "control id") && num(2, 0, 1, &step->value, "flag");
    case Kind::Box:
      if (!num(1, 1, kMaxId, &step->id, "string id")) return false;
      if (Answer(w[2], &step->value)) return true;
      *error = "bad answer '" + w[2] + "' (ok cancel yes no abort retry ignore)";
      return false;
    case Kind::BoxText:
      if (!text(1)) return false;
      if (step->text.empty()) {
        *error = "empty box text";
        return false;
      }
      if (Answer(w[2], &step->value)) return true;
      *error = "bad answer '" + w[2] + "' (ok cancel yes no abort retry ignore)";
      return false;
    case Kind::Advance:
      return num(1, 0, std::numeric_limits<int32_t>::max(), &step->id, "milliseconds");
    case Kind::Screenshot:
      if (!ScreenshotName(w[1])) {
        *error = "bad screenshot name '" + w[1] + "' (letters, digits, - _ .)";
        return false;
      }
      step->text = ce::FromUtf8(w[1]);
      return true;
    case Kind::Bubble:
      return num(1, 0, kMaxId, &step->id, "command");
    case Kind::TreeCheck:
    case Kind::TreeExpand:
    case Kind::TreeSelect:
      return num(1, 0, kMaxId, &step->id, "control id") && text(2) && TreePath(step->text, error);
    case Kind::ExpectTree:
      return num(1, 0, kMaxId, &step->id, "control id") && text(2) && TreePath(step->text, error) &&
             TreeStateWord(w[3], &step->value, error);
    case Kind::Program:
      return ProgramName(w[1], error) && text(1);
    case Kind::Menu:
      return num(1, 1, kMaxId, &step->id, "command");
    case Kind::Tab:
      return num(1, 0, 1000, &step->id, "tab index");
    case Kind::DateTime:
      if (!num(1, 0, kMaxId, &step->id, "control id")) return false;
      if (DateTimeValue(w[2], step)) return true;
      *error = "bad date or time '" + w[2] + "' (YYYY-MM-DD, HH:MM or \"YYYY-MM-DD HH:MM\")";
      return false;
    case Kind::ExpectMenu:
      return num(1, 1, kMaxId, &step->id, "button id") && text(2);
    case Kind::ListTap:
    case Kind::ListDoubleTap:
    case Kind::ListActivate:
    case Kind::ExpectItem: {
      if (!num(1, 0, kMaxId, &step->id, "control id")) return false;
      // A row by index, or "=LABEL" for the first row with that label.
      if (!w[2].empty() && w[2][0] == '=') {
        step->value = -1;
        if (!text(2)) return false;
        step->text.erase(0, 1);
      } else if (!num(2, 0, std::numeric_limits<int32_t>::max(), &step->value, "row")) {
        return false;
      }
      if (syn.kind != Kind::ExpectItem) return true;
      if (!num(3, 0, 63, &step->column, "column")) return false;
      bool invalid = false;
      step->expected = ce::FromUtf8(w[4], &invalid);
      if (invalid) *error = "text is not valid UTF-8";
      return !invalid;
    }
    case Kind::Card:
      if (w[1] != "insert" && w[1] != "remove") {
        *error = "bad card action '" + w[1] + "' (insert remove)";
        return false;
      }
      step->value = w[1] == "insert";
      return text(2);
  }
  return false;
}

}  // namespace

bool ParseScript(std::string_view text, std::vector<ScriptStep>* steps, std::string* error) {
  steps->clear();
  bool haveDialog = false;
  bool unscopedSteps = false;  // steps before any 'program' line
  int lineNo = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    std::string_view line = text.substr(pos, eol - pos);
    pos = eol + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // A comment is skipped whatever it holds (quotes, backslashes).
    const size_t first = line.find_first_not_of(" \t");
    if (first != std::string_view::npos && line[first] == '#') continue;
    std::string why;
    for (char c : line)
      if (static_cast<unsigned char>(c) < 0x20 && c != '\t') why = "control character in line";
    std::vector<std::string> words;
    std::vector<bool> quoted;
    ScriptStep step;
    step.line = lineNo;
    if (why.empty() && SplitWords(line, &words, &quoted, &why)) {
      if (words.empty() || (!quoted[0] && words[0][0] == '#')) continue;
      if (quoted[0])
        why = "a step starts with its name, not with quoted text";
      else if (ParseLine(words, haveDialog, &step, &why)) {
        if (step.kind == ScriptStep::Kind::Program) {
          if (unscopedSteps) {
            why = "'program' after steps that name no program (a scoped script begins with 'program')";
          } else {
            haveDialog = false;  // a new program's dialogs
            steps->push_back(std::move(step));
            continue;
          }
        } else {
          unscopedSteps = unscopedSteps || steps->empty();
          haveDialog = haveDialog || step.kind == ScriptStep::Kind::Dialog;
          steps->push_back(std::move(step));
          continue;
        }
      }
    }
    *error = "line " + std::to_string(lineNo) + ": " + why;
    steps->clear();
    return false;
  }
  return true;
}

}  // namespace ui::test
