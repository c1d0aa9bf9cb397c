#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "cesim/device.h"
#include "cesim/registry.h"
#include "testkit/RunCommand.h"
#include "testkit/TestDevice.h"

using quilmo::test::TestDevice;
namespace fs = std::filesystem;

namespace {

std::u16string Str(const std::string& s) { return ce::FromUtf8(s); }

HKEY Create(HKEY root, std::u16string_view path, DWORD* disposition = nullptr) {
  HKEY k = nullptr;
  std::u16string p(path);
  EXPECT_EQ(RegCreateKeyExW(root, p.c_str(), 0, nullptr, 0, 0x2001F, nullptr, &k, disposition), ERROR_SUCCESS);
  return k;
}

LONG Open(HKEY root, std::u16string_view path, HKEY* k) {
  std::u16string p(path);
  return RegOpenKeyExW(root, p.c_str(), 0, KEY_READ, k);
}

void SetDword(HKEY k, const char16_t* name, DWORD v) {
  ASSERT_EQ(RegSetValueExW(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), ERROR_SUCCESS);
}

void SetSz(HKEY k, const char16_t* name, std::u16string_view text) {
  std::u16string t(text);
  ASSERT_EQ(RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(t.c_str()),
                           static_cast<DWORD>((t.size() + 1) * 2)),
            ERROR_SUCCESS);
}

// The value's type and bytes; type REG_NONE and "missing" when absent.
std::string Get(HKEY k, const char16_t* name, DWORD* type = nullptr) {
  DWORD size = 0, t = 0;
  if (RegQueryValueExW(k, name, nullptr, &t, nullptr, &size) != ERROR_SUCCESS) return "missing";
  std::string buf(size, '\0');
  EXPECT_EQ(RegQueryValueExW(k, name, nullptr, &t, reinterpret_cast<BYTE*>(buf.data()), &size), ERROR_SUCCESS);
  EXPECT_EQ(size, buf.size());
  if (type) *type = t;
  return buf;
}

std::vector<std::u16string> SubKeys(HKEY k) {
  std::vector<std::u16string> out;
  for (DWORD i = 0;; ++i) {
    WCHAR name[256];
    DWORD n = 256;
    LONG r = RegEnumKeyExW(k, i, name, &n, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(r, ERROR_SUCCESS);
    if (r != ERROR_SUCCESS) break;
    out.emplace_back(name, n);
  }
  return out;
}

std::vector<std::u16string> ValueNames(HKEY k) {
  std::vector<std::u16string> out;
  for (DWORD i = 0;; ++i) {
    WCHAR name[256];
    DWORD n = 256;
    LONG r = RegEnumValueW(k, i, name, &n, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(r, ERROR_SUCCESS);
    if (r != ERROR_SUCCESS) break;
    out.emplace_back(name, n);
  }
  return out;
}

// Files in the hive folders other than the hives themselves.
std::vector<std::string> SideFiles(const TestDevice& dev) {
  std::vector<std::string> out;
  for (auto dir : {dev.Host(u"\\Documents and Settings"), dev.Host(u"\\Documents and Settings\\default")}) {
    std::error_code ec;
    for (auto& e : fs::directory_iterator(dir, ec)) {
      std::string n = e.path().filename().string();
      if (e.is_regular_file() && n != "system.hv" && n != "user.hv") out.push_back(n);
    }
  }
  return out;
}

}  // namespace

TEST(Registry, CreatesEveryLevelAndOpensIgnoringCase) {
  TestDevice dev;
  DWORD disp = 0;
  HKEY k = Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Settings\\Scheduling", &disp);
  EXPECT_EQ(disp, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  SetDword(k, u"Interval", 7);
  RegCloseKey(k);

  k = Create(HKEY_LOCAL_MACHINE, u"Software\\quilmo software\\QUILMO BACKUP\\settings\\scheduling", &disp);
  EXPECT_EQ(disp, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  EXPECT_EQ(Get(k, u"INTERVAL").size(), 4u);
  RegCloseKey(k);

  HKEY mid = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"software\\Quilmo Software", &mid), ERROR_SUCCESS);
  EXPECT_EQ(SubKeys(mid), std::vector<std::u16string>{u"Quilmo Backup"});  // stored case
  // Relative to an open key, and with stray separators.
  ASSERT_EQ(Open(mid, u"\\Quilmo Backup\\\\Settings\\", &k), ERROR_SUCCESS);
  RegCloseKey(k);
  EXPECT_EQ(Open(mid, u"Quilmo Backup\\Missing", &k), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  RegCloseKey(mid);

  // Case folding beyond ASCII; HKCU is a different hive, HKCR a different root.
  k = Create(HKEY_LOCAL_MACHINE, Str("Äpfel"));
  HKEY same = nullptr;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, Str("äPFEL"), &same), ERROR_SUCCESS);
  RegCloseKey(same);
  RegCloseKey(k);
  EXPECT_EQ(Open(HKEY_CURRENT_USER, u"Software\\Quilmo Software", &k), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(HKEY_CLASSES_ROOT, u"Software", &k), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(HKEY_USERS, u"Software", &k), ERROR_FILE_NOT_FOUND);
  std::u16string tooLong = u"Software\\" + std::u16string(256, u'x');
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, tooLong.c_str(), 0, nullptr, 0, 0, nullptr, &k, nullptr),
            ERROR_INVALID_PARAMETER);

  EXPECT_TRUE(fs::is_regular_file(dev.Host(ce::kSystemHivePath)));
  EXPECT_TRUE(fs::is_regular_file(dev.Host(ce::kUserHivePath)));
  EXPECT_TRUE(SideFiles(dev).empty());
}

TEST(Registry, ValuesRoundTripAsRawBytesOfAnyType) {
  TestDevice dev;
  HKEY k = Create(HKEY_CURRENT_USER, u"Software\\Types");
  SetDword(k, u"Count", 0xDEADBEEF);
  SetSz(k, u"Path", Str("\\My Documents\\Ünïcode.txt"));
  const BYTE bin[] = {0, 1, 0, 255, 0};
  ASSERT_EQ(RegSetValueExW(k, u"Blob", 0, REG_BINARY, bin, sizeof bin), ERROR_SUCCESS);
  const char16_t multi[] = u"one\0two\0";  // two strings and the closing NUL
  ASSERT_EQ(RegSetValueExW(k, u"Multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), sizeof multi),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(k, u"Odd", 0, 42, bin, 3), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(k, u"Empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(k, nullptr, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(u"%x%"), 8),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(k, u"Bad", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
  RegCloseKey(k);

  // Read back through a fresh connection, as another process would.
  ce::RegCloseHives();
  ASSERT_EQ(Open(HKEY_CURRENT_USER, u"software\\types", &k), ERROR_SUCCESS);
  DWORD type = 0;
  std::string v = Get(k, u"count", &type);
  DWORD dw = 0;
  ASSERT_EQ(v.size(), 4u);
  memcpy(&dw, v.data(), 4);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(dw, 0xDEADBEEFu);
  v = Get(k, u"Path", &type);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  std::u16string path = Str("\\My Documents\\Ünïcode.txt");
  ASSERT_EQ(v.size(), (path.size() + 1) * 2);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(v.data())), path);
  EXPECT_EQ(Get(k, u"Blob", &type), std::string("\0\1\0\xff\0", 5));
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(Get(k, u"Multi", &type), std::string(reinterpret_cast<const char*>(multi), sizeof multi));
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(Get(k, u"Odd", &type), std::string("\0\1\0", 3));
  EXPECT_EQ(type, 42u);
  EXPECT_EQ(Get(k, u"Empty", &type), "");
  EXPECT_EQ(Get(k, u"", &type).size(), 8u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(Get(k, u"Nothing"), "missing");
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(k, u"Nothing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  // Overwriting changes type and data but keeps the name's case and place.
  SetDword(k, u"PATH", 1);
  EXPECT_EQ(Get(k, u"path", &type).size(), 4u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(ValueNames(k),
            (std::vector<std::u16string>{u"Count", u"Path", u"Blob", u"Multi", u"Odd", u"Empty", u""}));
  EXPECT_EQ(RegDeleteValueW(k, u"multi"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(k, u"multi"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Get(k, u"Multi"), "missing");
  RegCloseKey(k);
}

TEST(Registry, SmallBuffersGiveMoreDataWithTheNeededSize) {
  TestDevice dev;
  HKEY k = Create(HKEY_LOCAL_MACHINE, u"init");
  SetSz(k, u"Launch20", u"device.exe");  // 22 bytes
  Create(HKEY_LOCAL_MACHINE, u"init\\LongerName");

  BYTE buf[64];
  memset(buf, 0xAA, sizeof buf);
  DWORD size = 10, type = 0;
  EXPECT_EQ(RegQueryValueExW(k, u"Launch20", nullptr, &type, buf, &size), ERROR_MORE_DATA);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(size, 22u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(buf[10], 0xAA);  // nothing written past the buffer
  size = 22;
  EXPECT_EQ(RegQueryValueExW(k, u"Launch20", nullptr, nullptr, buf, &size), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(k, u"Launch20", nullptr, nullptr, buf, nullptr), ERROR_INVALID_PARAMETER);

  WCHAR name[8];
  DWORD n = 8;  // "Launch20" needs 9 with its NUL
  size = sizeof buf;
  EXPECT_EQ(RegEnumValueW(k, 0, name, &n, nullptr, nullptr, buf, &size), ERROR_MORE_DATA);
  EXPECT_EQ(n, 8u);
  WCHAR bigger[9];
  n = 9;
  size = 4;
  EXPECT_EQ(RegEnumValueW(k, 0, bigger, &n, nullptr, nullptr, buf, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 22u);
  n = 9;
  size = 22;
  EXPECT_EQ(RegEnumValueW(k, 0, bigger, &n, nullptr, &type, buf, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(bigger), u"Launch20");
  EXPECT_EQ(n, 8u);

  n = 5;
  EXPECT_EQ(RegEnumKeyExW(k, 0, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(n, 10u);

  DWORD subKeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
  ASSERT_EQ(RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, &subKeys, &maxSub, nullptr, &values, &maxName, &maxData,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 1u);
  EXPECT_EQ(maxSub, 10u);
  EXPECT_EQ(values, 1u);
  EXPECT_EQ(maxName, 8u);
  EXPECT_EQ(maxData, 22u);
  RegCloseKey(k);
}

TEST(Registry, ValueNamesOverTheLimitAreRefusedAndTheKeyStaysReadable) {
  TestDevice dev;
  HKEY k = Create(HKEY_CURRENT_USER, u"Software\\Names");
  const std::u16string longest(255, u'n');
  const std::u16string tooLong(256, u'n');
  SetSz(k, longest.c_str(), u"kept");
  DWORD v = 1;
  EXPECT_EQ(RegSetValueExW(k, tooLong.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  const std::u16string longer(16383, u'n');
  EXPECT_EQ(RegSetValueExW(k, longer.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4),
            ERROR_INVALID_PARAMETER);
  // Enumeration with the largest name buffer still walks every value.
  EXPECT_EQ(ValueNames(k), std::vector<std::u16string>{longest});
  EXPECT_EQ(Get(k, tooLong.c_str()), "missing");
  RegCloseKey(k);
}

TEST(Registry, EnumeratesInCreationOrderAndEndsWithNoMoreItems) {
  TestDevice dev;
  HKEY k = Create(HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Windows CE Services\\Partners");
  for (auto* id : {u"P3", u"P1", u"P2", u"p0"}) RegCloseKey(Create(k, id));
  EXPECT_EQ(SubKeys(k), (std::vector<std::u16string>{u"P3", u"P1", u"P2", u"p0"}));
  EXPECT_EQ(RegDeleteKeyW(k, u"P1"), ERROR_SUCCESS);
  RegCloseKey(Create(k, u"P1"));
  EXPECT_EQ(SubKeys(k), (std::vector<std::u16string>{u"P3", u"P2", u"p0", u"P1"}));
  WCHAR name[32];
  DWORD n = 32;
  EXPECT_EQ(RegEnumKeyExW(k, 4, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  n = 32;
  EXPECT_EQ(RegEnumValueW(k, 0, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  for (auto* v : {u"b", u"a", u"c"}) SetDword(k, v, 1);
  EXPECT_EQ(ValueNames(k), (std::vector<std::u16string>{u"b", u"a", u"c"}));
  RegCloseKey(k);
}

TEST(Registry, DeleteKeyIsRecursiveAndStaleHandlesSeeKeyDeleted) {
  TestDevice dev;
  HKEY deep = Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Config\\A\\B");
  SetDword(deep, u"x", 1);
  HKEY config = Create(HKEY_LOCAL_MACHINE, u"Software\\Quilmo Software\\Quilmo Backup\\Config");
  SetDword(config, u"y", 2);
  HKEY product = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"Software\\Quilmo Software\\Quilmo Backup", &product), ERROR_SUCCESS);
  RegCloseKey(Create(product, u"Settings"));

  EXPECT_EQ(RegDeleteKeyW(product, u"CONFIG"), ERROR_SUCCESS);
  EXPECT_EQ(SubKeys(product), std::vector<std::u16string>{u"Settings"});
  HKEY k = nullptr;
  EXPECT_EQ(Open(product, u"Config\\A", &k), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Get(deep, u"x"), "missing");
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(deep, u"x", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegSetValueExW(config, u"y", 0, REG_BINARY, nullptr, 0), ERROR_KEY_DELETED);

  // A key made again at the same path is a new key for old handles.
  RegCloseKey(Create(product, u"Config"));
  EXPECT_EQ(RegSetValueExW(config, u"y", 0, REG_BINARY, nullptr, 0), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCreateKeyExW(config, u"Sub", 0, nullptr, 0, 0, nullptr, &k, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(config), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(config), ERROR_INVALID_HANDLE);
  RegCloseKey(deep);

  EXPECT_EQ(RegDeleteKeyW(product, u"Config\\Nope"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u""), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(reinterpret_cast<HKEY>(uintptr_t{0x1234}), u"x", nullptr, nullptr, nullptr, &size),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  RegCloseKey(product);
}

TEST(Registry, SavedHiveIsASnapshotInTheLiveFormat) {
  TestDevice dev;
  HKEY k = Create(HKEY_LOCAL_MACHINE, u"init\\BootVars");
  SetSz(k, u"SystemHive", u"Documents and Settings\\system.hv");
  HKEY cr = Create(HKEY_CLASSES_ROOT, u".txt");
  RegCloseKey(cr);
  dev.MakeDir(u"\\temp");

  ASSERT_EQ(RegSaveKeyW(HKEY_LOCAL_MACHINE, u"\\TEMP\\HKLM.img", nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegSaveKeyW(HKEY_LOCAL_MACHINE, u"\\temp\\HKLM.img", nullptr), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(RegSaveKeyW(HKEY_LOCAL_MACHINE, u"\\nowhere\\HKLM.img", nullptr), ERROR_PATH_NOT_FOUND);
  SetSz(k, u"SystemHive", u"changed after the save");
  RegCloseKey(k);

  HKEY saved = nullptr;
  ASSERT_EQ(ce::RegOpenHiveFile(u"\\temp\\hklm.img", nullptr, &saved), ERROR_SUCCESS);  // first root: HKLM
  HKEY boot = nullptr;
  ASSERT_EQ(Open(saved, u"INIT\\bootvars", &boot), ERROR_SUCCESS);
  std::string v = Get(boot, u"SystemHive");
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(v.data())), u"Documents and Settings\\system.hv");
  RegCloseKey(boot);
  RegCloseKey(saved);
  ASSERT_EQ(ce::RegOpenHiveFile(u"\\temp\\HKLM.img", HKEY_CLASSES_ROOT, &saved), ERROR_SUCCESS);
  EXPECT_EQ(SubKeys(saved), std::vector<std::u16string>{u".txt"});
  RegCloseKey(saved);
  EXPECT_EQ(ce::RegOpenHiveFile(u"\\temp\\HKLM.img", HKEY_CURRENT_USER, &saved), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ce::RegOpenHiveFile(u"\\temp\\missing.img", nullptr, &saved), ERROR_FILE_NOT_FOUND);
  dev.PutFile(u"\\temp\\junk.img", "this is no hive at all, just some text that is long enough");
  EXPECT_EQ(ce::RegOpenHiveFile(u"\\temp\\junk.img", nullptr, &saved), ERROR_BADDB);
  dev.PutFile(u"\\temp\\empty.img", "");
  EXPECT_EQ(ce::RegOpenHiveFile(u"\\temp\\empty.img", nullptr, &saved), ERROR_BADDB);
  EXPECT_EQ(fs::file_size(dev.Host(u"\\temp\\empty.img")), 0u);  // left as it was
  EXPECT_TRUE(SideFiles(dev).empty());
}

TEST(Registry, HiveFileReplacedAsAFileIsPickedUp) {
  TestDevice dev;
  HKEY k = Create(HKEY_CURRENT_USER, u"Software\\State");
  SetDword(k, u"v", 1);
  dev.MakeDir(u"\\temp");
  ASSERT_EQ(RegSaveKeyW(HKEY_CURRENT_USER, u"\\temp\\HKCU.img", nullptr), ERROR_SUCCESS);
  SetDword(k, u"v", 2);
  RegCloseKey(Create(HKEY_CURRENT_USER, u"Software\\Later"));

  // A restore copies the image over user.hv in place.
  fs::copy_file(dev.Host(u"\\temp\\HKCU.img"), dev.Host(ce::kUserHivePath), fs::copy_options::overwrite_existing);
  HKEY later = nullptr;
  EXPECT_EQ(Open(HKEY_CURRENT_USER, u"Software\\Later", &later), ERROR_FILE_NOT_FOUND);
  std::string v = Get(k, u"v");  // the old handle follows its path into the new file
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[0], 1);
  RegCloseKey(k);

  // Removing the live hive starts an empty one.
  fs::remove(dev.Host(ce::kUserHivePath));
  EXPECT_EQ(Open(HKEY_CURRENT_USER, u"Software", &later), ERROR_FILE_NOT_FOUND);
  RegCloseKey(Create(HKEY_CURRENT_USER, u"Software"));
  EXPECT_TRUE(fs::is_regular_file(dev.Host(ce::kUserHivePath)));
}

// Runs in a child process started by the test below.
TEST(RegistryChild, DISABLED_Writer) {
  if (!quilmo::test::IsChildRun()) GTEST_SKIP() << "runs only as a child";
  ASSERT_NE(ce::Device::Current(), nullptr);
  HKEY k = Create(HKEY_LOCAL_MACHINE, u"Shared\\Child");
  for (DWORD i = 0; i < 150; ++i) SetDword(k, Str("v" + std::to_string(i)).c_str(), i);
  RegCloseKey(k);
  k = Create(HKEY_CURRENT_USER, u"FromChild");
  SetSz(k, u"Hello", u"parent");
  RegCloseKey(k);
}

TEST(Registry, TwoProcessesShareOneRegistry) {
  TestDevice dev;
  HKEY mine = Create(HKEY_LOCAL_MACHINE, u"Shared\\Parent");

  quilmo::test::ChildProcess writer = quilmo::test::ChildProcess::RunTest("RegistryChild.DISABLED_Writer");
  ASSERT_TRUE(writer.Started());
  // Write while the child writes.
  for (DWORD i = 0; i < 150; ++i) SetDword(mine, Str("p" + std::to_string(i)).c_str(), i);
  const quilmo::test::ChildExit end = writer.Wait();
  ASSERT_TRUE(end.ExitedWith(0)) << end.Describe();

  HKEY child = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"shared\\child", &child), ERROR_SUCCESS);
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKeyW(child, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 150u);
  std::string v = Get(child, u"V149");
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(v[0]), 149);
  RegCloseKey(child);
  EXPECT_EQ(ValueNames(mine).size(), 150u);
  RegCloseKey(mine);
  ASSERT_EQ(Open(HKEY_CURRENT_USER, u"FromChild", &child), ERROR_SUCCESS);
  EXPECT_EQ(Get(child, u"hello").size(), 14u);
  RegCloseKey(child);
  EXPECT_TRUE(SideFiles(dev).empty());
}
