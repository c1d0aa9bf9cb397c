// FormatMessageW over the device's system error texts.
#include <cstring>
#include <string>

#include "ce/errors.h"
#include "ce/system.h"
#include "ce/text.h"

namespace {

struct ErrorText {
  DWORD code;
  const char16_t* text;
};

const ErrorText kTexts[] = {
    {0, u"The operation completed successfully."},
    {1, u"Incorrect function."},
    {2, u"The system cannot find the file specified."},
    {3, u"The system cannot find the path specified."},
    {4, u"The system cannot open the file."},
    {5, u"Access is denied."},
    {6, u"The handle is invalid."},
    {8, u"Not enough storage is available to process this command."},
    {11, u"An attempt was made to load a program with an incorrect format."},
    {13, u"The data is invalid."},
    {14, u"Not enough storage is available to complete this operation."},
    {18, u"There are no more files."},
    {19, u"The media is write protected."},
    {21, u"The device is not ready."},
    {25, u"The drive cannot locate a specific area or track on the disk."},
    {29, u"The system cannot write to the specified device."},
    {30, u"The system cannot read from the specified device."},
    {31, u"A device attached to the system is not functioning."},
    {32, u"The process cannot access the file because it is being used by another process."},
    {33, u"The process cannot access the file because another process has locked a portion of the file."},
    {38, u"Reached the end of the file."},
    {50, u"The request is not supported."},
    {80, u"The file exists."},
    {87, u"The parameter is incorrect."},
    {109, u"The pipe has been ended."},
    {112, u"There is not enough space on the disk."},
    {120, u"This function is not supported on this system."},
    {122, u"The data area passed to a system call is too small."},
    {123, u"The filename, directory name, or volume label syntax is incorrect."},
    {126, u"The specified module could not be found."},
    {127, u"The specified procedure could not be found."},
    {128, u"There are no child processes to wait for."},
    {145, u"The directory is not empty."},
    {161, u"The specified path is invalid."},
    {183, u"Cannot create a file when that file already exists."},
    {193, u"The file is not a valid application."},
    {206, u"The filename or extension is too long."},
    {234, u"More data is available."},
    {258, u"The wait operation timed out."},
    {259, u"No more data is available."},
    {267, u"The directory name is invalid."},
    {288, u"Attempt to release mutex not owned by caller."},
    {299, u"Only part of a memory read or write request was completed."},
    {317, u"The system cannot find message text for the message number."},
    {1004, u"Invalid flags."},
    {1009, u"The configuration registry database is corrupt."},
    {1010, u"The configuration registry key is invalid."},
    {1011, u"The configuration registry key could not be opened."},
    {1012, u"The configuration registry key could not be read."},
    {1013, u"The configuration registry key could not be written."},
    {1018, u"Illegal operation attempted on a registry key that has been marked for deletion."},
    {1168, u"Element not found."},
    {1392, u"The file or directory is corrupted and unreadable."},
    {1400, u"Invalid window handle."},
    {1460, u"This operation returned because the timeout period expired."},
    {1812, u"The specified image file did not contain a resource section."},
    {1813, u"The specified resource type cannot be found in the image file."},
    {1814, u"The specified resource name cannot be found in the image file."},
};

}  // namespace

std::u16string ce::SystemErrorText(DWORD code) {
  for (const ErrorText& e : kTexts) {
    if (e.code == code) return e.text;
  }
  return {};
}

std::string ce::DescribeError(DWORD code) {
  std::string text = ToUtf8(SystemErrorText(code));
  while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
  // "Access is denied." reads as "access is denied"; "IO ..." stays.
  if (text.size() > 1 && text[0] >= 'A' && text[0] <= 'Z' && !(text[1] >= 'A' && text[1] <= 'Z'))
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  std::string out = "error " + std::to_string(code);
  return text.empty() ? out : out + " (" + text + ")";
}

DWORD FormatMessageW(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPWSTR buffer, DWORD size, va_list*) {
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || (flags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE)) ||
      !buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string text = ce::SystemErrorText(messageId);
  if (text.empty()) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  if ((flags & FORMAT_MESSAGE_MAX_WIDTH_MASK) != FORMAT_MESSAGE_MAX_WIDTH_MASK) text += u"\r\n";
  const DWORD len = static_cast<DWORD>(text.size());
  WCHAR* out = buffer;
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    const DWORD chars = (len + 1 > size ? len + 1 : size);
    out = static_cast<WCHAR*>(LocalAlloc(LMEM_FIXED, chars * sizeof(WCHAR)));
    if (!out) return 0;
    *reinterpret_cast<WCHAR**>(buffer) = out;
  } else if (len + 1 > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, text.data(), len * sizeof(WCHAR));
  out[len] = 0;
  return len;
}
