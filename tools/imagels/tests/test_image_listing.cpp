// The image lister reads what a backup wrote: its stored (selected) nodes,
// through the cipher with or without a password, and says so when it
// cannot.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/Cipher.h"
#include "image/ImageFile.h"
#include "image/Index.h"
#include "testkit/TestDevice.h"
#include "tools/imagels/ImageListing.h"

using quilmo::test::TestDevice;

namespace {

const CString kImage = u"\\Storage Card\\listed.pbf";

Index::Item Item(DWORD type, std::u16string name, bool selected = true) {
  Index::Item item;
  item.ComponentType = type;
  item.name = std::move(name);
  item.selected = selected ? 1 : 0;
  return item;
}

// An image the way a backup ends one: the index always enciphered, keyed by
// the password when there is one; a file left out of the selection.
bool WriteImage(const CString& password) {
  Index index;
  index.AddTopLevelComponents(static_cast<const IncludedKinds*>(nullptr));
  const int fs = index.FindChildOfType(TREE_FILESYSTEM);
  index.AddChildren(fs, {Item(DIRECTORY_ENTRY, u"\\My Documents")});
  index.AddChildren(index.FirstChild(fs), {Item(FILE_ENTRY, u"\\My Documents\\kept.txt"),
                                           Item(FILE_ENTRY, u"\\My Documents\\left out.tmp", false)});
  if (!InitCipherKey(!password.IsEmpty(), password.IsEmpty() ? nullptr : password.GetString())) return false;
  AImageFile image(kImage, AImageFile::kBackup);
  if (!image.Open()) return false;
  AImageFileHeader lead(METADATA_ENTRY, 0, 0, 0, 0, 0);
  DWORD length = 0;
  if (!lead.WritePlain(image) || !index.Store(image, true, &length) || !image.FlushWriteBuffer()) return false;
  AImageFileHeader tail(END_OF_IMAGE, length, 0, 0, image.GetCRC(), 0);
  return tail.WritePlain(image) && image.Close();
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& l : lines)
    if (l == line) return true;
  return false;
}

}  // namespace

TEST(ImageListing, ListsTheStoredNodesOfAnImageWithoutPassword) {
  TestDevice dev;
  dev.MakeDir(u"\\Storage Card");
  ASSERT_TRUE(WriteImage(CString()));
  std::vector<std::string> lines;
  std::string error;
  ASSERT_TRUE(imagels::ListImage(kImage, CString(), &lines, &error)) << error;
  EXPECT_TRUE(Has(lines, "directory \\My Documents"));
  EXPECT_TRUE(Has(lines, "file \\My Documents\\kept.txt"));
  EXPECT_FALSE(Has(lines, "file \\My Documents\\left out.tmp")) << "an unselected node is not in the image";
  EXPECT_TRUE(Has(lines, "filesystem ")) << "the top-level parts are listed by their kind";
}

TEST(ImageListing, APasswordImageNeedsItsPassword) {
  TestDevice dev;
  dev.MakeDir(u"\\Storage Card");
  ASSERT_TRUE(WriteImage(u"secret1"));
  std::vector<std::string> lines;
  std::string error;
  ASSERT_TRUE(imagels::ListImage(kImage, u"secret1", &lines, &error)) << error;
  EXPECT_TRUE(Has(lines, "file \\My Documents\\kept.txt"));
  lines.clear();
  EXPECT_FALSE(imagels::ListImage(kImage, CString(), &lines, &error)) << "read without the password";
  EXPECT_NE(error.find("no content index"), std::string::npos) << error;
}

TEST(ImageListing, AMissingImageIsAFailureThatNamesIt) {
  TestDevice dev;
  std::vector<std::string> lines;
  std::string error;
  EXPECT_FALSE(imagels::ListImage(u"\\nowhere.pbf", CString(), &lines, &error));
  EXPECT_EQ(error, "cannot open \\nowhere.pbf");
  EXPECT_TRUE(lines.empty());
}
