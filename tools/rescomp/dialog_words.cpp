#include "dialog_words.h"

#include <cstdint>
#include <map>

#include "ce/commctrl.h"
#include "ce/controls.h"
#include "ce/datetime.h"
#include "ce/numtext.h"
#include "ce/window.h"

namespace rescomp {
namespace {

#define W(name) {#name, name}
const std::map<std::string, DWORD, std::less<>>& StyleNames() {
  static const std::map<std::string, DWORD, std::less<>> kNames = {
      W(WS_OVERLAPPED), W(WS_POPUP), W(WS_CHILD), W(WS_VISIBLE), W(WS_DISABLED), W(WS_CAPTION),
      W(WS_BORDER), W(WS_SYSMENU), W(WS_TABSTOP), W(WS_GROUP), W(WS_HSCROLL), W(WS_VSCROLL),
      W(WS_DLGFRAME), W(WS_CLIPSIBLINGS), W(WS_CLIPCHILDREN), W(WS_MINIMIZEBOX), W(WS_MAXIMIZEBOX),
      W(WS_THICKFRAME), W(WS_OVERLAPPEDWINDOW), W(DS_MODALFRAME), W(DS_SETFONT),
      W(SS_LEFT), W(SS_CENTER), W(SS_RIGHT), W(SS_ICON), W(SS_BITMAP), W(SS_NOTIFY), W(SS_CENTERIMAGE),
      W(BS_PUSHBUTTON), W(BS_DEFPUSHBUTTON), W(BS_CHECKBOX), W(BS_AUTOCHECKBOX), W(BS_RADIOBUTTON),
      W(BS_3STATE), W(BS_AUTO3STATE), W(BS_GROUPBOX), W(BS_AUTORADIOBUTTON), W(BS_OWNERDRAW),
      W(BS_MULTILINE), W(BS_NOTIFY),
      W(ES_LEFT), W(ES_CENTER), W(ES_RIGHT), W(ES_MULTILINE), W(ES_UPPERCASE), W(ES_LOWERCASE),
      W(ES_PASSWORD), W(ES_AUTOVSCROLL), W(ES_AUTOHSCROLL), W(ES_NOHIDESEL), W(ES_READONLY),
      W(ES_WANTRETURN), W(ES_NUMBER),
      W(CBS_SIMPLE), W(CBS_DROPDOWN), W(CBS_DROPDOWNLIST), W(CBS_SORT),
      W(LBS_NOTIFY), W(LBS_SORT),
      W(PBS_SMOOTH),
      W(UDS_SETBUDDYINT), W(UDS_ALIGNRIGHT), W(UDS_AUTOBUDDY), W(UDS_ARROWKEYS),
      W(DTS_UPDOWN), W(DTS_SHOWNONE), W(DTS_SHORTDATEFORMAT), W(DTS_LONGDATEFORMAT), W(DTS_TIMEFORMAT),
      W(LVS_REPORT), W(LVS_SINGLESEL), W(LVS_SHOWSELALWAYS), W(LVS_SORTASCENDING), W(LVS_SORTDESCENDING),
      W(LVS_NOCOLUMNHEADER), W(LVS_NOSORTHEADER),
  };
  return kNames;
}
#undef W

bool EqualNoCaseAscii(std::u16string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](unsigned c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    if (lower(a[i]) != lower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// The style family a window class accepts besides WS_ (and DS_ for dialogs).
std::string_view Family(const std::u16string& windowClass) {
  if (windowClass.empty()) return "DS_";
  if (windowClass == u"STATIC") return "SS_";
  if (windowClass == u"BUTTON") return "BS_";
  if (windowClass == u"EDIT") return "ES_";
  if (windowClass == u"COMBOBOX") return "CBS_";
  if (windowClass == u"LISTBOX") return "LBS_";
  if (windowClass == u"msctls_progress32") return "PBS_";
  if (windowClass == u"msctls_updown32") return "UDS_";
  if (windowClass == DATETIMEPICK_CLASSW) return "DTS_";
  if (windowClass == u"SysListView32") return "LVS_";
  return "";
}

bool Number(std::string_view s, DWORD* out) {
  int64_t v;
  if (!ce::ParseInteger(s, 0, 0xFFFFFFFFll, &v, false)) return false;
  *out = static_cast<DWORD>(v);
  return true;
}

}  // namespace

bool ControlClass(std::string_view word, ClassWord* out) {
  static const struct {
    const char* word;
    const char16_t* windowClass;
    DWORD style;
  } kWords[] = {
      {"static", u"STATIC", SS_LEFT},
      {"button", u"BUTTON", BS_PUSHBUTTON | WS_TABSTOP},
      {"defbutton", u"BUTTON", BS_DEFPUSHBUTTON | WS_TABSTOP},
      {"checkbox", u"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP},
      {"radio", u"BUTTON", BS_AUTORADIOBUTTON | WS_TABSTOP},
      {"edit", u"EDIT", ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
      {"combobox", u"COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP},
      {"listbox", u"LISTBOX", LBS_NOTIFY | WS_BORDER | WS_VSCROLL | WS_TABSTOP},
      {"progress", u"msctls_progress32", 0},
      {"spin", u"msctls_updown32", UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_AUTOBUDDY | UDS_ARROWKEYS},
      {"datetime", DATETIMEPICK_CLASSW, DTS_SHORTDATEFORMAT | WS_TABSTOP},
      {"tabs", WC_TABCONTROLW, WS_TABSTOP},
      {"listview", u"SysListView32", LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_BORDER | WS_TABSTOP},
  };
  for (const auto& w : kWords) {
    if (word == w.word) {
      *out = {w.windowClass, w.style};
      return true;
    }
  }
  static const char16_t* const kClasses[] = {u"STATIC",  u"BUTTON",  u"EDIT",
                                             u"COMBOBOX", u"LISTBOX", u"msctls_progress32",
                                             u"msctls_updown32", DATETIMEPICK_CLASSW, WC_TABCONTROLW,
                                             u"SysListView32"};
  for (const char16_t* c : kClasses) {
    if (EqualNoCaseAscii(c, word)) {
      *out = {c, 0};
      return true;
    }
  }
  return false;
}

bool ParseStyleWords(std::string_view text, const std::u16string& windowClass, StyleWords* out,
                     std::string* error) {
  *out = StyleWords();
  const std::string_view family = Family(windowClass);
  size_t start = 0;
  while (true) {
    const size_t bar = text.find('|', start);
    std::string_view word = text.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start);
    while (!word.empty() && (word.front() == ' ' || word.front() == '\t')) word.remove_prefix(1);
    while (!word.empty() && (word.back() == ' ' || word.back() == '\t')) word.remove_suffix(1);
    DWORD v = 0;
    if (word.empty()) {
      *error = "empty style word in \"" + std::string(text) + "\"";
      return false;
    } else if (word == "hidden") {
      out->hidden = true;
    } else if (word == "disabled") {
      out->disabled = true;
    } else if (Number(word, &v)) {
      out->style |= v;
    } else if (auto it = StyleNames().find(word); it != StyleNames().end()) {
      if (word.substr(0, 3) != "WS_" && (family.empty() || word.substr(0, family.size()) != family)) {
        *error = "style " + std::string(word) + " does not belong to this " +
                 (windowClass.empty() ? std::string("dialog") : "control class");
        return false;
      }
      out->style |= it->second;
    } else {
      *error = "unknown style word \"" + std::string(word) + "\"";
      return false;
    }
    if (bar == std::string_view::npos) return true;
    start = bar + 1;
  }
}

}  // namespace rescomp
