// The database component: the device's property databases database by
// database. Its part of the content index is the databases node (type 31)
// with one group (29) per database volume it covers and one node (30) per
// database of the group; a node's user data is its interface (1 EDB, 0
// CEDB). A backup writes, per selected database, a database entry and one
// record entry per record (engine/DatabaseEntryFormat.h), the records from
// the last to the first; a restore reads them back, puts the database's
// volume in place, recreates the database and appends the records.
//
// Groups: "\Documents and Settings\default.vol" (the CEDB object store;
// no such file) and every mounted volume with a file, CEDB ones then EDB
// ones, each list sorted by name, leaving out the mail volume, the
// volumes the database volumes component stores as files (the children of
// the database volumes node) and "\ReplStorVol".
//
// Log lines carry the class "ADatabase".
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "ce/cstring.h"
#include "ce/database.h"
#include "ce/types.h"
#include "engine/CeDatabase.h"
#include "engine/DatabaseEntryFormat.h"
#include "engine/ImagingTask.h"
#include "image/ImageEntryHeader.h"
#include "image/Index.h"

class AImageFile;
class ITaskProgress;

// The group of the CEDB object store.
inline constexpr char16_t kObjectStoreGroup[] = u"\\Documents and Settings\\default.vol";
// Node user data: the interface of a group or database.
inline constexpr DWORD kDatabaseUserDataCedb = 0;
inline constexpr DWORD kDatabaseUserDataEdb = 1;

class ADatabase : public ATaskComponent {
 public:
  enum RestoreMode {
    kDeleteDatabase = 1,  // the component's restore: the database goes first
    kDeleteRecords = 2,   // only its records go
  };

  ADatabase(Index& index, ITaskProgress* progress, AImageFile* imageFile);
  // Closes the database being filled and releases the volume mounted for it.
  ~ADatabase() override;
  ADatabase(const ADatabase&) = delete;
  ADatabase& operator=(const ADatabase&) = delete;

  // Backup ----------------------------------------------------------------
  // Every selected database below the databases node. A database that is
  // gone is a warning; one that fails part-way is a warning and the backup
  // goes on (its entries so far are whole); a failed image write, or a node
  // of another type, fails the backup. A cancel stops it with true. A node
  // whose database left no entry in the image is deselected.
  bool Backup() override;
  // The database entry, then every record the selector accepts, last first.
  // The handle stays open.
  bool BackupDatabase(int node, HANDLE database, const DatabaseInfoRecord& info, CeDatabaseCompareBase& selector);
  // The header, information and volume name of the database entry; records
  // the entry's position and crc in the node. An EDB body's run goes on
  // into its definitions.
  bool WriteDatabaseImageHeader(int node, const DatabaseInfoRecord& info);
  bool WriteRecordImageHeader(CEOID recordId, DWORD count, DWORD size, DWORD crc);
  // Appends one property's stored form to the record body being built.
  bool WriteRecordProperty(const CEPROPVAL& property);
  // Adds one property to a record's crc and body size; false (logged) for
  // a missing property or an unknown type.
  static bool GetRecordPropertyCRC(const CEPROPVAL& property, DWORD& crc, ULONGLONG& size);
  // The 16 bytes a property's value record is stored as.
  static StoredPropertyValue StoredValue(const CEPROPVAL& property);

  // Restore ---------------------------------------------------------------
  // Every selected database below the databases node, from its entry.
  bool Restore() override;
  // Reads the database entry's body (the image stands after its header),
  // checks the record entries that follow, then puts the database back
  // (mode) in its volume, empty, with its definitions; the records are
  // then appended by RestoreRecord. The device's database is changed only
  // once the entry and its records have been read and found sound.
  bool RestoreDatabase(const AImageFileHeader& header, RestoreMode mode, const CString* newName = nullptr);
  // Appends the record entry's properties (the image stands after its
  // header) to the database RestoreDatabase opened; auto-increment values
  // are left to the device.
  bool RestoreRecord(const AImageFileHeader& header);

 private:
  // A record entry's body read from the image, ready to write.
  struct ParsedRecord {
    std::vector<CEPROPVAL> properties;
    std::deque<std::u16string> texts;  // the texts the properties point at
    DWORD crc = 0;
    DWORD bytes = 0;
  };
  // A database entry's body read from the image.
  struct DatabaseBody {
    DatabaseInfoRecord info{};
    CString volumeName;
    std::vector<StoredPropertyDefinition> definitions;
    std::deque<std::u16string> definitionNames;
    bool edb = false;
  };
  // kWarned: this database failed, the backup goes on; kFailed: the
  // backup ends (the image could not be written, or the walk failed).
  enum class StepResult { kDone, kWarned, kFailed };

  // Backup steps.
  StepResult BackupNode(int node);
  bool ReadDefinitions(HANDLE database, std::vector<CEPROPSPEC>& specs, std::deque<std::u16string>& names);
  bool WriteDefinitions(const std::vector<CEPROPSPEC>& specs, const CString& name);
  // What becomes of a record read (m_Record).
  enum class RecordVerdict { kUnreadable, kNoProperties, kNoBuffer, kRejected, kCrcFailed, kBodyFailed, kWrite };
  // A record of the window being backed up; its body in m_Body.
  struct PendingRecord {
    CEOID oid = 0;
    RecordVerdict verdict = RecordVerdict::kUnreadable;
    WORD count = 0;
    DWORD crc = 0;
    size_t at = 0;
    DWORD size = 0;
  };
  static constexpr DWORD kWindowRecords = 256;
  static constexpr size_t kWindowBytes = 4u << 20;

  RecordVerdict JudgeRecord(CEOID id, CeDatabaseCompareBase& selector, DWORD& crc, ULONGLONG& size);
  // Appends the properties of m_Record to m_Body.
  bool AppendRecordBody();
  // The warning (or the failure) of a record that is not written.
  StepResult Conclude(RecordVerdict verdict, CEOID id, DWORD walkNumber, const CString& name);
  StepResult WriteRecord(CEOID id, WORD count, DWORD crc, const BYTE* body, DWORD size);
  // One record by its id (seek, read, write).
  StepResult BackupRecord(HANDLE database, CEOID id, DWORD walkNumber, const CString& name,
                          CeDatabaseCompareBase& selector);
  // length records from the one at position first (id start), read
  // forward and written from the last; taken: the walk's record count,
  // set by its first window (the database's last).
  StepResult BackupWindow(HANDLE database, CEOID start, DWORD first, DWORD length, DWORD& taken,
                          const CString& name, CeDatabaseCompareBase& selector);
  bool WriteBody(const void* data, DWORD length, bool last, const CString& failText);
  void Progress(DWORD bytes);

  // Restore steps.
  bool RestoreNode(int node);
  bool ReadNextHeader(AImageFileHeader& header);
  bool ReadDatabaseBody(const AImageFileHeader& header, DatabaseBody& body);
  // Reads and parses the record entries after the database entry, each
  // property checked against the database's interface (EDB: its
  // definitions), then moves the image back.
  bool CheckRecordEntries(const DatabaseBody& body);
  static bool FitsDatabase(const CEPROPVAL& property, const DatabaseBody& body);
  // The information and definitions are ones the device takes to create
  // the database (its name, sort orders, distinct definitions of its types).
  static bool CanCreate(const DatabaseBody& body);
  bool ReadRecordBody(const AImageFileHeader& header, ParsedRecord& record);
  bool ReadRecordProperty(const BYTE* data, DWORD length, DWORD& at, ParsedRecord& record);
  // Mounts the entry's volume (the object store for "SystemHeap") and
  // gives the store the database goes to.
  CEGUID PrepareVolume(const CString& volumeName, bool edb);
  void UpdateDefinitions(const CEGUID& store, const DatabaseBody& body, const CString& name);
  HANDLE OpenOrCreate(const CEGUID& store, DatabaseBody& body, const CString& name);
  void ReleaseDatabase();

  Index& m_Index;
  ITaskProgress* m_pProgress;
  AImageFile* m_pImageFile;
  std::vector<BYTE> m_Body;  // the record body (or the window's bodies) being written, or read
  std::vector<PendingRecord> m_Window;
  CeRecordBuffer m_Record;   // the record being backed up
  bool m_bImageFailed = false;
  bool m_bEntryWritten = false;  // the current database's entry header is in the image
  // Restore: the database being filled and the volume mounted for it.
  HANDLE m_hDatabase = INVALID_HANDLE_VALUE;
  CEGUID m_MountedVolume{};
  bool m_bMounted = false;
  CString m_DatabaseName;
};

// The index's owner of the databases part of the content tree.
class ADatabaseComponent : public IndexComponent {
 public:
  // Type 31: the groups; type 29: the group's databases; others: none.
  void PopulateChildren(Index& index, int node, bool selected) override;
  // Type 30: 80 + 2464 + per record 80 + its properties' estimates; others 0.
  ULONGLONG ImageSize(Index& index, int node) override;
  // Populates the databases node when needed; whether a group has exactly
  // this name.
  static bool HasVolumeGroup(Index& index, const CString& name);
};

// The estimate of the selected databases (0 without a databases node).
ULONGLONG GetDatabasesSize(Index& index);

// The database component of the global working index (GetGlobal()),
// registered with it on each call.
ADatabaseComponent& GetGlobalDatabaseComponent();
// Registers it with the working index and the database task component with
// the imaging task.
void RegisterDatabaseComponent();
