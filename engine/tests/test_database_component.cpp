// The database component: its groups and databases in the content tree,
// the entries it writes, round trips of every value type in both
// interfaces, and the backup's and restore's edge cases.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "ce/database.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "cesim/database.h"
#include "core/Log.h"
#include "database_image_util.h"
#include "engine/CeDatabase.h"
#include "engine/DatabaseComponent.h"
#include "engine/FileSystemComponent.h"
#include "engine/Global.h"
#include "engine/ImagingTask.h"
#include "image/ImageFile.h"
#include "testkit/TaskSetup.h"

using namespace dbtest;

namespace {

constexpr WORD kLevelWarning = 1;
constexpr WORD kLevelError = 2;

// Lists the given files as the database volumes node's children.
class VolumeFiles : public IndexComponent {
 public:
  void PopulateChildren(Index& index, int node, bool selected) override {
    std::vector<Index::Item> items;
    for (const auto& file : files) {
      Index::Item item;
      item.ComponentType = TREE_DBVOLUME_FILE;
      item.name = file;
      item.selected = selected ? 1 : 0;
      items.push_back(item);
    }
    index.AddChildren(node, items);
  }
  ULONGLONG ImageSize(Index&, int) override { return 0; }
  std::vector<std::u16string> files;
};

std::vector<Record> Reversed(std::vector<Record> records) {
  std::reverse(records.begin(), records.end());
  return records;
}

// The record without its auto-increment values (the device gives new ones).
std::vector<Record> WithoutAutoValues(std::vector<Record> records) {
  for (Record& r : records)
    r.erase(std::remove_if(r.begin(), r.end(),
                           [](const Value& v) {
                             WORD t = TypeFromPropID(v.id);
                             return t == CEVT_AUTO_I4 || t == CEVT_AUTO_I8;
                           }),
            r.end());
  return records;
}

DWORD Crc(DWORD crc, const void* p, size_t n) {
  return static_cast<DWORD>(crc32(crc, static_cast<const Bytef*>(p), static_cast<uInt>(n)));
}

DWORD Le32(const std::string& s, size_t at) {
  DWORD v = 0;
  std::memcpy(&v, s.data() + at, 4);
  return v;
}

class DatabaseComponentTest : public DatabaseImageTest {};

TEST_F(DatabaseComponentTest, GroupsAreTheObjectStoreAndMountedVolumesWithFiles) {
  dev.MakeDir(u"\\My Documents");
  CEGUID notes = MountCedb(u"\\My Documents\\notes.vol");
  MountCedb(u"\\b.vol");
  CEGUID pim = MountEdb(u"\\pim.vol");
  MountCedb(u"\\cemail.vol");
  MountCedb(u"\\ReplStorVol");
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Contacts"), 0u);
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Appointments"), 0u);
  ASSERT_NE(CreateEdb(EDB_SYSTEMGUID, u"Hidden", {}), 0u);  // no group reaches the EDB object store
  ASSERT_NE(CreateCedb(notes, u"Notes"), 0u);
  ASSERT_NE(CreateEdb(pim, u"Tasks", {}), 0u);
  BuildTree();

  const int top = index.FindChildOfType(TREE_DATABASES);
  std::vector<std::pair<std::u16string, DWORD>> groups;
  for (int c = index.FirstChild(top); c != -1; c = index.NextSibling(c)) {
    EXPECT_EQ(index.NodeType(c), static_cast<DWORD>(TREE_DATABASE_GROUP));
    groups.push_back({index.NodeName(c), index.UserData(c)});
  }
  const std::vector<std::pair<std::u16string, DWORD>> expected = {
      {u"\\b.vol", 0}, {u"\\Documents and Settings\\default.vol", 0}, {u"\\My Documents\\notes.vol", 0},
      {u"\\pim.vol", 1}};
  EXPECT_EQ(groups, expected);
  int contacts = DatabaseNode(u"\\Documents and Settings\\default.vol", u"Contacts");
  ASSERT_NE(contacts, -1);
  EXPECT_EQ(contacts + 1, DatabaseNode(u"\\Documents and Settings\\default.vol", u"Appointments"));
  EXPECT_EQ(index.UserData(DatabaseNode(u"\\pim.vol", u"Tasks")), kDatabaseUserDataEdb);
  EXPECT_NE(DatabaseNode(u"\\My Documents\\notes.vol", u"Notes"), -1);
  EXPECT_EQ(index.FirstChild(Group(u"\\b.vol")), -1);
  EXPECT_TRUE(index.IsPopulated(Group(u"\\b.vol")));
  EXPECT_TRUE(ADatabaseComponent::HasVolumeGroup(index, u"\\pim.vol"));
  EXPECT_FALSE(ADatabaseComponent::HasVolumeGroup(index, u"\\PIM.vol"));

  // A deselected node lists its children deselected; the volumes stored as
  // files by the database volumes component are no groups.
  VolumeFiles volumes;
  volumes.files = {u"\\pim.vol", u"\\My Documents\\notes.vol"};
  index.SetComponent(IndexOwner::DatabaseVolumes, &volumes);
  index.Reset();
  IncludedKinds none{false, false, false, false};
  index.AddTopLevelComponents(&none);
  index.PopulateChildren(index.FindChildOfType(TREE_DATABASES), false);
  groups.clear();
  for (int c = index.FirstChild(index.FindChildOfType(TREE_DATABASES)); c != -1; c = index.NextSibling(c)) {
    EXPECT_FALSE(index.IsSelected(c));
    groups.push_back({index.NodeName(c), index.UserData(c)});
  }
  EXPECT_EQ(groups, (std::vector<std::pair<std::u16string, DWORD>>{
                        {u"\\b.vol", 0}, {u"\\Documents and Settings\\default.vol", 0}}));

  // A failing volume walk keeps the groups found so far (the first one
  // mounted).
  index.SetComponent(IndexOwner::DatabaseVolumes, nullptr);
  ce::InjectDatabaseFault(ce::DbCall::kEnumVolumes, ERROR_OUTOFMEMORY, 1, 1);
  BuildTree();
  EXPECT_TRUE(Logged("GetMountedVolumePaths INVALIDGUID, failed"));
  EXPECT_NE(Group(u"\\My Documents\\notes.vol"), -1);
  EXPECT_EQ(Group(u"\\b.vol"), -1);
}

// The file walk leaves a group's volume file out even when it lists its
// folders before the databases node has been listed.
TEST_F(DatabaseComponentTest, FileWalkLeavesGroupVolumesOut) {
  dev.MakeDir(u"\\My Documents");
  dev.PutFile(u"\\My Documents\\letter.txt", "hello");
  MountCedb(u"\\My Documents\\notes.vol");
  FileSystemContext context;
  context.index = &index;
  AFileSystemComponent files(context);
  files.Register();
  index.Reset();
  index.AddTopLevelComponents(static_cast<const IncludedKinds*>(nullptr));
  index.PopulateSelected();
  std::vector<std::u16string> listed;
  int fs = index.FindChildOfType(TREE_FILESYSTEM);
  for (int n = index.NextInSubtree(fs, fs); n != -1; n = index.NextInSubtree(fs, n)) listed.push_back(index.NodeName(n));
  EXPECT_NE(std::find(listed.begin(), listed.end(), u"\\My Documents\\letter.txt"), listed.end());
  EXPECT_EQ(std::find(listed.begin(), listed.end(), u"\\My Documents\\notes.vol"), listed.end());
  EXPECT_NE(Group(u"\\My Documents\\notes.vol"), -1);
  index.SetComponent(IndexOwner::FileSystem, nullptr);
}

// Entry layout: header words, the value records without pointers, the
// record crc and size, the records from the last to the first.
TEST_F(DatabaseComponentTest, EntriesHoldTheRecordsLastFirstInTheirStoredForm) {
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Fmt", 5), 0u);
  AddRecords(u"Fmt", false, {{I4(1, 77)}, {Text(2, u"Hello")}, {Blob(3, "")}});
  std::vector<CEOID> oids;
  ReadRecords(nullptr, u"Fmt", false, &oids);
  CEGUID pim = MountEdb(u"\\pim.vol");
  ASSERT_NE(CreateEdb(pim, u"Bare", {}), 0u);
  ASSERT_NE(CreateEdb(pim, u"Defined", {Def(MAKE_CEPROPID(1, CEVT_I4), u"Count", DB_PROP_NOTNULL),
                                        Def(MAKE_CEPROPID(2, CEVT_LPWSTR))}),
            0u);
  BuildTree();
  const int fmt = DatabaseNode(u"\\Documents and Settings\\default.vol", u"Fmt");
  // 80 + 2464, then per record 80 + 16 | 2 x (5 + 11) | 0 + 16.
  EXPECT_EQ(component.ImageSize(index, fmt), 80u + 2464 + 3 * 80 + 16 + 32 + 16);
  EXPECT_EQ(GetDatabasesSize(index), component.ImageSize(index, fmt) + 2 * (80 + 2464));
  ASSERT_TRUE(Backup());

  std::vector<Entry> entries = ReadEntries();
  ASSERT_EQ(entries.size(), 6u);
  const Entry& db = entries[0];
  EXPECT_EQ(db.header.ComponentType(), 30u);
  EXPECT_EQ(db.header.FixedPartSize(), 2464u);
  EXPECT_EQ(db.header.CountOrValue(), 0u);
  EXPECT_EQ(db.header.NameByteLength(), 22u);  // "SystemHeap" and its NUL
  EXPECT_EQ(db.header.CRCSum(), Crc(0, db.body.data(), 2464));
  EXPECT_EQ(db.body.size(), 2464u + 22);  // CEDB: no definitions
  EXPECT_EQ(db.body.substr(2464), std::string("S\0y\0s\0t\0e\0m\0H\0e\0a\0p\0\0\0", 22));
  EXPECT_EQ(index.NodeInfo(fmt).fileOffset, 0u);
  EXPECT_EQ(index.NodeInfo(fmt).crcValue, db.header.CRCSum());
  EXPECT_NE(index.NodeInfo(fmt).OID, 0u);

  // C (the empty blob), B (the text), A (the number).
  const Entry& c = entries[1];
  EXPECT_EQ(c.header.RecordId(), oids[2]);
  EXPECT_EQ(c.header.FixedPartSize(), 16u);
  EXPECT_EQ(c.body, std::string("\x41\0\x03\0\0\0\0\0\0\0\0\0\0\0\0\0", 16));
  const Entry& b = entries[2];
  EXPECT_EQ(b.header.RecordId(), oids[1]);
  EXPECT_EQ(b.header.CountOrValue(), 1u);
  EXPECT_EQ(b.header.FixedPartSize(), 32u);  // 16 + 4 + 12
  EXPECT_EQ(b.body.substr(0, 20), std::string("\x1F\0\x02\0\0\0\0\0\0\0\0\0\0\0\0\0\x0C\0\0\0", 20));
  EXPECT_EQ(b.header.CRCSum(), Crc(Crc(0, b.body.data(), 16), b.body.data() + 20, 10));  // 16 + 10 bytes
  const Entry& a = entries[3];
  EXPECT_EQ(a.header.RecordId(), oids[0]);
  EXPECT_EQ(Le32(a.body, 8), 77u);
  EXPECT_EQ(a.body.substr(12), std::string(4, '\0'));
  EXPECT_EQ(index.NodeInfo(fmt).sizeInImage, 80u + 2464 + 22 + 3 * 80 + 16 + 32 + 16);

  // EDB: the definitions' count, then each definition and its name buffer.
  EXPECT_EQ(entries[4].body.size(), 2464u + 18 + 2);
  EXPECT_EQ(entries[4].body.substr(2464 + 18), std::string(2, '\0'));
  const std::string& defined = entries[5].body;
  ASSERT_EQ(defined.size(), 2464u + 18 + 2 + 2 * 278);
  const size_t first = 2464 + 18 + 2;
  EXPECT_EQ(defined.substr(first - 2, 2), std::string("\x02\0", 2));
  EXPECT_EQ(Le32(defined, first), 1u);
  EXPECT_EQ(Le32(defined, first + 4), MAKE_CEPROPID(1, CEVT_I4));
  EXPECT_EQ(Le32(defined, first + 8), DB_PROP_NOTNULL);
  EXPECT_EQ(Le32(defined, first + 12), 0u);
  EXPECT_EQ(Le32(defined, first + 16), 128u);
  EXPECT_EQ(defined.substr(first + 20, 12), std::string("C\0o\0u\0n\0t\0\0\0", 12));
  EXPECT_EQ(defined.substr(first + 32, 246), std::string(246, '\0'));
}

// Every value type, edge values included, comes back byte for byte: the
// object store's records in reverse order, an EDB volume's with their
// definitions and new auto-increment values.
TEST_F(DatabaseComponentTest, RoundTripOfEveryTypeInBothInterfaces) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::string photo(5000, '\0');
  for (size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<char>(i * 31);
  const std::u16string longText(1000, u'x');
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Contacts", 0x1234,
                       {{MAKE_CEPROPID(2, CEVT_LPWSTR), CEDB_SORT_CASEINSENSITIVE}}),
            0u);
  AddRecords(u"Contacts", false,
             {{I2(1, -32768), I4(2, 65535, CEVT_UI2), I4(3, std::numeric_limits<LONG>::min()),
               I4(4, -1, CEVT_UI4), R8(5, nan), R8(6, -0.0), I4(7, 2, CEVT_BOOL), Time(8, 0, 0),
               Time(9, 0xFFFFFFFF, 0x7FFFFFFF)},
              {Text(10, u""), Text(11, u"Zo\u00eb \u03a9\u03bc\u03ad\u03b3\u03b1 \u6f22\u5b57"),
               Text(12, longText.c_str()), Blob(13, ""), Blob(14, photo)},
              {R8(5, std::numeric_limits<double>::infinity()), Text(10, u"Ada")}});
  CEGUID pim = MountEdb(u"\\pim.vol");
  SORTORDERSPECEX sort{};
  sort.wNumProps = 2;
  sort.rgPropID[0] = MAKE_CEPROPID(8, CEVT_LPWSTR);
  sort.rgPropID[1] = MAKE_CEPROPID(3, CEVT_I4);
  sort.rgdwFlags[1] = CEDB_SORT_DESCENDING;
  const std::u16string longName(128, u'n');
  const std::vector<CEPROPSPEC> defs = {
      Def(MAKE_CEPROPID(1, CEVT_I2), u"Short"), Def(MAKE_CEPROPID(3, CEVT_I4)),
      Def(MAKE_CEPROPID(5, CEVT_R8), u"Real", DB_PROP_COMPRESSED), Def(MAKE_CEPROPID(8, CEVT_LPWSTR), u"Subject"),
      Def(MAKE_CEPROPID(9, CEVT_BLOB)), Def(MAKE_CEPROPID(10, CEVT_STREAM), u"Body"),
      Def(MAKE_CEPROPID(11, CEVT_RECID)), Def(MAKE_CEPROPID(12, CEVT_AUTO_I4)), Def(MAKE_CEPROPID(13, CEVT_AUTO_I8)),
      Def(MAKE_CEPROPID(14, CEVT_FILETIME), longName.c_str())};
  ASSERT_NE(CreateEdb(pim, u"Appointments", defs, 9, {sort}), 0u);
  AddRecords(u"Appointments", true,
             {{I2(1, 7), Text(8, u"Meeting"), Blob(10, photo, CEVT_STREAM), I4(11, 5, CEVT_RECID)},
              {I4(3, -5), R8(5, nan), Blob(9, ""), Time(14, 1, 2)},
              {Text(8, u"")}},
             &pim);
  const std::vector<Record> contacts = ReadRecords(nullptr, u"Contacts", false);
  const std::vector<Record> appointments = ReadRecords(&pim, u"Appointments", true);
  const std::vector<Definition> definitions = ReadDefinitions(&pim, u"Appointments");
  ASSERT_EQ(definitions.size(), defs.size());
  BuildTree();
  ASSERT_TRUE(Backup());
  const std::vector<Entry> first = ReadEntries();

  // Edit, add and delete records; delete a database.
  HANDLE h = Open(nullptr, u"Contacts", false);
  CEOID top = CeSeekDatabaseEx(h, CEDB_SEEK_BEGINNING, 0, 0, nullptr);
  ASSERT_NE(Write(h, {Text(10, u"changed")}, top), 0u);
  ASSERT_NE(Write(h, {I4(2, 1)}), 0u);
  ASSERT_TRUE(CeDeleteRecord(h, CeSeekDatabaseEx(h, CEDB_SEEK_BEGINNING, 1, 0, nullptr)));
  CloseHandle(h);
  ASSERT_TRUE(CeDatabase::DeleteDatabase(&pim, u"Appointments", true));

  index.Reset();
  ASSERT_TRUE(Restore());
  EXPECT_EQ(ReadRecords(nullptr, u"Contacts", false), Reversed(contacts));
  EXPECT_EQ(WithoutAutoValues(ReadRecords(&pim, u"Appointments", true)), WithoutAutoValues(Reversed(appointments)));
  // The device numbers the restored records anew, in their new order.
  const std::vector<Record> restored = ReadRecords(&pim, u"Appointments", true);
  ASSERT_EQ(restored.size(), 3u);
  EXPECT_EQ(restored[0].back(), (Value{MAKE_CEPROPID(13, CEVT_AUTO_I8), std::string("\x01\0\0\0\0\0\0\0", 8)}));
  EXPECT_EQ(ReadDefinitions(&pim, u"Appointments"), definitions);
  DatabaseInfoRecord info;
  HANDLE again = CeDatabase::OpenDatabaseWithInfo(&pim, u"Appointments", true, info);
  ASSERT_NE(again, INVALID_HANDLE_VALUE);
  CeDatabase::CloseDatabase(again);
  EXPECT_EQ(info.type, 9u);
  EXPECT_EQ(info.numSortOrders, 1);
  EXPECT_EQ(std::memcmp(&info.sortOrders[0], &sort, sizeof sort), 0);
  again = CeDatabase::OpenDatabaseWithInfo(nullptr, u"Contacts", false, info);
  CeDatabase::CloseDatabase(again);
  EXPECT_EQ(info.type, 0x1234u);
  EXPECT_EQ(info.sortOrders[0].propertyFlags[0], static_cast<DWORD>(CEDB_SORT_CASEINSENSITIVE));
  EXPECT_EQ(CountReported(u"CRC Error"), 0);

  // What the restore wrote is stored again with the same bytes (the
  // object store's records, back in their first order).
  BuildTree();
  ASSERT_TRUE(Backup());
  const std::vector<Entry> second = ReadEntries();
  ASSERT_EQ(second.size(), first.size());
  // The information differs in its last-modified time alone.
  auto unmodified = [](std::string body) { return body.replace(280, 8, 8, '\0'); };
  EXPECT_EQ(unmodified(second[0].body), unmodified(first[0].body));
  for (size_t i = 1; i <= 3; ++i) {
    EXPECT_EQ(second[i].body, first[4 - i].body) << i;
    EXPECT_EQ(second[i].header.CRCSum(), first[4 - i].header.CRCSum()) << i;
  }
}

TEST_F(DatabaseComponentTest, BackupEdgeCasesAreWarningsOfTheReport) {
  quilmo::test::LoadBuiltResourceLibrary();
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Gone"), 0u);
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Kept"), 0u);
  AddRecords(u"Kept", false, {{I4(1, 1)}, {}, {I4(1, 3)}});
  BuildTree();
  ASSERT_TRUE(CeDatabase::DeleteDatabase(nullptr, u"Gone", false));
  // The first record taken (the last one, the third read) cannot be read.
  ce::InjectDatabaseFault(ce::DbCall::kRead, ERROR_FILE_CORRUPT, 1, 2);
  ASSERT_TRUE(Backup());
  EXPECT_TRUE(Reported(kLevelWarning, u"Could not find database : Gone"));
  EXPECT_TRUE(Logged(" : Could not find database : Gone 259"));
  EXPECT_TRUE(Reported(kLevelWarning, u"Could not read record 0 of the database Kept"));
  EXPECT_TRUE(Reported(kLevelWarning, u"NumberOfPropertyIDs = 0 for Record "));
  std::vector<Entry> entries = ReadEntries();
  ASSERT_EQ(entries.size(), 2u);  // the database and its first record
  EXPECT_EQ(Le32(entries[1].body, 8), 1u);

  // A cancel before the walk writes nothing.
  AImageFile image(CString(kImage), AImageFile::kBackup);
  ASSERT_TRUE(image.Open());
  ADatabase database(index, &progress, &image);
  database.Cancel();
  EXPECT_TRUE(database.Backup());
  DWORD written = 1;
  image.GetBytesWritten(&written);
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(image.Close());
}

TEST_F(DatabaseComponentTest, RestoreEdgeCases) {
  CEGUID pim = MountEdb(u"\\pim.vol");
  ASSERT_NE(CreateEdb(pim, u"Counted", {Def(MAKE_CEPROPID(1, CEVT_AUTO_I4)), Def(MAKE_CEPROPID(2, CEVT_I4))}), 0u);
  AddRecords(u"Counted", true, {{}, {I4(2, 5)}}, &pim);
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Sums"), 0u);
  AddRecords(u"Sums", false, {{I4(1, 1)}});
  BuildTree();
  ASSERT_TRUE(Backup());
  // Damage the CEDB database's information (its size word) in the image.
  const DWORD sums = index.NodeInfo(DatabaseNode(u"\\Documents and Settings\\default.vol", u"Sums")).fileOffset;
  Patch(sums + 80 + 279, std::string(1, '\0'), std::string(1, '\x01'));
  // The EDB database still exists after its delete, with a definition the
  // image lacks and a record of its own.
  HANDLE h = Open(&pim, u"Counted", true);
  ASSERT_NE(Write(h, {I4(2, 99)}), 0u);
  CloseHandle(h);
  DatabaseInfoRecord info;
  CeDatabase::DatabaseLocation where;
  CeDatabase::CloseDatabase(CeDatabase::OpenDatabaseWithInfo(&pim, u"Counted", true, info, &where));
  CEPROPSPEC extra = Def(MAKE_CEPROPID(3, CEVT_BLOB), u"Extra");
  ASSERT_TRUE(CeAddDatabaseProps(&where.volume, where.oid, &extra, 1));
  ce::InjectDatabaseFault(ce::DbCall::kDeleteDatabase, ERROR_ACCESS_DENIED, -1);

  index.Reset();
  ASSERT_TRUE(Restore());
  EXPECT_EQ(CountReported(u"CRC Error for DatabaseSums"), 1);
  EXPECT_EQ(ReadRecords(nullptr, u"Sums", false).size(), 1u);
  std::vector<Record> counted = ReadRecords(&pim, u"Counted", true);
  ASSERT_EQ(counted.size(), 2u);
  // The record that held only its auto-increment value is written without
  // properties: the device gives it a new one.
  EXPECT_EQ(counted[0], (Record{{MAKE_CEPROPID(2, CEVT_I4), std::string("\x05\0\0\0", 4)},
                                {MAKE_CEPROPID(1, CEVT_AUTO_I4), std::string("\x04\0\0\0", 4)}}));
  EXPECT_EQ(counted[1].size(), 1u);
  EXPECT_EQ(TypeFromPropID(counted[1][0].id), CEVT_AUTO_I4);
  const std::vector<Definition> definitions = ReadDefinitions(&pim, u"Counted");
  ASSERT_EQ(definitions.size(), 2u);
  EXPECT_EQ(definitions[0].id, MAKE_CEPROPID(1, CEVT_AUTO_I4));
  EXPECT_EQ(definitions[1].id, MAKE_CEPROPID(2, CEVT_I4));
}

// A database entry driven straight into RestoreDatabase: the volume
// "\pim.vol" is mounted again at the Startup folder's parent ("\"), only
// for as long as the component fills it.
TEST_F(DatabaseComponentTest, PimVolumeIsMountedAgainUnderItsName) {
  CEGUID pim = MountEdb(u"\\pim.vol");
  ASSERT_NE(CreateEdb(pim, u"Tasks", {Def(MAKE_CEPROPID(1, CEVT_LPWSTR))}), 0u);
  AddRecords(u"Tasks", true, {{Text(1, u"one")}, {Text(1, u"two")}}, &pim);
  const std::vector<Record> tasks = ReadRecords(&pim, u"Tasks", true);
  BuildTree();
  ASSERT_TRUE(Backup());
  ASSERT_TRUE(CeDatabase::DeleteDatabase(&pim, u"Tasks", true));
  ASSERT_TRUE(CeUnmountDBVol(&pim));
  ASSERT_TRUE(ce::ListMountedVolumes().empty());

  AImageFile image(CString(kImage), AImageFile::kRestore);
  ASSERT_TRUE(image.Open());
  ASSERT_TRUE(image.SetFilePointer(0, FILE_BEGIN));
  {
    ADatabase database(index, &progress, &image);
    AImageFileHeader header;
    ASSERT_TRUE(header.ReadDeciphered(image));
    ASSERT_TRUE(database.RestoreDatabase(header, ADatabase::kDeleteDatabase));
    EXPECT_TRUE(Logged("Changing name from \\pim.vol. to \\pim.vol."));
    ASSERT_EQ(ce::ListMountedVolumes().size(), 1u);
    EXPECT_EQ(ce::ListMountedVolumes()[0].path, u"\\pim.vol");
    while (header.ReadDeciphered(image) && header.ComponentType() == RECORD_ENTRY)
      ASSERT_TRUE(database.RestoreRecord(header));
  }
  EXPECT_TRUE(image.Close());
  EXPECT_TRUE(ce::ListMountedVolumes().empty());
  pim = MountEdb(u"\\pim.vol");
  EXPECT_EQ(ReadRecords(&pim, u"Tasks", true), Reversed(tasks));
}

// Mode 2 keeps the database and replaces its records; a namesake in
// another store is left alone.
TEST_F(DatabaseComponentTest, RecordsOnlyModeAndNamesakesElsewhere) {
  CEGUID notes = MountCedb(u"\\notes.vol");
  ASSERT_NE(CreateCedb(notes, u"Notes"), 0u);
  AddRecords(u"Notes", false, {{I4(1, 1)}, {I4(1, 2)}}, &notes);
  BuildTree();
  ASSERT_TRUE(Backup());
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Notes"), 0u);
  AddRecords(u"Notes", false, {{I4(1, 7)}});
  AddRecords(u"Notes", false, {{I4(1, 3)}}, &notes);
  DatabaseInfoRecord info;
  CeDatabase::DatabaseLocation before, after;
  CeDatabase::CloseDatabase(CeDatabase::OpenDatabaseWithInfo(&notes, u"Notes", false, info, &before));

  AImageFile image(CString(kImage), AImageFile::kRestore);
  ASSERT_TRUE(image.Open());
  {
    ADatabase database(index, &progress, &image);
    AImageFileHeader header;
    ASSERT_TRUE(image.SetFilePointer(0, FILE_BEGIN));
    ASSERT_TRUE(header.ReadDeciphered(image));
    ASSERT_TRUE(database.RestoreDatabase(header, ADatabase::kDeleteRecords));
    while (header.ReadDeciphered(image) && header.ComponentType() == RECORD_ENTRY)
      ASSERT_TRUE(database.RestoreRecord(header));
  }
  ASSERT_TRUE(image.Close());
  CeDatabase::CloseDatabase(CeDatabase::OpenDatabaseWithInfo(&notes, u"Notes", false, info, &after));
  EXPECT_EQ(after.oid, before.oid);
  EXPECT_EQ(ReadRecords(&notes, u"Notes", false),
            (std::vector<Record>{{FromProp(I4(1, 2))}, {FromProp(I4(1, 1))}}));
  CEGUID zero = ZERO_CEGUID;
  EXPECT_EQ(ReadRecords(&zero, u"Notes", false), (std::vector<Record>{{FromProp(I4(1, 7))}}));
}

// A database is changed only after its entry and every record entry have
// been read and found sound.
TEST_F(DatabaseComponentTest, DamagedEntriesLeaveTheDevicesDatabaseAsItIs) {
  CEGUID pim = MountEdb(u"\\pim.vol");
  ASSERT_NE(CreateEdb(pim, u"Mail", {Def(MAKE_CEPROPID(1, CEVT_LPWSTR)), Def(MAKE_CEPROPID(2, CEVT_I4))}), 0u);
  AddRecords(u"Mail", true, {{Text(1, u"first")}, {I4(2, 2)}, {Text(1, u"third")}}, &pim);
  BuildTree();
  ASSERT_TRUE(Backup());
  const std::string good = dev.ReadFile(kImage);
  AddRecords(u"Mail", true, {{I4(2, 4)}}, &pim);
  const std::vector<Record> current = ReadRecords(&pim, u"Mail", true);
  const std::vector<Entry> entries = ReadEntries();
  ASSERT_EQ(entries.size(), 4u);
  const size_t body = 80 + 2464 + 18;                  // after the volume name
  const size_t last = body + 2 + 2 * 278 + 2 * 80 + 32 + 16 + 80;  // the last record's body
  struct Damage {
    size_t offset;
    std::string was, becomes;
    const char16_t* report;
  };
  const std::vector<Damage> damages = {
      // The text length of the last record runs past its body.
      {last + 16, std::string("\x0C\0\0\0", 4), std::string("\x0E\0\0\0", 4), u"Failed to read string record"},
      // A property the definitions do not declare.
      {last + 2, std::string("\x01\0", 2), std::string("\x05\0", 2), u"does not fit the database"},
      // An unknown type.
      {last, std::string("\x1F\0", 2), std::string("\x09\0", 2), u"Unrecognised datatype 9 on 0x00010009:"},
      // The definitions' count runs past the image.
      {body, std::string("\x02\0", 2), std::string("\xFF\xFF", 2), u"Read on numProps failed"},
  };
  for (const Damage& d : damages) {
    dev.PutFile(kImage, good);
    Patch(d.offset, d.was, d.becomes);
    report.clear();
    index.Reset();
    EXPECT_FALSE(Restore()) << ce::ToUtf8(d.report);
    EXPECT_TRUE(Reported(kLevelError, d.report)) << ce::ToUtf8(d.report);
    EXPECT_EQ(ReadRecords(&pim, u"Mail", true), current) << ce::ToUtf8(d.report);
  }
  // The sound image restores.
  dev.PutFile(kImage, good);
  index.Reset();
  EXPECT_TRUE(Restore());
  EXPECT_EQ(ReadRecords(&pim, u"Mail", true).size(), 3u);
}

}  // namespace

namespace {

// The imaging task's database step through the registered factory, with a
// password: the backup road stores the databases, the restore road puts
// them back.
TEST(DatabaseComponentTask, RoadsUseTheRegisteredComponent) {
  quilmo::test::TestDevice dev;
  AGlobal g;
  g.g_Log.Open(false);
  RegisterDatabaseComponent();
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Roads"), 0u);
  AddRecords(u"Roads", false, {{Text(1, u"north")}, {Text(1, u"south")}});
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Vanished"), 0u);
  const std::vector<Record> roads = ReadRecords(nullptr, u"Roads", false);

  const IncludedKinds databases{false, false, true, false};
  quilmo::test::PrepareBackupOperation(g, databases, u"\\Db.qbk", u"Secret#2");
  // Gone between the selection and the backup: a warning of the report.
  ASSERT_TRUE(CeDatabase::DeleteDatabase(nullptr, u"Vanished", false));
  Progress progress;
  {
    AImagingTaskClient task(g.g_Operation, &progress);
    EXPECT_TRUE(task.Run()) << ce::ToUtf8(task.GetFailureText().view());
    bool warned = false;
    TaskReportItem item;
    for (int i = 0; i < g.g_TaskReport.GetCount(); ++i)
      warned = warned || (g.g_TaskReport.GetItem(item, i) && item.type == TaskReportItem::kWarning &&
                          std::u16string(item.text) == u"Could not find database : Vanished");
    EXPECT_TRUE(warned);
  }
  EXPECT_NE(g.g_Log.GetBuffer().find("Databases written - size : "), std::string::npos);
  ASSERT_TRUE(CeDatabase::DeleteDatabase(nullptr, u"Roads", false));

  {
    ASSERT_TRUE(quilmo::test::PrepareRestoreOperation(g, databases, u"\\Db.qbk", u"Secret#2"));
    AImagingTaskClient task(g.g_Operation, &progress);
    EXPECT_TRUE(task.Run()) << ce::ToUtf8(task.GetFailureText().view());
  }
  EXPECT_NE(g.g_Log.GetBuffer().find("Databases restored - size : "), std::string::npos);
  EXPECT_EQ(ReadRecords(nullptr, u"Roads", false), Reversed(roads));

  SetTaskComponentFactory(TaskPart::Databases, nullptr);
  g.g_WorkingIndex.SetComponent(IndexOwner::Databases, nullptr);
}

}  // namespace
