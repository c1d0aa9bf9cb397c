// The file system component: backup and restore of device trees through a
// real image (entries, index, tail), files in use, ROM files, the
// destructive clear, the Start Menu and the upgrade restore.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "ce/bytes.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/registry.h"
#include "ce/rescontainer.h"
#include "ce/shell.h"
#include "ce/text.h"
#include "cesim/file.h"
#include "core/Log.h"
#include "core/OptionHandlers.h"
#include "core/Resources.h"
#include "core/System.h"
#include "engine/FileSystemComponent.h"
#include "engine/Operation.h"
#include "engine/RebootActions.h"
#include "image/Cipher.h"
#include "image/ExclusionList.h"
#include "image/ImageEntryHeader.h"
#include "image/ImageFile.h"
#include "image/Index.h"
#include "testkit/ImageTail.h"
#include "testkit/TestDevice.h"

namespace {

using quilmo::test::ReadDeviceFile;
using quilmo::test::TestDevice;
using quilmo::test::WriteDeviceFile;

class TestProgress : public ITaskProgress {
 public:
  TestProgress() : ITaskProgress(&record) {}
  void UpdateProgress(bool) override {}
  TaskProgressRecord record;
};

struct FileState {
  DWORD attributes = 0;
  FILETIME times[3]{};
  std::string bytes;
  bool directory = false;
};
using Snapshot = std::map<std::u16string, FileState>;

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}
bool operator==(const FileState& a, const FileState& b) {
  return a.attributes == b.attributes && a.bytes == b.bytes && a.directory == b.directory &&
         std::equal(a.times, a.times + 3, b.times, SameTime);
}


void Take(const std::u16string& folder, Snapshot& out) {
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW((folder + u"\\*").c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return;
  std::vector<WIN32_FIND_DATAW> entries;
  do entries.push_back(fd);
  while (FindNextFileW(find, &fd));
  FindClose(find);
  for (const auto& e : entries) {
    std::u16string path = folder + u"\\" + e.cFileName;
    FileState& s = out[ce::DeviceUpper(path)];
    s.directory = (e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (s.directory) {
      Take(path, out);
      continue;
    }
    s.attributes = e.dwFileAttributes;
    s.times[0] = e.ftCreationTime;
    s.times[1] = e.ftLastAccessTime;
    s.times[2] = e.ftLastWriteTime;
    s.bytes = ReadDeviceFile(path);
  }
}

Snapshot Take(const std::u16string& folder) {
  Snapshot s;
  Take(folder, s);
  return s;
}

void WriteFile(const std::u16string& path, const std::string& bytes, DWORD attributes = 0,
               ULONGLONG time = 0) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         attributes ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << ce::ToUtf8(path);
  DWORD written = 0;
  if (!bytes.empty()) {
    ASSERT_TRUE(::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  }
  if (time) {
    FILETIME c{static_cast<DWORD>(time), 0x01D00000}, a{static_cast<DWORD>(time + 1), 0x01D00000},
        w{static_cast<DWORD>(time + 2), 0x01D00000};
    ASSERT_TRUE(SetFileTime(h, &c, &a, &w));
  }
  CloseHandle(h);
}

void MakeDirs(std::u16string_view path) {
  std::u16string part;
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == u'\\')
      CreateDirectoryW(std::u16string(path.substr(0, i)).c_str(), nullptr);
  }
}

void DeleteTree(const std::u16string& folder) {
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW((folder + u"\\*").c_str(), &fd);
  if (find != INVALID_HANDLE_VALUE) {
    std::vector<WIN32_FIND_DATAW> entries;
    do entries.push_back(fd);
    while (FindNextFileW(find, &fd));
    FindClose(find);
    for (const auto& e : entries) {
      std::u16string path = folder + u"\\" + e.cFileName;
      if (e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        DeleteTree(path);
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    }
  }
  RemoveDirectoryW(folder.c_str());
}

std::string Pattern(size_t size, unsigned seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    s[i] = static_cast<char>(i % 7 == 0 ? seed >> 24 : 'a' + i % 13);
  }
  return s;
}

void SetRegString(HKEY root, const std::u16string& key, const std::u16string& name,
                  const std::u16string& value) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * 2));
  RegCloseKey(k);
}

// The queued copy-file actions as RebootActions::Apply wrote them:
// {operation, actual path, backup path}.
std::vector<std::tuple<DWORD, std::u16string, std::u16string>> RegistryCopyActions() {
  std::vector<std::tuple<DWORD, std::u16string, std::u16string>> out;
  for (int i = 0;; ++i) {
    std::u16string key =
        u"Software\\Quilmo Software\\RebootActions\\CopyFile" + ce::FromUtf8(std::to_string(i));
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) break;
    DWORD op = 0, size = 4, type = 0;
    RegQueryValueExW(k, u"Operation", nullptr, &type, reinterpret_cast<BYTE*>(&op), &size);
    WCHAR actual[300] = {}, backup[300] = {};
    size = sizeof actual;
    RegQueryValueExW(k, u"ActualPath", nullptr, &type, reinterpret_cast<BYTE*>(actual), &size);
    size = sizeof backup;
    RegQueryValueExW(k, u"BackupPath", nullptr, &type, reinterpret_cast<BYTE*>(backup), &size);
    RegCloseKey(k);
    out.emplace_back(op, ce::DeviceUpper(actual), ce::DeviceUpper(backup));
  }
  return out;
}

bool HasCopyAction(DWORD operation, const std::u16string& actual, const std::u16string& backup) {
  // The init key may be missing (Apply then fails): the copies are written first.
  static_cast<void>(RebootActions::Instance().Apply());
  auto actions = RegistryCopyActions();
  return std::find(actions.begin(), actions.end(),
                   std::make_tuple(operation, ce::DeviceUpper(actual), ce::DeviceUpper(backup))) !=
         actions.end();
}

// A resource library with the component's three texts.
void PutResources(const TestDevice& dev) {
  std::vector<ce::res::Resource> resources;
  for (auto [id, text] : {std::pair<uint32_t, std::u16string>{57734, u"In use: "},
                          {57736, u"In use on restore: "},
                          {57737, u"Cannot restore: "}}) {
    resources.push_back(ce::res::StringResource(id, text));
  }
  std::string container, error;
  ASSERT_TRUE(ce::res::BuildContainer(resources, &container, &error)) << error;
  container += ce::res::MakeTrailer(0, static_cast<uint32_t>(container.size()));
  dev.PutFile(u"\\Windows\\QuilmoRes.dll", container);
  ASSERT_TRUE(InitResources(u"\\Windows\\QuilmoRes.dll", nullptr, nullptr));
}

ce::Profile CardProfile() {
  ce::Profile p;
  p.cards = {u"Storage Card"};
  p.romFiles = {u"\\Windows\\rom.dll", u"\\Windows\\stwater.gif"};
  return p;
}

class FileSystemComponentTest : public ::testing::Test {
 protected:
  explicit FileSystemComponentTest(const ce::Profile& profile = CardProfile()) : dev(profile) {}

  void SetUp() override {
    dev.MakeDir(u"\\temp");
    dev.MakeDir(u"\\Storage Card");
    dev.PutFile(u"\\Windows\\rom.dll", "rom module");
    dev.PutFile(u"\\Windows\\stwater.gif", "GIF89a water");
    SetLog(&log);
    log.Open(false);
    log.Flush(true);
    SetLogReportSink([this](int level, DWORD, const CString& text) {
      report.push_back({level, text.str()});
    });
    PutResources(dev);
    context.index = &index;
    context.compressor = &compressor;
    context.excludeHandler = &exclude;
    context.backupOptions = &backupOptions;
    context.restoreOptions = &restoreOptions;
    context.compressFlag = &compress;
    context.upgradeFlag = &upgrade;
    component.Register();
    AExcludeHandler::ResetProcessCache();
    InitCipherKey(false, nullptr);
  }
  void TearDown() override {
    SetLogReportSink(nullptr);
    SetLog(nullptr);
    UnloadResourceLibraries(true);
    InitCipherKey(false, nullptr);
  }

  bool Reported(int level, const std::u16string& text) const {
    return std::any_of(report.begin(), report.end(), [&](const auto& e) {
      return e.first == level && e.second.find(text) != std::u16string::npos;
    });
  }
  bool Logged(const std::string& text) const {
    return dev.ReadFile(u"\\temp\\BackupLog.txt").find(text) != std::string::npos;
  }

  // The sample tree below \Data.
  void MakeTree() {
    MakeDirs(u"\\Data\\Sub");
    MakeDirs(u"\\Data\\Deep\\x\\y");
    WriteFile(u"\\Data\\a.txt", "alpha text", 0, 100);
    WriteFile(u"\\Data\\empty.bin", "", 0, 200);
    WriteFile(u"\\Data\\Sub\\big.bin", Pattern(300000, 7), FILE_ATTRIBUTE_ARCHIVE, 300);
    WriteFile(u"\\Data\\Sub\\ro.txt", "read only", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN,
              400);
    WriteFile(u"\\Data\\Deep\\x\\y\\z.txt", Pattern(131072, 3), FILE_ATTRIBUTE_SYSTEM, 500);
  }

  // Walks the device and writes a whole image: entries, index, tail.
  bool Backup(const std::u16string& imagePath, const std::u16string& password = u"") {
    EXPECT_TRUE(InitCipherKey(!password.empty(), password.empty() ? nullptr : password.c_str()));
    index.Reset();
    index.AddTopLevelComponents(static_cast<const IncludedKinds*>(nullptr));
    index.PopulateSelected();
    progress.record.estimatedTotal = static_cast<DWORD>(index.SizeOfSelected(0));
    AImageFile image(CString(imagePath), AImageFile::kBackup);
    if (!image.Open()) return false;
    ADirectory dir(context, &progress, &image);
    bool ok = dir.Backup();
    ok = ok && quilmo::test::StoreIndexAndTail(image, index, !password.empty());
    return image.Close() && ok;
  }

  // Loads the image's index into the working index, lets select change the
  // selection, restores.
  bool Restore(const std::u16string& imagePath, const std::u16string& password = u"",
               const std::function<void(Index&)>& select = nullptr) {
    EXPECT_TRUE(InitCipherKey(!password.empty(), password.empty() ? nullptr : password.c_str()));
    AImageFile image(CString(imagePath), AImageFile::kRestore);
    if (!image.Open()) return false;
    if (!index.Locate(image, !password.empty())) return false;
    if (select) select(index);
    ADirectory dir(context, &progress, &image);
    bool ok = dir.Restore();
    return image.Close() && ok;
  }

  int Find(const std::u16string& name) {
    for (int n = 0; n < index.NodeCount(); ++n)
      if (ce::EqualNoCase(index.NodeName(n), name)) return n;
    return -1;
  }

  TestDevice dev;
  ALog log;
  std::vector<std::pair<int, std::u16string>> report;
  Index index;
  ACompressor compressor{1};
  AExcludeHandler exclude;
  ABackupOptionHandler backupOptions;
  ARestoreOptionHandler restoreOptions;
  bool compress = false;
  BYTE upgrade = 0;
  FileSystemContext context;
  AFileSystemComponent component{context};
  TestProgress progress;
};

// Backup then restore, byte for byte with attributes and times, for each
// combination of compression and password.
class RoundTripTest : public FileSystemComponentTest,
                      public ::testing::WithParamInterface<std::tuple<bool, bool>> {};

TEST_P(RoundTripTest, RestoresEveryFileWithAttributesAndTimes) {
  auto [compressed, password] = GetParam();
  compress = compressed;
  std::u16string pw = password ? u"s3cret" : u"";
  MakeTree();
  Snapshot before = Take(u"\\Data");
  ASSERT_EQ(before.size(), 9u);

  ASSERT_TRUE(Backup(u"\\Storage Card\\b.pbf", pw));
  int empty = Find(u"\\Data\\empty.bin");
  ASSERT_NE(empty, -1);
  EXPECT_EQ(index.NodeInfo(empty).sizeInImage, 0u);  // the entry head alone
  int big = Find(u"\\Data\\Sub\\big.bin");
  EXPECT_EQ(index.NodeInfo(big).fileSize, 300000u);
  if (compressed) {
    EXPECT_LT(index.NodeInfo(big).sizeInImage, 300000u);
  }

  DeleteTree(u"\\Data\\Deep");
  WriteFile(u"\\Data\\a.txt", "changed", 0, 900);
  SetFileAttributesW(u"\\Data\\Sub\\ro.txt", FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(u"\\Data\\empty.bin");
  WriteFile(u"\\Data\\Sub\\ro.txt", "also changed", FILE_ATTRIBUTE_READONLY);

  ASSERT_TRUE(Restore(u"\\Storage Card\\b.pbf", pw));
  Snapshot after = Take(u"\\Data");
  ASSERT_EQ(after.size(), before.size());
  for (const auto& [path, state] : before) {
    EXPECT_TRUE(after[path] == state) << ce::ToUtf8(path);
  }
  EXPECT_FALSE(Reported(kLogError, u"CRC Error"));
}

INSTANTIATE_TEST_SUITE_P(CompressionAndPassword, RoundTripTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()));

TEST_F(FileSystemComponentTest, SelectiveRestoreOfOneFolder) {
  compress = true;
  MakeTree();
  Snapshot before = Take(u"\\Data");
  ASSERT_TRUE(Backup(u"\\temp\\b.pbf"));
  WriteFile(u"\\Data\\a.txt", "kept change");
  WriteFile(u"\\Data\\Sub\\big.bin", "overwritten");
  DeleteTree(u"\\Data\\Deep");

  ASSERT_TRUE(Restore(u"\\temp\\b.pbf", u"", [&](Index& idx) {
    int fs = idx.FindChildOfType(TREE_FILESYSTEM);
    for (int c = idx.FirstChild(fs); c != -1; c = idx.NextSibling(c))
      if (!ce::EqualNoCase(idx.NodeName(c), u"\\Data")) idx.SetSelected(c, false);
    int data = Find(u"\\Data");
    for (int c = idx.FirstChild(data); c != -1; c = idx.NextSibling(c))
      if (!ce::EqualNoCase(idx.NodeName(c), u"\\Data\\Sub")) idx.SetSelected(c, false);
  }));
  Snapshot after = Take(u"\\Data");
  EXPECT_TRUE(after[u"\\DATA\\SUB\\BIG.BIN"] == before[u"\\DATA\\SUB\\BIG.BIN"]);
  EXPECT_EQ(after[u"\\DATA\\A.TXT"].bytes, "kept change");
  EXPECT_EQ(after.count(u"\\DATA\\DEEP"), 0u);
}

// Only the browser's index files take the boot-copy road before a backup;
// any other file in use is left out with a log line, not a report warning.
TEST_F(FileSystemComponentTest, FilesInUseOnBackup) {
  const std::u16string cache = u"\\Windows\\Profiles\\guest\\Temporary Internet Files";
  const std::u16string browserFile = cache + u"\\Content.IE5\\index.dat";
  SetRegString(HKEY_CURRENT_USER,
               u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", u"Cache",
               cache);
  MakeDirs(cache + u"\\Content.IE5");
  MakeDirs(u"\\Data");
  WriteFile(browserFile, "browser index", FILE_ATTRIBUTE_ARCHIVE, 10);
  WriteFile(u"\\Data\\other.db", "held by a program");
  ASSERT_NE(ce::HoldFileOpen(browserFile, GENERIC_READ | GENERIC_WRITE, 0, true), 0);
  ASSERT_NE(ce::HoldFileOpen(u"\\Data\\other.db", GENERIC_READ | GENERIC_WRITE, 0, true), 0);

  index.Reset();
  index.AddTopLevelComponents(static_cast<const IncludedKinds*>(nullptr));
  index.PopulateSelected();
  int node = Find(browserFile);
  ASSERT_NE(node, -1);
  EXPECT_EQ(index.UserData(node), 1u);
  ASSERT_TRUE(index.AddBootCopiesForBackup());
  EXPECT_TRUE(HasCopyAction(1, browserFile, browserFile + u"c"));

  // What the boot-time runner does before the backup runs.
  std::filesystem::copy_file(dev.Host(browserFile), dev.Host(browserFile + u"c"));
  ASSERT_TRUE(Backup(u"\\temp\\b.pbf"));
  node = Find(browserFile);
  ASSERT_TRUE(index.IsSelected(node));
  EXPECT_NE(index.NodeInfo(node).sizeInImage, 0u);
  EXPECT_FALSE(System::FileExists(browserFile + u"c"));  // the copy is gone again
  int other = Find(u"\\Data\\other.db");
  EXPECT_FALSE(index.IsSelected(other));
  EXPECT_TRUE(Logged("Sharing violation on \\Data\\other.db"));
  EXPECT_TRUE(Reported(kLogWarning, u"In use: \\Data\\other.db"));  // the image goes without it

  // Restore: the entry lands in the copy, which replaces the file at boot.
  ASSERT_TRUE(Restore(u"\\temp\\b.pbf"));
  EXPECT_EQ(dev.ReadFile(browserFile + u"c"), "browser index");
  ASSERT_TRUE(index.AddBootCopiesForRestore());
  EXPECT_TRUE(HasCopyAction(2, browserFile, browserFile + u"c"));
}

// Without the copy the browser file is read itself (stored under the copy's
// name); when it is locked too, the report says so.
TEST_F(FileSystemComponentTest, LockedBrowserFileWithoutCopy) {
  const std::u16string cookies = u"\\Windows\\Cookies";
  SetRegString(HKEY_CURRENT_USER,
               u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", u"Cookies",
               cookies);
  MakeDirs(cookies);
  WriteFile(cookies + u"\\index.dat", "cookie index");
  ASSERT_TRUE(Backup(u"\\temp\\b.pbf"));
  int node = Find(cookies + u"\\index.dat");
  EXPECT_TRUE(index.IsSelected(node));
  DeleteFileW((cookies + u"\\index.dat").c_str());
  ASSERT_TRUE(Restore(u"\\temp\\b.pbf"));
  EXPECT_EQ(dev.ReadFile(cookies + u"\\index.datc"), "cookie index");

  // Put back, held open, no copy: left out with a warning in the report.
  ASSERT_TRUE(MoveFileW((cookies + u"\\index.datc").c_str(), (cookies + u"\\index.dat").c_str()));
  ASSERT_NE(ce::HoldFileOpen(cookies + u"\\index.dat", GENERIC_READ, 0, true), 0);
  ASSERT_TRUE(Backup(u"\\temp\\c.pbf"));
  EXPECT_TRUE(Reported(kLogWarning, u"In use: " + cookies + u"\\index.dat"));
  EXPECT_FALSE(index.IsSelected(Find(cookies + u"\\index.dat")));
}

// A restore target that a program holds is written to its boot-time copy
// and the replacement is queued.
TEST_F(FileSystemComponentTest, LockedTargetOnRestoreTakesTheBootCopyRoad) {
  MakeDirs(u"\\Data");
  WriteFile(u"\\Data\\locked.txt", "image content", FILE_ATTRIBUTE_ARCHIVE, 77);
  ASSERT_TRUE(Backup(u"\\temp\\b.pbf"));
  WriteFile(u"\\Data\\locked.txt", "device content");
  ASSERT_NE(ce::HoldFileOpen(u"\\Data\\locked.txt", GENERIC_READ, 0, true), 0);
  ASSERT_TRUE(Restore(u"\\temp\\b.pbf"));
  EXPECT_EQ(dev.ReadFile(u"\\Data\\locked.txt"), "device content");
  EXPECT_EQ(dev.ReadFile(u"\\Data\\locked.txtc"), "image content");
  EXPECT_TRUE(GetFileAttributesW(u"\\Data\\locked.txtc") & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(HasCopyAction(2, u"\\Data\\locked.txt", u"\\Data\\locked.txtc"));
}

// Restored content is written beside the file: names at the length limit
// still find a place, a read-only file is replaced, and nothing stays
// beside the files afterwards.
TEST_F(FileSystemComponentTest, ReplacedFilesLeaveNothingBeside) {
  MakeDirs(u"\\Data");
  const std::u16string longName = u"\\Data\\" + std::u16string(259 - 6, u'n');
  const std::u16string longFolder = u"\\" + std::u16string(255, u'd');
  const std::u16string shortInLong = longFolder + u"\\ab";
  MakeDirs(longFolder);
  WriteFile(longName, "long name");
  WriteFile(shortInLong, "short name, long folder");
  WriteFile(u"\\Data\\ro.txt", "image content", FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(Backup(u"\\temp\\b.pbf"));
  WriteFile(longName, "changed");
  WriteFile(shortInLong, "changed");
  WriteFile(u"\\Data\\ro.txt", "device content", FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(Restore(u"\\temp\\b.pbf"));
  EXPECT_EQ(dev.ReadFile(longName), "long name");
  EXPECT_EQ(dev.ReadFile(shortInLong), "short name, long folder");
  EXPECT_EQ(dev.ReadFile(u"\\Data\\ro.txt"), "image content");
  EXPECT_EQ(GetFileAttributesW(u"\\Data\\ro.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  for (const std::u16string& folder : {std::u16string(u"\\Data"), longFolder, std::u16string(u"\\")}) {
    for (const auto& entry : std::filesystem::directory_iterator(dev.Host(folder)))
      EXPECT_EQ(entry.path().filename().string().find("~qr"), std::string::npos) << entry.path();
  }
}

// A restore that a reset cut short leaves its staging file beside the
// file; the next restore of that file takes it away.
TEST_F(FileSystemComponentTest, AStagingFileACutShortRestoreLeftGoesWithTheNextRestore) {
  MakeDirs(u"\\Data");
  WriteFile(u"\\Data\\doc.txt", "image content");
  ASSERT_TRUE(Backup(u"\\temp\\b.pbf"));
  WriteFile(u"\\Data\\doc.txt", "device content");
  WriteFile(u"\\Data\\doc.txt~qr", "half of a restored copy");
  ASSERT_TRUE(Restore(u"\\temp\\b.pbf"));
  EXPECT_EQ(dev.ReadFile(u"\\Data\\doc.txt"), "image content");
  for (const auto& entry : std::filesystem::directory_iterator(dev.Host(u"\\Data")))
    EXPECT_EQ(entry.path().filename().string().find("~qr"), std::string::npos) << entry.path();
}

TEST_F(FileSystemComponentTest, RomFilesAreSkippedExceptTheWaterBitmap) {
  ASSERT_TRUE(Backup(u"\\temp\\b.pbf"));
  EXPECT_EQ(Find(u"\\Windows\\rom.dll"), -1);
  int water = Find(u"\\Windows\\stwater.gif");
  ASSERT_NE(water, -1);
  EXPECT_TRUE(index.IsSelected(water));
  EXPECT_FALSE(Logged("Excluded \\Windows\\rom.dll"));
}

// The destructive restore clears the device first, but keeps the log, the
// program, the image being read, ROM files and (options 6 and 9) the card.
TEST_F(FileSystemComponentTest, DestructiveRestoreKeepsWhatItMust) {
  MakeTree();
  dev.PutFile(u"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe", "program");
  dev.PutFile(u"\\Storage Card\\photo.jpg", "card data");
  ASSERT_TRUE(Backup(u"\\Storage Card\\b.pbf"));
  Snapshot before = Take(u"\\Data");

  WriteFile(u"\\Data\\added.txt", "not in the image");
  MakeDirs(u"\\New\\Folder");
  WriteFile(u"\\New\\Folder\\n.txt", "new");
  dev.PutFile(u"\\Storage Card\\photo2.jpg", "card data 2");
  DeleteFileW(u"\\Data\\a.txt");
  restoreOptions.SetNonDestructiveRestoreFlag(false);

  ASSERT_TRUE(Restore(u"\\Storage Card\\b.pbf"));
  EXPECT_TRUE(Logged("DeleteContents() finished ok"));
  EXPECT_TRUE(Take(u"\\Data") == before);
  EXPECT_FALSE(System::FileExists(u"\\New"));
  EXPECT_TRUE(System::FileExists(u"\\temp\\BackupLog.txt"));
  EXPECT_TRUE(System::FileExists(u"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe"));
  EXPECT_TRUE(System::FileExists(u"\\Windows\\rom.dll"));
  EXPECT_TRUE(System::FileExists(u"\\Windows\\QuilmoRes.dll"));
  EXPECT_TRUE(System::FileExists(u"\\Storage Card\\b.pbf"));
  EXPECT_TRUE(System::FileExists(u"\\Storage Card\\photo2.jpg"));

  // With the card part of the backup (option 6 off) its other files go;
  // the image being read stays.
  backupOptions.SetOptionOn(kOptionExcludeCards, false);
  ASSERT_TRUE(Restore(u"\\Storage Card\\b.pbf"));
  EXPECT_FALSE(System::FileExists(u"\\Storage Card\\photo2.jpg"));
  EXPECT_TRUE(System::FileExists(u"\\Storage Card\\b.pbf"));
  EXPECT_TRUE(System::FileExists(u"\\Storage Card"));
}

TEST_F(FileSystemComponentTest, NonDestructiveRestoreDeletesNothing) {
  MakeTree();
  ASSERT_TRUE(Backup(u"\\temp\\b.pbf"));
  WriteFile(u"\\Data\\added.txt", "stays");
  ASSERT_TRUE(Restore(u"\\temp\\b.pbf"));
  EXPECT_EQ(dev.ReadFile(u"\\Data\\added.txt"), "stays");
  EXPECT_FALSE(Logged("DeleteContents()"));
}

// Start Menu files that the image does not hold are removed, but only when
// the image brought at least one Start Menu file back.
TEST_F(FileSystemComponentTest, StartMenuFollowsTheImage) {
  MakeDirs(u"\\Windows\\Start Menu\\Programs");
  WriteFile(u"\\Windows\\Start Menu\\Programs\\a.lnk", "12#\\Windows\\a.exe");
  ASSERT_TRUE(Backup(u"\\temp\\b.pbf"));
  MakeDirs(u"\\Windows\\Start Menu\\Programs\\Games");
  WriteFile(u"\\Windows\\Start Menu\\Programs\\Games\\new.lnk", "14#\\Windows\\new.exe");

  // The Start Menu left out of the restore: nothing is removed.
  ASSERT_TRUE(Restore(u"\\temp\\b.pbf", u"",
                      [&](Index& idx) { idx.SetSelected(Find(u"\\Windows\\Start Menu"), false); }));
  EXPECT_TRUE(System::FileExists(u"\\Windows\\Start Menu\\Programs\\Games\\new.lnk"));

  ASSERT_TRUE(Restore(u"\\temp\\b.pbf"));
  EXPECT_FALSE(System::FileExists(u"\\Windows\\Start Menu\\Programs\\Games\\new.lnk"));
  EXPECT_FALSE(System::FileExists(u"\\Windows\\Start Menu\\Programs\\Games"));
  EXPECT_TRUE(System::FileExists(u"\\Windows\\Start Menu\\Programs\\a.lnk"));
}

// An upgrade restore keeps every existing file and removes shortcuts whose
// program is missing.
TEST_F(FileSystemComponentTest, UpgradeRestoreKeepsDeviceFilesAndFixesLinks) {
  MakeTree();
  MakeDirs(u"\\Windows\\StartUp");
  dev.PutFile(u"\\Windows\\there.exe", "program");
  WriteFile(u"\\Windows\\StartUp\\good.lnk", "18#\"\\Windows\\there.exe\" /x");
  WriteFile(u"\\Windows\\StartUp\\bad.lnk", "18#\"\\Windows\\gone.exe\" /x");
  WriteFile(u"\\Windows\\StartUp\\other.lnk", "5#calc");
  ASSERT_TRUE(Backup(u"\\temp\\b.pbf"));
  WriteFile(u"\\Data\\a.txt", "device version");
  DeleteFileW(u"\\Data\\Sub\\big.bin");
  restoreOptions.SetNewDeviceRestoreFlag(true);

  ASSERT_TRUE(Restore(u"\\temp\\b.pbf"));
  EXPECT_EQ(upgrade, 1);
  EXPECT_EQ(dev.ReadFile(u"\\Data\\a.txt"), "device version");
  EXPECT_EQ(ReadDeviceFile(u"\\Data\\Sub\\big.bin"), Pattern(300000, 7));
  EXPECT_TRUE(System::FileExists(u"\\Windows\\StartUp\\good.lnk"));
  EXPECT_TRUE(System::FileExists(u"\\Windows\\StartUp\\other.lnk"));
  EXPECT_FALSE(System::FileExists(u"\\Windows\\StartUp\\bad.lnk"));

  // Destructive, the device is cleared first: nothing of it is there to
  // keep, so the image's content comes back.
  restoreOptions.SetNonDestructiveRestoreFlag(false);
  ASSERT_TRUE(Restore(u"\\temp\\b.pbf"));
  EXPECT_EQ(dev.ReadFile(u"\\Data\\a.txt"), "alpha text");
}

// Damaged data is found by the entry CRC; the restore goes on.
TEST_F(FileSystemComponentTest, DamagedDataIsReportedByCrc) {
  MakeDirs(u"\\Data");
  WriteFile(u"\\Data\\a.txt", std::string(5000, 'a'));
  WriteFile(u"\\Data\\b.txt", "bee");
  ASSERT_TRUE(Backup(u"\\temp\\b.pbf"));
  DWORD offset = index.NodeInfo(Find(u"\\Data\\a.txt")).fileOffset;
  std::string image = dev.ReadFile(u"\\temp\\b.pbf");
  image[offset + 80 + 24 + 40 + 100] ^= 0x5A;  // a data byte of a.txt
  dev.PutFile(u"\\temp\\b.pbf", image);
  DeleteTree(u"\\Data");

  ASSERT_TRUE(Restore(u"\\temp\\b.pbf"));
  EXPECT_TRUE(Reported(kLogError, u"CRC Error for \\Data\\a.txt"));
  EXPECT_EQ(dev.ReadFile(u"\\Data\\b.txt"), "bee");
}

// A file that grew after the walk is stored whole and corrects the estimate.
TEST_F(FileSystemComponentTest, GrownFileCorrectsTheEstimate) {
  MakeDirs(u"\\Data");
  WriteFile(u"\\Data\\grow.txt", "1234");
  index.Reset();
  index.AddTopLevelComponents(static_cast<const IncludedKinds*>(nullptr));
  index.PopulateSelected();
  int node = Find(u"\\Data\\grow.txt");
  EXPECT_EQ(component.ImageSize(index, node), 4u + 2 * 14 + 122);
  progress.record.estimatedTotal = 1000;
  WriteFile(u"\\Data\\grow.txt", "1234567890");

  AImageFile image(u"\\temp\\b.pbf", AImageFile::kBackup);
  ASSERT_TRUE(image.Open());
  ADirectory dir(context, &progress, &image);
  ASSERT_TRUE(dir.BackupFile(node));
  EXPECT_TRUE(image.Close());
  EXPECT_EQ(progress.record.estimatedTotal, 1006u);
  EXPECT_EQ(index.NodeInfo(node).fileSize, 10u);
  EXPECT_EQ(index.NodeInfo(node).sizeInImage, 10u);
  EXPECT_TRUE(Logged("\\Data\\grow.txt increased in size by 6"));
}

// The walk leaves out what other components store and what the exclusion
// tests refuse, and deselects what the user list names.
TEST_F(FileSystemComponentTest, WalkLeavesOutOtherComponentsFiles) {
  MakeDirs(u"\\Windows\\Messaging");
  MakeDirs(u"\\Music");
  WriteFile(u"\\cemail.vol", "mail");
  WriteFile(u"\\pim.vol", "pim");
  WriteFile(u"\\temp\\HKLM.img", "hive");
  WriteFile(u"\\Music\\song.mp3", "la");
  WriteFile(u"\\temp\\old.pbf", "image");
  exclude.GetExclusionList().Add(u"\\Music");
  index.Reset();
  index.AddTopLevelComponents(static_cast<const IncludedKinds*>(nullptr));
  index.PopulateSelected();
  for (auto name : {u"\\Windows\\Messaging", u"\\cemail.vol", u"\\pim.vol", u"\\temp\\HKLM.img",
                    u"\\temp\\BackupLog.txt"})
    EXPECT_EQ(Find(name), -1) << ce::ToUtf8(name);
  EXPECT_FALSE(index.IsSelected(Find(u"\\Music")));
  EXPECT_FALSE(index.IsSelected(Find(u"\\temp\\old.pbf")));
  EXPECT_TRUE(Logged("Deselected \\Music"));
  EXPECT_TRUE(Logged("Excluded \\cemail.vol"));
}

}  // namespace
