// The imaging task's desktop host link over the process-wide host
// connection (hostlink/HostConnection.h), and the program's registration of
// the host pieces: the operation kind of the notices, the image host of
// host-mode image files and the task's host link.
#pragma once

#include "ce/cstring.h"
#include "ce/types.h"
#include "engine/ImagingTask.h"

class AGlobal;

class ATaskHostLinkClient : public ATaskHostLink {
 public:
  // A process-wide connection exists.
  bool IsConnected() override;
  // Connects to the host in force unless connected already.
  bool Connect(DWORD timeoutSeconds) override;
  bool SendOperationStart() override;
  bool SendOperationComplete() override;
  // CM_OPERATIONFAILED with the failure kind as the error code.
  bool SendOperationFailed(int kind, const CString& text) override;
  // Closes the process-wide connection.
  void CloseConnection() override;
};

// Registers the operation kind source (the global descriptor's kind), a
// process-wide image host over g's remote options and the task host link.
// A later call replaces what an earlier one registered.
void InstallHostLink(AGlobal& g);
// Removes the registrations (before g goes away) and closes the
// process-wide connection.
void UninstallHostLink();

// Loads the host details in force before a backup, by g's host details
// source: remote options (1) or the desktop agent's server (2); others
// load nothing.
void LoadTaskHostDetails(const AGlobal& g);
