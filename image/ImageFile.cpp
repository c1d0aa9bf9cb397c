#include "image/ImageFile.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "ce/errors.h"
#include "ce/file.h"
#include "core/DeviceServices.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "image/Cipher.h"
#include "image/ImageFormat.h"

namespace {

const WCHAR kClass[] = u"AImageFile";
const WCHAR kUninitialised[] = u"Unitialised";
const WCHAR kDefaultHostName[] = u"ppp_peer";

AImageHost* g_host = nullptr;
DWORD g_restoreSizeEstimate = 0;

bool Error(DWORD code, const CString& text, int line) {
  LogError(code, text, kClass, line);
  return false;
}

// Ends an open run of the image cipher: whatever comes next starts from
// the key, as every entry does.
void EndCipherRun() {
  ACrypto& cipher = GetImageCipher();
  if (cipher.HasKey()) cipher.EndRun();
}

}  // namespace

void SetImageHost(AImageHost* host) { g_host = host; }
AImageHost* GetImageHost() { return g_host; }

DWORD AImageFile::GetRestoreSizeEstimate() { return g_restoreSizeEstimate; }
void AImageFile::SetRestoreSizeEstimate(DWORD size) { g_restoreSizeEstimate = size; }

AImageFile::AImageFile() { Init(); }

AImageFile::AImageFile(int operation, int taskMode) : m_Operation(operation), m_TaskMode(taskMode) {
  Init();
}

AImageFile::AImageFile(const CString& fileName, int operation)
    : m_Operation(operation), m_TaskMode(kLocal) {
  Init();
  m_FileName = fileName;
}

AImageFile::~AImageFile() = default;

void AImageFile::Init() {
  m_FileName = kUninitialised;
  m_HostName = kDefaultHostName;
  m_HostPort = static_cast<WORD>(GetDefaultHostPort());
  CString name;
  WORD port = 0;
  if (g_host && g_host->GetConfiguredHost(name, port) && !name.IsEmpty()) {
    m_HostName = name;
    m_HostPort = port;
  }
  m_WriteBufferSize = ImageFormat::kWriteBufferSize;
  m_ReadAheadSize = ImageFormat::kReadAheadSize;
}

bool AImageFile::GetBytesWritten(DWORD* position) const {
  *position = m_CurrentFilePtr;
  return true;
}

void AImageFile::SetLastHeader(const AImageFileHeader& header) {
  m_pLastHeader = std::make_unique<AImageFileHeader>(header);
}

AFileSystem* AImageFile::GetFileSystem() {
  if (auto* local = std::get_if<ALocalFileSystem>(&m_FileSystem)) return local;
  if (auto* remote = std::get_if<ARemoteFileSystem>(&m_FileSystem)) return remote;
  return nullptr;
}

bool AImageFile::OpenFileInterface() {
  switch (m_TaskMode) {
    case kLocal:
      if (!m_pFile) {
        m_pFile = std::make_unique<AFile>(m_FileName);
        m_FileSystem.emplace<ALocalFileSystem>();
      } else {
        m_pFile->SetFileName(m_FileName);
      }
      return true;
    case kHost: {
      if (!g_host || !g_host->IsConnected()) {
        Log(0, u"No connection present. Create Connection now", kClass, __LINE__);
        if (!g_host || !g_host->Connect(m_HostName, m_HostPort))
          return Error(GetLastError(), u"Failed to connect to Quilmo Service on the host PC",
                       __LINE__);
      }
      m_pFile = g_host->CreateFile(m_FileName);
      if (!m_pFile)
        return Error(GetLastError(), u"Failed to connect to Quilmo Service on the host PC",
                     __LINE__);
      m_FileSystem.emplace<ARemoteFileSystem>();
      return true;
    }
    case kInvalidMode:
      return Error(0, u"Invalid task mode", __LINE__);
    default:
      return Error(0, u"Unknown Error", __LINE__);
  }
}

bool AImageFile::Open() {
  if (m_bOpen) {
    LogWarning(0, u"File already open", kClass, __LINE__);
    // Whatever the earlier open still buffers reaches its file first; a
    // failing close has logged itself and the new open goes on.
    static_cast<void>(Close());
  }
  m_bOpen = true;
  auto failed = [this] {
    m_bOpen = false;
    return false;
  };
  if (m_FileName == kUninitialised) {
    Error(0, u"Uninitialised Filename - image file open", __LINE__);
    return failed();
  }
  if (!OpenFileInterface()) return failed();
  if (!m_UserMessage.IsEmpty()) m_pFile->SetUserMessage(m_UserMessage);

  m_BytesHandedToWrite = 0;
  m_CurrentFilePtr = 0;
  m_FileSize = 0;
  if (!m_pReadAhead) {
    if (m_ReadAheadSize == 0) {
      Error(0, u"0 length Read Ahead buffer", __LINE__);
      return failed();
    }
    m_pReadAhead = std::make_unique<BYTE[]>(m_ReadAheadSize);
  }
  if (!m_pWriteBuffer) {
    if (m_WriteBufferSize == 0) {
      Error(0, u"0 length Write buffer", __LINE__);
      return failed();
    }
    m_pWriteBuffer = std::make_unique<BYTE[]>(m_WriteBufferSize);
  }
  m_BytesLeftInReadBuffer = m_ReadPos = m_ReadFilled = 0;
  m_bEndReached = false;
  m_WriteUsed = 0;
  EndCipherRun();

  CString failText;
  failText.Format(u"image file open failed - filename[%s]", static_cast<LPCWSTR>(m_FileName));
  switch (m_Operation) {
    case kBackup:
      m_Crc = 0;
      m_BytesFlushed = 0;
      if (!m_pFile->Open(GENERIC_WRITE, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL)) {
        Error(m_pFile->GetError(), failText, __LINE__);
        return failed();
      }
      return true;
    case kRestore:
      if (!m_pFile->Open(GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL)) {
        Error(m_pFile->GetError(), failText, __LINE__);
        return failed();
      }
      if (!m_pFile->GetFileSize(&m_FileSize)) {
        Error(m_pFile->GetError(), u"RESTORE File size estimate failed -  image file open",
              __LINE__);
        static_cast<void>(m_pFile->Close());  // only opened: nothing to lose
        return failed();
      }
      g_restoreSizeEstimate = m_FileSize;
      return true;
    default:
      Error(0, u"Unknown operation - image file open", __LINE__);
      return failed();
  }
}

bool AImageFile::Close() {
  m_bOpen = false;
  if (!m_pFile) return true;
  bool flushed = FlushWriteBuffer();
  bool closed = m_pFile->Close();
  return flushed && closed;
}

bool AImageFile::DropReadAhead() {
  if (m_BytesLeftInReadBuffer > 0 &&
      !m_pFile->SetFilePointer(static_cast<LONG>(m_CurrentFilePtr), FILE_BEGIN))
    return Error(m_pFile->GetError(), u"Failed to reset the file pointer", __LINE__);
  m_BytesLeftInReadBuffer = m_ReadPos = m_ReadFilled = 0;
  return true;
}

bool AImageFile::WriteThrough(const BYTE* data, DWORD length) {
  KeepDeviceAwake();
  if (!m_pFile->Write(data, length)) return false;
  m_Crc = crc32(m_Crc, data, length);
  m_BytesFlushed += length;
  return true;
}

bool AImageFile::FlushWriteBuffer() {
  if (m_WriteUsed == 0) return true;
  if (!m_pFile) return false;
  if (!WriteThrough(m_pWriteBuffer.get(), m_WriteUsed)) return false;  // bytes stay buffered
  m_WriteUsed = 0;
  return true;
}

bool AImageFile::BufferedWrite(const BYTE* data, DWORD length) {
  m_BytesHandedToWrite += length;
  m_CurrentFilePtr += length;
  while (length > 0) {
    if (m_WriteUsed == 0 && length >= m_WriteBufferSize) {
      if (!WriteThrough(data, m_WriteBufferSize)) return false;
      data += m_WriteBufferSize;
      length -= m_WriteBufferSize;
      continue;
    }
    DWORD take = std::min(length, m_WriteBufferSize - m_WriteUsed);
    std::memcpy(m_pWriteBuffer.get() + m_WriteUsed, data, take);
    m_WriteUsed += take;
    data += take;
    length -= take;
    if (m_WriteUsed == m_WriteBufferSize && !FlushWriteBuffer()) return false;
  }
  return true;
}

bool AImageFile::Write(const void* data, DWORD length, bool encipher, bool final) {
  if (!m_pFile || !m_pWriteBuffer) return Error(ERROR_INVALID_HANDLE, u"Image file not open", __LINE__);
  if (!DropReadAhead()) return false;
  if (static_cast<ULONGLONG>(m_CurrentFilePtr) + length > 0xFFFFFFFFull)
    return Error(ERROR_DISK_FULL, u"Image file would exceed 4 GB", __LINE__);
  const BYTE* bytes = static_cast<const BYTE*>(data);
  if (!encipher) return BufferedWrite(bytes, length);

  if (m_CryptoBuffer.size() < length) m_CryptoBuffer.resize(length);
  if (!GetImageCipher().Encrypt(bytes, m_CryptoBuffer.data(), length, final))
    return Error(GetLastError(), u"Error encrypting", __LINE__);
  if (!BufferedWrite(m_CryptoBuffer.data(), length))
    return Error(length, u"Error writing CryptoBuffer to local file (error number = bytecount)",
                 __LINE__);
  return true;
}

bool AImageFile::ReadRaw(BYTE* buffer, DWORD length) {
  if (length < m_BytesLeftInReadBuffer) {
    std::memcpy(buffer, m_pReadAhead.get() + m_ReadPos, length);
    m_ReadPos += length;
    m_BytesLeftInReadBuffer -= length;
    m_CurrentFilePtr += length;
    return true;
  }
  DWORD done = m_BytesLeftInReadBuffer;
  std::memcpy(buffer, m_pReadAhead.get() + m_ReadPos, done);
  m_ReadPos += done;
  m_BytesLeftInReadBuffer = 0;
  m_CurrentFilePtr += done;
  while (done < length) {
    if (m_BytesLeftInReadBuffer != 0)
      return Error(0, u"Error: corruption in read ahead buffer: assertion failure", __LINE__);
    DWORD got = 0;
    if (!m_pFile->Read(m_pReadAhead.get(), m_ReadAheadSize, &got) || got == 0)
      return Error(m_pFile->GetError(), u"Error reading file to file read ahead buffer", __LINE__);
    if (got < m_ReadAheadSize) m_bEndReached = true;
    m_ReadFilled = m_BytesLeftInReadBuffer = std::min(got, m_ReadAheadSize);
    DWORD take = std::min(m_BytesLeftInReadBuffer, length - done);
    std::memcpy(buffer + done, m_pReadAhead.get(), take);
    m_ReadPos = take;
    m_BytesLeftInReadBuffer -= take;
    m_CurrentFilePtr += take;
    done += take;
  }
  return true;
}

bool AImageFile::Read(void* buffer, DWORD length, bool decipher, bool final) {
  if (!m_pFile || !m_pReadAhead) return Error(ERROR_INVALID_HANDLE, u"Image file not open", __LINE__);
  if (!FlushWriteBuffer()) return false;
  if (m_Operation == kRestore && static_cast<ULONGLONG>(m_CurrentFilePtr) + length > m_FileSize) {
    CString text;
    text.Format(u"Error: read beyond the end of the image file: position %u length %u size %u",
                m_CurrentFilePtr, length, m_FileSize);
    return Error(ERROR_HANDLE_EOF, text, __LINE__);
  }
  BYTE* bytes = static_cast<BYTE*>(buffer);
  if (!ReadRaw(bytes, length)) {
    if (decipher)
      Error(length, u"Error reading local file (error number = bytecount)", __LINE__);
    return false;
  }
  if (decipher && !GetImageCipher().Decrypt(bytes, bytes, length, final))
    return Error(GetLastError(), u"Error decrypting", __LINE__);
  return true;
}

bool AImageFile::SeekFile(LONG distance, DWORD method) {
  m_BytesLeftInReadBuffer = m_ReadPos = m_ReadFilled = 0;
  m_bEndReached = false;
  if (!m_pFile->SetFilePointer(distance, method)) return false;
  if (method == FILE_BEGIN) {
    m_CurrentFilePtr = static_cast<DWORD>(distance);
    return true;
  }
  // From the end: the logical position is where the file now stands.
  DWORD position = 0;
  if (!m_pFile->GetFilePointer(&position)) return false;
  m_CurrentFilePtr = position;
  return true;
}

bool AImageFile::SetFilePointer(LONG distance, DWORD method) {
  if (!m_pFile) return Error(ERROR_INVALID_HANDLE, u"Image file not open", __LINE__);
  if (method == FILE_CURRENT)
    return Error(ERROR_INVALID_PARAMETER, u"Don't support SetFilePointer() for FILE_CURRENT",
                 __LINE__);
  if (method != FILE_BEGIN && method != FILE_END)
    return Error(ERROR_INVALID_PARAMETER, u"Unknown SetFilePointer() method", __LINE__);
  if ((method == FILE_BEGIN && distance < 0) || (method == FILE_END && distance > 0))
    return Error(ERROR_NEGATIVE_SEEK, u"SetFilePointer() outside the image file", __LINE__);
  if (!FlushWriteBuffer()) return false;
  if (m_Operation == kBackup) {
    m_bCrcValid = false;
    LogWarning(0, u"SetFilePointer() on Backup invalidates CRC", kClass, __LINE__);
  }
  EndCipherRun();

  if (m_BytesLeftInReadBuffer == 0) return SeekFile(distance, method);
  if (method == FILE_BEGIN) {
    DWORD target = static_cast<DWORD>(distance);
    DWORD windowStart = m_CurrentFilePtr - m_ReadPos;
    DWORD windowEnd = m_CurrentFilePtr + m_BytesLeftInReadBuffer;
    if (target >= windowStart && target <= windowEnd) {
      m_ReadPos = target - windowStart;
      m_BytesLeftInReadBuffer = m_ReadFilled - m_ReadPos;
      m_CurrentFilePtr = target;
      return true;
    }
    CString text;
    text.Format(u"SetPointer() outside buffer: dwPos: %d m_dwCurrentFilePtr: %d "
                u"m_dwBytesLeftInReadBuffer: %d",
                distance, m_CurrentFilePtr, m_BytesLeftInReadBuffer);
    Log(0, text, kClass, __LINE__);
    m_BytesLeftInReadBuffer = m_ReadPos = m_ReadFilled = 0;
    Log(0, u"Invalidated read ahead buffer", kClass, __LINE__);
    text.Format(u"CurrentFilePtr is now %d", distance);
    Log(0, text, kClass, __LINE__);
  }
  return SeekFile(distance, method);
}

bool AImageFile::IsBackupFile(const CString& path) {
  AFile file(path);
  if (!file.Open(GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL))
    return Error(file.GetError(), CString(u"AImageFile::IsBackupFile: Error opening file : ") + path,
                 __LINE__);
  DWORD size = 0;
  if (!file.GetFileSize(&size))
    return Error(file.GetError(), u"AImageFile::IsBackupFile: Error getting file size", __LINE__);
  if (size < ImageFormat::kMinimumImageSize) return false;
  if (!file.SetFilePointer(-static_cast<LONG>(ImageFormat::kHeaderSize), FILE_END))
    return Error(file.GetError(), u"AImageFile::IsBackupFile: Error moving file pointer", __LINE__);
  BYTE tail[ImageFormat::kHeaderSize];
  if (!file.Read(tail, ImageFormat::kHeaderSize, nullptr))
    return Error(file.GetError(), u"AImageFile::IsBackupFile: Error reading header", __LINE__);
  static_cast<void>(file.Close());  // only read: a failing close loses nothing
  return AImageFileHeader::HasMarker(tail);
}
