#include "hostlink/DistributedFile.h"

#include <cstring>
#include <memory>

#include "ce/bytes.h"
#include "ce/time.h"
#include "ce/wstring.h"
#include "core/Log.h"
#include "hostlink/ControlMessage.h"

namespace {

const WCHAR kClass[] = u"ADistributedFile";

// Text with its NUL, UTF-16 little-endian.
void PutText(std::string* bytes, const CString& text) {
  for (int i = 0; i < text.GetLength(); ++i) ce::le::Put16(bytes, text[i]);
  ce::le::Put16(bytes, 0);
}

std::string_view PayloadOf(const AControlMessage& message) {
  return {reinterpret_cast<const char*>(message.GetPayload()), message.GetLength()};
}

}  // namespace

ADistributedFile::ADistributedFile(std::shared_ptr<QuilmoConnection> connection)
    : ADistributedFile(std::move(connection), kPromptUserName) {}

ADistributedFile::ADistributedFile(std::shared_ptr<QuilmoConnection> connection,
                                   const CString& fileName)
    : AFileInterface(fileName), m_pConnection(std::move(connection)) {}

bool ADistributedFile::SendRequest(DWORD command, const std::string& data) {
  DWORD length = 0;
  std::unique_ptr<BYTE[]> payload(AControlMessage::BuildRequest(
      command, static_cast<DWORD>(data.size()), reinterpret_cast<const BYTE*>(data.data()), length));
  if (!payload || !m_pConnection) return false;
  AControlMessage request(kControlRequest, kControlRemoteFile, length, payload.get());
  return request.Send(m_pConnection.get());
}

ADistributedFile::Reply ADistributedFile::Transact(DWORD command, const std::string& data,
                                                   DWORD attempts, bool requireCode,
                                                   AControlMessage& reply) {
  if (!SendRequest(command, data)) return Reply::kSendFailed;
  if (!reply.Receive(m_pConnection.get(), attempts)) return Reply::kReceiveFailed;
  if (reply.GetKind() == kControlErrorReply && reply.GetCode() == kControlRemoteFile) {
    std::string_view payload = PayloadOf(reply);
    SetError(payload.size() >= 4 ? ce::le::Get32(payload, 0) : 0);
    return Reply::kError;
  }
  if (reply.GetKind() != kControlReply) return Reply::kUnexpected;
  if (requireCode && reply.GetCode() != kControlRemoteFile) return Reply::kUnexpected;
  return Reply::kOk;
}

bool ADistributedFile::Report(Reply outcome, LPCWSTR sendFailed, LPCWSTR receiveFailed,
                              LPCWSTR errorReply, LPCWSTR unexpected, int line) {
  switch (outcome) {
    case Reply::kSendFailed:
      LogError(0, sendFailed, kClass, line);
      break;
    case Reply::kReceiveFailed:
      LogError(0, receiveFailed, kClass, line);
      break;
    case Reply::kError:
      LogError(m_LastError, errorReply, kClass, line);
      break;
    case Reply::kUnexpected:
    case Reply::kOk:  // a reply whose content does not fit
      LogError(0, unexpected, kClass, line);
      break;
  }
  return false;
}

bool ADistributedFile::Open(DWORD desiredAccess, DWORD creationDisposition,
                            DWORD flagsAndAttributes) {
  const CString name = GetFullPath();
  const DWORD messageBytes =
      m_UserMessage.IsEmpty() ? 0 : static_cast<DWORD>(m_UserMessage.GetLength() + 1) * 2;
  CString line;
  line.Format(u"User message is %d bytes, [%s]", static_cast<int>(messageBytes),
              static_cast<LPCWSTR>(m_UserMessage));
  Log(0, line, kClass, __LINE__);
  line.Format(u"Filename is [%s]", static_cast<LPCWSTR>(name));
  Log(0, line, kClass, __LINE__);

  std::string data;
  PutText(&data, name);
  ce::le::Put32(&data, messageBytes);
  if (messageBytes) PutText(&data, m_UserMessage);
  ce::le::Put32(&data, desiredAccess);
  ce::le::Put32(&data, creationDisposition);
  ce::le::Put32(&data, flagsAndAttributes);
  AControlMessage reply;
  Reply outcome = Transact(kRemoteOpen, data, 0, false, reply);
  if (outcome == Reply::kOk) return true;
  return Report(outcome, u"Open(): Failed to send request host",
                u"Open(): Failed to receive response from host", u"Open() returned error from host",
                u"Open() received unexpected response from host", __LINE__);
}

bool ADistributedFile::Close() {
  AControlMessage reply;
  Reply outcome = Transact(kRemoteClose, {}, 0, false, reply);
  if (outcome == Reply::kOk) return true;
  return Report(outcome, u"Close(): Failed to send request host",
                u"Close(): Failed to receive response from host",
                u"Close() returned error from host",
                u"Close() received unexpected response from host", __LINE__);
}

bool ADistributedFile::Read(void* buffer, DWORD count, DWORD* outCount) {
  std::string data;
  ce::le::Put32(&data, count);
  AControlMessage reply;
  Reply outcome = Transact(kRemoteRead, data, 0, true, reply);
  if (outcome == Reply::kOk) {
    std::string_view payload = PayloadOf(reply);
    // The announced count must be carried by the reply.
    if (payload.size() >= 4 && ce::le::Get32(payload, 0) <= payload.size() - 4) {
      const DWORD got = ce::le::Get32(payload, 0);
      const DWORD copied = got < count ? got : count;
      if (copied) memcpy(buffer, payload.data() + 4, copied);
      if (outCount) {
        *outCount = copied;
        return true;
      }
      if (got == count) return true;
      CString line;
      line.Format(u"Read(): host returned %u of %u bytes", static_cast<unsigned>(got),
                  static_cast<unsigned>(count));
      LogError(0, line, kClass, __LINE__);
      return false;
    }
  }
  return Report(outcome, u"Read(): failed to send request to host",
                u"Read(): read of response message failed", u"Read() returned error from host",
                u"Read(): Unexpected reply from host", __LINE__);
}

bool ADistributedFile::Write(const void* buffer, DWORD count) {
  Sleep(0);
  std::string data;
  ce::le::Put32(&data, count);
  data.append(static_cast<const char*>(buffer), count);
  if (SendRequest(kRemoteWrite, data)) return true;
  LogError(0, u"Write(): failed to send request to host", kClass, __LINE__);
  return false;
}

bool ADistributedFile::SetFilePointer(LONG distance, DWORD method) {
  std::string data;
  ce::le::Put32(&data, static_cast<DWORD>(distance));
  ce::le::Put32(&data, method);
  AControlMessage reply;
  Reply outcome = Transact(kRemoteSetFilePointer, data, 0, false, reply);
  if (outcome == Reply::kOk) return true;
  return Report(outcome, u"SetFilePointer(): failed to send request to host",
                u"SetFilePointer(): Failed to receive response from host",
                u"SetFilePointer() returned error from host",
                u"SetFilePointer() received unexpected response from host", __LINE__);
}

bool ADistributedFile::GetDWord(DWORD command, DWORD* value) {
  AControlMessage reply;
  Reply outcome = Transact(command, {}, kDWordAttempts, true, reply);
  if (outcome == Reply::kOk && reply.GetLength() >= 4) {
    *value = ce::le::Get32(PayloadOf(reply), 0);
    return true;
  }
  return Report(outcome, u"GetDWord(): Failed to send request to host",
                u"GetDWord(): Failed to receive response from host",
                u"GetDWord(): Returned error from host", u"GetDWord(): Unexpected reply from host",
                __LINE__);
}

bool ADistributedFile::GetFilePointer(DWORD* position) { return GetDWord(kRemoteGetFilePointer, position); }

bool ADistributedFile::GetFileSize(DWORD* size) { return GetDWord(kRemoteGetFileSize, size); }

bool ADistributedFile::GetDirectory(HostFindDataArray& entries) {
  entries.RemoveAll();
  CString line;
  line.Format(u"sizeof(HOST_FIND_DATA) = %d", static_cast<int>(HOST_FIND_DATA::kStoredSize));
  Log(0, line, kClass, __LINE__);
  AControlMessage reply;
  Reply outcome = Transact(kRemoteGetDirectory, {}, 0, true, reply);
  if (outcome == Reply::kOk) {
    std::string_view payload = PayloadOf(reply);
    // The announced count must be carried by the reply.
    if (payload.size() >= 4 &&
        ce::le::Get32(payload, 0) <= (payload.size() - 4) / HOST_FIND_DATA::kStoredSize) {
      const DWORD count = ce::le::Get32(payload, 0);
      line.Format(u"Found %d entries in the file data", static_cast<int>(count));
      Log(0, line, kClass, __LINE__);
      for (DWORD i = 0; i < count; ++i) {
        HOST_FIND_DATA entry = HOST_FIND_DATA::Parse(payload, 4 + i * HOST_FIND_DATA::kStoredSize);
        line.Format(u"Adding file %s to findData", entry.cFileName);
        Log(0, line, kClass, __LINE__);
        entries.Add(entry);
      }
      return true;
    }
  }
  return Report(outcome, u"GetDirectory(): Failed to send request host",
                u"GetDirectory(): Failed to receive response from host",
                u"GetDirectory() returned error from host",
                u"GetDirectory(): Unexpected reply from host", __LINE__);
}
