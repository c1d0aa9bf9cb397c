// The resource library's pictures for the component tree and the sheet's
// tabs: present, of the sizes the controls cut them into, and usable as
// image lists with white as the transparent colour.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "ce/commctrl.h"
#include "core/ResBitmap.h"
#include "core/Resources.h"
#include "testkit/TestDevice.h"

namespace {

class ResourceBitmaps : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ifstream in(std::filesystem::path(QUILMO_BIN_DIR) / "QuilmoRes.dll", std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    dev.PutFile(u"\\Windows\\QuilmoRes.dll", bytes.str());
    ASSERT_TRUE(InitResources(u"\\Windows\\QuilmoRes.dll", nullptr, nullptr));
  }
  void TearDown() override { UnloadResourceLibraries(true); }

  // The images a bitmap gives an image list of cx x cy (-1: none).
  int AddTo(HIMAGELIST list, DWORD id) {
    AResBitmap bitmap;
    if (!LoadResBitmap(id, bitmap)) return -1;
    HBITMAP handle = bitmap.CreateHandle();
    if (!handle) return -1;
    const int before = ImageList_GetImageCount(list);
    const int first = ImageList_AddMasked(list, handle, RGB(255, 255, 255));
    DeleteObject(handle);
    return first < 0 ? -1 : ImageList_GetImageCount(list) - before;
  }

  quilmo::test::TestDevice dev;
};

TEST_F(ResourceBitmaps, TreeImagesStateStripAndTabIcons) {
  const DWORD tree[] = {212, 213, 214, 265, 267, 270, 266, 269, 268, 272, 264, 271, 275,
                        281, 280, 277, 276, 278, 279, 282, 283, 284, 287, 285, 286};
  HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR | ILC_MASK, 6, 3);
  for (DWORD id : tree) EXPECT_EQ(AddTo(images, id), 1) << "bitmap " << id;
  EXPECT_EQ(ImageList_GetImageCount(images), 25);
  ImageList_Destroy(images);

  // The check marks: none, unchecked, checked, partial.
  HIMAGELIST states = ImageList_Create(13, 13, ILC_COLOR | ILC_MASK, 4, 1);
  EXPECT_EQ(AddTo(states, 229), 4);
  ImageList_Destroy(states);

  HIMAGELIST tabs = ImageList_Create(24, 24, ILC_COLOR | ILC_MASK, 2, 0);
  EXPECT_EQ(AddTo(tabs, 260), 1);
  EXPECT_EQ(AddTo(tabs, 258), 1);
  ImageList_Destroy(tabs);

  for (DWORD id : {291u, 292u, 293u, 402u, 403u}) {
    AResBitmap bitmap;
    EXPECT_TRUE(LoadResBitmap(id, bitmap)) << "bitmap " << id;
  }
}

TEST_F(ResourceBitmaps, AHandleKeepsTheSizeAndPixels) {
  AResBitmap bitmap;
  ASSERT_TRUE(LoadResBitmap(229, bitmap));
  HBITMAP handle = bitmap.CreateHandle();
  ASSERT_NE(handle, nullptr);
  BITMAP info{};
  ASSERT_EQ(GetObjectW(handle, sizeof info, &info), static_cast<int>(sizeof info));
  EXPECT_EQ(info.bmWidth, 52);
  EXPECT_EQ(info.bmHeight, 13);
  EXPECT_EQ(info.bmBitsPixel, 24);
  EXPECT_TRUE(DeleteObject(handle));
  EXPECT_EQ(AResBitmap().CreateHandle(), nullptr);
}

}  // namespace
