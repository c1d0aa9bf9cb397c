// Resource search, custom resource XML, Localizer boxes and bitmaps over a
// scratch device.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ce/bytes.h"
#include "ce/errors.h"
#include "ce/module.h"
#include "ce/msgbox.h"
#include "ce/registry.h"
#include "ce/rescontainer.h"
#include "cesim/msgbox.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/Resources.h"
#include "core/System.h"
#include "testkit/TestDevice.h"

namespace {

using quilmo::test::TestDevice;

std::u16string S(const CString& s) { return s.str(); }

// A w x h 24-bit bitmap file; every pixel byte is `fill`.
std::string BmpFile(int w, int h, char fill) {
  std::string dib;
  ce::le::Put32(&dib, 40);
  ce::le::Put32(&dib, static_cast<uint32_t>(w));
  ce::le::Put32(&dib, static_cast<uint32_t>(h));
  ce::le::Put16(&dib, 1);
  ce::le::Put16(&dib, 24);
  for (int i = 0; i < 6; ++i) ce::le::Put32(&dib, 0);
  const int stride = (w * 24 + 31) / 32 * 4;
  dib.append(static_cast<size_t>(stride * h), fill);
  std::string file = "BM";
  ce::le::Put32(&file, static_cast<uint32_t>(14 + dib.size()));
  ce::le::Put32(&file, 0);
  ce::le::Put32(&file, 14 + 40);
  return file + dib;
}

// A stand-alone resource library with strings and bitmaps.
// A bitmap resource from a whole bitmap file (its 14-byte file header left
// out, as the library stores it).
ce::res::Resource BitmapResource(const std::string& file) {
  ce::res::Resource r;
  r.type = ce::res::kTypeBitmap;
  r.data = file.substr(14);
  return r;
}

void PutContainer(const TestDevice& dev, std::u16string_view path, const std::vector<ce::res::Resource>& resources) {
  std::string container, error;
  ASSERT_TRUE(ce::res::BuildContainer(resources, &container, &error)) << error;
  container += ce::res::MakeTrailer(0, static_cast<uint32_t>(container.size()));
  dev.PutFile(path, container);
}

void PutLibrary(const TestDevice& dev, std::u16string_view path,
                const std::map<uint32_t, std::u16string>& strings,
                const std::map<uint32_t, std::string>& bitmapFiles = {}) {
  std::vector<ce::res::Resource> resources;
  for (const auto& [id, text] : strings) {
    resources.push_back(ce::res::StringResource(id, text));
  }
  for (const auto& [id, file] : bitmapFiles) {
    resources.push_back(BitmapResource(file));
    resources.back().id = id;
  }
  PutContainer(dev, path, resources);
}

void SetApplicationName(const std::u16string& name) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Config", 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, u"ApplicationName", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(name.c_str()),
                           static_cast<DWORD>((name.size() + 1) * 2)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

class ResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogReportSink([this](int, DWORD, const CString& text) { errors.push_back(text.str()); });
    PutLibrary(dev, u"\\Windows\\QuilmoRes.dll",
               {{100, u"main 100"}, {101, u"main 101"}, {200, u"%1 says %1"}, {65325, u"main 65325"}});
  }
  void TearDown() override {
    UnloadResourceLibraries(true);
    GetResourceOverrides().RemoveAll();
    ce::SetResourceModule(nullptr);
    SetLogReportSink(nullptr);
  }
  std::u16string Lookup(DWORD id) {
    CString text(u"unset");
    return LookupResString(id, text) ? text.str() : u"<none>";
  }
  // A custom resource XML at a device path.
  std::u16string PutXml(std::u16string_view path, const std::string& body) {
    dev.PutFile(path, "<?xml version=\"1.0\"?>\n" + body);
    return std::u16string(path);
  }

  TestDevice dev;
  std::vector<std::u16string> errors;
};

TEST_F(ResourcesTest, MainLibraryTextsWithApplicationName) {
  ASSERT_TRUE(InitResources(u"\\Windows\\QuilmoRes.dll", nullptr, nullptr));
  ASSERT_NE(GetMainResourceLibrary(), nullptr);
  EXPECT_EQ(Lookup(100), u"main 100");

  SetApplicationName(u"Acme %1 Saver");
  // Both inserts get the name; the inserted "%1" is not expanded again.
  EXPECT_EQ(S(Localizer::LoadResString(200)), u"Acme %1 Saver says Acme %1 Saver");
  EXPECT_EQ(S(Localizer::FormatResString(200, u"X")), u"X says X");
  // Only "%1" is an insert: other sequences stay as they are.
  EXPECT_EQ(S(Localizer::ReplaceInsert(u"%2 %% %1%1 %", u"ab")), u"%2 %% abab %");
  EXPECT_TRUE(ce::ReadScreenLog().empty());
}

TEST_F(ResourcesTest, MissingIdShowsLocalizerBoxAndGivesErrorText) {
  ASSERT_TRUE(InitResources(u"\\Windows\\QuilmoRes.dll", nullptr, nullptr));
  CString text(u"before");
  EXPECT_FALSE(LookupResString(4242, text));
  EXPECT_EQ(S(text), u"before");
  EXPECT_TRUE(ce::ReadScreenLog().empty());  // the bare lookup shows nothing

  EXPECT_FALSE(Localizer::LoadResStringRaw(4242, text));
  EXPECT_EQ(S(text), u"Error (1): LoadString Failed for 4242");
  EXPECT_EQ(S(Localizer::LoadResString(4243)), u"Error (1): LoadString Failed for 4243");
  EXPECT_EQ(S(Localizer::FormatResString(4244, u"x")), u"Error (1): LoadString Failed for 4244");

  auto boxes = ce::ReadScreenLog();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].caption, u"Localizer");
  EXPECT_EQ(boxes[0].text, u"Error (1): LoadString Failed for 4242");
  EXPECT_EQ(boxes[0].style, MB_OK | MB_ICONERROR | MB_TOPMOST | MB_SETFOREGROUND);
  EXPECT_EQ(boxes[2].text, u"Error (1): LoadString Failed for 4244");
}

TEST_F(ResourcesTest, MessageBoxesShowRawTextWithStyleAndAnswer) {
  SetApplicationName(u"Acme");
  ASSERT_TRUE(InitResources(u"\\Windows\\QuilmoRes.dll", nullptr, nullptr));
  ASSERT_TRUE(ce::AddMessageBoxAnswer(u"says", IDNO));
  EXPECT_EQ(Localizer::ResMessageBox(200, MB_YESNO | MB_ICONQUESTION), IDNO);
  EXPECT_EQ(Localizer::TextMessageBox(u"plain", MB_OK), IDOK);
  // A missing id: the Localizer's box, then the error text in the caller's box.
  Localizer::ResMessageBox(777, MB_OK);

  auto boxes = ce::ReadScreenLog();
  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_EQ(boxes[0].text, u"%1 says %1");
  EXPECT_EQ(boxes[0].caption, u"Acme");
  EXPECT_EQ(boxes[0].style, MB_YESNO | MB_ICONQUESTION);
  EXPECT_EQ(boxes[1].text, u"plain");
  EXPECT_EQ(boxes[2].caption, u"Localizer");
  EXPECT_EQ(boxes[3].text, u"Error (1): LoadString Failed for 777");
  EXPECT_EQ(boxes[3].caption, u"Acme");
}

TEST_F(ResourcesTest, ExtraLibrariesSearchedNewestFirstBeforeMain) {
  PutLibrary(dev, u"\\Program Files\\Quilmo Backup\\customres.dll", {{100, u"custom 100"}});
  PutLibrary(dev, u"\\Windows\\second.dll", {{100, u"second 100"}, {101, u"second 101"}});
  ASSERT_TRUE(InitResources(u"\\Windows\\QuilmoRes.dll", u"\\Program Files\\Quilmo Backup\\customres.dll",
                            nullptr));
  EXPECT_EQ(GetResourceLibraryCount(), 1);
  EXPECT_EQ(Lookup(100), u"custom 100");
  EXPECT_EQ(Lookup(101), u"main 101");

  ASSERT_TRUE(AddResourceLibrary(u"\\Windows\\second.dll"));
  EXPECT_EQ(Lookup(100), u"second 100");
  EXPECT_EQ(Lookup(101), u"second 101");
  EXPECT_EQ(Lookup(65325), u"main 65325");

  UnloadResourceLibraries(false);
  EXPECT_EQ(GetResourceLibraryCount(), 0);
  EXPECT_EQ(Lookup(100), u"main 100");
  // The extra libraries are really released.
  EXPECT_EQ(GetModuleHandleW(u"\\Windows\\second.dll"), nullptr);
  EXPECT_EQ(GetModuleHandleW(u"\\Program Files\\Quilmo Backup\\customres.dll"), nullptr);

  UnloadResourceLibraries(true);
  EXPECT_EQ(GetMainResourceLibrary(), nullptr);
  EXPECT_EQ(Lookup(100), u"<none>");
}

TEST_F(ResourcesTest, EleventhLibraryIsRefused) {
  ASSERT_TRUE(InitResources(u"\\Windows\\QuilmoRes.dll", nullptr, nullptr));
  for (int i = 0; i < kMaxResourceLibraries; ++i) {
    const std::u16string path = u"\\Windows\\extra" + std::u16string(1, char16_t(u'a' + i)) + u".dll";
    PutLibrary(dev, path, {{100, u"extra " + std::u16string(1, char16_t(u'a' + i))}});
    ASSERT_TRUE(AddResourceLibrary(path.c_str())) << i;
  }
  PutLibrary(dev, u"\\Windows\\eleventh.dll", {{100, u"eleventh"}});
  SetLastError(0);
  EXPECT_FALSE(AddResourceLibrary(u"\\Windows\\eleventh.dll"));
  EXPECT_EQ(GetLastError(), 214u);  // ERROR_TOO_MANY_MODULES
  EXPECT_EQ(GetResourceLibraryCount(), kMaxResourceLibraries);
  EXPECT_EQ(GetModuleHandleW(u"\\Windows\\eleventh.dll"), nullptr);
  EXPECT_EQ(Lookup(100), u"extra j");
}

TEST_F(ResourcesTest, MissingLibrariesFailInit) {
  SetLastError(0);
  EXPECT_FALSE(InitResources(u"\\Windows\\Nothing.dll", nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetMainResourceLibrary(), nullptr);

  // Not a resource library at all.
  dev.PutFile(u"\\Windows\\junk.dll", "not a module");
  EXPECT_FALSE(InitResources(u"\\Windows\\junk.dll", nullptr, nullptr));

  EXPECT_FALSE(InitResources(u"\\Windows\\QuilmoRes.dll", u"\\Windows\\customres.dll", nullptr));
  EXPECT_EQ(GetResourceLibraryCount(), 0);
  EXPECT_FALSE(AddResourceLibrary(u"\\Windows\\customres.dll"));

  // A failed reload keeps the library loaded before.
  ASSERT_NE(GetMainResourceLibrary(), nullptr);
  EXPECT_FALSE(InitResources(u"\\Windows\\Nothing.dll", nullptr, nullptr));
  EXPECT_EQ(Lookup(100), u"main 100");
}

TEST_F(ResourcesTest, OverrideXmlReplacesTextsEverywhere) {
  SetApplicationName(u"Acme");
  PutLibrary(dev, u"\\Windows\\customres.dll", {{100, u"custom 100"}});
  const auto xml = PutXml(u"\\Program Files\\Quilmo Backup\\customres.xml",
                          "<resources>\n"
                          "  <!-- the device maker's texts -->\n"
                          "  <string id=\"100\" value=\"first\"/>\n"
                          "  <string id=\"100\" value=\"xml 100 for %1\"/>\n"
                          "  <string id=\"70000\" value=\"beyond 16 bits\"/>\n"
                          "  <image id=\"5\" filename=\"logo.bmp\"/>\n"
                          "</resources>\n");
  ASSERT_TRUE(InitResources(u"\\Windows\\QuilmoRes.dll", u"\\Windows\\customres.dll", xml.c_str()));
  EXPECT_EQ(Lookup(100), u"xml 100 for %1");
  EXPECT_EQ(Lookup(70000), u"beyond 16 bits");
  EXPECT_EQ(Lookup(101), u"main 101");
  EXPECT_EQ(S(Localizer::LoadResString(100)), u"xml 100 for Acme");
  Localizer::ResMessageBox(100, MB_OK);
  auto boxes = ce::ReadScreenLog();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, u"xml 100 for %1");

  // InitResources empties the table before reading (here: no XML at all).
  ASSERT_TRUE(InitResources(nullptr, nullptr, nullptr));
  EXPECT_EQ(Lookup(100), u"custom 100");
}

TEST_F(ResourcesTest, ImageOnlyOverrideLeavesStringsToLibraries) {
  const auto xml = PutXml(u"\\Windows\\images.xml",
                          "<resources><image id=\"100\" filename=\"a.bmp\"/></resources>");
  ASSERT_TRUE(InitResources(u"\\Windows\\QuilmoRes.dll", nullptr, xml.c_str()));
  EXPECT_FALSE(GetResourceOverrides().HasStrings());
  EXPECT_TRUE(GetResourceOverrides().HasImages());
  EXPECT_EQ(Lookup(100), u"main 100");
}

TEST_F(ResourcesTest, BadOverrideXmlNamesTheReasonAndAddsNothing) {
  ASSERT_TRUE(InitResources(u"\\Windows\\QuilmoRes.dll", nullptr, nullptr));
  const auto good = PutXml(u"\\Windows\\good.xml", "<resources><string id=\"101\" value=\"kept\"/></resources>");
  ASSERT_TRUE(LoadResOverrides(good.c_str()));

  struct Case {
    const char* body;
    const char16_t* error;
  } cases[] = {
      {"<strings/>", u"Toplevel element must be resources not strings"},
      {"<Resources/>", u"Toplevel element must be resources not Resources"},
      {"<resources><bitmap id=\"1\"/></resources>", u"Unexpected resource type bitmap"},
      {"<resources>stray text</resources>", u"Expecting NODE_ELEMENT element type, got a 3"},
      {"<resources><![CDATA[x]]></resources>", u"Expecting NODE_ELEMENT element type, got a 4"},
      {"<resources><string value=\"v\"/></resources>", u"No id attribute found on string node"},
      {"<resources><image filename=\"f\"/></resources>", u"No id attribute found on string node"},
      {"<resources><string id=\"1\"/></resources>", u"No value attribute found on string node"},
      {"<resources><image id=\"1\" value=\"x\"/></resources>", u"No value attribute found on string node"},
      {"<resources><string id=\"12abc\" value=\"v\"/></resources>",
       u"Invalid id attribute \"12abc\" on string node"},
      {"<resources><string id=\"4294967296\" value=\"v\"/></resources>",
       u"Invalid id attribute \"4294967296\" on string node"},
  };
  for (const auto& c : cases) {
    // A good entry before the bad node must not survive the failed load.
    const std::string body = std::string(c.body);
    const auto path = PutXml(u"\\Windows\\bad.xml", body.starts_with("<resources>")
                                                         ? "<resources><string id=\"100\" value=\"partial\"/>" +
                                                               body.substr(11)
                                                         : body);
    errors.clear();
    EXPECT_FALSE(LoadResOverrides(path.c_str())) << c.body;
    EXPECT_EQ(S(GetResourceOverrides().GetErrorText()), c.error) << c.body;
    ASSERT_EQ(errors.size(), 1u) << c.body;
    EXPECT_NE(errors[0].find(c.error), std::u16string::npos) << c.body;
    EXPECT_EQ(Lookup(100), u"main 100") << c.body;
    EXPECT_EQ(Lookup(101), u"kept") << c.body;
  }

  // Not XML at all, or no file: the parser's reason.
  const auto broken = PutXml(u"\\Windows\\broken.xml", "<resources><string id=\"1\"");
  EXPECT_FALSE(LoadResOverrides(broken.c_str()));
  EXPECT_FALSE(GetResourceOverrides().GetErrorText().IsEmpty());
  EXPECT_FALSE(LoadResOverrides(u"\\Windows\\none.xml"));
  EXPECT_FALSE(GetResourceOverrides().GetErrorText().IsEmpty());
  EXPECT_FALSE(InitResources(nullptr, nullptr, broken.c_str()));
}

TEST_F(ResourcesTest, BitmapsFromOverrideFileThenLibraries) {
  const std::u16string folder = S(System::GetProgramPath(false));
  PutLibrary(dev, u"\\Windows\\QuilmoRes.dll", {}, {{291, BmpFile(2, 2, 'm')}, {292, BmpFile(3, 1, 'm')}});
  PutLibrary(dev, u"\\Windows\\customres.dll", {}, {{292, BmpFile(5, 4, 'c')}});
  dev.PutFile(folder + u"art\\logo.bmp", BmpFile(7, 3, 'x'));
  dev.PutFile(folder + u"broken.bmp", "BMnot really a bitmap");
  const auto xml = PutXml(u"\\Windows\\res.xml",
                          "<resources>"
                          "<image id=\"291\" filename=\"art\\logo.bmp\"/>"
                          "<image id=\"292\" filename=\"missing.bmp\"/>"
                          "<image id=\"293\" filename=\"broken.bmp\"/>"
                          "</resources>");
  ASSERT_TRUE(InitResources(u"\\Windows\\QuilmoRes.dll", u"\\Windows\\customres.dll", xml.c_str()));
  const HMODULE before = ce::GetResourceModule();

  AResBitmap bitmap;
  ASSERT_TRUE(LoadResBitmap(291, bitmap));
  EXPECT_EQ(bitmap.GetWidth(), 7);
  EXPECT_EQ(bitmap.GetHeight(), 3);
  EXPECT_EQ(bitmap.GetBitCount(), 24);
  EXPECT_TRUE(errors.empty());

  // The named file is missing: logged, then the libraries (custom first).
  ASSERT_TRUE(LoadResBitmap(292, bitmap));
  EXPECT_EQ(bitmap.GetWidth(), 5);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], u"Failed to load bitmap " + folder + u"missing.bmp (2)");
  EXPECT_EQ(ce::GetResourceModule(), before);

  // A malformed file is refused the same way; no library has 293.
  errors.clear();
  EXPECT_FALSE(LoadResBitmap(293, bitmap));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], u"Failed to load bitmap " + folder + u"broken.bmp (13)");
  EXPECT_EQ(bitmap.GetWidth(), 5);  // unchanged
  EXPECT_EQ(ce::GetResourceModule(), before);
  EXPECT_FALSE(LoadResBitmap(9999, bitmap));
}

TEST_F(ResourcesTest, NamedBitmapsFromTheCustomLibraryThenTheMainOne) {
  auto put = [&](std::u16string_view path, std::map<std::u16string, std::string> named) {
    std::vector<ce::res::Resource> resources;
    for (const auto& [name, file] : named) {
      resources.push_back(BitmapResource(file));
      resources.back().name = name;
    }
    PutContainer(dev, path, resources);
  };
  put(u"\\Windows\\QuilmoRes.dll", {{u"OPENU", BmpFile(3, 2, 'm')}, {u"OPEND", BmpFile(4, 2, 'm')}});
  put(u"\\Windows\\customres.dll", {{u"OPENU", BmpFile(6, 2, 'c')}});
  ASSERT_TRUE(InitResources(u"\\Windows\\QuilmoRes.dll", u"\\Windows\\customres.dll", nullptr));
  const HMODULE before = ce::GetResourceModule();
  AResBitmap bitmap;
  ASSERT_TRUE(LoadResBitmap(u"OPENU", bitmap));
  EXPECT_EQ(bitmap.GetWidth(), 6);
  ASSERT_TRUE(LoadResBitmap(u"OPEND", bitmap));
  EXPECT_EQ(bitmap.GetWidth(), 4);
  EXPECT_FALSE(LoadResBitmap(u"OPENX", bitmap));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(bitmap.GetWidth(), 4);  // unchanged
  EXPECT_EQ(ce::GetResourceModule(), before);
  EXPECT_FALSE(LoadResBitmap(0x10000u, bitmap));  // no resource id is that large
}

TEST(ResBitmap, RejectsMalformedBitmaps) {
  const std::string dib = BmpFile(3, 2, 'p').substr(14);
  EXPECT_TRUE(AResBitmap::IsWellFormed(dib));
  EXPECT_FALSE(AResBitmap::IsWellFormed(dib.substr(0, dib.size() - 1)));  // last row cut short
  EXPECT_FALSE(AResBitmap::IsWellFormed(dib.substr(0, 39)));
  auto with = [&](size_t at, uint32_t v, int bytes) {
    std::string d = dib;
    for (int i = 0; i < bytes; ++i) d[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return d;
  };
  EXPECT_FALSE(AResBitmap::IsWellFormed(with(0, 0xFFFF, 4)));       // header beyond the data
  EXPECT_FALSE(AResBitmap::IsWellFormed(with(4, 0, 4)));            // no width
  EXPECT_FALSE(AResBitmap::IsWellFormed(with(4, 0x7FFFFFFF, 4)));   // rows beyond the data
  EXPECT_FALSE(AResBitmap::IsWellFormed(with(8, 0, 4)));            // no height
  EXPECT_FALSE(AResBitmap::IsWellFormed(with(8, 0x80000000, 4)));   // no magnitude
  EXPECT_TRUE(AResBitmap::IsWellFormed(with(8, 0xFFFFFFFE, 4)));    // top-down rows
  EXPECT_FALSE(AResBitmap::IsWellFormed(with(12, 2, 2)));           // two planes
  EXPECT_FALSE(AResBitmap::IsWellFormed(with(14, 7, 2)));           // 7 bits per pixel
  EXPECT_FALSE(AResBitmap::IsWellFormed(with(16, 9, 4)));           // unknown compression
  EXPECT_FALSE(AResBitmap::IsWellFormed(with(14, 8, 2)));           // 8 bits lacks its colour table

  AResBitmap bitmap;
  SetLastError(0);
  EXPECT_FALSE(bitmap.SetDib(with(4, 0, 4)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_TRUE(bitmap.IsEmpty());
  EXPECT_EQ(bitmap.GetWidth(), 0);
}

// The product's library holds every text the engine and location code ask
// for, and the format texts take exactly folder, estimate and free space.
TEST(ProductResourceLibrary, HoldsTheTextsTheProgramAsksFor) {
  const std::filesystem::path built = std::filesystem::path(QUILMO_BIN_DIR) / "QuilmoRes.dll";
  ASSERT_TRUE(std::filesystem::exists(built)) << "build the QuilmoRes.dll target first";
  std::ifstream in(built, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  TestDevice dev;
  dev.PutFile(u"\\Windows\\QuilmoRes.dll", bytes.str());
  ASSERT_TRUE(InitResources(u"QuilmoRes.dll", nullptr, nullptr));
  for (DWORD id : {130u, 134u, 144u, 145u, 57662u, 57673u, 57734u, 57736u, 57737u, 57750u, 57751u, 57754u,
                   65058u, 65075u, 65109u, 65198u, 65201u, 65257u, 65298u, 65312u, 65315u, 65325u, 65371u}) {
    CString text;
    EXPECT_TRUE(LookupResString(id, text) && !text.IsEmpty()) << id;
  }
  for (DWORD id : {65315u, 65325u}) {
    CString format, text;
    ASSERT_TRUE(LookupResString(id, format));
    text.Format(format, u"\\Storage Card", 1234u, 56u);
    EXPECT_NE(text.view().find(u"\\Storage Card"), std::u16string_view::npos) << id;
    EXPECT_LT(text.view().find(u"1234"), text.view().find(u"56 ")) << id;
    EXPECT_EQ(text.view().find(u'%'), std::u16string_view::npos) << id;
  }
  UnloadResourceLibraries(true);
}

}  // namespace
