#include "engine/DatabaseVolumes.h"

#include <algorithm>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/notifyqueue.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "ce/time.h"
#include "core/DeviceServices.h"
#include "core/Log.h"
#include "core/Path.h"
#include "core/System.h"
#include "engine/CeDatabase.h"
#include "engine/Global.h"
#include "engine/GlobalComponents.h"
#include "engine/LeftoverCopies.h"
#include "engine/MailComponent.h"
#include "engine/RebootActions.h"
#include "engine/RegistryText.h"
#include "image/ImageEntryHeader.h"
#include "image/ImageFile.h"

using namespace DatabaseVolumeNames;

namespace {

constexpr WCHAR kClass[] = u"ADatabaseVolumes";

int VolumesNode(const Index& index) { return index.FindChildOfType(TREE_DBVOLUMES); }

CString CopyName(const CString& path) { return path + FileEntryFormat::kBootCopySuffix; }

bool NoCaseLess(const CString& a, const CString& b) {
  return ce::DeviceUpper(a.view()) < ce::DeviceUpper(b.view());
}

// The patch steps log without a class.
void PatchLog(DWORD code, const CString& text) { Log(code, text, nullptr, __LINE__); }

// Text of a property value; empty view when it holds none.
std::u16string_view TextOf(const CEPROPVAL& value) {
  if (TypeFromPropID(value.propid) != CEVT_LPWSTR || (value.wFlags & CEDB_PROPNOTFOUND) || !value.val.lpwstr)
    return {};
  return std::u16string_view(value.val.lpwstr);
}

// The mounted volume files, walked from the CEDB object store, then from
// the EDB one, each with a leading backslash; false when a walk failed.
bool MountedVolumeFiles(std::vector<CString>& out) {
  auto take = [&](const CEGUID& guid, const CString& name) {
    if (CeGuidEqual(guid, ZERO_CEGUID)) return CeDatabase::kContinue;
    CString path = WithLeadingBackslash(name);
    if (System::FileExists(path)) out.push_back(path);
    return CeDatabase::kContinue;
  };
  bool ok = true;
  for (bool edb : {false, true}) {
    if (!CeDatabase::EnumVolumesOf(edb, take)) {
      Log(GetLastError(), u"CeEnumDBVolumes failed", kClass, __LINE__);
      ok = false;
    }
  }
  return ok;
}

}  // namespace

bool IsPimVolume(const CString& name) { return ce::EqualNoCase(name.view(), kPimVolume); }

CString NotificationVolumePath() {
  CString name = ReadRegistryText(HKEY_LOCAL_MACHINE, ce::notifyqueue::kVolumeKey, ce::notifyqueue::kVolumeValue,
                                  kMaxValueBytes);
  return name.IsEmpty() ? CString(ce::notifyqueue::kDefaultVolume) : WithLeadingBackslash(name);
}

std::vector<CString> NamedVolumeFiles() {
  auto named = [](HKEY root, LPCWSTR key, LPCWSTR value, LPCWSTR fallback) {
    CString name = ReadRegistryText(root, key, value, kMaxValueBytes);
    return name.IsEmpty() ? CString(fallback) : WithLeadingBackslash(name);
  };
  return {CString(MailNames::kMailVolume),
          CString(kSystemVolume),
          CString(kPimVolume),
          named(HKEY_CURRENT_USER, kWindowsKey, kInitDbValue, kInitDbDefault),
          named(HKEY_CURRENT_USER, kWindowsKey, kLangDbValue, kLangDbDefault),
          NotificationVolumePath()};
}

// Volume files -----------------------------------------------------------------

bool BackupVolumeFile(const FileSystemContext& context, ITaskProgress* progress, AImageFile* image, int node) {
  Index& index = *context.index;
  const CString path(index.NodeName(node));
  const bool haveCopy = System::FileExists(CopyName(path));
  ADirectory directory(context, progress, image, DIRECTORY_ENTRY, TREE_DBVOLUME_FILE, true);
  if (!directory.BackupPotentiallyLockedFile(node)) {
    LogError(GetLastError(), CString(u"BackupPotentiallyLockedFile failed for ") + path, kClass, __LINE__);
    return false;
  }
  // A volume that could not be read at all was left out with its warning.
  if (!haveCopy && index.IsSelected(node))
    LogWarning(ERROR_FILE_NOT_FOUND, CString(u"No boot-time copy of ") + path + u", stored from the volume itself",
               kClass, __LINE__);
  return true;
}

bool RestoreVolumeFile(const FileSystemContext& context, ITaskProgress* progress, AImageFile* image, int node) {
  const CString path(context.index->NodeName(node));
  ADirectory directory(context, progress, image, DIRECTORY_ENTRY, TREE_DBVOLUME_FILE, true);
  directory.SetRequiredEntryName(CopyName(path));
  return directory.RestoreFile(node);
}

void QueueVolumeBootCopies(Index& index, int node, bool forRestore) {
  for (int c = index.FirstChild(node); c != -1; c = index.NextSibling(c)) {
    if (!index.IsSelected(c) || index.NodeType(c) != TREE_DBVOLUME_FILE) continue;
    const Index::Item& item = index.NodeInfo(c);
    const CString path(item.name);
    const CString copy = CopyName(path);
    if (!forRestore) {
      RebootActions::Instance().AddBackupCopy(path, copy, FileEntryFormat::kBootCopyAttributes);
      continue;
    }
    // Only a copy that the restore wrote may replace the volume.
    if (!System::FileExists(copy)) {
      LogWarning(ERROR_FILE_NOT_FOUND, CString(u"Restored volume missing, not replaced: ") + path, kClass, __LINE__);
      continue;
    }
    RebootActions::Instance().AddRestoreCopy(copy, path, item.attributes & ~FileEntryFormat::kRomAttributes);
  }
}

int DiscardVolumeBootCopies(Index& index) {
  std::vector<CString> volumes;
  if (index.NodeCount() == 0) return 0;
  for (int top = index.FirstChild(0); top != -1; top = index.NextSibling(top)) {
    if (!index.IsSelected(top)) continue;
    for (int c = index.FirstChild(top); c != -1; c = index.NextSibling(c))
      if (index.IsSelected(c) && index.NodeType(c) == TREE_DBVOLUME_FILE) volumes.emplace_back(index.NodeInfo(c).name);
  }
  return RemoveLeftoverBootCopies(volumes);
}

// ADatabaseVolumes -------------------------------------------------------------

ADatabaseVolumes::ADatabaseVolumes(const FileSystemContext& context, ITaskProgress* progress, AImageFile* imageFile)
    : m_Context(context), m_pProgress(progress), m_pImageFile(imageFile) {}

bool ADatabaseVolumes::Backup() {
  ClearCancel();
  Index& index = TheIndex();
  int top = VolumesNode(index);
  if (top == -1) return true;
  for (int n = index.NextInSubtree(top, top); n != -1 && !m_bCancel; n = index.NextInSubtree(top, n)) {
    const DWORD type = index.NodeType(n);
    if (type != TREE_DBVOLUME_FILE) {
      CString text;
      text.Format(u"Unexpected content type during database volume backup %u", type);
      LogError(0, text, kClass, __LINE__);
      return false;
    }
    if (!BackupVolumeFile(m_Context, m_pProgress, m_pImageFile, n)) return false;
  }
  return true;
}

bool ADatabaseVolumes::Restore() {
  Index& index = TheIndex();
  int top = VolumesNode(index);
  if (top == -1) return true;
  const CString notifyVolume = NotificationVolumePath();
  for (int n = index.NextInSubtree(top, top); n != -1; n = index.NextInSubtree(top, n)) {
    const Index::Item& item = index.NodeInfo(n);
    AImageFileHeader header;
    if (!ReadIndexedEntryHeader(*m_pImageFile, item, header, kClass)) return false;
    if (item.ComponentType != TREE_DBVOLUME_FILE) {
      CString text;
      text.Format(u"Unexpected header type during database volume restore %u", item.ComponentType);
      LogError(0, text, kClass, __LINE__);
      return false;
    }
    if (!RestoreVolumeFile(m_Context, m_pProgress, m_pImageFile, n)) return false;
    const CString path(item.name);
    if (IsPimVolume(path)) {
      Log(0, u"Patching sync keys", kClass, __LINE__);
      PatchingSyncKeys(CopyName(path));
    } else if (ce::EqualNoCase(path.view(), notifyVolume.view())) {
      Log(0, u"mxip_notify.vol restored now PatchREPLLOGTimeKeys()", kClass, __LINE__);
      PatchREPLLOGTimeKeys(CopyName(path));
    }
  }
  return true;
}

// Patches ----------------------------------------------------------------------

namespace {

// Mounts a volume file, existing only, for one patch and unmounts it again.
class PatchMount {
 public:
  PatchMount(const CString& path, bool edb) {
    CString name(path);
    mounted_ = edb ? CeMountDBVolEx(&guid_, name.GetBuffer(), nullptr, OPEN_EXISTING)
                   : CeMountDBVol(&guid_, name.GetBuffer(), OPEN_EXISTING);
  }
  ~PatchMount() {
    if (mounted_ && !CeUnmountDBVol(&guid_)) PatchLog(GetLastError(), u"Error unmounting volume after patching");
  }
  PatchMount(const PatchMount&) = delete;
  PatchMount& operator=(const PatchMount&) = delete;
  bool Mounted() const { return mounted_; }
  CEGUID& Guid() { return guid_; }

 private:
  CEGUID guid_{};
  bool mounted_ = false;
};

// The property with this id, or null.
CEPROPVAL* FindProp(CEPROPVAL* props, WORD count, CEPROPID id) {
  for (WORD i = 0; i < count; ++i)
    if (props[i].propid == id && !(props[i].wFlags & CEDB_PROPNOTFOUND)) return &props[i];
  return nullptr;
}

constexpr char16_t kZeroText[] = u"0";

int SyncKeysRecord(HANDLE database, CEOID oid, CEPROPVAL* props, WORD count, void*) {
  for (WORD i = 0; i < count; ++i) {
    if ((props[i].propid == kSyncCountProp || props[i].propid == kSyncCountHighProp) &&
        !(props[i].wFlags & CEDB_PROPNOTFOUND))
      props[i].val.lpwstr = const_cast<LPWSTR>(kZeroText);
  }
  bool keep = false;
  if (CEPROPVAL* name = FindProp(props, count, kSyncNameProp)) {
    std::u16string_view text = TextOf(*name);
    constexpr std::u16string_view prefix(kFolderSyncPrefix);
    keep = text.substr(0, prefix.size()) == prefix || text == std::u16string_view(kCollectionCounter);
  }
  if (!keep) return CeDatabase::kDeleteRecord;
  if (!CeWriteRecordProps(database, oid, count, props))
    PatchLog(GetLastError(), u"Failed to Write record props");
  return CeDatabase::kKeepRecord;
}

struct ReplLogPatch {
  FILETIME due{};
};

// The UTF-16 text at the offset the blob's header gives, up to its NUL;
// empty when the offset or the text lies outside the blob.
std::u16string_view ProgramNameOf(const CEBLOB& blob) {
  using namespace ce::notifyqueue;
  if (!blob.lpb || blob.dwCount < kHeaderSize) return {};
  DWORD offset = 0;
  std::copy_n(blob.lpb + kProgramOffsetAt, 4, reinterpret_cast<BYTE*>(&offset));
  if (offset < kHeaderSize || offset >= blob.dwCount || offset % 2 != 0) return {};
  const size_t chars = (blob.dwCount - offset) / 2;
  const char16_t* text = reinterpret_cast<const char16_t*>(blob.lpb + offset);
  size_t length = 0;
  while (length < chars && text[length] != 0) ++length;
  if (length == chars) return {};  // no NUL inside the blob
  return std::u16string_view(text, length);
}

int ReplLogRecord(HANDLE database, CEOID oid, CEPROPVAL* props, WORD count, void* user) {
  using namespace ce::notifyqueue;
  const FILETIME due = static_cast<ReplLogPatch*>(user)->due;
  bool found = false;
  for (WORD i = 0; i < count; ++i) {
    CEPROPVAL& value = props[i];
    if (value.wFlags & CEDB_PROPNOTFOUND) continue;
    if (value.propid == kNotifyTimeProp) {
      value.val.filetime = due;
    } else if (value.propid == kNotifyEntryProp) {
      CEBLOB& blob = value.val.blob;
      if (!ce::EqualNoCase(ProgramNameOf(blob), kReplLogProgram)) continue;
      std::copy_n(reinterpret_cast<const BYTE*>(&due.dwLowDateTime), 4, blob.lpb + kStartTimeAt);
      std::copy_n(reinterpret_cast<const BYTE*>(&due.dwHighDateTime), 4, blob.lpb + kStartTimeAt + 4);
      PatchLog(0, u"Found Repllog DB entry");
      found = true;
    }
  }
  if (found && !CeWriteRecordProps(database, oid, count, props))
    PatchLog(GetLastError(), u"Failed to Write record props");
  return CeDatabase::kKeepRecord;
}

}  // namespace

void ADatabaseVolumes::PatchingSyncKeys(const CString& volumeCopy) {
  PatchMount mount(volumeCopy, true);
  if (!mount.Mounted()) {
    PatchLog(GetLastError(), u"Error mounting volume");
    return;
  }
  if (!CeDatabase::DatabaseExists(&mount.Guid(), CString(kSyncStateDatabase))) return;
  PatchLog(0, u"Patching SyncStateKeys");
  if (!CeDatabase::EnumRecordsByName(&mount.Guid(), CString(kSyncStateDatabase), true, &SyncKeysRecord))
    PatchLog(GetLastError(), u"Unable to process SyncStateKeys database, PatchingSyncKeys()");
}

void ADatabaseVolumes::PatchREPLLOGTimeKeys(const CString& volumeCopy) {
  PatchMount mount(volumeCopy, false);
  if (!mount.Mounted()) {
    PatchLog(GetLastError(), u"Error mounting dst mxip_notify volume for attempt at patching");
    return;
  }
  if (!CeDatabase::DatabaseExists(&mount.Guid(), CString(ce::notifyqueue::kDatabaseName))) return;
  PatchLog(0, u"Patching DB_notify_queue");
  // Due a little after now: one more in the high word, about 429.5 s.
  SYSTEMTIME now{};
  GetLocalTime(&now);
  ReplLogPatch patch;
  if (!SystemTimeToFileTime(&now, &patch.due)) {
    PatchLog(GetLastError(), u"Unable to read the time for DB_notify_queue");
    return;
  }
  patch.due.dwHighDateTime += 1;
  if (!CeDatabase::EnumRecordsByName(&mount.Guid(), CString(ce::notifyqueue::kDatabaseName), false, &ReplLogRecord, &patch))
    PatchLog(GetLastError(), u"Unable to process SyncStateKeys database, PatchingSyncKeys()");
}

std::vector<CString> DeviceVolumeFiles(bool* walksOk) {
  std::vector<CString> names = NamedVolumeFiles();
  const bool ok = MountedVolumeFiles(names);
  if (walksOk) *walksOk = ok;
  std::stable_sort(names.begin(), names.end(), NoCaseLess);
  names.erase(std::unique(names.begin(), names.end(),
                          [](const CString& a, const CString& b) { return ce::EqualNoCase(a.view(), b.view()); }),
              names.end());
  return names;
}

// ADatabaseVolumesComponent ----------------------------------------------------

void ADatabaseVolumesComponent::PopulateChildren(Index& index, int node, bool selected) {
  if (index.IsPopulated(node)) return;
  if (index.NodeType(node) != TREE_DBVOLUMES) {
    index.SetPopulated(node);
    return;
  }
  std::vector<CString> names = DeviceVolumeFiles(&m_bLastWalksOk);
  names.erase(std::remove_if(names.begin(), names.end(), [](const CString& name) { return IsMailVolume(name); }),
              names.end());

  std::vector<Index::Item> items;
  for (const CString& name : names) {
    WIN32_FIND_DATAW found;
    if (!GetFindData(name, &found) || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      Log(GetLastError(), CString(u"Couldn't get file information for ") + name, kClass, __LINE__);
      continue;
    }
    items.push_back(ItemFromFindData(TREE_DBVOLUME_FILE, name, found, selected));
  }
  index.AddChildren(node, items);
}

ULONGLONG ADatabaseVolumesComponent::ImageSize(Index& index, int node) {
  if (index.NodeType(node) != TREE_DBVOLUME_FILE) return 0;
  const Index::Item& item = index.NodeInfo(node);
  // Stored under the copy's name: one character more.
  return item.fileSize + 2 * (item.name.size() + 1) + FileEntryFormat::kEstimateExtra;
}

bool AVolumeCopyOwner::AddBootCopiesForBackup(Index& index, int node) {
  index.PopulateChildren(node, index.IsSelected(node));
  QueueVolumeBootCopies(index, node, false);
  return true;
}

bool AVolumeCopyOwner::AddBootCopiesForRestore(Index& index, int node) {
  QueueVolumeBootCopies(index, node, true);
  return true;
}

bool ADatabaseVolumesComponent::IsVolumeFile(Index& index, const CString& path) {
  int top = VolumesNode(index);
  if (top == -1) return false;
  index.PopulateChildren(top, index.IsSelected(top));
  for (int c = index.FirstChild(top); c != -1; c = index.NextSibling(c))
    if (ce::EqualNoCase(index.NodeName(c), path.view())) return true;
  return false;
}

ADatabaseVolumesComponent& GetGlobalDatabaseVolumesComponent() {
  return GlobalIndexOwner<ADatabaseVolumesComponent>(IndexOwner::DatabaseVolumes);
}

void RegisterDatabaseVolumesComponent() {
  GetGlobalDatabaseVolumesComponent();
  SetFileSystemTaskComponent<ADatabaseVolumes>(TaskPart::DatabaseVolumes);
  SetDatabaseVolumeFlusher([] {
    if (!CeFlushDBVol(nullptr)) Log(GetLastError(), u"CeFlushDBVol failed", kClass, __LINE__);
  });
}
