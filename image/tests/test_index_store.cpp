// Storing the content index in an image, finding it through the tail and
// loading it back; the stored form byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Log.h"
#include "image/Cipher.h"
#include "image/ImageFile.h"
#include "image/Index.h"
#include "image/IndexFormat.h"
#include "testkit/TestDevice.h"

using quilmo::test::TestDevice;

namespace {

const CString kImage = u"\\image.pbf";

class ErrorCapture {
 public:
  ErrorCapture() {
    SetLogReportSink([this](int level, DWORD, const CString& t) {
      if (level == kLogError) texts.push_back(t.str());
    });
  }
  ~ErrorCapture() { SetLogReportSink(nullptr); }
  bool Has(std::u16string_view text) const {
    for (const auto& t : texts)
      if (t.find(text) != std::u16string::npos) return true;
    return false;
  }
  std::vector<std::u16string> texts;
};

Index::Item MakeItem(DWORD type, std::u16string name, bool selected = true) {
  Index::Item item;
  item.ComponentType = type;
  item.name = std::move(name);
  item.selected = selected ? 1 : 0;
  return item;
}

DWORD U32At(const std::string& bytes, size_t offset) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + offset);
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24);
}

void PutU32At(std::string& bytes, size_t offset, DWORD v) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(v >> (8 * i));
}

// Writes a small image: a plain leading header, the index, the tail whose
// fixed-part size is tailSize (default: the stored body length).
bool WriteImage(Index& index, bool encipher, DWORD* bodyLength = nullptr,
                const DWORD* tailSize = nullptr) {
  if (!InitCipherKey(encipher, u"secret")) return false;
  AImageFile image(kImage, AImageFile::kBackup);
  if (!image.Open()) return false;
  AImageFileHeader lead(METADATA_ENTRY, 0, 0, 0, 0, 0);
  if (!lead.WritePlain(image)) return false;
  DWORD length = 0;
  if (!index.Store(image, encipher, &length)) return false;
  if (bodyLength) *bodyLength = length;
  if (!image.FlushWriteBuffer()) return false;
  AImageFileHeader tail(END_OF_IMAGE, tailSize ? *tailSize : length, 0, 0, image.GetCRC(), 0);
  return tail.WritePlain(image) && image.Close();
}

bool LocateImage(Index& index, bool decipher) {
  if (!InitCipherKey(decipher, u"secret")) return false;
  AImageFile image(kImage, AImageFile::kRestore);
  if (!image.Open()) return false;
  bool ok = index.Locate(image, decipher);
  return image.Close() && ok;
}

// root
//   21 (selected)
//     3 \d               selected, populated
//       4 \d\f           selected, with every field set
//       4 \d\off         unselected
//     3 \empty           selected; its only child is unselected
//       4 \empty\x       unselected
//     3 \gone            unselected
//       4 \gone\kept     selected below an unselected parent
//   27, 31, 23, 24 (mail unselected)
struct Sample {
  Index index;
  int fs, d, f, off, empty, gone, kept;
  Sample() {
    index.AddTopLevelComponents(static_cast<const IncludedKinds*>(nullptr));
    index.SetSelected(index.FindChildOfType(TREE_MAIL), false);
    fs = index.FindChildOfType(TREE_FILESYSTEM);
    index.AddChildren(fs, {MakeItem(DIRECTORY_ENTRY, u"\\d"), MakeItem(DIRECTORY_ENTRY, u"\\empty"),
                           MakeItem(DIRECTORY_ENTRY, u"\\gone", false)});
    d = index.FirstChild(fs);
    empty = d + 1;
    gone = d + 2;
    index.AddChildren(d, {MakeItem(FILE_ENTRY, u"\\d\\f"), MakeItem(FILE_ENTRY, u"\\d\\off", false)});
    f = index.FirstChild(d);
    off = f + 1;
    index.AddChildren(empty, {MakeItem(FILE_ENTRY, u"\\empty\\x", false)});
    index.AddChildren(gone, {MakeItem(FILE_ENTRY, u"\\gone\\kept")});
    kept = index.FirstChild(gone);
    Index::Item& item = index.NodeInfo(f);
    item.userData = 1;
    item.attributes = 0x20;
    item.OID = 0x12345678;
    index.SetLocation(f, 1608, 77, 0xDEADBEEF, 0x89ABCDEF, 0x1);
    index.SetTimes(f, FILETIME{1, 2}, FILETIME{3, 4}, FILETIME{5, 6});
    index.SetPartial(f, true);
  }
};

// Type and name of every node, with its parent's position, in array order.
std::vector<std::u16string> Shape(const Index& index) {
  std::vector<std::u16string> out;
  for (int n = 0; n < index.NodeCount(); ++n) {
    std::u16string line = std::u16string(1, static_cast<char16_t>(u'0' + index.Parent(n) + 1)) +
                          u":" + std::u16string(1, static_cast<char16_t>(index.NodeType(n))) +
                          index.NodeName(n);
    out.push_back(line);
  }
  return out;
}

}  // namespace

TEST(IndexStore, RootAloneStoresOneRecord) {
  TestDevice dev;
  Index index;
  EXPECT_EQ(index.StoredSize(), 80u + 72u + 1u);
  DWORD body = 0;
  ASSERT_TRUE(WriteImage(index, false, &body));
  EXPECT_EQ(body, 72u);  // a plain block has no end byte
  std::string bytes = dev.ReadFile(kImage.view());
  ASSERT_EQ(bytes.size(), 80u + 80u + 72u + 80u);
  EXPECT_EQ(U32At(bytes, 80 + 32), 10u);  // INDEX_ENTRY
  EXPECT_EQ(U32At(bytes, 80 + 40), 1u);   // one selected node
  const size_t record = 160;
  EXPECT_EQ(U32At(bytes, record + IndexRecord::kOffType), 255u);
  EXPECT_EQ(U32At(bytes, record + IndexRecord::kOffChildCount), 0u);
  EXPECT_EQ(U32At(bytes, record + IndexRecord::kOffNameLength), 0u);
  // The tail carries the body length.
  EXPECT_EQ(U32At(bytes, bytes.size() - 80 + 36), 72u);

  ASSERT_TRUE(WriteImage(index, true, &body));
  EXPECT_EQ(body, 73u);  // enciphered: one end byte more
  EXPECT_EQ(dev.ReadFile(kImage.view()).size(), 80u + 80u + 73u + 80u);
}

TEST(IndexStore, RecordLayoutAndOrder) {
  TestDevice dev;
  Sample s;
  DWORD body = 0;
  ASSERT_TRUE(WriteImage(s.index, false, &body));
  std::string bytes = dev.ReadFile(kImage.view());
  // Selected nodes: root, 21, 27, 31, 23, \d, \d\f, \empty, \gone\kept.
  EXPECT_EQ(U32At(bytes, 80 + 40), 9u);
  // Stored: root | 21 27 31 23 | \d \empty | \d\f  (not \gone\kept).
  std::vector<DWORD> types;
  std::vector<DWORD> childCounts;
  size_t p = 160;
  size_t fileRecord = 0;
  while (p < bytes.size() - 80) {
    types.push_back(U32At(bytes, p));
    childCounts.push_back(U32At(bytes, p + IndexRecord::kOffChildCount));
    if (U32At(bytes, p) == FILE_ENTRY) fileRecord = p;
    p += 72 + 2 * U32At(bytes, p + IndexRecord::kOffNameLength);
  }
  EXPECT_EQ(p, bytes.size() - 80);
  EXPECT_EQ(body, p - 160);
  EXPECT_EQ(types, (std::vector<DWORD>{255, 21, 27, 31, 23, 3, 3, 4}));
  // \empty is selected but none of its children is: child count 0.
  EXPECT_EQ(childCounts, (std::vector<DWORD>{4, 2, 0, 0, 0, 1, 0, 0}));
  ASSERT_NE(fileRecord, 0u);
  // crc value comes before size in image; file size low word first.
  EXPECT_EQ(U32At(bytes, fileRecord + IndexRecord::kOffFileOffset), 1608u);
  EXPECT_EQ(U32At(bytes, fileRecord + IndexRecord::kOffCrcValue), 0xDEADBEEFu);
  EXPECT_EQ(U32At(bytes, fileRecord + IndexRecord::kOffSizeInImage), 77u);
  EXPECT_EQ(U32At(bytes, fileRecord + IndexRecord::kOffFileSize), 0x89ABCDEFu);
  EXPECT_EQ(U32At(bytes, fileRecord + IndexRecord::kOffFileSize + 4), 1u);
  EXPECT_EQ(U32At(bytes, fileRecord + IndexRecord::kOffLastWriteTime + 4), 6u);
  EXPECT_EQ(U32At(bytes, fileRecord + IndexRecord::kOffNameLength), 4u);
  EXPECT_EQ(bytes.substr(fileRecord + 72, 8), std::string("\\\0d\0\\\0f\0", 8));
}

TEST(IndexStore, LocateRoundTripPlainAndEnciphered) {
  for (bool encipher : {false, true}) {
    TestDevice dev;
    Sample s;
    ASSERT_TRUE(WriteImage(s.index, encipher));
    Index loaded;
    ASSERT_TRUE(LocateImage(loaded, encipher)) << encipher;
    EXPECT_EQ(Shape(loaded),
              (std::vector<std::u16string>{u"0:\xff", u"1:\x15", u"1:\x1b", u"1:\x1f", u"1:\x17",
                                           u"2:\x03\\d", u"2:\x03\\empty", u"6:\x04\\d\\f"}));
    EXPECT_EQ(loaded.FindChildOfType(TREE_MAIL), -1);
    int f = 7;
    const Index::Item& item = loaded.NodeInfo(f);
    EXPECT_EQ(item.fileOffset, 1608u);
    EXPECT_EQ(item.sizeInImage, 77u);
    EXPECT_EQ(item.crcValue, 0xDEADBEEFu);
    EXPECT_EQ(item.userData, 1u);
    EXPECT_EQ(item.attributes, 0x20u);
    EXPECT_EQ(item.OID, 0x12345678u);
    EXPECT_EQ(item.fileSize, 0x189ABCDEFull);
    EXPECT_EQ(item.creationTime.dwLowDateTime, 1u);
    EXPECT_EQ(item.lastAccessTime.dwHighDateTime, 4u);
    EXPECT_EQ(item.lastWriteTime.dwLowDateTime, 5u);
    // Every loaded node is selected and not partly selected; the populated
    // flags come from the image.
    for (int n = 0; n < loaded.NodeCount(); ++n) {
      EXPECT_TRUE(loaded.IsSelected(n));
      EXPECT_FALSE(loaded.IsPartial(n));
    }
    EXPECT_TRUE(loaded.IsPopulated(5));   // \d
    EXPECT_TRUE(loaded.IsPopulated(6));   // \empty: populated, no children
    EXPECT_FALSE(loaded.HasChildren(6));
    EXPECT_FALSE(loaded.IsPopulated(7));  // \d\f
    EXPECT_FALSE(loaded.IsPopulated(2));  // 27 was never populated
    // The loaded tree walks like the stored selection.
    std::vector<int> walk;
    for (int n = loaded.NextInSubtree(1, 1); n != -1; n = loaded.NextInSubtree(1, n))
      walk.push_back(n);
    EXPECT_EQ(walk, (std::vector<int>{5, 7, 6}));
  }
}

TEST(IndexStore, WrongPasswordOrModeDoesNotLoad) {
  TestDevice dev;
  Sample s;
  ASSERT_TRUE(WriteImage(s.index, true));
  ErrorCapture errors;
  Index loaded;
  // Read as plain, the enciphered header has no marker.
  EXPECT_FALSE(LocateImage(loaded, false));
  ASSERT_TRUE(InitCipherKey(true, u"wrong"));
  AImageFile image(kImage, AImageFile::kRestore);
  ASSERT_TRUE(image.Open());
  EXPECT_FALSE(loaded.Locate(image, true));
  EXPECT_TRUE(errors.Has(u"Index header read failed"));
}

TEST(IndexStore, TailMustCarryTheBodyLengthNotTheStoredSize) {
  TestDevice dev;
  Sample s;
  DWORD stored = s.index.StoredSize();
  ASSERT_TRUE(WriteImage(s.index, false, nullptr, &stored));
  ErrorCapture errors;
  Index loaded;
  EXPECT_FALSE(LocateImage(loaded, false));
}

TEST(IndexStore, LoadWithoutTailAsThePersistedIndex) {
  TestDevice dev;
  Sample s;
  for (bool encipher : {false, true}) {
    ASSERT_TRUE(InitCipherKey(encipher, nullptr));
    {
      AImageFile out(u"\\Persist.idx", AImageFile::kBackup);
      ASSERT_TRUE(out.Open());
      DWORD length = 0;
      ASSERT_TRUE(s.index.Store(out, encipher, &length));
      ASSERT_TRUE(out.Close());
    }
    AImageFile in(u"\\Persist.idx", AImageFile::kRestore);
    ASSERT_TRUE(in.Open());
    Index loaded;
    ASSERT_TRUE(loaded.Load(in, encipher));
    EXPECT_EQ(loaded.NodeCount(), 8);
    EXPECT_EQ(in.BytesLeft(), 0u);
  }
}

TEST(IndexStore, NameLengthLimits) {
  TestDevice dev;
  ErrorCapture errors;
  // 259 characters store and load; 260 are refused by Store.
  Index index;
  index.AddChildren(0, {MakeItem(FILE_ENTRY, std::u16string(259, u'n'))});
  ASSERT_TRUE(WriteImage(index, false));
  Index loaded;
  ASSERT_TRUE(LocateImage(loaded, false));
  EXPECT_EQ(loaded.NodeName(1).size(), 259u);
  index.NodeInfo(1).name += u'n';
  EXPECT_FALSE(WriteImage(index, false));
  EXPECT_TRUE(errors.Has(u"Index name length too large"));

  // A stored length of 260 is refused on load.
  errors.texts.clear();
  index.NodeInfo(1).name.pop_back();
  ASSERT_TRUE(WriteImage(index, false));
  std::string bytes = dev.ReadFile(kImage.view());
  PutU32At(bytes, 160 + 72 + IndexRecord::kOffNameLength, 260);
  dev.PutFile(kImage.view(), bytes);
  EXPECT_FALSE(LocateImage(loaded, false));
  EXPECT_TRUE(errors.Has(u"Index name length too large"));
}

TEST(IndexStore, CountsThatDoNotFitAreStructuralFailures) {
  TestDevice dev;
  Sample s;
  ASSERT_TRUE(WriteImage(s.index, false));
  const std::string good = dev.ReadFile(kImage.view());
  struct Case {
    size_t offset;
    DWORD value;
  };
  const Case cases[] = {
      {80 + 40, 0},                                 // header count 0: not even the root
      {80 + 40, 7},                                 // fewer than the stored records
      {160 + IndexRecord::kOffChildCount, 0xFFFFFFFFu},  // root child count
      {160 + IndexRecord::kOffChildCount, 5},       // one record too many
      {160 + IndexRecord::kOffChildCount, 3},       // one too few: the body is not used up
  };
  for (const Case& c : cases) {
    std::string bytes = good;
    PutU32At(bytes, c.offset, c.value);
    dev.PutFile(kImage.view(), bytes);
    ErrorCapture errors;
    Index loaded;
    EXPECT_FALSE(LocateImage(loaded, false)) << c.offset << " " << c.value;
    EXPECT_FALSE(errors.texts.empty());
  }
  // A huge header count alone is fine: loading accepts fewer records.
  std::string bytes = good;
  PutU32At(bytes, 80 + 40, 0xFFFFFFFFu);
  dev.PutFile(kImage.view(), bytes);
  Index loaded;
  EXPECT_TRUE(LocateImage(loaded, false));
}

TEST(IndexStore, TailSizesOutsideTheImageAreRefused) {
  TestDevice dev;
  Index index;
  ASSERT_TRUE(WriteImage(index, false));
  const std::string good = dev.ReadFile(kImage.view());
  for (DWORD size : {DWORD{73}, DWORD{71}, DWORD{233}, DWORD{0x7FFFFFFF}, DWORD{0xFFFFFFFF}}) {
    std::string bytes = good;
    PutU32At(bytes, bytes.size() - 80 + 36, size);
    dev.PutFile(kImage.view(), bytes);
    ErrorCapture errors;
    Index loaded;
    EXPECT_FALSE(LocateImage(loaded, false)) << size;
  }
}

TEST(IndexStore, DeepTreeStoresAndLoadsWithoutRecursion) {
  TestDevice dev;
  Index index;
  const int depth = 100000;
  int n = 0;
  for (int i = 0; i < depth; ++i) {
    index.AddChildren(n, {MakeItem(DIRECTORY_ENTRY, u"d")});
    n = index.FirstChild(n);
  }
  ASSERT_TRUE(WriteImage(index, true));
  Index loaded;
  ASSERT_TRUE(LocateImage(loaded, true));
  EXPECT_EQ(loaded.NodeCount(), depth + 1);
  EXPECT_EQ(loaded.Parent(depth), depth - 1);
  loaded.PopulateSelected();
  int count = 0;
  for (int m = loaded.NextInSubtree(0, 0); m != -1; m = loaded.NextInSubtree(0, m)) ++count;
  EXPECT_EQ(count, depth);
}
