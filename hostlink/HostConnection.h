// The one connection to the backup service on the desktop host: connecting
// with a time-out, the handshake (accepted, partnership exchange or
// refusal), the operation notices that frame a host backup or restore and
// the orderly close. Also the desktop agent's key on the device and the
// image host that host-mode image files reach their files through.
//
// All logs use the class "AHostConnection" (the agent key: "AConfiguratorIF").
#pragma once

#include <functional>
#include <memory>

#include "ce/cstring.h"
#include "ce/types.h"
#include "hostlink/ControlMessage.h"
#include "hostlink/Transport.h"
#include "image/ImageFile.h"

class ARemoteOptionHandler;

// HKLM "SOFTWARE\Quilmo Software\Quilmo Agent", written by the desktop agent.
class AConfiguratorIF {
 public:
  static constexpr const WCHAR* kAgentKey = u"SOFTWARE\\Quilmo Software\\Quilmo Agent";
  static constexpr DWORD kDefaultBackupPort = 32766;
  static constexpr DWORD kServerMaxChars = 100;

  // "DeviceId"; 0 when missing.
  static DWORD GetDeviceId();
  // "BackupPort"; 32766 when missing.
  static DWORD GetBackupPort();
  // "Server" into buffer (length in characters, NUL included; at most 100
  // characters are read). False, buffer untouched, when it cannot be read.
  static bool GetServer(WCHAR* buffer, DWORD length);
};

// Shared: a remote file keeps the object alive; once closed, its socket is
// invalid and every later request fails cleanly.
using HostConnectionPtr = std::shared_ptr<QuilmoConnectionWinSock>;

class AHostConnection {
 public:
  static constexpr const WCHAR* kPartnersKey = u"Software\\Microsoft\\Windows CE Services\\Partners";
  static constexpr DWORD kMaxPartners = 10;
  static constexpr const WCHAR* kDefaultHostName = u"ppp_peer";
  static constexpr const WCHAR* kAgentDefaultServer = u"localhost";
  // Messages a hostile host may send before it accepts or refuses.
  static constexpr int kMaxHandshakeMessages = 64;

  // Host name and port in force (process-wide).
  static const CString& GetHostName();
  static WORD GetPort();
  static void SetHostAndPort(const CString& hostName, WORD port);
  // From the remote options when they hold a host name; otherwise
  // "ppp_peer" and the product's default host port.
  static void LoadHostAndPort(const ARemoteOptionHandler& remoteOptions);
  // From the desktop agent: "BackupPort" and "Server" ("localhost" when
  // the server cannot be read).
  static void LoadServerHostDetails();

  // Connects, trying every 100 ms until timeoutSeconds have passed (one
  // try in testing mode, which also shows the outcome in message boxes),
  // then runs the handshake; attempts is the receive attempt count of each
  // handshake message (0: the socket setting). None on any failure.
  static HostConnectionPtr ConnectToHost(const CString& hostName, WORD port, DWORD timeoutSeconds,
                                         DWORD attempts, bool testing);
  // ConnectToHost with the host name and port in force, 10 attempts.
  static HostConnectionPtr ConnectToDefaultHost(DWORD timeoutSeconds);

  // Only codes 4, 5 and 6 (sent as requests).
  static bool SendControlMessage(QuilmoConnection* connection, WORD code, DWORD length,
                                 const BYTE* payload);
  // The operation notice of code 4 or 5 (short form) or 6 (long form with
  // error code and text), with the current operation kind and the agent's
  // device id.
  static bool SendOperationMessage(QuilmoConnection* connection, WORD code, DWORD errorCode,
                                   LPCWSTR text);
  static bool SendOperationMessage(QuilmoConnection* connection, WORD code, DWORD operationKind,
                                   DWORD errorCode, LPCWSTR text);
  // The partner ids of this device (at most 10) as the partnership reply.
  static bool SendPartnershipData(QuilmoConnection* connection);
  // Sends the closing message, reads one reply (1 attempt) when it was
  // sent and closes the socket. Null: nothing.
  static void CloseConnection(HostConnectionPtr connection);

  // The process-wide connection (at most one), shared by the image file
  // and the imaging task.
  static HostConnectionPtr GetProcessConnection();
  // Replaces the process-wide connection; an earlier one is closed first.
  static void SetProcessConnection(HostConnectionPtr connection);
  // Connects to the host in force (see ConnectToDefaultHost) unless a
  // process-wide connection exists; true when one is up afterwards.
  static bool ConnectProcessConnection(DWORD timeoutSeconds);
  // Closes the process-wide connection (CloseConnection) and forgets it.
  static void CloseProcessConnection();

  // The current operation kind put in every notice; 0 until a source is
  // set (the program's global state registers one).
  static void SetOperationKindSource(std::function<DWORD()> source);
  static DWORD GetCurrentOperationKind();
};

// The image host of host-mode image files over the process-wide
// connection. Register it with SetImageHost (image/ImageFile.h).
class AHostImageLink : public AImageHost {
 public:
  // remoteOptions: the program's remote options (may be null: none
  // configured); kept, not owned.
  explicit AHostImageLink(const ARemoteOptionHandler* remoteOptions = nullptr)
      : m_pRemoteOptions(remoteOptions) {}

  bool GetConfiguredHost(CString& hostName, WORD& port) override;
  bool IsConnected() override;
  // ConnectToHost (60 s, attempts 0, not testing); the connection becomes
  // the process-wide one.
  bool Connect(const CString& hostName, WORD port) override;
  // An ADistributedFile over the process-wide connection (null: none).
  std::unique_ptr<AFileInterface> CreateFile(const CString& fileName) override;

 private:
  const ARemoteOptionHandler* m_pRemoteOptions;
};
