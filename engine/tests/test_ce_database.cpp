// The property database layer over both interfaces: opening and
// information, object information, volumes, database and record walks,
// deleting, and the reported errors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ce/database.h"
#include "ce/errors.h"
#include "cesim/database.h"
#include "database_test_util.h"
#include "engine/CeDatabase.h"

using namespace dbtest;

namespace {

class CeDatabaseTest : public DatabaseDeviceTest {
 protected:
  ~CeDatabaseTest() override { CeDatabase::SetErrorCallback(nullptr); }

  // Collects what the error callback is told.
  void CatchErrors() {
    CeDatabase::SetErrorCallback([this](DWORD code, const CString& text) { errors.push_back({code, text.str()}); });
  }
  std::vector<std::pair<DWORD, std::u16string>> errors;
};

TEST_F(CeDatabaseTest, OpensEitherInterfaceAndGivesTheCommonInformation) {
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Contacts", 0x10, {{MAKE_CEPROPID(3, CEVT_LPWSTR), CEDB_SORT_DESCENDING}}),
            0u);
  AddRecords(u"Contacts", false, {{I4(1, 5)}, {Text(2, u"Ada")}});
  // Only in the EDB object store: found after the CEDB attempt fails.
  ASSERT_NE(CreateEdb(EDB_SYSTEMGUID, u"Tasks", {Def(MAKE_CEPROPID(1, CEVT_I4))}, 7), 0u);
  EXPECT_TRUE(CeDatabase::DatabaseExists(nullptr, u"Contacts"));
  EXPECT_TRUE(CeDatabase::DatabaseExists(nullptr, u"tasks"));
  EXPECT_FALSE(CeDatabase::DatabaseExists(nullptr, u"Nowhere"));

  DatabaseInfoRecord info;
  CeDatabase::DatabaseLocation where;
  HANDLE h = CeDatabase::OpenDatabaseWithInfo(nullptr, u"contacts", false, info, &where);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(info.version, 1);
  EXPECT_EQ(info.objectType, OBJTYPE_DATABASE);
  EXPECT_EQ(CeDatabase::InfoName(info).str(), u"Contacts");
  EXPECT_EQ(info.type, 0x10u);
  EXPECT_EQ(info.numRecords, 2u);
  EXPECT_EQ(info.numSortOrders, 1);
  EXPECT_EQ(info.sortOrders[0].propertyIds[0], MAKE_CEPROPID(3, CEVT_LPWSTR));
  EXPECT_TRUE(CeGuidEqual(where.volume, ZERO_CEGUID));
  EXPECT_NE(where.oid, 0u);

  // The older object information converts to the same 2464 bytes.
  DatabaseInfoRecord converted;
  std::memset(&converted, 0xEE, sizeof converted);
  ASSERT_TRUE(CeDatabase::GetOidInfo(ZERO_CEGUID, where.oid, false, converted));
  EXPECT_EQ(std::memcmp(&converted, &info, sizeof info), 0);
  // A record's object information names its database.
  CEOID first = CeSeekDatabaseEx(h, CEDB_SEEK_BEGINNING, 0, 0, nullptr);
  ASSERT_TRUE(CeDatabase::GetOidInfo(ZERO_CEGUID, first, false, converted));
  EXPECT_EQ(converted.objectType, OBJTYPE_RECORD);
  DWORD parent = 0;
  std::memcpy(&parent, &converted.infoVersion, 4);
  EXPECT_EQ(parent, where.oid);
  EXPECT_TRUE(CeDatabase::CloseDatabase(h));

  h = CeDatabase::OpenDatabaseWithInfo(nullptr, u"Tasks", true, info);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(info.version, 2);
  EXPECT_EQ(info.infoVersion, 2);
  EXPECT_EQ(info.type, 7u);
  CeDatabase::CloseDatabase(h);

  h = CeDatabase::OpenDatabaseWithInfo(nullptr, u"Nowhere", false, info);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  // A failing information read leaves nothing open and keeps its error.
  ce::InjectDatabaseFault(ce::DbCall::kHandleInfo, ERROR_OUTOFMEMORY);
  EXPECT_EQ(CeDatabase::OpenDatabaseWithInfo(nullptr, u"Contacts", false, info), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OUTOFMEMORY));
}

TEST_F(CeDatabaseTest, ObjectInformationFailuresAreReportedExceptEdbUnknownIds) {
  CatchErrors();
  DatabaseInfoRecord info;
  CEOID edb = CreateEdb(EDB_SYSTEMGUID, u"Mail", {});
  ASSERT_NE(edb, 0u);
  ASSERT_TRUE(CeDatabase::GetOidInfo(ZERO_CEGUID, edb, true, info));
  EXPECT_EQ(info.version, 2);
  EXPECT_EQ(CeDatabase::InfoName(info).str(), u"Mail");
  // EDB: an unknown id is no report.
  EXPECT_FALSE(CeDatabase::GetOidInfo(ZERO_CEGUID, edb + 77, true, info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(errors.empty());
  EXPECT_FALSE(Logged("ERROR CeDatabase :-"));
  // CEDB reports every failure; so does EDB any other error.
  EXPECT_FALSE(CeDatabase::GetOidInfo(ZERO_CEGUID, edb + 77, false, info));
  ce::InjectDatabaseFault(ce::DbCall::kOidInfo, ERROR_OUTOFMEMORY);
  EXPECT_FALSE(CeDatabase::GetOidInfo(ZERO_CEGUID, edb, true, info));
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0], std::make_pair(DWORD{87}, std::u16string(u"GetOidInfo(): CeOidGetInfoEx() failed")));
  EXPECT_EQ(errors[1].first, 14u);
  // Two ordinary lines per report: the marker, then the text with the code.
  EXPECT_TRUE(Logged(" : ERROR CeDatabase :-\r\n\r\nL CeDatabase "));
  EXPECT_TRUE(Logged(" : GetOidInfo(): CeOidGetInfoEx() failed 87\r\n"));
}

TEST_F(CeDatabaseTest, VolumesWalkEdbThenCedbEachEndingWithTheObjectStore) {
  dev.MakeDir(u"\\My Documents");
  CEGUID notes = MountCedb(u"\\My Documents\\notes.vol");
  CEGUID pim = MountEdb(u"\\pim.vol");
  CEGUID sys = MountEdb(u"\\mxip_system.vol");
  std::vector<std::pair<std::u16string, bool>> seen;
  ASSERT_TRUE(CeDatabase::EnumVolumes([&](const CEGUID& g, const CString& name) {
    seen.push_back({name.str(), CeGuidEqual(g, ZERO_CEGUID)});
    return CeDatabase::kContinue;
  }));
  const std::vector<std::pair<std::u16string, bool>> expected = {
      {u"\\pim.vol", false}, {u"\\mxip_system.vol", false}, {u"SystemHeap", true},
      {u"\\My Documents\\notes.vol", false}, {u"SystemHeap", true}};
  EXPECT_EQ(seen, expected);
  int calls = 0;
  ASSERT_TRUE(CeDatabase::EnumVolumes([&](const CEGUID&, const CString&) { return ++calls == 2 ? 1 : 0; }));
  EXPECT_EQ(calls, 2);

  EXPECT_TRUE(CeGuidEqual(CeDatabase::FindVolumeGuid(u"\\PIM.VOL"), pim));
  EXPECT_TRUE(CeGuidEqual(CeDatabase::FindVolumeGuid(u"\\My Documents\\notes.vol"), notes));
  EXPECT_TRUE(CeGuidEqual(CeDatabase::FindVolumeGuid(u"\\Documents and Settings\\default.vol"), ZERO_CEGUID));
  EXPECT_TRUE(CeGuidEqual(CeDatabase::FindVolumeGuid(u"\\SystemHeap"), ZERO_CEGUID));

  // Which volume holds a database found by name from the object store.
  ASSERT_NE(CreateEdb(sys, u"SyncStateKeys", {}), 0u);
  ASSERT_NE(CreateCedb(notes, u"Notes"), 0u);
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Contacts"), 0u);
  CString volume;
  ASSERT_TRUE(CeDatabase::GetDatabaseVolumeName(true, u"SyncStateKeys", volume));
  EXPECT_EQ(volume.str(), u"\\mxip_system.vol");
  ASSERT_TRUE(CeDatabase::GetDatabaseVolumeName(false, u"Notes", volume));
  EXPECT_EQ(volume.str(), u"\\My Documents\\notes.vol");
  ASSERT_TRUE(CeDatabase::GetDatabaseVolumeName(false, u"Contacts", volume));
  EXPECT_EQ(volume.str(), u"SystemHeap");
  EXPECT_FALSE(CeDatabase::GetDatabaseVolumeName(true, u"Contacts", volume));

  // A failing walk is reported as a failure, not as its end.
  ce::InjectDatabaseFault(ce::DbCall::kEnumVolumes, ERROR_OUTOFMEMORY);
  EXPECT_FALSE(CeDatabase::EnumVolumes([](const CEGUID&, const CString&) { return 0; }));
}

TEST_F(CeDatabaseTest, DatabaseWalksAndTheirReportedStartFailures) {
  CatchErrors();
  CEGUID notes = MountCedb(u"\\notes.vol");
  for (const char16_t* name : {u"B", u"A", u"C"}) ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, name), 0u);
  ASSERT_NE(CreateCedb(notes, u"Notes"), 0u);
  ASSERT_NE(CreateEdb(EDB_SYSTEMGUID, u"E1", {}), 0u);

  std::vector<CString> names;
  ASSERT_TRUE(CeDatabase::ListDatabaseNames(ZERO_CEGUID, names, false));
  ASSERT_EQ(names.size(), 3u);  // creation order, the object store alone
  EXPECT_EQ(names[0].str(), u"B");
  EXPECT_EQ(names[2].str(), u"C");
  names.clear();
  ASSERT_TRUE(CeDatabase::ListDatabaseNames(notes, names, false));
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].str(), u"Notes");

  // Anywhere: the EDB object store first; a stop ends both walks.
  std::vector<std::pair<CEOID, bool>> seen;
  ASSERT_TRUE(CeDatabase::EnumDatabasesAnywhere(
      [&](const CEGUID&, CEOID oid, bool edb, void*) {
        seen.push_back({oid, edb});
        return seen.size() == 2 ? CeDatabase::kStop : CeDatabase::kContinue;
      },
      nullptr, nullptr, false));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(seen[0].second);
  EXPECT_FALSE(seen[1].second);
  int user = 0;
  ASSERT_TRUE(CeDatabase::EnumDatabasesAnywhere(
      [&](const CEGUID&, CEOID, bool, void* u) {
        ++*static_cast<int*>(u);
        return CeDatabase::kContinue;
      },
      &user, &notes, false));
  EXPECT_EQ(user, 1);

  ce::InjectDatabaseFault(ce::DbCall::kFindFirst, ERROR_OUTOFMEMORY);
  EXPECT_FALSE(CeDatabase::ListDatabaseNames(ZERO_CEGUID, names, false));
  ce::InjectDatabaseFault(ce::DbCall::kFindFirst, ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(CeDatabase::ListDatabaseNames(ZERO_CEGUID, names, true));
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0], std::make_pair(DWORD{14}, std::u16string(u"EnumDatabases(): Out of memory.")));
  EXPECT_EQ(errors[1], std::make_pair(DWORD{87}, std::u16string(u"EnumDatabases(): Unknown error.")));
  // A failing step is no end of the walk.
  ce::InjectDatabaseFault(ce::DbCall::kFindNext, ERROR_OUTOFMEMORY, 1, 1);
  names.clear();
  EXPECT_FALSE(CeDatabase::ListDatabaseNames(ZERO_CEGUID, names, false));
  EXPECT_EQ(names.size(), 1u);
}

TEST_F(CeDatabaseTest, RecordWalkTakesASnapshotOfTheRecordCount) {
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Walk"), 0u);
  AddRecords(u"Walk", false, {{I4(1, 1)}, {I4(1, 2)}, {I4(1, 3)}, {I4(1, 4)}});
  std::vector<CEOID> oids;
  ReadRecords(nullptr, u"Walk", false, &oids);
  ASSERT_EQ(oids.size(), 4u);

  DatabaseInfoRecord info;
  HANDLE h = CeDatabase::OpenDatabaseWithInfo(nullptr, u"Walk", false, info);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  // The first id is the beginning's; then one step each, each id once.
  EXPECT_EQ(CeDatabase::SnapshotRecordIds(h, info.numRecords), oids);
  EXPECT_EQ(CeDatabase::SnapshotRecordIds(h, 2), std::vector<CEOID>(oids.begin(), oids.begin() + 2));
  EXPECT_EQ(CeDatabase::SnapshotRecordIds(h, 9), oids);  // the database ends first
  EXPECT_EQ(CeSeekDatabaseEx(h, CEDB_SEEK_CURRENT, 0, 0, nullptr), oids[0]);

  // Records the callback adds are not seen; one it deletes is passed over.
  std::vector<std::string> values;
  ASSERT_TRUE(CeDatabase::EnumRecords(h, info.numRecords, [&](HANDLE db, CEOID oid, CEPROPVAL* p, WORD n, void*) {
    EXPECT_EQ(n, 1);
    values.push_back(FromProp(p[0]).bytes);
    if (oid == oids[0]) {
      EXPECT_NE(Write(db, {I4(1, 9)}), 0u);
      EXPECT_TRUE(CeDeleteRecord(db, oids[2]));
    }
    return oid == oids[1] ? CeDatabase::kDeleteRecord : CeDatabase::kKeepRecord;
  }));
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[2], FromProp(I4(1, 4)).bytes);
  EXPECT_EQ(ReadRecords(nullptr, u"Walk", false).size(), 3u);  // 1, 4 and the added 9

  // Zero records: walked without any read.
  ce::InjectDatabaseFault(ce::DbCall::kRead, ERROR_OUTOFMEMORY, -1);
  int calls = 0;
  EXPECT_TRUE(CeDatabase::EnumRecords(h, 0, [&](HANDLE, CEOID, CEPROPVAL*, WORD, void*) { return ++calls, 0; }));
  // A failed read ends the walk with false.
  EXPECT_FALSE(CeDatabase::EnumRecords(h, 3, [&](HANDLE, CEOID, CEPROPVAL*, WORD, void*) { return ++calls, 0; }));
  EXPECT_EQ(calls, 0);
  ce::ClearDatabaseFaults();
  CeDatabase::CloseDatabase(h);

  // Deleting every record leaves the database, empty.
  int user = 0;
  ASSERT_TRUE(CeDatabase::EnumRecordsByName(
      nullptr, u"Walk", false,
      [](HANDLE, CEOID, CEPROPVAL*, WORD, void* u) { return ++*static_cast<int*>(u), CeDatabase::kDeleteRecord; },
      &user));
  EXPECT_EQ(user, 3);
  bool found = false;
  EXPECT_TRUE(ReadRecords(nullptr, u"Walk", false, nullptr, &found).empty());
  EXPECT_TRUE(found);
  EXPECT_FALSE(CeDatabase::EnumRecordsByName(nullptr, u"Nowhere", false,
                                             [](HANDLE, CEOID, CEPROPVAL*, WORD, void*) { return 0; }));
}

class OddIds : public CeDatabaseCompareBase {
 public:
  bool Accept(CEOID oid) override { return oid % 2 == 1; }
};

TEST_F(CeDatabaseTest, DeletingADatabaseFallsBackToItsRecords) {
  CEGUID pim = MountEdb(u"\\pim.vol");
  ASSERT_NE(CreateEdb(pim, u"Appointments", {Def(MAKE_CEPROPID(1, CEVT_I4))}), 0u);
  AddRecords(u"Appointments", true, {{I4(1, 1)}, {I4(1, 2)}}, &pim);
  // Found by name from the object store, deleted where it lives.
  ASSERT_TRUE(CeDatabase::DeleteDatabase(nullptr, u"Appointments", true));
  EXPECT_FALSE(CeDatabase::DatabaseExists(&pim, u"Appointments"));
  EXPECT_FALSE(CeDatabase::DeleteDatabase(nullptr, u"Appointments", true));

  // The device refuses the delete: the records go, the database stays.
  ASSERT_NE(CreateEdb(pim, u"Appointments", {Def(MAKE_CEPROPID(1, CEVT_I4))}), 0u);
  AddRecords(u"Appointments", true, {{I4(1, 1)}, {I4(1, 2)}}, &pim);
  // A namesake in the object store keeps its records.
  ASSERT_NE(CreateEdb(EDB_SYSTEMGUID, u"Appointments", {Def(MAKE_CEPROPID(1, CEVT_I4))}), 0u);
  AddRecords(u"Appointments", true, {{I4(1, 3)}});
  CEGUID zero = ZERO_CEGUID;
  ce::InjectDatabaseFault(ce::DbCall::kDeleteDatabase, ERROR_ACCESS_DENIED);
  ASSERT_TRUE(CeDatabase::DeleteDatabase(&pim, u"Appointments", true));
  bool found = false;
  EXPECT_TRUE(ReadRecords(&pim, u"Appointments", true, nullptr, &found).empty());
  EXPECT_TRUE(found);
  EXPECT_EQ(ReadRecords(&zero, u"Appointments", true).size(), 1u);

  // The selector decides which records go.
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Tasks"), 0u);
  AddRecords(u"Tasks", false, {{I4(1, 1)}, {I4(1, 2)}, {I4(1, 3)}, {I4(1, 4)}});
  std::vector<CEOID> before, after;
  ReadRecords(nullptr, u"Tasks", false, &before);
  OddIds odd;
  ASSERT_TRUE(CeDatabase::DeleteAllRecords(u"Tasks", false, odd));
  ReadRecords(nullptr, u"Tasks", false, &after);
  std::vector<CEOID> even;
  for (CEOID oid : before)
    if (oid % 2 == 0) even.push_back(oid);
  EXPECT_EQ(after, even);
}

}  // namespace
