// The database component: its part of the content tree, its estimates and
// the backup. The restore is in DatabaseRestore.cpp.
#include "engine/DatabaseComponent.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "ce/errors.h"
#include "ce/text.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/System.h"
#include "engine/Global.h"
#include "engine/Operation.h"
#include "image/ImageFile.h"

namespace {

const WCHAR kClass[] = u"ADatabase";

// Resource texts of a record that could not be read: 57740, the record's
// number in the walk, a blank, 57741, the database's name.
enum : DWORD { kStrRecordNotRead = 57740, kStrRecordNotReadIn = 57741 };

constexpr char16_t kMailVolume[] = u"\\cemail.vol";
constexpr char16_t kMailVolumeCopy[] = u"\\cemail.volc";
constexpr char16_t kReplStorVolume[] = u"\\ReplStorVol";

using namespace DatabaseEntryFormat;

DWORD Crc(DWORD crc, const void* data, size_t length) {
  if (length == 0 || !data) return crc;
  return static_cast<DWORD>(crc32(crc, static_cast<const Bytef*>(data), static_cast<uInt>(length)));
}

CString Number(ULONGLONG value) {
  CString text;
  text.Format(u"%llu", value);
  return text;
}

// Bytes of a fixed-size type's value; 0 for texts, blobs, streams and
// unknown types.
DWORD FixedWidth(WORD type) {
  switch (type) {
    case CEVT_I2:
    case CEVT_UI2: return 2;
    case CEVT_I4:
    case CEVT_UI4:
    case CEVT_BOOL:
    case CEVT_RECID:
    case CEVT_AUTO_I4: return 4;
    case CEVT_R8:
    case CEVT_FILETIME:
    case CEVT_AUTO_I8: return 8;
    default: return 0;
  }
}
bool IsText(WORD type) { return type == CEVT_LPWSTR; }
bool IsBytes(WORD type) { return type == CEVT_BLOB || type == CEVT_STREAM; }
bool IsKnownType(WORD type) { return FixedWidth(type) || IsText(type) || IsBytes(type); }

size_t TextLength(const CEPROPVAL& property) { return property.val.lpwstr ? ce::StrLen(property.val.lpwstr) : 0; }

void Append(std::vector<BYTE>& out, const void* data, size_t length) {
  if (length == 0) return;
  const BYTE* bytes = static_cast<const BYTE*>(data);
  out.insert(out.end(), bytes, bytes + length);
}

bool SortedNoCase(const CString& a, const CString& b) {
  return ce::DeviceUpper(a.view()) < ce::DeviceUpper(b.view());
}

// Sorted by name ignoring case, each name once.
void SortUnique(std::vector<CString>& names) {
  std::stable_sort(names.begin(), names.end(), SortedNoCase);
  names.erase(std::unique(names.begin(), names.end(),
                          [](const CString& a, const CString& b) { return ce::EqualNoCase(a.view(), b.view()); }),
              names.end());
}

// A volume the database volumes component stores as a file: a child of
// the database volumes node (expanded first when needed).
bool IsVolumeFile(Index& index, const CString& path) {
  int volumes = index.FindChildOfType(TREE_DBVOLUMES);
  if (volumes == -1) return false;
  if (!index.IsPopulated(volumes)) index.PopulateChildren(volumes, index.IsSelected(volumes));
  for (int c = index.FirstChild(volumes); c != -1; c = index.NextSibling(c))
    if (ce::EqualNoCase(index.NodeName(c), path.view())) return true;
  return false;
}

bool IsLeftOutVolume(Index& index, const CString& path) {
  return ce::EqualNoCase(path.view(), kMailVolume) || ce::EqualNoCase(path.view(), kMailVolumeCopy) ||
         ce::EqualNoCase(path.view(), kReplStorVolume) || IsVolumeFile(index, path);
}

// The mounted volumes of one interface that have a file; false when the
// walk failed (what it found so far is kept).
bool CollectVolumes(bool edb, std::vector<CString>& paths) {
  return CeDatabase::EnumVolumesOf(edb, [&](const CEGUID& guid, const CString& name) {
    if (CeGuidEqual(guid, ZERO_CEGUID)) return CeDatabase::kContinue;
    CString path = name;
    if (path.IsEmpty() || path[0] != u'\\') path = CString(u"\\") + path;
    if (System::FileExists(path)) paths.push_back(path);
    return CeDatabase::kContinue;
  });
}

Index::Item NodeItem(DWORD type, const CString& name, bool edb, bool selected) {
  Index::Item item;
  item.ComponentType = type;
  item.name = name.str();
  item.userData = edb ? kDatabaseUserDataEdb : kDatabaseUserDataCedb;
  item.selected = selected ? 1 : 0;
  return item;
}

}  // namespace

// ADatabase -----------------------------------------------------------------

ADatabase::ADatabase(Index& index, ITaskProgress* progress, AImageFile* imageFile)
    : m_Index(index), m_pProgress(progress), m_pImageFile(imageFile) {}

ADatabase::~ADatabase() { ReleaseDatabase(); }

void ADatabase::Progress(DWORD bytes) {
  if (!m_pProgress) return;
  m_pProgress->AddBytesWritten(bytes);
  m_pProgress->UpdateProgress(false);
}

bool ADatabase::WriteBody(const void* data, DWORD length, bool last, const CString& failText) {
  if (m_pImageFile->Write(data, length, true, last)) return true;
  m_bImageFailed = true;
  LogError(GetLastError(), failText, kClass, __LINE__);
  return false;
}

StoredPropertyValue ADatabase::StoredValue(const CEPROPVAL& property) {
  StoredPropertyValue stored{};
  stored.propertyId = property.propid;
  stored.flags = property.wFlags;
  const WORD type = TypeFromPropID(property.propid);
  if (DWORD width = FixedWidth(type))
    std::memcpy(stored.value, &property.val, width);
  else if (IsBytes(type))
    std::memcpy(stored.value, &property.val.blob.dwCount, sizeof(DWORD));
  return stored;
}

bool ADatabase::GetRecordPropertyCRC(const CEPROPVAL& property, DWORD& crc, ULONGLONG& size) {
  if (property.wFlags & CEDB_PROPNOTFOUND) {
    Log(0, u"Flags == CEDB_PROPNOTFOUND on CRC", kClass, __LINE__);
    return false;
  }
  const WORD type = TypeFromPropID(property.propid);
  if (!IsKnownType(type)) {
    Log(type, u"CRC Unrecognised record datatype:", kClass, __LINE__);
    return false;
  }
  const StoredPropertyValue stored = StoredValue(property);
  crc = Crc(crc, &stored, sizeof stored);
  size += kValueRecordSize;
  if (IsText(type)) {
    const size_t characters = TextLength(property);
    crc = Crc(crc, property.val.lpwstr, characters * 2);
    size += characters * 2 + kTextLengthSize + 2;
  } else if (IsBytes(type)) {
    crc = Crc(crc, property.val.blob.lpb, property.val.blob.dwCount);
    size += property.val.blob.dwCount;
  }
  return true;
}

bool ADatabase::WriteRecordProperty(const CEPROPVAL& property) {
  if (property.wFlags & CEDB_PROPNOTFOUND) {
    LogError(0, u"Flags == CEDB_PROPNOTFOUND", kClass, __LINE__);
    return false;
  }
  const WORD type = TypeFromPropID(property.propid);
  if (!IsKnownType(type)) {
    LogError(type, u"Unrecognised record datatype:", kClass, __LINE__);
    return false;
  }
  const StoredPropertyValue stored = StoredValue(property);
  Append(m_Body, &stored, sizeof stored);
  if (IsText(type)) {
    const size_t characters = TextLength(property);
    const DWORD length = static_cast<DWORD>((characters + 1) * 2);
    Append(m_Body, &length, sizeof length);
    Append(m_Body, property.val.lpwstr, characters * 2);
    m_Body.push_back(0);
    m_Body.push_back(0);
  } else if (IsBytes(type)) {
    Append(m_Body, property.val.blob.lpb, property.val.blob.dwCount);
  }
  return true;
}

bool ADatabase::WriteRecordImageHeader(CEOID recordId, DWORD count, DWORD size, DWORD crc) {
  AImageFileHeader header(kRecordEntryType, size, count, 0, crc, recordId);
  if (header.WriteEnciphered(*m_pImageFile)) return true;
  m_bImageFailed = true;
  LogError(GetLastError(), u"Failed to write record header", kClass, __LINE__);
  return false;
}

bool ADatabase::WriteDatabaseImageHeader(int node, const DatabaseInfoRecord& info) {
  const CString name = CeDatabase::InfoName(info);
  if (info.objectType != OBJTYPE_DATABASE) {
    LogError(0, u"WriteDatabaseImageHeader() - Not a database", kClass, __LINE__);
    return false;
  }
  DWORD position = 0;
  if (!m_pImageFile->GetBytesWritten(&position)) {
    LogError(GetLastError(), u"Error getting filepointer for backupfile index entry", kClass, __LINE__);
    return false;
  }
  const bool edb = info.version == kDatabaseInfoVersionEdb;
  CString volume;
  if (!CeDatabase::GetDatabaseVolumeName(edb, name, volume)) {
    LogError(GetLastError(), CString(u"Did not find db volume for : ") + name, kClass, __LINE__);
    return false;
  }
  const DWORD crc = Crc(0, &info, sizeof info);
  m_Index.SetLocation(node, position, 0, crc, 0, 0);

  const DWORD nameBytes = static_cast<DWORD>((volume.GetLength() + 1) * 2);
  AImageFileHeader header(kDatabaseEntryType, kInfoSize, 0, nameBytes, crc, 0);
  if (!header.WriteEnciphered(*m_pImageFile)) {
    m_bImageFailed = true;
    LogError(GetLastError(), u"Write on Header to image file failed", kClass, __LINE__);
    return false;
  }
  m_bEntryWritten = true;
  Progress(ImageFormat::kHeaderSize);
  if (!WriteBody(&info, kInfoSize, false, CString(u"Write database header to image failed for ") + name))
    return false;
  Progress(kInfoSize);
  // The body's run ends here for CEDB; EDB's goes on into its definitions.
  if (!WriteBody(volume.GetString(), nameBytes, !edb,
                 CString(u"Write database volume header to image failed for ") + name))
    return false;
  Progress(nameBytes);
  if (m_pProgress) m_pProgress->UpdateProgress(false);
  return true;
}

bool ADatabase::ReadDefinitions(HANDLE database, std::vector<CEPROPSPEC>& specs, std::deque<std::u16string>& names) {
  WORD count = 0;
  if (!CeGetDatabaseProps(database, &count, nullptr, nullptr)) {
    LogError(GetLastError(), u"BackupDatabase() Failed to get Database Properties Count", kClass, __LINE__);
    return false;
  }
  specs.assign(count, CEPROPSPEC{});
  for (CEPROPSPEC& spec : specs) {
    names.emplace_back(kDefinitionNameBytes / 2, u'\0');
    spec.pwszPropName = names.back().data();
    spec.cchPropName = kDefinitionNameBytes / 2;
  }
  if (count && !CeGetDatabaseProps(database, &count, nullptr, specs.data())) {
    LogError(GetLastError(), u"BackupDatabase() Failed to Read Database Properties", kClass, __LINE__);
    return false;
  }
  specs.resize(std::min<size_t>(count, specs.size()));
  return true;
}

bool ADatabase::WriteDefinitions(const std::vector<CEPROPSPEC>& specs, const CString& name) {
  const WORD count = static_cast<WORD>(specs.size());
  if (!WriteBody(&count, sizeof count, count == 0, CString(u"Write database num prop specs ") + name)) return false;
  Progress(sizeof count);
  for (WORD i = 0; i < count; ++i) {
    const StoredPropertyDefinition stored{CEPROPSPEC_VERSION, specs[i].propid, specs[i].dwFlags, 0,
                                          kDefinitionNameCapacity};
    if (!WriteBody(&stored, sizeof stored, false, CString(u"Write database prop spec ") + name)) return false;
    BYTE buffer[kDefinitionNameBytes] = {};
    const size_t characters = std::min<size_t>(ce::StrLen(specs[i].pwszPropName), kDefinitionNameCapacity);
    std::memcpy(buffer, specs[i].pwszPropName, characters * 2);
    if (!WriteBody(buffer, sizeof buffer, i + 1 == count, CString(u"Write database prop name ") + name)) return false;
    Progress(kDefinitionStride);
  }
  return true;
}

ADatabase::RecordVerdict ADatabase::JudgeRecord(CEOID id, CeDatabaseCompareBase& selector, DWORD& crc,
                                                ULONGLONG& size) {
  const WORD count = m_Record.Count();
  if (count == 0) return RecordVerdict::kNoProperties;
  if (m_Record.Size() == 0) return RecordVerdict::kNoBuffer;
  if (!selector.Accept(id)) return RecordVerdict::kRejected;
  const CEPROPVAL* properties = m_Record.Properties();
  crc = 0;
  size = 0;
  for (WORD i = 0; i < count; ++i)
    if (!GetRecordPropertyCRC(properties[i], crc, size)) return RecordVerdict::kCrcFailed;
  if (size > 0xFFFFFFFFull) {
    Log(0, CString(u"Record too large for the image: ") + Number(id), kClass, __LINE__);
    return RecordVerdict::kCrcFailed;
  }
  return RecordVerdict::kWrite;
}

bool ADatabase::AppendRecordBody() {
  for (WORD i = 0; i < m_Record.Count(); ++i) {
    if (!WriteRecordProperty(m_Record.Properties()[i])) {
      LogError(0, u"WriteRecordProperty() failed", kClass, __LINE__);
      return false;
    }
  }
  return true;
}

ADatabase::StepResult ADatabase::Conclude(RecordVerdict verdict, CEOID id, DWORD walkNumber, const CString& name) {
  switch (verdict) {
    case RecordVerdict::kUnreadable:
      LogWarning(0,
                 Localizer::LoadResString(kStrRecordNotRead) + Number(walkNumber) + u" " +
                     Localizer::LoadResString(kStrRecordNotReadIn) + name,
                 kClass, __LINE__);
      return StepResult::kDone;
    case RecordVerdict::kNoProperties:
      LogWarning(0, CString(u"NumberOfPropertyIDs = 0 for Record ") + Number(id), kClass, __LINE__);
      return StepResult::kDone;
    case RecordVerdict::kNoBuffer:
      LogWarning(0, CString(u"BufferSize = 0 for Record ") + Number(id), kClass, __LINE__);
      return StepResult::kDone;
    case RecordVerdict::kCrcFailed:
      LogError(0, u"GetRecordPropertyCRC() failed", kClass, __LINE__);
      return StepResult::kWarned;
    default: return StepResult::kDone;
  }
}

ADatabase::StepResult ADatabase::WriteRecord(CEOID id, WORD count, DWORD crc, const BYTE* body, DWORD size) {
  if (!WriteRecordImageHeader(id, count, size, crc)) return StepResult::kFailed;
  // One run over the whole body, ended by this write.
  if (!WriteBody(body, size, true, u"Write record property header to image failed")) {
    LogError(0, u"WriteRecordProperty() failed", kClass, __LINE__);
    return StepResult::kFailed;
  }
  Progress(ImageFormat::kHeaderSize + size);
  return StepResult::kDone;
}

ADatabase::StepResult ADatabase::BackupRecord(HANDLE database, CEOID id, DWORD walkNumber, const CString& name,
                                              CeDatabaseCompareBase& selector) {
  DWORD crc = 0;
  ULONGLONG size = 0;
  RecordVerdict verdict = RecordVerdict::kUnreadable;
  if (CeSeekDatabaseEx(database, CEDB_SEEK_CEOID, id, 0, nullptr) && m_Record.Read(database))
    verdict = JudgeRecord(id, selector, crc, size);
  if (verdict != RecordVerdict::kWrite) return Conclude(verdict, id, walkNumber, name);
  // The body is built first: nothing reaches the image unless all of it can.
  m_Body.clear();
  m_Body.reserve(static_cast<size_t>(size));
  if (!AppendRecordBody()) return StepResult::kWarned;
  return WriteRecord(id, m_Record.Count(), crc, m_Body.data(), static_cast<DWORD>(m_Body.size()));
}

ADatabase::StepResult ADatabase::BackupWindow(HANDLE database, CEOID start, DWORD first, DWORD length,
                                              DWORD& taken, const CString& name, CeDatabaseCompareBase& selector) {
  m_Window.clear();
  m_Body.clear();
  bool reread = false;
  if (!CeSeekDatabaseEx(database, CEDB_SEEK_CEOID, start, 0, nullptr)) {
    // Gone since the windows were taken: nothing of it can be read.
    m_Window.assign(length, PendingRecord{});
  }
  // Forward, each read moving on by one.
  while (m_Window.size() < length) {
    PendingRecord pending;
    pending.oid = m_Record.Read(database);
    if (!pending.oid) {
      if (GetLastError() == ERROR_NO_MORE_ITEMS) break;  // the database ends sooner
      m_Window.push_back(pending);
      // Past the unreadable one; at the end the window is complete.
      if (!CeSeekDatabaseEx(database, CEDB_SEEK_CURRENT, 1, 0, nullptr)) break;
      continue;
    }
    pending.count = m_Record.Count();
    ULONGLONG size = 0;
    pending.verdict = JudgeRecord(pending.oid, selector, pending.crc, size);
    if (pending.verdict == RecordVerdict::kWrite && !reread) {
      pending.at = m_Body.size();
      if (!AppendRecordBody()) pending.verdict = RecordVerdict::kBodyFailed;
      pending.size = static_cast<DWORD>(m_Body.size() - pending.at);
      // Too much to hold: the window's records are read again one by one.
      reread = m_Body.size() > kWindowBytes;
    }
    m_Window.push_back(pending);
  }
  if (taken == 0) taken = first + static_cast<DWORD>(m_Window.size());
  if (reread) m_Body.clear();
  for (size_t i = m_Window.size(); i-- > 0 && !m_bCancel;) {
    const PendingRecord& p = m_Window[i];
    const DWORD walkNumber = taken - 1 - (first + static_cast<DWORD>(i));
    StepResult result;
    if (p.verdict == RecordVerdict::kBodyFailed)
      result = StepResult::kWarned;
    else if (p.verdict != RecordVerdict::kWrite)
      result = Conclude(p.verdict, p.oid, walkNumber, name);
    else if (reread)
      result = BackupRecord(database, p.oid, walkNumber, name, selector);
    else
      result = WriteRecord(p.oid, p.count, p.crc, m_Body.data() + p.at, p.size);
    if (result != StepResult::kDone) return result;
  }
  return StepResult::kDone;
}

bool ADatabase::BackupDatabase(int node, HANDLE database, const DatabaseInfoRecord& info,
                               CeDatabaseCompareBase& selector) {
  const CString name = CeDatabase::InfoName(info);
  Log(0, name, kClass, __LINE__);
  const bool edb = info.version == kDatabaseInfoVersionEdb;
  // The definitions are read before anything is written: a failure then
  // leaves no part of an entry in the image.
  std::vector<CEPROPSPEC> specs;
  std::deque<std::u16string> specNames;
  if (edb) {
    Log(0, u"Saving Database Properties", kClass, __LINE__);
    if (!ReadDefinitions(database, specs, specNames)) return false;
  }
  DWORD start = 0;
  m_pImageFile->GetBytesWritten(&start);  // always succeeds
  if (!WriteDatabaseImageHeader(node, info)) {
    LogError(GetLastError(), u"BackupDatabase() Failed to write header", kClass, __LINE__);
    return false;
  }
  if (edb && !WriteDefinitions(specs, name)) return false;

  // The record count's records from the beginning, taken from the last to
  // the first: in windows read forward (one device call a record), each
  // written from its end.
  std::vector<CEOID> starts;
  if (info.numRecords) {
    CEOID start = CeSeekDatabaseEx(database, CEDB_SEEK_BEGINNING, 0, 0, nullptr);
    for (DWORD at = 0; start && at < info.numRecords; at += kWindowRecords) {
      starts.push_back(start);
      start = CeSeekDatabaseEx(database, CEDB_SEEK_CURRENT, kWindowRecords, 0, nullptr);
    }
  }
  bool ok = true;
  DWORD taken = 0;
  for (size_t w = starts.size(); ok && w-- > 0 && !m_bCancel;) {
    const DWORD first = static_cast<DWORD>(w) * kWindowRecords;
    const DWORD length = std::min(kWindowRecords, info.numRecords - first);
    ok = BackupWindow(database, starts[w], first, length, taken, name, selector) == StepResult::kDone;
  }
  DWORD end = 0;
  m_pImageFile->GetBytesWritten(&end);
  m_Index.NodeInfo(node).sizeInImage = end - start;
  return ok;
}

ADatabase::StepResult ADatabase::BackupNode(int node) {
  const CString name(m_Index.NodeName(node));
  const bool edb = m_Index.UserData(node) == kDatabaseUserDataEdb;
  Log(0, CString(u"Opening database ") + name + (edb ? u", it is a EDB database" : u", it is a CEDB database"),
      kClass, __LINE__);
  DatabaseInfoRecord info;
  CeDatabase::DatabaseLocation location;
  HANDLE database = CeDatabase::OpenDatabaseWithInfo(nullptr, name, edb, info, &location);
  if (database == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_NO_MORE_ITEMS) {
      Log(error, CString(u"Could not find database : ") + name, kClass, __LINE__);
      LogWarning(error, CString(u"Could not find database : ") + name, kClass, __LINE__);
      // The image has no entry for it: the index must not name one.
      m_Index.SetSelected(node, false);
      return StepResult::kDone;
    }
    LogError(error, CString(u"Opening ") + name, kClass, __LINE__);
    return StepResult::kFailed;
  }
  // The walk seeks to each record itself; an empty database has no first.
  CeSeekDatabaseEx(database, CEDB_SEEK_BEGINNING, 0, 0, nullptr);
  if (m_pProgress) {
    m_pProgress->SetStatusText(name.view());
    m_pProgress->UpdateProgress(false);
  }
  m_Index.NodeInfo(node).OID = location.oid;
  CeDatabaseCompareBase everyRecord;
  m_bEntryWritten = false;
  const bool ok = BackupDatabase(node, database, info, everyRecord);
  if (!CeDatabase::CloseDatabase(database)) LogError(GetLastError(), u"CloseHandle() Failed", kClass, __LINE__);
  if (!m_bEntryWritten) m_Index.SetSelected(node, false);
  if (ok) return StepResult::kDone;
  if (m_bImageFailed) return StepResult::kFailed;
  LogWarning(0, CString(u"BackupDatabase failed for ") + CeDatabase::InfoName(info), kClass, __LINE__);
  return StepResult::kWarned;
}

bool ADatabase::Backup() {
  m_bImageFailed = false;
  const int top = m_Index.FindChildOfType(TREE_DATABASES);
  if (top == -1) return true;
  for (int n = m_Index.NextInSubtree(top, top); n != -1; n = m_Index.NextInSubtree(top, n)) {
    if (m_bCancel) return true;
    const DWORD type = m_Index.NodeType(n);
    if (type == TREE_DATABASE_GROUP || type == TREE_DATABASES) continue;
    if (type != TREE_DATABASE) {
      LogError(type, u"Unknown type encountered while backing up the Databases data", kClass, __LINE__);
      return false;
    }
    if (BackupNode(n) == StepResult::kFailed) return false;
  }
  return true;
}

// The content tree ------------------------------------------------------------

void ADatabaseComponent::PopulateChildren(Index& index, int node, bool selected) {
  if (index.IsPopulated(node)) return;
  const DWORD type = index.NodeType(node);
  std::vector<Index::Item> items;
  if (type == TREE_DATABASES) {
    std::vector<CString> cedb{CString(kObjectStoreGroup)};
    std::vector<CString> edb;
    if (!CollectVolumes(false, cedb) || !CollectVolumes(true, edb))
      Log(GetLastError(), u"GetMountedVolumePaths INVALIDGUID, failed", kClass, __LINE__);
    SortUnique(cedb);
    SortUnique(edb);
    for (bool isEdb : {false, true}) {
      for (const CString& path : isEdb ? edb : cedb) {
        if (IsLeftOutVolume(index, path)) continue;
        items.push_back(NodeItem(TREE_DATABASE_GROUP, path, isEdb, selected));
      }
    }
  } else if (type == TREE_DATABASE_GROUP) {
    const bool edb = index.UserData(node) == kDatabaseUserDataEdb;
    const CString group(index.NodeName(node));
    std::vector<CString> names;
    // A walk that fails part-way keeps the databases listed so far.
    CeDatabase::ListDatabaseNames(CeDatabase::FindVolumeGuid(group), names, edb);
    for (const CString& name : names) items.push_back(NodeItem(TREE_DATABASE, name, edb, selected));
  }
  index.AddChildren(node, items);
}

ULONGLONG ADatabaseComponent::ImageSize(Index& index, int node) {
  if (index.NodeType(node) != TREE_DATABASE) return 0;
  const bool edb = index.UserData(node) == kDatabaseUserDataEdb;
  DatabaseInfoRecord info;
  HANDLE database = CeDatabase::OpenDatabaseWithInfo(nullptr, CString(index.NodeName(node)), edb, info);
  if (database == INVALID_HANDLE_VALUE) return 0;
  ULONGLONG total = ImageFormat::kHeaderSize + kInfoSize;
  // The records in their order, each read moving on by one (the order does
  // not matter to a sum); an unreadable one is passed over.
  CeRecordBuffer record;
  DWORD taken = 0;
  bool more = info.numRecords && CeSeekDatabaseEx(database, CEDB_SEEK_BEGINNING, 0, 0, nullptr);
  for (; more && taken < info.numRecords; ++taken) {
    if (!record.Read(database)) {
      more = GetLastError() != ERROR_NO_MORE_ITEMS && CeSeekDatabaseEx(database, CEDB_SEEK_CURRENT, 1, 0, nullptr);
      continue;
    }
    total += ImageFormat::kHeaderSize;
    for (WORD i = 0; i < record.Count(); ++i) {
      const CEPROPVAL& p = record.Properties()[i];
      const WORD type = TypeFromPropID(p.propid);
      if (p.wFlags & CEDB_PROPNOTFOUND) continue;
      if (IsText(type))
        total += 2 * (TextLength(p) + kEstimateTextExtra);
      else if (IsBytes(type))
        total += p.val.blob.dwCount + kEstimateValue;
      else
        total += kEstimateValue;
    }
  }
  CeDatabase::CloseDatabase(database);
  return total;
}

bool ADatabaseComponent::HasVolumeGroup(Index& index, const CString& name) {
  const int top = index.FindChildOfType(TREE_DATABASES);
  if (top == -1) return false;
  if (!index.IsPopulated(top)) index.PopulateChildren(top, index.IsSelected(top));
  for (int c = index.FirstChild(top); c != -1; c = index.NextSibling(c))
    if (index.NodeName(c) == name.view()) return true;
  return false;
}

ULONGLONG GetDatabasesSize(Index& index) {
  const int top = index.FindChildOfType(TREE_DATABASES);
  return top == -1 ? 0 : index.SizeOfSelected(top);
}

ADatabaseComponent& GetGlobalDatabaseComponent() {
  static ADatabaseComponent component;
  // The newest global state object may change (a task's own): set each time.
  GetGlobal().g_WorkingIndex.SetComponent(IndexOwner::Databases, &component);
  return component;
}

void RegisterDatabaseComponent() {
  GetGlobalDatabaseComponent();
  SetTaskComponentFactory(TaskPart::Databases, [](AImageFile& image, ITaskProgress* progress) {
    return std::unique_ptr<ATaskComponent>(std::make_unique<ADatabase>(GetGlobal().g_WorkingIndex, progress, &image));
  });
}
