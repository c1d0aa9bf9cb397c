// The abstract file through which images reach their storage, its local
// implementation over a device file, and the matching folder operations.
#pragma once

#include "ce/cstring.h"
#include "ce/types.h"
#include "core/Path.h"

class AFileInterface {
 public:
  AFileInterface() = default;
  explicit AFileInterface(const CString& fileName) : m_FileName(fileName, false) {}
  virtual ~AFileInterface() = default;

  [[nodiscard]] virtual bool Open(DWORD desiredAccess, DWORD creationDisposition, DWORD flagsAndAttributes) = 0;
  // outCount null: the whole count must lie inside the file and arrive;
  // else any bytes succeed and their number is reported.
  [[nodiscard]] virtual bool Read(void* buffer, DWORD count, DWORD* outCount) = 0;
  [[nodiscard]] virtual bool Write(const void* buffer, DWORD count) = 0;
  [[nodiscard]] virtual bool Close() = 0;
  [[nodiscard]] virtual bool GetFileSize(DWORD* size) = 0;
  [[nodiscard]] virtual bool SetFilePointer(LONG distance, DWORD method) = 0;
  [[nodiscard]] virtual bool GetFilePointer(DWORD* position) = 0;

  // The system error (or the host's error code) of the last failure.
  DWORD GetError() const { return m_LastError; }
  void SetError(DWORD code) { m_LastError = code; }
  const APath& GetPath() const { return m_FileName; }
  CString GetFullPath() const { return m_FileName.GetFullPath(); }
  void SetFileName(const CString& fileName) { m_FileName.Set(fileName, false); }
  // Sent to the host with a remote open.
  const CString& GetUserMessage() const { return m_UserMessage; }
  void SetUserMessage(const CString& text) { m_UserMessage = text; }

 protected:
  DWORD m_LastError = 0;
  APath m_FileName;
  CString m_UserMessage;
};

class AFile : public AFileInterface {
 public:
  AFile() = default;
  explicit AFile(const CString& fileName) : AFileInterface(fileName) {}
  ~AFile() override;
  AFile(const AFile&) = delete;
  AFile& operator=(const AFile&) = delete;

  // Reading (GENERIC_READ alone) requires OPEN_EXISTING. Access denied
  // while writing deletes the file and tries once more. A file that does
  // not open is an ordinary log line; the error is kept (GetError).
  [[nodiscard]] bool Open(DWORD desiredAccess, DWORD creationDisposition, DWORD flagsAndAttributes) override;
  [[nodiscard]] bool Read(void* buffer, DWORD count, DWORD* outCount) override;
  [[nodiscard]] bool Write(const void* buffer, DWORD count) override;
  [[nodiscard]] bool Close() override;
  [[nodiscard]] bool GetFileSize(DWORD* size) override;
  // For a file opened for reading, a move to beyond its size is refused.
  [[nodiscard]] bool SetFilePointer(LONG distance, DWORD method) override;
  [[nodiscard]] bool GetFilePointer(DWORD* position) override;

  // Closes the file, clears its attributes and deletes it.
  [[nodiscard]] bool Delete();
  [[nodiscard]] bool SetFileTime(const FILETIME* creation, const FILETIME* lastAccess, const FILETIME* lastWrite);

  bool IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }

 private:
  static constexpr DWORD kNotOpened = 99;
  bool OpenedForReading() const;
  // Store code, log text with it (Fail) or with 0 for a refusal that
  // involves no system error (Refuse); both return false. Note logs an
  // ordinary line: a file that does not open is an outcome the caller
  // reports at the level that fits (a missing file may be expected).
  bool Fail(DWORD code, const CString& text, int line);
  bool Note(DWORD code, const CString& text, int line);
  bool Refuse(DWORD code, const CString& text, int line);

  HANDLE m_hFile = INVALID_HANDLE_VALUE;
  DWORD m_FileSize = 0;
  DWORD m_Access = kNotOpened;
};

// Folder operations where an image lives. No destructor slot: objects are
// never deleted through this base.
class AFileSystem {
 public:
  virtual bool DirectoryExists(const CString& path) = 0;
  virtual bool CreateDirectory(const CString& path) = 0;

 protected:
  ~AFileSystem() = default;
};

class ALocalFileSystem final : public AFileSystem {
 public:
  // The path is empty or names an existing folder.
  bool DirectoryExists(const CString& path) override;
  // Creates one folder.
  bool CreateDirectory(const CString& path) override;
};

// The host keeps its own folders: both operations succeed at once.
class ARemoteFileSystem final : public AFileSystem {
 public:
  bool DirectoryExists(const CString& path) override;
  bool CreateDirectory(const CString& path) override;
};
