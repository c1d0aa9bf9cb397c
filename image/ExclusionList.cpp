#include "image/ExclusionList.h"

#include <zlib.h>

#include <memory>
#include <string>

#include "ce/codepage.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/text.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "core/System.h"
#include "image/File.h"
#include "image/ImageFile.h"

namespace {

const WCHAR kListClass[] = u"AExclusionList";
const WCHAR kHandlerClass[] = u"AExcludeHandler";

constexpr DWORD kMaxUserListBytes = 1024 * 1024;
constexpr DWORD kMaxRomListBytes = 256 * 1024;
constexpr int kMaxRomListLines = 100;
constexpr DWORD kCrcPiece = 0x20000;

const WCHAR* const kExcludedFolders[] = {u"\\Network", u"\\SECURE FOLDER", u"\\Windows\\Temp"};

// Entries without a leading "\" name a file in any folder.
const WCHAR* const kExcludedPaths[] = {
    u"\\Windows\\AvantGo\\avgoversion\\0",
    u"\\Windows\\AvantGo\\avgoversion\\1",
    u"\\Temp\\Lissent.txt",
    u"\\Temp\\Corvane.txt",
    u"\\Windows\\lic\\lsoma.db",
    u"\\GCounterFile.mmf",
    u"\\Windows\\Activesync\\GCounterFile.mmf",
    u"\\Windows\\ActiveSync\\CtrlLog.txt",
    u"Restart Synchronization Marker.1",
    u"Restart Synchronization Marker.2",
    u"\\History.txt",
    u"\\Temp\\Atdbg0.log",
    u"\\Temp\\Atdbg1.log",
    u"\\brpdrv.txt",
    u"\\rildrv.txt",
};

// Matched on the beginning of the file name.
const WCHAR* const kExcludedNamePrefixes[] = {
    u"BackupLog.txt",
    u"BackupLogOld.txt",
    u"BackupReport.txt",
    u"QuilmoInitLog.txt",
    u"quilmo.tmp",
    u"QuilmoAgent.dll",
    u"mdmlog",
    u"Repllog.Up",
    u"MsgQueueDataFileMicrosoft",
    u"MsgQueueMapFileMicrosoft",
    u"spider.txt",
};

// Excluded (exact case) while the agent program Corvane is installed.
const WCHAR* const kCorvaneFiles[] = {u"databases.paf", u"dbchanges.paf"};

// Process-wide caches of the tests.
std::vector<ARomExcludeEntry> g_romList;
int g_romCount = -1;
int g_corvaneInstalled = -1;

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  return prefix.size() <= text.size() && ce::EqualNoCase(text.substr(0, prefix.size()), prefix);
}

CString FileNameOf(const CString& path) { return path.Mid(path.ReverseFind(u'\\') + 1); }

CString Lower(CString s) {
  s.MakeLower();
  return s;
}

bool EndsWithBackslash(const CString& s) {
  return !s.IsEmpty() && s[s.GetLength() - 1] == u'\\';
}

// Reads a whole device file of at most maxBytes. err: the open failure.
enum class ReadResult { kOk, kOpenFailed, kTooLarge, kReadFailed };
ReadResult ReadWholeFile(const CString& path, DWORD maxBytes, bool cutAtMax, std::string* out,
                         DWORD* err) {
  HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *err = GetLastError();
    return ReadResult::kOpenFailed;
  }
  DWORD high = 0;
  DWORD size = GetFileSize(h, &high);
  ReadResult result = ReadResult::kOk;
  if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
    *err = GetLastError();
    result = ReadResult::kReadFailed;
  } else if (high != 0 || size > maxBytes) {
    if (cutAtMax) size = maxBytes;
    else result = ReadResult::kTooLarge;
  }
  if (result == ReadResult::kOk) {
    out->assign(size, '\0');
    DWORD done = 0;
    while (done < size) {
      DWORD got = 0;
      if (!ReadFile(h, out->data() + done, size - done, &got, nullptr)) {
        *err = GetLastError();
        result = ReadResult::kReadFailed;
        break;
      }
      if (got == 0) break;  // the file shrank
      done += got;
    }
    out->resize(done);
  }
  CloseHandle(h);
  return result;
}

// 1 to 8 hexadecimal digits, an optional "0x" before them.
bool ParseHex(CString text, DWORD* value) {
  text.Trim();
  if (text.GetLength() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X'))
    text = text.Mid(2);
  if (text.IsEmpty() || text.GetLength() > 8) return false;
  DWORD v = 0;
  for (int i = 0; i < text.GetLength(); ++i) {
    WCHAR c = text[i];
    int d = c >= u'0' && c <= u'9'   ? c - u'0'
            : c >= u'a' && c <= u'f' ? c - u'a' + 10
            : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                     : -1;
    if (d < 0) return false;
    v = (v << 4) | static_cast<DWORD>(d);
  }
  *value = v;
  return true;
}

}  // namespace

// AExclusionList ------------------------------------------------------------

AExclusionList::AExclusionList() = default;

AExclusionList::AExclusionList(const CString& filePath) : m_FilePath(filePath) {}

CString AExclusionList::GetFilePath() const {
  if (!m_FilePath.IsEmpty()) return m_FilePath;
  return System::GetProgramPath(false) + u"ExcludeList.txt";
}

bool AExclusionList::Load() {
  m_Entries.clear();
  Log(0, u"Loading Exclusion List", kListClass, __LINE__);
  std::string bytes;
  DWORD err = 0;
  switch (ReadWholeFile(GetFilePath(), kMaxUserListBytes, false, &bytes, &err)) {
    case ReadResult::kOpenFailed:
      if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return true;
      LogError(err, u"Failed to open Exclusion File list for reading", kListClass, __LINE__);
      return false;
    case ReadResult::kTooLarge:
      LogError(0, u"Exclusion file too large", kListClass, __LINE__);
      return false;
    case ReadResult::kReadFailed:
      LogError(err, u"Failed to read Exclusion File list", kListClass, __LINE__);
      return false;
    case ReadResult::kOk:
      break;
  }
  if (bytes.empty()) {
    Log(0, u"Zero length exclusion file", kListClass, __LINE__);
    return true;
  }
  Log(0, u"closing file", kListClass, __LINE__);
  std::u16string text(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(static_cast<BYTE>(bytes[2 * i]) |
                                    (static_cast<BYTE>(bytes[2 * i + 1]) << 8));
  int count = Parse(text);
  CString message;
  message.Format(u"Exclusion List loaded - %d items", count);
  Log(0, message, kListClass, __LINE__);
  return true;
}

int AExclusionList::Parse(std::u16string_view text) {
  m_Entries.clear();
  if (!text.empty() && text.front() == u'\xFEFF') text.remove_prefix(1);
  size_t nul = text.find(u'\0');
  if (nul != std::u16string_view::npos) text = text.substr(0, nul);
  while (!text.empty()) {
    size_t end = text.find(u'$');
    if (end == std::u16string_view::npos) {
      LogWarning(0, u"Exclusion list ends inside an entry; the entry is ignored", kListClass,
                 __LINE__);
      break;
    }
    std::u16string_view entry = text.substr(0, end);
    text.remove_prefix(end + 1);
    size_t bar = entry.find(u'|');
    if (entry.empty() || bar == std::u16string_view::npos) break;
    PathName item{Lower(CString(entry.substr(0, bar))), Lower(CString(entry.substr(bar + 1)))};
    // An entry without folder and extension would leave out everything.
    if (item.folder.IsEmpty() && item.extension.IsEmpty()) break;
    if (!item.folder.IsEmpty() && !EndsWithBackslash(item.folder)) item.folder += u'\\';
    m_Entries.push_back(item);
  }
  return GetCount();
}

bool AExclusionList::Save() {
  Log(0, u"Saving exclusion list", kListClass, __LINE__);
  HANDLE h = CreateFileW(GetFilePath(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    LogError(GetLastError(), u"Failed to open Exclusion File list for writing", kListClass,
             __LINE__);
    return false;
  }
  std::u16string text;
  for (const PathName& e : m_Entries) {
    CString line;
    line.Format(u"%s|%s", e.folder.GetString(), e.extension.GetString());
    Log(0, line, kListClass, __LINE__);
    text += line.str();
    text += u'$';
  }
  std::string bytes(text.size() * 2, '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  DWORD written = 0;
  bool ok = bytes.empty() ||
            (WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
             written == bytes.size());
  DWORD err = ok ? 0 : GetLastError();
  if (!CloseHandle(h) && ok) {
    ok = false;
    err = GetLastError();
  }
  if (!ok) {
    LogError(err, u"Failed to write Exclusion File list", kListClass, __LINE__);
    return false;
  }
  Log(0, u"Exclusion list saved", kListClass, __LINE__);
  return true;
}

bool AExclusionList::Split(const CString& path, CString& folder, CString& extension) {
  int slash = path.ReverseFind(u'\\');
  CString last = path.Mid(slash + 1);
  if (slash >= 0 && path[0] != u'\\') return false;
  if (slash >= 0 && (last.IsEmpty() || last.Find(u'.') < 0)) {
    folder = path;
    extension.Empty();
  } else {
    // "*.ext"; "*." alone is refused: it would turn into a folder entry,
    // or an entry for everything.
    if (last.Left(2) != u"*." || last.GetLength() == 2) return false;
    extension = last.Mid(2);
    folder = slash >= 0 ? path.Left(slash) : CString();
    if (slash >= 0 && folder.IsEmpty()) folder = u"\\";
  }
  if (!folder.IsEmpty() && !EndsWithBackslash(folder)) folder += u'\\';
  return true;
}

int AExclusionList::Add(const CString& path) {
  if (path.IsEmpty() || path.GetLength() > MAX_PATH || path.FindOneOf(u"$|") >= 0) return -1;
  CString folder, extension;
  if (!Split(path, folder, extension)) return -1;
  if (folder.IsEmpty() && extension.IsEmpty()) return -1;
  m_Entries.push_back(PathName{Lower(folder), Lower(extension)});
  return GetCount() - 1;
}

bool AExclusionList::Remove(const CString& path) {
  CString folder, extension;
  if (!Split(path, folder, extension)) return false;
  for (auto it = m_Entries.begin(); it != m_Entries.end(); ++it) {
    if (it->extension == extension && it->folder == folder) {
      m_Entries.erase(it);
      return true;
    }
  }
  return false;
}

CString AExclusionList::MakePattern(int index) const {
  if (index < 0 || index >= GetCount()) return CString();
  const PathName& e = m_Entries[static_cast<size_t>(index)];
  CString pattern;
  if (e.extension.IsEmpty()) pattern.Format(u"%s", e.folder.GetString());
  else if (e.folder.IsEmpty()) pattern.Format(u"*.%s", e.extension.GetString());
  else pattern.Format(u"%s*.%s", e.folder.GetString(), e.extension.GetString());
  return pattern;
}

bool AExclusionList::Match(const CString& folder, const CString& extension,
                           bool isDirectory) const {
  CString f = Lower(folder);
  if (!EndsWithBackslash(f)) f += u'\\';
  CString ext = Lower(extension);
  for (const PathName& e : m_Entries) {
    if (e.extension.IsEmpty()) {
      if (f.Left(e.folder.GetLength()) == e.folder) return true;
    } else if (e.folder.IsEmpty()) {
      if (ext == e.extension) return true;
    } else if (e.extension == u"*") {
      if (f == e.folder && !isDirectory) return true;
    } else if (f == e.folder && ext == e.extension) {
      return true;
    }
  }
  return false;
}

// AExcludeHandler -----------------------------------------------------------

bool AExcludeHandler::IsExcludedDirectory(const CString& path) const {
  CString folder = path;
  if (folder.GetLength() > 1 && EndsWithBackslash(folder)) folder = folder.Left(folder.GetLength() - 1);
  for (const WCHAR* excluded : kExcludedFolders) {
    if (ce::EqualNoCase(folder.view(), excluded)) {
      CString text;
      text.Format(u"Ignoring directory %s", path.GetString());
      Log(0, text, kHandlerClass, __LINE__);
      return true;
    }
  }
  return false;
}

bool AExcludeHandler::IsExcluded(const CString& path) const {
  if (g_romCount < 0) {
    LoadRomExcludeList();
    CString text;
    text.Format(u"Loaded rom exclusion list with %d entries", g_romCount);
    Log(0, text, kHandlerClass, __LINE__);
  }
  CString text;
  if (!m_Options.skipRomTest) {
    for (const ARomExcludeEntry& entry : g_romList) {
      if (!ce::EqualNoCase(entry.name.view(), path.view())) continue;
      DWORD crc = GetFileCRC(path);
      if (crc == entry.crc) {
        text.Format(u"Ignoring custom exclude rom file %s", path.GetString());
        Log(0, text, kHandlerClass, __LINE__);
        return true;
      }
      text.Format(u"Found custom ROM exclude match %s without CRC match 0x%08x", path.GetString(),
                  crc);
      Log(0, text, kHandlerClass, __LINE__);
    }
  }

  const CString name = FileNameOf(path);
  bool excluded = false;
  for (const WCHAR* p : kExcludedPaths) {
    std::u16string_view entry(p);
    if (ce::EqualNoCase(entry.front() == u'\\' ? path.view() : name.view(), entry)) excluded = true;
  }
  for (const WCHAR* prefix : kExcludedNamePrefixes)
    if (StartsWithNoCase(name.view(), prefix)) excluded = true;
  if (!excluded && IsCorvaneInstalled()) {
    for (const WCHAR* file : kCorvaneFiles)
      if (name == file) excluded = true;
  }
  if (excluded) {
    text.Format(u"Ignoring file %s", path.GetString());
    Log(0, text, kHandlerClass, __LINE__);
  }
  return excluded;
}

bool AExcludeHandler::IsExcludedFile(const CString& path) const {
  if (!m_Options.applyExclusions) return false;
  int slash = path.ReverseFind(u'\\');
  CString name = path.Mid(slash + 1);
  int dot = name.ReverseFind(u'.');
  CString extension = dot >= 0 ? name.Mid(dot + 1) : CString();
  auto is = [&extension](const WCHAR* e) { return ce::EqualNoCase(extension.view(), e); };
  if (m_Options.excludePrograms && (is(u"exe") || is(u"dll"))) return true;
  if (m_Options.excludeBackupImages) {
    if (is(u"pbf")) return true;
    if (is(u"exe") && AImageFile::IsBackupFile(path)) return true;
  }
  return m_ExclusionList.Match(path.Left(slash + 1), extension, false);
}

bool AExcludeHandler::IsExcludedByUserList(const CString& folderPath) const {
  if (!m_Options.applyExclusions) return false;
  return m_ExclusionList.Match(folderPath, CString(), true);
}

DWORD AExcludeHandler::GetFileCRC(const CString& path) {
  AFile file(path);
  CString text;
  if (!file.Open(GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL)) {
    text.Format(u"Couldn't open %s to generate CRC", path.GetString());
    Log(file.GetError(), text, kHandlerClass, __LINE__);
    return 0;
  }
  std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[kCrcPiece]);
  if (!buffer) {
    Log(0, u"ExcludeHandler::GetFileCRC(): Buffer allocation failed", kHandlerClass, __LINE__);
    return 0;
  }
  DWORD size = 0;
  if (!file.GetFileSize(&size)) {
    Log(file.GetError(), u"Failed to size file for CRC", kHandlerClass, __LINE__);
    return 0;
  }
  uLong crc = crc32(0L, Z_NULL, 0);
  DWORD left = size;
  while (left > 0) {
    DWORD piece = left < kCrcPiece ? left : kCrcPiece;
    DWORD got = 0;
    if (!file.Read(buffer.get(), piece, &got) || got == 0) {
      Log(file.GetError(), CString(u"Read() failed for ") + path, kHandlerClass, __LINE__);
      return 0;
    }
    crc = crc32(crc, buffer.get(), got);
    left -= got;
  }
  return static_cast<DWORD>(crc);
}

std::vector<ARomExcludeEntry> AExcludeHandler::ParseRomExcludeList(const char* text, size_t size) {
  std::vector<ARomExcludeEntry> entries;
  std::string_view rest(text ? text : "", text ? size : 0);
  for (int line = 0; line < kMaxRomListLines && !rest.empty(); ++line) {
    size_t end = rest.find('\n');
    std::string_view raw = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    if (raw.empty() || raw.front() == '%') continue;
    CString entry(ce::FromAnsi(raw));
    int colon = entry.ReverseFind(u':');
    ARomExcludeEntry item;
    if (colon > 0) {
      item.name = entry.Left(colon);
      item.name.Trim();
    }
    if (colon <= 0 || item.name.IsEmpty() || item.name.GetLength() > MAX_PATH ||
        !ParseHex(entry.Mid(colon + 1), &item.crc)) {
      LogWarning(0, CString(u"Bad line in rom file exclude list: ") + entry, kHandlerClass,
                 __LINE__);
      continue;
    }
    entries.push_back(item);
  }
  return entries;
}

void AExcludeHandler::LoadRomExcludeList() {
  g_romList.clear();
  g_romCount = 0;
  CString path = System::GetProgramPath(false) + u"ExcludeRomFilesList.ini";
  std::string bytes;
  DWORD err = 0;
  CString text;
  if (ReadWholeFile(path, kMaxRomListBytes, true, &bytes, &err) != ReadResult::kOk) {
    text.Format(u"Couldn't open rom file exclude list file %s", path.GetString());
    Log(err, text, kHandlerClass, __LINE__);
    return;
  }
  g_romList = ParseRomExcludeList(bytes.data(), bytes.size());
  for (const ARomExcludeEntry& e : g_romList) {
    text.Format(u"File %s added to ROM file exclude CRC: 0x%08x", e.name.GetString(), e.crc);
    Log(0, text, kHandlerClass, __LINE__);
  }
  g_romCount = static_cast<int>(g_romList.size());
}

void AExcludeHandler::ResetProcessCache() {
  g_romList.clear();
  g_romCount = -1;
  g_corvaneInstalled = -1;
}

int AExcludeHandler::GetRomEntryCount() { return g_romCount; }

bool AExcludeHandler::IsCorvaneInstalled() {
  if (g_corvaneInstalled < 0) g_corvaneInstalled = CorvaneProgramExists() ? 1 : 0;
  return g_corvaneInstalled == 1;
}
