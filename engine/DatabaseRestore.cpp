// The database component's restore: database entries and their record
// entries read back and put on the device.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "ce/errors.h"
#include "ce/text.h"
#include "core/Log.h"
#include "core/Path.h"
#include "engine/DatabaseComponent.h"
#include "engine/Operation.h"
#include "image/Cipher.h"
#include "image/ImageFile.h"

namespace {

const WCHAR kClass[] = u"ADatabase";

using namespace DatabaseEntryFormat;

DWORD Crc(DWORD crc, const void* data, size_t length) {
  if (length == 0) return crc;
  return static_cast<DWORD>(crc32(crc, static_cast<const Bytef*>(data), static_cast<uInt>(length)));
}

CString Number(ULONGLONG value) {
  CString text;
  text.Format(u"%llu", value);
  return text;
}

bool IsFixedType(WORD type) {
  switch (type) {
    case CEVT_I2:
    case CEVT_UI2:
    case CEVT_I4:
    case CEVT_UI4:
    case CEVT_BOOL:
    case CEVT_RECID:
    case CEVT_AUTO_I4:
    case CEVT_R8:
    case CEVT_FILETIME:
    case CEVT_AUTO_I8: return true;
    default: return false;
  }
}

// Up to the first NUL, at most max characters.
std::u16string TextUpToNul(const char16_t* chars, size_t max) {
  size_t n = 0;
  while (n < max && chars[n]) ++n;
  return std::u16string(chars, n);
}

// CEDB's creation form from the common information: what its fields hold.
bool OlderCreationForm(const DatabaseInfoRecord& info, CEDBASEINFO& out) {
  std::memset(&out, 0, sizeof out);
  const CString name = CeDatabase::InfoName(info);
  if (name.GetLength() >= static_cast<int>(CEDB_MAXDBASENAMELEN)) return false;
  out.dwFlags = CEDB_VALIDCREATE | (info.flags & ~CEDB_VALIDMASK);
  std::copy_n(name.GetString(), name.GetLength(), out.szDbaseName);
  out.dwDbaseType = info.type;
  out.wNumSortOrder = std::min<WORD>(info.numSortOrders, CEDB_MAXSORTORDER);
  for (WORD i = 0; i < out.wNumSortOrder; ++i)
    out.rgSortSpecs[i] = SORTORDERSPEC{info.sortOrders[i].propertyIds[0], info.sortOrders[i].propertyFlags[0]};
  return true;
}

void ExtendedCreationForm(const DatabaseInfoRecord& info, CEDBASEINFOEX& out) {
  std::memcpy(&out, &info.infoVersion, sizeof out);
  out.wVersion = CEDBASEINFOEX_VERSION;
  out.dwFlags = CEDB_VALIDCREATE | (info.flags & ~CEDB_VALIDMASK);
}

}  // namespace

void ADatabase::ReleaseDatabase() {
  if (m_hDatabase != INVALID_HANDLE_VALUE) {
    CeDatabase::CloseDatabase(m_hDatabase);  // nothing is pending on it: every write commits
    m_hDatabase = INVALID_HANDLE_VALUE;
  }
  if (m_bMounted) {
    CEGUID guid = m_MountedVolume;
    if (!CeUnmountDBVol(&guid)) Log(GetLastError(), u"Unmounting the database volume failed", kClass, __LINE__);
    m_bMounted = false;
  }
}

bool ADatabase::ReadNextHeader(AImageFileHeader& header) {
  if (!header.ReadDeciphered(*m_pImageFile)) {
    LogError(GetLastError(), u"Read on Header to image file failed", kClass, __LINE__);
    return false;
  }
  Progress(ImageFormat::kHeaderSize);
  return true;
}

bool ADatabase::Restore() {
  const int top = m_Index.FindChildOfType(TREE_DATABASES);
  if (top == -1) return true;
  bool ok = true;
  for (int n = m_Index.NextInSubtree(top, top); ok && n != -1; n = m_Index.NextInSubtree(top, n)) {
    const DWORD type = m_Index.NodeType(n);
    if (type == TREE_DATABASE_GROUP || type == TREE_DATABASES) continue;
    if (type != TREE_DATABASE) {
      LogError(type, CString(u"Unexpected header type during database restore ") + Number(type), kClass,
               __LINE__);
      ok = false;
    } else {
      ok = RestoreNode(n);
    }
  }
  ReleaseDatabase();
  return ok;
}

bool ADatabase::RestoreNode(int node) {
  const DWORD offset = m_Index.NodeInfo(node).fileOffset;
  if (offset > 0x7FFFFFFFu || !m_pImageFile->SetFilePointer(static_cast<LONG>(offset), FILE_BEGIN)) {
    LogError(GetLastError(), u"Restore - SetFilePointer(FileOffset) failed", kClass, __LINE__);
    return false;
  }
  AImageFileHeader header;
  // The entry's type is not tested: its body's sizes are.
  if (!header.ReadDeciphered(*m_pImageFile)) {
    LogError(GetLastError(), u"Restore - Read on Header to image file failed", kClass, __LINE__);
    return false;
  }
  Progress(ImageFormat::kHeaderSize);
  if (!RestoreDatabase(header, kDeleteDatabase)) {
    LogError(0, u"RestoreDatabase(Header) failed", kClass, __LINE__);
    return false;
  }
  for (;;) {
    if (!ReadNextHeader(header)) return false;
    if (header.ComponentType() != kRecordEntryType) return true;
    if (!RestoreRecord(header)) {
      LogError(0, u"RestoreRecord(Header) failed", kClass, __LINE__);
      return false;
    }
  }
}

bool ADatabase::ReadDatabaseBody(const AImageFileHeader& header, DatabaseBody& body) {
  AImageFile& image = *m_pImageFile;
  if (header.FixedPartSize() != kInfoSize || image.BytesLeft() < kInfoSize ||
      !image.Read(&body.info, kInfoSize, true, false)) {
    LogError(GetLastError(), u"Read on CEOIDINFO failed", kClass, __LINE__);
    return false;
  }
  Progress(kInfoSize);
  body.edb = body.info.version == kDatabaseInfoVersionEdb;

  const DWORD nameBytes = header.NameByteLength();
  if (nameBytes < 2 || nameBytes % 2 || nameBytes > kMaxVolumeNameBytes || nameBytes > image.BytesLeft()) {
    LogError(nameBytes, u"Read on volume name failed", kClass, __LINE__);
    return false;
  }
  std::u16string chars(nameBytes / 2, u'\0');
  // The body's run ends with the volume name for CEDB.
  if (!image.Read(chars.data(), nameBytes, true, !body.edb)) {
    LogError(GetLastError(), u"Read on volume name failed", kClass, __LINE__);
    return false;
  }
  body.volumeName = TextUpToNul(chars.data(), chars.size());
  Progress(nameBytes);
  if (!body.edb) return true;

  WORD count = 0;
  if (image.BytesLeft() < sizeof count || !image.Read(&count, sizeof count, true, false)) {
    LogError(GetLastError(), u"Read on numProps failed", kClass, __LINE__);
    return false;
  }
  Progress(sizeof count);
  if (count == 0) return GetImageCipher().EndRun();  // the count ended the run
  const DWORD total = count * kDefinitionStride;
  if (total > image.BytesLeft()) {
    LogError(count, u"Read on numProps failed", kClass, __LINE__);
    return false;
  }
  std::vector<BYTE> block(total);
  if (!image.Read(block.data(), total, true, true)) {
    LogError(GetLastError(), u"Read on Prop name failed", kClass, __LINE__);
    return false;
  }
  for (WORD i = 0; i < count; ++i) {
    const BYTE* at = block.data() + i * kDefinitionStride;
    StoredPropertyDefinition definition;
    std::memcpy(&definition, at, sizeof definition);
    char16_t name[kDefinitionNameBytes / 2];
    std::memcpy(name, at + kDefinitionSize, kDefinitionNameBytes);
    body.definitions.push_back(definition);
    body.definitionNames.push_back(TextUpToNul(name, kDefinitionNameCapacity));
    Log(i + 1, CString(body.definitionNames.back()), kClass, __LINE__);
  }
  Progress(total);
  return true;
}

bool ADatabase::ReadRecordProperty(const BYTE* data, DWORD length, DWORD& at, ParsedRecord& record) {
  if (length - at < kValueRecordSize) {
    LogError(0, u"Read record property header to image failed", kClass, __LINE__);
    return false;
  }
  StoredPropertyValue stored;
  std::memcpy(&stored, data + at, sizeof stored);
  record.crc = Crc(record.crc, data + at, sizeof stored);
  at += kValueRecordSize;
  CEPROPVAL property{};
  property.propid = stored.propertyId;
  const WORD type = TypeFromPropID(stored.propertyId);
  if (type == CEVT_LPWSTR) {
    DWORD textBytes = 0;
    if (length - at < kTextLengthSize) {
      LogError(0, u"Failed to read string length from image file", kClass, __LINE__);
      return false;
    }
    std::memcpy(&textBytes, data + at, kTextLengthSize);
    at += kTextLengthSize;
    if (textBytes == 0) {
      LogError(0, u" RestoreRecordProperty string size is 0 bytes ", kClass, __LINE__);
      return false;
    }
    if (textBytes % 2 || textBytes > length - at) {
      LogError(textBytes, u"Failed to read string record to image file", kClass, __LINE__);
      return false;
    }
    // The text without its stored NUL; the copy brings its own.
    std::u16string text(textBytes / 2 - 1, u'\0');
    std::memcpy(text.data(), data + at, textBytes - 2);
    record.crc = Crc(record.crc, data + at, textBytes - 2);
    at += textBytes;
    record.texts.push_back(std::move(text));
    property.val.lpwstr = record.texts.back().data();
  } else if (type == CEVT_BLOB || type == CEVT_STREAM) {
    DWORD count = 0;
    std::memcpy(&count, stored.value, sizeof count);
    if (count > length - at) {
      LogError(count, u"Failed to read blob record from image file", kClass, __LINE__);
      return false;
    }
    property.val.blob.dwCount = count;
    property.val.blob.lpb = count ? const_cast<BYTE*>(data + at) : nullptr;
    record.crc = Crc(record.crc, data + at, count);
    at += count;
  } else if (IsFixedType(type)) {
    std::memcpy(&property.val, stored.value, sizeof stored.value);
  } else {
    CString text;
    text.Format(u"Unrecognised datatype %d on 0x%08X:", static_cast<int>(type), stored.propertyId);
    LogError(0, text, kClass, __LINE__);
    return false;
  }
  // Auto-increment values are the device's to give.
  if (type != CEVT_AUTO_I4 && type != CEVT_AUTO_I8) record.properties.push_back(property);
  return true;
}

bool ADatabase::ReadRecordBody(const AImageFileHeader& header, ParsedRecord& record) {
  const DWORD count = header.CountOrValue();
  const DWORD size = header.FixedPartSize();
  if (count > 0xFFFF || static_cast<ULONGLONG>(count) * kValueRecordSize > size) {
    LogError(count, u" RestoreRecord PropertyArray Allocation failed ", kClass, __LINE__);
    return false;
  }
  if (size > m_pImageFile->BytesLeft()) {
    LogError(size, u"Read record property header to image failed", kClass, __LINE__);
    return false;
  }
  m_Body.resize(size);
  // The whole body is one run.
  if (size && !m_pImageFile->Read(m_Body.data(), size, true, true)) {
    LogError(GetLastError(), u"Read record property header to image failed", kClass, __LINE__);
    return false;
  }
  record.properties.reserve(count);
  record.bytes = size;
  DWORD at = 0;
  for (DWORD i = 0; i < count; ++i) {
    if (!ReadRecordProperty(m_Body.data(), size, at, record)) {
      LogError(0, CString(u" ReadRecordProperty() failed ") + u" Property=" + Number(i), kClass, __LINE__);
      return false;
    }
  }
  if (at != size) {
    LogError(size - at, u"Record size does not match its properties", kClass, __LINE__);
    return false;
  }
  return true;
}

bool ADatabase::FitsDatabase(const CEPROPVAL& property, const DatabaseBody& body) {
  if (body.edb)
    return std::any_of(body.definitions.begin(), body.definitions.end(),
                       [&](const StoredPropertyDefinition& d) { return d.propertyId == property.propid; });
  switch (TypeFromPropID(property.propid)) {
    case CEVT_I2:
    case CEVT_UI2:
    case CEVT_I4:
    case CEVT_UI4:
    case CEVT_R8:
    case CEVT_BOOL:
    case CEVT_FILETIME:
    case CEVT_LPWSTR:
    case CEVT_BLOB: return true;
    default: return false;
  }
}

bool ADatabase::CanCreate(const DatabaseBody& body) {
  const DatabaseInfoRecord& info = body.info;
  const CString name = CeDatabase::InfoName(info);
  const int longest = body.edb ? CEDB_EXMAXDBASENAMELEN - 1 : CEDB_MAXDBASENAMELEN - 1;
  bool ok = !name.IsEmpty() && name.GetLength() <= longest;
  if (body.edb) {
    ok = ok && info.numSortOrders <= CEDB_EXMAXSORTORDER;
    for (WORD i = 0; ok && i < info.numSortOrders; ++i) ok = info.sortOrders[i].numProperties <= CEDB_MAXSORTPROP;
    std::set<DWORD> ids;
    for (const StoredPropertyDefinition& d : body.definitions) {
      const WORD type = TypeFromPropID(d.propertyId);
      ok = ok && (IsFixedType(type) || type == CEVT_LPWSTR || type == CEVT_BLOB || type == CEVT_STREAM) &&
           ids.insert(d.propertyId).second;
    }
  }
  if (!ok)
    LogError(0, CString(u"The image's information of ") + name + u" cannot make a database", kClass, __LINE__);
  return ok;
}

bool ADatabase::CheckRecordEntries(const DatabaseBody& body) {
  AImageFile& image = *m_pImageFile;
  const DWORD start = image.GetPosition();
  bool ok = true;
  while (ok) {
    AImageFileHeader header;
    if (!header.ReadDeciphered(image)) {
      ok = false;
      break;
    }
    if (header.ComponentType() != kRecordEntryType) break;
    ParsedRecord record;
    ok = ReadRecordBody(header, record);
    for (size_t i = 0; ok && i < record.properties.size(); ++i) {
      if (FitsDatabase(record.properties[i], body)) continue;
      CString text;
      text.Format(u"Record property 0x%08X does not fit the database", record.properties[i].propid);
      LogError(0, text, kClass, __LINE__);
      ok = false;
    }
  }
  if (!image.SetFilePointer(static_cast<LONG>(start), FILE_BEGIN)) ok = false;
  if (!ok)
    LogError(0,
             CString(u"The image's records of ") + CeDatabase::InfoName(body.info) +
                 u" are damaged: the device's database is left as it is",
             kClass, __LINE__);
  return ok;
}

CEGUID ADatabase::PrepareVolume(const CString& volumeName, bool edb) {
  if (ce::EqualNoCase(volumeName.view(), kSystemHeap)) return ZERO_CEGUID;
  const int slash = volumeName.Find(u'\\');
  const CString path = GetStartupParentFolder() + (slash >= 0 ? volumeName.Mid(slash + 1) : volumeName);
  Log(0, CString(u"Changing name from ") + volumeName + u". to " + path + u".", kClass, __LINE__);
  Log(0, edb ? u"EDB Database" : u"CEDB Database", kClass, __LINE__);
  CEGUID guid{};
  std::u16string file = path.str();
  const BOOL mounted =
      edb ? CeMountDBVolEx(&guid, file.data(), nullptr, OPEN_ALWAYS) : CeMountDBVol(&guid, file.data(), OPEN_ALWAYS);
  if (!mounted) {
    // The database then goes to the object store, where a search by name
    // still finds it.
    LogWarning(GetLastError(), edb ? u"Failed to mount EDB database volume" : u"Failed to mount CEDB database volume",
               kClass, __LINE__);
    return CeDatabase::ObjectStoreGuid(edb);
  }
  m_MountedVolume = guid;
  m_bMounted = true;
  return guid;
}

void ADatabase::UpdateDefinitions(const CEGUID& store, const DatabaseBody& body, const CString& name) {
  DatabaseInfoRecord current;
  CeDatabase::DatabaseLocation location;
  HANDLE h = CeDatabase::OpenDatabaseWithInfo(&store, name, true, current, &location);
  if (h == INVALID_HANDLE_VALUE) return;  // gone: it is created with the image's definitions
  WORD count = 0;
  std::vector<CEPROPSPEC> specs;
  if (CeGetDatabaseProps(h, &count, nullptr, nullptr) && count) {
    specs.resize(count);
    if (!CeGetDatabaseProps(h, &count, nullptr, specs.data())) specs.clear();
  }
  CeDatabase::CloseDatabase(h);
  CEGUID where = location.volume;
  for (const CEPROPSPEC& spec : specs) {
    const bool inImage = std::any_of(body.definitions.begin(), body.definitions.end(),
                                     [&](const StoredPropertyDefinition& d) { return d.propertyId == spec.propid; });
    CEPROPID id = spec.propid;
    if (!inImage && !CeRemoveDatabaseProps(&where, location.oid, 1, &id) && GetLastError() != ERROR_NOT_FOUND)
      LogError(GetLastError(), u"ERROR REMOVING PROPERTIES", kClass, __LINE__);
  }
  for (size_t i = 0; i < body.definitions.size(); ++i) {
    std::u16string definitionName = body.definitionNames[i];
    CEPROPSPEC spec{CEPROPSPEC_VERSION, body.definitions[i].propertyId, body.definitions[i].flags,
                    definitionName.data(), 0};
    if (!CeAddDatabaseProps(&where, location.oid, &spec, 1) && GetLastError() != ERROR_NOT_FOUND)
      LogError(GetLastError(), u"ERROR ADDING PROPERTIES", kClass, __LINE__);
  }
}

HANDLE ADatabase::OpenOrCreate(const CEGUID& store, DatabaseBody& body, const CString& name) {
  HANDLE h = CeDatabase::OpenDatabase(&store, name, body.edb);
  if (h != INVALID_HANDLE_VALUE) return h;
  Log(0, CString(u"Creating ") + name + u" on volume " + body.volumeName, kClass, __LINE__);
  CEGUID guid = store;
  CEOID oid = 0;
  if (body.edb) {
    CEDBASEINFOEX info;
    ExtendedCreationForm(body.info, info);
    std::vector<CEPROPSPEC> specs;
    for (size_t i = 0; i < body.definitions.size(); ++i)
      specs.push_back(CEPROPSPEC{CEPROPSPEC_VERSION, body.definitions[i].propertyId, body.definitions[i].flags,
                                 body.definitionNames[i].data(), 0});
    oid = CeCreateDatabaseWithProps(&guid, &info, static_cast<DWORD>(specs.size()), specs.data());
  } else {
    CEDBASEINFO info;
    if (OlderCreationForm(body.info, info))
      oid = CeCreateDatabaseEx(&guid, &info);
    else
      SetLastError(ERROR_INVALID_PARAMETER);
  }
  if (!oid) {
    LogError(GetLastError(), name + u" CeCreateDatabaseEx() failed", kClass, __LINE__);
    return INVALID_HANDLE_VALUE;
  }
  h = CeDatabase::OpenDatabase(&store, name, body.edb);
  if (h == INVALID_HANDLE_VALUE) LogError(GetLastError(), u"Post create CeOpenDatabaseEx() failed", kClass, __LINE__);
  return h;
}

bool ADatabase::RestoreDatabase(const AImageFileHeader& header, RestoreMode mode, const CString* newName) {
  ReleaseDatabase();
  DatabaseBody body;
  if (!ReadDatabaseBody(header, body)) return false;
  CString name = CeDatabase::InfoName(body.info);
  m_DatabaseName = name;
  Log(0, CString(u"restore database : ") + name, kClass, __LINE__);
  if (Crc(0, &body.info, sizeof body.info) != header.CRCSum())
    LogError(0, CString(u"CRC Error for Database") + name, kClass, __LINE__);
  if (m_pProgress) {
    m_pProgress->SetStatusText(name.view());
    m_pProgress->UpdateProgress(false);
  }
  // Nothing on the device changes before the entry and its records have
  // been read and found fit to make the database again.
  if (!CanCreate(body) || !CheckRecordEntries(body)) return false;

  // The volume first: the database goes, and comes back, in that store.
  const CEGUID store = PrepareVolume(body.volumeName, body.edb);
  if (mode == kDeleteDatabase) {
    CeDatabase::DeleteDatabase(&store, name, body.edb);  // one that is not there needs no delete
  } else {
    CeDatabaseCompareBase everyRecord;
    CeDatabase::DeleteAllRecords(name, body.edb, everyRecord, &store);
  }
  if (newName) {
    std::fill(std::begin(body.info.name), std::end(body.info.name), u'\0');
    std::copy_n(newName->GetString(), std::min<int>(newName->GetLength(), std::size(body.info.name) - 1),
                body.info.name);
    name = CeDatabase::InfoName(body.info);
    m_DatabaseName = name;
    Log(0, CString(u"rename as : ") + *newName, kClass, __LINE__);
  }
  if (body.edb) UpdateDefinitions(store, body, name);
  HANDLE h = OpenOrCreate(store, body, name);
  if (h == INVALID_HANDLE_VALUE) return false;
  m_hDatabase = h;
  return true;
}

bool ADatabase::RestoreRecord(const AImageFileHeader& header) {
  ParsedRecord record;
  if (!ReadRecordBody(header, record)) return false;
  Progress(record.bytes);
  if (record.crc != header.CRCSum()) LogError(0, u"CRC Error for Record", kClass, __LINE__);
  if (m_hDatabase == INVALID_HANDLE_VALUE) {
    LogError(ERROR_INVALID_HANDLE, u"No database open for the record", kClass, __LINE__);
    return false;
  }
  if (!CeWriteRecordProps(m_hDatabase, 0, static_cast<WORD>(record.properties.size()), record.properties.data())) {
    LogError(GetLastError(), u" CeWriteRecordProps() failed", kClass, __LINE__);
    return false;
  }
  return true;
}
