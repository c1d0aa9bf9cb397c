// The imaging task: one backup, restore or metadata query of the current
// operation descriptor. AImagingTask holds what the run needs (descriptor
// values, image file, metadata, flags, times, failure kind);
// AImagingTaskClient drives the work: the backup road (estimates, free
// space and old images, closing programs, metadata, the components in their
// fixed order, index, END_OF_IMAGE and the read-back CRC check) and the
// restore road (image and metadata checks, password, components).
//
// Outside parts that are not part of this library plug in through small
// registrations: the security agent, the Corvane program, the desktop
// host's control messages and the components other than the file system
// (database volumes, databases, mail, registry). Without a registration the
// road logs that the part is not there and goes on (a host-mode task
// fails: no host can be reached).
//
// The process-wide state (options, index, compressor, flags, task report)
// is the global state object's (engine/Global.h). Log class "AImagingTask".
#pragma once

#include <functional>
#include <memory>

#include "ce/cstring.h"
#include "ce/types.h"
#include "core/DateTime.h"
#include "engine/Component.h"
#include "engine/Operation.h"
#include "image/ImageFile.h"
#include "image/Index.h"
#include "image/MetaData.h"

class ADirectory;

// The task's failure kind (also the error code of a host's
// operation-failed message).
enum TaskFailureKind : int {
  kFailGeneral = 0,       // component, metadata, index, END_OF_IMAGE, close, agent
  kFailCrcMismatch = 1,   // the read-back CRC of the new image differs
  kFailDiskFull = 2,      // not enough free space for the estimate
  kFailPathNotFound = 4,  // the image folder's volume is missing
  kFailHost = 5,          // the host cannot be reached or told
  kFailImageOpen = 6,     // the local image cannot be opened
  kFailCancelled = 7,     // the user cancelled
};

// Bits of the CheckMetaData difference word.
enum MetaDataDifference : DWORD {
  kDiffMinorVersion = 0x02,
  kDiffMajorVersion = 0x04,
  kDiffBuildNumber = 0x08,
  kDiffDeviceInfo = 0x10,
  kDiffAppMidHigher = 0x20,
  kDiffAppMajorHigher = 0x40,
  kDiffAppMidLower = 0x80,
};

// Outside parts -------------------------------------------------------------

// The device-security agent told of backup and restore start and end.
class ASecurityAgentIF {
 public:
  virtual ~ASecurityAgentIF() = default;
  // The agent's library is installed and loads.
  virtual bool LoadLibrary() = 0;
  virtual bool NotifyBackupStart() = 0;
  virtual bool NotifyBackupEnd() = 0;
  virtual bool NotifyRestoreStart() = 0;
  virtual bool NotifyRestoreEnd() = 0;
};
using SecurityAgentFactory = std::function<std::unique_ptr<ASecurityAgentIF>()>;
// Null: no agent (the road logs that it is not installed).
void SetSecurityAgentFactory(SecurityAgentFactory factory);

// The personal-data program that a restore stops and starts again.
class ACorvaneControl {
 public:
  virtual ~ACorvaneControl() = default;
  virtual bool IsInstalled() = 0;
  virtual bool IsRunning() = 0;
  virtual void RequestStop() = 0;
  virtual void Start() = 0;
};
// Null: none. The owner keeps it alive while registered.
void SetCorvaneControl(ACorvaneControl* control);

// The desktop host's control channel of a host-mode task.
class ATaskHostLink {
 public:
  virtual ~ATaskHostLink() = default;
  virtual bool IsConnected() = 0;
  // Connects to the default host (time-out in seconds, no retries).
  virtual bool Connect(DWORD timeoutSeconds) = 0;
  virtual bool SendOperationStart() = 0;
  virtual bool SendOperationComplete() = 0;
  virtual bool SendOperationFailed(int kind, const CString& text) = 0;
  virtual void CloseConnection() = 0;
};
// Null: none (a host-mode task fails with kind 5). Kept alive by the owner.
void SetTaskHostLink(ATaskHostLink* link);

// A component of the parts other than the file system. Created for its
// step and deleted after it; Cancel reaches it while it runs.
class ATaskComponent : public AComponent {
 public:
  virtual bool Backup() = 0;
  virtual bool Restore() = 0;
};
enum class TaskPart { DatabaseVolumes, Databases, Mail, Registry };
using TaskComponentFactory =
    std::function<std::unique_ptr<ATaskComponent>(AImageFile& image, ITaskProgress* progress)>;
// Null: the part is skipped with a log line.
void SetTaskComponentFactory(TaskPart part, TaskComponentFactory factory);

// The task ------------------------------------------------------------------

class AImagingTask {
 public:
  // Copies kind, image path, host mode and include flags; logs the task
  // description.
  AImagingTask(const OperationDescriptor& descriptor, ITaskProgress* progress);
  // Resets the global task state (AGlobal::ResetTask).
  virtual ~AImagingTask();
  AImagingTask(const AImagingTask&) = delete;
  AImagingTask& operator=(const AImagingTask&) = delete;

  virtual void Cancel() { m_bCancel = true; }
  virtual bool RunBackup() = 0;
  virtual bool RunRestore() = 0;
  virtual bool WriteMetaData() = 0;

  // 1 RunBackup, 2 RunRestore, 4 WriteMetaData; other kinds: false.
  bool Run();

  // The "bScheduledReset" value of the "Unattended" options; false when it
  // cannot be read.
  static bool IsScheduledReset();

  // The failure of the last run, for the progress window and the history.
  int GetFailureKind() const { return m_FailureKind; }
  // The image's metadata as the last check or run read it (not valid when
  // it could not be read).
  const AMetaData& GetImageMetaData() const { return m_MetaData; }

 protected:
  // A fresh image file for the operation (AImageFile::kBackup/kRestore)
  // and task mode (1 local, 2 host), named by the image path.
  void ResetImageFile(int operation, int taskMode);
  bool IsHostMode() const { return m_HostMode == kHostModeRemote; }

  int m_OperationKind;
  int m_HostMode;
  CString m_ImagePath;
  std::unique_ptr<AImageFile> m_pImageFile;
  AMetaData m_MetaData;
  bool m_bIncludeRegistry;
  bool m_bIncludeFileSystem;
  bool m_bIncludeDatabases;
  bool m_bIncludeMail;
  bool m_bHostNotified = false;
  bool m_bHostFailureReported = false;
  bool m_bTaskValid = true;
  bool m_bCancel = false;
  ADateTime m_StartTime;
  ADateTime m_EndTime;
  int m_FailureKind = kFailGeneral;
};

class AImagingTaskClient : public AImagingTask {
 public:
  AImagingTaskClient(const OperationDescriptor& descriptor, ITaskProgress* progress);
  // Clears the global task report.
  ~AImagingTaskClient() override;

  // The progress window, once it exists (the task is made before it).
  // Takes effect for the next run.
  void SetProgress(ITaskProgress* progress) { m_pProgress = progress; }
  // Sets the cancel flags of the task and of the running component.
  void Cancel() override;
  bool RunBackup() override;
  bool RunRestore() override;
  // Queries the device metadata and writes it as the image's only entry.
  bool WriteMetaData() override;

  // The image's metadata against the device and this program: 0 when it
  // fits, else MetaDataDifference bits (0 too when it cannot be read).
  DWORD CheckMetaData();

  // Cancel flag set: logs, closes the image (closeImage: the image holds
  // entries; an image open without them is closed too), removes a backup
  // image this run created and did not verify, reports kind 7 and returns
  // true.
  bool CheckCancel(bool closeImage);
  // Records the failure: tells the agent that the run ended, stores kind,
  // text and end time, tells the host once and closes its connection.
  void Fail(int kind, bool backup, const CString& text = CString());

  // crc32 of the first length stored bytes of the image, read plain in
  // 32 KB blocks, against expected.
  static bool CheckImageCRC(const CString& imageName, int hostMode, DWORD expected,
                            DWORD length);

  const CString& GetFailureText() const { return m_FailureText; }
  // The backup image was read back for its CRC.
  bool CrcChecked() const { return m_bCrcChecked; }

 private:
  struct Part;

  // Backup road, in order. Each phase that fails has reported the failure
  // (Fail) and removed an image the run created, unless cancelled.
  void StartBackup();
  ULONGLONG EstimateBackup();
  bool CheckFreeSpace(ULONGLONG estimate);
  bool KeyBackupCipher();
  bool OpenLocalBackupImage();
  // Logs a failure and goes on: the backup runs with programs open.
  void StopProgramsForBackup();
  bool OpenHostBackupImage();
  bool WriteBackupMetaData();
  bool BackupComponents();
  bool WriteBackupIndex(DWORD& indexBody);
  // crc and length: the running CRC and the byte count the tail records.
  bool WriteEndOfImage(DWORD indexBody, DWORD& crc, DWORD& length);
  bool CloseBackupImage(ULONGLONG estimate);
  bool ReadBackImage(DWORD crc, DWORD length);
  bool FinishBackup();
  // Closes and removes the unfinished image, then Fail; always false.
  bool FailBackup(int kind, const CString& text);

  // Restore road, in order (after the image's metadata, password and
  // whole-image checks).
  void PrepareRestoreImage();
  void StartRestore();
  bool OpenRestoreImage();
  ULONGLONG EstimateRestore();
  bool StopProgramsForRestore();
  // True when the Corvane program ran and was asked to stop.
  bool StopCorvane();
  bool RestoreComponents();
  bool CloseRestoreImage(DWORD restoredBefore, ULONGLONG estimate);
  // Queues what the next boot puts in place (hives, volumes, files in use).
  bool QueueBootActionsForRestore();
  bool FinishRestore();

  // Both roads: the host hears that the operation completed.
  bool CompleteHostOperation(bool backup);
  bool OpenHostConnection(bool backup);
  bool StartAgent(bool backup);
  bool EndAgent(bool backup);
  bool BackupPart(const Part& part);
  bool RunPart(const Part& part, bool backup);
  // The file system component on either road; false after the failure is
  // reported.
  bool RunFileSystem(bool backup);
  // Reports a component that failed: logs, closes the image, fails the task.
  void FailComponent(bool backup, LPCWSTR logText, LPCWSTR closeName, LPCWSTR failText);
  // Reports the backup location (or the image's folder) as missing.
  void FailLocationMissing(bool backup);
  // Reports a restore image that could not be opened or read.
  void FailImageNotOpened(bool locationMissing);
  // The selected size of every included part, each logged.
  ULONGLONG SelectedPartsSize(Index& index, LPCWSTR volumesLine);
  bool RestorePart(const Part& part);
  bool ReadImageMetaData();
  bool CheckPassword();
  bool VerifyImageBeforeRestore();
  // Closes the image after a failure; names the component when that fails.
  void CloseAfterFailure(LPCWSTR component);
  // Removes the backup image this run created and did not finish.
  void DiscardUnfinishedImage();
  void Status(DWORD stringId);
  void Update(bool force);
  DWORD BytesPosition() const;
  DWORD BytesCounter() const;
  void SetEstimates(ULONGLONG image, ULONGLONG total);

  ADirectory* m_pFileSystem = nullptr;
  ATaskComponent* m_pDatabaseVolumes = nullptr;
  ATaskComponent* m_pDatabases = nullptr;
  ATaskComponent* m_pMail = nullptr;
  ATaskComponent* m_pRegistry = nullptr;
  CString m_FailureText;
  bool m_bProgramsStopped = false;
  std::unique_ptr<ASecurityAgentIF> m_pAgent;
  ITaskProgress* m_pProgress;
  bool m_bCrcChecked = false;
  bool m_bImageCreated = false;   // this backup created the image file
  bool m_bImageComplete = false;  // END_OF_IMAGE was written
};
