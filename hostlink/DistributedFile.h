// A file on the desktop host, reached through remote file requests over the
// host connection: the image of a host backup or restore and the host
// folder listing. Every failure returns false after one log line (class
// "ADistributedFile"); the connection stays open and an error reply's code
// becomes the last error.
#pragma once

#include <memory>
#include <string>

#include "ce/collections.h"
#include "ce/cstring.h"
#include "ce/types.h"
#include "hostlink/HostFindData.h"
#include "hostlink/Transport.h"
#include "image/File.h"

class AControlMessage;

using HostFindDataArray = CArray<HOST_FIND_DATA>;

class ADistributedFile : public AFileInterface {
 public:
  static constexpr const WCHAR* kPromptUserName = u"prompt_user";
  // Receive attempts of a GetFilePointer or GetFileSize reply.
  static constexpr DWORD kDWordAttempts = 20;

  // Named "prompt_user" (folder listings).
  explicit ADistributedFile(std::shared_ptr<QuilmoConnection> connection);
  ADistributedFile(std::shared_ptr<QuilmoConnection> connection, const CString& fileName);
  ~ADistributedFile() override = default;
  ADistributedFile(const ADistributedFile&) = delete;
  ADistributedFile& operator=(const ADistributedFile&) = delete;

  // Sends the file name, the user message and the three arguments.
  bool Open(DWORD desiredAccess, DWORD creationDisposition, DWORD flagsAndAttributes) override;
  // Copies at most count bytes of the reply. outCount null: succeeds only
  // when the host returned exactly count bytes.
  bool Read(void* buffer, DWORD count, DWORD* outCount) override;
  // No reply is awaited: success means the request was sent whole.
  bool Write(const void* buffer, DWORD count) override;
  bool Close() override;
  bool GetFileSize(DWORD* size) override;
  bool SetFilePointer(LONG distance, DWORD method) override;
  bool GetFilePointer(DWORD* position) override;

  // The host folder's entries in reply order (the array is emptied first).
  bool GetDirectory(HostFindDataArray& entries);

 private:
  // The outcome of one request and its reply.
  enum class Reply { kSendFailed, kReceiveFailed, kError, kUnexpected, kOk };

  // Sends command with data as a remote file request; false on a short send.
  bool SendRequest(DWORD command, const std::string& data);
  // Sends the request and receives the reply (attempts 0: the socket
  // setting). kOk when the reply is kind 1 and, when requireCode, code 3.
  // An error reply stores its code as the last error.
  Reply Transact(DWORD command, const std::string& data, DWORD attempts, bool requireCode,
                 AControlMessage& reply);
  // Logs the line that belongs to the outcome (texts in the order send,
  // receive, error, unexpected); always false.
  bool Report(Reply outcome, LPCWSTR sendFailed, LPCWSTR receiveFailed, LPCWSTR errorReply,
              LPCWSTR unexpected, int line);
  // GetFilePointer and GetFileSize: a u32 reply.
  bool GetDWord(DWORD command, DWORD* value);

  std::shared_ptr<QuilmoConnection> m_pConnection;
};
