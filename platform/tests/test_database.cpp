// Property databases: stores and names, records, information, definitions.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "DbTestKit.h"
#include "ce/database.h"
#include "ce/errors.h"
#include "cesim/database.h"
#include "testkit/TestDevice.h"

using namespace dbtest;

namespace {

class DatabaseTest : public ::testing::Test {
 protected:
  ~DatabaseTest() override { ce::ClearDatabaseFaults(); }

  CEGUID MountCedb(const char16_t* path) {
    CEGUID g{};
    EXPECT_TRUE(CeMountDBVol(&g, const_cast<LPWSTR>(path), OPEN_ALWAYS)) << GetLastError();
    return g;
  }
  CEGUID MountEdb(const char16_t* path) {
    CEGUID g{};
    EXPECT_TRUE(CeMountDBVolEx(&g, const_cast<LPWSTR>(path), nullptr, OPEN_ALWAYS)) << GetLastError();
    return g;
  }
  CEOID CreateCedb(CEGUID g, const char16_t* name, DWORD type = 0) {
    CEDBASEINFO info = CedbInfo(name, type);
    return CeCreateDatabaseEx(&g, &info);
  }
  CEOID CreateEdb(CEGUID g, const char16_t* name, std::vector<CEPROPSPEC> defs, DWORD type = 0) {
    CEDBASEINFOEX info = EdbInfo(name, type);
    return CeCreateDatabaseWithProps(&g, &info, static_cast<DWORD>(defs.size()), defs.data());
  }
  static CEOID Write(HANDLE h, std::vector<CEPROPVAL> vals, CEOID rec = 0) {
    return CeWriteRecordProps(h, rec, static_cast<WORD>(vals.size()), vals.data());
  }

  quilmo::test::TestDevice dev_;
};

TEST_F(DatabaseTest, ObjectStoreGuidsNameTheirGenerationsStore) {
  CEGUID cedb = CEDB_SYSTEMGUID, edb = EDB_SYSTEMGUID, zero = ZERO_CEGUID;
  ASSERT_NE(CreateCedb(cedb, u"Contacts"), 0u);
  // The same name in the other generation is another database.
  ASSERT_NE(CreateEdb(edb, u"contacts", {}), 0u);
  // A GUID of the other generation is refused.
  CEDBASEINFO info = CedbInfo(u"X");
  EXPECT_EQ(CeCreateDatabaseEx(&edb, &info), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  HANDLE h = OpenEdb(cedb, u"contacts");
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // Zero bytes: the call's own object store; names ignore case.
  h = OpenCedb(zero, u"CONTACTS");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  BY_HANDLE_DB_INFORMATION bh{};
  ASSERT_TRUE(CeGetDBInformationByHandle(h, &bh));
  EXPECT_EQ(bh.wVersion, 1);
  EXPECT_TRUE(CeGuidEqual(bh.guidVol, ZERO_CEGUID));
  EXPECT_EQ(std::u16string(bh.infDatabase.szDbaseName), u"Contacts");
  CloseHandle(h);
  h = OpenEdb(zero, u"Contacts");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(CeGetDBInformationByHandle(h, &bh));
  EXPECT_EQ(bh.wVersion, 2);
  EXPECT_EQ(std::u16string(bh.infDatabase.szDbaseName), u"contacts");
  CloseHandle(h);
}

TEST_F(DatabaseTest, OpeningAMissingDatabaseGivesAnInvalidHandleAnd259) {
  HANDLE h = OpenCedb(CEDB_SYSTEMGUID, u"Nowhere");
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  CEGUID g = CEDB_SYSTEMGUID;
  CEOID oid = 12345;
  EXPECT_EQ(CeOpenDatabaseEx2(&g, &oid, nullptr, nullptr, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
}

TEST_F(DatabaseTest, OpenByNameSearchesTheObjectStoreThenVolumesInMountOrder) {
  CEGUID v1 = MountCedb(u"\\one.vol"), v2 = MountCedb(u"\\two.vol");
  CEOID inTwo = CreateCedb(v2, u"Shared");
  ASSERT_NE(inTwo, 0u);
  CEOID onlyTwo = CreateCedb(v2, u"OnlyTwo");
  ASSERT_NE(CreateCedb(v1, u"Shared"), 0u);
  // The first mounted volume wins over the second.
  HANDLE h = OpenCedb(CEDB_SYSTEMGUID, u"shared");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  BY_HANDLE_DB_INFORMATION bh{};
  ASSERT_TRUE(CeGetDBInformationByHandle(h, &bh));
  EXPECT_TRUE(CeGuidEqual(bh.guidVol, v1));
  CloseHandle(h);
  // A name only the second volume has: its real GUID and OID.
  CEGUID sys = CEDB_SYSTEMGUID;
  CEOID oid = 0;
  h = CeOpenDatabaseEx2(&sys, &oid, const_cast<LPWSTR>(u"OnlyTwo"), nullptr, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(oid, onlyTwo);
  ASSERT_TRUE(CeGetDBInformationByHandle(h, &bh));
  EXPECT_TRUE(CeGuidEqual(bh.guidVol, v2));
  EXPECT_EQ(bh.oidDbase, onlyTwo);
  CloseHandle(h);
  // The object store comes first.
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Shared"), 0u);
  h = OpenCedb(CEDB_SYSTEMGUID, u"Shared");
  ASSERT_TRUE(CeGetDBInformationByHandle(h, &bh));
  EXPECT_TRUE(CeGuidEqual(bh.guidVol, ZERO_CEGUID));
  CloseHandle(h);
  // The zero GUID is the object store alone; a volume GUID that volume
  // alone; EDB calls never see CEDB volumes.
  EXPECT_EQ(OpenCedb(ZERO_CEGUID, u"OnlyTwo"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenCedb(v1, u"OnlyTwo"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenEdb(EDB_SYSTEMGUID, u"OnlyTwo"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenEdb(v2, u"OnlyTwo"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(DatabaseTest, CreateChecksNamesAndSortOrders) {
  CEOID first = CreateCedb(CEDB_SYSTEMGUID, u"Tasks");
  ASSERT_NE(first, 0u);
  EXPECT_EQ(CreateCedb(CEDB_SYSTEMGUID, u"TASKS"), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  // 31 characters fit the older form, 32 do not.
  EXPECT_NE(CreateCedb(CEDB_SYSTEMGUID, u"abcdefghijklmnopqrstuvwxyz01234"), 0u);
  CEDBASEINFO tooLong{};
  tooLong.dwFlags = CEDB_VALIDNAME;
  for (WCHAR& c : tooLong.szDbaseName) c = u'x';
  EXPECT_EQ(CeCreateDatabaseEx(nullptr, &tooLong), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CEDBASEINFO sorts = CedbInfo(u"Sorted");
  sorts.dwFlags |= CEDB_VALIDSORTSPEC;
  sorts.wNumSortOrder = 5;
  EXPECT_EQ(CeCreateDatabaseEx(nullptr, &sorts), 0u);
  sorts.wNumSortOrder = 2;
  sorts.rgSortSpecs[0] = {MAKE_CEPROPID(1, CEVT_LPWSTR), CEDB_SORT_CASEINSENSITIVE};
  sorts.rgSortSpecs[1] = {MAKE_CEPROPID(2, CEVT_FILETIME), CEDB_SORT_DESCENDING};
  CEOID sorted = CeCreateDatabaseEx(nullptr, &sorts);
  ASSERT_NE(sorted, 0u);
  // Sort orders are carried, and refused when opening.
  CEGUID g = CEDB_SYSTEMGUID;
  CEOIDINFO oi{};
  ASSERT_TRUE(CeOidGetInfoEx(&g, sorted, &oi));
  EXPECT_EQ(oi.infDatabase.wNumSortOrder, 2);
  EXPECT_EQ(oi.infDatabase.rgSortSpecs[1].propid, MAKE_CEPROPID(2, CEVT_FILETIME));
  SORTORDERSPECEX sort{};
  CEOID oid = 0;
  EXPECT_EQ(CeOpenDatabaseEx2(&g, &oid, const_cast<LPWSTR>(u"Sorted"), &sort, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

TEST_F(DatabaseTest, RecordsComeInCreationOrderAndReplaceInPlace) {
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Notes"), 0u);
  HANDLE h = OpenCedb(CEDB_SYSTEMGUID, u"Notes", 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CEOID a = Write(h, {I4(1, 10), Text(2, u"first")});
  CEOID b = Write(h, {I4(1, 20)});
  CEOID c = Write(h, {I4(1, 30)});
  ASSERT_TRUE(a && b && c);
  // Same id in place, others appended.
  ASSERT_EQ(Write(h, {Text(3, u"new"), I4(1, 11)}, a), a);
  EXPECT_EQ(CeSeekDatabaseEx(h, CEDB_SEEK_BEGINNING, 0, 0, nullptr), a);
  CEOID got = 0;
  std::vector<Value> props = ReadAll(h, &got);
  EXPECT_EQ(got, a);
  ASSERT_EQ(props.size(), 3u);
  EXPECT_EQ(props[0], FromProp(I4(1, 11)));
  EXPECT_EQ(props[1].id, MAKE_CEPROPID(2, CEVT_LPWSTR));
  EXPECT_EQ(props[2].bytes, Bytes(u"new", 6));
  // Without auto-increment the current record stays.
  ReadAll(h, &got);
  EXPECT_EQ(got, a);
  DWORD index = 99;
  EXPECT_EQ(CeSeekDatabaseEx(h, CEDB_SEEK_CURRENT, 2, 0, &index), c);
  EXPECT_EQ(index, 2u);
  EXPECT_EQ(CeSeekDatabaseEx(h, CEDB_SEEK_CURRENT, static_cast<DWORD>(-1), 0, nullptr), b);
  EXPECT_EQ(CeSeekDatabaseEx(h, CEDB_SEEK_CEOID, c, 0, nullptr), c);
  EXPECT_EQ(CeSeekDatabaseEx(h, CEDB_SEEK_END, 0, 0, nullptr), c);
  // Past the end and unknown ids: 0 and 259, the current record kept.
  EXPECT_EQ(CeSeekDatabaseEx(h, CEDB_SEEK_CURRENT, 1, 0, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(CeSeekDatabaseEx(h, CEDB_SEEK_CEOID, c + 1000, 0, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  ReadAll(h, &got);
  EXPECT_EQ(got, c);
  EXPECT_EQ(CeSeekDatabaseEx(h, CEDB_SEEK_VALUEFIRSTEQUAL, 0, 1, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  // A deleted record's successor becomes current; another handle sees the
  // same order.
  ASSERT_TRUE(CeDeleteRecord(h, b));
  EXPECT_FALSE(CeDeleteRecord(h, b));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  HANDLE h2 = OpenCedb(CEDB_SYSTEMGUID, u"Notes");
  std::vector<CEOID> order;
  for (;;) {
    ReadAll(h2, &got);
    if (!got) break;
    order.push_back(got);
  }
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(order, (std::vector<CEOID>{a, c}));
  CloseHandle(h2);
  CloseHandle(h);
}

TEST_F(DatabaseTest, EveryValueReadsBackByteForByte) {
  std::vector<CEPROPSPEC> defs;
  const WORD types[] = {CEVT_I2, CEVT_UI2, CEVT_I4, CEVT_UI4, CEVT_R8, CEVT_R8, CEVT_BOOL, CEVT_FILETIME,
                        CEVT_LPWSTR, CEVT_LPWSTR, CEVT_BLOB, CEVT_BLOB, CEVT_STREAM, CEVT_RECID};
  for (WORD i = 0; i < std::size(types); ++i) defs.push_back(Def(MAKE_CEPROPID(i + 1, types[i])));
  ASSERT_NE(CreateEdb(EDB_SYSTEMGUID, u"Edges", defs), 0u);
  std::vector<CEPROPVAL> vals(std::size(types));
  for (WORD i = 0; i < vals.size(); ++i) vals[i].propid = defs[i].propid;
  vals[0].val.iVal = std::numeric_limits<SHORT>::min();
  vals[1].val.uiVal = 0xFFFF;
  vals[2].val.lVal = std::numeric_limits<LONG>::min();
  vals[3].val.ulVal = 0xFFFFFFFF;
  vals[4].val.dblVal = std::numeric_limits<double>::quiet_NaN();
  vals[5].val.dblVal = -0.0;
  vals[6].val.boolVal = 0x7F;
  vals[7].val.filetime = FILETIME{0, 0};
  vals[8].val.lpwstr = const_cast<LPWSTR>(u"");
  vals[9].val.lpwstr = const_cast<LPWSTR>(u"\u00e9\u65e5\U0001F600");
  vals[10].val.blob = {0, nullptr};
  std::string big(70000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  vals[11].val.blob = {static_cast<DWORD>(big.size()), reinterpret_cast<LPBYTE>(big.data())};
  std::string stream = "stream bytes";
  vals[12].val.blob = {static_cast<DWORD>(stream.size()), reinterpret_cast<LPBYTE>(stream.data())};
  vals[13].val.ulVal = 0xDEADBEEF;
  HANDLE h = OpenEdb(EDB_SYSTEMGUID, u"Edges");
  ASSERT_NE(Write(h, vals), 0u);
  std::vector<Value> back = ReadAll(h);
  ASSERT_EQ(back.size(), vals.size());
  for (size_t i = 0; i < vals.size(); ++i) EXPECT_EQ(back[i], FromProp(vals[i])) << "property " << i;
  uint64_t nan = 0;
  std::memcpy(&nan, back[4].bytes.data(), 8);
  EXPECT_TRUE(std::isnan(std::bit_cast<double>(nan)));
  CloseHandle(h);
}

TEST_F(DatabaseTest, ReadGrowsTheCallersBufferOrRefusesWithoutReallocation) {
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Mail"), 0u);
  HANDLE h = OpenCedb(CEDB_SYSTEMGUID, u"Mail", 0);
  std::string body(5000, 'b');
  ASSERT_NE(Write(h, {Blob(1, body), Text(2, u"subject")}), 0u);
  DWORD size = 16;
  LPBYTE small = static_cast<LPBYTE>(LocalAlloc(LMEM_FIXED, size));
  WORD count = 0;
  EXPECT_EQ(CeReadRecordPropsEx(h, 0, &count, nullptr, &small, &size, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_GT(size, 5000u);
  size = 16;
  ASSERT_NE(CeReadRecordPropsEx(h, CEDB_ALLOWREALLOC, &count, nullptr, &small, &size, nullptr), 0u);
  EXPECT_EQ(count, 2);
  EXPECT_GE(LocalSize(small), size);
  auto* vals = reinterpret_cast<CEPROPVAL*>(small);
  EXPECT_EQ(Bytes(vals[0].val.blob.lpb, vals[0].val.blob.dwCount), body);
  // Asking for properties by id: a missing one is flagged.
  CEPROPID ids[] = {MAKE_CEPROPID(2, CEVT_LPWSTR), MAKE_CEPROPID(9, CEVT_I4)};
  count = 2;
  ASSERT_NE(CeReadRecordPropsEx(h, CEDB_ALLOWREALLOC, &count, ids, &small, &size, nullptr), 0u);
  vals = reinterpret_cast<CEPROPVAL*>(small);
  EXPECT_EQ(std::u16string(vals[0].val.lpwstr), u"subject");
  EXPECT_EQ(vals[1].wFlags, CEDB_PROPNOTFOUND);
  EXPECT_EQ(vals[1].propid, ids[1]);
  LocalFree(small);
  // A heap other than the local one is not taken.
  LPBYTE none = nullptr;
  size = 0;
  EXPECT_EQ(CeReadRecordPropsEx(h, CEDB_ALLOWREALLOC, &count, nullptr, &none, &size, h), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CloseHandle(h);
}

TEST_F(DatabaseTest, TypesAreCheckedPerGeneration) {
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Old"), 0u);
  ASSERT_NE(CreateEdb(EDB_SYSTEMGUID, u"New", {Def(MAKE_CEPROPID(1, CEVT_I4))}), 0u);
  HANDLE old = OpenCedb(CEDB_SYSTEMGUID, u"Old");
  CEPROPVAL stream = Blob(1, "s", CEVT_STREAM);
  EXPECT_EQ(Write(old, {stream}), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CEPROPVAL odd{};
  odd.propid = MAKE_CEPROPID(1, 7);
  EXPECT_EQ(Write(old, {odd}), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  HANDLE edb = OpenEdb(EDB_SYSTEMGUID, u"New");
  EXPECT_NE(Write(edb, {I4(1, 5)}), 0u);
  EXPECT_EQ(Write(edb, {I4(2, 5)}), 0u);  // not declared
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CloseHandle(old);
  CloseHandle(edb);
}

TEST_F(DatabaseTest, AutoIncrementValuesComeFromTheDatabaseAndFollowTheWrittenOnes) {
  const CEPROPID a4 = MAKE_CEPROPID(1, CEVT_AUTO_I4), a8 = MAKE_CEPROPID(2, CEVT_AUTO_I8);
  ASSERT_NE(CreateEdb(EDB_SYSTEMGUID, u"Counted", {Def(a4), Def(MAKE_CEPROPID(3, CEVT_I4)), Def(a8)}), 0u);
  HANDLE h = OpenEdb(EDB_SYSTEMGUID, u"Counted", 0);
  CEPROPVAL given{};
  given.propid = a4;
  given.val.lVal = 777;  // ignored
  CEOID r1 = Write(h, {given, I4(3, 1)});
  CEOID r2 = Write(h, {});
  ASSERT_TRUE(r1 && r2);
  ASSERT_TRUE(CeDeleteRecord(h, r2));
  CEOID r3 = Write(h, {I4(3, 3)});
  CeSeekDatabaseEx(h, CEDB_SEEK_CEOID, r1, 0, nullptr);
  std::vector<Value> p = ReadAll(h);
  ASSERT_EQ(p.size(), 3u);
  EXPECT_EQ(p[0].id, MAKE_CEPROPID(3, CEVT_I4));
  EXPECT_EQ(p[1].id, a4);
  EXPECT_EQ(p[1].bytes, std::string("\x01\0\0\0", 4));
  EXPECT_EQ(p[2].id, a8);
  EXPECT_EQ(p[2].bytes, std::string("\x01\0\0\0\0\0\0\0", 8));
  // Never reused: the deleted record's 2 is not handed out again.
  CeSeekDatabaseEx(h, CEDB_SEEK_CEOID, r3, 0, nullptr);
  p = ReadAll(h);
  ASSERT_EQ(p.size(), 3u);
  EXPECT_EQ(p[1].bytes, std::string("\x03\0\0\0", 4));
  // Rewriting a record keeps its values, whatever is given.
  given.val.lVal = 999;
  ASSERT_EQ(Write(h, {given}, r3), r3);
  p = ReadAll(h);
  EXPECT_EQ(p[1].bytes, std::string("\x03\0\0\0", 4));
  CloseHandle(h);
}

TEST_F(DatabaseTest, AutoIncrementOpenFlagMovesOnAfterEachRead) {
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Walk"), 0u);
  HANDLE h = OpenCedb(CEDB_SYSTEMGUID, u"Walk", CEDB_AUTOINCREMENT);
  CEOID a = Write(h, {I4(1, 1)}), b = Write(h, {I4(1, 2)});
  CEOID got = 0;
  ReadAll(h, &got);
  EXPECT_EQ(got, a);
  ReadAll(h, &got);
  EXPECT_EQ(got, b);
  ReadAll(h, &got);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  CloseHandle(h);
}

TEST_F(DatabaseTest, DeletingADatabaseInvalidatesItsHandles) {
  CEOID oid = CreateCedb(CEDB_SYSTEMGUID, u"Gone");
  HANDLE h = OpenCedb(CEDB_SYSTEMGUID, u"Gone");
  ASSERT_NE(Write(h, {I4(1, 1)}), 0u);
  CEGUID g = CEDB_SYSTEMGUID;
  ASSERT_TRUE(CeDeleteDatabaseEx(&g, oid));
  EXPECT_EQ(Write(h, {I4(1, 2)}), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(CeSeekDatabaseEx(h, CEDB_SEEK_BEGINNING, 0, 0, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  BY_HANDLE_DB_INFORMATION bh{};
  EXPECT_FALSE(CeGetDBInformationByHandle(h, &bh));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CeDeleteDatabaseEx(&g, oid));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // The name is free again, under a new OID.
  CEOID again = CreateCedb(CEDB_SYSTEMGUID, u"Gone");
  EXPECT_GT(again, oid);
}

TEST_F(DatabaseTest, FindListsOneStoresDatabasesInCreationOrder) {
  CEGUID vol = MountCedb(u"\\f.vol");
  CEOID x = CreateCedb(CEDB_SYSTEMGUID, u"X", 5), y = CreateCedb(CEDB_SYSTEMGUID, u"Y", 6);
  CEOID z = CreateCedb(CEDB_SYSTEMGUID, u"Z", 5);
  ASSERT_NE(CreateCedb(vol, u"InVolume"), 0u);
  ASSERT_NE(CreateEdb(EDB_SYSTEMGUID, u"OtherGeneration", {}), 0u);
  auto list = [](CEGUID g, DWORD type) {
    std::vector<CEOID> out;
    HANDLE f = CeFindFirstDatabaseEx(&g, type);
    EXPECT_NE(f, INVALID_HANDLE_VALUE);
    CEGUID where{};
    while (CEOID o = CeFindNextDatabaseEx(f, &where)) out.push_back(o);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    CloseHandle(f);
    return out;
  };
  EXPECT_EQ(list(CEDB_SYSTEMGUID, 0), (std::vector<CEOID>{x, y, z}));
  EXPECT_EQ(list(ZERO_CEGUID, 5), (std::vector<CEOID>{x, z}));
  EXPECT_EQ(list(vol, 0).size(), 1u);
  // Failures on demand: out of memory at the start of the walk.
  ce::InjectDatabaseFault(ce::DbCall::kFindFirst, ERROR_OUTOFMEMORY);
  CEGUID g = CEDB_SYSTEMGUID;
  EXPECT_EQ(CeFindFirstDatabaseEx(&g, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OUTOFMEMORY));
  EXPECT_EQ(list(CEDB_SYSTEMGUID, 0).size(), 3u);
}

TEST_F(DatabaseTest, ObjectInformationInBothForms) {
  CEDBASEINFO in = CedbInfo(u"Calendar", 0x42);
  in.dwFlags |= CEDB_VALIDSORTSPEC | CEDB_VALIDDBFLAGS;
  in.dwFlags |= CEDB_SYSTEMDB;
  in.wNumSortOrder = 1;
  in.rgSortSpecs[0] = {MAKE_CEPROPID(4, CEVT_FILETIME), CEDB_SORT_DESCENDING};
  CEGUID g = CEDB_SYSTEMGUID;
  CEOID db = CeCreateDatabaseEx(&g, &in);
  HANDLE h = OpenCedb(g, u"Calendar");
  CEOID rec = Write(h, {I4(1, 1)});
  ASSERT_NE(Write(h, {Text(2, u"abc")}), 0u);
  CEOIDINFO oi;
  std::memset(&oi, 0xAB, sizeof oi);
  ASSERT_TRUE(CeOidGetInfoEx(&g, db, &oi));
  EXPECT_EQ(oi.wObjType, OBJTYPE_DATABASE);
  EXPECT_EQ(oi.wPad, 0);
  EXPECT_EQ(std::u16string(oi.infDatabase.szDbaseName), u"Calendar");
  EXPECT_EQ(oi.infDatabase.dwDbaseType, 0x42u);
  EXPECT_EQ(oi.infDatabase.wNumRecords, 2);
  EXPECT_EQ(oi.infDatabase.dwFlags & ~CEDB_VALIDMASK, static_cast<DWORD>(CEDB_SYSTEMDB));
  // The unused bytes of the union are zero.
  const auto* raw = reinterpret_cast<const unsigned char*>(&oi);
  for (size_t i = 4 + sizeof(CEDBASEINFO); i < sizeof oi; ++i) ASSERT_EQ(raw[i], 0) << i;
  ASSERT_TRUE(CeOidGetInfoEx(&g, rec, &oi));
  EXPECT_EQ(oi.wObjType, OBJTYPE_RECORD);
  EXPECT_EQ(oi.infRecord.oidParent, db);
  EXPECT_FALSE(CeOidGetInfoEx(&g, db + 1000, &oi));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // The handle's information: the common form with exact counts.
  BY_HANDLE_DB_INFORMATION bh;
  std::memset(&bh, 0xCD, sizeof bh);
  ASSERT_TRUE(CeGetDBInformationByHandle(h, &bh));
  EXPECT_EQ(bh.wVersion, 1);
  EXPECT_EQ(bh.wReserved, 0);
  EXPECT_EQ(bh.oidDbase, db);
  EXPECT_EQ(bh.infDatabase.dwNumRecords, 2u);
  EXPECT_EQ(bh.infDatabase.wNumSortOrder, 1);
  EXPECT_EQ(bh.infDatabase.rgSortSpecs[0].wNumProps, 1);
  EXPECT_EQ(bh.infDatabase.rgSortSpecs[0].rgPropID[0], MAKE_CEPROPID(4, CEVT_FILETIME));
  EXPECT_EQ(bh.infDatabase.rgSortSpecs[1].wNumProps, 0);
  CloseHandle(h);
  // EDB: version 2, the database as the 2464-byte common form.
  CEOID edb = CreateEdb(EDB_SYSTEMGUID, u"Appointments", {}, 7);
  CEGUID eg = EDB_SYSTEMGUID;
  CEOIDINFOEX ox{};
  EXPECT_FALSE(CeOidGetInfoEx2(&eg, edb, &ox));  // the caller names the version
  ox.wVersion = CEOIDINFOEX_VERSION;
  ASSERT_TRUE(CeOidGetInfoEx2(&eg, edb, &ox));
  EXPECT_EQ(ox.wObjType, OBJTYPE_DATABASE);
  EXPECT_EQ(ox.infDatabase.wVersion, 2);
  EXPECT_EQ(ox.infDatabase.dwDbaseType, 7u);
  // The CEDB database is no EDB object.
  EXPECT_FALSE(CeOidGetInfoEx2(&eg, db, &ox));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(DatabaseTest, SetInformationChangesWhatItsBitsName) {
  CEOID a = CreateCedb(CEDB_SYSTEMGUID, u"A", 1);
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"B", 2), 0u);
  CEGUID g = CEDB_SYSTEMGUID;
  CEDBASEINFO change = CedbInfo(u"b", 9);
  EXPECT_FALSE(CeSetDatabaseInfoEx(&g, a, &change));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  change.dwFlags = CEDB_VALIDTYPE | CEDB_VALIDMODTIME;
  change.ftLastModified = FILETIME{123, 456};
  ASSERT_TRUE(CeSetDatabaseInfoEx(&g, a, &change));
  CEOIDINFO oi{};
  ASSERT_TRUE(CeOidGetInfoEx(&g, a, &oi));
  EXPECT_EQ(std::u16string(oi.infDatabase.szDbaseName), u"A");
  EXPECT_EQ(oi.infDatabase.dwDbaseType, 9u);
  EXPECT_EQ(oi.infDatabase.ftLastModified.dwHighDateTime, 456u);
}

TEST_F(DatabaseTest, EdbDefinitionsCanBeReadAddedAndRemoved) {
  const CEPROPID name = MAKE_CEPROPID(1, CEVT_LPWSTR), age = MAKE_CEPROPID(2, CEVT_I4);
  CEOID db = CreateEdb(EDB_SYSTEMGUID, u"People", {Def(name, u"Name"), Def(age, u"Age")});
  ASSERT_NE(db, 0u);
  HANDLE h = OpenEdb(EDB_SYSTEMGUID, u"People");
  CEOID rec = Write(h, {Text(1, u"Pat"), I4(2, 40)});
  WORD count = 0;
  ASSERT_TRUE(CeGetDatabaseProps(h, &count, nullptr, nullptr));
  EXPECT_EQ(count, 2);
  std::vector<CEPROPSPEC> specs(2);
  std::vector<std::u16string> names(2, std::u16string(129, u'\0'));
  for (int i = 0; i < 2; ++i) {
    specs[i].pwszPropName = names[i].data();
    specs[i].cchPropName = 129;
  }
  count = 1;
  EXPECT_FALSE(CeGetDatabaseProps(h, &count, nullptr, specs.data()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(count, 2);
  ASSERT_TRUE(CeGetDatabaseProps(h, &count, nullptr, specs.data()));
  EXPECT_EQ(specs[1].propid, age);
  EXPECT_EQ(std::u16string(names[1].c_str()), u"Age");
  CEGUID g = EDB_SYSTEMGUID;
  // An identical definition again is fine; a different one is not.
  CEPROPSPEC same = Def(age, u"Age"), other = Def(age, u"Years");
  EXPECT_TRUE(CeAddDatabaseProps(&g, db, &same, 1));
  EXPECT_FALSE(CeAddDatabaseProps(&g, db, &other, 1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CEPROPID absent = MAKE_CEPROPID(7, CEVT_I4);
  EXPECT_FALSE(CeRemoveDatabaseProps(&g, db, 1, &absent));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));
  CEPROPID drop = age;
  ASSERT_TRUE(CeRemoveDatabaseProps(&g, db, 1, &drop));
  CeSeekDatabaseEx(h, CEDB_SEEK_CEOID, rec, 0, nullptr);
  std::vector<Value> p = ReadAll(h);
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(p[0].id, name);
  count = 1;
  EXPECT_FALSE(CeGetDatabaseProps(h, &count, &drop, specs.data()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));
  // A CEDB database has no definitions.
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Plain"), 0u);
  HANDLE plain = OpenCedb(CEDB_SYSTEMGUID, u"Plain");
  EXPECT_FALSE(CeGetDatabaseProps(plain, &count, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CloseHandle(plain);
  CloseHandle(h);
}

TEST_F(DatabaseTest, AMalformedStoredRecordFailsItsRead) {
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Broken"), 0u);
  HANDLE h = OpenCedb(CEDB_SYSTEMGUID, u"Broken", 0);
  CEOID a = Write(h, {Text(1, u"intact")});
  CEOID b = Write(h, {I4(1, 2)});
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open((dev_.dir() / "objectstore.db").c_str(), &raw), SQLITE_OK);
  // A length that runs past the end of the stored record.
  std::string sql = "UPDATE record SET data = x'1f000100ffff0000' WHERE oid = " + std::to_string(a);
  ASSERT_EQ(sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(raw);
  CEOID got = 0;
  ReadAll(h, &got);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_CORRUPT));
  EXPECT_EQ(CeSeekDatabaseEx(h, CEDB_SEEK_CEOID, b, 0, nullptr), b);
  ReadAll(h, &got);
  EXPECT_EQ(got, b);
  CloseHandle(h);
}

}  // namespace
