// QuilmoInit on a booted scratch device: the queued actions, the hive
// replacements, its launch entry and the reset after them.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "ce/boot.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/hivepaths.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "cesim/boot.h"
#include "cesim/file.h"
#include "cesim/registry.h"
#include "formats/RebootActionsFormat.h"
#include "testkit/TestDevice.h"

namespace fs = std::filesystem;

namespace {

constexpr const char16_t* kRunner = u"\\Windows\\QuilmoInit.exe";
constexpr DWORD kN = 21;

// Makes a host file unwritable while it lives: read-only, and immutable
// too where the process could write a read-only file anyway (as root).
class UnwritableFile {
 public:
  explicit UnwritableFile(fs::path path) : path_(std::move(path)) {
    struct stat st {};
    if (stat(path_.c_str(), &st) != 0) return;
    mode_ = st.st_mode & 07777;
    chmod(path_.c_str(), mode_ & ~0222);
    if (access(path_.c_str(), W_OK) == 0) immutable_ = SetImmutable(true);
  }
  ~UnwritableFile() {
    if (immutable_) SetImmutable(false);
    chmod(path_.c_str(), mode_);
  }
  bool Unwritable() const {
    int fd = open(path_.c_str(), O_WRONLY);
    if (fd >= 0) close(fd);
    return fd < 0;
  }

 private:
  bool SetImmutable(bool on) {
    int fd = open(path_.c_str(), O_RDONLY);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    close(fd);
    return ok;
  }

  fs::path path_;
  mode_t mode_ = 0644;
  bool immutable_ = false;
};

class QuilmoInitTest : public ::testing::Test {
 protected:
  QuilmoInitTest() {
    fs::path host = dev_.Host(kRunner);
    fs::create_directories(host.parent_path());
    fs::copy_file(fs::path(QUILMO_BIN_DIR) / "QuilmoInit", host, fs::copy_options::overwrite_existing);
    dev_.MakeDir(u"\\temp");
    dev_.MakeDir(u"\\data");
    opt_.signalTimeoutMs = 5000;
    opt_.runTimeoutMs = 30000;
  }

  static HKEY Create(HKEY root, const std::u16string& path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr), ERROR_SUCCESS);
    return key;
  }
  static void SetString(HKEY key, const char16_t* name, std::u16string_view text) {
    std::u16string t(text);
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(t.c_str()),
                   static_cast<DWORD>((t.size() + 1) * 2));
  }
  static void SetDword(HKEY key, const char16_t* name, DWORD v) {
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
  }
  static void SetWords(HKEY key, const std::u16string& name, std::initializer_list<WORD> words) {
    std::vector<BYTE> data;
    for (WORD w : words) data.insert(data.end(), {static_cast<BYTE>(w & 0xFF), static_cast<BYTE>(w >> 8)});
    RegSetValueExW(key, name.c_str(), 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
  }
  static std::u16string ActionPath(const char16_t* prefix, int i) {
    return std::u16string(RebootActionsKey::kPath) + u"\\" + prefix + ce::FromUtf8(std::to_string(i));
  }
  static void QueueCopy(int index, DWORD operation, std::u16string_view actual, std::u16string_view backup,
                        DWORD attributes) {
    HKEY k = Create(HKEY_LOCAL_MACHINE, ActionPath(RebootActionsKey::kCopyFilePrefix, index));
    SetDword(k, RebootActionsKey::kOperation, operation);
    SetString(k, RebootActionsKey::kActualPath, actual);
    SetString(k, RebootActionsKey::kBackupPath, backup);
    SetDword(k, RebootActionsKey::kAttributes, attributes);
    RegCloseKey(k);
  }
  static void SetActionsValue(const char16_t* name, std::u16string_view text) {
    HKEY k = Create(HKEY_LOCAL_MACHINE, RebootActionsKey::kPath);
    SetString(k, name, text);
    RegCloseKey(k);
  }
  static void SetLaunch(DWORD n, std::u16string_view program) {
    HKEY k = Create(HKEY_LOCAL_MACHINE, InitLaunchEntries::kPath);
    SetString(k, (u"Launch" + ce::FromUtf8(std::to_string(n))).c_str(), program);
    RegCloseKey(k);
  }
  // The value's bytes, or "<none>" when it cannot be read.
  static std::string Raw(HKEY root, const std::u16string& path, const char16_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, 0, &key) != ERROR_SUCCESS) return "<none>";
    BYTE buf[512];
    DWORD size = sizeof buf;
    LONG rc = RegQueryValueExW(key, name, nullptr, nullptr, buf, &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::string(reinterpret_cast<char*>(buf), size) : "<none>";
  }
  static std::string Str(HKEY root, const std::u16string& path, const char16_t* name) {
    std::string raw = Raw(root, path, name);
    if (raw == "<none>") return raw;
    std::u16string text(reinterpret_cast<const char16_t*>(raw.data()), raw.size() / 2);
    return ce::ToUtf8(text.c_str());
  }
  static bool KeyExists(HKEY root, const std::u16string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, 0, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
  std::string Lines() const {
    std::string all;
    for (const auto& l : rep_.lines) all += l + "\n";
    return all;
  }
  bool Exists(std::u16string_view path) const {
    return GetFileAttributesW(std::u16string(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  std::string Log() const { return dev_.ReadFile(u"\\QuilmoInitLog.txt"); }
  int RunnerStarts() const {
    int count = 0;
    for (const auto& s : rep_.started) count += s.program.find(u"QuilmoInit") != std::u16string::npos;
    return count;
  }

  quilmo::test::TestDevice dev_;
  ce::BootOptions opt_;
  ce::BootReport rep_;
};

TEST_F(QuilmoInitTest, CopyBackAndUserHiveAreAppliedThenTheLaunchEntryGoesAndTheDeviceResetsOnce) {
  // The restored content waits beside the file that was in use.
  dev_.PutFile(u"\\data\\mail.db", "old content");
  dev_.PutFile(u"\\data\\mail.dbc", "restored content");
  HANDLE h = CreateFileW(u"\\data\\mail.dbc", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const FILETIME stamp{0x12345678u, 0x01D00000u};
  ASSERT_TRUE(SetFileTime(h, &stamp, &stamp, &stamp));
  CloseHandle(h);
  QueueCopy(0, RebootActionsKey::kOperationRestoreCopy, u"\\data\\mail.db", u"\\data\\mail.dbc",
            FILE_ATTRIBUTE_ARCHIVE);

  // A user hive saved with one key, while the live hive has moved on.
  HKEY k = Create(HKEY_CURRENT_USER, u"Software\\Saved");
  SetString(k, u"Name", u"from image");
  RegCloseKey(k);
  ASSERT_EQ(RegSaveKeyW(HKEY_CURRENT_USER, u"\\temp\\user.sav", nullptr), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Saved"), ERROR_SUCCESS);
  k = Create(HKEY_CURRENT_USER, u"Software\\Later");
  SetString(k, u"Name", u"after backup");
  RegCloseKey(k);
  SetActionsValue(RebootActionsKey::kHkcuPath, u"\\temp\\user.sav");

  // Its launch entry, and later entries waiting for it.
  SetLaunch(20, u"device.exe");
  SetLaunch(kN, kRunner);
  HKEY init = Create(HKEY_LOCAL_MACHINE, InitLaunchEntries::kPath);
  SetWords(init, u"Depend21", {20});
  SetWords(init, u"Depend30", {21, 20});
  SetWords(init, u"Depend40", {21});
  RegCloseKey(init);

  ASSERT_TRUE(ce::BootDevice(opt_, &rep_)) << Lines();

  EXPECT_EQ(rep_.resets, 1) << Lines();
  EXPECT_EQ(RunnerStarts(), 1) << Lines();
  EXPECT_EQ(dev_.ReadFile(u"\\data\\mail.db"), "restored content");
  EXPECT_FALSE(Exists(u"\\data\\mail.dbc"));
  WIN32_FIND_DATAW fd{};
  HANDLE f = FindFirstFileW(u"\\data\\mail.db", &fd);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  FindClose(f);
  EXPECT_EQ(fd.ftLastWriteTime.dwLowDateTime, stamp.dwLowDateTime);
  EXPECT_EQ(fd.ftLastWriteTime.dwHighDateTime, stamp.dwHighDateTime);

  EXPECT_EQ(Str(HKEY_CURRENT_USER, u"Software\\Saved", u"Name"), "from image");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"Software\\Later"));
  EXPECT_FALSE(Exists(u"\\temp\\user.sav"));

  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ActionPath(RebootActionsKey::kCopyFilePrefix, 0)));
  EXPECT_EQ(Raw(HKEY_LOCAL_MACHINE, RebootActionsKey::kPath, RebootActionsKey::kHkcuPath), "<none>");
  EXPECT_EQ(Raw(HKEY_LOCAL_MACHINE, u"init", u"Launch21"), "<none>");
  EXPECT_EQ(Raw(HKEY_LOCAL_MACHINE, u"init", u"Depend21"), "<none>");
  EXPECT_EQ(Raw(HKEY_LOCAL_MACHINE, u"init", u"Depend30"), std::string("\x14\x00", 2));
  EXPECT_EQ(Raw(HKEY_LOCAL_MACHINE, u"init", u"Depend40"), "<none>");

  EXPECT_TRUE(fs::exists(dev_.Host(u"\\QuilmoInitLog.txt")));
  EXPECT_EQ(Log(), "Copied \\data\\mail.dbc to \\data\\mail.db\r\n");
}

TEST_F(QuilmoInitTest, SystemHiveIsReplacedAtTheBootAfterTheRunnerResets) {
  HKEY k = Create(HKEY_LOCAL_MACHINE, u"Software\\Marker");
  SetString(k, u"State", u"saved");
  RegCloseKey(k);
  ASSERT_EQ(RegSaveKeyW(HKEY_LOCAL_MACHINE, u"\\temp\\system.sav", nullptr), ERROR_SUCCESS);
  k = Create(HKEY_LOCAL_MACHINE, u"Software\\Marker");
  SetString(k, u"State", u"live");
  RegCloseKey(k);
  SetActionsValue(RebootActionsKey::kHklmPath, u"\\temp\\system.sav");
  SetLaunch(kN, kRunner);

  ASSERT_TRUE(ce::BootDevice(opt_, &rep_)) << Lines();

  EXPECT_EQ(rep_.resets, 1) << Lines();
  EXPECT_EQ(RunnerStarts(), 1) << Lines();
  EXPECT_EQ(Str(HKEY_LOCAL_MACHINE, u"Software\\Marker", u"State"), "saved");
  EXPECT_EQ(Raw(HKEY_LOCAL_MACHINE, u"init", u"Launch21"), "<none>");
  EXPECT_EQ(Log(), "");
}

TEST_F(QuilmoInitTest, FailedActionsAreLoggedAndRemovedGapsEndTheLoopAndNothingResets) {
  // Registry values: one with an unknown root, one that applies.
  HKEY k = Create(HKEY_LOCAL_MACHINE, ActionPath(RebootActionsKey::kSetRegValuePrefix, 0));
  SetDword(k, RebootActionsKey::kRootKey, RebootActionsKey::kRootKeyOther);
  SetString(k, RebootActionsKey::kKeyName, u"Software");
  SetString(k, RebootActionsKey::kValueName, u"X");
  SetDword(k, RebootActionsKey::kData, 1);
  RegCloseKey(k);
  RegCloseKey(Create(HKEY_CURRENT_USER, u"Software\\Target"));
  k = Create(HKEY_LOCAL_MACHINE, ActionPath(RebootActionsKey::kSetRegValuePrefix, 1));
  SetDword(k, RebootActionsKey::kRootKey, RebootActionsKey::kRootKeyCurrentUser);
  SetString(k, RebootActionsKey::kKeyName, u"Software\\Target");
  SetString(k, RebootActionsKey::kValueName, u"Count");
  SetDword(k, RebootActionsKey::kData, 77);
  RegCloseKey(k);
  // Backup copies: index 0 of a missing file, index 2 behind a gap.
  QueueCopy(0, RebootActionsKey::kOperationBackupCopy, u"\\data\\gone.db", u"\\data\\gone.dbc", FILE_ATTRIBUTE_HIDDEN);
  dev_.PutFile(u"\\data\\later.db", "x");
  QueueCopy(2, RebootActionsKey::kOperationBackupCopy, u"\\data\\later.db", u"\\data\\later.dbc",
            FILE_ATTRIBUTE_HIDDEN);
  SetLaunch(5, u"\\Windows\\NotThere.exe");

  // Started by hand: no launch number, no launch entry touched.
  ASSERT_TRUE(ce::RunOnDevice(kRunner, u"", opt_, &rep_)) << Lines();

  EXPECT_EQ(rep_.resets, 0) << Lines();
  EXPECT_EQ(Raw(HKEY_CURRENT_USER, u"Software\\Target", u"Count"), std::string("\x4d\0\0\0", 4));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ActionPath(RebootActionsKey::kSetRegValuePrefix, 0)));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ActionPath(RebootActionsKey::kSetRegValuePrefix, 1)));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ActionPath(RebootActionsKey::kCopyFilePrefix, 0)));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, ActionPath(RebootActionsKey::kCopyFilePrefix, 2)));
  EXPECT_FALSE(Exists(u"\\data\\later.dbc"));
  EXPECT_EQ(Str(HKEY_LOCAL_MACHINE, u"init", u"Launch5"), "\\Windows\\NotThere.exe");
  EXPECT_EQ(Log(),
            "ProcessRegistryValueKey failed\r\n"
            "CreateFile \\data\\gone.db failed: 2\r\n"
            "Copy File(\\data\\gone.db,\\data\\gone.dbc) failed: 2\r\n");
}

TEST_F(QuilmoInitTest, BackupCopyIsMadeWithItsAttributes) {
  dev_.PutFile(u"\\data\\held.db", "live data");
  QueueCopy(0, RebootActionsKey::kOperationBackupCopy, u"\\data\\held.db", u"\\data\\held.dbc", FILE_ATTRIBUTE_HIDDEN);
  SetLaunch(kN, kRunner);

  ASSERT_TRUE(ce::BootDevice(opt_, &rep_)) << Lines();

  EXPECT_EQ(rep_.resets, 0) << Lines();
  EXPECT_EQ(dev_.ReadFile(u"\\data\\held.dbc"), "live data");
  EXPECT_EQ(GetFileAttributesW(u"\\data\\held.dbc") & FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(Log(), "Copied \\data\\held.db to \\data\\held.dbc\r\n");
  EXPECT_EQ(Raw(HKEY_LOCAL_MACHINE, u"init", u"Launch21"), "<none>");
  std::vector<DWORD> signalled = ce::SignalledLaunches();
  EXPECT_NE(std::find(signalled.begin(), signalled.end(), kN), signalled.end());
}

TEST_F(QuilmoInitTest, FailedCopyBackKeepsTheRestoredContentAndStillResets) {
  // The actual file stays held open by the system, so it cannot be written.
  dev_.PutFile(u"\\data\\busy.db", "old");
  dev_.PutFile(u"\\data\\busy.dbc", "restored");
  int64_t hold = ce::HoldFileOpen(u"\\data\\busy.db", GENERIC_READ, 0, true);
  ASSERT_NE(hold, 0);
  QueueCopy(0, RebootActionsKey::kOperationRestoreCopy, u"\\data\\busy.db", u"\\data\\busy.dbc", 0);
  // And a copy-back whose backup is missing.
  QueueCopy(1, RebootActionsKey::kOperationRestoreCopy, u"\\data\\none.db", u"\\data\\none.dbc", 0);
  SetLaunch(kN, kRunner);

  ASSERT_TRUE(ce::BootDevice(opt_, &rep_)) << Lines();
  ce::ReleaseHold(hold);

  EXPECT_EQ(rep_.resets, 1) << Lines();
  EXPECT_EQ(RunnerStarts(), 1) << Lines();
  EXPECT_EQ(dev_.ReadFile(u"\\data\\busy.db"), "old");
  EXPECT_EQ(dev_.ReadFile(u"\\data\\busy.dbc"), "restored");
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ActionPath(RebootActionsKey::kCopyFilePrefix, 0)));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ActionPath(RebootActionsKey::kCopyFilePrefix, 1)));
  const std::string log = Log();
  EXPECT_NE(log.find("CreateFile \\data\\busy.db failed: 32\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Copy File(\\data\\busy.dbc,\\data\\busy.db) failed: 32\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("CreateFile \\data\\none.dbc failed: 2\r\n"), std::string::npos) << log;
}

// The system hive refuses every write: the runner logs each launch-entry
// change it could not make and still signals and ends.
TEST_F(QuilmoInitTest, RegistryWritesThatFailAreLoggedAndTheRunGoesOn) {
  SetLaunch(kN, kRunner);
  HKEY init = Create(HKEY_LOCAL_MACHINE, InitLaunchEntries::kPath);
  SetWords(init, u"Depend21", {});
  SetWords(init, u"Depend30", {21, 20});
  RegCloseKey(init);
  ce::RegCloseHives();
  {
    UnwritableFile hive(dev_.Host(ce::kSystemHivePath));
    if (!hive.Unwritable()) GTEST_SKIP() << "no way to make a host file unwritable here";
    ASSERT_TRUE(ce::RunOnDevice(kRunner, u"21", opt_, &rep_)) << Lines();
  }
  std::vector<DWORD> signalled = ce::SignalledLaunches();
  EXPECT_NE(std::find(signalled.begin(), signalled.end(), kN), signalled.end());
  EXPECT_EQ(Log(),
            "RegDeleteValue Launch21 failed: 5\r\n"
            "RegDeleteValue Depend21 failed: 5\r\n"
            "RegSetValue Depend30 failed: 5\r\n");
  EXPECT_EQ(Str(HKEY_LOCAL_MACHINE, u"init", u"Launch21"), "\\Windows\\QuilmoInit.exe");
}

}  // namespace
