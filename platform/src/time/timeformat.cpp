// GetDateFormatW, GetTimeFormatW and GetLocaleInfoW for the device's one
// locale, en-US.
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/time.h"

namespace {

const char16_t* const kDayNames[7] = {u"Monday", u"Tuesday", u"Wednesday", u"Thursday",
                                      u"Friday", u"Saturday", u"Sunday"};
const char16_t* const kAbbrevDayNames[7] = {u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat", u"Sun"};
const char16_t* const kMonthNames[12] = {u"January", u"February", u"March",     u"April",
                                         u"May",     u"June",     u"July",      u"August",
                                         u"September", u"October", u"November", u"December"};
const char16_t* const kAbbrevMonthNames[12] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                               u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
constexpr const char16_t* kShortDate = u"M/d/yyyy";
constexpr const char16_t* kLongDate = u"dddd, MMMM dd, yyyy";
constexpr const char16_t* kTimeFormat = u"h:mm:ss tt";

bool KnownLocale(LCID lcid) {
  lcid &= 0xFFFF;  // sort bits are not used
  return lcid == LOCALE_NEUTRAL || lcid == LOCALE_USER_DEFAULT || lcid == LOCALE_SYSTEM_DEFAULT ||
         lcid == LOCALE_EN_US;
}

// Copies text plus terminator; the Win32 size rules.
int Deliver(const std::u16string& text, LPWSTR out, int cch) {
  const int needed = static_cast<int>(text.size()) + 1;
  if (cch < 0 || (cch > 0 && !out)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (cch == 0) return needed;
  if (cch < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  text.copy(out, text.size());
  out[text.size()] = 0;
  return needed;
}

std::u16string Num(unsigned v, int width) {
  std::u16string s;
  do {
    s.insert(s.begin(), static_cast<char16_t>(u'0' + v % 10));
    v /= 10;
  } while (v);
  while (static_cast<int>(s.size()) < width) s.insert(s.begin(), u'0');
  return s;
}

// One element of a picture: a run of one format letter, or literal text.
struct Token {
  char16_t letter = 0;  // 0 for literal text
  int count = 0;
  std::u16string text;
};

// Splits a picture; `letters` are the format letters of this kind.
std::vector<Token> Tokenize(const std::u16string& pic, std::u16string_view letters) {
  std::vector<Token> out;
  auto literal = [&out](char16_t c) {
    if (out.empty() || out.back().letter != 0) out.push_back(Token{});
    out.back().text += c;
  };
  for (size_t i = 0; i < pic.size();) {
    const char16_t c = pic[i];
    if (c == u'\'') {
      ++i;
      if (i < pic.size() && pic[i] == u'\'') {  // '' is one quote
        literal(u'\'');
        ++i;
        continue;
      }
      while (i < pic.size()) {
        if (pic[i] == u'\'') {
          if (i + 1 < pic.size() && pic[i + 1] == u'\'') {
            literal(u'\'');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        literal(pic[i++]);
      }
    } else if (letters.find(c) != std::u16string_view::npos) {
      size_t j = i;
      while (j < pic.size() && pic[j] == c) ++j;
      out.push_back(Token{c, static_cast<int>(j - i), {}});
      i = j;
    } else {
      literal(c);
      ++i;
    }
  }
  return out;
}

// Drops the fields with letters in `drop` together with the literal text
// that separates each from the field before it (or after it when first).
void DropFields(std::vector<Token>& t, std::u16string_view drop) {
  for (size_t i = 0; i < t.size();) {
    if (t[i].letter == 0 || drop.find(t[i].letter) == std::u16string_view::npos) {
      ++i;
      continue;
    }
    size_t from = i, to = i + 1;
    if (i > 0 && t[i - 1].letter == 0) from = i - 1;
    else if (i + 1 < t.size() && t[i + 1].letter == 0) to = i + 2;
    t.erase(t.begin() + from, t.begin() + to);
    i = from;
  }
}

bool ValidDate(const SYSTEMTIME& st) {
  return st.wYear >= 1601 && st.wYear <= 30827 && st.wMonth >= 1 && st.wMonth <= 12 && st.wDay >= 1 &&
         st.wDay <= ce::DaysInMonth(st.wYear, st.wMonth);
}
bool ValidTime(const SYSTEMTIME& st) {
  return st.wHour < 24 && st.wMinute < 60 && st.wSecond < 60 && st.wMilliseconds < 1000;
}

}  // namespace

int GetDateFormatW(LCID locale, DWORD flags, const SYSTEMTIME* date, LPCWSTR format, LPWSTR out, int cch) {
  if (!KnownLocale(locale)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const DWORD kinds = flags & (DATE_SHORTDATE | DATE_LONGDATE);
  if ((flags & ~(DATE_SHORTDATE | DATE_LONGDATE | LOCALE_NOUSEROVERRIDE)) != 0 ||
      kinds == (DATE_SHORTDATE | DATE_LONGDATE) || (format && kinds != 0)) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  SYSTEMTIME st;
  if (date) st = *date;
  else GetLocalTime(&st);
  if (!ValidDate(st)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // The weekday comes from the date itself, never from wDayOfWeek.
  const int64_t days = ce::DaysFromCivil(st.wYear, st.wMonth, st.wDay);
  const int monday0 = static_cast<int>(((days % 7) + 10) % 7);  // 0 = Monday
  const std::u16string pic = format ? std::u16string(format) : (kinds == DATE_LONGDATE ? kLongDate : kShortDate);
  std::u16string text;
  for (const Token& t : Tokenize(pic, u"dMyg")) {
    switch (t.letter) {
      case 0: text += t.text; break;
      case u'd':
        if (t.count <= 2) text += Num(st.wDay, t.count);
        else text += (t.count == 3 ? kAbbrevDayNames : kDayNames)[monday0];
        break;
      case u'M':
        if (t.count <= 2) text += Num(st.wMonth, t.count);
        else text += (t.count == 3 ? kAbbrevMonthNames : kMonthNames)[st.wMonth - 1];
        break;
      case u'y':
        if (t.count <= 2) text += Num(st.wYear % 100, t.count);
        else text += Num(st.wYear, 4);
        break;
      case u'g': text += u"A.D."; break;
    }
  }
  return Deliver(text, out, cch);
}

int GetTimeFormatW(LCID locale, DWORD flags, const SYSTEMTIME* time, LPCWSTR format, LPWSTR out, int cch) {
  if (!KnownLocale(locale)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if ((flags & ~(TIME_NOMINUTESORSECONDS | TIME_NOSECONDS | TIME_NOTIMEMARKER | TIME_FORCE24HOURFORMAT |
                 LOCALE_NOUSEROVERRIDE)) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  SYSTEMTIME st;
  if (time) st = *time;
  else GetLocalTime(&st);
  if (!ValidTime(st)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::vector<Token> tokens = Tokenize(format ? std::u16string(format) : kTimeFormat, u"hHmst");
  if (flags & TIME_NOMINUTESORSECONDS) DropFields(tokens, u"ms");
  else if (flags & TIME_NOSECONDS) DropFields(tokens, u"s");
  if (flags & TIME_NOTIMEMARKER) DropFields(tokens, u"t");
  const bool pm = st.wHour >= 12;
  std::u16string text;
  for (Token t : tokens) {
    if (t.letter == u'h' && (flags & TIME_FORCE24HOURFORMAT)) t.letter = u'H';
    const int width = t.count >= 2 ? 2 : 1;
    switch (t.letter) {
      case 0: text += t.text; break;
      case u'h': text += Num(st.wHour % 12 == 0 ? 12 : st.wHour % 12, width); break;
      case u'H': text += Num(st.wHour, width); break;
      case u'm': text += Num(st.wMinute, width); break;
      case u's': text += Num(st.wSecond, width); break;
      case u't': text += t.count == 1 ? (pm ? u"P" : u"A") : (pm ? u"PM" : u"AM"); break;
    }
  }
  return Deliver(text, out, cch);
}

int GetLocaleInfoW(LCID locale, LCTYPE item, LPWSTR out, int cch) {
  if (!KnownLocale(locale)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  item &= ~LOCALE_NOUSEROVERRIDE;
  std::u16string text;
  if (item >= LOCALE_SDAYNAME1 && item <= LOCALE_SDAYNAME7) {
    text = kDayNames[item - LOCALE_SDAYNAME1];
  } else if (item >= LOCALE_SABBREVDAYNAME1 && item <= LOCALE_SABBREVDAYNAME7) {
    text = kAbbrevDayNames[item - LOCALE_SABBREVDAYNAME1];
  } else if (item >= LOCALE_SMONTHNAME1 && item <= LOCALE_SMONTHNAME12) {
    text = kMonthNames[item - LOCALE_SMONTHNAME1];
  } else if (item >= LOCALE_SABBREVMONTHNAME1 && item <= LOCALE_SABBREVMONTHNAME12) {
    text = kAbbrevMonthNames[item - LOCALE_SABBREVMONTHNAME1];
  } else {
    switch (item) {
      case LOCALE_ILANGUAGE: text = u"0409"; break;
      case LOCALE_SLANGUAGE: text = u"English (United States)"; break;
      case LOCALE_SENGLANGUAGE: text = u"English"; break;
      case LOCALE_SCOUNTRY:
      case LOCALE_SENGCOUNTRY: text = u"United States"; break;
      case LOCALE_SLIST: text = u","; break;
      case LOCALE_SDECIMAL: text = u"."; break;
      case LOCALE_STHOUSAND: text = u","; break;
      case LOCALE_SDATE: text = u"/"; break;
      case LOCALE_STIME: text = u":"; break;
      case LOCALE_SSHORTDATE: text = kShortDate; break;
      case LOCALE_SLONGDATE: text = kLongDate; break;
      case LOCALE_STIMEFORMAT: text = kTimeFormat; break;
      case LOCALE_S1159: text = u"AM"; break;
      case LOCALE_S2359: text = u"PM"; break;
      case LOCALE_IDEFAULTANSICODEPAGE: text = u"1252"; break;
      default: SetLastError(ERROR_INVALID_FLAGS); return 0;
    }
  }
  return Deliver(text, out, cch);
}
