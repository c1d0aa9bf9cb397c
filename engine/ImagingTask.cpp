#include "engine/ImagingTask.h"

#include <zlib.h>

#include <array>
#include <initializer_list>
#include <vector>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/time.h"
#include "core/DeviceServices.h"
#include "core/Localizer.h"
#include "core/Resources.h"
#include "core/Log.h"
#include "core/Path.h"
#include "core/RegistrySettings.h"
#include "core/System.h"
#include "engine/FileSystemComponent.h"
#include "engine/Global.h"
#include "image/BackupLocation.h"
#include "image/Cipher.h"
#include "image/ImageEntryHeader.h"
#include "image/Index.h"

namespace {

constexpr LPCWSTR kClass = u"AImagingTask";

#define TLOG(text) Log(0, (text), kClass, __LINE__)
#define TINFO(text) LogInfo(0, (text), kClass, __LINE__)
#define TWARN(code, text) LogWarning((code), (text), kClass, __LINE__)
#define TERROR(code, text) LogError((code), (text), kClass, __LINE__)

// Closes an image whose close cannot lose anything that counts: one that
// was only read, one that did not open, one being discarded.
void ReleaseImage(AImageFile& image) {
  if (!image.Close()) TLOG(u"Closing the image failed");
}

constexpr DWORD kCrcBlockSize = 32768;  // read-back CRC check blocks
constexpr DWORD kHostTimeoutSeconds = 60;
constexpr DWORD kLowSpaceBytes = 5u * 1024 * 1024;  // below: warn after a backup

// Every image entry other than the metadata and the tail is enciphered:
// the image cipher is always keyed (from the key table alone when no
// password protects the image).
constexpr bool kEncipherImage = true;

// String ids of the roads.
enum : DWORD {
  kStrLocationMissing = 130,
  kStrLowSpace = 145,
  kStrRestoreComplete = 57673,
  kStrWrongPassword = 57656,
  kStrRegistry = 57750,
  kStrClosingPrograms = 57751,
  kStrDatabaseVolumes = 57754,
  kStrImageNotOpened = 65075,
  kStrVerifying = 65109,
  kStrCheckingOldImages = 65198,
  kStrMail = 65201,
  kStrNetworkFolder = 65312,
  kStrNoSpace = 65315,
  kStrNoSpaceBuiltIn = 65325,
  kStrConnecting = 65371,
};

constexpr WCHAR kAgentStatus[] = u"Notifying Credant Mobile Guardian Shield";
constexpr WCHAR kCorruptImage[] = u"The backup file is corrupt";

SecurityAgentFactory& AgentFactory() {
  static SecurityAgentFactory factory;
  return factory;
}
ACorvaneControl* g_pCorvane = nullptr;
ATaskHostLink* g_pHostLink = nullptr;
std::array<TaskComponentFactory, 4>& ComponentFactories() {
  static std::array<TaskComponentFactory, 4> factories;
  return factories;
}

template <typename... Args>
CString Fmt(LPCWSTR format, const Args&... args) {
  CString text;
  text.Format(format, args...);
  return text;
}

int KB(ULONGLONG bytes) { return static_cast<int>(bytes / 1024); }
DWORD ClampDword(ULONGLONG value) { return value > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(value); }

// Puts the texts, in order, in place of the printf conversions of a
// resource text ("%s", "%u", "%5d", "%ls" ...); "%%" gives "%". A text
// that asks for more conversions than given gets empty ones: a resource
// text never reaches a real printf.
CString FormatTexts(const CString& format, std::initializer_list<CString> texts) {
  std::u16string_view f = format.view();
  std::u16string out;
  auto next = texts.begin();
  for (size_t i = 0; i < f.size(); ++i) {
    if (f[i] != u'%' || i + 1 >= f.size()) {
      out += f[i];
      continue;
    }
    if (f[i + 1] == u'%') {
      out += u'%';
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < f.size() && std::u16string_view(u"-+ #0123456789.lhwI").find(f[j]) != std::u16string_view::npos) ++j;
    if (j < f.size()) {
      if (next != texts.end()) out += (next++)->view();
      i = j;
    } else {
      out += f.substr(i);
      break;
    }
  }
  return CString(out);
}

DWORD PartIndex(TaskPart part) { return static_cast<DWORD>(part); }

AGlobal& G() { return GetGlobal(); }

}  // namespace

void SetSecurityAgentFactory(SecurityAgentFactory factory) { AgentFactory() = std::move(factory); }
void SetCorvaneControl(ACorvaneControl* control) { g_pCorvane = control; }
void SetTaskHostLink(ATaskHostLink* link) { g_pHostLink = link; }
void SetTaskComponentFactory(TaskPart part, TaskComponentFactory factory) {
  ComponentFactories()[PartIndex(part)] = std::move(factory);
}

// AImagingTask ---------------------------------------------------------------

AImagingTask::AImagingTask(const OperationDescriptor& descriptor, ITaskProgress*)
    : m_OperationKind(descriptor.operationKind),
      m_HostMode(descriptor.hostMode),
      m_ImagePath(descriptor.imagePath.GetFullPath()),
      m_bIncludeRegistry(descriptor.includeRegistry != 0),
      m_bIncludeFileSystem(descriptor.includeFileSystem != 0),
      m_bIncludeDatabases(descriptor.includeDatabases != 0),
      m_bIncludeMail(descriptor.includeMail != 0) {
  int operation = m_OperationKind == kOperationRestore ? AImageFile::kRestore : AImageFile::kBackup;
  ResetImageFile(operation, m_HostMode == kHostModeRemote ? AImageFile::kHost : AImageFile::kLocal);
  TINFO(DescribeOperation(descriptor));
}

AImagingTask::~AImagingTask() { G().ResetTask(); }

void AImagingTask::ResetImageFile(int operation, int taskMode) {
  m_pImageFile = std::make_unique<AImageFile>(operation, taskMode);
  if (!m_ImagePath.IsEmpty()) m_pImageFile->SetFileName(m_ImagePath);
  m_MetaData.SetImageFile(m_pImageFile.get());
}

bool AImagingTask::Run() {
  switch (m_OperationKind) {
    case kOperationBackup: return RunBackup();
    case kOperationRestore: return RunRestore();
    case kOperationMetadata: return WriteMetaData();
    default: return false;
  }
}

bool AImagingTask::IsScheduledReset() {
  ABackupRegistrySettings settings(kSettingsKeyKind, u"Unattended");
  bool reset = false;
  return settings.IsOpen() && settings.ReadBool(u"bScheduledReset", reset) && reset;
}

// AImagingTaskClient ---------------------------------------------------------

struct AImagingTaskClient::Part {
  TaskPart part;
  int phase;
  DWORD statusId;  // 0: none
  LPCWSTR before;
  LPCWSTR failed;
  LPCWSTR failText;
  LPCWSTR closeName;
  LPCWSTR after;
  ATaskComponent* AImagingTaskClient::*pointer;
};

AImagingTaskClient::AImagingTaskClient(const OperationDescriptor& descriptor, ITaskProgress* progress)
    : AImagingTask(descriptor, progress), m_pProgress(progress) {}

AImagingTaskClient::~AImagingTaskClient() { G().g_TaskReport.Clear(); }

void AImagingTaskClient::Cancel() {
  m_bCancel = true;
  if (m_pFileSystem) m_pFileSystem->Cancel();
  if (m_pDatabases) m_pDatabases->Cancel();
  if (m_pDatabaseVolumes) m_pDatabaseVolumes->Cancel();
  if (m_pRegistry) m_pRegistry->Cancel();
  if (m_pMail) m_pMail->Cancel();
}

void AImagingTaskClient::Status(DWORD stringId) {
  if (m_pProgress) m_pProgress->SetStatusText(Localizer::LoadResString(stringId).view());
}

void AImagingTaskClient::Update(bool force) {
  if (m_pProgress) m_pProgress->UpdateProgress(force);
}

DWORD AImagingTaskClient::BytesPosition() const {
  DWORD position = 0;
  m_pImageFile->GetBytesWritten(&position);
  return position;
}

DWORD AImagingTaskClient::BytesCounter() const {
  TaskProgressRecord* record = m_pProgress ? m_pProgress->GetRecord() : nullptr;
  return record ? record->bytesWritten : BytesPosition();
}

void AImagingTaskClient::SetEstimates(ULONGLONG image, ULONGLONG total) {
  TaskProgressRecord* record = m_pProgress ? m_pProgress->GetRecord() : nullptr;
  if (!record) return;
  record->estimatedImageSize = ClampDword(image);
  record->estimatedTotal = ClampDword(total);
}

void AImagingTaskClient::Fail(int kind, bool backup, const CString& text) {
  if (m_pAgent) {
    if (backup ? !m_pAgent->NotifyBackupEnd() : !m_pAgent->NotifyRestoreEnd())
      TERROR(GetLastError(), backup ? u"Failed notifing Credant of backup end"
                                    : u"Failed notifing Credant of restore end");
    m_pAgent.reset();
  }
  m_FailureKind = kind;
  m_EndTime = System::GetLocalTimeNow();
  m_FailureText = text;
  if (IsHostMode() && g_pHostLink && g_pHostLink->IsConnected()) {
    if (m_bHostNotified) {
      m_bHostNotified = false;
      if (!m_bHostFailureReported) {
        TLOG(u"Sending CM_OPERATIONFAILED to backup server");
        // The run has failed already; a notice the host misses changes
        // nothing here.
        if (!g_pHostLink->SendOperationFailed(kind, text)) TLOG(u"Failed sending CM_OPERATIONFAILED");
        m_bHostFailureReported = true;
      }
    }
    g_pHostLink->CloseConnection();
  }
}

void AImagingTaskClient::DiscardUnfinishedImage() {
  if (!m_bImageCreated || m_bImageComplete) return;
  if (m_pImageFile->IsOpen()) ReleaseImage(*m_pImageFile);
  m_bImageCreated = false;
  if (IsHostMode()) return;
  if (!DeleteFileW(m_ImagePath.GetString()) && GetLastError() != ERROR_FILE_NOT_FOUND)
    TERROR(GetLastError(), m_bCancel ? u"Error deleting backup file after cancel"
                                     : u"Error deleting unfinished backup file");
}

bool AImagingTaskClient::CheckCancel(bool closeImage) {
  if (!m_bCancel) return false;
  TLOG(u"Operation cancelled");
  // An open image is closed even when the caller did not ask for it: a
  // backup image must not stay behind half written, also when the cancel
  // comes before the first entry.
  if (m_pImageFile->IsOpen()) {
    if (!closeImage) TLOG(u"Closing the image opened by this run");
    if (!m_pImageFile->Close()) TERROR(GetLastError(), u"CheckCancel m_ImageFile.Close() failed");
  }
  bool backup = m_OperationKind == kOperationBackup;
  if (backup && !m_bCrcChecked) {
    m_bImageComplete = false;
    DiscardUnfinishedImage();
  }
  if (m_pProgress) {
    m_pProgress->SetFlag(0);
    m_pProgress->UpdateProgress(false);
  }
  Fail(kFailCancelled, backup);
  return true;
}

void AImagingTaskClient::CloseAfterFailure(LPCWSTR component) {
  if (m_pImageFile->IsOpen() && !m_pImageFile->Close() && component)
    TERROR(GetLastError(), CString(component) + u" failed and then m_ImageFile.Close() failed");
}

bool AImagingTaskClient::StartAgent(bool backup) {
  m_pAgent = AgentFactory() ? AgentFactory()() : nullptr;
  TLOG(u"Performing Credant Check");
  if (!m_pAgent || !m_pAgent->LoadLibrary()) {
    m_pAgent.reset();
    TLOG(u"Credant Mobile Guardian Shield not installed");
    return true;
  }
  TLOG(backup ? u"Stopping Credant Mobile Guardian Shield" : u"Signalling Credant Mobile Guardian Shield");
  if (m_pProgress) m_pProgress->SetStatusText(kAgentStatus);
  Update(false);
  if (backup ? m_pAgent->NotifyBackupStart() : m_pAgent->NotifyRestoreStart()) return true;
  LPCWSTR text = backup ? u"Failed notifing Credant of backup start" : u"Failed notifing Credant of restore start";
  TERROR(GetLastError(), text);
  Fail(kFailGeneral, backup, text);
  return false;
}

bool AImagingTaskClient::EndAgent(bool backup) {
  if (!m_pAgent) return true;
  bool ok = backup ? m_pAgent->NotifyBackupEnd() : m_pAgent->NotifyRestoreEnd();
  m_pAgent.reset();
  if (ok) return true;
  TERROR(GetLastError(), u"Failed to signal Credant restart");
  Fail(kFailGeneral, backup, u"Failed to signal Credant restart");
  return false;
}

bool AImagingTaskClient::OpenHostConnection(bool backup) {
  TLOG(u"Creating connection to backup server");
  if (!backup && g_pHostLink && g_pHostLink->IsConnected()) {
    TLOG(u"Connection already established to backup server");
  } else {
    Status(kStrConnecting);
    Update(true);
    if (!g_pHostLink || !g_pHostLink->Connect(kHostTimeoutSeconds)) {
      if (!backup) TERROR(0, u"Unable to connect to host Server");
      Fail(kFailHost, backup, u"Failed to connect to host");
      return false;
    }
  }
  TLOG(u"Sending CM_OPERATIONSTART to backup server");
  if (!g_pHostLink->SendOperationStart()) {
    TERROR(0, u"Failed sending backup control message START to server");
    m_bHostFailureReported = true;
    Fail(kFailHost, backup, u"Failed to connect to host");
    return false;
  }
  m_bHostNotified = true;
  return true;
}

// Backup road ----------------------------------------------------------------

bool AImagingTaskClient::CheckFreeSpace(ULONGLONG estimate) {
  AGlobal& g = G();
  APath image(m_ImagePath, false);
  CString folder = image.GetFolder(false);
  if (IsHostMode() || folder.CompareNoCase(CString(u"\\") + Localizer::LoadResString(kStrNetworkFolder)) == 0) {
    TLOG(u"Remote or network backup, not checking available space");
    return true;
  }
  TLOG(u"Checking available space");
  ULARGE_INTEGER freeToCaller{}, total{}, totalFree{};
  if (!GetDiskFreeSpaceExW(folder.GetString(), &freeToCaller, &total, &totalFree)) {
    DWORD error = GetLastError();
    TERROR(error, u"GetDiskFreeSpaceEx() failed");
    if (error == ERROR_PATH_NOT_FOUND) {
      TLOG(u"Path not found - storage card removed perhaps?");
      FailLocationMissing(true);
    } else {
      Fail(kFailGeneral, true, u"GetDiskFreeSpaceEx() failed");
    }
    return false;
  }
  ULONGLONG freeBytes = freeToCaller.QuadPart;
  WIN32_FIND_DATAW existing{};
  if (GetFindData(m_ImagePath, &existing) && !(existing.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    freeBytes += (static_cast<ULONGLONG>(existing.nFileSizeHigh) << 32) | existing.nFileSizeLow;
  TLOG(Fmt(u"Free             : %5d KB", KB(freeBytes)));
  if (g.g_bCompress) estimate = static_cast<ULONGLONG>(static_cast<double>(estimate) * 0.6);

  bool manage = g.g_BackupOptions.IsOptionOn(kOptionReclaimSpace);
  std::unique_ptr<AFileManagement> management;
  if (manage) {
    management = std::make_unique<AFileManagement>(g.g_BackupOptions.GetBlock(), m_ImagePath);
    Status(kStrCheckingOldImages);
    ULONGLONG reclaimable = 0;
    management->CalculateSpaceOccupied(estimate, true, &reclaimable);
    TLOG(Fmt(u"Space reclaimable : %5d KB", KB(reclaimable)));
    freeBytes += reclaimable;
  }
  TLOG(Fmt(u"Estimated backup file size : %5d KB", KB(estimate)));
  constexpr ULONGLONG k4GB = 0x100000000ull;
  if (freeBytes >= estimate || freeBytes >= k4GB) {
    if (manage) {
      TLOG(u"Reclaiming space");
      ULONGLONG removed = 0;
      management->RemoveOldBackupFiles(estimate, true, &removed);
      if (removed == 0) TLOG(u"No files needed to be deleted");
    }
    return true;
  }
  bool builtIn = System::IsOnBuiltInStorage(m_ImagePath) && !g.g_bUnattended && !g.g_bCommandLineBackup &&
                 !g.g_bAdvancedMode;
  CString text = FormatTexts(Localizer::LoadResString(builtIn ? kStrNoSpaceBuiltIn : kStrNoSpace),
                             {folder, Fmt(u"%u", static_cast<DWORD>(estimate / 1024)),
                              Fmt(u"%u", static_cast<DWORD>(freeBytes / 1024))});
  TWARN(0, text);
  Fail(kFailDiskFull, true, text);
  return false;
}

ULONGLONG AImagingTaskClient::SelectedPartsSize(Index& index, LPCWSTR volumesLine) {
  ULONGLONG total = 0;
  auto addPart = [&](DWORD type, LPCWSTR text) {
    int node = index.FindChildOfType(type);
    ULONGLONG size = node >= 0 ? index.SizeOfSelected(node) : 0;
    TLOG(Fmt(text, static_cast<int>(ClampDword(size))));
    total += size;
  };
  if (m_bIncludeFileSystem) addPart(TREE_FILESYSTEM, u"File System size : %5d");
  if (m_bIncludeDatabases) {
    addPart(TREE_DBVOLUMES, volumesLine);
    addPart(TREE_DATABASES, u"Databases size : %5d");
  }
  if (m_bIncludeMail) addPart(TREE_MAIL, u"Mail size : %5d");
  if (m_bIncludeRegistry) addPart(TREE_REGISTRY, u"Registry size : %5d");
  return total;
}

bool AImagingTaskClient::RunPart(const Part& part, bool backup) {
  TaskComponentFactory& factory = ComponentFactories()[PartIndex(part.part)];
  if (part.statusId) Status(part.statusId);
  if (backup && m_pProgress) m_pProgress->SetPhase(part.phase);
  TLOG(part.before);
  // The backup counts the image's write position, the restore the bytes read.
  auto counter = [&] { return backup ? BytesPosition() : BytesCounter(); };
  DWORD before = counter();
  if (!factory) {
    TLOG(CString(part.closeName) + u" component not available - skipped");
    return true;
  }
  std::unique_ptr<ATaskComponent> component = factory(*m_pImageFile, m_pProgress);
  bool ok = component && (this->*part.pointer = component.get(), backup ? component->Backup() : component->Restore());
  this->*part.pointer = nullptr;
  if (!ok) {
    FailComponent(backup, part.failed, part.closeName, backup ? part.failText : part.failed);
    return false;
  }
  TLOG(Fmt(part.after, static_cast<int>(counter() - before)));
  return true;
}

void AImagingTaskClient::FailLocationMissing(bool backup) {
  CString text = Localizer::LoadResString(kStrLocationMissing);
  TWARN(0, text);
  Fail(kFailPathNotFound, backup, text);
}

void AImagingTaskClient::FailImageNotOpened(bool locationMissing) {
  if (locationMissing)
    FailLocationMissing(false);
  else
    Fail(kFailGeneral, false, Localizer::LoadResString(kStrImageNotOpened));
}

void AImagingTaskClient::FailComponent(bool backup, LPCWSTR logText, LPCWSTR closeName, LPCWSTR failText) {
  TERROR(GetLastError(), logText);
  CloseAfterFailure(closeName);
  Fail(kFailGeneral, backup, failText);
}

bool AImagingTaskClient::RunFileSystem(bool backup) {
  // The backup counts the image's write position, the restore the bytes read.
  auto counter = [&] { return backup ? BytesPosition() : BytesCounter(); };
  DWORD before = counter();
  FileSystemContext context = MakeFileSystemContext(G());
  bool ok;
  {
    ADirectory topLevelDir(context, m_pProgress, m_pImageFile.get());
    m_pFileSystem = &topLevelDir;
    if (backup && m_bCancel) topLevelDir.Cancel();
    ok = backup ? topLevelDir.Backup() : topLevelDir.Restore();
    m_pFileSystem = nullptr;
  }
  if (!ok) {
    if (backup)
      FailComponent(true, u"TopLevelDir.Backup() failed ", u"File system", u"Failed backing up file system");
    else
      FailComponent(false, u"Restore of FileSystem failed", u"FileSystem", u"Restore of FileSystem failed");
    return false;
  }
  TLOG(Fmt(backup ? u"File system written - size : %d" : u"Filesystem restored - size : %d",
           static_cast<int>(counter() - before)));
  return true;
}

bool AImagingTaskClient::BackupPart(const Part& part) { return RunPart(part, true); }

bool AImagingTaskClient::BackupComponents() {
  if (m_bIncludeFileSystem) {
    if (m_pProgress) m_pProgress->SetPhase(1);
    TLOG(u"Writing file system");
    if (!RunFileSystem(true) || CheckCancel(true)) return false;
  }
  static const Part kParts[] = {
      {TaskPart::DatabaseVolumes, 2, kStrDatabaseVolumes, u"Writing database volumes",
       u"DatabaseVolumes.Backup() failed ", u"Failed backing up databases", u"Database volumes",
       u"Database volumes written - size : %d", &AImagingTaskClient::m_pDatabaseVolumes},
      {TaskPart::Databases, 2, 0, u"Writing databases", u"Database.Backup() failed ",
       u"Failed backing up databases", u"Databases", u"Databases written - size : %d",
       &AImagingTaskClient::m_pDatabases},
      {TaskPart::Mail, 3, kStrMail, u"Writing mail", u"Mail.Backup() failed ", u"Failed backing up mail",
       u"Mail", u"Mail written - size : %d", &AImagingTaskClient::m_pMail},
      {TaskPart::Registry, 4, kStrRegistry, u"Writing registry", u"Registry.Backup() failed ",
       u"Failed backing up registry", u"Registry", u"Registry written - size : %d",
       &AImagingTaskClient::m_pRegistry},
  };
  const bool included[] = {m_bIncludeDatabases, m_bIncludeDatabases, m_bIncludeMail, m_bIncludeRegistry};
  for (size_t i = 0; i < 4; ++i) {
    if (!included[i]) continue;
    if (!BackupPart(kParts[i])) return false;
    // Database volumes and databases run together: one check after both.
    if (kParts[i].part == TaskPart::DatabaseVolumes) continue;
    if (CheckCancel(true)) return false;
  }
  return true;
}

bool AImagingTaskClient::FailBackup(int kind, const CString& text) {
  CloseAfterFailure(nullptr);
  DiscardUnfinishedImage();
  Fail(kind, true, text);
  return false;
}

void AImagingTaskClient::StartBackup() {
  AGlobal& g = G();
  TLOG(u"Starting backup");
  m_bCrcChecked = false;
  m_bProgramsStopped = false;
  m_bImageCreated = false;
  m_bImageComplete = false;
  m_pAgent.reset();
  g.g_TaskReport.Clear();
  m_StartTime = m_EndTime = System::GetLocalTimeNow();
  ResetImageFile(AImageFile::kBackup, IsHostMode() ? AImageFile::kHost : AImageFile::kLocal);
  m_pImageFile->SetUserMessage(u"Backup");
  g.g_bCompress = g.g_BackupOptions.IsOptionOn(kOptionCompress);
}

ULONGLONG AImagingTaskClient::EstimateBackup() {
  Index& index = G().g_WorkingIndex;
  ULONGLONG estimate = AMetaData::kImageSize;
  DWORD indexSize = index.StoredSize();
  TLOG(Fmt(u"Index size : %5d", static_cast<int>(indexSize)));
  estimate += indexSize;
  estimate += SelectedPartsSize(index, u"Database volumes size : %5d");
  SetEstimates(estimate, estimate);
  return estimate;
}

bool AImagingTaskClient::KeyBackupCipher() {
  AGlobal& g = G();
  // The cipher follows the password that the metadata records.
  if (InitCipherKey(g.g_bEncrypt, g.g_bEncrypt ? g.g_csTaskPassword.GetString() : nullptr)) return true;
  TERROR(GetLastError(), u"InitCipherKey() failed");
  return FailBackup(kFailGeneral, u"InitCipherKey() failed");
}

bool AImagingTaskClient::OpenLocalBackupImage() {
  if (IsHostMode()) return true;
  if (!m_pImageFile->Open()) {
    TERROR(GetLastError(), u"m_ImageFile.Open() failed");
    CloseAfterFailure(nullptr);
    Fail(kFailImageOpen, true, u"m_ImageFile.Open() failed");
    return false;
  }
  m_bImageCreated = true;
  return !CheckCancel(false);
}

void AImagingTaskClient::StopProgramsForBackup() {
  if (!G().g_BackupOptions.IsOptionOn(kOptionClosePrograms)) return;
  TLOG(u"Stopping Processes");
  Status(kStrClosingPrograms);
  Update(true);
  if (KillProcesses(kKillKeepSystemAndConnection, m_pProgress)) {
    m_bProgramsStopped = true;
  } else {
    // The backup goes on: programs that stay open only risk files in use.
    TERROR(GetLastError(), u"KillProcesses() failed");
    TWARN(0, u"Failed to stop processes");
  }
  TLOG(u"Processes stopped");
}

bool AImagingTaskClient::OpenHostBackupImage() {
  if (CheckCancel(false)) return false;
  if (IsHostMode() && !OpenHostConnection(true)) return false;
  TLOG(u"Opening image file");
  if (IsHostMode()) {
    if (!m_pImageFile->Open()) {
      TERROR(GetLastError(), u"m_ImageFile.Open() failed");
      Fail(kFailHost, true, u"m_ImageFile.Open() failed");
      return false;
    }
    m_bImageCreated = true;
  }
  TLOG(u"Image file opened");
  m_pImageFile->SetProgress(m_pProgress);
  return true;
}

bool AImagingTaskClient::WriteBackupMetaData() {
  AGlobal& g = G();
  TLOG(u"Querying/writing metadata");
  MetaDataGlobals globals = g.GetMetaDataGlobals();
  globals.compress = g.g_bCompress;
  globals.encrypt = g.g_bEncrypt;
  globals.passwordCheck = 0;
  bool queried = m_MetaData.Query(globals);
  if (queried && g.g_bEncrypt) {
    // The check value the restore compares: of the password the cipher
    // was keyed with, in the form the image's version asks for.
    globals.passwordCheck = AMetaData::PasswordCheckValue(g.g_csTaskPassword, m_MetaData.HasExtendedVersion());
    queried = m_MetaData.Query(globals);
  }
  if (!queried) {
    TERROR(GetLastError(), u"m_MetaData.Query() failed ");
    return FailBackup(kFailGeneral, u"m_MetaData.Query() failed ");
  }
  if (!m_MetaData.Write()) {
    TERROR(GetLastError(), u"m_MetaData.Write() failed ");
    return FailBackup(kFailGeneral, u"m_MetaData.Write() failed ");
  }
  TLOG(u"Metadata written");
  if (m_pProgress) {
    m_pProgress->SetFlag(1);
    m_pProgress->SetValue(0);
    m_pProgress->AddBytesWritten(AMetaData::kImageSize);
  }
  return !CheckCancel(true);
}

bool AImagingTaskClient::WriteBackupIndex(DWORD& indexBody) {
  TLOG(u"Writing index");
  indexBody = 0;
  if (!G().g_WorkingIndex.Store(*m_pImageFile, kEncipherImage, &indexBody)) {
    TERROR(GetLastError(), u"Failed to write index");
    return FailBackup(kFailGeneral, u"Failed to store index to backup file");
  }
  if (m_pProgress) m_pProgress->AddBytesWritten(indexBody + ImageFormat::kHeaderSize);
  Update(false);
  TLOG(Fmt(u"Index written - size : %d", static_cast<int>(indexBody + ImageFormat::kHeaderSize)));
  return true;
}

bool AImagingTaskClient::WriteEndOfImage(DWORD indexBody, DWORD& crc, DWORD& length) {
  if (!m_pImageFile->FlushWriteBuffer()) {
    TERROR(GetLastError(), u"Backup - Write on End of Image failed");
    return FailBackup(kFailGeneral, u"Failed to write END_OF_IMAGE");
  }
  if (!m_pImageFile->IsCRCValid()) TWARN(0, u"There was a problem calculating the CRC for the image");
  if (m_pProgress) m_pProgress->SetFlag(0);
  crc = m_pImageFile->GetCRC();
  length = m_pImageFile->GetBytesHandedToWrite();
  TLOG(Fmt(u"CRC captured before END_OF_IMAGE header: %u len: %u", crc, length));
  AImageFileHeader tail(END_OF_IMAGE, indexBody, 0, 0, crc, 0);
  if (!tail.WritePlain(*m_pImageFile) || !m_pImageFile->FlushWriteBuffer()) {
    TERROR(GetLastError(), u"Backup - Write on End of Image failed");
    return FailBackup(kFailGeneral, u"Failed to write END_OF_IMAGE");
  }
  return true;
}

bool AImagingTaskClient::CloseBackupImage(ULONGLONG estimate) {
  DWORD written = BytesPosition();
  TLOG(Fmt(u"Backed up        : %5d", static_cast<int>(written)));
  TLOG(Fmt(u"Backup estimate  : %5d", static_cast<int>(ClampDword(estimate))));
  if (!m_pImageFile->Close()) {
    TERROR(GetLastError(), u"RunBackup m_ImageFile.Close() failed");
    return FailBackup(kFailGeneral, u"Failed to close image file");
  }
  m_bImageComplete = true;
  if (TaskProgressRecord* record = m_pProgress ? m_pProgress->GetRecord() : nullptr)
    record->estimatedTotal = record->bytesWritten;
  Update(true);
  return true;
}

bool AImagingTaskClient::ReadBackImage(DWORD crc, DWORD length) {
  TLOG(u"Checking CRC value");
  if (!IsHostMode() && m_pImageFile->IsCRCValid()) {
    m_bCrcChecked = true;
    Status(kStrVerifying);
    Update(true);
    if (!CheckImageCRC(m_ImagePath, m_HostMode, crc, length)) {
      TERROR(0, kCorruptImage);
      Fail(kFailCrcMismatch, true, kCorruptImage);
      return false;
    }
  }
  TLOG(u"CRC checked out");
  return true;
}

bool AImagingTaskClient::CompleteHostOperation(bool backup) {
  if (!IsHostMode() || !g_pHostLink) return true;
  m_bHostNotified = false;
  TLOG(u"Sending CM_OPERATIONCOMPLETE to backup server");
  if (!g_pHostLink->SendOperationComplete()) {
    TERROR(0, u"Failed sending backup control message CM_OPERATIONCOMPLETE to server");
    m_bHostFailureReported = true;
    Fail(kFailHost, backup,
         backup ? u"Failed to send CM_OPERATIONCOMPLETE" : u"Failed to send CM_OPERATIONCOMPLETE to server");
    return false;
  }
  g_pHostLink->CloseConnection();
  return true;
}

bool AImagingTaskClient::FinishBackup() {
  if (!EndAgent(true)) return false;
  TLOG(u"credent done");
  if (!CompleteHostOperation(true)) return false;
  TLOG(u"Backup created");
  if (!IsHostMode()) {
    ULARGE_INTEGER freeToCaller{}, total{}, totalFree{};
    APath image(m_ImagePath, false);
    if (!GetDiskFreeSpaceExW(image.GetFolder(false).GetString(), &freeToCaller, &total, &totalFree))
      TLOG(u"Failed to check available space ");
    else if (freeToCaller.QuadPart < kLowSpaceBytes)
      TWARN(0, Localizer::LoadResString(kStrLowSpace));
  }
  m_EndTime = System::GetLocalTimeNow();
  Update(true);
  return true;
}

bool AImagingTaskClient::RunBackup() {
  StartBackup();
  const ULONGLONG estimate = EstimateBackup();
  if (!CheckFreeSpace(estimate) || !KeyBackupCipher() || !OpenLocalBackupImage()) return false;
  if (!StartAgent(true)) {
    CloseAfterFailure(nullptr);
    DiscardUnfinishedImage();
    return false;
  }
  StopProgramsForBackup();
  if (!OpenHostBackupImage() || !WriteBackupMetaData()) return false;
  if (!BackupComponents()) {
    // A cancelled run has removed its image already.
    if (m_FailureKind != kFailCancelled) DiscardUnfinishedImage();
    return false;
  }
  DWORD indexBody = 0, crc = 0, length = 0;
  return WriteBackupIndex(indexBody) && WriteEndOfImage(indexBody, crc, length) && CloseBackupImage(estimate) &&
         ReadBackImage(crc, length) && FinishBackup();
}

bool AImagingTaskClient::CheckImageCRC(const CString& imageName, int hostMode, DWORD expected,
                                       DWORD length) {
  AImageFile image(AImageFile::kRestore, hostMode == kHostModeRemote ? AImageFile::kHost : AImageFile::kLocal);
  image.SetFileName(imageName);
  if (!image.Open()) {
    TERROR(GetLastError(), u"CRC Check failed to open file");
    ReleaseImage(image);
    return false;
  }
  std::vector<BYTE> block(kCrcBlockSize);
  uLong crc = crc32(0, Z_NULL, 0);
  DWORD left = length;
  bool ok = true;
  while (left > 0) {
    DWORD n = left < kCrcBlockSize ? left : kCrcBlockSize;
    if (n > image.BytesLeft() || !image.Read(block.data(), n, false, false)) {
      TERROR(GetLastError(), u"Failed reading image file to perform CRC check");
      ok = false;
      break;
    }
    crc = crc32(crc, block.data(), n);
    left -= n;
  }
  ReleaseImage(image);
  if (!ok) return false;
  TLOG(Fmt(u"CRC of %d bytes result: %u expected: %u", static_cast<int>(length), static_cast<DWORD>(crc), expected));
  if (crc == expected) return true;
  TERROR(0, u"CRC do not match");
  return false;
}

bool AImagingTaskClient::WriteMetaData() {
  AGlobal& g = G();
  bool opened = false;
  if (!m_pImageFile->IsOpen()) {
    ResetImageFile(AImageFile::kBackup, IsHostMode() ? AImageFile::kHost : AImageFile::kLocal);
    if (!m_pImageFile->Open()) {
      TERROR(GetLastError(), u"m_ImageFile.Open() failed");
      return false;
    }
    opened = true;
  }
  bool ok = m_MetaData.Query(g.GetMetaDataGlobals());
  if (!ok) TERROR(GetLastError(), u"m_MetaData.Query() failed ");
  if (ok && !(ok = m_MetaData.Write())) TERROR(GetLastError(), u"m_MetaData.Write() failed ");
  if (opened && !m_pImageFile->Close()) ok = false;
  return ok;
}

// Restore road ---------------------------------------------------------------

bool AImagingTaskClient::ReadImageMetaData() {
  AGlobal& g = G();
  if (!m_pImageFile->Open()) {
    DWORD error = GetLastError();
    TERROR(error, u"Metadata Imagefile open failed");
    ReleaseImage(*m_pImageFile);
    m_bTaskValid = false;
    FailImageNotOpened(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND);
    return false;
  }
  TLOG(u"Reading metadata from PBF archive");
  MetaDataGlobals globals = g.GetMetaDataGlobals();
  bool ok = m_MetaData.Read(false, &globals);
  if (!ok) TERROR(GetLastError(), u"Metadata read failed in AImagingTaskClient constuctor");
  if (!m_pImageFile->Close()) TERROR(GetLastError(), u"Metadata Imagefile close failed");
  if (!ok) {
    m_bTaskValid = false;
    FailImageNotOpened(false);
    return false;
  }
  g.ApplyMetaDataGlobals(globals);
  return true;
}

bool AImagingTaskClient::CheckPassword() {
  AGlobal& g = G();
  const bool encrypted = m_MetaData.IsEncrypted();
  auto refuse = [&] {
    TERROR(0, u"The password does not match the backup file");
    CString text;
    if (!LookupResString(kStrWrongPassword, text)) text = u"The password does not match the backup file";
    Fail(kFailGeneral, false, text);
    return false;
  };
  DWORD check = 0;
  if (encrypted) {
    check = AMetaData::PasswordCheckValue(g.g_csTaskPassword, m_MetaData.HasExtendedVersion());
    if (check != m_MetaData.GetPasswordCheck()) return refuse();
  }
  if (!InitCipherKey(encrypted, encrypted ? g.g_csTaskPassword.GetString() : nullptr)) {
    TERROR(GetLastError(), u"InitCipherKey() failed");
    Fail(kFailGeneral, false, u"InitCipherKey() failed");
    return false;
  }
  g.g_bEncrypt = encrypted;
  g.g_dwPasswordCheck = check;
  // The check value of an early image covers only half of the password's
  // bytes: the key must also decipher the entry after the metadata.
  AImageFile image(AImageFile::kRestore, IsHostMode() ? AImageFile::kHost : AImageFile::kLocal);
  image.SetFileName(m_ImagePath);
  AImageFileHeader first;
  bool opened = image.Open();
  bool deciphers = opened && image.GetFileSize() >= AMetaData::kImageSize + 2 * ImageFormat::kHeaderSize &&
                   image.SetFilePointer(static_cast<LONG>(AMetaData::kImageSize), FILE_BEGIN) &&
                   first.ReadDeciphered(image);
  ReleaseImage(image);
  if (deciphers) return true;
  if (encrypted && opened) return refuse();
  TERROR(0, kCorruptImage);
  Fail(kFailGeneral, false, kCorruptImage);
  return false;
}

bool AImagingTaskClient::VerifyImageBeforeRestore() {
  // The tail's CRC covers every byte before it: a damaged or cut image is
  // refused before the device is touched, on the host as locally.
  AImageFile image(AImageFile::kRestore, IsHostMode() ? AImageFile::kHost : AImageFile::kLocal);
  image.SetFileName(m_ImagePath);
  AImageFileHeader tail;
  bool ok = image.Open() && image.GetFileSize() >= ImageFormat::kMinimumImageSize &&
            image.SetFilePointer(-static_cast<LONG>(ImageFormat::kHeaderSize), FILE_END) &&
            tail.ReadPlain(image) && tail.ComponentType() == END_OF_IMAGE;
  DWORD length = image.GetFileSize() - ImageFormat::kHeaderSize;
  ReleaseImage(image);
  if (ok) ok = CheckImageCRC(m_ImagePath, m_HostMode, tail.CRCSum(), length);
  if (ok) return true;
  TERROR(0, kCorruptImage);
  Fail(kFailGeneral, false, kCorruptImage);
  return false;
}

bool AImagingTaskClient::RestorePart(const Part& part) { return RunPart(part, false); }

bool AImagingTaskClient::RestoreComponents() {
  if (m_bIncludeFileSystem) {
    TLOG(u"Restoring FileSystem");
    if (!RunFileSystem(false)) return false;
  }
  if (m_pProgress) m_pProgress->SetPhase(2);
  static const Part kParts[] = {
      {TaskPart::DatabaseVolumes, 2, 0, u"Restoring Database Volumes", u"Restore of database volumes failed",
       nullptr, u"Database volumes", u"Database volumes restored - size : %d",
       &AImagingTaskClient::m_pDatabaseVolumes},
      {TaskPart::Databases, 2, 0, u"Restoring Databases", u"Restore of databases failed", nullptr,
       u"Databases", u"Databases restored - size : %d", &AImagingTaskClient::m_pDatabases},
      {TaskPart::Mail, 3, kStrMail, u"Restoring Mail", u"Mail failed", nullptr, u"Mail",
       u"Mail restored - size : %d", &AImagingTaskClient::m_pMail},
      {TaskPart::Registry, 4, kStrRegistry, u"Restoring Registry", u"Registry failed", nullptr, u"Registry",
       u"Registry restored - size : %d", &AImagingTaskClient::m_pRegistry},
  };
  if (m_bIncludeDatabases && (!RestorePart(kParts[0]) || !RestorePart(kParts[1]))) return false;
  if (m_pProgress) m_pProgress->SetPhase(3);
  if (m_bIncludeMail && !RestorePart(kParts[2])) return false;
  if (m_bIncludeRegistry && !RestorePart(kParts[3])) return false;
  return true;
}

void AImagingTaskClient::PrepareRestoreImage() {
  if (G().g_bRemote) m_HostMode = kHostModeRemote;
  ResetImageFile(AImageFile::kRestore, IsHostMode() ? AImageFile::kHost : AImageFile::kLocal);
  m_pAgent.reset();
}

void AImagingTaskClient::StartRestore() {
  G().g_TaskReport.Clear();
  m_StartTime = m_EndTime = System::GetLocalTimeNow();
}

bool AImagingTaskClient::OpenRestoreImage() {
  if (!m_pImageFile->Open()) {
    DWORD error = GetLastError();
    TERROR(error, u"m_ImageFile.Open() failed");
    CloseAfterFailure(nullptr);
    FailImageNotOpened(error == ERROR_FILE_NOT_FOUND);
    return false;
  }
  m_pImageFile->SetProgress(m_pProgress);
  return true;
}

ULONGLONG AImagingTaskClient::EstimateRestore() {
  AGlobal& g = G();
  // Only the parts that the image holds.
  const OperationDescriptor& d = g.g_Operation;
  m_bIncludeRegistry = d.includeRegistry && m_MetaData.IncludesRegistry();
  m_bIncludeDatabases = d.includeDatabases && m_MetaData.IncludesDatabases();
  m_bIncludeFileSystem = d.includeFileSystem && m_MetaData.IncludesFileSystem();
  m_bIncludeMail = d.includeMail && m_MetaData.IncludesMail();
  ULONGLONG estimate = AMetaData::kImageSize;
  estimate += SelectedPartsSize(g.g_WorkingIndex, u"Database Volumes size : %5d");
  TLOG(Fmt(u"Data Estimate : %d", static_cast<int>(ClampDword(estimate))));
  SetEstimates(estimate, estimate);
  return estimate;
}

bool AImagingTaskClient::StopProgramsForRestore() {
  if (!G().g_RestoreOptions.GetRestoreKillFlag()) {
    TLOG(u"Global.g_RestoreOptionHandler.GetRestoreKillFlag() = false");
    return true;
  }
  Status(kStrClosingPrograms);
  Update(true);
  if (!KillProcesses(kKillKeepSystemAndConnection, m_pProgress)) {
    TERROR(GetLastError(), u"KillProcesses() failed");
    CloseAfterFailure(nullptr);
    Fail(kFailGeneral, false, u"KillProcesses() failed");
    return false;
  }
  m_bProgramsStopped = true;
  return true;
}

bool AImagingTaskClient::StopCorvane() {
  bool running = g_pCorvane && g_pCorvane->IsInstalled() && g_pCorvane->IsRunning();
  if (running) {
    g_pCorvane->RequestStop();
    TLOG(u"Waiting for Corvane to stop");
    for (int i = 0; i < 10000 && g_pCorvane->IsRunning(); ++i) Sleep(100);
  }
  TLOG(u"Corvane shut down OK");
  return running;
}

bool AImagingTaskClient::CloseRestoreImage(DWORD restoredBefore, ULONGLONG estimate) {
  if (m_pProgress) m_pProgress->SetFlag(0);
  TLOG(Fmt(u"Total restored : %d", static_cast<int>(BytesCounter() - restoredBefore)));
  TLOG(Fmt(u"Estimate : %d", static_cast<int>(ClampDword(estimate))));
  if (m_pImageFile->Close()) return true;
  TERROR(GetLastError(), u"m_ImageFile.Close() failed");
  Fail(kFailGeneral, false, u"m_ImageFile.Close() failed");
  return false;
}

bool AImagingTaskClient::QueueBootActionsForRestore() {
  // The restored hives, volumes and files in use are only restored copies
  // until the next boot puts them in place.
  if (G().g_WorkingIndex.AddBootCopiesForRestore()) return true;
  TERROR(GetLastError(), u"Boot-time actions of the restore could not be queued");
  Fail(kFailGeneral, false, u"Boot-time actions of the restore could not be queued");
  return false;
}

bool AImagingTaskClient::FinishRestore() {
  if (!EndAgent(false)) return false;
  Status(kStrRestoreComplete);
  m_EndTime = System::GetLocalTimeNow();
  Update(false);
  return true;
}

bool AImagingTaskClient::RunRestore() {
  // A task whose image could not be read refuses to run.
  if (!m_bTaskValid) {
    FailImageNotOpened(false);
    return false;
  }
  PrepareRestoreImage();
  if (IsHostMode() && !OpenHostConnection(false)) return false;
  // The metadata, the password and the whole image are checked before
  // anything on the device changes.
  if (!ReadImageMetaData() || !CheckPassword() || !VerifyImageBeforeRestore()) return false;
  StartRestore();
  if (!StartAgent(false) || !OpenRestoreImage()) return false;
  const ULONGLONG estimate = EstimateRestore();
  if (!StopProgramsForRestore()) return false;
  const bool corvaneStopped = StopCorvane();
  if (m_pProgress) {
    m_pProgress->SetFlag(1);
    m_pProgress->SetPhase(1);
    m_pProgress->SetValue(0);
  }
  const DWORD restoredBefore = BytesCounter();
  bool ok = RestoreComponents() && CloseRestoreImage(restoredBefore, estimate) && CompleteHostOperation(false);
  // Started again also after a failure: this run stopped it.
  if (corvaneStopped) g_pCorvane->Start();
  return ok && QueueBootActionsForRestore() && FinishRestore();
}

DWORD AImagingTaskClient::CheckMetaData() {
  AGlobal& g = G();
  TLOG(u"Checking backup file metadata");
  if (m_OperationKind == kOperationBackup) {
    TERROR(0, u"Can't read metadata for BACKUP");
    return 0;
  }
  ResetImageFile(AImageFile::kRestore, IsHostMode() ? AImageFile::kHost : AImageFile::kLocal);
  if (!m_pImageFile->Open()) {
    TERROR(GetLastError(), u"Metadata Imagefile open failed");
    ReleaseImage(*m_pImageFile);
    return 0;
  }
  bool read = m_MetaData.Read();
  if (!read) TERROR(GetLastError(), u"Metadata read failed");
  bool closed = m_pImageFile->Close();
  if (!closed) TERROR(GetLastError(), u"Metadata Imagefile close failed");
  if (!read || !closed) return 0;
  g.SetIncludedPartsFromMetaData(m_MetaData);

  AMetaData device;
  if (!device.Query(g.GetMetaDataGlobals())) {
    TERROR(GetLastError(), u"Error querying meta data ");
    return 0;
  }
  DWORD word = 0;
  CString lines;
  auto add = [&](DWORD bit, const CString& text) {
    word |= bit;
    if (!lines.IsEmpty()) lines += u"\n";
    lines += text;
  };
  const OSVERSIONINFOW& dv = device.GetOsVersion();
  const OSVERSIONINFOW& iv = m_MetaData.GetOsVersion();
  if (device.GetOemInfo() != m_MetaData.GetOemInfo())
    add(kDiffDeviceInfo, u"Device Info Mismatch, Device Info: " + device.GetOemInfo() +
                             u", Backup Info: " + m_MetaData.GetOemInfo());
  if (dv.dwMajorVersion != iv.dwMajorVersion)
    add(kDiffMajorVersion,
        Fmt(u"Major Version mismatch: %u", dv.dwMajorVersion) + Fmt(u"Backup File: %u", iv.dwMajorVersion));
  if (dv.dwMinorVersion != iv.dwMinorVersion)
    add(kDiffMinorVersion,
        Fmt(u"Minor Version mismatch: %u", dv.dwMinorVersion) + Fmt(u"Backup File: %u", iv.dwMinorVersion));
  if (dv.dwBuildNumber != iv.dwBuildNumber)
    add(kDiffBuildNumber,
        Fmt(u"Build Number mismatch: %u", dv.dwBuildNumber) + Fmt(u"Backup File: %u", iv.dwBuildNumber));
  const MetaDataBlock& ib = m_MetaData.Block();
  if (ib.appVersion1 > g.g_wVersionMajor)
    add(kDiffAppMajorHigher, Fmt(u"Backup Application Major Version mismatch: %u", DWORD{g.g_wVersionMajor}) +
                                 Fmt(u" Backup File: %u", DWORD{ib.appVersion1}));
  if (ib.appVersion1 == g.g_wVersionMajor && ib.appVersion2 != g.g_wVersionMid)
    add(ib.appVersion2 > g.g_wVersionMid ? kDiffAppMidHigher : kDiffAppMidLower,
        Fmt(u"Backup Application Mid Version mismatch: %u", DWORD{g.g_wVersionMid}) +
            Fmt(u"Backup File: %u", DWORD{ib.appVersion2}));
  if (word) {
    TLOG(u"CheckMetaData found differences :");
    TLOG(lines);
  }
  return word;
}
