// C-style wide-string functions over WCHAR (char16_t) and the device's
// printf engine. The functions are global overloads next to the wchar_t
// ones of <cwchar>; both headers can be included together.
//
// Printf rules (as on the device): %s, %ls, %ws take const WCHAR*; %hs and
// %S take a narrow const char* (Windows-1252); %c a WCHAR, %hc and %C a
// narrow char. Integer sizes follow the 32-bit device: plain and 'l' are
// 32 bits, 'll' and 'I64' 64 bits, 'z', 'I' and 't' size_t, 'h' 16 bits.
// A null string prints "(null)". %n is not supported (it writes nothing).
#pragma once

#include <concepts>
#include <cstdarg>
#include <cstddef>
#include <string>
#include <type_traits>

#include "ce/types.h"

namespace ce {

// Formats into out (replacing its contents; out may also be one of the
// arguments). Returns the number of characters produced, or -1 (out
// empty) when fmt is null.
int FormatV(std::u16string& out, const WCHAR* fmt, va_list args);
std::u16string FormatVS(const WCHAR* fmt, va_list args);
std::u16string FormatArgs(const WCHAR* fmt, ...);

namespace detail {

// An argument on its way to a printf-style list: a string object (one with
// GetString(), or a std::u16string) goes as its text pointer; anything that
// is not a number or a pointer is refused at compile time.
template <typename T>
auto VarArg(const T& v) {
  if constexpr (requires { { v.GetString() } -> std::convertible_to<const WCHAR*>; }) {
    return static_cast<const WCHAR*>(v.GetString());
  } else if constexpr (std::is_same_v<T, std::u16string>) {
    return v.c_str();
  } else {
    static_assert(std::is_scalar_v<std::decay_t<const T&>>,
                  "printf-style argument must be a number, a pointer or a string object");
    return static_cast<std::decay_t<const T&>>(v);
  }
}

}  // namespace detail

// Formats and returns the text (empty when fmt is null).
template <typename... Args>
std::u16string Format(const WCHAR* fmt, const Args&... args) {
  return FormatArgs(fmt, detail::VarArg(args)...);
}

}  // namespace ce

// Length, copy, concatenation. Null arguments are not allowed here (as in
// the C library); the lstr* family below tolerates them.
size_t wcslen(const WCHAR* s);
WCHAR* wcscpy(WCHAR* dst, const WCHAR* src);
// Copies at most n characters; pads with NULs; no terminator when src has
// n or more characters.
WCHAR* wcsncpy(WCHAR* dst, const WCHAR* src, size_t n);
WCHAR* wcscat(WCHAR* dst, const WCHAR* src);
// Appends at most n characters of src and always terminates.
WCHAR* wcsncat(WCHAR* dst, const WCHAR* src, size_t n);

// Ordinal comparison (<0, 0, >0).
int wcscmp(const WCHAR* a, const WCHAR* b);
int wcsncmp(const WCHAR* a, const WCHAR* b, size_t n);
// Comparison of the lower-cased characters (device case mapping).
int _wcsicmp(const WCHAR* a, const WCHAR* b);
int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t n);

// Searches. wcschr finds the terminator when c is 0; wcsstr of an empty
// needle is the haystack.
const WCHAR* wcschr(const WCHAR* s, WCHAR c);
WCHAR* wcschr(WCHAR* s, WCHAR c);
const WCHAR* wcsrchr(const WCHAR* s, WCHAR c);
WCHAR* wcsrchr(WCHAR* s, WCHAR c);
const WCHAR* wcsstr(const WCHAR* s, const WCHAR* needle);
WCHAR* wcsstr(WCHAR* s, const WCHAR* needle);

// In-place case conversion; return s.
WCHAR* _wcsupr(WCHAR* s);
WCHAR* _wcslwr(WCHAR* s);
WCHAR towupper(WCHAR c);
WCHAR towlower(WCHAR c);

// Number parsing. Leading white space and a sign are accepted. Values out
// of the 32-bit device range saturate (wcstoul: 0xFFFFFFFF, negated for a
// leading '-' as in C; wcstol and _wtol: LONG_MIN/LONG_MAX of 32 bits).
// base 0 detects "0x" (hex) and a leading 0 (octal).
ULONG wcstoul(const WCHAR* s, WCHAR** end, int base);
LONG wcstol(const WCHAR* s, WCHAR** end, int base);
int _wtoi(const WCHAR* s);
LONG _wtol(const WCHAR* s);
LONGLONG _wtoi64(const WCHAR* s);

// The Win32 lstr* family: null pointers are tolerated (lengths 0, copies
// return null, a null string sorts before any other).
int lstrlenW(LPCWSTR s);
LPWSTR lstrcpyW(LPWSTR dst, LPCWSTR src);
// Copies at most max-1 characters and always terminates (when max > 0).
LPWSTR lstrcpynW(LPWSTR dst, LPCWSTR src, int max);
LPWSTR lstrcatW(LPWSTR dst, LPCWSTR src);
int lstrcmpW(LPCWSTR a, LPCWSTR b);
int lstrcmpiW(LPCWSTR a, LPCWSTR b);

// Formatted output through the device engine.
// wsprintfW writes at most 1024 characters including the terminator and
// returns the count written without it.
int wsprintfW(LPWSTR buf, LPCWSTR fmt, ...);
int wvsprintfW(LPWSTR buf, LPCWSTR fmt, va_list args);
// _snwprintf: at most count characters. Fits with room: terminated, returns
// the length. Exactly count: not terminated, returns count. Longer: count
// characters, not terminated, returns -1.
int _snwprintf(WCHAR* buf, size_t count, const WCHAR* fmt, ...);
int _vsnwprintf(WCHAR* buf, size_t count, const WCHAR* fmt, va_list args);
// swprintf with a size: writes at most n characters including the
// terminator and always terminates (n > 0); returns the length, or -1 when
// the text did not fit.
int swprintf(WCHAR* buf, size_t n, const WCHAR* fmt, ...);
int vswprintf(WCHAR* buf, size_t n, const WCHAR* fmt, va_list args);

#define wsprintf wsprintfW
#define wvsprintf wvsprintfW
#define lstrlen lstrlenW
#define lstrcpy lstrcpyW
#define lstrcpyn lstrcpynW
#define lstrcat lstrcatW
#define lstrcmp lstrcmpW
#define lstrcmpi lstrcmpiW
#define _tcslen wcslen
#define _tcscpy wcscpy
#define _tcsncpy wcsncpy
#define _tcscat wcscat
#define _tcscmp wcscmp
#define _tcsicmp _wcsicmp
#define _tcsnicmp _wcsnicmp
#define _tcsncmp wcsncmp
#define _tcschr wcschr
#define _tcsrchr wcsrchr
#define _tcsstr wcsstr
#define _tcsupr _wcsupr
#define _tcslwr _wcslwr
#define _ttoi _wtoi
#define _ttol _wtol
#define _tcstoul wcstoul
#define _tcstol wcstol
#define _stprintf swprintf
#define _sntprintf _snwprintf
#ifndef _T
#define _T(x) u##x
#endif
#ifndef TEXT
#define TEXT(x) u##x
#endif
