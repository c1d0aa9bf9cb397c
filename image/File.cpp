#include "image/File.h"

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/handle.h"
#include "core/Log.h"
#include "core/System.h"

namespace {
const WCHAR kClass[] = u"AFile";
}

AFile::~AFile() {
  // Owners that must know close first; here nothing is left to tell.
  if (IsOpen()) static_cast<void>(Close());
}

bool AFile::OpenedForReading() const {
  return m_Access != kNotOpened && (m_Access & (GENERIC_READ | GENERIC_WRITE)) == GENERIC_READ;
}

bool AFile::Fail(DWORD code, const CString& text, int line) {
  m_LastError = code;
  LogError(code, text, kClass, line);
  return false;
}

bool AFile::Note(DWORD code, const CString& text, int line) {
  m_LastError = code;
  Log(code, text, kClass, line);
  return false;
}

bool AFile::Refuse(DWORD code, const CString& text, int line) {
  m_LastError = code;
  LogError(0, text, kClass, line);
  return false;
}

bool AFile::Open(DWORD desiredAccess, DWORD creationDisposition, DWORD flagsAndAttributes) {
  bool reading = (desiredAccess & (GENERIC_READ | GENERIC_WRITE)) == GENERIC_READ;
  if (reading && creationDisposition != OPEN_EXISTING)
    return Refuse(ERROR_INVALID_PARAMETER, u"GENERIC_READ & !OPEN_EXISTING", __LINE__);
  // A file still open from an earlier use is closed first; a failed close of
  // that handle does not concern the open asked for now.
  if (IsOpen()) (void)Close();

  CString path = GetFullPath();
  DWORD share = reading ? FILE_SHARE_READ : 0;
  HANDLE h = CreateFileW(path, desiredAccess, share, nullptr, creationDisposition,
                         flagsAndAttributes, nullptr);
  if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED &&
      (desiredAccess & GENERIC_WRITE)) {
    // A read-only file in the way: remove it and try once more (the second
    // open tells whether that worked).
    static_cast<void>(Delete());
    h = CreateFileW(path, desiredAccess, share, nullptr, creationDisposition, flagsAndAttributes,
                    nullptr);
  }
  if (h == INVALID_HANDLE_VALUE)
    return Note(::GetLastError(), CString(u"CreateFileW failed on ") + path, __LINE__);

  if (reading) {
    SetLastError(0);
    DWORD size = ::GetFileSize(h, nullptr);
    DWORD err = ::GetLastError();
    if (size == 0xFFFFFFFFu && err != 0) {
      CloseHandle(h);
      return Fail(err, u"Size() failed", __LINE__);
    }
    m_FileSize = size;
  }
  m_hFile = h;
  m_Access = desiredAccess;
  return true;
}

bool AFile::Read(void* buffer, DWORD count, DWORD* outCount) {
  if (outCount) *outCount = 0;
  SetLastError(0);
  DWORD position = ::SetFilePointer(m_hFile, 0, nullptr, FILE_CURRENT);
  if (position == 0xFFFFFFFFu && ::GetLastError() != 0)
    return Fail(::GetLastError(), u"Read GetFilePointer() failed", __LINE__);

  CString text;
  if (!outCount && static_cast<ULONGLONG>(position) + count > m_FileSize) {
    text.Format(u"(Read CheckPointer + count) > m_FileSize %u:%u:%u", m_FileSize, position, count);
    return Refuse(ERROR_HANDLE_EOF, text, __LINE__);
  }
  if (count == 0) {
    return Refuse(ERROR_INVALID_PARAMETER, u"Read count == 0", __LINE__);
  }
  DWORD read = 0;
  if (!ReadFile(m_hFile, buffer, count, &read, nullptr))
    return Fail(::GetLastError(), CString(u"ReadFile failed ") + GetFullPath(), __LINE__);
  // With an out-count any bytes are progress; without one the caller
  // takes the buffer as filled, so a short read is a failure.
  if (read == 0 || (!outCount && read != count)) {
    text.Format(u"Read BytesRead != count %u:%u", read, count);
    return Refuse(ERROR_HANDLE_EOF, text, __LINE__);
  }
  if (outCount) *outCount = read;
  return true;
}

bool AFile::Write(const void* buffer, DWORD count) {
  if (count == 0) {
    return Refuse(ERROR_INVALID_PARAMETER, u"Write count == 0", __LINE__);
  }
  DWORD written = 0;
  if (!WriteFile(m_hFile, buffer, count, &written, nullptr)) {
    DWORD err = ::GetLastError();
    CString path = GetFullPath();
    if (err == ERROR_DISK_FULL)
      return Fail(err,
                  System::IsOnStorageCard(path) ? u"There is not enough space on the storage card"
                                                : u"There is not enough space on the disk",
                  __LINE__);
    return Fail(err, CString(u"WriteFile failed ") + path, __LINE__);
  }
  if (written != count) {
    CString text;
    text.Format(u"BytesWritten != count %u:%u", written, count);
    return Refuse(ERROR_WRITE_FAULT, text, __LINE__);
  }
  return true;
}

bool AFile::Close() {
  if (!IsOpen()) return true;
  HANDLE h = m_hFile;
  m_hFile = INVALID_HANDLE_VALUE;
  if (!CloseHandle(h)) {
    m_LastError = ::GetLastError();
    return false;
  }
  return true;
}

bool AFile::GetFileSize(DWORD* size) {
  SetLastError(0);
  DWORD s = ::GetFileSize(m_hFile, nullptr);
  DWORD err = ::GetLastError();
  if (s == 0xFFFFFFFFu && err != 0)
    return Fail(err, CString(u"GetFileSize failed ") + GetFullPath(), __LINE__);
  *size = s;
  return true;
}

bool AFile::SetFilePointer(LONG distance, DWORD method) {
  if (OpenedForReading() && method != FILE_CURRENT) {
    LONGLONG target = method == FILE_END ? static_cast<LONGLONG>(m_FileSize) + distance : distance;
    if (target > static_cast<LONGLONG>(m_FileSize)) {
      CString text;
      text.Format(u"(position > (int)m_FileSize) %s %d %u", static_cast<LPCWSTR>(GetFullPath()),
                  distance, m_FileSize);
      return Refuse(ERROR_HANDLE_EOF, text, __LINE__);
    }
  }
  SetLastError(0);
  DWORD pos = ::SetFilePointer(m_hFile, distance, nullptr, method);
  if (pos == 0xFFFFFFFFu && ::GetLastError() != 0)
    return Fail(::GetLastError(), CString(u"SetFilePointer failed ") + GetFullPath(), __LINE__);
  return true;
}

bool AFile::GetFilePointer(DWORD* position) {
  SetLastError(0);
  DWORD pos = ::SetFilePointer(m_hFile, 0, nullptr, FILE_CURRENT);
  if (pos == 0xFFFFFFFFu && ::GetLastError() != 0)
    return Fail(::GetLastError(), CString(u"GFP SetFilePointer failed ") + GetFullPath(), __LINE__);
  *position = pos;
  return true;
}

bool AFile::Delete() {
  static_cast<void>(Close());  // a handle that stays open shows in the delete
  CString path = GetFullPath();
  if (GetFileAttributesW(path) == 0xFFFFFFFFu) {
    m_LastError = ::GetLastError();
    return false;
  }
  if (!SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL))
    return Fail(::GetLastError(), CString(u"SetFileAttributesW() failed ") + path, __LINE__);
  if (!DeleteFileW(path))
    return Fail(::GetLastError(), CString(u"DeleteFileW() failed ") + path, __LINE__);
  return true;
}

bool AFile::SetFileTime(const FILETIME* creation, const FILETIME* lastAccess,
                        const FILETIME* lastWrite) {
  if (!::SetFileTime(m_hFile, creation, lastAccess, lastWrite))
    return Fail(::GetLastError(), CString(u"SetFileTime failed ") + GetFullPath(), __LINE__);
  return true;
}

bool ALocalFileSystem::DirectoryExists(const CString& path) { return System::DirectoryExists(path); }

bool ALocalFileSystem::CreateDirectory(const CString& path) {
  return ::CreateDirectoryW(path, nullptr) != FALSE;
}

bool ARemoteFileSystem::DirectoryExists(const CString&) { return true; }

bool ARemoteFileSystem::CreateDirectory(const CString&) { return true; }
