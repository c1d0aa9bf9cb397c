// Bitmaps in every uncompressed form a resource or file may hold, read to
// the pixels the screen shows, and malformed ones refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ce/commctrl.h"
#include "ce/errors.h"
#include "cesim/gdi.h"
#include "testkit/TestDevice.h"

namespace {

struct Pixels {
  int w = 0, h = 0;
  std::vector<uint32_t> px;
  uint32_t At(int x, int y) const { return px[static_cast<size_t>(y * w + x)]; }
};

Pixels Read(HBITMAP b) {
  Pixels p;
  EXPECT_TRUE(ce::BitmapPixels(b, &p.w, &p.h, &p.px));
  return p;
}

// A DIB section of the header's form whose rows are `rows` (bottom-up
// unless the height is negative); extra holds masks or colours.
HBITMAP Section(int w, int h, int bits, DWORD compression, const std::vector<uint32_t>& extra,
                const std::string& rows) {
  std::vector<uint8_t> info(sizeof(BITMAPINFOHEADER) + extra.size() * 4);
  BITMAPINFOHEADER hdr{};
  hdr.biSize = sizeof hdr;
  hdr.biWidth = w;
  hdr.biHeight = h;
  hdr.biPlanes = 1;
  hdr.biBitCount = static_cast<WORD>(bits);
  hdr.biCompression = compression;
  hdr.biClrUsed = compression == BI_BITFIELDS ? 0 : static_cast<DWORD>(extra.size());
  std::memcpy(info.data(), &hdr, sizeof hdr);
  if (!extra.empty()) std::memcpy(info.data() + sizeof hdr, extra.data(), extra.size() * 4);
  void* bitsOut = nullptr;
  HBITMAP b = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(info.data()), DIB_RGB_COLORS, &bitsOut,
                               nullptr, 0);
  EXPECT_NE(b, nullptr);
  if (b && bitsOut) std::memcpy(bitsOut, rows.data(), rows.size());
  return b;
}

std::string Bytes(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s += static_cast<char>(b);
  return s;
}

class BitmapFormats : public ::testing::Test {
 protected:
  quilmo::test::TestDevice dev_;
};

TEST_F(BitmapFormats, PaletteAndPackedFormsDecodeToTheSameColours) {
  const uint32_t red = 0xFFFF0000u, blue = 0xFF0000FFu;
  // 1 bit: palette {red, blue}; row bits 0b01 -> red, blue (rows padded to 4 bytes).
  Pixels p = Read(Section(2, 1, 1, BI_RGB, {0x00FF0000u, 0x000000FFu}, Bytes({0x40, 0, 0, 0})));
  EXPECT_EQ(p.At(0, 0), red);
  EXPECT_EQ(p.At(1, 0), blue);
  // 4 bits: high nibble first.
  p = Read(Section(2, 1, 4, BI_RGB, {0x00FF0000u, 0x000000FFu}, Bytes({0x10, 0, 0, 0})));
  EXPECT_EQ(p.At(0, 0), blue);
  EXPECT_EQ(p.At(1, 0), red);
  // 8 bits, two rows bottom-up: the first row in memory is the bottom one.
  p = Read(Section(1, 2, 8, BI_RGB, {0x00FF0000u, 0x000000FFu}, Bytes({1, 0, 0, 0, 0, 0, 0, 0})));
  EXPECT_EQ(p.At(0, 1), blue);
  EXPECT_EQ(p.At(0, 0), red);
  // 16 bits 5-5-5 (0x7C00 red) and 5-6-5 by masks (0x001F blue).
  p = Read(Section(1, 1, 16, BI_RGB, {}, Bytes({0x00, 0x7C, 0, 0})));
  EXPECT_EQ(p.At(0, 0), red);
  p = Read(Section(1, 1, 16, BI_BITFIELDS, {0xF800u, 0x07E0u, 0x001Fu}, Bytes({0x1F, 0x00, 0, 0})));
  EXPECT_EQ(p.At(0, 0), blue);
  // 24 bits top-down: the first row in memory is the top one.
  p = Read(Section(1, -2, 24, BI_RGB, {}, Bytes({0xFF, 0, 0, 0, 0, 0, 0xFF, 0})));
  EXPECT_EQ(p.At(0, 0), blue);
  EXPECT_EQ(p.At(0, 1), red);
  // 32 bits: the fourth byte is no alpha; the pixel is opaque.
  p = Read(Section(1, 1, 32, BI_RGB, {}, Bytes({0, 0, 0xFF, 0})));
  EXPECT_EQ(p.At(0, 0), red);
}

TEST_F(BitmapFormats, MasksMakeImageListPixelsTransparent) {
  // A 2 x 1 image (red, blue) with a mask bitmap whose second pixel is white.
  HBITMAP image = Section(2, 1, 24, BI_RGB, {}, Bytes({0, 0, 0xFF, 0xFF, 0, 0, 0, 0}));
  HBITMAP mask = Section(2, 1, 24, BI_RGB, {}, Bytes({0, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0}));
  HIMAGELIST masked = ImageList_Create(2, 1, ILC_COLOR24 | ILC_MASK, 1, 1);
  HIMAGELIST plain = ImageList_Create(2, 1, ILC_COLOR24, 1, 1);
  ASSERT_EQ(ImageList_Add(masked, image, mask), 0);
  ASSERT_EQ(ImageList_Add(plain, image, mask), 0);  // no ILC_MASK: the mask is ignored
  EXPECT_EQ(ImageList_AddMasked(masked, image, RGB(255, 0, 0)), 1);
  Pixels p;
  ASSERT_TRUE(ce::ImageListPixels(masked, 0, &p.w, &p.h, &p.px));
  EXPECT_EQ(p.At(0, 0), 0xFFFF0000u);
  EXPECT_EQ(p.At(1, 0) >> 24, 0u);
  ASSERT_TRUE(ce::ImageListPixels(masked, 1, &p.w, &p.h, &p.px));
  EXPECT_EQ(p.At(0, 0) >> 24, 0u);  // red was the key
  EXPECT_EQ(p.At(1, 0), 0xFF0000FFu);
  ASSERT_TRUE(ce::ImageListPixels(plain, 0, &p.w, &p.h, &p.px));
  EXPECT_EQ(p.At(1, 0), 0xFF0000FFu);
  EXPECT_EQ(ImageList_Add(masked, nullptr, nullptr), -1);
  EXPECT_FALSE(ce::ImageListPixels(masked, 2, &p.w, &p.h, &p.px));
  ImageList_Destroy(masked);
  ImageList_Destroy(plain);
  DeleteObject(image);
  DeleteObject(mask);
}

// A bitmap file of a 1 x 1 24-bit image whose header fields are changed.
std::string File(int width, int height, int planes, int bits, uint32_t compression, uint32_t colors,
                 size_t cut = 0) {
  std::string f(14 + 40 + 4, '\0');
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&f[at], &v, 4); };
  auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&f[at], &v, 2); };
  f[0] = 'B';
  f[1] = 'M';
  put32(14, 40);
  put32(18, static_cast<uint32_t>(width));
  put32(22, static_cast<uint32_t>(height));
  put16(26, static_cast<uint16_t>(planes));
  put16(28, static_cast<uint16_t>(bits));
  put32(30, compression);
  put32(46, colors);
  f.resize(f.size() - cut);
  return f;
}

TEST_F(BitmapFormats, MalformedFilesAreRefused) {
  ASSERT_TRUE(quilmo::test::WriteDeviceFile(u"\\ok.bmp", File(1, 1, 1, 24, BI_RGB, 0)));
  HBITMAP ok = SHLoadDIBitmap(u"\\ok.bmp");
  ASSERT_NE(ok, nullptr);
  DeleteObject(ok);
  const struct {
    const char* what;
    std::string file;
  } bad[] = {
      {"no width", File(0, 1, 1, 24, BI_RGB, 0)},
      {"no height", File(1, 0, 1, 24, BI_RGB, 0)},
      {"two planes", File(1, 1, 2, 24, BI_RGB, 0)},
      {"7 bits", File(1, 1, 1, 7, BI_RGB, 0)},
      {"run-length", File(1, 1, 1, 8, 1, 0)},
      {"too many colours", File(1, 1, 1, 8, BI_RGB, 257)},
      {"rows cut short", File(1, 1, 1, 24, BI_RGB, 0, 1)},
      {"wider than any screen", File(100000, 1, 1, 1, BI_RGB, 0)},
      {"taller than any screen", File(1, -100000, 1, 1, BI_RGB, 0)},
      {"header only", File(1, 1, 1, 24, BI_RGB, 0).substr(0, 20)},
  };
  for (const auto& b : bad) {
    ASSERT_TRUE(quilmo::test::WriteDeviceFile(u"\\bad.bmp", b.file));
    SetLastError(0);
    EXPECT_EQ(SHLoadDIBitmap(u"\\bad.bmp"), nullptr) << b.what;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA)) << b.what;
  }
  EXPECT_EQ(SHLoadDIBitmap(u"\\none.bmp"), nullptr);
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
}

}  // namespace
