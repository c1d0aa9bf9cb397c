// The device printf engine shared by wsprintf, swprintf, CString::Format
// and the log. Numbers are formatted by the C library on a narrow spec
// rebuilt from the parsed one; text conversions are done here.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>

#include "ce/codepage.h"
#include "ce/wstring.h"

namespace {

// Width and precision beyond this are taken as this (guards against
// formats such as "%999999999d" reaching an allocation).
constexpr int kMaxField = 1 << 20;

enum class Len { None, HH, H, L, LL, Size, Max, LongDouble, Wide };

struct Spec {
  bool minus = false, plus = false, space = false, hash = false, zero = false;
  int width = 0;
  int precision = -1;
  Len len = Len::None;
};

// The C library's number output is ASCII.
void Widen(std::u16string& out, const char* s, size_t n) {
  size_t at = out.size();
  out.resize(at + n);
  for (size_t i = 0; i < n; ++i) out[at + i] = static_cast<WCHAR>(static_cast<unsigned char>(s[i]));
}

std::string NarrowSpec(const Spec& sp, const char* lenmod, char conv) {
  std::string f = "%";
  if (sp.minus) f += '-';
  if (sp.plus) f += '+';
  if (sp.space) f += ' ';
  if (sp.hash) f += '#';
  if (sp.zero) f += '0';
  if (sp.width > 0) f += std::to_string(sp.width);
  if (sp.precision >= 0) f += '.' + std::to_string(sp.precision);
  f += lenmod;
  f += conv;
  return f;
}

template <typename T>
bool AppendC(std::u16string& out, const std::string& f, T value) {
  char small[160];
  int n = snprintf(small, sizeof small, f.c_str(), value);
  if (n < 0) return false;
  if (static_cast<size_t>(n) < sizeof small) {
    Widen(out, small, static_cast<size_t>(n));
    return true;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  snprintf(big.data(), big.size(), f.c_str(), value);
  Widen(out, big.data(), static_cast<size_t>(n));
  return true;
}

void AppendPadded(std::u16string& out, std::u16string_view text, const Spec& sp) {
  size_t pad = sp.width > 0 && static_cast<size_t>(sp.width) > text.size() ? sp.width - text.size() : 0;
  if (!sp.minus) out.append(pad, u' ');
  out.append(text);
  if (sp.minus) out.append(pad, u' ');
}

int ReadNumber(const WCHAR*& p) {
  int v = 0;
  while (*p >= u'0' && *p <= u'9') {
    v = std::min(kMaxField, v * 10 + (*p - u'0'));
    ++p;
  }
  return v;
}

}  // namespace

namespace ce {

namespace {

int FormatInto(std::u16string& out, const WCHAR* fmt, va_list args) {
  va_list ap;
  va_copy(ap, args);
  bool ok = true;
  const WCHAR* p = fmt;
  while (*p) {
    if (*p != u'%') {
      const WCHAR* run = p;
      while (*p && *p != u'%') ++p;
      out.append(run, static_cast<size_t>(p - run));
      continue;
    }
    const WCHAR* start = p++;
    if (*p == u'%') {
      out += u'%';
      ++p;
      continue;
    }
    Spec sp;
    for (;; ++p) {
      if (*p == u'-') sp.minus = true;
      else if (*p == u'+') sp.plus = true;
      else if (*p == u' ') sp.space = true;
      else if (*p == u'#') sp.hash = true;
      else if (*p == u'0') sp.zero = true;
      else break;
    }
    if (*p == u'*') {
      int w = va_arg(ap, int);
      ++p;
      if (w < 0) {
        sp.minus = true;
        w = (w == INT_MIN) ? INT_MAX : -w;
      }
      sp.width = std::min(w, kMaxField);
    } else {
      sp.width = ReadNumber(p);
    }
    if (*p == u'.') {
      ++p;
      if (*p == u'*') {
        int pr = va_arg(ap, int);
        ++p;
        sp.precision = pr < 0 ? -1 : std::min(pr, kMaxField);
      } else {
        sp.precision = ReadNumber(p);
      }
    }
    switch (*p) {
      case u'h':
        ++p;
        sp.len = Len::H;
        if (*p == u'h') ++p, sp.len = Len::HH;
        break;
      case u'l':
        ++p;
        sp.len = Len::L;
        if (*p == u'l') ++p, sp.len = Len::LL;
        break;
      case u'q': ++p, sp.len = Len::LL; break;
      case u'L': ++p, sp.len = Len::LongDouble; break;
      case u'w': ++p, sp.len = Len::Wide; break;
      case u'z':
      case u't': ++p, sp.len = Len::Size; break;
      case u'j': ++p, sp.len = Len::Max; break;
      case u'I':
        if (p[1] == u'6' && p[2] == u'4') p += 3, sp.len = Len::LL;
        else if (p[1] == u'3' && p[2] == u'2') p += 3, sp.len = Len::L;
        else ++p, sp.len = Len::Size;
        break;
      default: break;
    }
    const WCHAR conv = *p;
    if (!conv) {  // format ends inside a spec: copy it as it stands
      out.append(start, static_cast<size_t>(p - start));
      break;
    }
    ++p;
    switch (conv) {
      case u'd':
      case u'i': {
        long long v;
        switch (sp.len) {
          case Len::HH: v = static_cast<signed char>(va_arg(ap, int)); break;
          case Len::H: v = static_cast<short>(va_arg(ap, int)); break;
          case Len::LL: v = va_arg(ap, long long); break;
          case Len::Size: v = va_arg(ap, ptrdiff_t); break;
          case Len::Max: v = va_arg(ap, intmax_t); break;
          default: v = va_arg(ap, int); break;
        }
        ok &= AppendC(out, NarrowSpec(sp, "ll", 'd'), v);
        break;
      }
      case u'u':
      case u'x':
      case u'X':
      case u'o': {
        unsigned long long v;
        switch (sp.len) {
          case Len::HH: v = static_cast<unsigned char>(va_arg(ap, unsigned)); break;
          case Len::H: v = static_cast<unsigned short>(va_arg(ap, unsigned)); break;
          case Len::LL: v = va_arg(ap, unsigned long long); break;
          case Len::Size: v = va_arg(ap, size_t); break;
          case Len::Max: v = va_arg(ap, uintmax_t); break;
          default: v = va_arg(ap, unsigned); break;
        }
        ok &= AppendC(out, NarrowSpec(sp, "ll", static_cast<char>(conv)), v);
        break;
      }
      case u'e':
      case u'E':
      case u'f':
      case u'F':
      case u'g':
      case u'G':
      case u'a':
      case u'A':
        if (sp.len == Len::LongDouble) {
          ok &= AppendC(out, NarrowSpec(sp, "L", static_cast<char>(conv)), va_arg(ap, long double));
        } else {
          ok &= AppendC(out, NarrowSpec(sp, "", static_cast<char>(conv)), va_arg(ap, double));
        }
        break;
      case u'p': {
        // Upper-case hex, at least the device's 8 digits.
        auto v = static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(va_arg(ap, void*)));
        char buf[32];
        int n = snprintf(buf, sizeof buf, "%08llX", v);
        std::u16string text;
        Widen(text, buf, static_cast<size_t>(n));
        AppendPadded(out, text, sp);
        break;
      }
      case u'c':
      case u'C': {
        int v = va_arg(ap, int);
        bool narrow = (conv == u'c') ? sp.len == Len::H : !(sp.len == Len::L || sp.len == Len::Wide);
        WCHAR ch = static_cast<WCHAR>(v);
        if (narrow) {
          char b = static_cast<char>(v);
          ch = FromAnsi(std::string_view(&b, 1))[0];
        }
        AppendPadded(out, std::u16string_view(&ch, 1), sp);
        break;
      }
      case u's':
      case u'S': {
        bool narrow = (conv == u's') ? sp.len == Len::H : !(sp.len == Len::L || sp.len == Len::Wide);
        size_t limit = sp.precision >= 0 ? static_cast<size_t>(sp.precision) : SIZE_MAX;
        std::u16string text;
        if (narrow) {
          const char* s = va_arg(ap, const char*);
          if (!s) s = "(null)";
          size_t n = 0;
          while (n < limit && s[n]) ++n;
          text = FromAnsi(std::string_view(s, n));
        } else {
          const WCHAR* s = va_arg(ap, const WCHAR*);
          if (!s) s = u"(null)";
          size_t n = 0;
          while (n < limit && s[n]) ++n;
          text.assign(s, n);
        }
        AppendPadded(out, text, sp);
        break;
      }
      case u'n':
        (void)va_arg(ap, void*);  // never written: a format is no place to store through
        break;
      default:
        out.append(start, static_cast<size_t>(p - start));
        break;
    }
  }
  va_end(ap);
  return ok ? static_cast<int>(std::min<size_t>(out.size(), INT_MAX)) : -1;
}

}  // namespace

// Formats into a fresh string first, so that out may also be one of the
// arguments (s.Format(u"%s", s.c_str()) style).
int FormatV(std::u16string& out, const WCHAR* fmt, va_list args) {
  std::u16string text;
  int r = fmt ? FormatInto(text, fmt, args) : -1;
  out.swap(text);
  return r;
}

std::u16string FormatVS(const WCHAR* fmt, va_list args) {
  std::u16string out;
  FormatV(out, fmt, args);
  return out;
}

std::u16string FormatArgs(const WCHAR* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::u16string out;
  FormatV(out, fmt, ap);
  va_end(ap);
  return out;
}

}  // namespace ce
