// System functions: storage, companion paths, copies, starter command,
// platform version, version resources and texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ce/codepage.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/msgbox.h"
#include "ce/process.h"
#include "ce/registry.h"
#include "ce/rescontainer.h"
#include "ce/shell.h"
#include "ce/time.h"
#include "cesim/msgbox.h"
#include "cesim/process.h"
#include "core/DateTime.h"
#include "core/Log.h"
#include "core/System.h"
#include "testkit/EntryCapture.h"
#include "testkit/ScopedState.h"
#include "testkit/TestDevice.h"

using quilmo::test::TestDevice;

namespace {

using quilmo::test::EntryCapture;

std::u16string S(const CString& s) { return s.str(); }

// A version resource laid out as the device lays it out.
class VersionBlob {
 public:
  size_t Begin(std::u16string_view key, uint16_t valueLength, uint16_t type) {
    Pad();
    size_t at = bytes.size();
    U16(0);
    U16(valueLength);
    U16(type);
    Text(key);
    Pad();
    return at;
  }
  void End(size_t at) {
    uint16_t len = static_cast<uint16_t>(bytes.size() - at);
    bytes[at] = static_cast<char>(len & 0xFF);
    bytes[at + 1] = static_cast<char>(len >> 8);
  }
  void U16(uint16_t v) {
    bytes.push_back(static_cast<char>(v & 0xFF));
    bytes.push_back(static_cast<char>(v >> 8));
  }
  void U32(uint32_t v) {
    U16(static_cast<uint16_t>(v & 0xFFFF));
    U16(static_cast<uint16_t>(v >> 16));
  }
  void Text(std::u16string_view s) {
    for (char16_t c : s) U16(c);
    U16(0);
  }
  void Pad() {
    while (bytes.size() % 4) bytes.push_back(0);
  }
  void String(std::u16string_view key, std::u16string_view value) {
    size_t at = Begin(key, static_cast<uint16_t>(value.empty() ? 0 : value.size() + 1), 1);
    valueAt[std::u16string(key)] = bytes.size();
    if (!value.empty()) Text(value);
    End(at);
  }
  std::string bytes;
  size_t fixedEnd = 0;                       // the end of the fixed block
  std::map<std::u16string, size_t> valueAt;  // where each string's value text starts
};

VersionBlob MakeVersionBlob(const std::vector<std::pair<std::u16string, std::u16string>>& strings,
                            bool withFixed = true, uint32_t signature = 0xFEEF04BD) {
  VersionBlob b;
  size_t root = b.Begin(u"VS_VERSION_INFO", withFixed ? 52 : 0, 0);
  if (withFixed) {
    b.U32(signature);
    b.U32(0x00010000);
    b.U32(0x00040000);  // 4.0
    b.U32(0x00010005);  // 1.5
    for (int i = 0; i < 9; ++i) b.U32(0);
    b.fixedEnd = b.bytes.size();
  }
  size_t vars = b.Begin(u"VarFileInfo", 0, 1);
  size_t tr = b.Begin(u"Translation", 4, 0);
  b.U32(0x04B00409);
  b.End(tr);
  b.End(vars);
  size_t sfi = b.Begin(u"StringFileInfo", 0, 1);
  size_t table = b.Begin(u"040904B0", 0, 1);
  for (const auto& [k, v] : strings) b.String(k, v);
  b.End(table);
  b.End(sfi);
  b.End(root);
  return b;
}

std::string MakeVersionResource(const std::vector<std::pair<std::u16string, std::u16string>>& strings,
                                bool withFixed = true, uint32_t signature = 0xFEEF04BD) {
  return MakeVersionBlob(strings, withFixed, signature).bytes;
}

// A resource library file holding one version resource.
void PutVersionedModule(const TestDevice& dev, std::u16string_view path, const std::string& version) {
  ce::res::Resource r;
  r.type = 16;
  r.id = 1;
  r.data = version;
  std::string container, error;
  ASSERT_TRUE(ce::res::BuildContainer({r}, &container, &error)) << error;
  container += ce::res::MakeTrailer(0, static_cast<uint32_t>(container.size()));
  dev.PutFile(path, container);
}

ce::Profile ProfileWithCards(std::vector<std::u16string> cards) {
  ce::Profile p;
  p.cards = std::move(cards);
  return p;
}

}  // namespace

TEST(SystemVersionText, FormatsThirdCommaAsBuild) {
  EXPECT_EQ(S(System::FormatVersionText(u"4, 0, 1, 5")), u"4.0.1, Build 5");
  EXPECT_EQ(S(System::FormatVersionText(u"1,2")), u"1.2");
  EXPECT_EQ(S(System::FormatVersionText(u"1, 2, 3")), u"1.2.3");
  EXPECT_EQ(S(System::FormatVersionText(u"1,2,3,4,5")), u"1.2.3, Build 4.5");
  EXPECT_EQ(S(System::FormatVersionText(u"")), u"");
}

TEST(SystemVersionInfo, ParsesFixedBlockAndNamedStrings) {
  std::string blob = MakeVersionResource({{u"CompanyName", u"Quilmo Software"},
                                          {u"FileVersion", u"4, 0, 1, 5"},
                                          {u"Comments", u"ignored"},
                                          {u"ProductVersion", u""},
                                          {u"LegalCopyright", u"(c) 2006"}});
  VersionInfo info(blob.data(), static_cast<DWORD>(blob.size()));
  ASSERT_TRUE(info.IsLoaded());
  EXPECT_EQ(info.fixedInfo.dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(info.fixedInfo.dwFileVersionMS, 0x00040000u);
  EXPECT_EQ(std::u16string(info.CompanyName), u"Quilmo Software");
  EXPECT_EQ(std::u16string(info.FileVersion), u"4, 0, 1, 5");
  EXPECT_EQ(std::u16string(info.LegalCopyright), u"(c) 2006");
  EXPECT_EQ(info.ProductVersion[0], 0);
  EXPECT_EQ(info.InternalName[0], 0);
}

TEST(SystemVersionInfo, WithoutFixedBlockChildrenStartAtForty) {
  std::string blob = MakeVersionResource({{u"FileVersion", u"1, 2, 3, 4"}}, false);
  VersionInfo info(blob.data(), static_cast<DWORD>(blob.size()));
  ASSERT_TRUE(info.IsLoaded());
  EXPECT_EQ(std::u16string(info.FileVersion), u"1, 2, 3, 4");
  EXPECT_EQ(info.fixedInfo.dwSignature, 0u);
}

TEST(SystemVersionInfo, RefusesBadKeyAndSignatureAndLongValuesAreCut) {
  TestDevice dev;
  std::string blob = MakeVersionResource({{u"FileVersion", u"1"}});
  std::string badKey = blob;
  badKey[6] = 'X';
  EXPECT_FALSE(VersionInfo(badKey.data(), static_cast<DWORD>(badKey.size())).IsLoaded());
  std::string badSig = MakeVersionResource({{u"FileVersion", u"1"}}, true, 0x12345678);
  EXPECT_FALSE(VersionInfo(badSig.data(), static_cast<DWORD>(badSig.size())).IsLoaded());

  std::u16string longValue(300, u'x');
  std::string longBlob = MakeVersionResource({{u"FileDescription", longValue}});
  VersionInfo info(longBlob.data(), static_cast<DWORD>(longBlob.size()));
  ASSERT_TRUE(info.IsLoaded());
  EXPECT_EQ(std::u16string(info.FileDescription), longValue.substr(0, 127));
}

TEST(SystemVersionInfo, TruncatedBlockYieldsWhatLiesWithinIt) {
  const std::u16string company = u"Quilmo Software", version = u"4, 0, 1, 5";
  const VersionBlob blob = MakeVersionBlob({{u"CompanyName", company}, {u"FileVersion", version}});
  // What a block cut at n holds of a value: the whole characters before the
  // cut, nothing while the cut falls before the value.
  auto within = [](const std::u16string& value, size_t start, size_t n) {
    return n < start ? std::u16string() : value.substr(0, std::min(value.size(), (n - start) / 2));
  };
  for (size_t n = 0; n < blob.bytes.size(); ++n) {
    SCOPED_TRACE("cut at " + std::to_string(n));
    // Exactly the cut block (the address sanitizer sees a read past it),
    // and the cut block followed by bytes that would show in any value or
    // length read past the cut.
    std::vector<char> exact(blob.bytes.begin(), blob.bytes.begin() + n);
    EXPECT_EQ(VersionInfo(exact.data(), static_cast<DWORD>(n)).IsLoaded(), n >= blob.fixedEnd);
    std::vector<char> poisoned = exact;
    poisoned.resize(n + 64, 'Z');
    VersionInfo info(poisoned.data(), static_cast<DWORD>(n));
    // The key and the fixed block make a version resource; strings are
    // optional.
    ASSERT_EQ(info.IsLoaded(), n >= blob.fixedEnd);
    if (!info.IsLoaded()) continue;
    EXPECT_EQ(info.fixedInfo.dwFileVersionMS, 0x00040000u);
    EXPECT_EQ(info.fixedInfo.dwFileVersionLS, 0x00010005u);
    EXPECT_EQ(std::u16string(info.CompanyName), within(company, blob.valueAt.at(u"CompanyName"), n));
    EXPECT_EQ(std::u16string(info.FileVersion), within(version, blob.valueAt.at(u"FileVersion"), n));
    EXPECT_EQ(info.ProductName[0], 0);
  }
  // Uncut, the whole values.
  VersionInfo whole(blob.bytes.data(), static_cast<DWORD>(blob.bytes.size()));
  EXPECT_EQ(std::u16string(whole.FileVersion), version);
}

TEST(SystemVersionInfo, InstalledVersionsTextListsParts) {
  TestDevice dev;
  dev.MakeDir(u"\\Windows");
  PutVersionedModule(dev, u"\\Windows\\QuilmoStart.exe",
                     MakeVersionResource({{u"FileVersion", u"2, 1, 0, 77"}}));
  dev.PutFile(u"\\Windows\\Halvey.exe", "not a module");
  System::SetInstalledVersionTexts(u"3.0.1, Build 9", u"3.0.0, Build 1");
  CString text = System::GetInstalledVersionsText();
  System::SetInstalledVersionTexts(u"Version not set", u"Version not set");
  EXPECT_EQ(S(text),
            u"Quilmo Backup.exe : 3.0.1, Build 9\r\n"
            u"QuilmoRes.dll : 3.0.0, Build 1\r\n"
            u"Merrow.exe : Not installed\r\n"
            u"QuilmoStart.exe : 2.1.0, Build 77\r\n"
            u"Halvey.exe : Error loading file\r\n"
            u"Ombric.exe : Not installed\r\n");
}

TEST(SystemPlatformVersion, CodesAndCaching) {
  ce::Profile p;
  p.platform = u"PocketPC";
  p.versionMajor = 4;
  p.versionMinor = 21;
  TestDevice dev(p);
  System::ResetPlatformVersionCode();
  EXPECT_EQ(System::GetPlatformVersionCode(), 0x421);
  // 0x421 is not cached: the next query sees the changed device.
  p.versionMinor = 20;
  ASSERT_TRUE(dev.device()->SaveProfile(p));
  EXPECT_EQ(System::GetPlatformVersionCode(), 0x420);
  // 0x420 is cached.
  p.versionMajor = 5;
  p.versionMinor = 1;
  ASSERT_TRUE(dev.device()->SaveProfile(p));
  EXPECT_EQ(System::GetPlatformVersionCode(), 0x420);

  struct Case {
    const char16_t* platform;
    DWORD major, minor;
    WORD code;
  } cases[] = {{u"PocketPC", 3, 0, 0x300}, {u"PocketPC", 3, 1, 0x310}, {u"PocketPC", 3, 2, 0},
               {u"PocketPC", 5, 1, 0x510}, {u"PocketPC", 6, 0, 0},   {u"Smartphone", 3, 0, 0x300},
               {u"Smartphone", 4, 21, 0x420}, {u"Smartphone", 5, 2, 0x510}, {u"Smartphone", 2, 0, 0}};
  for (const Case& c : cases) {
    p.platform = c.platform;
    p.versionMajor = c.major;
    p.versionMinor = c.minor;
    ASSERT_TRUE(dev.device()->SaveProfile(p));
    System::ResetPlatformVersionCode();
    EXPECT_EQ(System::GetPlatformVersionCode(), c.code)
        << ce::ToUtf8(c.platform) << " " << c.major << "." << c.minor;
  }
  EntryCapture log;
  p.platform = u"Jupiter";
  ASSERT_TRUE(dev.device()->SaveProfile(p));
  System::ResetPlatformVersionCode();
  EXPECT_EQ(System::GetPlatformVersionCode(), 0);
  EXPECT_TRUE(log.Has(u"**Unable to determine version**"));
  System::ResetPlatformVersionCode();
}

TEST(SystemStorage, BuiltInStorageAtMostFourNames) {
  TestDevice dev(ProfileWithCards({u"Storage Card", u"FlashDisk"}));
  for (const char16_t* d : {u"\\iPAQ File Store", u"\\Built-in Storage", u"\\hp safe store",
                            u"\\NATE Store", u"\\safestore"})
    dev.MakeDir(d);
  CString n[4] = {u"Not set", u"Not set", u"Not set", u"Not set"};
  ASSERT_TRUE(System::GetBuiltInStorageName(n[0], n[1], n[2], n[3], true));
  EXPECT_EQ(S(n[0]), u"\\iPAQ File Store\\");
  EXPECT_EQ(S(n[1]), u"\\Built-in Storage\\");
  EXPECT_EQ(S(n[2]), u"\\hp safe store\\");
  EXPECT_EQ(S(n[3]), u"\\NATE Store\\");
}

TEST(SystemStorage, BuiltInStorageFromRegistryOnlyWhenItIsACard) {
  TestDevice dev(ProfileWithCards({u"Storage Card", u"FlashDisk"}));
  dev.MakeDir(u"\\safestore");
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\FlshDrv", 0, nullptr, 0, 0,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char16_t folder[] = u"FlashDisk";
  ASSERT_EQ(RegSetValueExW(key, u"FolderName", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder),
                           sizeof(folder)),
            ERROR_SUCCESS);
  CString n[4] = {u"Not set", u"Not set", u"Not set", u"Not set"};
  ASSERT_TRUE(System::GetBuiltInStorageName(n[0], n[1], n[2], n[3], false));
  EXPECT_EQ(S(n[0]), u"\\safestore");
  EXPECT_EQ(S(n[1]), u"\\FlashDisk");
  EXPECT_EQ(S(n[2]), u"Not set");
  EXPECT_TRUE(System::IsOnBuiltInStorage(u"\\FlashDisk\\Backups\\a.pbf"));
  EXPECT_FALSE(System::IsOnBuiltInStorage(u"\\Storage Card\\a.pbf"));

  const char16_t notCard[] = u"\\temp";
  dev.MakeDir(u"\\temp");
  ASSERT_EQ(RegSetValueExW(key, u"FolderName", 0, REG_SZ, reinterpret_cast<const BYTE*>(notCard),
                           sizeof(notCard)),
            ERROR_SUCCESS);
  RegCloseKey(key);
  n[1] = u"Not set";
  ASSERT_TRUE(System::GetBuiltInStorageName(n[0], n[1], n[2], n[3], false));
  EXPECT_EQ(S(n[1]), u"Not set");
}

TEST(SystemStorage, NoBuiltInStorageAndCards) {
  TestDevice dev(ProfileWithCards({u"Storage Card", u"SD Card"}));
  EntryCapture log;
  CString n[4];
  EXPECT_FALSE(System::GetBuiltInStorageName(n[0], n[1], n[2], n[3], true));
  EXPECT_TRUE(log.Has(u"System::GetBuiltInStorageName(): Unable to open Built-in flash drive Key"));
  EXPECT_FALSE(System::IsOnBuiltInStorage(u"\\anything"));

  std::vector<CString> cards = System::FindStorageCard();
  ASSERT_EQ(cards.size(), 2u);
  EXPECT_EQ(S(cards[0]), u"\\Storage Card");
  EXPECT_EQ(S(cards[1]), u"\\SD Card");
  EXPECT_TRUE(System::IsOnStorageCard(u"\\Storage Card\\Backups\\x.pbf"));
  EXPECT_TRUE(System::IsOnStorageCard(u"\\storage card"));
  EXPECT_FALSE(System::IsOnStorageCard(u"\\temp\\x.pbf"));
  EXPECT_FALSE(System::IsOnStorageCard(u"\\"));
}

TEST(SystemPaths, ExistenceRules) {
  TestDevice dev;
  dev.PutFile(u"\\temp\\a.txt", "x");
  EXPECT_TRUE(System::FileExists(u"\\"));
  EXPECT_TRUE(System::DirectoryExists(u""));
  EXPECT_TRUE(System::DirectoryExists(u"\\"));
  WIN32_FIND_DATAW fd{};
  EXPECT_TRUE(System::FileExists(u"\\TEMP\\A.TXT", &fd));
  EXPECT_EQ(std::u16string(fd.cFileName), u"a.txt");
  EXPECT_FALSE(System::DirectoryExists(u"\\temp\\a.txt"));
  EXPECT_TRUE(System::DirectoryExists(u"\\temp", &fd));
  EXPECT_TRUE(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(System::DirectoryExists(u"\\temp\\"));
  EXPECT_FALSE(System::FileExists(u"\\temp\\b.txt"));
}

TEST(SystemPaths, ProgramPathsAndCompanionSearchOrder) {
  TestDevice dev;
  const quilmo::test::ScopedOwnProgram program(u"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe");
  EXPECT_EQ(S(System::GetProgramPath(true)), u"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe");
  EXPECT_EQ(S(System::GetProgramPath(false)), u"\\Program Files\\Quilmo Backup\\");
  EXPECT_EQ(S(System::GetWindowsFolder()), u"\\Windows\\");

  EntryCapture log;
  EXPECT_EQ(S(System::GetQuilmoProgramPath(u"X.exe")), u"X.exe");
  EXPECT_TRUE(log.Has(u"GetQuilmoProgramPath : Couldn't find X.exe"));

  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Quilmo Software\\Shared", 0, nullptr, 0,
                            0, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char16_t exe[] = u"\\Apps\\QB\\Quilmo Backup.exe";
  RegSetValueExW(key, u"csBackupEXEPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(exe), sizeof(exe));
  RegCloseKey(key);
  dev.PutFile(u"\\Apps\\QB\\X.exe", "4");
  EXPECT_EQ(S(System::GetQuilmoProgramPath(u"X.exe")), u"\\Apps\\QB\\X.exe");
  dev.PutFile(u"\\Program Files\\Quilmo Backup\\X.exe", "3");
  EXPECT_EQ(S(System::GetQuilmoProgramPath(u"X.exe")), u"\\Program Files\\Quilmo Backup\\X.exe");
  dev.PutFile(u"\\X.exe", "2");
  EXPECT_EQ(S(System::GetQuilmoProgramPath(u"X.exe")), u"\\X.exe");
  dev.PutFile(u"\\Windows\\X.exe", "1");
  EXPECT_EQ(S(System::GetQuilmoProgramPath(u"X.exe")), u"\\Windows\\X.exe");
}

TEST(SystemCopies, CopyNeverOverwritesAndStopsAtFirstFailure) {
  TestDevice dev;
  for (const char16_t* f : {u"Quilmo Backup.exe", u"Halvey.exe", u"QuilmoBackup.xml", u"Ombric.exe"})
    dev.PutFile(std::u16string(u"\\src\\") + f, "new");
  dev.PutFile(u"\\dst\\Halvey.exe", "old");
  EntryCapture log;
  ASSERT_TRUE(System::CopyProgramFiles(u"\\src\\", u"\\dst\\"));
  EXPECT_EQ(dev.ReadFile(u"\\dst\\Halvey.exe"), "old");
  EXPECT_EQ(dev.ReadFile(u"\\dst\\Ombric.exe"), "new");
  EXPECT_TRUE(log.Has(u"Successfully copied Quilmo Backup.exe to \\dst\\"));
  EXPECT_FALSE(log.Has(u"Successfully copied Halvey.exe to \\dst\\"));

  // The second support file is missing: the third is not tried.
  dev.PutFile(u"\\src\\QuilmoRes.dll", "r");
  dev.PutFile(u"\\src\\QuilmoInit.exe", "i");
  EXPECT_FALSE(System::CopySupportFiles(u"\\src\\", u"\\dst2\\"));
  dev.MakeDir(u"\\dst2");
  EXPECT_FALSE(System::CopySupportFiles(u"\\src\\", u"\\dst2\\"));
  EXPECT_TRUE(log.Has(u"Failed to copy QuilmoStart.exe to \\dst2\\"));
  EXPECT_TRUE(System::FileExists(u"\\dst2\\QuilmoRes.dll"));
  EXPECT_FALSE(System::FileExists(u"\\dst2\\QuilmoInit.exe"));

  EXPECT_TRUE(System::DeleteProgramFiles(u"\\dst\\"));
  EXPECT_FALSE(System::FileExists(u"\\dst\\Halvey.exe"));
}

TEST(SystemCopies, StorageCardCopyWithoutCard) {
  TestDevice dev;
  EntryCapture log;
  EXPECT_TRUE(System::CopyProgramToStorageCard());
  EXPECT_TRUE(System::RemoveProgramFromStorageCard());
  EXPECT_EQ(log.texts.size(), 2u);
  EXPECT_TRUE(log.Has(u"No Storage Card present- not copying files"));
}

TEST(SystemCopies, StorageCardCopyAndRemoval) {
  TestDevice dev(ProfileWithCards({u"Storage Card"}));
  const quilmo::test::ScopedOwnProgram program(u"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe");
  for (const char16_t* f : {u"QuilmoRes.dll", u"QuilmoStart.exe", u"QuilmoInit.exe"})
    dev.PutFile(std::u16string(u"\\Windows\\") + f, "s");
  for (const char16_t* f : {u"Quilmo Backup.exe", u"Halvey.exe", u"QuilmoBackup.xml", u"Ombric.exe"})
    dev.PutFile(std::u16string(u"\\Program Files\\Quilmo Backup\\") + f, "p");
  EntryCapture log;
  ASSERT_TRUE(System::CopyProgramToStorageCard());
  const std::u16string target = u"\\Storage Card\\Program Files\\Quilmo Backup\\";
  EXPECT_TRUE(System::FileExists(target + u"QuilmoInit.exe"));
  EXPECT_TRUE(System::FileExists(target + u"Ombric.exe"));

  ASSERT_TRUE(System::RemoveProgramFromStorageCard());
  EXPECT_FALSE(System::DirectoryExists(target));
  EXPECT_TRUE(System::DirectoryExists(u"\\Storage Card\\Program Files"));
}

TEST(SystemCopies, RunningFromCardCopiesOnlySupportFiles) {
  TestDevice dev(ProfileWithCards({u"Storage Card"}));
  const std::u16string target = u"\\Storage Card\\Program Files\\Quilmo Backup\\";
  const quilmo::test::ScopedOwnProgram program(target + u"Quilmo Backup.exe");
  for (const char16_t* f : {u"QuilmoRes.dll", u"QuilmoStart.exe", u"QuilmoInit.exe"})
    dev.PutFile(std::u16string(u"\\Windows\\") + f, "s");
  dev.MakeDir(target);
  EntryCapture log;
  EXPECT_TRUE(System::CopyProgramToStorageCard());
  EXPECT_TRUE(System::FileExists(target + u"QuilmoStart.exe"));
  EXPECT_FALSE(System::FileExists(target + u"Halvey.exe"));
  EXPECT_TRUE(System::RemoveProgramFromStorageCard());
  EXPECT_FALSE(System::FileExists(target + u"QuilmoStart.exe"));
  EXPECT_TRUE(System::DirectoryExists(target));
}

TEST(SystemStarter, CommandWithCardsAndArguments) {
  TestDevice dev(ProfileWithCards({u"Storage Card", u"SD Card"}));
  dev.PutFile(u"\\Windows\\QuilmoStart.exe", "s");
  dev.PutFile(u"\\Windows\\Ombric.exe", "o");
  CString starter, line;
  ASSERT_TRUE(System::BuildStarterCommand(u"Ombric.exe", u"\"\\temp\\r.txt\"", true, starter, line));
  EXPECT_EQ(S(starter), u"\\Windows\\QuilmoStart.exe");
  EXPECT_EQ(S(line),
            u"\"/scard=\\Storage Card\" \"/scard=\\SD Card\" /run \"\\Windows\\Ombric.exe\" "
            u"/args \"\\temp\\r.txt\"");

  ASSERT_TRUE(System::BuildStarterCommand(u"\\Apps\\Other.exe", nullptr, false, starter, line));
  EXPECT_EQ(S(line), u"/run \"\\Apps\\Other.exe\"");
  ASSERT_TRUE(System::BuildStarterCommand(u"\\Apps\\Other.exe", u"", true, starter, line));
  EXPECT_EQ(S(line), u"\"/scard=\\Storage Card\" \"/scard=\\SD Card\" /run \"\\Apps\\Other.exe\"");
}

TEST(SystemStarter, StartupShortcutTargetsTheStarter) {
  TestDevice dev;
  dev.PutFile(u"\\Windows\\QuilmoStart.exe", "s");
  dev.MakeDir(u"\\Windows\\StartUp");
  EntryCapture log;
  ASSERT_TRUE(System::CreateQuilmoStartupShortcut(u"\\Windows\\StartUp\\Halvey.lnk",
                                                  u"\\Windows\\Halvey.exe", u"/restore", false));
  std::u16string target;
  ASSERT_TRUE(ce::ReadShortcutTarget(u"\\Windows\\StartUp\\Halvey.lnk", &target));
  EXPECT_EQ(target, u"\"\\Windows\\QuilmoStart.exe\" /run \"\\Windows\\Halvey.exe\" /args /restore");
  EXPECT_TRUE(log.Has(
      u"CreateQuilmoStartupShortcut [\\Windows\\QuilmoStart.exe] with args [/run "
      u"\"\\Windows\\Halvey.exe\" /args /restore]"));
  // The shortcut exists already: the failure is reported.
  EXPECT_FALSE(System::CreateQuilmoStartupShortcut(u"\\Windows\\StartUp\\Halvey.lnk",
                                                   u"\\Windows\\Halvey.exe", nullptr, false));
  EXPECT_TRUE(log.Has(u"SHCreateShortcut failed."));
}

TEST(SystemStarter, RunCommandReportsMissingStarter) {
  TestDevice dev;
  EntryCapture log;
  EXPECT_FALSE(System::RunQuilmoCommand(u"Ombric.exe", u"\"r.txt\"", false));
  EXPECT_TRUE(log.Has(u"Error running : QuilmoStart.exe - cannot find Ombric"));
}

TEST(SystemProcesses, FindsResidentProgramsIgnoringCase) {
  TestDevice dev;
  EXPECT_TRUE(System::IsProcessRunning(u"nk.exe"));
  EXPECT_TRUE(System::FindProcess(u"GWES.EXE"));
  EXPECT_FALSE(System::IsProcessRunning(u"Hopper.exe"));
  EntryCapture log;
  EXPECT_FALSE(System::IsHopperRunning());
  EXPECT_TRUE(log.Has(u"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Hopper key not found"));
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Hopper", 0, nullptr, 0, 0,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_TRUE(System::IsHopperRunning());
}

TEST(SystemSpace, FreeSpaceOfTheObjectStore) {
  ce::Profile p;
  p.capacities.push_back({u"\\", 1000000});
  TestDevice dev(p);
  dev.PutFile(u"\\temp\\a.bin", std::string(1000, 'a'));
  EntryCapture log;
  ULONGLONG free = 0;
  ASSERT_TRUE(System::CheckFreeSpace(free));
  // The registry hive lies in the object store too, so compare with what
  // the device reports rather than with the one file written here.
  ULARGE_INTEGER avail{}, total{}, totalFree{};
  ASSERT_TRUE(GetDiskFreeSpaceExW(u"\\", &avail, &total, &totalFree));
  EXPECT_EQ(free, totalFree.QuadPart);
  EXPECT_LE(free, 999000u);
  EXPECT_TRUE(log.Has(u"Checking available space"));
}

TEST(SystemTexts, ErrorCodeAndNarrowText) {
  EXPECT_EQ(S(System::ErrorCodeText(112)), u"112");
  char buf[8];
  int size = sizeof(buf);
  EXPECT_EQ(System::ToNarrowText(u"caf\u00e9", buf, &size), 5);
  EXPECT_EQ(size, 4);
  EXPECT_EQ(std::string(buf), "caf\xe9");
  // Too long for the buffer: cut and terminated.
  size = sizeof(buf);
  EXPECT_EQ(System::ToNarrowText(u"0123456789", buf, &size), 8);
  EXPECT_EQ(size, 7);
  EXPECT_EQ(std::string(buf), "0123456");
}

TEST(SystemTime, LocalTimeTextsAndDayName) {
  ce::Profile p;
  p.timeZone = "EST5EDT,M3.2.0,M11.1.0";
  TestDevice dev(p);
  ADateTime t(2006, 3, 7, 9, 5, 3);  // a Tuesday
  CString text;
  ASSERT_TRUE(System::FormatDate(t, false, text));
  EXPECT_EQ(S(text), u"3/7/2006");
  ASSERT_TRUE(System::FormatDate(t, true, text));
  EXPECT_EQ(S(text), u"Tuesday, March 07, 2006");
  ASSERT_TRUE(System::FormatTime(t, text));
  EXPECT_EQ(S(text), u"9:05:03 AM");
  ASSERT_TRUE(System::GetDayName(t, text));
  EXPECT_EQ(S(text), u"Tuesday");
  ASSERT_TRUE(System::GetDayName(ADateTime(2006, 3, 5, 12, 0, 0), text));
  EXPECT_EQ(S(text), u"Sunday");

  SYSTEMTIME now{};
  GetLocalTime(&now);
  ADateTime n = System::GetLocalTimeNow();
  EXPECT_EQ(n.GetYear(), now.wYear);
  EXPECT_EQ(n.GetHour(), now.wHour);
}
