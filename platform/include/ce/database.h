// Property databases: the object store's databases and database volume
// files, in the device's two generations of the interface, CEDB (the older)
// and EDB (the newer).
//
// Stores. A store is the object store or one mounted volume file. Every
// volume belongs to one generation, fixed when it is made; the object store
// holds databases of both generations side by side. A store is named by a
// CEGUID:
//   - the object store of a generation: CEDB_SYSTEMGUID (four words
//     0xFFFFFFFF) or EDB_SYSTEMGUID (first byte 0xFF, 15 zero bytes);
//   - 16 zero bytes (ZERO_CEGUID): the object store of the call's own
//     generation (the form the volume walk reports it in);
//   - a volume's GUID, given by its mount: random, never zero nor an
//     object-store GUID, kept while the volume stays mounted.
// A GUID of the other generation than the call's (the other object store,
// a volume of the other generation) fails with ERROR_INVALID_PARAMETER, as
// does an unknown GUID.
//
// The two families. Calls that take a store GUID exist once per
// generation; calls on an open handle serve both:
//   role                CEDB                     EDB
//   create              CeCreateDatabaseEx       CeCreateDatabaseWithProps
//   open                CeOpenDatabaseEx2        CeOpenDatabaseInSession
//   find first          CeFindFirstDatabaseEx    CeFindFirstDatabaseEx2
//   object information  CeOidGetInfoEx           CeOidGetInfoEx2
//   set information     CeSetDatabaseInfoEx      CeSetDatabaseInfoEx2
//   delete database     CeDeleteDatabaseEx       CeDeleteDatabaseEx2
//   mount               CeMountDBVol             CeMountDBVolEx
//   definitions                                  CeAddDatabaseProps,
//                                                CeRemoveDatabaseProps
//   both: CeFindNextDatabaseEx, CeSeekDatabaseEx, CeReadRecordPropsEx,
//   CeWriteRecordProps, CeDeleteRecord, CeGetDBInformationByHandle,
//   CeGetDatabaseProps (EDB databases only), CeUnmountDBVol,
//   CeEnumDBVolumes, CeFlushDBVol, CloseHandle.
//
// Addressing by name. Names compare ignoring case and keep the case they
// were made with. An open by name with the generation's object-store GUID
// searches the object store, then that generation's mounted volumes in
// mount order; the handle's information then carries the real store (the
// volume's GUID, 16 zero bytes for the object store) and the database OID.
// The zero GUID or a volume GUID means that store alone (open, create,
// find-first, delete, object information, set information, definitions).
//
// Volumes. A mount opens a volume file by device path, OPEN_EXISTING (a
// missing file: ERROR_FILE_NOT_FOUND) or OPEN_ALWAYS (a missing file
// becomes an empty volume of the call's generation); a file that is no
// volume of that generation fails with ERROR_FILE_CORRUPT. Mounts are
// device-wide, counted and end at a reset: mounting a mounted volume again
// returns the same GUID and counts one more; an unmount drops one count and
// the volume closes at zero. Volumes the system holds (mounted by the boot)
// are never released by an unmount: with no other count left the unmount
// fails with ERROR_ACCESS_DENIED. A mounted volume's file is held open
// without sharing: opening, copying over, moving or deleting it fails with
// ERROR_SHARING_VIOLATION. Handles of a database in a volume that is no
// longer mounted fail with ERROR_INVALID_HANDLE.
//
// Records. Without a sort order (the only kind an open takes) records come
// in creation order, stable across processes and resets; a record's
// properties in the order they were first written. Record ids (OIDs) are
// never reused within a store, also when a volume file is replaced by an
// older copy of itself. Every call commits what it changed before it
// returns; CeFlushDBVol makes it durable.
//
// Value types: CEDB databases take CEVT_I2, CEVT_UI2, CEVT_I4, CEVT_UI4,
// CEVT_R8, CEVT_BOOL, CEVT_FILETIME, CEVT_LPWSTR and CEVT_BLOB; EDB
// databases take these and CEVT_STREAM (read and written as a blob),
// CEVT_RECID, CEVT_AUTO_I4 and CEVT_AUTO_I8, and only properties their
// definitions declare. Anything else fails the write with
// ERROR_INVALID_PARAMETER. Every value reads back byte for byte as written
// (texts as their UTF-16 code units, doubles as their 8 bytes, NaNs too).
//
// Errors (GetLastError after a failed call): ERROR_NO_MORE_ITEMS (259: no
// such database, the end of a walk, a seek past the end),
// ERROR_INVALID_PARAMETER (87), ERROR_OUTOFMEMORY (14),
// ERROR_INSUFFICIENT_BUFFER (122), ERROR_ALREADY_EXISTS (183: a taken
// name), ERROR_NOT_FOUND (1168: no such definition),
// ERROR_SHARING_VIOLATION (32), ERROR_INVALID_HANDLE (6),
// ERROR_FILE_NOT_FOUND (2), ERROR_FILE_CORRUPT (1392: no volume, or a
// malformed stored record), ERROR_ACCESS_DENIED (5), ERROR_NOT_SUPPORTED
// (50: sort orders, value seeks, sessions).
#pragma once

#include <cstddef>

#include "ce/file.h"  // OPEN_EXISTING, OPEN_ALWAYS; CloseHandle
#include "ce/system.h"  // LocalAlloc, LocalReAlloc, LocalFree: the read's buffer
#include "ce/types.h"

typedef DWORD CEOID;
typedef CEOID* PCEOID;
typedef DWORD CEPROPID;
typedef CEPROPID* PCEPROPID;
typedef WORD* LPWORD;

struct CEGUID {
  DWORD Data1;
  DWORD Data2;
  DWORD Data3;
  DWORD Data4;
};
typedef CEGUID* PCEGUID;
static_assert(sizeof(CEGUID) == 16);

inline constexpr CEGUID CEDB_SYSTEMGUID{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
inline constexpr CEGUID EDB_SYSTEMGUID{0x000000FFu, 0, 0, 0};
inline constexpr CEGUID ZERO_CEGUID{0, 0, 0, 0};
inline bool CeGuidEqual(const CEGUID& a, const CEGUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 && a.Data4 == b.Data4;
}

// ---- value types and property ids ----
// A property id holds the value type in its low 16 bits and the property's
// number in its high 16 bits.
#define CEVT_I2 2
#define CEVT_I4 3
#define CEVT_R8 5
#define CEVT_BOOL 11
#define CEVT_UI2 18
#define CEVT_UI4 19
#define CEVT_LPWSTR 31
#define CEVT_FILETIME 64
#define CEVT_BLOB 65
#define CEVT_STREAM 100
#define CEVT_RECID 101
#define CEVT_AUTO_I4 102
#define CEVT_AUTO_I8 103
#define TypeFromPropID(propid) LOWORD(propid)
#define PROPID_NUMBER(propid) HIWORD(propid)
#define MAKE_CEPROPID(number, type) ((CEPROPID)(((DWORD)(number) << 16) | (WORD)(type)))

// CEPROPVAL.wFlags
#define CEDB_PROPNOTFOUND 0x0100  // read: the record lacks the property asked for
#define CEDB_PROPDELETE 0x0200    // write: remove the property from the record

struct CEBLOB {
  DWORD dwCount;
  LPBYTE lpb;
};

union CEVALUNION {
  SHORT iVal;         // CEVT_I2
  USHORT uiVal;       // CEVT_UI2
  LONG lVal;          // CEVT_I4, CEVT_AUTO_I4
  ULONG ulVal;        // CEVT_UI4, CEVT_RECID
  FILETIME filetime;  // CEVT_FILETIME
  LPWSTR lpwstr;      // CEVT_LPWSTR: NUL-terminated
  CEBLOB blob;        // CEVT_BLOB, CEVT_STREAM
  BOOL boolVal;       // CEVT_BOOL: kept as the 32-bit value given
  double dblVal;      // CEVT_R8
  LONGLONG llVal;     // CEVT_AUTO_I8
};

// A property value as the calls take and give it: a native struct (its
// pointers are the host's). wLenData is not used: reads give 0, writes
// ignore it.
struct CEPROPVAL {
  CEPROPID propid;
  WORD wLenData;
  WORD wFlags;
  CEVALUNION val;
};
typedef CEPROPVAL* PCEPROPVAL;

// ---- sort orders (carried through the information, never used to open) ----
#define CEDB_SORT_DESCENDING 0x00000001u
#define CEDB_SORT_CASEINSENSITIVE 0x00000002u
#define CEDB_SORT_UNKNOWNFIRST 0x00000004u
#define CEDB_SORT_GENERICORDER 0x00000008u
#define CEDB_SORT_IGNORENONSPACE 0x00000010u
#define CEDB_SORT_IGNORESYMBOLS 0x00000020u
#define CEDB_SORT_IGNOREKANATYPE 0x00000040u
#define CEDB_SORT_IGNOREWIDTH 0x00000080u
#define CEDB_SORT_STRINGSORT 0x00000100u
#define CEDB_SORT_UNIQUE 0x00000200u
#define CEDB_SORT_NONNULL 0x00000400u

#define CEDB_MAXSORTORDER 4     // CEDB: sort orders per database, one property each
#define CEDB_EXMAXSORTORDER 16  // EDB: sort orders per database
#define CEDB_MAXSORTPROP 16     // EDB: properties per sort order
#define CEDB_MAXDBASENAMELEN 32  // CEDB name buffer: 31 characters and the NUL
#define CEDB_EXMAXDBASENAMELEN 128  // EDB name buffer: 127 characters and the NUL
#define CEDB_MAXPROPNAMELEN 128  // EDB property definition names, without the NUL

// CEDB: one property per sort order.
struct SORTORDERSPEC {
  CEPROPID propid;
  DWORD dwFlags;
};
static_assert(sizeof(SORTORDERSPEC) == 8);

// EDB (and the common information form): 136 bytes.
struct SORTORDERSPECEX {
  WORD wVersion;
  WORD wNumProps;
  WORD wKeyFlags;
  WORD wReserved;
  CEPROPID rgPropID[CEDB_MAXSORTPROP];
  DWORD rgdwFlags[CEDB_MAXSORTPROP];
};
static_assert(sizeof(SORTORDERSPECEX) == 136);

// ---- database information ----
// dwFlags of the information: the low word says which fields a create or a
// set-information call takes (reads report every bit set); the high word
// holds the database's own flags, which it keeps.
#define CEDB_VALIDNAME 0x0001u
#define CEDB_VALIDTYPE 0x0002u
#define CEDB_VALIDSORTSPEC 0x0004u
#define CEDB_VALIDMODTIME 0x0008u
#define CEDB_VALIDDBFLAGS 0x0010u
#define CEDB_VALIDCREATE (CEDB_VALIDNAME | CEDB_VALIDTYPE | CEDB_VALIDSORTSPEC | CEDB_VALIDDBFLAGS)
#define CEDB_VALIDMASK 0x0000FFFFu
#define CEDB_NOCOMPRESS 0x00010000u
#define CEDB_SYSTEMDB 0x00020000u

// CEDB's older form: 120 bytes.
struct CEDBASEINFO {
  DWORD dwFlags;
  WCHAR szDbaseName[CEDB_MAXDBASENAMELEN];
  DWORD dwDbaseType;
  WORD wNumRecords;  // reads: the record count, at most 0xFFFF
  WORD wNumSortOrder;
  DWORD dwSize;
  FILETIME ftLastModified;
  SORTORDERSPEC rgSortSpecs[CEDB_MAXSORTORDER];
};
static_assert(sizeof(CEDBASEINFO) == 120);
static_assert(offsetof(CEDBASEINFO, dwDbaseType) == 68);
static_assert(offsetof(CEDBASEINFO, ftLastModified) == 80);
static_assert(offsetof(CEDBASEINFO, rgSortSpecs) == 88);

// The extended information: 2460 bytes, the last 2460 bytes of the common
// 2464-byte information form. wVersion reads 1 for a CEDB database and 2
// for an EDB one (ignored on input). A CEDB database's sort orders read as
// one property each.
#define CEDBASEINFOEX_VERSION 2
struct CEDBASEINFOEX {
  WORD wVersion;
  WORD wNumSortOrder;
  DWORD dwFlags;
  WCHAR szDbaseName[CEDB_EXMAXDBASENAMELEN];
  DWORD dwDbaseType;
  DWORD dwNumRecords;
  DWORD dwSize;  // bytes of the records' stored properties
  FILETIME ftLastModified;
  SORTORDERSPECEX rgSortSpecs[CEDB_EXMAXSORTORDER];
};
static_assert(sizeof(CEDBASEINFOEX) == 2460);
static_assert(offsetof(CEDBASEINFOEX, dwFlags) == 4);
static_assert(offsetof(CEDBASEINFOEX, szDbaseName) == 8);
static_assert(offsetof(CEDBASEINFOEX, dwDbaseType) == 264);
static_assert(offsetof(CEDBASEINFOEX, dwNumRecords) == 268);
static_assert(offsetof(CEDBASEINFOEX, dwSize) == 272);
static_assert(offsetof(CEDBASEINFOEX, ftLastModified) == 276);
static_assert(offsetof(CEDBASEINFOEX, rgSortSpecs) == 284);

// Information through an open handle: 2484 bytes.
#define BY_HANDLE_DB_INFORMATION_VERSION_CEDB 1
#define BY_HANDLE_DB_INFORMATION_VERSION_EDB 2
struct BY_HANDLE_DB_INFORMATION {
  WORD wVersion;    // 1 CEDB, 2 EDB
  WORD wReserved;   // 0
  CEGUID guidVol;   // the volume's GUID; 16 zero bytes for the object store
  CEOID oidDbase;
  CEDBASEINFOEX infDatabase;
};
static_assert(sizeof(BY_HANDLE_DB_INFORMATION) == 2484);
static_assert(offsetof(BY_HANDLE_DB_INFORMATION, guidVol) == 4);
static_assert(offsetof(BY_HANDLE_DB_INFORMATION, oidDbase) == 20);
static_assert(offsetof(BY_HANDLE_DB_INFORMATION, infDatabase) == 24);

// ---- object information ----
#define OBJTYPE_INVALID 0
#define OBJTYPE_FILE 1
#define OBJTYPE_DIRECTORY 2
#define OBJTYPE_DATABASE 3
#define OBJTYPE_RECORD 4

struct CEFILEINFO {
  DWORD dwAttributes;
  CEOID oidParent;
  WCHAR szFileName[MAX_PATH];
  FILETIME ftLastChanged;
  DWORD dwLength;
};
static_assert(sizeof(CEFILEINFO) == 540);

struct CEDIRINFO {
  DWORD dwAttributes;
  CEOID oidParent;
  WCHAR szDirName[MAX_PATH];
};
static_assert(sizeof(CEDIRINFO) == 528);

struct CERECORDINFO {
  CEOID oidParent;  // the database
};
static_assert(sizeof(CERECORDINFO) == 4);

// CEDB object information: 544 bytes. Unused bytes read as zero.
struct CEOIDINFO {
  WORD wObjType;  // OBJTYPE_DATABASE or OBJTYPE_RECORD
  WORD wPad;      // 0
  union {
    CEFILEINFO infFile;
    CEDIRINFO infDirectory;
    CEDBASEINFO infDatabase;
    CERECORDINFO infRecord;
  };
};
static_assert(sizeof(CEOIDINFO) == 544);
static_assert(offsetof(CEOIDINFO, infDatabase) == 4);

// EDB object information, version 2: 2464 bytes; a database's is the
// common information form (version 2, type 3, the extended information).
// The caller sets wVersion to CEOIDINFOEX_VERSION. Unused bytes read as
// zero.
#define CEOIDINFOEX_VERSION 2
struct CEOIDINFOEX {
  WORD wVersion;
  WORD wObjType;
  union {
    CEFILEINFO infFile;
    CEDIRINFO infDirectory;
    CEDBASEINFOEX infDatabase;
    CERECORDINFO infRecord;
  };
};
static_assert(sizeof(CEOIDINFOEX) == 2464);
static_assert(offsetof(CEOIDINFOEX, infDatabase) == 4);

// ---- EDB property definitions ----
#define CEPROPSPEC_VERSION 1
#define DB_PROP_NOTNULL 0x00000001u
#define DB_PROP_COMPRESSED 0x00000002u
// A native struct. pwszPropName (may be null: no name) holds at most
// CEDB_MAXPROPNAMELEN characters; cchPropName is its buffer's size in
// characters when the definitions are read.
struct CEPROPSPEC {
  DWORD wVersion;  // CEPROPSPEC_VERSION
  CEPROPID propid;
  DWORD dwFlags;
  LPWSTR pwszPropName;
  DWORD cchPropName;
};

// ---- opening ----
#define CEDB_AUTOINCREMENT 0x00000001u  // each read moves the current record on by one

// Database change notifications are not delivered; the request is taken
// and ignored.
struct CENOTIFYREQUEST {
  DWORD dwSize;
  HWND hwnd;
  DWORD dwFlags;
  HANDLE hHeap;
  DWORD dwParam;
};

// ---- seeking ----
#define CEDB_SEEK_CEOID 0x00000001u      // dwValue: a record's OID
#define CEDB_SEEK_BEGINNING 0x00000002u  // dwValue: records after the first
#define CEDB_SEEK_END 0x00000004u        // dwValue: records before the last
#define CEDB_SEEK_CURRENT 0x00000008u    // dwValue: a signed LONG step
// Value seeks need a sort order: ERROR_NOT_SUPPORTED.
#define CEDB_SEEK_VALUESMALLER 0x00000010u
#define CEDB_SEEK_VALUEFIRSTEQUAL 0x00000020u
#define CEDB_SEEK_VALUEGREATER 0x00000040u
#define CEDB_SEEK_VALUENEXTEQUAL 0x00000080u
#define CEDB_SEEK_VALUESMALLEROREQUAL 0x00000100u
#define CEDB_SEEK_VALUEGREATEROREQUAL 0x00000200u

// ---- reading ----
#define CEDB_ALLOWREALLOC 0x00000001u

// ---- volumes ----
// Taken and ignored.
struct CEVOLUMEOPTIONS {
  WORD wVersion;
  DWORD cbBufferPool;
  DWORD dwAutoShrinkPercent;
  DWORD dwFlushInterval;
  DWORD cMaxSize;
  DWORD dwDefaultTimeout;
  DWORD dwFlags;
};

// ============================================================ calls

// Creates a CEDB database in the store (its generation's object store or a
// CEDB volume) from the older form: a name of 1 to 31 characters
// (CEDB_VALIDNAME is required), up to CEDB_MAXSORTORDER sort orders.
// Returns its OID; 0 on failure (ERROR_ALREADY_EXISTS for a taken name).
CEOID CeCreateDatabaseEx(PCEGUID pGuid, CEDBASEINFO* pInfo);
// Creates an EDB database from the extended information (a name of 1 to
// 127 characters, up to CEDB_EXMAXSORTORDER sort orders of up to
// CEDB_MAXSORTPROP properties) with its property definitions (distinct
// property ids of EDB types). Returns its OID; 0 on failure.
CEOID CeCreateDatabaseWithProps(PCEGUID pGuid, CEDBASEINFOEX* pInfo, DWORD cPropDef, CEPROPSPEC* rgPropDef);

// Opens a database by OID (*pOid non-zero) or by name (*pOid zero or pOid
// null), without a sort order (pSort must be null: ERROR_NOT_SUPPORTED
// otherwise), and stores its OID in *pOid. The current record is the first
// one. dwFlags: CEDB_AUTOINCREMENT. No such database: INVALID_HANDLE_VALUE
// and ERROR_NO_MORE_ITEMS. Close with CloseHandle.
HANDLE CeOpenDatabaseEx2(PCEGUID pGuid, PCEOID pOid, LPWSTR lpszName, SORTORDERSPECEX* pSort, DWORD dwFlags,
                         CENOTIFYREQUEST* pRequest);
// The same for EDB. Sessions are not offered: hSession must be null
// (ERROR_NOT_SUPPORTED otherwise).
HANDLE CeOpenDatabaseInSession(HANDLE hSession, PCEGUID pGuid, PCEOID pOid, LPWSTR lpszName,
                               SORTORDERSPECEX* pSort, DWORD dwFlags, CENOTIFYREQUEST* pRequest);

// Moves the current record and returns its OID (and its position from 0 in
// *lpdwIndex when given). Past either end, or an OID not in the database:
// 0 and ERROR_NO_MORE_ITEMS, the current record unchanged. wNumVals is
// unused.
CEOID CeSeekDatabaseEx(HANDLE hDatabase, DWORD dwSeekType, DWORD dwValue, WORD wNumVals, LPDWORD lpdwIndex);

// Reads the current record: every property (rgPropID null; *lpcPropID
// receives their count) or the *lpcPropID properties rgPropID names (a
// missing one comes back with CEDB_PROPNOTFOUND). The buffer receives the
// CEPROPVAL array followed by the texts and blobs they point to. With
// CEDB_ALLOWREALLOC the call allocates (*lplpBuffer null) or grows the
// buffer with LocalAlloc/LocalReAlloc(LMEM_MOVEABLE) and updates
// *lplpBuffer and *lpcbBuffer; the caller frees it with LocalFree. Without
// it, a buffer too small fails with ERROR_INSUFFICIENT_BUFFER and
// *lpcbBuffer set to the size needed. A record without properties needs no
// buffer. hHeap must be null (the local heap). Returns the record's OID;
// 0 on failure (ERROR_NO_MORE_ITEMS past the last record,
// ERROR_FILE_CORRUPT for a malformed stored record). With
// CEDB_AUTOINCREMENT the next record becomes current.
CEOID CeReadRecordPropsEx(HANDLE hDatabase, DWORD dwFlags, LPWORD lpcPropID, CEPROPID* rgPropID,
                          LPBYTE* lplpBuffer, LPDWORD lpcbBuffer, HANDLE hHeap);

// Writes properties. oidRecord 0 appends a new record; an existing record's
// OID replaces its properties of the same id in place, appends the others
// and removes those flagged CEDB_PROPDELETE. Declared CEVT_AUTO_I4/I8
// properties of a new record take the next value of the database's counter
// (from 1, never reused) and follow the written properties; values given
// for them are ignored. Returns the record's OID; 0 on failure.
CEOID CeWriteRecordProps(HANDLE hDatabase, CEOID oidRecord, WORD cPropID, CEPROPVAL* rgPropVal);
BOOL CeDeleteRecord(HANDLE hDatabase, CEOID oidRecord);

// Lists the databases of one store (dwDbaseType 0: any type) in creation
// order; an object-store GUID lists the object store alone. Next returns 0
// and ERROR_NO_MORE_ITEMS at the end; pGuid (may be null) receives the
// store's GUID as the volume walk gives it (16 zero bytes for the object
// store). Close with CloseHandle.
HANDLE CeFindFirstDatabaseEx(PCEGUID pGuid, DWORD dwDbaseType);
HANDLE CeFindFirstDatabaseEx2(PCEGUID pGuid, DWORD dwDbaseType);
CEOID CeFindNextDatabaseEx(HANDLE hEnum, PCEGUID pGuid);

// Object information of a database or record OID in one store; an unknown
// OID fails with ERROR_INVALID_PARAMETER.
BOOL CeOidGetInfoEx(PCEGUID pGuid, CEOID oid, CEOIDINFO* pInfo);
BOOL CeOidGetInfoEx2(PCEGUID pGuid, CEOID oid, CEOIDINFOEX* pInfo);
BOOL CeGetDBInformationByHandle(HANDLE hDatabase, BY_HANDLE_DB_INFORMATION* pInfo);

// Changes what the information's CEDB_VALID* bits name (a taken name:
// ERROR_ALREADY_EXISTS).
BOOL CeSetDatabaseInfoEx(PCEGUID pGuid, CEOID oidDbase, CEDBASEINFO* pNewInfo);
BOOL CeSetDatabaseInfoEx2(PCEGUID pGuid, CEOID oidDbase, CEDBASEINFOEX* pNewInfo);

// Deletes a database with its records and definitions; its open handles
// then fail with ERROR_INVALID_HANDLE.
BOOL CeDeleteDatabaseEx(PCEGUID pGuid, CEOID oidDbase);
BOOL CeDeleteDatabaseEx2(PCEGUID pGuid, CEOID oidDbase);

// EDB definitions of an open database. rgPropID null: all of them, in the
// order they were made; with prgProps null *pcPropID receives their count,
// else *pcPropID is prgProps' capacity (too small: ERROR_INSUFFICIENT_BUFFER
// and the count) and receives the count written. With rgPropID: the
// *pcPropID definitions it names (a missing one: ERROR_NOT_FOUND). Names
// are copied into each entry's pwszPropName buffer of cchPropName
// characters (too small: ERROR_INSUFFICIENT_BUFFER); a null buffer takes
// no name. A CEDB database has none: ERROR_INVALID_PARAMETER.
BOOL CeGetDatabaseProps(HANDLE hDatabase, WORD* pcPropID, CEPROPID* rgPropID, CEPROPSPEC* prgProps);
// Adds definitions to an EDB database: all or none. A definition identical
// to one it has succeeds; the same property id defined differently fails
// with ERROR_ALREADY_EXISTS.
BOOL CeAddDatabaseProps(PCEGUID pGuid, CEOID oidDbase, CEPROPSPEC* rgProps, WORD cProps);
// Removes definitions, all or none (one it lacks: ERROR_NOT_FOUND); the
// records lose those properties.
BOOL CeRemoveDatabaseProps(PCEGUID pGuid, CEOID oidDbase, WORD cPropID, CEPROPID* rgPropID);

// Mounts a volume file (see above): dwFlags OPEN_EXISTING or OPEN_ALWAYS
// (others: ERROR_INVALID_PARAMETER); *pGuid receives its GUID.
BOOL CeMountDBVol(PCEGUID pGuid, LPWSTR lpszVol, DWORD dwFlags);
BOOL CeMountDBVolEx(PCEGUID pGuid, LPWSTR lpszVol, CEVOLUMEOPTIONS* pOptions, DWORD dwFlags);
// Drops one mount count of a volume (an object-store or unknown GUID:
// ERROR_INVALID_PARAMETER; the system's own hold: ERROR_ACCESS_DENIED).
BOOL CeUnmountDBVol(PCEGUID pGuid);

// The volume walk. From a generation's object-store GUID: that
// generation's mounted volumes in mount order, then the object store as
// 16 zero bytes named "SystemHeap", then FALSE with ERROR_NO_MORE_ITEMS.
// From a volume's GUID: the next one of the walk. From 16 zero bytes (the
// walk's last step): ERROR_NO_MORE_ITEMS. An unknown GUID:
// ERROR_INVALID_PARAMETER. *pGuid receives the next GUID and lpBuf (dwSize
// characters) the volume's device path with a leading backslash
// (ERROR_INSUFFICIENT_BUFFER when it does not fit).
BOOL CeEnumDBVolumes(PCEGUID pGuid, LPWSTR lpBuf, DWORD dwSize);

// Makes a volume (null: every mounted volume and the object store) durable
// on the device's storage.
BOOL CeFlushDBVol(PCEGUID pGuid);
