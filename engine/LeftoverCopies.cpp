#include "engine/LeftoverCopies.h"

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "core/Log.h"
#include "core/Path.h"
#include "engine/DatabaseVolumes.h"
#include "engine/FileEntryFormat.h"
#include "engine/FileSystemComponent.h"
#include "engine/RebootActions.h"
#include "engine/RegistryText.h"
#include "formats/RebootActionsFormat.h"

namespace {

constexpr WCHAR kClass[] = u"LeftoverCopies";
constexpr DWORD kMaxPathBytes = 520;

// The copies that queued copy-back actions will put in place at the next
// boot: those written under the RebootActionsKey and this program's own.
std::vector<CString> PendingRestoreCopies() {
  std::vector<CString> pending;
  for (const RebootAction& action : RebootActions::Instance().CopyActions())
    if (action.kind == RebootAction::kRestoreCopy) pending.emplace_back(action.backupPath.c_str());
  for (DWORD i = 0;; ++i) {
    CString subkey;
    subkey.Format(u"%s\\%s%u", RebootActionsKey::kPath, RebootActionsKey::kCopyFilePrefix, i);
    HKEY key = nullptr;
    if (RegOpenKeyExW(RebootActionsKey::kRoot, subkey, 0, 0, &key) != ERROR_SUCCESS) break;
    DWORD operation = 0, size = sizeof operation;
    const bool restore = RegQueryValueExW(key, RebootActionsKey::kOperation, nullptr, nullptr,
                                          reinterpret_cast<BYTE*>(&operation), &size) == ERROR_SUCCESS &&
                         operation == RebootActionsKey::kOperationRestoreCopy;
    RegCloseKey(key);
    if (!restore) continue;
    CString backupPath = ReadRegistryText(RebootActionsKey::kRoot, subkey, RebootActionsKey::kBackupPath, kMaxPathBytes);
    if (!backupPath.IsEmpty()) pending.push_back(backupPath);
  }
  return pending;
}

}  // namespace

int RemoveLeftoverBootCopies(const std::vector<CString>& files) {
  const std::vector<CString> pending = PendingRestoreCopies();
  int removed = 0;
  for (const CString& file : files) {
    const CString copy = file + FileEntryFormat::kBootCopySuffix;
    const DWORD attributes = GetFileAttributesW(copy);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    if (PathInList(pending, copy)) continue;
    SetFileAttributesW(copy, FILE_ATTRIBUTE_NORMAL);  // a failure shows in the delete
    if (!DeleteFileW(copy)) {
      LogError(GetLastError(), CString(u"Couldn't remove the leftover boot copy ") + copy, kClass, __LINE__);
      continue;
    }
    Log(0, CString(u"Removed the leftover boot copy ") + copy, kClass, __LINE__);
    ++removed;
  }
  return removed;
}

int RemoveLeftoverBootCopies() {
  std::vector<CString> files = DeviceVolumeFiles();
  for (const CString& file : GetGlobalFileSystemComponent().GetPotentiallyLockedFiles()) files.push_back(file);
  return RemoveLeftoverBootCopies(files);
}
