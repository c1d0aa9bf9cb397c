#include "app/CommandLine.h"

#include <climits>

#include "app/QuilmoApp.h"
#include "ce/wstring.h"
#include "core/Log.h"
#include "engine/Global.h"

namespace {

constexpr const WCHAR* kClass = u"CQuilmoCommandLineInfo";

// Indexed by CommandLineMode.
constexpr const WCHAR* kKeywords[] = {
    u"ScheduledBackup",      u"MerrowAutoBackup", u"LocalRestore", u"RemoteRestore",
    u"LocalBackup",          u"RemoteBackup",     u"EnableFileScheduling",
    u"DisableFileScheduling", u"ImageId",         u"Signature",    u"StartScheduling",
};

// The leading decimal digits of text; 0 when it starts with none. A value
// beyond the int range is held at INT_MAX.
int ReadDecimal(const WCHAR* text) {
  long long value = 0;
  for (; *text >= u'0' && *text <= u'9'; ++text) {
    value = value * 10 + (*text - u'0');
    if (value > INT_MAX) return INT_MAX;
  }
  return static_cast<int>(value);
}

}  // namespace

CQuilmoCommandLineInfo::CQuilmoCommandLineInfo(CQuilmoApp* owner) : m_pOwner(owner) {}

int CQuilmoCommandLineInfo::KeywordMode(const WCHAR* word) {
  if (!word) return kCmdNone;
  for (int mode = 0; mode < static_cast<int>(sizeof kKeywords / sizeof kKeywords[0]); ++mode)
    if (wcscmp(word, kKeywords[mode]) == 0) return mode;
  return kCmdNone;
}

bool CQuilmoCommandLineInfo::ModeExpectsValue(int mode) {
  switch (mode) {
    case kCmdLocalRestore:
    case kCmdRemoteRestore:
    case kCmdLocalBackup:
    case kCmdRemoteBackup:
    case kCmdEnableFileScheduling:
    case kCmdImageId:
    case kCmdSignature:
      return true;
    default:
      return false;
  }
}

void CQuilmoCommandLineInfo::ParseParam(const WCHAR* param, BOOL flag, BOOL last) {
  const WCHAR* word = param ? param : u"";
  CString text = CString(u"ParseParam:") + word;
  if (flag) text += u" bFlag = true";
  if (last) text += u" bLast = true";
  Log(0, text, kClass, __LINE__);

  int mode = KeywordMode(word);
  if (mode != kCmdNone)
    ApplyKeyword(mode);
  else
    ApplyValue(word);
}

void CQuilmoCommandLineInfo::ApplyKeyword(int mode) {
  AGlobal& g = GetGlobal();
  m_nMode = mode;
  m_bExpectsValue = ModeExpectsValue(mode);
  switch (mode) {
    case kCmdScheduledBackup:
      g.g_bUnattended = true;
      Log(0, u"Unattended Backup", kClass, __LINE__);
      break;
    case kCmdMerrowAutoBackup:
      g.g_bUnattended = true;
      g.g_bBatteryTriggered = true;
      Log(0, u"Merrow Autobackup", kClass, __LINE__);
      break;
    case kCmdLocalRestore:
    case kCmdRemoteRestore:
    case kCmdLocalBackup:
    case kCmdRemoteBackup: {
      const bool restore = mode == kCmdLocalRestore || mode == kCmdRemoteRestore;
      const bool remote = mode == kCmdRemoteRestore || mode == kCmdRemoteBackup;
      if (restore)
        g.g_bCommandLineRestore = true;
      else
        g.g_bCommandLineBackup = true;
      g.g_bRemote = remote;
      g.g_Operation.imagePath.Set(OperationDescriptor::kDefaultImagePath, false);
      // Host mode 1: the desktop host named in the remote options (the
      // dispatch switches to 2 for an image id).
      if (remote) g.g_Operation.hostMode = kHostModeLocal;
      break;
    }
    case kCmdEnableFileScheduling:
      if (m_pOwner) m_pOwner->m_bEnableFileScheduling = true;
      g.g_Operation.imagePath.Set(kScheduleFilePath, false);
      break;
    case kCmdDisableFileScheduling:
      if (m_pOwner) m_pOwner->m_bDisableFileScheduling = true;
      break;
    case kCmdStartScheduling:
      if (m_pOwner) m_pOwner->m_bStartScheduling = true;
      Log(0, u"START_SCHEDULING", kClass, __LINE__);
      break;
    default:  // ImageId, Signature: the value follows
      break;
  }
}

void CQuilmoCommandLineInfo::ApplyValue(const WCHAR* value) {
  AGlobal& g = GetGlobal();
  if (!m_bExpectsValue) {
    g.g_Operation.imagePath.Set(value, false);
    return;
  }
  switch (m_nMode) {
    case kCmdLocalRestore:
    case kCmdRemoteRestore:
    case kCmdLocalBackup:
    case kCmdRemoteBackup:
      g.g_Operation.imagePath.Set(value, false);
      break;
    case kCmdImageId:
      g.g_Operation.imageId = ReadDecimal(value);
      break;
    case kCmdSignature:
      if (m_pOwner) m_pOwner->m_csSignature = value;
      break;
    default:  // EnableFileScheduling: the schedule file stays
      break;
  }
}
