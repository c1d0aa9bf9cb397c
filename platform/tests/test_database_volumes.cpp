// Database volumes: mounting and its counts, sharing, the volume walk,
// record ids across a restored file, the system's volumes at boot and the
// rollback of a write a reset interrupted.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "DbTestKit.h"
#include "ce/database.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "cesim/boot.h"
#include "cesim/database.h"
#include "testkit/TestDevice.h"

using namespace dbtest;
namespace fs = std::filesystem;

namespace {

class VolumeTest : public ::testing::Test {
 protected:
  explicit VolumeTest(const ce::Profile& profile = ce::Profile()) : dev_(profile) {}
  ~VolumeTest() override { ce::ClearDatabaseFaults(); }

  static bool Mount(const char16_t* path, bool edb, DWORD flags, CEGUID* g) {
    return edb ? CeMountDBVolEx(g, const_cast<LPWSTR>(path), nullptr, flags)
               : CeMountDBVol(g, const_cast<LPWSTR>(path), flags);
  }
  static CEGUID MountOk(const char16_t* path, bool edb = false) {
    CEGUID g{};
    EXPECT_TRUE(Mount(path, edb, OPEN_ALWAYS, &g)) << ce::ToUtf8(path) << ": " << GetLastError();
    return g;
  }
  static int MountCount(const CEGUID& g) {
    for (const ce::MountedVolume& v : ce::ListMountedVolumes())
      if (CeGuidEqual(v.guid, g)) return v.count;
    return -1;
  }
  static DWORD OpenError(const char16_t* path) {
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(h);
    return 0;
  }
  // Makes a CEDB volume file holding one database with n records; returns
  // the records' OIDs.
  static std::vector<CEOID> VolumeWith(const char16_t* path, int n) {
    CEGUID g = MountOk(path);
    CEDBASEINFO info = CedbInfo(u"Items");
    CeCreateDatabaseEx(&g, &info);
    std::vector<CEOID> ids = AddRecords(g, n);
    EXPECT_TRUE(CeUnmountDBVol(&g));
    return ids;
  }
  static std::vector<CEOID> AddRecords(CEGUID g, int n) {
    HANDLE h = OpenCedb(g, u"Items");
    std::vector<CEOID> ids;
    for (int i = 0; i < n; ++i) {
      CEPROPVAL v = I4(1, i);
      ids.push_back(CeWriteRecordProps(h, 0, 1, &v));
    }
    CloseHandle(h);
    return ids;
  }

  quilmo::test::TestDevice dev_;
};

TEST_F(VolumeTest, MountOpensOrMakesAVolumeAndCountsRepeatedMounts) {
  CEGUID g{};
  EXPECT_FALSE(Mount(u"\\a.vol", false, OPEN_EXISTING, &g));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(Mount(u"\\a.vol", false, CREATE_NEW, &g));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(Mount(u"\\nofolder\\a.vol", false, OPEN_ALWAYS, &g));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  ASSERT_TRUE(Mount(u"\\a.vol", false, OPEN_ALWAYS, &g));
  EXPECT_TRUE(fs::exists(dev_.Host(u"\\a.vol")));
  EXPECT_FALSE(CeGuidEqual(g, ZERO_CEGUID) || CeGuidEqual(g, CEDB_SYSTEMGUID) || CeGuidEqual(g, EDB_SYSTEMGUID));
  CEGUID again{};
  ASSERT_TRUE(Mount(u"\\A.VOL", false, OPEN_EXISTING, &again));
  EXPECT_TRUE(CeGuidEqual(g, again));
  EXPECT_EQ(MountCount(g), 2);
  ASSERT_TRUE(CeUnmountDBVol(&g));
  EXPECT_EQ(MountCount(g), 1);
  ASSERT_TRUE(CeUnmountDBVol(&g));
  EXPECT_EQ(MountCount(g), -1);
  EXPECT_FALSE(CeUnmountDBVol(&g));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CEGUID sys = CEDB_SYSTEMGUID;
  EXPECT_FALSE(CeUnmountDBVol(&sys));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // A later mount gives a new GUID.
  ASSERT_TRUE(Mount(u"\\a.vol", false, OPEN_EXISTING, &again));
  EXPECT_FALSE(CeGuidEqual(g, again));
}

TEST_F(VolumeTest, AFileThatIsNoVolumeOfTheGenerationFails1392) {
  dev_.PutFile(u"\\text.vol", "this is no volume at all, just some text that is long enough");
  dev_.PutFile(u"\\empty.vol", "");
  CEGUID g{};
  EXPECT_FALSE(Mount(u"\\text.vol", false, OPEN_EXISTING, &g));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_CORRUPT));
  EXPECT_FALSE(Mount(u"\\empty.vol", true, OPEN_ALWAYS, &g));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_CORRUPT));
  EXPECT_EQ(dev_.ReadFile(u"\\empty.vol"), "");  // left as it was
  VolumeWith(u"\\c.vol", 3);
  EXPECT_FALSE(Mount(u"\\c.vol", true, OPEN_EXISTING, &g));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_CORRUPT));
  CEGUID c = MountOk(u"\\c.vol");
  EXPECT_FALSE(Mount(u"\\c.vol", true, OPEN_EXISTING, &g));  // mounted already, as CEDB
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_CORRUPT));
  ASSERT_TRUE(CeUnmountDBVol(&c));
  // A damaged volume does not mount.
  std::string bytes = dev_.ReadFile(u"\\c.vol");
  dev_.PutFile(u"\\half.vol", bytes.substr(0, bytes.size() / 2));
  EXPECT_FALSE(Mount(u"\\half.vol", false, OPEN_EXISTING, &g));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_CORRUPT));
  for (size_t at = 4096; at < bytes.size(); at += 4096) bytes[at + 10] ^= 0x5A;
  dev_.PutFile(u"\\bent.vol", bytes);
  EXPECT_FALSE(Mount(u"\\bent.vol", false, OPEN_EXISTING, &g));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_CORRUPT));
  EXPECT_TRUE(ce::ListMountedVolumes().empty());
}

TEST_F(VolumeTest, AMountedFileCannotBeOpenedCopiedOrDeleted) {
  VolumeWith(u"\\held.vol", 1);
  dev_.PutFile(u"\\other.txt", "x");
  CEGUID g = MountOk(u"\\held.vol");
  EXPECT_EQ(OpenError(u"\\held.vol"), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(CopyFileW(u"\\other.txt", u"\\held.vol", FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(DeleteFileW(u"\\held.vol"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  ASSERT_TRUE(CeUnmountDBVol(&g));
  EXPECT_EQ(OpenError(u"\\held.vol"), 0u);
  // And a file a program holds open cannot be mounted.
  HANDLE h = CreateFileW(u"\\held.vol", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(Mount(u"\\held.vol", false, OPEN_EXISTING, &g));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  CloseHandle(h);
}

TEST_F(VolumeTest, TheWalkGivesAGenerationsVolumesInMountOrderThenTheObjectStore) {
  CEGUID c1 = MountOk(u"\\c1.vol"), e1 = MountOk(u"\\e1.vol", true), c2 = MountOk(u"\\c2.vol");
  auto walk = [](CEGUID from) {
    std::vector<std::pair<CEGUID, std::u16string>> out;
    WCHAR name[MAX_PATH];
    while (CeEnumDBVolumes(&from, name, MAX_PATH)) out.emplace_back(from, name);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    return out;
  };
  auto cedb = walk(CEDB_SYSTEMGUID);
  ASSERT_EQ(cedb.size(), 3u);
  EXPECT_TRUE(CeGuidEqual(cedb[0].first, c1));
  EXPECT_EQ(cedb[0].second, u"\\c1.vol");
  EXPECT_TRUE(CeGuidEqual(cedb[1].first, c2));
  EXPECT_TRUE(CeGuidEqual(cedb[2].first, ZERO_CEGUID));
  EXPECT_EQ(cedb[2].second, u"SystemHeap");
  auto edb = walk(EDB_SYSTEMGUID);
  ASSERT_EQ(edb.size(), 2u);
  EXPECT_TRUE(CeGuidEqual(edb[0].first, e1));
  EXPECT_EQ(walk(c2).size(), 1u);  // from a volume: what follows it
  EXPECT_TRUE(walk(ZERO_CEGUID).empty());  // the last step, not a restart
  CEGUID unknown{1, 2, 3, 4};
  WCHAR name[MAX_PATH];
  EXPECT_FALSE(CeEnumDBVolumes(&unknown, name, MAX_PATH));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CEGUID from = CEDB_SYSTEMGUID;
  EXPECT_FALSE(CeEnumDBVolumes(&from, name, 7));  // "\c1.vol" needs 8
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  // Find-first with an object-store GUID lists the object store alone.
  CEDBASEINFO info = CedbInfo(u"InVolume");
  ASSERT_NE(CeCreateDatabaseEx(&c1, &info), 0u);
  CEGUID sys = CEDB_SYSTEMGUID;
  HANDLE f = CeFindFirstDatabaseEx(&sys, 0);
  EXPECT_EQ(CeFindNextDatabaseEx(f, nullptr), 0u);
  CloseHandle(f);
}

TEST_F(VolumeTest, HandlesOfAnUnmountedVolumeFail) {
  VolumeWith(u"\\v.vol", 2);
  CEGUID g = MountOk(u"\\v.vol");
  HANDLE h = OpenCedb(g, u"Items");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_NE(CeSeekDatabaseEx(h, CEDB_SEEK_BEGINNING, 0, 0, nullptr), 0u);
  ASSERT_TRUE(CeUnmountDBVol(&g));
  EXPECT_EQ(CeSeekDatabaseEx(h, CEDB_SEEK_BEGINNING, 0, 0, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(CloseHandle(h));
}

TEST_F(VolumeTest, RecordIdsAreNeverReusedWhenAVolumeFileIsPutBack) {
  std::vector<CEOID> first = VolumeWith(u"\\r.vol", 3);
  const std::string older = dev_.ReadFile(u"\\r.vol");
  CEGUID g = MountOk(u"\\r.vol");
  std::vector<CEOID> later = AddRecords(g, 5);
  ASSERT_TRUE(CeUnmountDBVol(&g));
  dev_.PutFile(u"\\r.vol", older);  // a restore of the older file
  g = MountOk(u"\\r.vol");
  std::vector<CEOID> after = AddRecords(g, 2);
  for (CEOID id : after) {
    EXPECT_GT(id, later.back());
    EXPECT_EQ(std::count(later.begin(), later.end(), id), 0);
  }
  ASSERT_TRUE(CeUnmountDBVol(&g));
}

TEST_F(VolumeTest, FlushAndFailuresOnDemand) {
  CEGUID g = MountOk(u"\\f.vol");
  EXPECT_TRUE(CeFlushDBVol(nullptr));
  EXPECT_TRUE(CeFlushDBVol(&g));
  CEGUID unknown{9, 9, 9, 9};
  EXPECT_FALSE(CeFlushDBVol(&unknown));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  ce::InjectDatabaseFault(ce::DbCall::kMount, ERROR_NOT_READY, 1, 1);
  CEGUID a{}, b{};
  EXPECT_TRUE(Mount(u"\\f2.vol", false, OPEN_ALWAYS, &a));  // skipped
  EXPECT_FALSE(Mount(u"\\f3.vol", false, OPEN_ALWAYS, &b));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
  EXPECT_FALSE(fs::exists(dev_.Host(u"\\f3.vol")));
  EXPECT_TRUE(Mount(u"\\f3.vol", false, OPEN_ALWAYS, &b));
}

ce::Profile SystemVolumeProfile() {
  ce::Profile p;
  p.systemVolumes = {{u"\\sys.vol", false}, {u"\\pim.vol", true}, {u"\\missing.vol", false}};
  return p;
}

class SystemVolumeTest : public VolumeTest {
 protected:
  SystemVolumeTest() : VolumeTest(SystemVolumeProfile()) {
    dev_.MakeDir(u"\\Windows\\StartUp");
    opt_.runTimeoutMs = 30000;
  }
  void Install(std::u16string_view devicePath) {
    fs::path host = dev_.Host(devicePath);
    fs::create_directories(host.parent_path());
    fs::copy_file(CEBOOT_TESTPROG, host, fs::copy_options::overwrite_existing);
  }
  static void SetLaunch(DWORD n, std::u16string_view program, WORD waitsFor = 0) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"init", 0, nullptr, 0, 0, nullptr, &key, nullptr), 0);
    std::u16string name = u"Launch" + ce::FromUtf8(std::to_string(n)), text(program);
    RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * 2));
    if (waitsFor) {
      const BYTE dep[2] = {static_cast<BYTE>(waitsFor & 0xFF), static_cast<BYTE>(waitsFor >> 8)};
      name = u"Depend" + ce::FromUtf8(std::to_string(n));
      RegSetValueExW(key, name.c_str(), 0, REG_BINARY, dep, 2);
    }
    RegCloseKey(key);
  }
  std::string Lines() const { return rep_.Text(); }
  bool HasLine(const std::string& part) const { return rep_.HasLine(part); }

  ce::BootOptions opt_;
  ce::BootReport rep_;
};

TEST_F(SystemVolumeTest, TheBootMountsThemAfterTheInitListUntilTheNextReset) {
  VolumeWith(u"\\sys.vol", 2);
  VolumeWith(u"\\new.vol", 5);
  CEGUID e = MountOk(u"\\pim.vol", true);
  ASSERT_TRUE(CeUnmountDBVol(&e));
  // The init list copies a volume over a system one: free until the shell.
  Install(u"\\Windows\\Copier.exe");
  dev_.PutFile(u"\\boottest.cfg", "Copier.exe copyfile \\new.vol>\\sys.vol\n");
  SetLaunch(30, u"\\Windows\\Copier.exe");
  SetLaunch(50, u"shell32.exe", 30);
  ASSERT_TRUE(ce::BootDevice(opt_, &rep_)) << Lines();
  EXPECT_NE(dev_.ReadFile(u"\\boottest.log").find("copied"), std::string::npos) << dev_.ReadFile(u"\\boottest.log");
  EXPECT_TRUE(HasLine("mounted the system volume \\sys.vol (CEDB)")) << Lines();
  EXPECT_TRUE(HasLine("mounted the system volume \\pim.vol (EDB)")) << Lines();
  EXPECT_TRUE(HasLine("the system volume \\missing.vol cannot be mounted")) << Lines();
  EXPECT_LT(Lines().find("Launch30"), Lines().find("mounted the system volume"));
  std::vector<ce::MountedVolume> mounts = ce::ListMountedVolumes();
  ASSERT_EQ(mounts.size(), 2u);
  EXPECT_TRUE(mounts[0].system && mounts[0].count == 0);
  EXPECT_EQ(OpenError(u"\\sys.vol"), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  // The copy is what was mounted.
  CEGUID g = mounts[0].guid;
  HANDLE h = OpenCedb(g, u"Items");
  BY_HANDLE_DB_INFORMATION bh{};
  ASSERT_TRUE(CeGetDBInformationByHandle(h, &bh));
  EXPECT_EQ(bh.infDatabase.dwNumRecords, 5u);
  CloseHandle(h);
  // A program's mount counts beside the system's hold, which never goes.
  CEGUID mine{};
  ASSERT_TRUE(Mount(u"\\sys.vol", false, OPEN_EXISTING, &mine));
  EXPECT_TRUE(CeGuidEqual(mine, g));
  EXPECT_TRUE(CeUnmountDBVol(&mine));
  EXPECT_FALSE(CeUnmountDBVol(&mine));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  // The next boot ends these mounts and mounts afresh.
  dev_.PutFile(u"\\boottest.cfg", "");
  rep_ = {};
  ASSERT_TRUE(ce::BootDevice(opt_, &rep_)) << Lines();
  mounts = ce::ListMountedVolumes();
  ASSERT_EQ(mounts.size(), 2u);
  EXPECT_FALSE(CeGuidEqual(mounts[0].guid, g));
}

TEST_F(SystemVolumeTest, TheBootRollsBackAWriteAResetInterrupted) {
  std::vector<CEOID> before = VolumeWith(u"\\sys.vol", 3);
  CEGUID g = MountOk(u"\\sys.vol");
  pid_t child = fork();
  if (child == 0) {
    ce::InjectDatabaseCrash(ce::DbCall::kWrite, 9);
    std::string big(200000, 'x');
    CEPROPVAL v = Blob(2, big);
    HANDLE h = OpenCedb(g, u"Items");
    CeWriteRecordProps(h, 0, 1, &v);
    _exit(1);  // the write returned: no crash happened
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 9);
  const fs::path journal = dev_.Host(u"\\sys.vol").string() + "-journal";
  ASSERT_TRUE(fs::exists(journal));
  ASSERT_TRUE(ce::BootDevice(opt_, &rep_)) << Lines();
  EXPECT_TRUE(HasLine("rolled back the unfinished write of \\sys.vol")) << Lines();
  EXPECT_FALSE(fs::exists(journal));
  std::vector<ce::MountedVolume> mounts = ce::ListMountedVolumes();
  ASSERT_FALSE(mounts.empty());
  EXPECT_TRUE(mounts[0].system);  // the program's mount ended with the reset
  HANDLE h = OpenCedb(mounts[0].guid, u"Items");
  BY_HANDLE_DB_INFORMATION bh{};
  ASSERT_TRUE(CeGetDBInformationByHandle(h, &bh));
  EXPECT_EQ(bh.infDatabase.dwNumRecords, 3u);
  CloseHandle(h);
}

}  // namespace
