// The device-security agent of Credant ("CMGLIB.DLL", entry "CMG_Request"):
// told that a backup or a restore starts and ends, it answers at once or
// later with a message to a hidden reply window of this object.
//
// ACredantIF is a window of the class library (the reply window, a hidden
// child of the owner window named "PBWaitForCredant", created on the first
// notification). The imaging task takes it through its security-agent
// seam and calls the notifications only when LoadLibrary reports the agent
// available. A pending request waits for its reply at most 80 sleeps of
// 250 ms on the device clock, handling the thread's messages meanwhile; a
// quit message ends the wait (posted again for the loop that owns it).
// Log class "ACredantIF".
#pragma once

#include "ce/module.h"
#include "ce/types.h"
#include "engine/ImagingTask.h"
#include "formats/CredantRequestFormat.h"
#include "ui/Mfc.h"

class ACredantIF : public CWnd, public ASecurityAgentIF {
 public:
  static constexpr const WCHAR* kReplyWindowName = u"PBWaitForCredant";
  static constexpr const WCHAR* kReplyWindowClass = u"QuilmoCredantReply";
  static constexpr int kWaitSleeps = 80;
  static constexpr DWORD kWaitSleepMs = 250;

  // owner: the parent of the reply window (it must be a window when a
  // notification is sent).
  explicit ACredantIF(CWnd* owner);
  // Destroys the reply window and frees the library when it was loaded.
  ~ACredantIF() override;

  // The library exists as "\windows\CMGLib.dll", loads and offers its
  // request entry. The work is done once; later calls give the first answer.
  bool LoadLibrary() override;
  // Requests 1 to 4: true when the agent answered "done" at once or its
  // reply arrived in time.
  bool NotifyBackupStart() override;
  bool NotifyBackupEnd() override;
  bool NotifyRestoreStart() override;
  bool NotifyRestoreEnd() override;

  // The answer of the last request (CMG_Request's result).
  int GetLastResult() const { return m_nLastResult; }
  bool ReplyReceived() const { return m_bReplyReceived; }
  bool LoadFailed() const { return m_bLoadFailed; }

  // The factory that the imaging task's security-agent seam calls: an
  // interface owned by the program's main window.
  static SecurityAgentFactory MakeFactory();

 protected:
  // Marks the reply messages 0x8001 to 0x8004 as received (answer 0);
  // everything else goes to the default handling.
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  bool Notify(DWORD request);
  bool CreateReplyWindow();
  // Handles the thread's messages between sleeps until the reply arrives;
  // false on a quit message (posted again) or after the last sleep.
  bool WaitForReply();
  // Handles every waiting message; false when one was the quit message.
  bool PumpMessages();

  HMODULE m_hLibrary = nullptr;
  credant::RequestEntry m_pRequest = nullptr;
  bool m_bLoaded = false;      // a load was tried
  bool m_bAvailable = false;
  bool m_bLoadFailed = false;
  bool m_bWindowCreated = false;
  bool m_bReplyReceived = false;
  int m_nLastResult = 0;
  CWnd* m_pOwner;
};
