#include "hostlink/HostConnection.h"

#include <string>
#include <vector>

#include "ce/bytes.h"
#include "ce/codepage.h"
#include "ce/errors.h"
#include "ce/msgbox.h"
#include "ce/registry.h"
#include "ce/time.h"
#include "ce/window.h"
#include "ce/wstring.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/OptionHandlers.h"
#include "core/ProductSettings.h"
#include "hostlink/DistributedFile.h"
#include "hostlink/KeepAliveConsumer.h"

namespace {

const WCHAR kClass[] = u"AHostConnection";
const WCHAR kConfiguratorClass[] = u"AConfiguratorIF";

// Message boxes of testing mode (program string resources).
enum : DWORD {
  kMsgConnectedAskContinue = 65083,
  kMsgSocketFailed = 65085,
  kMsgNameNotFound = 65086,
  kMsgConnectFailed = 65087,
  kMsgReadFailed = 65088,
  kMsgRefused = 65089,
  kMsgAccepted = 65090,
  kMsgAskPartnership = 65091,
  kMsgPartnershipFailed = 65092,
  kMsgRefusedAfterPartnership = 65093,
};

constexpr DWORD kMaxHostNameChars = 255;
constexpr DWORD kRetryDelayMs = 100;

struct HostState {
  CString hostName = AHostConnection::kDefaultHostName;
  WORD port = static_cast<WORD>(GetDefaultHostPort());
  HostConnectionPtr connection;
  std::function<DWORD()> operationKind;
};

HostState& State() {
  static auto* state = new HostState();
  return *state;
}

void LogText(const CString& text, int line) { Log(0, text, kClass, line); }

// Reads one DWORD of the agent key; false when the key or value is missing.
bool ReadAgentDWord(LPCWSTR name, DWORD& value) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, AConfiguratorIF::kAgentKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  DWORD type = 0, data = 0, size = sizeof(data);
  LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(data)) return false;
  value = data;
  return true;
}

// Lets the user interface run while the connect loop waits; false when the
// newest keep-alive consumer asks to give up.
bool KeepUiAlive() {
  MSG msg;
  for (int i = 0; i < 64 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return KeepAliveConsumer::NotifyNewest();
}

std::string ToHostBytes(const CString& hostName) {
  CString name = hostName.Left(kMaxHostNameChars);
  int length = WideCharToMultiByte(CP_ACP, 0, name, name.GetLength(), nullptr, 0, nullptr, nullptr);
  std::string bytes(length > 0 ? length : 0, '\0');
  if (length > 0)
    WideCharToMultiByte(CP_ACP, 0, name, name.GetLength(), bytes.data(), length, nullptr, nullptr);
  return bytes;
}

}  // namespace

// ---- AConfiguratorIF --------------------------------------------------------

DWORD AConfiguratorIF::GetDeviceId() {
  DWORD value = 0;
  return ReadAgentDWord(u"DeviceId", value) ? value : 0;
}

DWORD AConfiguratorIF::GetBackupPort() {
  DWORD value = 0;
  return ReadAgentDWord(u"BackupPort", value) ? value : kDefaultBackupPort;
}

bool AConfiguratorIF::GetServer(WCHAR* buffer, DWORD length) {
  if (!buffer || length == 0) return false;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAgentKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  WCHAR text[kServerMaxChars + 1] = {};
  DWORD type = 0, size = sizeof(text) - sizeof(WCHAR);
  LONG rc = RegQueryValueExW(key, u"Server", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(key);
  // A longer value does not fit the 100 characters and is not read.
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  text[kServerMaxChars] = 0;
  lstrcpynW(buffer, text, static_cast<int>(length));
  CString line;
  line.Format(u"[%s], %d", buffer, static_cast<int>(wcslen(buffer)));
  Log(0, line, kConfiguratorClass, __LINE__);
  return true;
}

// ---- host name and port -------------------------------------------------------

const CString& AHostConnection::GetHostName() { return State().hostName; }
WORD AHostConnection::GetPort() { return State().port; }

void AHostConnection::SetHostAndPort(const CString& hostName, WORD port) {
  State().hostName = hostName;
  State().port = port;
}

void AHostConnection::LoadHostAndPort(const ARemoteOptionHandler& remoteOptions) {
  if (!remoteOptions.GetHostName().IsEmpty())
    SetHostAndPort(remoteOptions.GetHostName(), static_cast<WORD>(remoteOptions.GetPort()));
  else
    SetHostAndPort(kDefaultHostName, static_cast<WORD>(GetDefaultHostPort()));
}

void AHostConnection::LoadServerHostDetails() {
  State().port = static_cast<WORD>(AConfiguratorIF::GetBackupPort());
  LogText(u"Loading Server Host Details", __LINE__);
  WCHAR server[AConfiguratorIF::kServerMaxChars + 1] = {};
  if (AConfiguratorIF::GetServer(server, AConfiguratorIF::kServerMaxChars + 1)) {
    State().hostName = server;
    CString line;
    line.Format(u"Set HostName to [%s]", server);
    LogText(line, __LINE__);
  } else {
    LogError(0, u"Unable to query SOFTWARE\\Quilmo Software\\Quilmo Agent\\Server value", kClass,
             __LINE__);
    State().hostName = kAgentDefaultServer;
  }
}

// ---- connecting ---------------------------------------------------------------

namespace {

// Tries to connect every 100 ms until timeoutSeconds have passed (once in
// testing mode, which shows why it failed). False when no connection came.
bool ConnectWithRetries(QuilmoConnectionWinSock& connection, DWORD timeoutSeconds, bool testing) {
  const DWORD start = GetTickCount();
  const ULONGLONG limitMs = static_cast<ULONGLONG>(timeoutSeconds) * 1000;
  for (;;) {
    if (connection.Connect()) return true;
    if (testing) {
      LogText(u"test mode", __LINE__);
      DWORD stage = connection.GetFailureStage();
      Localizer::ResMessageBox(stage == kStageSocket    ? kMsgSocketFailed
                               : stage == kStageResolve ? kMsgNameNotFound
                                                        : kMsgConnectFailed);
      break;
    }
    if (!KeepUiAlive()) break;
    Sleep(kRetryDelayMs);
    if (static_cast<DWORD>(GetTickCount() - start) >= limitMs) break;
  }
  LogError(0, CString(u"Failed to connect to host ") + connection.GetErrorText(), kClass, __LINE__);
  return false;
}

// The host's decision after connect: skips codes it does not know, answers
// a partnership request, and ends at an accept (true) or a refusal, a
// failed receive or a failed partnership reply (false).
bool RunHandshake(QuilmoConnectionWinSock& connection, DWORD attempts, bool testing) {
  if (testing && Localizer::ResMessageBox(kMsgConnectedAskContinue, MB_OKCANCEL) == IDCANCEL)
    return false;
  bool partnershipSent = false;
  for (int count = 0;; ++count) {
    LogText(u"ConnectToHost", __LINE__);
    AControlMessage message;
    if (count >= AHostConnection::kMaxHandshakeMessages || !message.Receive(&connection, attempts)) {
      if (testing) Localizer::ResMessageBox(kMsgReadFailed);
      LogError(0, u"There was an error reading the control message", kClass, __LINE__);
      return false;
    }
    switch (message.GetCode()) {
      case kControlAccepted:
        if (testing) Localizer::ResMessageBox(kMsgAccepted);
        return true;
      case kControlShutdown:
        if (testing)
          Localizer::ResMessageBox(partnershipSent ? kMsgRefusedAfterPartnership : kMsgRefused);
        LogError(0, u"Server has requested a shutdown", kClass, __LINE__);
        return false;
      case kControlPartnership:
        if (testing && Localizer::ResMessageBox(kMsgAskPartnership, MB_OKCANCEL) == IDCANCEL)
          return false;
        if (!AHostConnection::SendPartnershipData(&connection)) {
          if (testing) Localizer::ResMessageBox(kMsgPartnershipFailed);
          LogError(0, u"Failed sending partnership data", kClass, __LINE__);
          return false;
        }
        partnershipSent = true;
        break;
      default:
        break;  // skipped: wait for the next message
    }
  }
}

}  // namespace

HostConnectionPtr AHostConnection::ConnectToHost(const CString& hostName, WORD port,
                                                 DWORD timeoutSeconds, DWORD attempts,
                                                 bool testing) {
  CString line;
  line.Format(u"ConnectToHost %s:%u timeout:%u retries:%u testing:%d", static_cast<LPCWSTR>(hostName),
              static_cast<unsigned>(port), static_cast<unsigned>(timeoutSeconds),
              static_cast<unsigned>(attempts), testing ? 1 : 0);
  LogText(line, __LINE__);
  std::string host = ToHostBytes(hostName);
  auto connection = std::make_shared<QuilmoConnectionWinSock>(port, host.c_str());
  if (!ConnectWithRetries(*connection, timeoutSeconds, testing)) return nullptr;
  if (!RunHandshake(*connection, attempts, testing)) return nullptr;
  return connection;
}

HostConnectionPtr AHostConnection::ConnectToDefaultHost(DWORD timeoutSeconds) {
  return ConnectToHost(GetHostName(), GetPort(), timeoutSeconds, 10, false);
}

// ---- messages -----------------------------------------------------------------

bool AHostConnection::SendControlMessage(QuilmoConnection* connection, WORD code, DWORD length,
                                         const BYTE* payload) {
  if (code != CM_OPERATIONSTART && code != CM_OPERATIONCOMPLETE && code != CM_OPERATIONFAILED) {
    LogError(0, u"Not a backup control message", kClass, __LINE__);
    return false;
  }
  AControlMessage message(kControlRequest, code, length, payload);
  if (!connection || !message.Send(connection)) {
    LogError(0, u"An error occurred sending control message", kClass, __LINE__);
    return false;
  }
  return true;
}

bool AHostConnection::SendOperationMessage(QuilmoConnection* connection, WORD code,
                                           DWORD errorCode, LPCWSTR text) {
  return SendOperationMessage(connection, code, GetCurrentOperationKind(), errorCode, text);
}

bool AHostConnection::SendOperationMessage(QuilmoConnection* connection, WORD code,
                                           DWORD operationKind, DWORD errorCode, LPCWSTR text) {
  std::string payload;
  ce::le::Put32(&payload, operationKind);
  ce::le::Put32(&payload, AConfiguratorIF::GetDeviceId());
  if (code == CM_OPERATIONFAILED) {
    const DWORD chars = text ? static_cast<DWORD>(wcslen(text)) : 0;
    ce::le::Put32(&payload, errorCode);
    ce::le::Put32(&payload, chars ? (chars + 1) * 2 : 0);
    for (DWORD i = 0; chars && i <= chars; ++i) ce::le::Put16(&payload, i < chars ? text[i] : 0);
  }
  return SendControlMessage(connection, code, static_cast<DWORD>(payload.size()),
                            reinterpret_cast<const BYTE*>(payload.data()));
}

bool AHostConnection::SendPartnershipData(QuilmoConnection* connection) {
  HKEY partners = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPartnersKey, 0, KEY_READ, &partners) != ERROR_SUCCESS) {
    LogError(0, u"There was an error reading the partnership data", kClass, __LINE__);
    return false;
  }
  std::vector<DWORD> ids;
  bool ok = true;
  for (DWORD index = 0;; ++index) {
    WCHAR name[MAX_PATH] = {};
    DWORD nameSize = MAX_PATH;
    LONG rc = RegEnumKeyExW(partners, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) {
      LogError(rc, u"Failed enumurating over registry keys", kClass, __LINE__);
      ok = false;
      break;
    }
    HKEY sub = nullptr;
    if (RegOpenKeyExW(partners, name, 0, KEY_READ, &sub) != ERROR_SUCCESS) {
      LogError(0, u"Error opening the partnership subkey", kClass, __LINE__);
      ok = false;
      break;
    }
    DWORD type = 0, id = 0, size = sizeof(id);
    LONG q = RegQueryValueExW(sub, u"PId", nullptr, &type, reinterpret_cast<BYTE*>(&id), &size);
    RegCloseKey(sub);
    if (q == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(id) && ids.size() < kMaxPartners)
      ids.push_back(id);
  }
  RegCloseKey(partners);
  if (!ok) return false;

  std::string payload;
  ce::le::Put32(&payload, static_cast<DWORD>(ids.size()));
  for (DWORD id : ids) ce::le::Put32(&payload, id);
  AControlMessage reply(kControlReply, kControlPartnership, static_cast<DWORD>(payload.size()),
                        reinterpret_cast<const BYTE*>(payload.data()));
  if (!connection || !reply.Send(connection)) {
    LogError(0, u"There was an error sending the partnership data", kClass, __LINE__);
    return false;
  }
  return true;
}

void AHostConnection::CloseConnection(HostConnectionPtr connection) {
  if (!connection) return;
  AControlMessage closing(kControlRequest, kControlShutdown, 0, nullptr);
  if (closing.Send(connection.get())) {
    AControlMessage reply;
    reply.Receive(connection.get(), 1);  // content not examined
  }
  connection->Close();
}

// ---- the process-wide connection ---------------------------------------------

HostConnectionPtr AHostConnection::GetProcessConnection() { return State().connection; }

void AHostConnection::SetProcessConnection(HostConnectionPtr connection) {
  HostConnectionPtr old = std::move(State().connection);
  State().connection = std::move(connection);
  if (old) CloseConnection(std::move(old));
}

bool AHostConnection::ConnectProcessConnection(DWORD timeoutSeconds) {
  if (State().connection) return true;
  State().connection = ConnectToDefaultHost(timeoutSeconds);
  return State().connection != nullptr;
}

void AHostConnection::CloseProcessConnection() {
  HostConnectionPtr connection = std::move(State().connection);
  CloseConnection(std::move(connection));
}

void AHostConnection::SetOperationKindSource(std::function<DWORD()> source) {
  State().operationKind = std::move(source);
}

DWORD AHostConnection::GetCurrentOperationKind() {
  return State().operationKind ? State().operationKind() : 0;
}

// ---- AHostImageLink -------------------------------------------------------------

bool AHostImageLink::GetConfiguredHost(CString& hostName, WORD& port) {
  if (!m_pRemoteOptions || m_pRemoteOptions->GetHostName().IsEmpty()) return false;
  hostName = m_pRemoteOptions->GetHostName();
  port = static_cast<WORD>(m_pRemoteOptions->GetPort());
  return true;
}

bool AHostImageLink::IsConnected() { return AHostConnection::GetProcessConnection() != nullptr; }

bool AHostImageLink::Connect(const CString& hostName, WORD port) {
  HostConnectionPtr connection = AHostConnection::ConnectToHost(hostName, port, 60, 0, false);
  if (!connection) return false;
  AHostConnection::SetProcessConnection(std::move(connection));
  return true;
}

std::unique_ptr<AFileInterface> AHostImageLink::CreateFile(const CString& fileName) {
  HostConnectionPtr connection = AHostConnection::GetProcessConnection();
  if (!connection) return nullptr;
  return std::make_unique<ADistributedFile>(connection, fileName);
}
