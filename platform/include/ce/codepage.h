// Code-page conversions. The device's ANSI code page (CP_ACP) is
// Windows-1252; CP_UTF8 is UTF-8. Every narrow/wide conversion of the
// device layer goes through here.
#pragma once

#include <string>
#include <string_view>

#include "ce/types.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_THREAD_ACP 3
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001
#define MB_COMPOSITE 0x00000002
#define MB_USEGLYPHCHARS 0x00000004
#define MB_ERR_INVALID_CHARS 0x00000008

#define WC_COMPOSITECHECK 0x00000200
#define WC_DISCARDNS 0x00000010
#define WC_SEPCHARS 0x00000020
#define WC_DEFAULTCHAR 0x00000040
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_NO_BEST_FIT_CHARS 0x00000400

#ifndef ERROR_INVALID_FLAGS
#define ERROR_INVALID_FLAGS 1004L
#endif
#ifndef ERROR_NO_UNICODE_TRANSLATION
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#endif

// Win32 semantics: a source length of -1 means NUL-terminated, the
// terminator included in the count; an output size of 0 asks for the
// size needed. Returns the count written (or needed); 0 on failure with
// the last error set: ERROR_INVALID_PARAMETER (bad pointers or sizes,
// unknown code page), ERROR_INSUFFICIENT_BUFFER (output too small),
// ERROR_INVALID_FLAGS, ERROR_NO_UNICODE_TRANSLATION (invalid input with
// MB_ERR_INVALID_CHARS / WC_ERR_INVALID_CHARS).
// Windows-1252: every byte maps (0x81, 0x8D, 0x8F, 0x90, 0x9D to the same
// code points); a wide character outside the code page becomes the
// default character ('?' unless lpDefaultChar gives one), and
// *lpUsedDefaultChar reports it. UTF-8: invalid input becomes U+FFFD, an
// unpaired surrogate is written as U+FFFD.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar);
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR lpDefaultChar, BOOL* lpUsedDefaultChar);

// The device's ANSI and OEM code pages (both 1252).
UINT GetACP();
UINT GetOEMCP();

namespace ce {

// Windows-1252 conversions of whole strings ('?' for unmappable).
std::string ToAnsi(std::u16string_view s);
std::u16string FromAnsi(std::string_view s);

}  // namespace ce
