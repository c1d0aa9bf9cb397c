// The property database layer: the one way the engine reaches the device's
// databases, in either generation of the device's interface (CEDB, the
// older, and EDB; ce/database.h). It opens databases by name, reads their
// information in the common 2464-byte form (DatabaseInfoRecord,
// engine/DatabaseEntryFormat.h), lists volumes and databases, walks records
// through a callback, and deletes records or whole databases.
//
// Every operation takes the interface flag (edb: true = EDB, false = CEDB).
// A volume given as none (null) means the interface's object store: an
// open by name then searches the object store and that generation's
// mounted volumes. 16 zero bytes stand for the object store as the volume
// walk reports it ("SystemHeap").
//
// Failures of device calls come back as false or INVALID_HANDLE_VALUE with
// the device's last error kept; only GetOidInfo and EnumDatabases report
// them (ReportError). Log lines carry the class "CeDatabase".
#pragma once

#include <functional>
#include <vector>

#include "ce/cstring.h"
#include "ce/database.h"
#include "ce/types.h"
#include "engine/DatabaseEntryFormat.h"

// The record selector of DeleteAllRecords: the base accepts every record.
class CeDatabaseCompareBase {
 public:
  virtual ~CeDatabaseCompareBase() = default;
  virtual bool Accept(CEOID oid);
};

namespace CeDatabase {

// Answers of the walk callbacks.
inline constexpr int kContinue = 0;
inline constexpr int kStop = 1;          // volume and database walks end here
inline constexpr int kKeepRecord = 0;
inline constexpr int kDeleteRecord = 1;  // EnumRecords deletes the record

// name: the volume's device path with its leading backslash, or
// "SystemHeap" for the object store (volume: 16 zero bytes).
using VolumeCallback = std::function<int(const CEGUID& volume, const CString& name)>;
// volume: the store as the device's find-next gives it (16 zero bytes for
// the object store).
using DatabaseCallback = std::function<int(const CEGUID& volume, CEOID oid, bool edb, void* user)>;
// properties: count values of the record, valid during the call (their
// texts and blobs lie in the walk's read buffer).
using RecordCallback =
    std::function<int(HANDLE database, CEOID oid, CEPROPVAL* properties, WORD count, void* user)>;
// Told after each reported error.
using ErrorCallback = std::function<void(DWORD code, const CString& text)>;

// Where an open database lives: its store (16 zero bytes for the object
// store) and its OID.
struct DatabaseLocation {
  CEGUID volume{};
  CEOID oid = 0;
};

// The object store's GUID of an interface: EDB_SYSTEMGUID or CEDB_SYSTEMGUID.
CEGUID ObjectStoreGuid(bool edb);
// The information's database name (up to its first NUL, at most 128
// characters).
CString InfoName(const DatabaseInfoRecord& info);

// Opens without a sort order, auto-increment on (each read moves on by
// one). A database that does not exist: INVALID_HANDLE_VALUE and 259.
HANDLE OpenDatabase(const CEGUID* volume, const CString& name, bool edb, DWORD notifyFlags = 0);
// Tries CEDB first, then EDB; closes what it opened.
bool DatabaseExists(const CEGUID* volume, const CString& name);
// Opens and reads the information through the handle; location (when
// given) receives the store and OID. On failure nothing stays open.
HANDLE OpenDatabaseWithInfo(const CEGUID* volume, const CString& name, bool edb, DatabaseInfoRecord& info,
                            DatabaseLocation* location = nullptr);
// The object information of an OID in one store. EDB gives the common form
// directly; CEDB's older object information is converted (a database's
// fields one by one, a file's or folder's record copied, a record's parent
// id). EDB's error 87 comes back as false without a report.
bool GetOidInfo(const CEGUID& volume, CEOID oid, bool edb, DatabaseInfoRecord& info);

// Walks the mounted volumes from the EDB object store, then (unless the
// callback stopped the walk) from the CEDB one; each walk ends with the
// object store. False when a walk fails other than at its end.
bool EnumVolumes(const VolumeCallback& callback);
// One of those walks: the interface's mounted volumes, then the object
// store. stopped (when given) tells whether the callback ended it.
bool EnumVolumesOf(bool edb, const VolumeCallback& callback, bool* stopped = nullptr);
// The first mounted volume whose name (with a leading backslash added when
// missing) equals name, ignoring case; 16 zero bytes when none.
CEGUID FindVolumeGuid(const CString& name);

// Every database (any type) of one store of the interface, in creation
// order, until the callback stops the walk. A failed start is reported.
bool EnumDatabases(const CEGUID& volume, const DatabaseCallback& callback, bool edb, void* user = nullptr);
// With a volume: EnumDatabases there; without: the EDB object store, then
// the CEDB one.
bool EnumDatabasesAnywhere(const DatabaseCallback& callback, void* user, const CEGUID* volume, bool edb);
// Appends the name of every database of the store.
bool ListDatabaseNames(const CEGUID& volume, std::vector<CString>& names, bool edb);
// The name of the volume that holds the database (found by name from the
// object store): its path, or "SystemHeap" for the object store.
bool GetDatabaseVolumeName(bool edb, const CString& databaseName, CString& volumeName);

// The record ids a walk takes: the one the seek to the beginning reaches,
// then each reached by stepping one record on, recordCount ids in all (fewer
// when the database ends sooner), each once. The current record is then the
// first again.
std::vector<CEOID> SnapshotRecordIds(HANDLE database, DWORD recordCount);
// Walks a snapshot of the records (so records the callback adds are not
// seen and deleted ones are passed over): each is read whole and handed to
// the callback, and deleted when it answers kDeleteRecord. False when a
// read or a delete fails (the walk ends at a failed read).
bool EnumRecords(HANDLE database, DWORD recordCount, const RecordCallback& callback, void* user = nullptr);
// OpenDatabaseWithInfo, EnumRecords with the information's record count,
// then close.
bool EnumRecordsByName(const CEGUID* volume, const CString& name, bool edb, const RecordCallback& callback,
                       void* user = nullptr);
// Deletes, from the database found by name in the store (none: from the
// object store), every record that the selector accepts.
bool DeleteAllRecords(const CString& name, bool edb, CeDatabaseCompareBase& selector,
                      const CEGUID* volume = nullptr);
// Deletes the database; when the device refuses, deletes all its records
// instead (the database then stays, empty). False when the database cannot
// be opened or neither succeeds.
bool DeleteDatabase(const CEGUID* volume, const CString& name, bool edb);
bool CloseDatabase(HANDLE database);

// Logs "ERROR CeDatabase :-" and the text with the code (ordinary lines),
// then tells the error callback.
void ReportError(DWORD code, const CString& text);
// Null: none.
void SetErrorCallback(ErrorCallback callback);

}  // namespace CeDatabase

// A record read from an open database, in a buffer of the device's local
// heap that the device grows as needed and this object frees.
class CeRecordBuffer {
 public:
  CeRecordBuffer() = default;
  ~CeRecordBuffer();
  CeRecordBuffer(const CeRecordBuffer&) = delete;
  CeRecordBuffer& operator=(const CeRecordBuffer&) = delete;

  // Reads every property of the current record; its OID, or 0 with the
  // device's last error.
  CEOID Read(HANDLE database);
  CEPROPVAL* Properties() const { return reinterpret_cast<CEPROPVAL*>(m_pBuffer); }
  WORD Count() const { return m_Count; }
  DWORD Size() const { return m_Size; }

 private:
  LPBYTE m_pBuffer = nullptr;
  DWORD m_Size = 0;
  WORD m_Count = 0;
};
