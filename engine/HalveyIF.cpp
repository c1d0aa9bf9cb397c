#include "engine/HalveyIF.h"

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/shell.h"
#include "core/Log.h"
#include "core/System.h"
#include "engine/BackupHistory.h"

namespace {

constexpr const WCHAR *kClass = u"AHalveyIF";

// Writes the message's characters, two bytes each, replacing the file.
bool WriteMessageFile(const CString &message) {
  HANDLE file = CreateFileW(AHalveyIF::kMessageFile, GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  const DWORD bytes = static_cast<DWORD>(message.GetLength()) * sizeof(WCHAR);
  DWORD written = 0;
  const bool ok = WriteFile(file, static_cast<LPCWSTR>(message), bytes,
                            &written, nullptr) &&
                  written == bytes;
  const bool closed = CloseHandle(file);
  return ok && closed;
}

} // namespace

AHalveyIF::AHalveyIF() {
  WCHAR startup[MAX_PATH + 1] = {};
  if (!SHGetSpecialFolderPath(nullptr, startup, CSIDL_STARTUP, FALSE))
    Log(GetLastError(), u"Unable to find the Startup folder", kClass, __LINE__);
  m_csShortcutPath = CString(startup) + kShortcutName;
}

AHalveyIF::~AHalveyIF() = default;

bool AHalveyIF::ShortcutExists() const {
  return System::FileExists(m_csShortcutPath);
}

bool AHalveyIF::DeleteShortcut() {
  return DeleteFileW(m_csShortcutPath) != FALSE;
}

CString AHalveyIF::HalveyCommandLine(const CString &historyFolder, bool restore,
                                     bool turnOff) {
  CString line = CString(u"\"") + kMessageFile + u"\" \"" + historyFolder +
                 ABackupHistoryHandler::kReportFileName + u"\"";
  if (restore)
    line += u" /restore";
  if (turnOff)
    line += u" /turnOff";
  return line;
}

bool AHalveyIF::Launch(const CString &message, bool restore, bool turnOff) {
  if (ShortcutExists() && !DeleteShortcut())
    Log(GetLastError(), u"Unable to delete the old popup shortcut", kClass,
        __LINE__);
  if (!WriteMessageFile(message))
    Log(GetLastError(), u"Unable to write the popup message file", kClass,
        __LINE__);
  const ABackupHistoryHandler history;
  const CString commandLine =
      HalveyCommandLine(history.Folder(), restore, turnOff);
  return System::CreateQuilmoStartupShortcut(m_csShortcutPath, kProgram,
                                             commandLine, false);
}
