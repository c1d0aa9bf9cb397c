#include "notify/notify_queue.h"

#include <memory>

#include "ce/bytes.h"
#include "ce/errors.h"
#include "ce/notifyqueue.h"
#include "ce/registry.h"
#include "ce/system.h"

namespace ce::notify {
namespace {

namespace nq = ce::notifyqueue;

constexpr DWORD kMaxVolumePathBytes = (MAX_PATH + 1) * 2;

struct LocalDeleter {
  void operator()(BYTE* p) const { LocalFree(p); }
};
using LocalBuffer = std::unique_ptr<BYTE, LocalDeleter>;

// The UTF-16 text at byte offset `at`, up to its terminator.
bool TextAt(std::string_view blob, uint32_t at, std::u16string* out) {
  out->clear();
  for (size_t i = at; i + 1 < blob.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(le::Get16(blob, i));
    if (c == 0) return true;
    out->push_back(c);
  }
  return false;
}

FILETIME ToFileTime(uint64_t ticks) {
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace

std::string EncodeEntry(const Entry& e) {
  std::string b;
  const uint32_t argsAt = nq::kHeaderSize + static_cast<uint32_t>((e.program.size() + 1) * 2);
  le::Put32(&b, nq::kHeaderSize);
  le::Put32(&b, e.type);
  le::Put64(&b, e.start);
  le::Put64(&b, e.end);
  le::Put32(&b, e.event);
  le::Put32(&b, argsAt);
  for (const std::u16string* s : {&e.program, &e.arguments}) {
    for (char16_t c : *s) le::Put16(&b, c);
    le::Put16(&b, 0);
  }
  return b;
}

bool DecodeEntry(std::string_view blob, Entry* e) {
  if (blob.size() < nq::kHeaderSize) return false;
  Entry out;
  out.type = le::Get32(blob, nq::kTriggerTypeAt);
  out.start = le::Get64(blob, nq::kStartTimeAt);
  out.end = le::Get64(blob, nq::kEndTimeAt);
  out.event = le::Get32(blob, nq::kEventAt);
  if (!TextAt(blob, le::Get32(blob, nq::kProgramOffsetAt), &out.program) ||
      !TextAt(blob, le::Get32(blob, nq::kArgumentsOffsetAt), &out.arguments))
    return false;
  out.handle = e->handle;
  *e = std::move(out);
  return true;
}

std::u16string VolumePath() {
  HKEY key = nullptr;
  std::u16string path = nq::kDefaultVolume;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, nq::kVolumeKey, 0, 0, &key) != ERROR_SUCCESS) return path;
  WCHAR buf[MAX_PATH + 1] = {};
  DWORD type = 0, size = kMaxVolumePathBytes - 2;
  if (RegQueryValueExW(key, nq::kVolumeValue, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) ==
          ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && buf[0] != 0)
    path = buf;
  RegCloseKey(key);
  return path;
}

Queue::~Queue() {
  const DWORD saved = GetLastError();
  if (db_ != INVALID_HANDLE_VALUE) CloseHandle(db_);
  // An unmount that fails leaves a count on a volume the next reset ends.
  if (mounted_) CeUnmountDBVol(&guid_);
  SetLastError(saved);
}

bool Queue::Open() {
  std::u16string path = VolumePath();
  if (!CeMountDBVol(&guid_, path.data(), OPEN_ALWAYS)) return false;
  mounted_ = true;
  CEOID oid = 0;
  db_ = CeOpenDatabaseEx2(&guid_, &oid, const_cast<LPWSTR>(nq::kDatabaseName), nullptr, CEDB_AUTOINCREMENT,
                          nullptr);
  if (db_ != INVALID_HANDLE_VALUE) return true;
  if (GetLastError() != ERROR_NO_MORE_ITEMS) return false;
  CEDBASEINFO info{};
  info.dwFlags = CEDB_VALIDNAME | CEDB_VALIDTYPE | CEDB_VALIDSORTSPEC;
  for (size_t i = 0; nq::kDatabaseName[i]; ++i) info.szDbaseName[i] = nq::kDatabaseName[i];
  info.wNumSortOrder = 1;
  info.rgSortSpecs[0].propid = nq::kNotifyTimeProp;
  // Another program may make it at the same moment: then open theirs.
  if (CeCreateDatabaseEx(&guid_, &info) == 0 && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  oid = 0;
  db_ = CeOpenDatabaseEx2(&guid_, &oid, const_cast<LPWSTR>(nq::kDatabaseName), nullptr, CEDB_AUTOINCREMENT,
                          nullptr);
  return db_ != INVALID_HANDLE_VALUE;
}

bool Queue::ReadCurrent(Entry* out, CEOID* oid) {
  BYTE* raw = nullptr;
  DWORD size = 0;
  WORD count = 0;
  *oid = CeReadRecordPropsEx(db_, CEDB_ALLOWREALLOC, &count, nullptr, &raw, &size, nullptr);
  LocalBuffer buffer(raw);
  if (*oid == 0) return false;
  const CEPROPVAL* props = reinterpret_cast<const CEPROPVAL*>(buffer.get());
  for (WORD i = 0; i < count; ++i) {
    if (props[i].propid != nq::kNotifyEntryProp) continue;
    out->handle = *oid;
    std::string_view blob(reinterpret_cast<const char*>(props[i].val.blob.lpb), props[i].val.blob.dwCount);
    if (DecodeEntry(blob, out)) return true;
    break;
  }
  SetLastError(ERROR_FILE_CORRUPT);
  return false;
}

bool Queue::List(std::vector<Entry>* out, std::vector<CEOID>* malformed) {
  out->clear();
  if (CeSeekDatabaseEx(db_, CEDB_SEEK_BEGINNING, 0, 0, nullptr) == 0) {
    // An empty database has no first record.
    if (GetLastError() == ERROR_NO_MORE_ITEMS) return true;
    return false;
  }
  for (;;) {
    Entry e;
    CEOID oid = 0;
    if (ReadCurrent(&e, &oid)) {
      out->push_back(std::move(e));
      continue;
    }
    if (oid == 0) return GetLastError() == ERROR_NO_MORE_ITEMS;
    if (malformed) malformed->push_back(oid);
  }
}

bool Queue::Seek(CEOID handle) {
  if (handle != 0 && CeSeekDatabaseEx(db_, CEDB_SEEK_CEOID, handle, 0, nullptr) == handle) return true;
  SetLastError(ERROR_INVALID_PARAMETER);
  return false;
}

bool Queue::Find(CEOID handle, Entry* out) {
  if (!Seek(handle)) return false;
  CEOID oid = 0;
  return ReadCurrent(out, &oid);
}

bool Queue::Write(CEOID handle, const Entry& e, CEOID* written) {
  std::string blob = EncodeEntry(e);
  CEPROPVAL props[2] = {};
  props[0].propid = nq::kNotifyTimeProp;
  props[0].val.filetime = ToFileTime(e.start);
  props[1].propid = nq::kNotifyEntryProp;
  props[1].val.blob.dwCount = static_cast<DWORD>(blob.size());
  props[1].val.blob.lpb = reinterpret_cast<LPBYTE>(blob.data());
  const CEOID oid = CeWriteRecordProps(db_, handle, 2, props);
  if (oid == 0) return false;
  if (written) *written = oid;
  return true;
}

bool Queue::Add(const Entry& e, CEOID* handle) { return Write(0, e, handle); }

bool Queue::Replace(CEOID handle, const Entry& e) { return Seek(handle) && Write(handle, e, nullptr); }

bool Queue::Remove(CEOID handle) { return Seek(handle) && CeDeleteRecord(db_, handle); }

}  // namespace ce::notify
