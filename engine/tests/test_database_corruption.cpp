// Damaged database images: an image of two databases (one in the object
// store, one in an EDB volume with definitions) is damaged by a flipped
// byte at every offset of its entries (sparser in the unused sort-order
// slots) and of its index; no restore may crash, and a restore that fails
// leaves every database either as it was or wholly restored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ce/database.h"
#include "ce/text.h"
#include "database_image_util.h"
#include "engine/DatabaseComponent.h"

using namespace dbtest;

namespace {

std::vector<Record> Reversed(std::vector<Record> records) {
  std::reverse(records.begin(), records.end());
  return records;
}

std::vector<Record> WithoutAutoValues(std::vector<Record> records) {
  for (Record& r : records)
    std::erase_if(r, [](const Value& v) { return TypeFromPropID(v.id) == CEVT_AUTO_I4; });
  return records;
}

class DatabaseCorruptionTest : public DatabaseImageTest {
 protected:
  // Both databases as they stand (the EDB one without its auto-increment
  // values, which every restore gives anew).
  std::pair<std::vector<Record>, std::vector<Record>> Databases() {
    return {ReadRecords(nullptr, u"Contacts", false), WithoutAutoValues(ReadRecords(&pim, u"Tasks", true))};
  }
  CEGUID pim{};
};

TEST_F(DatabaseCorruptionTest, EveryFlippedByteIsRefusedOrRestoredWhole) {
  ASSERT_NE(CreateCedb(CEDB_SYSTEMGUID, u"Contacts"), 0u);
  AddRecords(u"Contacts", false,
             {{Text(1, u"Ada"), Blob(2, std::string("\x01\x02\x03", 3)), I4(3, 7)}, {Text(1, u"")}, {R8(4, 1.5)}});
  pim = MountEdb(u"\\pim.vol");
  ASSERT_NE(CreateEdb(pim, u"Tasks",
                      {Def(MAKE_CEPROPID(1, CEVT_LPWSTR), u"Subject"), Def(MAKE_CEPROPID(2, CEVT_I4)),
                       Def(MAKE_CEPROPID(3, CEVT_AUTO_I4))}),
            0u);
  AddRecords(u"Tasks", true, {{Text(1, u"write"), I4(2, 1)}, {I4(2, 2)}}, &pim);
  const auto original = Databases();
  const std::vector<Record> restoredContacts = Reversed(original.first);
  const std::vector<Record> restoredTasks = Reversed(original.second);
  BuildTree();
  ASSERT_TRUE(Backup());
  const std::string good = dev.ReadFile(kImage);
  // The device moves on after the backup.
  AddRecords(u"Contacts", false, {{I4(3, 8)}});
  AddRecords(u"Tasks", true, {{I4(2, 3)}}, &pim);

  // Every byte of the headers, the information's leading fields, the
  // volume names, the definitions and the records; the unused sort-order
  // slots, the definitions' name buffers and the index more sparsely.
  std::vector<int> step(good.size(), 5);
  size_t at = 0;
  for (const Entry& e : ReadEntries()) {
    const bool database = e.header.ComponentType() == DatabaseEntryFormat::kDatabaseEntryType;
    std::fill_n(step.begin() + at, 80 + e.body.size(), 1);
    if (database) {
      std::fill_n(step.begin() + at + 80 + 300, 2464 - 300, 41);
      const size_t definitions = at + 80 + 2464 + e.header.NameByteLength() + 2;
      for (size_t d = definitions; d < at + 80 + e.body.size(); d += 278) std::fill_n(step.begin() + d + 36, 242, 9);
    }
    at += 80 + e.body.size();
  }
  SetLogReportSink([](int, DWORD, const CString&) {});
  int refused = 0, restored = 0;
  for (size_t offset = 0; offset + 80 < good.size(); ++offset) {
    if (offset % step[offset] != 0) continue;
    std::string damaged = good;
    damaged[offset] = static_cast<char>(damaged[offset] ^ 0x5A);
    dev.PutFile(kImage, damaged);
    const auto before = Databases();
    index.Reset();
    if (Restore()) {
      ++restored;
      continue;
    }
    ++refused;
    const auto after = Databases();
    EXPECT_TRUE(after.first == before.first || after.first == restoredContacts) << "offset " << offset;
    EXPECT_TRUE(after.second == before.second || after.second == restoredTasks) << "offset " << offset;
    if (HasFailure()) break;
  }
  EXPECT_GT(refused, 100);
  EXPECT_GT(restored, 100);
  // The sound image still restores both.
  dev.PutFile(kImage, good);
  index.Reset();
  ASSERT_TRUE(Restore());
  EXPECT_EQ(Databases().first, restoredContacts);
  EXPECT_EQ(Databases().second, restoredTasks);
}

}  // namespace
