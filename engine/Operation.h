// The operation descriptor (what the current backup, restore or metadata
// query is to do) and ITaskProgress, the interface through which the running
// task and its components report progress to the task progress window.
// Stored form of the descriptor: engine/OperationFormat.h.
#pragma once

#include <string>
#include <string_view>

#include "ce/cstring.h"
#include "ce/types.h"
#include "image/BackupLocation.h"

enum OperationKind : int {
  kOperationNotSet = 0,
  kOperationBackup = 1,
  kOperationRestore = 2,
  kOperationMetadata = 4,  // write or query the metadata only
};

enum HostMode : int {
  kHostModeNotSet = 0,
  kHostModeLocal = 1,   // local image
  kHostModeRemote = 2,  // image on the desktop host
};

// How the task progress window starts the task.
enum TaskStartMode : int {
  kStartWaitForUser = 1,
  kStartCountdown = 2,
  kStartAtOnce = 3,
};

// Plain data, read and written field by field; one per process in the
// global state. Texts are NUL-terminated.
struct OperationDescriptor {
  static constexpr int kHostNameChars = 128;    // NUL included
  static constexpr int kAnnotationChars = 256;  // NUL included
  static constexpr const WCHAR* kDefaultImagePath = u"\\temp\\Backup.pbf";

  // Start mode 1, kind not set, local, nothing included, image path
  // "\temp\Backup.pbf".
  OperationDescriptor();

  int taskStartMode = kStartWaitForUser;
  int operationKind = kOperationNotSet;
  int hostMode = kHostModeLocal;
  BYTE includeRegistry = 0;
  BYTE includeDatabases = 0;  // database volumes and databases
  BYTE includeFileSystem = 0;
  BYTE includeMail = 0;
  WORD metadataValue = 0;  // carried by the image metadata beside the flags
  int imageId = 0;         // 0 = none
  WCHAR hostName[kHostNameChars] = {};
  DWORD hostPort = 0;
  WCHAR annotation[kAnnotationChars] = {};
  ABackupFilePath imagePath;
  BYTE upgradeMode = 0;
  BYTE turnOffAfterPopup = 0;

  // Bounded setters: the text is cut to fit its field (127 and 255
  // characters).
  void SetHostName(std::u16string_view text);
  void SetAnnotation(std::u16string_view text);
  CString GetHostName() const { return CString(hostName); }
  CString GetAnnotation() const { return CString(annotation); }
};

// Appends the descriptor's stored form (opfmt::kStoredSize bytes,
// engine/OperationFormat.h) to out.
void StoreOperationDescriptor(const OperationDescriptor& descriptor, std::string* out);
// Reads the stored form at offset at of bytes; false (descriptor untouched)
// when fewer than opfmt::kStoredSize bytes are there. The image path is set
// part by part: folder, file name, extension, base name.
bool LoadOperationDescriptor(std::string_view bytes, size_t at, OperationDescriptor* descriptor);

// "Backup", "Restore", "Query Metadata" or "NOT SET".
CString OperationKindName(int kind);
// "Local", "Host" or "NOT SET".
CString HostModeName(int mode);
// "Task Details - Operation : <kind>; Mode : <mode>; Including : Registry
// FileSystem Databases EMail; Backup Filename : <path or NOT SET>" (each
// included part with a leading blank, after "Including :").
CString DescribeOperation(const OperationDescriptor& descriptor);

// What the task shares with the progress window.
struct TaskProgressRecord {
  static constexpr int kStatusTextMax = 260;  // characters kept

  DWORD bytesWritten = 0;                      // to the image so far
  WCHAR statusText[kStatusTextMax + 1] = {};  // always NUL-terminated
  DWORD estimatedImageSize = 0;
  DWORD estimatedTotal = 0;  // data to process
};

// Implemented by the task progress window. Slot 0 is the only point at which
// the running task gives the user interface its turn.
class ITaskProgress {
 public:
  explicit ITaskProgress(TaskProgressRecord* record = nullptr) : m_pRecord(record) {}
  virtual ~ITaskProgress() = default;

  // Redraws the progress and status text (without force at most once per
  // second) and lets the user interface handle its pending messages.
  virtual void UpdateProgress(bool force) = 0;
  // 1 while the component data is being processed, else 0.
  virtual BYTE GetFlag() const { return m_Flag; }
  virtual void SetFlag(BYTE value) { m_Flag = value; }
  virtual void SetValue(DWORD value) { m_Value = value; }
  virtual DWORD GetValue() const { return m_Value; }
  virtual void IncrementCount() { ++m_Count; }
  // The component in work: 1 file system, 2 database volumes and
  // databases, 3 mail, 4 registry.
  virtual void SetPhase(int phase) { m_Phase = phase; }

  int GetPhase() const { return m_Phase; }
  DWORD GetCount() const { return m_Count; }

  TaskProgressRecord* GetRecord() const { return m_pRecord; }
  // Copies at most 260 characters of the text into the record's status text
  // (nothing without a record).
  void SetStatusText(std::u16string_view text);
  // Adds to the record's bytes written (nothing without a record).
  void AddBytesWritten(DWORD bytes);

 protected:
  TaskProgressRecord* m_pRecord;
  BYTE m_Flag = 0;
  DWORD m_Count = 0;
  int m_Phase = 0;
  DWORD m_Value = 0;
};
