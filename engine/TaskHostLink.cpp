#include "engine/TaskHostLink.h"

#include <memory>

#include "core/Log.h"
#include "engine/Global.h"
#include "hostlink/HostConnection.h"
#include "image/ImageFile.h"

namespace {

const WCHAR kClass[] = u"AImagingTask";

std::unique_ptr<AHostImageLink>& ImageLink() {
  static auto* link = new std::unique_ptr<AHostImageLink>();
  return *link;
}

ATaskHostLinkClient& TaskLink() {
  static auto* link = new ATaskHostLinkClient();
  return *link;
}

bool SendNotice(WORD code, DWORD errorCode = 0, LPCWSTR text = nullptr) {
  HostConnectionPtr connection = AHostConnection::GetProcessConnection();
  if (!connection) return false;
  return AHostConnection::SendOperationMessage(connection.get(), code, errorCode, text);
}

}  // namespace

bool ATaskHostLinkClient::IsConnected() { return AHostConnection::GetProcessConnection() != nullptr; }

bool ATaskHostLinkClient::Connect(DWORD timeoutSeconds) {
  return AHostConnection::ConnectProcessConnection(timeoutSeconds);
}

bool ATaskHostLinkClient::SendOperationStart() { return SendNotice(CM_OPERATIONSTART); }

bool ATaskHostLinkClient::SendOperationComplete() { return SendNotice(CM_OPERATIONCOMPLETE); }

bool ATaskHostLinkClient::SendOperationFailed(int kind, const CString& text) {
  return SendNotice(CM_OPERATIONFAILED, static_cast<DWORD>(kind), text.GetString());
}

void ATaskHostLinkClient::CloseConnection() { AHostConnection::CloseProcessConnection(); }

void InstallHostLink(AGlobal& g) {
  AHostConnection::SetOperationKindSource(
      [] { return static_cast<DWORD>(GetGlobal().g_Operation.operationKind); });
  auto link = std::make_unique<AHostImageLink>(&g.g_RemoteOptions);
  SetImageHost(link.get());
  ImageLink() = std::move(link);
  SetTaskHostLink(&TaskLink());
}

void UninstallHostLink() {
  SetTaskHostLink(nullptr);
  SetImageHost(nullptr);
  ImageLink().reset();
  AHostConnection::SetOperationKindSource(nullptr);
  AHostConnection::CloseProcessConnection();
}

void LoadTaskHostDetails(const AGlobal& g) {
  switch (g.g_HostDetailsSource) {
    case kHostDetailsRemoteOptions:
      AHostConnection::LoadHostAndPort(g.g_RemoteOptions);
      break;
    case kHostDetailsAgentServer:
      Log(0, u"LoadServerHostToTaskDetails()", kClass, __LINE__);
      AHostConnection::LoadServerHostDetails();
      break;
    default:
      break;
  }
}
