// The byte stream between the device and the backup service on the
// desktop host: `QuilmoConnection` and its TCP form over the device's
// WinSock, `QuilmoConnectionWinSock`.
//
// Nothing throws: results are truth values or byte counts; the last
// failure stage and error text stay readable for the caller.
#pragma once

#include <string>

#include "ce/cstring.h"
#include "ce/types.h"
#include "ce/winsock.h"

// Failure stages (GetFailureStage).
enum ConnectionFailureStage : DWORD {
  kStageNone = 0,
  kStageOpen = 1,      // socket creation, option or bind failed
  kStageAccept = 2,
  kStageListen = 3,
  kStageSocket = 4,    // socket creation during connect
  kStageResolve = 8,   // name resolution
  kStageConnect = 0x10,
};

// Socket settings: DWORD values under HKLM "Software\Quilmo Software",
// read once when a connection is made.
struct SocketSettings {
  static constexpr const WCHAR* kKey = u"Software\\Quilmo Software";
  static constexpr DWORD kDefaultRetries = 10;       // "SocketRetries"
  static constexpr DWORD kDefaultTimeout = 3;        // "SocketTimeout", seconds
  static constexpr DWORD kDefaultBlocksize = 0x8000; // "SocketBlocksize", bytes

  DWORD retries = kDefaultRetries;
  DWORD timeout = kDefaultTimeout;
  DWORD blocksize = kDefaultBlocksize;

  // The stored values; a missing key or value keeps its default. A
  // retry count or block size of 0 would never end a wait or a send and
  // keeps the default too.
  static SocketSettings Load();
};

class QuilmoConnection {
 public:
  virtual ~QuilmoConnection() = default;
  virtual bool Open() = 0;
  virtual bool Listen(int backlog) = 0;
  virtual bool Connect() = 0;
  virtual bool Accept() = 0;
  // Bytes sent; anything short of length is a failure.
  virtual DWORD SendBytes(const BYTE* buffer, DWORD length) = 0;
  // Bytes received (at most length). attempts: idle waits before giving
  // up, 0 for the configured count.
  virtual DWORD RecvBytes(BYTE* buffer, DWORD length, DWORD attempts) = 0;

  DWORD GetFailureStage() const { return m_FailureStage; }
  const CString& GetErrorText() const { return m_ErrorText; }

 protected:
  DWORD m_FailureStage = kStageNone;
  CString m_ErrorText;
};

class QuilmoConnectionWinSock : public QuilmoConnection {
 public:
  // Loads the socket settings and logs them with the host and port.
  QuilmoConnectionWinSock(WORD port, const char* hostName);
  // Closes the listening socket when open, then Close.
  ~QuilmoConnectionWinSock() override;
  QuilmoConnectionWinSock(const QuilmoConnectionWinSock&) = delete;
  QuilmoConnectionWinSock& operator=(const QuilmoConnectionWinSock&) = delete;

  // Creates the listening socket when none is open.
  bool Open() override;
  // Address reuse, bind to any IPv4 address on the port, listen (backlog 5).
  bool Listen(int backlog) override;
  // Resolves the host with the port, connects to the first address. On
  // failure the socket is closed and invalid. A connected socket held
  // before is closed first.
  bool Connect() override;
  // Accepts one connection from the listening socket.
  bool Accept() override;
  // Sends in pieces of at most the block size; stops at the first failure.
  DWORD SendBytes(const BYTE* buffer, DWORD length) override;
  // Waits up to the time-out per attempt; data resets the idle count. Ends
  // with the bytes so far on a wait or receive error, when the host closed
  // the connection, or after `attempts` waits.
  DWORD RecvBytes(BYTE* buffer, DWORD length, DWORD attempts) override;
  // Shuts the connected socket down both ways and closes it; -1 when none.
  int Close();

  WORD GetPort() const { return m_Port; }
  const std::string& GetHostName() const { return m_HostName; }
  bool IsConnected() const { return m_Socket != ce::ws::INVALID_SOCKET; }
  const SocketSettings& GetSettings() const { return m_Settings; }
  // The local port of the listening socket (after Listen; 0 when none).
  WORD GetListeningPort() const;

 protected:
  // One send of a piece (the seam the block-size rule is tested through).
  virtual int SendPiece(const BYTE* piece, int length);

 private:
  void Fail(DWORD stage, const CString& text);
  // Turns off the coalescing of small sends on the connected socket.
  void SendAtOnce();

  WORD m_Port = 0;
  std::string m_HostName;
  ce::ws::SOCKET m_ListenSocket = ce::ws::INVALID_SOCKET;
  ce::ws::SOCKET m_Socket = ce::ws::INVALID_SOCKET;
  SocketSettings m_Settings;
  int m_Backlog = 0;
};
