#include "engine/FileSystemComponent.h"

#include <zlib.h>

#include <algorithm>

#include "ce/codepage.h"
#include "ce/errors.h"
#include "ce/module.h"
#include "ce/registry.h"
#include "ce/shell.h"
#include "ce/text.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/OptionHandlers.h"
#include "core/Path.h"
#include "core/ProductSettings.h"
#include "core/RegistrySettings.h"
#include "core/Resources.h"
#include "core/System.h"
#include "engine/DatabaseVolumes.h"
#include "engine/Global.h"
#include "engine/MailComponent.h"
#include "engine/Operation.h"
#include "engine/RebootActions.h"
#include "engine/RegistryText.h"
#include "image/Cipher.h"
#include "image/ExclusionList.h"
#include "image/ImageEntryHeader.h"
#include "image/ImageFile.h"
#include "image/InclusionList.h"
#include "image/IndexFormat.h"

using namespace FileEntryFormat;

namespace {

constexpr WCHAR kClass[] = u"ADirectory";

// String resources: a file in use on backup, in use on restore, a restore
// target that cannot be opened.
constexpr DWORD kIdsFileInUseBackup = 57734;
constexpr DWORD kIdsFileInUseRestore = 57736;
constexpr DWORD kIdsCannotRestore = 57737;

constexpr WCHAR kShellFoldersKey[] =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && ce::EqualNoCase(text.substr(0, prefix.size()), prefix);
}

// path lies inside folder (or is it).
bool IsInFolder(std::u16string_view path, std::u16string_view folder) {
  if (!StartsWithNoCase(path, folder)) return false;
  return path.size() == folder.size() || path[folder.size()] == u'\\';
}

CString Lower(const CString& text) {
  CString lower(text);
  lower.MakeLower();
  return lower;
}

DWORD NameBytes(const CString& name) { return 2 * static_cast<DWORD>(name.GetLength() + 1); }

ULONGLONG SizeOf(const WIN32_FIND_DATAW& findData) {
  return (static_cast<ULONGLONG>(findData.nFileSizeHigh) << 32) | findData.nFileSizeLow;
}

// The folder's entries (pattern folder + suffix). error: the listing's
// final error (ERROR_NO_MORE_FILES when complete) or the find's failure.
std::vector<WIN32_FIND_DATAW> ListFolder(const CString& folder, LPCWSTR suffix, DWORD& error) {
  std::vector<WIN32_FIND_DATAW> entries;
  WIN32_FIND_DATAW findData;
  HANDLE find = FindFirstFileW(folder + suffix, &findData);
  if (find == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return entries;
  }
  do entries.push_back(findData);
  while (FindNextFileW(find, &findData));
  error = GetLastError();
  FindClose(find);
  return entries;
}

// Closes a device file whose close cannot lose anything that counts: one
// that was only read, or one whose content is being discarded.
void CloseQuietly(AFile& file) {
  if (!file.Close()) Log(file.GetError(), CString(u"Close failed for ") + file.GetFullPath(), kClass, __LINE__);
}

// Restored content is written beside its file and takes the file's place
// only when complete and checked. The name beside it: path + "~qr" (and a
// number when that is taken), or "~qr<n>.tmp" in the file's folder or in
// the root where the longer name would not fit. Empty when all are taken.
constexpr WCHAR kStagingSuffix[] = u"~qr";

CString FreeNameBeside(const CString& path) {
  int slash = path.ReverseFind(u'\\');
  CString folder = slash > 0 ? path.Left(slash) : CString();
  for (int n = 0; n < 100; ++n) {
    CString number;
    if (n > 0) number.Format(u"%d", n);
    CString name = path + kStagingSuffix + number;
    if (name.GetLength() > MAX_PATH) name = folder + u"\\~qr" + number + u".tmp";
    if (name.GetLength() > MAX_PATH) name = CString(u"\\~qr") + number + u".tmp";
    if (GetFileAttributesW(name) != INVALID_FILE_ATTRIBUTES) continue;
    // A missing folder shows when the file is made.
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return name;
  }
  return CString();
}

// Puts the file from in the place of to, in one step (a reset finds the
// old file or the new one, never neither). A read-only file at to loses
// that attribute first: the restored file brings its own. A folder at to is
// refused (ERROR_ACCESS_DENIED). False with the last error; a file that
// another program holds fails with ERROR_SHARING_VIOLATION and stays
// untouched.
bool MoveOver(const CString& from, const CString& to) {
  // Mostly the file is there and writable: the replace alone.
  if (DeleteAndRenameFile(to, from)) return true;
  const DWORD refused = GetLastError();
  if (refused != ERROR_FILE_NOT_FOUND && refused != ERROR_ACCESS_DENIED) return false;
  DWORD existing = GetFileAttributesW(to);
  if (existing == INVALID_FILE_ATTRIBUTES) return MoveFileW(from, to) != FALSE;
  if (existing & FILE_ATTRIBUTE_DIRECTORY) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (!(existing & FILE_ATTRIBUTE_READONLY)) {
    SetLastError(refused);
    return false;
  }
  SetFileAttributesW(to, existing & ~FILE_ATTRIBUTE_READONLY);  // a failure shows in the replace
  return DeleteAndRenameFile(to, from) != FALSE;
}

// Text formatting without passing class objects through "...".
CString Formatted(LPCWSTR format, LPCWSTR text) {
  CString out;
  out.Format(format, text);
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Global wiring

FileSystemContext MakeFileSystemContext(AGlobal& global) {
  FileSystemContext context;
  context.index = &global.g_WorkingIndex;
  context.compressor = &global.g_Compressor;
  context.excludeHandler = &global.g_ExcludeHandler;
  context.backupOptions = &global.g_BackupOptions;
  context.restoreOptions = &global.g_RestoreOptions;
  context.compressFlag = &global.g_bCompress;
  context.upgradeFlag = &global.g_Operation.upgradeMode;
  return context;
}

AFileSystemComponent& GetGlobalFileSystemComponent() {
  static FileSystemContext context = MakeFileSystemContext(GetGlobal());
  static AFileSystemComponent component(context);
  static bool registered = (component.Register(), true);
  (void)registered;
  return component;
}

// ---------------------------------------------------------------------------
// ADirectory: common parts

ADirectory::ADirectory(const FileSystemContext& context, ITaskProgress* progress,
                       AImageFile* imageFile, DWORD directoryType, DWORD fileType,
                       bool recordInIndex)
    : m_Context(context),
      m_pProgress(progress),
      m_pImageFile(imageFile),
      m_DirectoryType(directoryType),
      m_FileType(fileType),
      m_bRecord(recordInIndex) {}

ADirectory::ADirectory(const FileSystemContext& context, const CString& folder,
                       ITaskProgress* progress, AImageFile* imageFile, DWORD directoryType,
                       DWORD fileType, bool recordInIndex)
    : ADirectory(context, progress, imageFile, directoryType, fileType, recordInIndex) {
  m_CurrentFolder = folder;
}

ADirectory::~ADirectory() = default;

ACompressor& ADirectory::Compressor() {
  if (m_Context.compressor) return *m_Context.compressor;
  if (!m_pOwnCompressor) m_pOwnCompressor = std::make_unique<ACompressor>(1);
  return *m_pOwnCompressor;
}

void ADirectory::Progress(DWORD bytes) {
  if (!m_pProgress) return;
  m_pProgress->AddBytesWritten(bytes);
  m_pProgress->UpdateProgress(false);
}

void ADirectory::AdjustEstimate(LONGLONG delta) {
  if (!m_pProgress || !m_pProgress->GetRecord()) return;
  DWORD& total = m_pProgress->GetRecord()->estimatedTotal;
  LONGLONG value = static_cast<LONGLONG>(total) + delta;
  total = static_cast<DWORD>(std::clamp<LONGLONG>(value, 0, 0xFFFFFFFFll));
}

DWORD ADirectory::HeadCRC(const CString& name, const FileEntryInfo& block) {
  DWORD crc = crc32(0, reinterpret_cast<const Bytef*>(name.GetString()),
                    static_cast<uInt>(2 * name.GetLength()));
  return crc32(crc, reinterpret_cast<const Bytef*>(&block), kBlockSize);
}

FileEntryInfo ADirectory::BlockFromFindData(const WIN32_FIND_DATAW& findData) {
  FileEntryInfo block;
  block.attributes = findData.dwFileAttributes;
  block.creationTime = findData.ftCreationTime;
  block.lastAccessTime = findData.ftLastAccessTime;
  block.lastWriteTime = findData.ftLastWriteTime;
  block.fileSizeHigh = findData.nFileSizeHigh;
  block.fileSizeLow = findData.nFileSizeLow;
  block.oid = findData.dwOID;
  return block;
}

Index::Item ItemFromFindData(DWORD type, const CString& path, const WIN32_FIND_DATAW& found, bool selected) {
  Index::Item item;
  item.ComponentType = type;
  item.name = path.str();
  item.attributes = found.dwFileAttributes;
  item.creationTime = found.ftCreationTime;
  item.lastAccessTime = found.ftLastAccessTime;
  item.lastWriteTime = found.ftLastWriteTime;
  item.fileSize = (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
  item.OID = found.dwOID;
  item.selected = selected ? 1 : 0;
  return item;
}

void ADirectory::FindDataFromItem(const Index::Item& item, WIN32_FIND_DATAW& findData) {
  findData = WIN32_FIND_DATAW{};
  findData.dwFileAttributes = item.attributes;
  findData.ftCreationTime = item.creationTime;
  findData.ftLastAccessTime = item.lastAccessTime;
  findData.ftLastWriteTime = item.lastWriteTime;
  findData.nFileSizeHigh = static_cast<DWORD>(item.fileSize >> 32);
  findData.nFileSizeLow = static_cast<DWORD>(item.fileSize);
  findData.dwOID = item.OID;
}

bool ADirectory::ReadDevice(BYTE* buffer, DWORD count) {
  DWORD done = 0;
  while (done < count) {
    DWORD got = 0;
    if (!m_IOFile.Read(buffer + done, count - done, &got)) return false;
    done += got;
  }
  return true;
}

bool ADirectory::PutNext(BYTE* buffer, DWORD& length, bool isLast) {
  CString text;
  if (m_Side == Side::Restore) {
    if (length != 0 && !m_IOFile.Write(buffer, length)) {
      text.Format(u"ADirectory::PutNext m_IOFile.Write failed - result = %d", 0);
      LogError(m_IOFile.GetError(), text, kClass, __LINE__);
      return false;
    }
    Progress(length);
    return true;
  }
  if (!m_pImageFile->Write(buffer, length, true, isLast)) {
    text.Format(u"ADirectory::PutNext m_ImageFile.Write failed - result = %d", 0);
    LogError(GetLastError(), text, kClass, __LINE__);
    return false;
  }
  m_bRunOpen = !isLast;
  return true;
}

bool ADirectory::GetNext(BYTE* buffer, DWORD& length, bool& isLast) {
  DWORD take = std::min({m_BytesLeft, length, kChunkSize});
  isLast = false;
  length = 0;
  if (take == 0) return false;
  CString text;
  if (m_Side == Side::Restore) {
    if (!m_pImageFile->Read(buffer, take, true, take == m_BytesLeft)) {
      text.Format(u"ADirectory::GetNext m_ImageFile.Read failed - result = %d", 0);
      LogError(GetLastError(), text, kClass, __LINE__);
      return false;
    }
  } else {
    if (!ReadDevice(buffer, take)) {
      text.Format(u"ADirectory::GetNext m_IOFile.Read failed - result = %d", 0);
      LogError(m_IOFile.GetError(), text, kClass, __LINE__);
      return false;
    }
    Progress(take);
  }
  m_BytesLeft -= take;
  length = take;
  isLast = m_BytesLeft == 0;
  return true;
}

// ---------------------------------------------------------------------------
// Backup

bool ADirectory::WriteImageHeader(const CString& name, const WIN32_FIND_DATAW& findData) {
  DWORD nameBytes = NameBytes(name);
  bool directory = (findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name.IsEmpty();
  AImageFileHeader header(directory ? m_DirectoryType : m_FileType, nameBytes + kFindDataSize, 0,
                          nameBytes, 0, 0);
  if (!header.WriteEnciphered(*m_pImageFile)) {
    LogError(GetLastError(), u"Backup - Write on Header to image file failed", kClass, __LINE__);
    return false;
  }
  if (!m_pImageFile->Write(name.GetString(), nameBytes, true, true)) {
    LogError(GetLastError(), CString(u"Write name to image failed for ") + name, kClass, __LINE__);
    return false;
  }
  FileEntryInfo block = BlockFromFindData(findData);
  if (!m_pImageFile->Write(&block, kBlockSize, true, true)) {
    LogError(GetLastError(), CString(u"Write filedata to image failed for ") + name, kClass,
             __LINE__);
    return false;
  }
  if (m_pProgress) m_pProgress->AddBytesWritten(nameBytes + kHeadExtra);
  return true;
}

bool ADirectory::WriteAndCrcFile2(const CString& name, DWORD& crc, DWORD& storedSize) {
  if (Compressed()) {
    if (!m_IOFile.SetFilePointer(0, FILE_BEGIN)) {
      LogError(m_IOFile.GetError(), CString(u"SetFilePointer() failed for ") + name, kClass,
               __LINE__);
      return false;
    }
    ACompressor& compressor = Compressor();
    compressor.SetIO(this);
    m_bRunOpen = false;
    bool ok = compressor.Compress();
    compressor.SetIO(nullptr);
    if (!ok) {
      LogError(static_cast<DWORD>(compressor.GetLastResult()),
               CString(u"Compressed.Compress() failed for ") + name, kClass, __LINE__);
      return false;
    }
    // The data run ends with the entry, whatever the last output was.
    if (m_bRunOpen) GetImageCipher().EndRun();
    m_bRunOpen = false;
    crc += compressor.GetCRC();
    storedSize = compressor.GetTotalOut();
    return true;
  }

  if (m_Buffer.size() < kRawBlockSize) m_Buffer.resize(kRawBlockSize);
  storedSize = m_BytesLeft;
  while (m_BytesLeft != 0) {
    DWORD count = std::min(m_BytesLeft, kRawBlockSize);
    if (!ReadDevice(m_Buffer.data(), count)) {
      LogError(m_IOFile.GetError(), CString(u"Read() failed for ") + name, kClass, __LINE__);
      return false;
    }
    crc = crc32(crc, m_Buffer.data(), count);
    m_BytesLeft -= count;
    if (!m_pImageFile->Write(m_Buffer.data(), count, true, m_BytesLeft == 0)) {
      LogError(GetLastError(), CString(u"Write() failed for ") + name, kClass, __LINE__);
      return false;
    }
    Progress(count);
  }
  return true;
}

bool ADirectory::BackupFileEntry(int node, const CString& name, WIN32_FIND_DATAW& findData,
                                 const CString& source) {
  m_Side = Side::Backup;
  Index& index = TheIndex();
  const CString path = source.IsEmpty() ? name : source;
  m_CurrentFile = name;
  CloseQuietly(m_IOFile);
  CString text;

  // An empty file may have grown since the walk listed it.
  ULONGLONG listedSize = SizeOf(findData);
  if (listedSize == 0) {
    WIN32_FIND_DATAW now;
    if (GetFindData(path, &now)) listedSize = SizeOf(now);
  }

  DWORD fileSize = 0;
  if (listedSize != 0) {
    m_IOFile.SetFileName(path);
    if (!m_IOFile.Open(GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL)) {
      DWORD error = m_IOFile.GetError();
      index.SetSelected(node, false);
      AdjustEstimate(-static_cast<LONGLONG>(index.NodeInfo(node).fileSize));
      // The image goes without the file: a warning of the run's report.
      if (error == ERROR_FILE_NOT_FOUND) {
        LogWarning(error, CString(u"File not found ") + path, kClass, __LINE__);
      } else if (error == ERROR_SHARING_VIOLATION) {
        Log(error, CString(u"Sharing violation on ") + path, kClass, __LINE__);
        LogWarning(error, Localizer::LoadResString(kIdsFileInUseBackup) + path, kClass, __LINE__);
      } else {
        LogWarning(error, CString(u"Open() failed for ") + path, kClass, __LINE__);
      }
      return true;
    }
    if (!m_IOFile.GetFileSize(&fileSize)) {
      LogError(m_IOFile.GetError(), CString(u"Size() failed for ") + path, kClass, __LINE__);
      CloseQuietly(m_IOFile);
      return false;
    }
    ULONGLONG itemSize = index.NodeInfo(node).fileSize;
    if (fileSize != itemSize) {
      bool grew = fileSize > itemSize;
      ULONGLONG difference = grew ? fileSize - itemSize : itemSize - fileSize;
      text.Format(grew ? u"%s increased in size by %u" : u"%s decreased in size by %u",
                  name.GetString(), static_cast<DWORD>(difference));
      Log(0, text, kClass, __LINE__);
      AdjustEstimate(static_cast<LONGLONG>(fileSize) - static_cast<LONGLONG>(itemSize));
    }
  }
  // The entry tells the size that is stored.
  findData.nFileSizeHigh = 0;
  findData.nFileSizeLow = fileSize;

  DWORD crc = HeadCRC(name, BlockFromFindData(findData));
  if (m_pProgress) m_pProgress->SetStatusText(name.view());

  DWORD position = 0;
  if (!m_pImageFile->GetBytesWritten(&position)) {
    LogError(0, u"Error getting filepointer for backupfile index entry", kClass, __LINE__);
    CloseQuietly(m_IOFile);
    return false;
  }

  if (fileSize == 0) {
    if (!WriteImageHeader(name, findData)) return false;
    if (m_bRecord) index.SetLocation(node, position, 0, crc, 0, 0);
    return true;
  }

  m_BytesLeft = fileSize;
  if (!WriteImageHeader(name, findData)) {
    LogError(0, CString(u"WriteImageHeader() failed for ") + name, kClass, __LINE__);
    CloseQuietly(m_IOFile);
    return false;
  }
  if (m_bCancel) {
    CloseQuietly(m_IOFile);
    return true;
  }
  DWORD storedSize = 0;
  if (!WriteAndCrcFile2(name, crc, storedSize)) {
    LogError(0, u"WriteAndCrcFile2 failed", kClass, __LINE__);
    CloseQuietly(m_IOFile);
    return false;
  }
  CloseQuietly(m_IOFile);
  if (m_bRecord) index.SetLocation(node, position, storedSize, crc, fileSize, 0);
  return true;
}

bool ADirectory::BackupFile(int node) {
  const Index::Item& item = TheIndex().NodeInfo(node);
  WIN32_FIND_DATAW findData;
  FindDataFromItem(item, findData);
  return BackupFileEntry(node, CString(item.name), findData);
}

bool ADirectory::BackupPotentiallyLockedFile(int node) {
  Index::Item& item = TheIndex().NodeInfo(node);
  const CString name(item.name);
  const CString copy = name + kBootCopySuffix;
  WIN32_FIND_DATAW findData;
  WIN32_FIND_DATAW copyData;
  bool haveCopy =
      GetFindData(copy, &copyData) && !(copyData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  if (haveCopy) {
    // The copy's size and times; the attributes stay the file's own (the
    // boot-time runner makes every copy hidden).
    if (m_bRecord) {
      item.creationTime = copyData.ftCreationTime;
      item.lastAccessTime = copyData.ftLastAccessTime;
      item.lastWriteTime = copyData.ftLastWriteTime;
      item.fileSize = SizeOf(copyData);
    }
    findData = copyData;
    findData.dwFileAttributes = item.attributes;
    findData.dwOID = item.OID;
  } else {
    FindDataFromItem(item, findData);
  }
  // Without its copy (no boot-time run happened) the file itself is read.
  bool ok = BackupFileEntry(node, copy, findData, haveCopy ? copy : name);
  CloseQuietly(m_IOFile);
  if (haveCopy) {
    SetFileAttributesW(copy, FILE_ATTRIBUTE_NORMAL);  // a failure shows in the delete
    if (!::DeleteFileW(copy))
      Log(GetLastError(), CString(u"Delete() failed for ") + copy, kClass, __LINE__);
  }
  return ok;
}

bool ADirectory::BackupDirectory(int node) {
  const Index::Item& item = TheIndex().NodeInfo(node);
  const CString name(item.name);
  m_CurrentFile = name;
  DWORD position = 0;
  if (!m_pImageFile->GetBytesWritten(&position)) {
    LogError(0, u"Error getting filepointer for file index entry", kClass, __LINE__);
    return false;
  }
  WIN32_FIND_DATAW findData;
  FindDataFromItem(item, findData);
  if (!WriteImageHeader(name, findData)) {
    LogError(0, CString(u"WriteImageHeader failed for ") + name, kClass, __LINE__);
    return false;
  }
  if (m_bRecord)
    TheIndex().SetLocation(node, position, 0, HeadCRC(name, BlockFromFindData(findData)), 0, 0);
  return true;
}

bool ADirectory::Backup(int top) {
  m_Side = Side::Backup;
  Index& index = TheIndex();
  if (top == -1) top = index.FindChildOfType(TREE_FILESYSTEM);
  if (top == -1) return true;
  CString text;
  for (int n = index.NextInSubtree(top, top); n != -1; n = index.NextInSubtree(top, n)) {
    if (m_bCancel) return true;
    DWORD type = index.NodeType(n);
    CString name(index.NodeName(n));
    if (type == m_DirectoryType) {
      if (!BackupDirectory(n)) {
        LogError(0, CString(u"BackupDirectory failed for ") + name, kClass, __LINE__);
        return false;
      }
    } else if (type == m_FileType && m_FileType == FILE_ENTRY && index.UserData(n) == 1) {
      if (!BackupPotentiallyLockedFile(n)) {
        LogError(0, CString(u"BackupPotentiallyLockedFile failed for ") + name, kClass, __LINE__);
        return false;
      }
    } else if (type == m_FileType) {
      if (!BackupFile(n)) {
        LogError(0, CString(u"BackupFile failed for ") + name, kClass, __LINE__);
        return false;
      }
    } else {
      text.Format(u"Unexpected content type during file system backup %u", type);
      LogError(0, text, kClass, __LINE__);
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Restore

bool ADirectory::ReadEntryName(DWORD nameBytes, CString& name, LPCWSTR failText) {
  if (nameBytes < 2 || nameBytes % 2 != 0 || nameBytes > kMaxNameBytes ||
      nameBytes > m_pImageFile->BytesLeft()) {
    CString text;
    text.Format(u"%s (name length %u)", failText, nameBytes);
    LogError(ERROR_INVALID_DATA, text, kClass, __LINE__);
    return false;
  }
  std::u16string chars(nameBytes / 2, u'\0');
  if (!m_pImageFile->Read(chars.data(), nameBytes, true, true)) {
    LogError(GetLastError(), failText, kClass, __LINE__);
    return false;
  }
  name = CString(chars.c_str());  // up to the NUL
  return true;
}

bool ADirectory::ReadBlock(FileEntryInfo& block, LPCWSTR failText) {
  if (!m_pImageFile->Read(&block, kBlockSize, true, true)) {
    LogError(GetLastError(), failText, kClass, __LINE__);
    return false;
  }
  return true;
}

// The entry's name byte length: the header just read (the entry may carry a
// boot-time copy's name), else the node's.
static DWORD EntryNameBytes(const AImageFile& image, const Index::Item& item) {
  const AImageFileHeader* header = image.GetLastHeader();
  if (header && (header->ComponentType() == item.ComponentType)) return header->NameByteLength();
  return 2 * static_cast<DWORD>(item.name.size() + 1);
}

bool ADirectory::RestoreDir(int node) {
  m_Side = Side::Restore;
  const Index::Item& item = TheIndex().NodeInfo(node);
  DWORD nameBytes = EntryNameBytes(*m_pImageFile, item);
  CString name;
  if (!ReadEntryName(nameBytes, name, u"RestoreDir - Read on image file failed")) return false;
  m_CurrentFile = name;
  FileEntryInfo block;
  if (!ReadBlock(block, u"Restore - Read on FFData failed")) return false;
  if (m_pProgress) m_pProgress->AddBytesWritten(nameBytes + kHeadExtra);
  if (HeadCRC(name, block) != item.crcValue)
    LogError(0, CString(u"CRC Error for directory ") + name, kClass, __LINE__);

  if (name.IsEmpty() || System::DirectoryExists(name)) return true;
  if (StartsWithNoCase(name.view(), u"\\T2T") && !System::DirectoryExists(u"\\T2T")) return true;
  if (!::CreateDirectoryW(name, nullptr)) {
    CString text;
    text.Format(u"CreateDirectory() failed %s OID%u", name.GetString(), block.oid);
    LogError(GetLastError(), text, kClass, __LINE__);
    return false;
  }
  return true;
}

bool ADirectory::RestoreData(const CString& path, DWORD storedSize, DWORD& crc) {
  if (m_pProgress) {
    m_pProgress->SetStatusText(path.view());
    m_pProgress->UpdateProgress(false);
  }
  m_BytesLeft = storedSize;
  if (storedSize > m_pImageFile->BytesLeft()) {
    LogError(ERROR_INVALID_DATA, CString(u"Read() failed for ") + path, kClass, __LINE__);
    return false;
  }
  if (storedSize == 0) return true;
  if (Compressed()) {
    ACompressor& compressor = Compressor();
    compressor.SetIO(this);
    bool ok = compressor.Uncompress();
    compressor.SetIO(nullptr);
    if (!ok) {
      LogError(static_cast<DWORD>(compressor.GetLastResult()),
               CString(u"Compressed.Uncompress() failed for ") + path, kClass, __LINE__);
      return false;
    }
    crc += compressor.GetCRC();
    return true;
  }
  if (m_Buffer.size() < kRawBlockSize) m_Buffer.resize(kRawBlockSize);
  while (m_BytesLeft != 0) {
    DWORD count = std::min(m_BytesLeft, kRawBlockSize);
    if (!m_pImageFile->Read(m_Buffer.data(), count, true, count == m_BytesLeft)) {
      LogError(GetLastError(), CString(u"Read() failed for ") + path, kClass, __LINE__);
      return false;
    }
    crc = crc32(crc, m_Buffer.data(), count);
    m_BytesLeft -= count;
    if (!m_IOFile.Write(m_Buffer.data(), count)) {
      LogError(m_IOFile.GetError(), CString(u"Write() failed for ") + path, kClass, __LINE__);
      return false;
    }
    Progress(count);
  }
  return true;
}

bool ADirectory::RestoreFile(int node) {
  m_Side = Side::Restore;
  const Index::Item& item = TheIndex().NodeInfo(node);
  DWORD nameBytes = EntryNameBytes(*m_pImageFile, item);
  CString path;
  if (!ReadEntryName(nameBytes, path, u"Read on file name failed")) return false;
  m_CurrentFile = path;
  if (!m_RequiredEntryName.IsEmpty() && !ce::EqualNoCase(path.view(), m_RequiredEntryName.view())) {
    LogError(ERROR_INVALID_DATA, CString(u"Entry holds ") + path + u" instead of " + m_RequiredEntryName, kClass,
             __LINE__);
    return false;
  }
  if (StartsWithNoCase(path.view(), u"\\T2T") && !System::DirectoryExists(u"\\T2T")) return true;
  FileEntryInfo block;
  if (!ReadBlock(block, u"Read on FFData failed")) return false;
  if (m_pProgress) m_pProgress->AddBytesWritten(nameBytes + kHeadExtra);
  DWORD crc = HeadCRC(path, block);

  // Start Menu bookkeeping.
  CString lower = Lower(path);
  if (!m_bMenuRestored && !m_StartMenuFolder.IsEmpty() &&
      IsInFolder(lower.view(), m_StartMenuFolder.view()))
    m_bMenuRestored = true;
  m_StartMenuFiles.erase(lower.str());

  const DWORD storedSize = item.sizeInImage;
  // An upgrade keeps the device's files; one the clear only kept for this
  // restore counts as gone.
  if (UpgradeMode() && System::FileExists(path) && !m_RestoreTargets.count(lower.str())) {
    Progress(storedSize);
    return true;
  }

  const DWORD attributes = block.attributes & ~kRomAttributes;
  CString staging;
  if (!OpenStaging(path, attributes, staging)) {
    LogWarning(m_IOFile.GetError(), Localizer::LoadResString(kIdsCannotRestore) + path, kClass,
               __LINE__);
    Progress(storedSize);
    return true;
  }
  if (!RestoreData(path, storedSize, crc)) {
    DiscardStaging(staging);
    return false;
  }
  if (!m_IOFile.SetFileTime(&block.creationTime, &block.lastAccessTime, &block.lastWriteTime)) {
    LogError(m_IOFile.GetError(), CString(u"m_IOFile - SetFileTime failed ") + path, kClass,
             __LINE__);
    DiscardStaging(staging);
    return false;
  }
  if (!m_IOFile.Close()) {
    LogError(m_IOFile.GetError(), u"m_IOFile.Close  failed", kClass, __LINE__);
    DiscardStaging(staging);
    return false;
  }
  if (crc != item.crcValue) {
    // The device's file stays as it was.
    CString text;
    text.Format(u"CRC Error for %s, Header CRC=%d, Calculated CRC=%d", path.GetString(),
                static_cast<int>(item.crcValue), static_cast<int>(crc));
    LogError(0, text, kClass, __LINE__);
    DiscardStaging(staging);
    return true;
  }
  PutInPlace(staging, path, attributes);
  return true;
}

bool ADirectory::OpenStaging(const CString& path, DWORD attributes, CString& staging) {
  CloseQuietly(m_IOFile);
  const CString leftover = path + kStagingSuffix;
  // Mostly the leftover name is free: the file is made there at once, with
  // no look for a leftover first.
  if (leftover.GetLength() <= MAX_PATH) {
    m_IOFile.SetFileName(leftover);
    if (m_IOFile.Open(GENERIC_WRITE, CREATE_NEW, attributes)) {
      staging = leftover;
      return true;
    }
    if (m_IOFile.GetError() != ERROR_FILE_EXISTS) return false;
  }
  // The staging file of a restore that a reset cut short goes first.
  const DWORD leftoverAttributes = GetFileAttributesW(leftover);
  const DWORD probe = GetLastError();
  bool leftoverFree = leftoverAttributes == INVALID_FILE_ATTRIBUTES &&
                      (probe == ERROR_FILE_NOT_FOUND || probe == ERROR_PATH_NOT_FOUND);
  if (leftoverAttributes != INVALID_FILE_ATTRIBUTES && !(leftoverAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetFileAttributesW(leftover, FILE_ATTRIBUTE_NORMAL);  // a failure shows in the delete
    leftoverFree = ::DeleteFileW(leftover) != FALSE;
    if (!leftoverFree) Log(GetLastError(), CString(u"Delete() failed for ") + leftover, kClass, __LINE__);
  }
  // A free leftover name is the staging name; another program making it
  // meanwhile shows when the file is made.
  staging = leftoverFree && leftover.GetLength() <= MAX_PATH ? leftover : FreeNameBeside(path);
  if (staging.IsEmpty()) {
    m_IOFile.SetError(ERROR_FILE_EXISTS);
    return false;
  }
  m_IOFile.SetFileName(staging);
  return m_IOFile.Open(GENERIC_WRITE, CREATE_NEW, attributes);
}

void ADirectory::DiscardStaging(const CString& staging) {
  CloseQuietly(m_IOFile);
  SetFileAttributesW(staging, FILE_ATTRIBUTE_NORMAL);  // a failure shows in the delete
  if (!::DeleteFileW(staging))
    Log(GetLastError(), CString(u"Delete() failed for ") + staging, kClass, __LINE__);
}

void ADirectory::PutInPlace(const CString& staging, const CString& path, DWORD attributes) {
  if (MoveOver(staging, path)) return;
  DWORD error = GetLastError();
  if (error == ERROR_SHARING_VIOLATION) {
    // Another program holds the file: the restored content waits in its
    // boot-time copy and replaces it at the next start.
    CString copy = path + kBootCopySuffix;
    if (SetFileAttributesW(staging, attributes | FILE_ATTRIBUTE_HIDDEN) && MoveOver(staging, copy)) {
      Log(error, CString(u"File in use, restoring to its boot-time copy ") + copy, kClass,
          __LINE__);
      RebootActions::Instance().AddRestoreCopy(copy, path, attributes);
      return;
    }
  }
  DiscardStaging(staging);
  DWORD id = error == ERROR_SHARING_VIOLATION ? kIdsFileInUseRestore : kIdsCannotRestore;
  LogWarning(error, Localizer::LoadResString(id) + path, kClass, __LINE__);
}

void ADirectory::CollectFiles(const CString& folder, std::vector<CString>& files, bool lowerCase) {
  DWORD error = 0;
  std::vector<WIN32_FIND_DATAW> entries = ListFolder(folder, u"\\*.*", error);
  if (error != ERROR_NO_MORE_FILES && error != ERROR_FILE_NOT_FOUND &&
      error != ERROR_PATH_NOT_FOUND)
    Log(error, CString(u"FindNextFile failed for ") + folder, kClass, __LINE__);
  for (const WIN32_FIND_DATAW& entry : entries) {
    CString path = folder + u"\\" + entry.cFileName;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      CollectFiles(path, files, lowerCase);
    else
      files.push_back(lowerCase ? Lower(path) : path);
  }
}

bool ADirectory::PrepareStartMenu() {
  m_bMenuRestored = false;
  if (m_StartMenuFolder.IsEmpty()) {
    WCHAR folder[MAX_PATH + 1] = {};
    SHGetSpecialFolderPath(nullptr, folder, CSIDL_STARTMENU, FALSE);
    m_StartMenuFolder = Lower(CString(folder));
    if (m_StartMenuFolder.IsEmpty()) {
      Log(0, u"Start Menu not found - setting to default", kClass, __LINE__);
      m_StartMenuFolder = u"\\windows\\start menu";
    }
    Log(0, Formatted(u"Start Menu is: %s", m_StartMenuFolder), kClass, __LINE__);
  }
  if (m_StartUpFolder.IsEmpty()) {
    WCHAR folder[MAX_PATH + 1] = {};
    SHGetSpecialFolderPath(nullptr, folder, CSIDL_STARTUP, FALSE);
    m_StartUpFolder = folder;
    if (m_StartUpFolder.IsEmpty()) {
      Log(0, u"StartUp not found - setting to default", kClass, __LINE__);
      m_StartUpFolder = u"\\Windows\\StartUp";
    }
    Log(0, Formatted(u"StartUp is: %s", m_StartUpFolder), kClass, __LINE__);
  }
  m_StartMenuFiles.clear();
  std::vector<CString> files;
  CollectFiles(m_StartMenuFolder, files, true);
  for (const CString& file : files) m_StartMenuFiles.insert(file.str());
  return true;
}

void ADirectory::RemoveLeftoverMenuFiles() {
  for (const std::u16string& path : m_StartMenuFiles) {
    CString file(path);
    SetFileAttributesW(file, FILE_ATTRIBUTE_NORMAL);  // a failure shows in the delete
    if (!::DeleteFileW(file)) {
      DWORD error = GetLastError();
      if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
        Log(error, CString(u"Delete() failed for ") + file, kClass, __LINE__);
      continue;
    }
    CString folder = file.Left(file.ReverseFind(u'\\'));
    if (folder.IsEmpty() || ce::EqualNoCase(folder.view(), m_StartMenuFolder.view())) continue;
    DWORD error = 0;
    if (ListFolder(folder, u"\\*", error).empty() && error == ERROR_NO_MORE_FILES) {
      Log(0, CString(u"Removing directory : ") + folder, kClass, __LINE__);
      if (!RemoveDirectoryW(folder))  // an empty folder left behind is harmless
        Log(GetLastError(), CString(u"RemoveDirectory() failed ") + folder, kClass, __LINE__);
    }
  }
  m_StartMenuFiles.clear();
}

bool ADirectory::Restore() {
  m_Side = Side::Restore;
  Index& index = TheIndex();
  ARestoreOptionHandler defaults;
  const ARestoreOptionHandler& options =
      m_Context.restoreOptions ? *m_Context.restoreOptions : defaults;
  if (options.GetNewDeviceRestoreFlag() && m_Context.upgradeFlag) *m_Context.upgradeFlag = 1;

  PrepareStartMenu();

  int top = index.FindChildOfType(TREE_FILESYSTEM);
  m_RestoreTargets.clear();
  if (GetKioskModeEnabled() || !options.GetNonDestructiveRestoreFlag()) {
    // The files the image puts back stay until their new content replaces
    // them: one whose entry turns out damaged keeps what the device had.
    KeepRestoreTargets(top);
    if (!DeleteContents(CString())) {
      LogError(0, u"DeleteContents() failed", kClass, __LINE__);
      return false;
    }
    Log(0, u"DeleteContents() finished ok", kClass, __LINE__);
  }

  if (top == -1) return true;
  CString text;
  for (int n = index.NextInSubtree(top, top); n != -1; n = index.NextInSubtree(top, n)) {
    const Index::Item& item = index.NodeInfo(n);
    AImageFileHeader header;
    if (!ReadIndexedEntryHeader(*m_pImageFile, item, header, kClass, m_CurrentFile)) return false;
    bool ok;
    if (item.ComponentType == m_DirectoryType) {
      ok = RestoreDir(n);
    } else if (item.ComponentType == m_FileType) {
      ok = RestoreFile(n);
    } else {
      text.Format(u"Unexpected header type during file system restore %u", item.ComponentType);
      LogError(0, text, kClass, __LINE__);
      return false;
    }
    if (!ok) return false;
  }

  if (options.GetHandleMenuFlag() && m_bMenuRestored && !UpgradeMode()) RemoveLeftoverMenuFiles();
  if (UpgradeMode()) FixStartupLinks();
  return true;
}

// ---------------------------------------------------------------------------
// Clearing the device

bool ADirectory::KeepCardFolders() const {
  if (m_Context.backupOptions)
    return m_Context.backupOptions->IsOptionOn(kOptionExcludeCards) &&
           m_Context.backupOptions->IsOptionOn(kOptionApplyExclusions);
  ABackupOptionHandler defaults;
  return defaults.IsOptionOn(kOptionExcludeCards) && defaults.IsOptionOn(kOptionApplyExclusions);
}

void ADirectory::PrepareKeepList() {
  if (m_bKeepReady) return;
  m_bKeepReady = true;
  m_ExeName = GetApplicationEXEName();
  m_KeepPaths.clear();
  if (m_pImageFile) m_KeepPaths.push_back(m_pImageFile->GetFileName());
  // The running program and its resource library: a backup never holds
  // them (they are deselected), so they must survive the clear.
  CString program = System::GetProgramPath(true);
  if (!program.IsEmpty()) m_KeepPaths.push_back(program);
  if (HMODULE library = GetMainResourceLibrary()) {
    WCHAR path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameW(library, path, MAX_PATH + 1);
    if (length > 0 && length <= MAX_PATH)
      m_KeepPaths.push_back(CString(path, static_cast<int>(length)));
  }
}

void ADirectory::KeepRestoreTargets(int top) {
  Index& index = TheIndex();
  for (int n = top == -1 ? -1 : index.NextInSubtree(top, top); n != -1; n = index.NextInSubtree(top, n))
    if (index.NodeType(n) == m_FileType) m_RestoreTargets.insert(Lower(CString(index.NodeName(n))).str());
}

bool ADirectory::DeleteContents(const CString& folder) {
  PrepareKeepList();
  DWORD error = 0;
  std::vector<WIN32_FIND_DATAW> entries = ListFolder(folder, u"\\*", error);
  bool listed = !entries.empty() || error == ERROR_NO_MORE_FILES;
  if (listed) {
    for (const WIN32_FIND_DATAW& entry : entries) {
      CString path = folder + u"\\" + entry.cFileName;
      if (m_Context.excludeHandler && m_Context.excludeHandler->IsExcluded(path)) continue;
      if (!DeleteEntry(folder, entry))
        Log(GetLastError(), CString(u"DeleteEntry() failed ") + path, kClass, __LINE__);
    }
    if (error != ERROR_NO_MORE_FILES) {
      Log(error, u"GetLastError() != ERROR_NO_MORE_FILES", kClass, __LINE__);
      return false;
    }
  }
  if (!folder.IsEmpty() && !StartsWithNoCase(folder.view(), u"\\Storage Card")) {
    if (!RemoveDirectoryW(folder))
      Log(GetLastError(), CString(u"RemoveDirectory() failed ") + folder, kClass, __LINE__);
  }
  return true;
}

bool ADirectory::DeleteEntry(const CString& folder, const WIN32_FIND_DATAW& findData) {
  CString path = folder + u"\\" + findData.cFileName;
  DWORD attributes = findData.dwFileAttributes;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    if ((attributes & FILE_ATTRIBUTE_TEMPORARY) && KeepCardFolders()) return true;
    if (!DeleteContents(path))
      LogError(GetLastError(), CString(u"Subdir delete failed for ") + path, kClass, __LINE__);
    return true;
  }
  if (attributes & (FILE_ATTRIBUTE_INROM | FILE_ATTRIBUTE_ROMMODULE)) return true;
  DeleteFile(path, findData);
  return true;
}

void ADirectory::DeleteFile(const CString& path, const WIN32_FIND_DATAW& findData) {
  std::u16string_view name = findData.cFileName;
  if (ce::EqualNoCase(name, u"Restore.fdf")) {
    Log(0, u"DeleteFile Ignoring registry file", kClass, __LINE__);
    return;
  }
  if (ce::EqualNoCase(name, m_ExeName.view())) {
    Log(0, u"DeleteFile ignoring backup exe file", kClass, __LINE__);
    return;
  }
  if (ce::EqualNoCase(name, u"BackupLog.txt")) {
    Log(0, u"DeleteFile Ignoring log file", kClass, __LINE__);
    return;
  }
  if (PathInList(m_KeepPaths, path) || m_RestoreTargets.count(Lower(path).str())) return;
  if (!::DeleteFileW(path)) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
        error == ERROR_ACCESS_DENIED)
      return;
    CString text;
    text.Format(u"Delete() failed for %s Attribute= %u", path.GetString(),
                findData.dwFileAttributes);
    Log(error, text, kClass, __LINE__);
  }
}

// ---------------------------------------------------------------------------
// Shortcut repair

void ADirectory::FixStartupLinks() {
  Log(0, u"Fix Invalid Upgrade LnkFiles", kClass, __LINE__);
  if (m_StartMenuFolder.IsEmpty() || m_StartUpFolder.IsEmpty()) PrepareStartMenu();
  std::vector<CString> files;
  CollectFiles(m_StartMenuFolder, files, false);
  CollectFiles(m_StartUpFolder, files, false);
  CString text;
  for (const CString& file : files) {
    int dot = file.ReverseFind(u'.');
    if (dot < 0 || !ce::EqualNoCase(file.Mid(dot + 1).view(), u"lnk")) continue;

    AFile link(file);
    if (!link.Open(GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL)) continue;
    char bytes[2048];
    DWORD got = 0;
    bool read = link.Read(bytes, sizeof bytes, &got);
    CloseQuietly(link);
    if (!read) continue;
    std::u16string wide(got, u'\0');
    int chars = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(got), wide.data(),
                                    static_cast<int>(wide.size()));
    CString content(wide.data(), std::max(chars, 0));
    int hash = content.Find(u'#');
    if (hash < 0) continue;
    CString target = content.Mid(hash + 1);
    if (target[0] == u'"') target = target.Mid(1);
    target = target.Left(MAX_PATH);
    Log(0, Formatted(u"Link file : %s", file), kClass, __LINE__);
    Log(0, Formatted(u"Link : %s", target), kClass, __LINE__);
    if (target[0] != u'\\') continue;
    int location = Lower(target).Find(u".exe");
    if (location < 0) {
      Log(0, u"Didn't come here", kClass, __LINE__);
      continue;
    }
    text.Format(u"location : %d", location);
    Log(0, text, kClass, __LINE__);
    text.Format(u"findString is : %s (%s)", target.GetString(), u".exe");
    Log(0, text, kClass, __LINE__);
    CString program = target.Left(location + 4);
    if (System::FileExists(program)) continue;
    Log(0, u"Deleting link file", kClass, __LINE__);
    Log(0, file, kClass, __LINE__);
    SetFileAttributesW(file, FILE_ATTRIBUTE_NORMAL);  // a failure shows in the delete
    if (!::DeleteFileW(file)) Log(GetLastError(), u"Failed", kClass, __LINE__);
  }
}

// ---------------------------------------------------------------------------
// AFileSystemComponent

AFileSystemComponent::AFileSystemComponent(FileSystemContext& context) : m_Context(context) {}

void AFileSystemComponent::Register() {
  if (m_Context.index) m_Context.index->SetComponent(IndexOwner::FileSystem, this);
}

const std::vector<CString>& AFileSystemComponent::GetPotentiallyLockedFiles() {
  if (m_bLockedListBuilt) return m_LockedFiles;
  m_bLockedListBuilt = true;
  const std::pair<LPCWSTR, LPCWSTR> values[] = {
      {u"Cache", u"\\Content.IE5\\index.dat"},
      {u"Cookies", u"\\index.dat"},
      {u"History", u"\\History.IE5\\index.dat"},
  };
  for (const auto& [value, suffix] : values) {
    CString folder = ReadRegistryText(HKEY_CURRENT_USER, kShellFoldersKey, value);
    if (folder.IsEmpty()) continue;
    m_LockedFiles.push_back(folder + suffix);
    m_LockedCopies.push_back(folder + suffix + kBootCopySuffix);
  }
  return m_LockedFiles;
}

bool AFileSystemComponent::IsPotentiallyLocked(const CString& path) {
  return PathInList(GetPotentiallyLockedFiles(), path);
}

bool AFileSystemComponent::IsBootCopyOfLockedFile(const CString& path) {
  GetPotentiallyLockedFiles();
  return PathInList(m_LockedCopies, path);
}

void AFileSystemComponent::ReadOwnedNames() {
  if (m_bOwnedNamesRead) return;
  m_bOwnedNamesRead = true;
  m_MmsFolder = ReadMmsContentsFolder();
  m_VolumeFiles = NamedVolumeFiles();

  m_HiveFiles = {CString(u"\\temp\\HKLM.img"), CString(u"\\temp\\HKCU.img")};
  CString system = ReadRegistryText(HKEY_LOCAL_MACHINE, u"init\\BootVars", u"SystemHive");
  if (!system.IsEmpty()) m_HiveFiles.push_back(WithLeadingBackslash(system));
  CString profile = ReadRegistryText(HKEY_LOCAL_MACHINE, u"init\\BootVars", u"ProfileDir");
  if (!profile.IsEmpty())
    m_HiveFiles.push_back(WithLeadingBackslash(profile) + u"\\default\\user.hv");
}

bool AFileSystemComponent::IsMailFolder(const CString& path) {
  ReadOwnedNames();
  return ::IsMailFolder(path, m_MmsFolder);
}

bool AFileSystemComponent::IsMailVolume(const CString& path) { return ::IsMailVolume(path); }

bool AFileSystemComponent::IsDatabaseVolume(const CString& path) {
  // The volumes node's children when its owner can list them, else the
  // named volume files.
  if (Index* index = m_Context.index) {
    int volumes = index->FindChildOfType(TREE_DBVOLUMES);
    if (volumes != -1) index->PopulateChildren(volumes, index->IsSelected(volumes));
    if (volumes != -1 && index->IsPopulated(volumes)) {
      for (int c = index->FirstChild(volumes); c != -1; c = index->NextSibling(c))
        if (ce::EqualNoCase(index->NodeName(c), path.view())) return true;
      return false;
    }
  }
  ReadOwnedNames();
  return PathInList(m_VolumeFiles, path);
}

bool AFileSystemComponent::IsBootCopyOfVolume(const CString& path) {
  const int length = path.GetLength();
  if (length < 2 || !ce::EqualNoCase(path.Mid(length - 1).view(), kBootCopySuffix)) return false;
  return IsDatabaseVolume(path.Left(length - 1));
}

bool AFileSystemComponent::IsHiveFile(const CString& path) {
  ReadOwnedNames();
  return PathInList(m_HiveFiles, path);
}

bool AFileSystemComponent::IsDatabasesChild(const CString& path) {
  Index* index = m_Context.index;
  if (!index) return false;
  int databases = index->FindChildOfType(TREE_DATABASES);
  if (databases == -1) return false;
  // The walk may come first: the groups are listed now.
  if (!index->IsPopulated(databases)) index->PopulateChildren(databases, index->IsSelected(databases));
  for (int c = index->FirstChild(databases); c != -1; c = index->NextSibling(c))
    if (ce::EqualNoCase(index->NodeName(c), path.view())) return true;
  return false;
}

bool AFileSystemComponent::IsProgramCard(const CString& cardFolder) {
  if (!GetBackupCardVersion()) return false;
  ABackupRegistrySettings shared(kSharedKeyKind, u"");
  CString exePath;
  shared.GetString(GetBackupEXEPathValueName(), exePath, u"", MAX_PATH);
  return IsInFolder(exePath.view(), cardFolder.view()) &&
         exePath.GetLength() > cardFolder.GetLength();
}

bool AFileSystemComponent::BackupOptionOn(int option) {
  if (m_Context.backupOptions) return m_Context.backupOptions->IsOptionOn(option);
  if (!m_pDefaultOptions) m_pDefaultOptions = std::make_unique<ABackupOptionHandler>();
  return m_pDefaultOptions->IsOptionOn(option);
}

void AFileSystemComponent::PopulateChildren(Index& index, int node, bool selected) {
  if (index.IsPopulated(node)) return;
  DWORD type = index.NodeType(node);
  if (type != DIRECTORY_ENTRY && type != TREE_FILESYSTEM) {
    index.SetPopulated(node);
    return;
  }
  const bool top = type == TREE_FILESYSTEM;
  const CString folder(index.NodeName(node));
  AExcludeHandler* exclude = m_Context.excludeHandler;
  const AInclusionList* inclusion = m_Context.inclusionList;
  const bool inclusionActive = inclusion && !inclusion->GetNodes().empty();

  DWORD error = 0;
  std::vector<WIN32_FIND_DATAW> entries = ListFolder(folder, u"\\*.*", error);
  if (error != ERROR_NO_MORE_FILES && error != ERROR_FILE_NOT_FOUND)
    Log(error, CString(u"FindFirstFile failed for ") + folder, kClass, __LINE__);

  std::vector<Index::Item> items;
  items.reserve(entries.size());
  for (const WIN32_FIND_DATAW& entry : entries) {
    const CString path = folder + u"\\" + entry.cFileName;
    const DWORD attributes = entry.dwFileAttributes;
    const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool rom = (attributes & kRomAttributes) != 0;
    bool add = true;
    bool deselect = false;
    if (path.GetLength() > static_cast<int>(IndexRecord::kMaxNameLength)) {
      // The index cannot hold the name: the entry could never be restored.
      LogWarning(ERROR_FILENAME_EXCED_RANGE, CString(u"Path too long, not backed up: ") + path,
                 kClass, __LINE__);
      continue;
    }
    if (directory) {
      if (IsMailFolder(path) || (exclude && exclude->IsExcludedDirectory(path))) {
        add = false;
      } else if (top && (attributes & FILE_ATTRIBUTE_TEMPORARY)) {  // a storage card
        if (IsProgramCard(path))
          add = false;
        else if (BackupOptionOn(kOptionExcludeCards) && BackupOptionOn(kOptionApplyExclusions))
          deselect = true;
      }
      if (add && !deselect) {
        deselect = (exclude && exclude->IsExcludedByUserList(path)) ||
                   (inclusionActive && !inclusion->Match(path + u"\\"));
      }
    } else {
      if (rom && !ce::EqualNoCase(std::u16string_view(entry.cFileName), u"stwater.gif"))
        add = false;
      else if (IsBootCopyOfLockedFile(path) || IsMailVolume(path) || IsDatabaseVolume(path) ||
               IsBootCopyOfVolume(path) || IsHiveFile(path) || IsDatabasesChild(path))
        add = false;
      else if (exclude && exclude->IsExcluded(path))
        add = false;
      if (add) {
        deselect = (exclude && exclude->IsExcludedFile(path)) ||
                   (inclusionActive && !inclusion->Match(path));
      }
    }
    if (!add) {
      if (!rom) Log(0, CString(u"Excluded ") + path, kClass, __LINE__);
      continue;
    }
    Index::Item item;
    item.ComponentType = directory ? DIRECTORY_ENTRY : FILE_ENTRY;
    item.name = path.str();
    item.attributes = attributes;
    item.creationTime = entry.ftCreationTime;
    item.lastAccessTime = entry.ftLastAccessTime;
    item.lastWriteTime = entry.ftLastWriteTime;
    item.fileSize = SizeOf(entry);
    item.OID = entry.dwOID;
    item.selected = selected && !deselect ? 1 : 0;
    item.userData = !directory && IsPotentiallyLocked(path) ? 1 : 0;
    if (deselect) Log(0, CString(u"Deselected ") + path, kClass, __LINE__);
    items.push_back(std::move(item));
  }
  index.AddChildren(node, items);
}

ULONGLONG AFileSystemComponent::ImageSize(Index& index, int node) {
  const Index::Item& item = index.NodeInfo(node);
  if (item.ComponentType != DIRECTORY_ENTRY && item.ComponentType != FILE_ENTRY) return 0;
  ULONGLONG characters = item.name.size();
  if (item.ComponentType == FILE_ENTRY && item.userData == 1)
    characters += 1;  // stored as the copy
  return item.fileSize + 2 * characters + kEstimateExtra;
}

bool AFileSystemComponent::AddBootCopiesForBackup(Index& index, int node) {
  const std::vector<CString>& listed = GetPotentiallyLockedFiles();
  if (listed.empty()) return true;
  for (int n = index.NextInSubtree(node, node); n != -1; n = index.NextInSubtree(node, n)) {
    if (index.NodeType(n) != FILE_ENTRY) continue;
    CString name(index.NodeName(n));
    if (!PathInList(listed, name) || !System::FileExists(name)) continue;
    RebootActions::Instance().AddBackupCopy(name, name + kBootCopySuffix, kBootCopyAttributes);
  }
  return true;
}

bool AFileSystemComponent::AddBootCopiesForRestore(Index& index, int node) {
  for (int n = index.NextInSubtree(node, node); n != -1; n = index.NextInSubtree(node, n)) {
    if (index.NodeType(n) != FILE_ENTRY || index.UserData(n) != 1) continue;
    const Index::Item& item = index.NodeInfo(n);
    CString name(item.name);
    RebootActions::Instance().AddRestoreCopy(name + kBootCopySuffix, name,
                                             item.attributes & ~kRomAttributes);
  }
  return true;
}
