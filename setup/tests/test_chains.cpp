// The maker's package with the second setup library, a setup library's
// answers and failure counts, and removal and reinstall giving the state
// of one install.
#include <map>

#include "setup/tests/install_fixture.h"

namespace setup_test {
namespace {

const std::u16string kMakerFolder = u"\\Program Files\\Maker Extras";
const std::u16string kCalls = u"\\Tools\\CeSetupCalls.txt";

TEST_F(InstallTest, MakerPackageChainsTheProductsLibraryThenTheMakers) {
  Create();
  ASSERT_EQ(Install().status, 0);
  CommandResult r = Install(BuiltPackage("MakerExtras"));
  ASSERT_EQ(r.status, 0) << r.output;
  // The product's hooks ran with the maker's install folder ...
  EXPECT_EQ(RegString(kConfigKey, u"VendorName"), u"Reference Devices Inc.");
  EXPECT_EQ(RegString(kSharedKey, u"csBackupEXEPath"), kMakerFolder + u"\\Quilmo Backup.exe");
  EXPECT_FALSE(Exists(kMakerFolder + u"\\Brenwick.exe"));
  // ... and then the maker's, with the same arguments.
  EXPECT_EQ(Read(kCalls),
            "Install_Init first=1 previous=0 folder=\\Program Files\\Maker Extras\n"
            "Install_Exit folder=\\Program Files\\Maker Extras failed=0,0,0,0,0\n");
  EXPECT_TRUE(Has(DebugLog(), "Tarsel: program files folder \\Program Files")) << DebugLog();

  // A refusal of the product's hook cancels before the maker's runs.
  ASSERT_TRUE(ce::Device::Current()->UpdateProfile([](ce::Profile& p) { p.platform = u"Smartphone"; }));
  r = Install(BuiltPackage("MakerExtras"));
  EXPECT_TRUE(Has(r.output, "install: cancelled by the setup library")) << r.output;
  EXPECT_TRUE(Has(ScreenLog(), "This program is intended for Pocket PCs.")) << ScreenLog();
  EXPECT_EQ(Read(kCalls),
            "Install_Init first=1 previous=0 folder=\\Program Files\\Maker Extras\n"
            "Install_Exit folder=\\Program Files\\Maker Extras failed=0,0,0,0,0\n");
  // The first maker install stays as it was.
  EXPECT_TRUE(Exists(kMakerFolder + u"\\quilmobackup.xml"));
  EXPECT_EQ(RegString(kConfigKey, u"VendorName"), u"Reference Devices Inc.");
}

// A package whose setup library is the recording stand-in.
fs::path RecordingPackage(const fs::path& root) {
  const fs::path p = root / "recorded";
  fs::create_directories(p);
  fs::copy_file(fs::path(QUILMO_BIN_DIR) / "CeSetup.dll", p / "CeSetup.dll");
  std::ofstream(p / "one.txt") << "one";
  std::ofstream(p / "two.txt") << "two";
  std::ofstream(p / "package.txt") << "name = Recorded\n"
                                      "folder = \\Program Files\\Recorded\n"
                                      "setup = CeSetup.dll\n"
                                      "file = one.txt > %InstallDir%\\one.txt\n"
                                      "file = two.txt > \\Windows\\two.txt\n"
                                      "reg = HKLM\\Software\\Recorded | Level | dword | 7\n"
                                      "shortcut = \\Windows\\Start Menu\\Programs\\Recorded.lnk > %InstallDir%\\one.txt\n";
  return p;
}

TEST_F(InstallTest, SetupLibraryAnswersAndFailureCountsAreObeyed) {
  Create();
  ASSERT_EQ(Install().status, 0);
  const fs::path package = RecordingPackage(root_);

  // Install_Init says no: nothing of the package is placed.
  Write(u"\\Tools\\CeSetupAnswers.txt", "Install_Init=1\n");
  CommandResult r = Install(package);
  EXPECT_TRUE(Has(r.output, "install: cancelled")) << r.output;
  EXPECT_FALSE(Exists(u"\\Program Files\\Recorded"));
  EXPECT_FALSE(KeyExists(u"Software\\Recorded"));
  EXPECT_FALSE(Exists(u"\\Windows\\AppMgr\\Recorded"));

  // A copy that fails reaches Install_Exit as a count; the library lets
  // the install finish.
  Write(u"\\Tools\\CeSetupAnswers.txt", "");
  Write(u"\\Windows\\two.txt", "read-only");
  ASSERT_TRUE(SetFileAttributesW(u"\\Windows\\two.txt", FILE_ATTRIBUTE_READONLY));
  r = Install(package);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Has(Read(u"\\Tools\\CeSetupCalls.txt"),
                  "Install_Exit folder=\\Program Files\\Recorded failed=0,1,0,0,0\n"));
  EXPECT_EQ(Read(u"\\Program Files\\Recorded\\one.txt"), "one");
  EXPECT_EQ(Read(u"\\Windows\\two.txt"), "read-only");
  EXPECT_EQ(RegDword(u"Software\\Recorded", u"Level"), 7u);

  // Uninstall_Init says no: nothing is removed.
  Write(u"\\Tools\\CeSetupAnswers.txt", "Uninstall_Init=1\n");
  r = Uninstall("Recorded");
  EXPECT_TRUE(Has(r.output, "uninstall: refused")) << r.output;
  EXPECT_TRUE(Exists(u"\\Program Files\\Recorded\\one.txt"));
  EXPECT_EQ(RegDword(u"Software\\Recorded", u"Level"), 7u);
  EXPECT_TRUE(Exists(u"\\Windows\\Start Menu\\Programs\\Recorded.lnk"));

  Write(u"\\Tools\\CeSetupAnswers.txt", "");
  ASSERT_EQ(Uninstall("Recorded").status, 0);
  EXPECT_FALSE(Exists(u"\\Program Files\\Recorded"));
  EXPECT_FALSE(RegDword(u"Software\\Recorded", u"Level").has_value());
  EXPECT_FALSE(Exists(u"\\Windows\\Start Menu\\Programs\\Recorded.lnk"));
  EXPECT_EQ(Read(u"\\Windows\\two.txt"), "read-only");  // never the package's
}

// Every file below the device's root with its contents (the hive files
// aside), and every registry value, as text.
std::map<std::string, std::string> DeviceState(const fs::path& dir) {
  std::map<std::string, std::string> state;
  for (const auto& e : fs::recursive_directory_iterator(dir / "fs")) {
    const std::string rel = fs::relative(e.path(), dir / "fs").string();
    // The hives' files hold the registry, compared value by value below.
    if (e.path().extension() == ".hv") continue;
    if (e.is_directory()) {
      state["dir " + rel] = "";
    } else {
      std::ifstream in(e.path(), std::ios::binary);
      std::stringstream s;
      s << in.rdbuf();
      state["file " + rel] = s.str();
    }
  }
  std::function<void(HKEY, const std::u16string&)> walk = [&](HKEY hive, const std::u16string& path) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return;
    WCHAR name[256];
    BYTE data[4096];
    for (DWORD i = 0;; ++i) {
      DWORD len = 256, size = sizeof data, type = 0;
      if (RegEnumValueW(k, i, name, &len, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
      state["reg " + ce::ToUtf8(path) + " " + ce::ToUtf8(std::u16string(name, len))] =
          std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), size);
    }
    std::vector<std::u16string> subs;
    for (DWORD i = 0;; ++i) {
      DWORD len = 256;
      if (RegEnumKeyExW(k, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      subs.emplace_back(name, len);
    }
    RegCloseKey(k);
    for (const auto& s : subs) walk(hive, path.empty() ? s : path + u"\\" + s);
  };
  walk(HKEY_LOCAL_MACHINE, u"");
  walk(HKEY_CURRENT_USER, u"");
  return state;
}

TEST_F(InstallTest, InstallUninstallInstallLeavesTheStateOfOneInstall) {
  Create();
  ASSERT_EQ(Install().status, 0);
  const auto once = DeviceState(dir_);
  ASSERT_EQ(Uninstall().status, 0);
  ASSERT_EQ(Install().status, 0);
  const auto again = DeviceState(dir_);
  for (const auto& [k, v] : once) {
    auto it = again.find(k);
    if (it == again.end())
      ADD_FAILURE() << "gone after reinstall: " << k;
    else
      EXPECT_TRUE(it->second == v) << "differs after reinstall: " << k;
  }
  for (const auto& [k, v] : again)
    if (!once.count(k)) ADD_FAILURE() << "new after reinstall: " << k;
}

}  // namespace
}  // namespace setup_test
