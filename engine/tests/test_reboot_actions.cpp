// Boot-time actions and the boot launch list, checked in their registry form.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/registry.h"
#include "core/Log.h"
#include "engine/InitLaunch.h"
#include "engine/RebootActions.h"
#include "testkit/TestDevice.h"

namespace {

using quilmo::test::TestDevice;
using Bytes = std::vector<BYTE>;

constexpr const WCHAR* kRunner = u"\\Windows\\QuilmoInit.exe";
constexpr const WCHAR* kActionsPath = u"Software\\Quilmo Software\\RebootActions";

struct Value {
  std::u16string name;
  DWORD type;
  Bytes data;
  bool operator==(const Value&) const = default;
};

Bytes Sz(std::u16string_view text) {
  Bytes b;
  for (char16_t c : text) {
    b.push_back(static_cast<BYTE>(c & 0xFF));
    b.push_back(static_cast<BYTE>(c >> 8));
  }
  b.push_back(0);
  b.push_back(0);
  return b;
}
Bytes Dw(DWORD v) { return {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)}; }
Bytes Words(std::initializer_list<WORD> words) {
  Bytes b;
  for (WORD w : words) {
    b.push_back(static_cast<BYTE>(w & 0xFF));
    b.push_back(static_cast<BYTE>(w >> 8));
  }
  return b;
}

// Every value of HKLM\path in enumeration order; empty when the key is missing.
std::vector<Value> ValuesOf(const WCHAR* path) {
  std::vector<Value> out;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return out;
  for (DWORD i = 0;; ++i) {
    WCHAR name[300];
    BYTE data[4096];
    DWORD nameSize = 300, dataSize = sizeof(data), type = 0;
    if (RegEnumValueW(key, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
    out.push_back({std::u16string(name, nameSize), type, Bytes(data, data + dataSize)});
  }
  RegCloseKey(key);
  return out;
}

std::vector<std::u16string> SubkeysOf(const WCHAR* path) {
  std::vector<std::u16string> out;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return out;
  for (DWORD i = 0;; ++i) {
    WCHAR name[300];
    DWORD size = 300;
    if (RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    out.emplace_back(name, size);
  }
  RegCloseKey(key);
  return out;
}

bool KeyExists(const WCHAR* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void SetValue(const WCHAR* path, const std::u16string& name, DWORD type, const Bytes& data) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  static const BYTE none = 0;
  ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, type, data.empty() ? &none : data.data(),
                           static_cast<DWORD>(data.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

void Launch(int n, std::u16string_view program) {
  SetValue(u"init", u"Launch" + ce::FromUtf8(std::to_string(n)), REG_SZ, Sz(program));
}
void Depend(int n, const Bytes& words) {
  SetValue(u"init", u"Depend" + ce::FromUtf8(std::to_string(n)), REG_BINARY, words);
}

class RebootActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dev.PutFile(kRunner, "runner");
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"init", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    SetLog(&log);
    log.Open(false);
    SetLogReportSink([this](int, DWORD, const CString& text) { reports.push_back(text.str()); });
  }
  void TearDown() override {
    SetLogReportSink(nullptr);
    SetLog(nullptr);
  }
  bool Logged(const char* text) const { return log.GetBuffer().find(text) != std::string::npos; }
  bool Reported(std::u16string_view text) const {
    for (const auto& r : reports)
      if (r == text) return true;
    return false;
  }
  // The platform's usual entries: 20 device.exe, 30 waiting for 20, 50 with
  // no wait list.
  void PlatformEntries() {
    Launch(20, u"device.exe");
    Launch(30, u"gwes.exe");
    Depend(30, Words({20}));
    Launch(50, u"shell32.exe");
  }

  TestDevice dev;
  ALog log;
  std::vector<std::u16string> reports;
};

TEST_F(RebootActionsTest, NothingQueuedTouchesNothing) {
  PlatformEntries();
  auto before = ValuesOf(u"init");
  RebootActions actions;
  EXPECT_FALSE(actions.HasPending());
  EXPECT_TRUE(actions.Apply());
  EXPECT_TRUE(Logged("RebootActions"));
  EXPECT_TRUE(Logged("No reboot actions"));
  EXPECT_FALSE(KeyExists(kActionsPath));
  EXPECT_EQ(ValuesOf(u"init"), before);
}

TEST_F(RebootActionsTest, EveryActionKindInItsRegistryForm) {
  PlatformEntries();
  RebootActions actions;
  actions.AddBackupCopy(u"\\pim.vol", u"\\pim.volc", 2);
  actions.AddRestoreCopy(u"\\cemail.volc", u"\\cemail.vol", 0x21);
  actions.SetHklmPath(u"\\temp\\system.hv");
  actions.SetHkcuPath(u"\\temp\\user.hv");
  const BYTE bytes[] = {1, 2, 3};
  actions.AddRegistryValue(HKEY_CURRENT_USER, u"Software\\Foo", u"Bar", REG_BINARY, bytes, 3);
  actions.AddRegistryValue(HKEY_USERS, u"K", u"", REG_DWORD, Dw(7).data(), 4);
  EXPECT_TRUE(actions.HasPending());
  ASSERT_TRUE(actions.Apply());
  EXPECT_TRUE(Logged("Setting up actions for reboot"));

  EXPECT_EQ(SubkeysOf(kActionsPath),
            (std::vector<std::u16string>{u"CopyFile0", u"CopyFile1", u"SetRegValue0", u"SetRegValue1"}));
  EXPECT_EQ(ValuesOf(u"Software\\Quilmo Software\\RebootActions\\CopyFile0"),
            (std::vector<Value>{{u"Operation", REG_DWORD, Dw(1)},
                                {u"ActualPath", REG_SZ, Sz(u"\\pim.vol")},
                                {u"BackupPath", REG_SZ, Sz(u"\\pim.volc")},
                                {u"Attributes", REG_DWORD, Dw(2)}}));
  // A restore copy: the restored copy is the backup path.
  EXPECT_EQ(ValuesOf(u"Software\\Quilmo Software\\RebootActions\\CopyFile1"),
            (std::vector<Value>{{u"Operation", REG_DWORD, Dw(2)},
                                {u"ActualPath", REG_SZ, Sz(u"\\cemail.vol")},
                                {u"BackupPath", REG_SZ, Sz(u"\\cemail.volc")},
                                {u"Attributes", REG_DWORD, Dw(0x21)}}));
  EXPECT_EQ(ValuesOf(u"Software\\Quilmo Software\\RebootActions\\SetRegValue0"),
            (std::vector<Value>{{u"RootKey", REG_DWORD, Dw(3)},
                                {u"KeyName", REG_SZ, Sz(u"Software\\Foo")},
                                {u"ValueName", REG_SZ, Sz(u"Bar")},
                                {u"Data", REG_BINARY, Bytes{1, 2, 3}}}));
  EXPECT_EQ(ValuesOf(u"Software\\Quilmo Software\\RebootActions\\SetRegValue1"),
            (std::vector<Value>{{u"RootKey", REG_DWORD, Dw(2)},
                                {u"KeyName", REG_SZ, Sz(u"K")},
                                {u"ValueName", REG_SZ, Sz(u"")},
                                {u"Data", REG_DWORD, Dw(7)}}));
  EXPECT_EQ(ValuesOf(kActionsPath), (std::vector<Value>{{u"HklmPath", REG_SZ, Sz(u"\\temp\\system.hv")},
                                                        {u"HkcuPath", REG_SZ, Sz(u"\\temp\\user.hv")}}));

  // The runner after device.exe; 30 had a wait list, so it waits for the runner too.
  EXPECT_EQ(ValuesOf(u"init"), (std::vector<Value>{{u"Launch20", REG_SZ, Sz(u"device.exe")},
                                                   {u"Launch30", REG_SZ, Sz(u"gwes.exe")},
                                                   {u"Depend30", REG_BINARY, Words({20, 21})},
                                                   {u"Launch50", REG_SZ, Sz(u"shell32.exe")},
                                                   {u"Launch21", REG_SZ, Sz(kRunner)},
                                                   {u"Depend21", REG_BINARY, Words({20})}}));
}

TEST_F(RebootActionsTest, LaterEntriesWithAWaitListWaitForTheRunner) {
  Launch(20, u"device.exe");
  Launch(30, u"gwes.exe");
  Depend(30, Words({20}));
  Launch(50, u"shell32.exe");
  Depend(50, Words({30, 20}));
  Launch(60, u"services.exe");
  Depend(60, {});  // a list with no entries
  Launch(10, u"filesys.exe");
  Depend(10, Words({5}));  // before the runner: untouched
  int number = 0;
  ASSERT_TRUE(SetupInitLaunch(u"\\Windows\\QuilmoInit.exe", {u"device.exe"}, true, &number));
  EXPECT_EQ(number, 21);
  auto values = ValuesOf(u"init");
  auto find = [&](std::u16string_view name) {
    for (const auto& v : values)
      if (v.name == name) return v.data;
    return Bytes{0xEE};
  };
  EXPECT_EQ(find(u"Launch21"), Sz(u"\\Windows\\QuilmoInit.exe"));
  EXPECT_EQ(find(u"Depend21"), Words({20}));
  EXPECT_EQ(find(u"Depend30"), Words({20, 21}));
  EXPECT_EQ(find(u"Depend50"), Words({20, 21, 30}));  // the whole set, ascending
  EXPECT_EQ(find(u"Depend60"), Bytes{});
  EXPECT_EQ(find(u"Depend10"), Words({5}));
}

TEST_F(RebootActionsTest, OnlyARegistryValueMakesNothingWait) {
  PlatformEntries();
  RebootActions actions;
  actions.AddRegistryValue(HKEY_LOCAL_MACHINE, u"A", u"B", REG_SZ,
                           reinterpret_cast<const BYTE*>(u"x"), 4);
  EXPECT_FALSE(actions.HasPending());
  ASSERT_TRUE(actions.Apply());
  EXPECT_EQ(ValuesOf(u"init"), (std::vector<Value>{{u"Launch20", REG_SZ, Sz(u"device.exe")},
                                                   {u"Launch30", REG_SZ, Sz(u"gwes.exe")},
                                                   {u"Depend30", REG_BINARY, Words({20})},
                                                   {u"Launch50", REG_SZ, Sz(u"shell32.exe")},
                                                   {u"Launch21", REG_SZ, Sz(kRunner)},
                                                   {u"Depend21", REG_BINARY, Words({20})}}));
  EXPECT_EQ(SubkeysOf(kActionsPath), std::vector<std::u16string>{u"SetRegValue0"});
  // A backup copy alone does make later entries wait, but is not pending.
  RebootActions copies;
  copies.AddBackupCopy(u"\\a", u"\\ac", 2);
  EXPECT_FALSE(copies.HasPending());
}

TEST_F(RebootActionsTest, NumbersSkipTakenOnesAndNeverPass99) {
  Launch(20, u"device.exe");
  for (int n = 21; n <= 98; ++n) Launch(n, u"x.exe");
  int number = 0;
  ASSERT_TRUE(SetupInitLaunch(u"\\a.exe", {u"device.exe"}, false, &number));
  EXPECT_EQ(number, 99);

  // Every number above the floor taken: nothing is written.
  auto before = ValuesOf(u"init");
  RebootActions actions;
  actions.AddRestoreCopy(u"\\fc", u"\\f", 0);
  EXPECT_FALSE(actions.Apply());
  EXPECT_TRUE(Reported(u"No gap in init key entries."));
  EXPECT_TRUE(Reported(u"Couldn't setup launch of QuilmoInit"));
  EXPECT_EQ(ValuesOf(u"init"), before);
  // The actions themselves stay written.
  EXPECT_EQ(SubkeysOf(kActionsPath), std::vector<std::u16string>{u"CopyFile0"});

  // A floor of 99 leaves no number either.
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"init");
  Launch(99, u"device.exe");
  reports.clear();
  EXPECT_FALSE(SetupInitLaunch(u"\\a.exe", {u"device.exe"}, false, nullptr));
  EXPECT_TRUE(Reported(u"No gap in init key entries."));
}

TEST_F(RebootActionsTest, NumberZeroAndForeignValuesAreIgnored) {
  Launch(0, u"device.exe");  // not an entry: no floor
  Depend(0, Words({3}));     // not an entry: never made to wait
  SetValue(u"init", u"LaunchX", REG_SZ, Sz(u"device.exe"));
  SetValue(u"init", u"Launch5", REG_DWORD, Dw(1));  // wrong type: no entry
  Launch(1, u"filesys.exe");
  int number = 0;
  ASSERT_TRUE(SetupInitLaunch(u"\\a.exe", {u"device.exe"}, true, &number));
  EXPECT_EQ(number, 2);
  auto values = ValuesOf(u"init");
  EXPECT_EQ(values[1], (Value{u"Depend0", REG_BINARY, Words({3})}));
  EXPECT_EQ(values.back(), (Value{u"Depend2", REG_BINARY, Bytes{}}));
}

TEST_F(RebootActionsTest, RootKeyCodes) {
  EXPECT_EQ(RebootActions::ToRootKeyCode(HKEY_LOCAL_MACHINE), 1u);
  EXPECT_EQ(RebootActions::ToRootKeyCode(HKEY_USERS), 2u);
  EXPECT_EQ(RebootActions::ToRootKeyCode(HKEY_CURRENT_USER), 3u);
  EXPECT_EQ(RebootActions::ToRootKeyCode(HKEY_CLASSES_ROOT), 4u);
  EXPECT_EQ(RebootActions::ToRootKeyCode(reinterpret_cast<HKEY>(0x1234)), 0xFFFFFFFFu);
  EXPECT_EQ(&RebootActions::Instance(), &RebootActions::Instance());
}

// A second Apply (or a runner entry an earlier boot never removed) must not
// give the runner a second launch entry: two runners would copy the same
// files side by side at boot.
TEST_F(RebootActionsTest, ApplyTwiceKeepsOneRunnerEntry) {
  PlatformEntries();
  Launch(25, u"\\WINDOWS\\quilmoinit.exe");  // left from an earlier boot
  Depend(25, Words({20}));
  Depend(50, Words({25}));  // waited only for the old entry
  RebootActions actions;
  actions.AddRestoreCopy(u"\\fc", u"\\f", 0);
  ASSERT_TRUE(actions.Apply());
  auto once = ValuesOf(u"init");
  ASSERT_TRUE(actions.Apply());
  EXPECT_EQ(ValuesOf(u"init"), once);
  EXPECT_EQ(once, (std::vector<Value>{{u"Launch20", REG_SZ, Sz(u"device.exe")},
                                      {u"Launch30", REG_SZ, Sz(u"gwes.exe")},
                                      {u"Depend30", REG_BINARY, Words({20, 21})},
                                      {u"Launch50", REG_SZ, Sz(u"shell32.exe")},
                                      {u"Depend50", REG_BINARY, Words({21})},
                                      {u"Launch21", REG_SZ, Sz(kRunner)},
                                      {u"Depend21", REG_BINARY, Words({20})}}));
  EXPECT_EQ(SubkeysOf(kActionsPath), std::vector<std::u16string>{u"CopyFile0"});
}

// Actions an earlier Apply left (its boot never ran the runner) must not be
// carried out with this run's: the runner takes every index it finds.
TEST_F(RebootActionsTest, LeftoversOfAnEarlierApplyAreRemoved) {
  PlatformEntries();
  {
    RebootActions earlier;
    earlier.AddRestoreCopy(u"\\oldc", u"\\old", 0);
    earlier.AddRestoreCopy(u"\\old2c", u"\\old2", 0);
    earlier.AddRegistryValue(HKEY_LOCAL_MACHINE, u"A", u"B", REG_DWORD, Dw(1).data(), 4);
    earlier.SetHklmPath(u"\\temp\\old.hv");
    ASSERT_TRUE(earlier.Apply());
  }
  RebootActions actions;
  actions.AddRestoreCopy(u"\\newc", u"\\new", 0);
  actions.SetHkcuPath(u"\\temp\\user.hv");
  ASSERT_TRUE(actions.Apply());
  EXPECT_EQ(SubkeysOf(kActionsPath), std::vector<std::u16string>{u"CopyFile0"});
  EXPECT_EQ(ValuesOf(u"Software\\Quilmo Software\\RebootActions\\CopyFile0")[1],
            (Value{u"ActualPath", REG_SZ, Sz(u"\\new")}));
  EXPECT_EQ(ValuesOf(kActionsPath), (std::vector<Value>{{u"HkcuPath", REG_SZ, Sz(u"\\temp\\user.hv")}}));
}

// A value of another program longer than the enumeration buffers must not
// hide its launch number nor fail the set-up.
TEST_F(RebootActionsTest, LongForeignValuesAreReadWhole) {
  Launch(20, u"device.exe");
  std::u16string longPath = u"\\Program Files\\" + std::u16string(200, u'p') + u".exe";
  Launch(21, longPath);
  SetValue(u"init", u"Depend" + std::u16string(100, u'9'), REG_BINARY, Words({1}));
  int number = 0;
  ASSERT_TRUE(SetupInitLaunch(u"\\a.exe", {u"device.exe"}, false, &number));
  EXPECT_EQ(number, 22);
  InitLaunchMap entries;
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"init", 0, KEY_READ, &key), ERROR_SUCCESS);
  ASSERT_TRUE(ReadInitKey(key, entries));
  RegCloseKey(key);
  EXPECT_EQ(entries[21].program, longPath);
  EXPECT_EQ(entries[22].program, u"\\a.exe");
  EXPECT_EQ(entries[22].waitsFor, (std::set<WORD>{20}));
}

TEST_F(RebootActionsTest, MissingInitKeyFails) {
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"init");
  RebootActions actions;
  actions.SetHklmPath(u"\\temp\\s.hv");
  EXPECT_FALSE(actions.Apply());
  EXPECT_TRUE(Reported(u"Couldn't open init key."));
  EXPECT_EQ(ValuesOf(kActionsPath), (std::vector<Value>{{u"HklmPath", REG_SZ, Sz(u"\\temp\\s.hv")}}));
}

}  // namespace
