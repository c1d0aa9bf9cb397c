// FindFirstFile/FindNextFile/FindClose and the storage card enumeration.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "ce/errors.h"
#include "ce/handle.h"
#include "files/filestate.h"

using namespace ce;
using namespace ce::filestate;

namespace {

// What a find returns for one entry; the record is filled as it is handed
// out, so that a walk keeps little per entry.
struct FindItem {
  EntryInfo info;
  std::u16string name;
};

class FindObject : public HandleObject {
 public:
  std::vector<FindItem> entries;
  size_t next = 0;
};

void Fill(const EntryInfo& e, std::u16string_view name, WIN32_FIND_DATAW* d) {
  std::memset(d, 0, sizeof(*d));
  d->dwFileAttributes = e.attributes;
  d->ftCreationTime = FromTicks(e.ctime);
  d->ftLastAccessTime = FromTicks(e.atime);
  d->ftLastWriteTime = FromTicks(e.wtime);
  d->nFileSizeHigh = static_cast<DWORD>(e.size >> 32);
  d->nFileSizeLow = static_cast<DWORD>(e.size);
  d->dwOID = e.oid;
  size_t n = std::min<size_t>(name.size(), MAX_PATH - 1);
  std::copy_n(name.data(), n, d->cFileName);
}

// '*' and '?' against a name, ignoring case.
bool MatchPlain(std::u16string_view p, std::u16string_view n) {
  size_t pi = 0, ni = 0, starP = std::u16string_view::npos, starN = 0;
  while (ni < n.size()) {
    if (pi < p.size() && (p[pi] == u'?' || UpperChar(p[pi]) == UpperChar(n[ni]))) {
      ++pi;
      ++ni;
    } else if (pi < p.size() && p[pi] == u'*') {
      starP = pi++;
      starN = ni;
    } else if (starP != std::u16string_view::npos) {
      pi = starP + 1;
      ni = ++starN;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == u'*') ++pi;
  return pi == p.size();
}

// The device's rules: "x.*" also matches "x" (so "*.*" matches every
// name), "x." matches a name without a dot.
bool Match(std::u16string_view p, std::u16string_view n) {
  if (MatchPlain(p, n)) return true;
  if (p.size() >= 2 && p.substr(p.size() - 2) == u".*" && MatchPlain(p.substr(0, p.size() - 2), n))
    return true;
  if (!p.empty() && p.back() == u'.' && n.find(u'.') == std::u16string_view::npos &&
      MatchPlain(p.substr(0, p.size() - 1), n))
    return true;
  return false;
}

HANDLE Start(std::vector<FindItem> entries, LPWIN32_FIND_DATAW data) {
  if (entries.empty()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return INVALID_HANDLE_VALUE;
  }
  auto f = std::make_shared<FindObject>();
  f->entries = std::move(entries);
  Fill(f->entries[0].info, f->entries[0].name, data);
  f->next = 1;
  return AddHandle(f);
}

BOOL Next(HANDLE h, LPWIN32_FIND_DATAW data) {
  auto f = GetHandle<FindObject>(h);
  if (!f) return FALSE;
  if (!data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (f->next >= f->entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  const FindItem& item = f->entries[f->next++];
  Fill(item.info, item.name, data);
  return TRUE;
}

}  // namespace

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
  Device* dev = Dev();
  if (!dev) return INVALID_HANDLE_VALUE;
  if (!pattern || !data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::u16string s(pattern, StrLen(pattern));
  if (s.size() > MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  // A pattern without the root separator is rooted (see Device::Resolve).
  if (s.empty() || (s[0] != u'\\' && s[0] != u'/')) s.insert(s.begin(), u'\\');
  size_t cut = s.find_last_of(u"\\/");
  std::u16string name = s.substr(cut + 1);
  if (name.empty()) {  // "\" itself, or a trailing separator
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (name.find_first_of(u"*?") == std::u16string::npos) {
    ResolvedPath r;
    EntryInfo e;
    if (!dev->Resolve(s, &r)) return INVALID_HANDLE_VALUE;
    if (!r.exists) {
      SetLastError(r.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    if (!GetEntryInfo(dev, r, &e)) return INVALID_HANDLE_VALUE;
    std::vector<FindItem> one;
    one.push_back(FindItem{e, FromUtf8(r.host.filename().string())});
    return Start(std::move(one), data);
  }
  for (char16_t c : name) {
    if (c < 0x20 || c == u':' || c == u'"' || c == u'<' || c == u'>' || c == u'|') {
      SetLastError(ERROR_INVALID_NAME);
      return INVALID_HANDLE_VALUE;
    }
  }
  ResolvedPath folder;
  if (!dev->Resolve(cut == 0 ? std::u16string(u"\\") : s.substr(0, cut), &folder)) {
    return INVALID_HANDLE_VALUE;
  }
  if (!folder.isDirectory) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  struct Found {
    std::u16string upper;
    FindItem item;
  };
  std::vector<Found> found;
  DIR* d = opendir(folder.host.c_str());
  if (!d) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // The folder's rows in one read, the entries from the host listing.
  std::unordered_map<std::u16string, MetaRow> rows;
  if (!ReadMetaRowsBelow(dev, folder.key, &rows)) {
    closedir(d);
    SetLastError(ERROR_GEN_FAILURE);
    return INVALID_HANDLE_VALUE;
  }
  const std::u16string prefix = folder.key == u"\\" ? folder.key : folder.key + u'\\';
  while (dirent* de = readdir(d)) {
    if (!std::strcmp(de->d_name, ".") || !std::strcmp(de->d_name, "..")) continue;
    std::u16string n = FromUtf8(de->d_name);
    if (!Match(name, n)) continue;
    struct stat st;
    if (fstatat(dirfd(d), de->d_name, &st, 0) != 0) continue;  // vanished meanwhile
    std::u16string upper = DeviceUpper(n);
    auto row = rows.find(upper);
    EntryInfo e = EntryFromStat(dev, prefix + upper, st, row == rows.end() ? nullptr : &row->second);
    found.push_back(Found{std::move(upper), FindItem{e, std::move(n)}});
  }
  closedir(d);
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    if (a.upper != b.upper) return a.upper < b.upper;
    return a.item.name < b.item.name;
  });
  std::vector<FindItem> entries;
  entries.reserve(found.size());
  for (auto& f : found) entries.push_back(std::move(f.item));
  return Start(std::move(entries), data);
}

BOOL FindNextFileW(HANDLE h, LPWIN32_FIND_DATAW data) { return Next(h, data); }

BOOL FindClose(HANDLE h) {
  if (!GetHandle<FindObject>(h)) return FALSE;
  TakeHandle(h);
  return TRUE;
}

HANDLE FindFirstFlashCard(LPWIN32_FIND_DATAW data) {
  Device* dev = Dev();
  if (!dev) return INVALID_HANDLE_VALUE;
  if (!data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::vector<FindItem> entries;
  for (const auto& card : dev->GetProfile().cards) {
    ResolvedPath r;
    EntryInfo e;
    if (!dev->Resolve(u"\\" + card, &r) || !r.isDirectory || !GetEntryInfo(dev, r, &e)) continue;
    entries.push_back(FindItem{e, r.device.substr(1)});
  }
  return Start(std::move(entries), data);
}

BOOL FindNextFlashCard(HANDLE h, LPWIN32_FIND_DATAW data) { return Next(h, data); }
