#include "postboot/HalveyMessage.h"

#include <vector>

#include "ce/file.h"
#include "postboot/HalveyFormat.h"

namespace {

// The bytes of the file's start, at most `limit`; empty when it cannot be
// opened or read.
std::vector<unsigned char> ReadFileStart(const CString& path, DWORD limit) {
  std::vector<unsigned char> bytes;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  bytes.resize(limit);
  DWORD got = 0;
  if (!ReadFile(file, bytes.data(), limit, &got, nullptr)) got = 0;
  bytes.resize(got);
  CloseHandle(file);
  return bytes;
}

}  // namespace

CString ReadHalveyMessage(const CString& messageFile) {
  if (messageFile.IsEmpty()) return CString();
  const std::vector<unsigned char> bytes = ReadFileStart(messageFile, halvey::kMaxMessageBytes);
  // The message has been taken: it is not shown again at the next start.
  // A file that stays (read-only, in use) only shows the message twice.
  DeleteFileW(messageFile);

  std::u16string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char16_t ch = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (ch == 0) break;
    text.push_back(ch);
  }
  return CString(text);
}

CString EscapeHtmlText(const CString& text) {
  CString out;
  for (int i = 0; i < text.GetLength(); ++i) {
    switch (const WCHAR ch = text[i]) {
      case u'&': out += u"&amp;"; break;
      case u'<': out += u"&lt;"; break;
      case u'>': out += u"&gt;"; break;
      case u'"': out += u"&quot;"; break;
      case u'\'': out += u"&#39;"; break;
      default: out += ch;
    }
  }
  return out;
}

CString HalveyNotificationHtml(const CString& message, const CString& viewReportButton,
                               const CString& dismissButton) {
  CString html;
  html.Format(halvey::kBubbleHtmlFormat, EscapeHtmlText(message).GetString(),
              EscapeHtmlText(viewReportButton).GetString(), EscapeHtmlText(dismissButton).GetString());
  return html;
}
