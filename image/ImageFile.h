// The stream through which a backup image is written and read back: 32 KB
// write buffer, 64 KB read-ahead, a running crc32 of every stored byte,
// encipherment on request through the image cipher (image/Cipher.h). The
// image lives in a local file (AFile) or, in host mode, in a file reached
// through the registered image host.
#pragma once

#include <memory>
#include <variant>
#include <vector>

#include "ce/cstring.h"
#include "ce/types.h"
#include "image/File.h"
#include "image/ImageEntryHeader.h"

class ITaskProgress;

// The desktop host side of host-mode images; the host link registers one.
class AImageHost {
 public:
  virtual ~AImageHost() = default;
  // The host name and port configured by the user's remote options; false
  // when none is configured.
  virtual bool GetConfiguredHost(CString& hostName, WORD& port) = 0;
  // A process-wide connection to the host is up.
  virtual bool IsConnected() = 0;
  // Connects (60-second time-out, no retries) and keeps the connection
  // process-wide; logs its own failure.
  virtual bool Connect(const CString& hostName, WORD port) = 0;
  // A file on the host over the process-wide connection.
  virtual std::unique_ptr<AFileInterface> CreateFile(const CString& fileName) = 0;
};

// Registers the image host (null: none). The owner keeps it alive.
void SetImageHost(AImageHost* host);
AImageHost* GetImageHost();

class AImageFile {
 public:
  enum Operation { kBackup = 1, kRestore = 2 };
  enum TaskMode { kInvalidMode = 0, kLocal = 1, kHost = 2 };

  AImageFile();
  AImageFile(int operation, int taskMode);
  AImageFile(const CString& fileName, int operation);  // local
  ~AImageFile();
  AImageFile(const AImageFile&) = delete;
  AImageFile& operator=(const AImageFile&) = delete;

  void SetFileName(const CString& fileName) { m_FileName = fileName; }
  const CString& GetFileName() const { return m_FileName; }
  void SetProgress(ITaskProgress* progress) { m_pProgress = progress; }
  ITaskProgress* GetProgress() const { return m_pProgress; }
  void SetUserMessage(const CString& text) { m_UserMessage = text; }
  void SetHost(const CString& hostName, WORD port) { m_HostName = hostName; m_HostPort = port; }
  const CString& GetHostName() const { return m_HostName; }
  WORD GetHostPort() const { return m_HostPort; }
  // The current logical position: the bytes written since open, or where
  // the next read starts. Always succeeds.
  bool GetBytesWritten(DWORD* position) const;
  DWORD GetPosition() const { return m_CurrentFilePtr; }

  // Backup: creates the file anew and restarts the running crc32.
  // Restore: opens an existing file and records its size as the restore
  // size estimate.
  [[nodiscard]] bool Open();
  [[nodiscard]] bool Close();
  bool IsOpen() const { return m_bOpen; }

  // Stores length bytes, enciphered when asked (final ends the cipher
  // run). Refused when the image would pass 4 GB (positions are 32-bit).
  [[nodiscard]] bool Write(const void* data, DWORD length, bool encipher, bool final);
  // Reads length bytes, deciphered when asked. A read that needs bytes
  // beyond the end of the file fails without consuming anything.
  [[nodiscard]] bool Read(void* buffer, DWORD length, bool decipher, bool final);
  // method FILE_BEGIN or FILE_END (distance from the end, not above 0);
  // FILE_CURRENT is refused. Ends any open cipher run. During a backup it
  // invalidates the running crc32.
  [[nodiscard]] bool SetFilePointer(LONG distance, DWORD method);
  [[nodiscard]] bool FlushWriteBuffer();

  // True when the file is at least 160 bytes long and its last 80 bytes
  // begin with the header marker.
  static bool IsBackupFile(const CString& path);

  // Size of the image opened for restore (0 before); readers check the
  // lengths they read from the image against BytesLeft before they
  // allocate or loop.
  DWORD GetFileSize() const { return m_FileSize; }
  DWORD BytesLeft() const { return m_FileSize > m_CurrentFilePtr ? m_FileSize - m_CurrentFilePtr : 0; }

  DWORD GetCRC() const { return m_Crc; }
  bool IsCRCValid() const { return m_bCrcValid; }
  DWORD GetBytesFlushed() const { return m_BytesFlushed; }
  DWORD GetBytesHandedToWrite() const { return m_BytesHandedToWrite; }
  bool EndReached() const { return m_bEndReached; }

  // The last header whose marker check passed (null before any).
  const AImageFileHeader* GetLastHeader() const { return m_pLastHeader.get(); }
  void SetLastHeader(const AImageFileHeader& header);

  AFileInterface* GetFileInterface() const { return m_pFile.get(); }
  AFileSystem* GetFileSystem();
  int GetOperation() const { return m_Operation; }
  int GetTaskMode() const { return m_TaskMode; }

  // The file size recorded by the last restore open (process-wide).
  static DWORD GetRestoreSizeEstimate();
  static void SetRestoreSizeEstimate(DWORD size);

 private:
  void Init();
  bool OpenFileInterface();
  bool BufferedWrite(const BYTE* data, DWORD length);
  bool WriteThrough(const BYTE* data, DWORD length);
  bool ReadRaw(BYTE* buffer, DWORD length);
  bool DropReadAhead();
  // Drops the read-ahead and seeks the file interface; the logical
  // position becomes the file's position.
  bool SeekFile(LONG distance, DWORD method);

  bool m_bOpen = false;
  std::unique_ptr<AImageFileHeader> m_pLastHeader;
  std::unique_ptr<AFileInterface> m_pFile;
  std::variant<std::monostate, ALocalFileSystem, ARemoteFileSystem> m_FileSystem;
  int m_Operation = 0;
  int m_TaskMode = kInvalidMode;
  CString m_FileName;
  CString m_UserMessage;
  WORD m_HostPort = 0;
  CString m_HostName;
  DWORD m_WriteBufferSize = 0;
  DWORD m_ReadAheadSize = 0;

  std::unique_ptr<BYTE[]> m_pReadAhead;
  DWORD m_BytesLeftInReadBuffer = 0;
  DWORD m_ReadPos = 0;     // next byte of the read-ahead
  DWORD m_ReadFilled = 0;  // bytes the last fill brought
  bool m_bEndReached = false;

  std::unique_ptr<BYTE[]> m_pWriteBuffer;
  DWORD m_WriteUsed = 0;
  std::vector<BYTE> m_CryptoBuffer;  // enciphered copy of a write

  DWORD m_BytesHandedToWrite = 0;
  DWORD m_CurrentFilePtr = 0;
  DWORD m_Crc = 0;
  DWORD m_BytesFlushed = 0;
  bool m_bCrcValid = true;
  DWORD m_FileSize = 0;
  ITaskProgress* m_pProgress = nullptr;
};
