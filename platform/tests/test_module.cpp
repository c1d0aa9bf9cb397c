// Modules, resources and the resource compiler.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "ce/errors.h"
#include "ce/module.h"
#include "ce/process.h"
#include "ce/rescontainer.h"
#include "ce/text.h"
#include "testkit/RunCommand.h"
#include "testkit/ScopedState.h"
#include "testkit/TestDevice.h"

namespace fs = std::filesystem;
using quilmo::test::TestDevice;

namespace {

const fs::path kBin = QUILMO_BIN_DIR;

using RunResult = quilmo::test::CommandResult;
using quilmo::test::RunCommand;

std::string Q(const fs::path& p) { return "'" + p.string() + "'"; }

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteAll(const fs::path& p, const std::string& s) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << s;
}

// Compiles xml (written next to the device) into a device file.
RunResult Compile(const TestDevice& dev, const std::string& xml, std::u16string_view devicePath,
                  const std::string& extra = "") {
  const fs::path src = dev.dir() / "src" / "res.xml";
  WriteAll(src, xml);
  const fs::path out = dev.Host(devicePath);
  fs::create_directories(out.parent_path());
  return RunCommand(Q(kBin / "rescomp") + " --out " + Q(out) + " " + extra + " " + Q(src));
}

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) { return U16(p) | static_cast<uint32_t>(U16(p + 2)) << 16; }

// An independent reader of version blocks: length, value length, type, key,
// value 4-aligned after the key, children 4-aligned after the value.
struct VBlock {
  uint16_t length = 0, valueLength = 0, type = 0;
  std::u16string key;
  size_t valueAt = 0, childrenAt = 0, end = 0;
};

VBlock ReadBlock(const uint8_t* base, size_t at) {
  VBlock b;
  b.length = U16(base + at);
  b.valueLength = U16(base + at + 2);
  b.type = U16(base + at + 4);
  size_t k = at + 6;
  while (U16(base + k)) b.key.push_back(static_cast<char16_t>(U16(base + k))), k += 2;
  b.valueAt = (k + 2 + 3) & ~size_t{3};
  const size_t valueBytes = b.type == 1 ? b.valueLength * 2u : b.valueLength;
  b.childrenAt = (b.valueAt + valueBytes + 3) & ~size_t{3};
  b.end = at + b.length;
  return b;
}

struct ParsedVersion {
  uint32_t signature = 0, fileMS = 0, fileLS = 0, fileType = 0, translation = 0;
  std::u16string tableKey;
  std::map<std::u16string, std::u16string> strings;
};

ParsedVersion ParseVersion(const uint8_t* base, size_t size) {
  ParsedVersion v;
  const VBlock root = ReadBlock(base, 0);
  EXPECT_EQ(root.key, u"VS_VERSION_INFO");
  EXPECT_EQ(root.length, size);
  EXPECT_EQ(root.valueAt, 40u);
  EXPECT_EQ(root.valueLength, 52u);
  EXPECT_EQ(root.childrenAt, 92u);
  v.signature = U32(base + 40);
  v.fileMS = U32(base + 48);
  v.fileLS = U32(base + 52);
  v.fileType = U32(base + 40 + 4 * 9);
  for (size_t at = root.childrenAt; at < root.end;) {
    const VBlock child = ReadBlock(base, at);
    if (child.length == 0) break;
    if (child.key == u"StringFileInfo") {
      const VBlock table = ReadBlock(base, child.childrenAt);
      v.tableKey = table.key;
      for (size_t s = table.childrenAt; s < table.end;) {
        const VBlock str = ReadBlock(base, s);
        std::u16string value;
        for (size_t i = 0; i + 1 < str.valueLength; ++i)
          value.push_back(static_cast<char16_t>(U16(base + str.valueAt + 2 * i)));
        v.strings[str.key] = value;
        s = (str.end + 3) & ~size_t{3};
      }
    } else if (child.key == u"VarFileInfo") {
      const VBlock var = ReadBlock(base, child.childrenAt);
      EXPECT_EQ(var.key, u"Translation");
      v.translation = U32(base + var.valueAt);
    }
    at = (child.end + 3) & ~size_t{3};
  }
  return v;
}

ParsedVersion ModuleVersion(HMODULE h) {
  HRSRC r = FindResourceW(h, MAKEINTRESOURCE(1), RT_VERSION);
  EXPECT_NE(r, nullptr);
  if (!r) return {};
  auto p = static_cast<const uint8_t*>(LockResource(LoadResource(h, r)));
  return ParseVersion(p, SizeofResource(h, r));
}

const char kStrings[] = R"(<?xml version="1.0"?>
<resources>
  <!-- comments are skipped -->
  <string id="100">Hello &amp; welcome, %1</string>
  <string id="101">two&#10;lines \Windows\x</string>
  <string id="0x66"></string>
  <string id="65535">  padded  </string>
  <rcdata name="Blob" file="blob.bin"/>
  <resource type="TEMPLATE" id="3000" file="blob.bin"/>
  <bitmap id="200" file="tiny.bmp"/>
</resources>
)";

std::string TinyBmp() {
  std::string bmp = "BM";
  bmp.resize(14 + 40 + 4, '\x01');
  return bmp;
}

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteAll(dev.dir() / "src" / "blob.bin", std::string("\x00\x01\x02\xff", 4));
    WriteAll(dev.dir() / "src" / "tiny.bmp", TinyBmp());
  }
  TestDevice dev;
};

}  // namespace

TEST(ResContainer, RejectsDamagedContainers) {
  std::vector<ce::res::Resource> in(2);
  in[0].type = ce::res::kTypeString;
  in[0].id = 5;
  in[0].data = std::string("a\0\0\0", 4);
  in[1].type = ce::res::kTypeRcData;
  in[1].name.push_back(u'x');
  in[1].data = "payload";
  std::string bytes, error;
  ASSERT_TRUE(ce::res::BuildContainer(in, &bytes, &error)) << error;
  std::vector<ce::res::EntryView> views;
  ASSERT_TRUE(ce::res::ParseContainer(bytes, &views, &error)) << error;
  ASSERT_EQ(views.size(), 2u);
  EXPECT_EQ(views[1].name, u"X");  // names are kept upper case

  // Truncated data, an entry pointing past the end, a string without NUL.
  EXPECT_FALSE(ce::res::ParseContainer(bytes.substr(0, bytes.size() - 3), &views, &error));
  std::string bad = bytes;
  bad[ce::res::kHeaderSize + ce::res::kEntryDataSize] = '\x7f';
  EXPECT_FALSE(ce::res::ParseContainer(bad, &views, &error));
  bad = bytes;
  bad[12] = '\xff';  // entry count far beyond the table
  EXPECT_FALSE(ce::res::ParseContainer(bad, &views, &error));
  in[0].data = "ab";
  ASSERT_TRUE(ce::res::BuildContainer(in, &bytes, &error));
  EXPECT_FALSE(ce::res::ParseContainer(bytes, &views, &error));

  // Duplicates are refused when building.
  in[0].data = std::string("\0\0", 2);
  in.push_back(in[0]);
  EXPECT_FALSE(ce::res::BuildContainer(in, &bytes, &error));
}

TEST_F(ModuleTest, StringsAndResourcesRoundTrip) {
  auto r = Compile(dev, kStrings, u"\\Windows\\TestRes.dll");
  ASSERT_EQ(r.status, 0) << r.output;

  HMODULE h = LoadLibraryExW(u"testres.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(h, nullptr) << GetLastError();
  WCHAR buf[64];
  EXPECT_EQ(LoadStringW(h, 100, buf, 64), 19);
  EXPECT_EQ(std::u16string(buf), u"Hello & welcome, %1");
  EXPECT_EQ(LoadStringW(h, 101, buf, 64), 20);
  EXPECT_EQ(std::u16string(buf), u"two\nlines \\Windows\\x");
  EXPECT_EQ(LoadStringW(h, 65535, buf, 64), 10);
  EXPECT_EQ(std::u16string(buf), u"  padded  ");
  EXPECT_EQ(LoadStringW(h, 102, buf, 64), 0);
  EXPECT_EQ(buf[0], 0);

  // Truncation keeps a terminator; size 0 hands out the read-only text.
  buf[5] = u'#';
  EXPECT_EQ(LoadStringW(h, 100, buf, 6), 5);
  EXPECT_EQ(std::u16string(buf), u"Hello");
  EXPECT_EQ(LoadStringW(h, 100, buf, 1), 0);
  EXPECT_EQ(buf[0], 0);
  LPCWSTR ro = nullptr;
  EXPECT_EQ(LoadStringW(h, 100, reinterpret_cast<LPWSTR>(&ro), 0), 19);
  ASSERT_NE(ro, nullptr);
  EXPECT_EQ(std::u16string(ro), u"Hello & welcome, %1");

  SetLastError(0);
  EXPECT_EQ(LoadStringW(h, 4242, buf, 64), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(FindResourceW(h, MAKEINTRESOURCE(1), RT_DIALOG), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));

  // Named and numbered binary resources; bitmaps lose their file header.
  for (LPCWSTR name : {u"blob", u"BLOB"}) {
    HRSRC res = FindResourceW(h, name, RT_RCDATA);
    ASSERT_NE(res, nullptr);
    ASSERT_EQ(SizeofResource(h, res), 4u);
    EXPECT_EQ(std::memcmp(LockResource(LoadResource(h, res)), "\x00\x01\x02\xff", 4), 0);
  }
  EXPECT_NE(FindResourceW(h, u"#3000", RT_TEMPLATE), nullptr);
  HRSRC bmp = FindResourceW(h, MAKEINTRESOURCE(200), RT_BITMAP);
  ASSERT_NE(bmp, nullptr);
  EXPECT_EQ(SizeofResource(h, bmp), 44u);
  EXPECT_NE(FindResourceExW(h, RT_BITMAP, MAKEINTRESOURCE(200), 0x0409), nullptr);
  EXPECT_EQ(FindResourceExW(h, RT_BITMAP, MAKEINTRESOURCE(200), 0x0407), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND));

  // An entry of one module is refused by another.
  EXPECT_EQ(LoadResource(nullptr, bmp), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  WCHAR path[MAX_PATH];
  EXPECT_EQ(GetModuleFileNameW(h, path, MAX_PATH), 20u);
  EXPECT_EQ(std::u16string(path), u"\\Windows\\TestRes.dll");
  EXPECT_EQ(GetModuleFileNameW(h, path, 8), 8u);
  EXPECT_EQ(std::u16string(path), u"\\Window");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(GetModuleHandleW(u"TESTRES.DLL"), h);

  // References: a second load shares the handle; the last free ends it.
  EXPECT_EQ(LoadLibraryExW(u"\\WINDOWS\\testres.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE), h);
  EXPECT_TRUE(FreeLibrary(h));
  EXPECT_EQ(LoadStringW(h, 100, buf, 64), 19);
  EXPECT_TRUE(FreeLibrary(h));
  EXPECT_EQ(LoadStringW(h, 100, buf, 64), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(FreeLibrary(h));
  HMODULE again = LoadLibraryExW(u"\\Windows\\TestRes.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  EXPECT_NE(again, h);  // handles are not reused
  FreeLibrary(again);
}

TEST_F(ModuleTest, MissingAndForeignFiles) {
  dev.MakeDir(u"\\Windows");
  EXPECT_EQ(LoadLibraryExW(u"\\Windows\\none.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(LoadLibraryExW(u"\\NoFolder\\none.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(LoadLibraryW(u"none.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

  dev.PutFile(u"\\notes.txt", "plain text, no resources here");
  EXPECT_EQ(LoadLibraryExW(u"\\notes.txt", nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  EXPECT_EQ(LoadLibraryW(u"\\notes.txt"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));

  // A container whose trailer points at garbage is refused, not trusted.
  std::string fake(64, 'x');
  fake += ce::res::MakeTrailer(0, 64);
  dev.PutFile(u"\\fake.dll", fake);
  EXPECT_EQ(LoadLibraryExW(u"\\fake.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
}

TEST_F(ModuleTest, VersionBlobHasTheDeviceLayout) {
  const char xml[] = R"(<resources>
  <version fileversion="4.0.1.5" productversion="4, 0, 0, 0">
    <CompanyName>Acme &amp; Sons</CompanyName>
    <Comments></Comments>
  </version>
</resources>)";
  auto r = Compile(dev, xml, u"\\Tools\\Ver.exe", "--default-name Ver.exe");
  ASSERT_EQ(r.status, 0) << r.output;
  HMODULE h = LoadLibraryExW(u"\\Tools\\Ver.exe", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(h, nullptr);
  const ParsedVersion v = ModuleVersion(h);
  EXPECT_EQ(v.signature, 0xFEEF04BDu);
  EXPECT_EQ(v.fileMS, 0x00040000u);
  EXPECT_EQ(v.fileLS, 0x00010005u);
  EXPECT_EQ(v.fileType, 1u);
  EXPECT_EQ(v.tableKey, u"040904B0");
  EXPECT_EQ(v.translation, 0x04B00409u);
  EXPECT_EQ(v.strings.at(u"CompanyName"), u"Acme & Sons");
  EXPECT_EQ(v.strings.at(u"Comments"), u"");
  EXPECT_EQ(v.strings.at(u"FileVersion"), u"4, 0, 1, 5");
  EXPECT_EQ(v.strings.at(u"ProductVersion"), u"4, 0, 0, 0");
  EXPECT_EQ(v.strings.at(u"OriginalFilename"), u"Ver.exe");
  EXPECT_EQ(v.strings.at(u"InternalName"), u"Ver");
  EXPECT_EQ(v.strings.size(), 9u);
  FreeLibrary(h);
}

TEST_F(ModuleTest, ResourceLibraryCarriesVersionAndStrings) {
  dev.PutFile(u"\\Windows\\QuilmoRes.dll", ReadAll(kBin / "QuilmoRes.dll"));
  HMODULE h = LoadLibraryExW(u"QuilmoRes.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(h, nullptr);
  const ParsedVersion v = ModuleVersion(h);
  EXPECT_EQ(v.fileType, 2u);
  EXPECT_EQ(v.strings.at(u"OriginalFilename"), u"QuilmoRes.dll");
  EXPECT_FALSE(v.strings.at(u"FileVersion").empty());
  WCHAR buf[256];
  EXPECT_GT(LoadStringW(h, 65298, buf, 256), 0);
  FreeLibrary(h);
}

TEST_F(ModuleTest, AppendedProgramStillRunsAndCanBeReplaced) {
  const fs::path prog = dev.Host(u"\\Program Files\\ResProg.exe");
  fs::create_directories(prog.parent_path());
  fs::copy_file(kBin / "rescomp_resprog", prog);
  auto r = RunCommand(Q(prog));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output.substr(0, r.output.find('|')), "hello from resprog");

  // The program's version resource, read as a data file.
  HMODULE h = LoadLibraryExW(u"\\Program Files\\ResProg.exe", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(h, nullptr);
  const ParsedVersion v = ModuleVersion(h);
  EXPECT_EQ(v.fileMS, 0x00020005u);
  EXPECT_EQ(v.strings.at(u"FileDescription"), u"Resource test program");
  EXPECT_EQ(v.strings.at(u"OriginalFilename"), u"ResProg.exe");
  FreeLibrary(h);

  // Appending again replaces the container instead of stacking a second one.
  const auto before = fs::file_size(prog);
  const fs::path src = dev.dir() / "src" / "again.xml";
  WriteAll(src, "<resources><string id=\"100\">replaced</string></resources>");
  for (int i = 0; i < 2; ++i) {
    r = RunCommand(Q(kBin / "rescomp") + " --append " + Q(prog) + " " + Q(src));
    ASSERT_EQ(r.status, 0) << r.output;
  }
  EXPECT_LT(fs::file_size(prog), before);
  r = RunCommand(Q(prog));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "replaced|0\n");
}

TEST_F(ModuleTest, CodeLibraryExportsAndEntryPoint) {
  dev.PutFile(u"\\Windows\\TestMod.dll", ReadAll(kBin / "libquilmo_testmodule.so"));
  const fs::path log = dev.dir() / "detach.log";
  const quilmo::test::ScopedEnv detachLog("QUILMO_TESTMODULE_LOG", log.string());

  HMODULE h = LoadLibraryW(u"TestMod");  // ".dll" appended, found in \Windows
  ASSERT_NE(h, nullptr) << GetLastError();
  auto add = reinterpret_cast<int (*)(int, int)>(GetProcAddress(h, "QuilmoTestAdd"));
  ASSERT_NE(add, nullptr);
  EXPECT_EQ(add(2, 40), 42);
  auto self = reinterpret_cast<HANDLE (*)()>(GetProcAddress(h, u"QuilmoTestSelf"));
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(self(), reinterpret_cast<HANDLE>(h));

  EXPECT_EQ(GetProcAddress(h, "NoSuchEntry"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(GetProcAddress(h, "malloc"), nullptr);  // not the library's own export
  EXPECT_EQ(GetProcAddress(h, reinterpret_cast<LPCSTR>(1)), nullptr);

  // The library's appended resources are there too.
  WCHAR buf[64];
  EXPECT_EQ(LoadStringW(h, 7, buf, 64), 21);
  WCHAR path[MAX_PATH];
  GetModuleFileNameW(h, path, MAX_PATH);
  EXPECT_EQ(std::u16string(path), u"\\Windows\\TestMod.dll");

  // As a data file no code is mapped.
  HMODULE data = LoadLibraryExW(u"TestMod.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(data, nullptr);
  EXPECT_NE(data, h);
  EXPECT_EQ(GetProcAddress(data, "QuilmoTestAdd"), nullptr);
  FreeLibrary(data);

  EXPECT_EQ(LoadLibraryW(u"\\Windows\\TESTMOD.DLL"), h);
  EXPECT_TRUE(FreeLibrary(h));
  EXPECT_FALSE(fs::exists(log));
  EXPECT_TRUE(FreeLibrary(h));
  EXPECT_EQ(ReadAll(log), "detach\n");

  // An entry point that refuses the load fails it.
  const quilmo::test::ScopedEnv refuse("QUILMO_TESTMODULE_REFUSE", "1");
  EXPECT_EQ(LoadLibraryW(u"TestMod.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
}

TEST_F(ModuleTest, SearchOrderPrefersTheProgramFolder) {
  const quilmo::test::ScopedOwnProgram program(u"\\Apps\\Prog.exe");
  ASSERT_EQ(Compile(dev, "<resources><string id=\"1\">apps</string></resources>", u"\\Apps\\Lib.dll").status, 0);
  ASSERT_EQ(Compile(dev, "<resources><string id=\"1\">windows</string></resources>", u"\\Windows\\Lib.dll").status, 0);
  ASSERT_EQ(Compile(dev, "<resources><string id=\"1\">root</string><string id=\"2\">x</string></resources>",
                    u"\\Other.dll").status, 0);
  WCHAR buf[32];
  HMODULE h = LoadLibraryExW(u"Lib.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(h, nullptr);
  LoadStringW(h, 1, buf, 32);
  EXPECT_EQ(std::u16string(buf), u"apps");
  FreeLibrary(h);
  fs::remove(dev.Host(u"\\Apps\\Lib.dll"));
  h = LoadLibraryExW(u"Lib.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  LoadStringW(h, 1, buf, 32);
  EXPECT_EQ(std::u16string(buf), u"windows");
  FreeLibrary(h);
  h = LoadLibraryExW(u"Other.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(h, nullptr);
  LoadStringW(h, 1, buf, 32);
  EXPECT_EQ(std::u16string(buf), u"root");

  // The running program and the resource module switch.
  WCHAR path[MAX_PATH];
  EXPECT_EQ(GetModuleFileNameW(nullptr, path, MAX_PATH), 14u);
  EXPECT_EQ(std::u16string(path), u"\\Apps\\Prog.exe");
  EXPECT_EQ(ce::GetResourceModule(), GetModuleHandleW(nullptr));
  ce::SetResourceModule(h);
  EXPECT_EQ(ce::GetResourceModule(), h);
  ce::SetResourceModule(nullptr);
  EXPECT_EQ(ce::GetResourceModule(), GetModuleHandleW(nullptr));
  FreeLibrary(h);
}

TEST(Rescomp, BadInputGivesClearErrors) {
  TestDevice dev;
  WriteAll(dev.dir() / "src" / "tiny.bmp", TinyBmp());
  WriteAll(dev.dir() / "src" / "junk.bmp", "not a bitmap at all, really not one of them");
  const struct {
    const char* xml;
    const char* message;
  } cases[] = {
      {"<resources><string id=\"1\">x</resources>", "res.xml:1: XML error"},
      {"<strings/>", "top element must be <resources>"},
      {"<resources>\n<string id=\"1\">a</string>\n<string id=\"1\">b</string></resources>",
       "res.xml:3: duplicate <string> (first at line 2)"},
      {"<resources><string id=\"70000\">x</string></resources>", "bad id \"70000\""},
      {"<resources><string>x</string></resources>", "<string> needs id"},
      {"<resources><string id=\"1\"><b>x</b></string></resources>", "<string> holds text only"},
      {"<resources><strnig id=\"1\">x</strnig></resources>", "unknown element <strnig>"},
      {"<resources><string id=\"1\" lang=\"9\">x</string></resources>", "unexpected attribute lang"},
      {"<resources><bitmap id=\"1\" file=\"missing.bmp\"/></resources>", "cannot read"},
      {"<resources><bitmap id=\"1\" file=\"junk.bmp\"/></resources>", "is not a BMP file"},
      {"<resources><rcdata id=\"1\" name=\"A\" file=\"tiny.bmp\"/></resources>", "either id or name"},
      {"<resources><version fileversion=\"1.2.x\"/></resources>", "bad fileversion"},
      {"<resources><version/></resources>", "<version> needs fileversion"},
      {"<resources><resource type=\"STRING\" id=\"1\" file=\"tiny.bmp\"/></resources>", "use <string>"},
  };
  for (const auto& c : cases) {
    auto r = Compile(dev, c.xml, u"\\out.dll");
    EXPECT_EQ(r.status, 1) << c.xml;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << c.xml << "\n" << r.output;
    EXPECT_FALSE(fs::exists(dev.Host(u"\\out.dll"))) << c.xml;
  }
  EXPECT_EQ(RunCommand(Q(kBin / "rescomp") + " --out x.dll").status, 2);  // nothing to compile
  EXPECT_EQ(RunCommand(Q(kBin / "rescomp") + " --bogus").status, 2);
  auto r = RunCommand(Q(kBin / "rescomp") + " --append " + Q(dev.dir() / "absent") + " --default-version 1.0");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("cannot read"), std::string::npos) << r.output;
}
