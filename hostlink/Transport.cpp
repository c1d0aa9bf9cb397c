#include "hostlink/Transport.h"

#include <algorithm>
#include <climits>
#include <string>

#include "ce/errors.h"
#include "ce/registry.h"
#include "core/Log.h"

namespace ws = ce::ws;

namespace {
constexpr const WCHAR* kClass = u"QuilmoConnectionWinSock";
constexpr int kListenBacklog = 5;
}  // namespace

SocketSettings SocketSettings::Load() {
  SocketSettings s;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return s;
  auto read = [key](LPCWSTR name, DWORD& value) {
    DWORD type = 0, data = 0, size = sizeof data;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof data)
      value = data;
  };
  read(u"SocketRetries", s.retries);
  read(u"SocketTimeout", s.timeout);
  read(u"SocketBlocksize", s.blocksize);
  RegCloseKey(key);
  if (s.retries == 0) s.retries = kDefaultRetries;
  if (s.blocksize == 0 || s.blocksize > INT_MAX) s.blocksize = kDefaultBlocksize;
  return s;
}

QuilmoConnectionWinSock::QuilmoConnectionWinSock(WORD port, const char* hostName)
    : m_Port(port), m_HostName(hostName ? hostName : ""), m_Settings(SocketSettings::Load()) {
  CString text;
  text.Format(u"Retries: %d Blocksize: %d Timeout: %d host:%hs port:%d", m_Settings.retries,
              m_Settings.blocksize, m_Settings.timeout, m_HostName.c_str(), m_Port);
  Log(0, text, kClass, __LINE__);
}

QuilmoConnectionWinSock::~QuilmoConnectionWinSock() {
  if (m_ListenSocket != ws::INVALID_SOCKET) {
    ws::closesocket(m_ListenSocket);
    m_ListenSocket = ws::INVALID_SOCKET;
  }
  Close();
}

void QuilmoConnectionWinSock::Fail(DWORD stage, const CString& text) {
  m_FailureStage = stage;
  m_ErrorText = text;
}

bool QuilmoConnectionWinSock::Open() {
  if (m_ListenSocket != ws::INVALID_SOCKET) return true;
  m_ListenSocket = ws::socket(ws::AF_INET, ws::SOCK_STREAM, 0);
  if (m_ListenSocket == ws::INVALID_SOCKET) {
    DWORD error = static_cast<DWORD>(ws::WSAGetLastError());
    Fail(kStageOpen, u"QuilmoConnectionWinSock::Open() - open() failed");
    LogError(error, m_ErrorText, kClass, __LINE__);
    return false;
  }
  return true;
}

bool QuilmoConnectionWinSock::Listen(int backlog) {
  m_Backlog = backlog;
  CString text;
  BOOL reuse = TRUE;
  if (ws::setsockopt(m_ListenSocket, ws::SOL_SOCKET, ws::SO_REUSEADDR,
                     reinterpret_cast<const char*>(&reuse), sizeof reuse) == ws::SOCKET_ERROR) {
    DWORD error = static_cast<DWORD>(ws::WSAGetLastError());
    text.Format(u"setsockopt() Failed : 0x%X", error);
    Fail(kStageOpen, text);
    LogError(error, u"QuilmoConnectionWinSock::Listen() - setsockopt() failed", kClass, __LINE__);
    return false;
  }
  ws::sockaddr_in address{};
  address.sin_family = ws::AF_INET;
  address.sin_port = ws::htons(m_Port);
  address.sin_addr.s_addr = ws::htonl(ws::INADDR_ANY);
  if (ws::bind(m_ListenSocket, reinterpret_cast<const ws::sockaddr*>(&address), sizeof address) ==
      ws::SOCKET_ERROR) {
    DWORD error = static_cast<DWORD>(ws::WSAGetLastError());
    text.Format(u"bind() Failed : 0x%X", error);
    Fail(kStageOpen, text);
    LogError(error, u"QuilmoConnectionWinSock::Listen() - bind() failed", kClass, __LINE__);
    return false;
  }
  // The backlog asked for is kept; the device listens with 5 whatever it is.
  if (ws::listen(m_ListenSocket, kListenBacklog) == ws::SOCKET_ERROR) {
    DWORD error = static_cast<DWORD>(ws::WSAGetLastError());
    text.Format(u"listen() Failed : 0x%X", error);
    Fail(kStageListen, text);
    LogError(error, u"QuilmoConnectionWinSock::Listen() - listen() failed", kClass, __LINE__);
    return false;
  }
  return true;
}

WORD QuilmoConnectionWinSock::GetListeningPort() const {
  if (m_ListenSocket == ws::INVALID_SOCKET) return 0;
  ws::sockaddr_in address{};
  int length = sizeof address;
  if (ws::getsockname(m_ListenSocket, reinterpret_cast<ws::sockaddr*>(&address), &length) != 0)
    return 0;
  return ws::ntohs(address.sin_port);
}

bool QuilmoConnectionWinSock::Connect() {
  Close();
  CString text;
  ws::addrinfo hints{};
  hints.ai_family = ws::AF_INET;
  hints.ai_socktype = ws::SOCK_STREAM;
  ws::addrinfo* found = nullptr;
  std::string service = std::to_string(m_Port);
  int result = ws::getaddrinfo(m_HostName.c_str(), service.c_str(), &hints, &found);
  if (result != 0 || !found) {
    text.Format(u"getaddrinfo() Failed : %d", result);
    Fail(kStageResolve, text);
    return false;
  }
  m_Socket = ws::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
  if (m_Socket == ws::INVALID_SOCKET) {
    text.Format(u"socket() Failed %d", ws::WSAGetLastError());
    Fail(kStageSocket, text);
    ws::freeaddrinfo(found);
    return false;
  }
  ws::in_addr peer = reinterpret_cast<const ws::sockaddr_in*>(found->ai_addr)->sin_addr;
  Log(0, CString(u"Connecting to ") + CString(ws::inet_ntoa(peer)), kClass, __LINE__);
  result = ws::connect(m_Socket, found->ai_addr, static_cast<int>(found->ai_addrlen));
  ws::freeaddrinfo(found);
  if (result == ws::SOCKET_ERROR) {
    text.Format(u"connect() Failed : %d", ws::WSAGetLastError());
    Fail(kStageConnect, text);
    ws::closesocket(m_Socket);
    m_Socket = ws::INVALID_SOCKET;
    return false;
  }
  SendAtOnce();
  return true;
}

bool QuilmoConnectionWinSock::Accept() {
  ws::SOCKET s = ws::accept(m_ListenSocket, nullptr, nullptr);
  if (s == ws::INVALID_SOCKET) {
    DWORD error = static_cast<DWORD>(ws::WSAGetLastError());
    CString text;
    text.Format(u"accept() failed : 0x%X", error);
    Fail(kStageAccept, text);
    LogError(error, u"QuilmoConnectionWinSock::Accept() - accept() failed", kClass, __LINE__);
    return false;
  }
  Close();
  m_Socket = s;
  SendAtOnce();
  return true;
}

void QuilmoConnectionWinSock::SendAtOnce() {
  // A message goes out as two sends (header, then payload). Held back until
  // the header is acknowledged, the payload would wait for the peer's
  // delayed acknowledgement on every request. Without the option the link
  // still works, only slower, so a failure is not an error.
  BOOL noDelay = TRUE;
  ws::setsockopt(m_Socket, ws::IPPROTO_TCP, ws::TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                 sizeof noDelay);
}

int QuilmoConnectionWinSock::Close() {
  if (m_Socket == ws::INVALID_SOCKET) return -1;
  ws::shutdown(m_Socket, ws::SD_BOTH);
  int result = ws::closesocket(m_Socket);
  m_Socket = ws::INVALID_SOCKET;
  return result;
}

int QuilmoConnectionWinSock::SendPiece(const BYTE* piece, int length) {
  return ws::send(m_Socket, reinterpret_cast<const char*>(piece), length, 0);
}

DWORD QuilmoConnectionWinSock::SendBytes(const BYTE* buffer, DWORD length) {
  DWORD sent = 0;
  while (sent < length) {
    int piece = static_cast<int>(std::min<DWORD>(length - sent, m_Settings.blocksize));
    int n = SendPiece(buffer + sent, piece);
    if (n == ws::SOCKET_ERROR || n <= 0) {
      LogError(static_cast<DWORD>(ws::WSAGetLastError()),
               u"QuilmoConnectionWinSock::SendBytes() - send() failed", kClass, __LINE__);
      break;
    }
    sent += static_cast<DWORD>(n);
  }
  return sent;
}

DWORD QuilmoConnectionWinSock::RecvBytes(BYTE* buffer, DWORD length, DWORD attempts) {
  if (m_Socket == ws::INVALID_SOCKET) return 0;
  if (attempts == 0) attempts = m_Settings.retries;
  DWORD received = 0;
  DWORD waits = 0;
  while (received < length) {
    ws::fd_set readable;
    FD_ZERO(&readable);
    FD_SET(m_Socket, &readable);
    ws::timeval timeout{static_cast<long>(m_Settings.timeout), 0};
    int ready = ws::select(0, &readable, nullptr, nullptr, &timeout);
    if (ready == ws::SOCKET_ERROR) {
      LogError(static_cast<DWORD>(ws::WSAGetLastError()),
               u"QuilmoConnectionWinSock::RecvBytes() - select() failed", kClass, __LINE__);
      return received;
    }
    if (ready > 0) {
      int want = static_cast<int>(std::min<DWORD>(length - received, INT_MAX));
      int n = ws::recv(m_Socket, reinterpret_cast<char*>(buffer + received), want, 0);
      if (n == ws::SOCKET_ERROR) {
        LogError(static_cast<DWORD>(ws::WSAGetLastError()),
                 u"QuilmoConnectionWinSock::RecvBytes() - recv() failed", kClass, __LINE__);
        return received;
      }
      if (n == 0) {
        // The host closed the connection: nothing more will come.
        CString text;
        text.Format(u"recv() connection closed by the host after %d of %d bytes", received, length);
        LogWarning(0, text, kClass, __LINE__);
        return received;
      }
      received += static_cast<DWORD>(n);
      waits = 0;
    }
    if (++waits >= attempts && received < length) {
      CString text;
      text.Format(u"recv() exceeded maximum retries %d of %d", received, length);
      LogWarning(0, text, kClass, __LINE__);
      return received;
    }
  }
  return received;
}
