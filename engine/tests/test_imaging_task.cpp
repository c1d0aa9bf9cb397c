// The imaging task's roads end to end: the sample device backed up to a
// storage card with compression and a password, changed, restored whole
// and by one folder; the backup failure kinds provoked for real (disk
// full, card removed, image not opened, cancel); a wrong password and a
// damaged image refused before anything on the device changes; damage only
// an entry's own check finds, which leaves the device's file as it was; a
// file the backup cannot read. Expected kinds, texts and sizes are the
// documented values, not the code's constants.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/text.h"
#include "cesim/device.h"
#include "cesim/file.h"
#include "core/Log.h"
#include "core/Resources.h"
#include "engine/FileSystemComponent.h"
#include "engine/Global.h"
#include "engine/ImagingTask.h"
#include "engine/TaskReport.h"
#include "image/Cipher.h"
#include "image/ImageEntryHeader.h"
#include "image/ImageFile.h"
#include "image/Index.h"
#include "engine/tests/image_damage_util.h"
#include "testkit/ResourceLibrary.h"
#include "testkit/TaskSetup.h"
#include "testkit/TestDevice.h"

namespace {

namespace fs = std::filesystem;
using quilmo::test::EntryPlace;
using quilmo::test::FlipImageByte;
using quilmo::test::PlaceOf;
using quilmo::test::ReadDeviceFile;
using quilmo::test::TestDevice;
using quilmo::test::WriteDeviceFile;

const IncludedKinds kFileSystem{true, false, false, false};
const CString kCardImage = u"\\Storage Card\\Sample Backup.pbf";
// String 130 of the resource library.
constexpr const char16_t* kLocationMissingText =
    u"The backup file or its folder could not be found. If it is on a storage card, check that the card is "
    u"inserted.";
const CString kPassword = u"Secret#1";

// Levels of the task report's items.
constexpr int kReportWarning = 1;
constexpr int kReportError = 2;

// Progress that counts and can act on each update (a cancel, as the
// progress window's Cancel button would).
class TestProgress : public ITaskProgress {
 public:
  TestProgress() : ITaskProgress(&record) {}
  void UpdateProgress(bool) override {
    ++updates;
    if (onUpdate) onUpdate(*this);
  }
  TaskProgressRecord record;
  int updates = 0;
  std::function<void(TestProgress&)> onUpdate;
};

// Device file access through the host side: reading never touches the
// device's own bookkeeping (access times).
fs::path HostPath(const std::u16string& devicePath) {
  ce::ResolvedPath r;
  EXPECT_TRUE(ce::Device::Current()->Resolve(devicePath, &r));
  return r.host;
}
std::string HostRead(const std::u16string& devicePath) {
  std::ifstream f(HostPath(devicePath), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

bool DeleteDeviceFile(const std::u16string& path) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(path.c_str());
}
bool DeviceFileExists(const CString& path) { return GetFileAttributesW(path.GetString()) != INVALID_FILE_ATTRIBUTES; }

struct FileState {
  DWORD attributes = 0;
  FILETIME created{}, accessed{}, written{};
  std::string bytes;
};
bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}
bool operator==(const FileState& a, const FileState& b) {
  return a.attributes == b.attributes && a.bytes == b.bytes && SameTime(a.created, b.created) &&
         SameTime(a.accessed, b.accessed) && SameTime(a.written, b.written);
}
using Snapshot = std::map<std::u16string, FileState>;

// Every file below folder except the storage card's.
void Take(const std::u16string& folder, Snapshot& out) {
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW((folder + u"\\*").c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return;
  std::vector<WIN32_FIND_DATAW> entries;
  do entries.push_back(fd);
  while (FindNextFileW(find, &fd));
  FindClose(find);
  for (const WIN32_FIND_DATAW& e : entries) {
    std::u16string path = folder + u"\\" + e.cFileName;
    if (e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!ce::EqualNoCase(path, u"\\Storage Card")) Take(path, out);
      continue;
    }
    out[path] = FileState{e.dwFileAttributes, e.ftCreationTime, e.ftLastAccessTime, e.ftLastWriteTime,
                          HostRead(path)};
  }
}
Snapshot TakeSnapshot() {
  Snapshot s;
  Take(u"", s);
  return s;
}

// Lists which paths of `before` differ in `after` (missing or changed).
std::vector<std::u16string> Differences(const Snapshot& before, const Snapshot& after) {
  std::vector<std::u16string> out;
  for (const auto& [path, state] : before) {
    auto it = after.find(path);
    if (it == after.end() || !(it->second == state)) out.push_back(path);
  }
  return out;
}
std::string Utf8(const std::vector<std::u16string>& paths) {
  std::string s;
  for (const auto& p : paths) s += ce::ToUtf8(p) + "\n";
  return s;
}

// The sample device of the device tool, laid out in a scratch folder.
class SampleDevice {
 public:
  SampleDevice() {
    dir_ = fs::temp_directory_path() / ("quilmo-roads-" + std::to_string(getpid()) + "-" +
                                        std::to_string(std::random_device{}()));
    std::string command = std::string(QUILMO_BIN_DIR) + "/cedev create '" + dir_.string() + "' > /dev/null";
    ok_ = std::system(command.c_str()) == 0 && ce::Device::Use(dir_) != nullptr;
  }
  ~SampleDevice() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  bool ok() const { return ok_; }

 private:
  fs::path dir_;
  bool ok_ = false;
};

// The program's state over the current device: the global state object
// with its log started, the file-system component registered with the
// working index and the product's resource library loaded.
class Roads {
 public:
  Roads() : context_(MakeFileSystemContext(g)), fileSystem_(context_) {
    g.g_Log.Open(false);
    fileSystem_.Register();
    quilmo::test::LoadBuiltResourceLibrary();
  }
  ~Roads() { UnloadResourceLibraries(true); }

  // What the backup pages and the operation do before the task runs.
  void PrepareBackup(const CString& image, bool compress, const CString& password) {
    g.g_BackupOptions.SetCompression(compress);
    quilmo::test::PrepareBackupOperation(g, kFileSystem, image, password);
  }
  bool Backup(TestProgress& progress, int* kind = nullptr, CString* text = nullptr) {
    AImagingTaskClient task(g.g_Operation, &progress);
    if (cancelHook) progress.onUpdate = [&](TestProgress& p) { cancelHook(p, task); };
    bool ok = task.Run();
    progress.onUpdate = nullptr;
    if (kind) *kind = task.GetFailureKind();
    if (text) *text = task.GetFailureText();
    crcChecked = task.CrcChecked();
    KeepReport();
    return ok;
  }

  // What the restore pages do: key the cipher with the password given,
  // load the image's index, then select.
  void PrepareRestore(const CString& image, const CString& password) {
    ASSERT_TRUE(quilmo::test::PrepareRestoreOperation(g, kFileSystem, image, password));
  }
  bool Restore(TestProgress& progress, int* kind = nullptr, CString* text = nullptr) {
    AImagingTaskClient task(g.g_Operation, &progress);
    bool ok = task.Run();
    if (kind) *kind = task.GetFailureKind();
    if (text) *text = task.GetFailureText();
    KeepReport();
    return ok;
  }

  // The task report of the last run (the task clears it when it goes).
  void KeepReport() {
    report.clear();
    TaskReportItem item;
    for (int i = 0; i < g.g_TaskReport.GetCount(); ++i)
      if (g.g_TaskReport.GetItem(item, i)) report.push_back(item);
  }
  // The worst item of the last run's report: -1 none, 0 information,
  // 1 warning, 2 error.
  int WorstReported() const {
    int worst = -1;
    for (const TaskReportItem& item : report) worst = std::max(worst, static_cast<int>(item.type));
    return worst;
  }
  bool Reported(DWORD type, std::u16string_view text) const {
    return std::any_of(report.begin(), report.end(), [&](const TaskReportItem& item) {
      return item.type == type && std::u16string_view(item.text).find(text) != std::u16string_view::npos;
    });
  }
  std::string ReportText() const {
    std::string out;
    for (const TaskReportItem& item : report)
      out += std::to_string(item.type) + " " + ce::ToUtf8(std::u16string_view(item.text)) + "\n";
    return out;
  }

  // Keeps the path from the file-system node to folder and folder's
  // subtree selected; deselects everything else below the node.
  void SelectOnly(const std::u16string& folder) {
    Index& index = g.g_WorkingIndex;
    int top = index.FindChildOfType(TREE_FILESYSTEM);
    ASSERT_GE(top, 0);
    std::function<bool(int)> walk = [&](int n) {
      bool keep = false;
      for (int c = index.FirstChild(n); c >= 0; c = index.NextSibling(c)) {
        std::u16string name = index.NodeName(c);
        bool inside = ce::EqualNoCase(name, folder) ||
                      (name.size() > folder.size() && ce::EqualNoCase(name.substr(0, folder.size() + 1), folder + u"\\"));
        bool above = folder.size() > name.size() && ce::EqualNoCase(folder.substr(0, name.size() + 1), name + u"\\");
        bool kept = inside || (above && walk(c));
        if (!kept) index.SetSelected(c, false);
        keep = keep || kept;
      }
      return keep;
    };
    walk(top);
  }

  // The selected file entries of the working index (device paths).
  std::set<std::u16string> SelectedFiles() {
    Index& index = g.g_WorkingIndex;
    std::set<std::u16string> out;
    int top = index.FindChildOfType(TREE_FILESYSTEM);
    for (int n = index.NextInSubtree(top, top); n >= 0; n = index.NextInSubtree(top, n))
      if (index.NodeType(n) == FILE_ENTRY) out.insert(index.NodeName(n));
    return out;
  }

  AGlobal g;
  std::vector<TaskReportItem> report;
  std::function<void(TestProgress&, AImagingTaskClient&)> cancelHook;
  bool crcChecked = false;

 private:
  FileSystemContext context_;
  AFileSystemComponent fileSystem_;
};

// A small device with a storage card: a few folders of text and noise.
ce::Profile CardProfile(ULONGLONG cardBytes = 0) {
  ce::Profile p;
  p.cards = {u"Storage Card"};
  if (cardBytes) p.capacities = {{u"\\Storage Card", cardBytes}};
  return p;
}
// dataBytes: the size of every file written.
void FillSmallDevice(ULONGLONG* dataBytes = nullptr) {
  std::mt19937 rng(7);
  if (dataBytes) *dataBytes = 0;
  const char16_t* folders[] = {u"\\My Documents", u"\\My Documents\\Work", u"\\Data"};
  for (auto* f : folders) ASSERT_TRUE(CreateDirectoryW(f, nullptr));
  for (int i = 0; i < 30; ++i) {
    std::string bytes;
    size_t size = 500 + rng() % 20000;
    for (size_t k = 0; k < size; ++k) bytes += (i % 3 == 0) ? static_cast<char>(rng()) : "lorem ipsum "[k % 12];
    std::u16string path = std::u16string(folders[i % 3]) + u"\\file" + ce::FromUtf8(std::to_string(i)) + u".txt";
    ASSERT_TRUE(WriteDeviceFile(path, bytes));
    if (dataBytes) *dataBytes += bytes.size();
  }
  std::string large(600000, '\0');
  for (auto& c : large) c = static_cast<char>(rng() % 7);
  ASSERT_TRUE(WriteDeviceFile(u"\\Data\\large.bin", large));
  if (dataBytes) *dataBytes += large.size();
}

// The whole road -------------------------------------------------------------

TEST(ImagingTask, SampleDeviceBackupChangeRestoreWholeAndOneFolder) {
  SampleDevice device;
  ASSERT_TRUE(device.ok()) << "cedev create failed";
  Roads roads;
  const Snapshot original = TakeSnapshot();
  ASSERT_GT(original.size(), 200u);

  // Backup with compression and a password onto the card.
  roads.PrepareBackup(kCardImage, true, kPassword);
  TestProgress progress;
  int kind = -1;
  CString text;
  ASSERT_TRUE(roads.Backup(progress, &kind, &text)) << ce::ToUtf8(text.view());
  EXPECT_TRUE(roads.crcChecked);
  EXPECT_TRUE(AImageFile::IsBackupFile(kCardImage));
  EXPECT_EQ(progress.GetPhase(), 1);
  EXPECT_EQ(progress.record.estimatedTotal, progress.record.bytesWritten);
  const std::set<std::u16string> inImage = roads.SelectedFiles();
  ASSERT_GT(inImage.size(), 150u);
  EXPECT_TRUE(inImage.count(u"\\My Documents\\empty.txt"));
  EXPECT_FALSE(inImage.count(u"\\Windows\\coredll.dll"));  // ROM

  // Change, delete and add files; remove a whole folder.
  std::vector<std::u16string> files(inImage.begin(), inImage.end());
  std::vector<std::u16string> changed, deleted;
  for (size_t i = 0; i < files.size(); i += 17) changed.push_back(files[i]);
  for (size_t i = 5; i < files.size(); i += 23) deleted.push_back(files[i]);
  for (const auto& p : changed) ASSERT_TRUE(WriteDeviceFile(p, "changed " + ce::ToUtf8(p))) << ce::ToUtf8(p);
  for (const auto& p : deleted) DeleteDeviceFile(p);
  for (const auto& p : original)
    if (p.first.starts_with(u"\\My Documents\\Templates\\")) DeleteDeviceFile(p.first);
  ASSERT_TRUE(RemoveDirectoryW(u"\\My Documents\\Templates"));
  ASSERT_TRUE(WriteDeviceFile(u"\\My Documents\\added after backup.txt", "new"));
  ASSERT_TRUE(WriteDeviceFile(u"\\Program Files\\added.dat", std::string(70000, 'a')));
  ASSERT_FALSE(Differences(original, TakeSnapshot()).empty());

  // Whole restore (non-destructive): every original file is back as it
  // was; what was added stays.
  roads.PrepareRestore(kCardImage, kPassword);
  TestProgress restoreProgress;
  ASSERT_TRUE(roads.Restore(restoreProgress, &kind, &text)) << ce::ToUtf8(text.view());
  Snapshot after = TakeSnapshot();
  EXPECT_EQ(Differences(original, after), std::vector<std::u16string>{}) << Utf8(Differences(original, after));
  EXPECT_EQ(after.size(), original.size() + 2);
  EXPECT_TRUE(after.count(u"\\My Documents\\added after backup.txt"));
  EXPECT_EQ(restoreProgress.GetPhase(), 3);

  // Selective restore of one folder: only its files come back.
  const std::u16string personal = u"\\My Documents\\Personal";
  std::u16string inside, outside;
  for (const auto& p : inImage) {
    if (inside.empty() && p.starts_with(personal + u"\\")) inside = p;
    if (outside.empty() && p.starts_with(u"\\My Documents\\Business\\")) outside = p;
  }
  ASSERT_FALSE(inside.empty());
  ASSERT_FALSE(outside.empty());
  ASSERT_TRUE(WriteDeviceFile(inside, "changed again"));
  ASSERT_TRUE(WriteDeviceFile(outside, "changed outside"));
  roads.PrepareRestore(kCardImage, kPassword);
  roads.SelectOnly(personal);
  ASSERT_TRUE(roads.Restore(restoreProgress, &kind, &text)) << ce::ToUtf8(text.view());
  after = TakeSnapshot();
  EXPECT_TRUE(after[inside] == original.at(inside));
  EXPECT_EQ(after[outside].bytes, "changed outside");
}

TEST(ImagingTask, BackupWithNothingIncludedHoldsMetadataIndexAndTail) {
  TestDevice dev(CardProfile());
  FillSmallDevice();
  Roads roads;
  roads.PrepareBackup(kCardImage, false, CString());
  roads.g.g_Operation.includeFileSystem = 0;
  roads.g.g_WorkingIndex.SetSelected(roads.g.g_WorkingIndex.FindChildOfType(TREE_FILESYSTEM), false);
  TestProgress progress;
  ASSERT_TRUE(roads.Backup(progress));
  // Metadata, an index of the root alone (80 + 72 + end byte), the tail
  // whose fixed part is the index body's length.
  constexpr DWORD kIndexBody = 72 + 1;
  EXPECT_EQ(fs::file_size(HostPath(kCardImage.str())), 80 + 1528 + 80 + kIndexBody + 80);
  AImageFile image(kCardImage, AImageFile::kRestore);
  ASSERT_TRUE(image.Open());
  AImageFileHeader header;
  ASSERT_TRUE(image.SetFilePointer(80 + 1528, FILE_BEGIN));
  ASSERT_TRUE(header.ReadDeciphered(image));
  EXPECT_EQ(header.ComponentType(), static_cast<DWORD>(INDEX_ENTRY));
  ASSERT_TRUE(image.SetFilePointer(-80, FILE_END));
  ASSERT_TRUE(header.ReadPlain(image));
  EXPECT_EQ(header.ComponentType(), static_cast<DWORD>(END_OF_IMAGE));
  EXPECT_EQ(header.FixedPartSize(), kIndexBody);
  EXPECT_TRUE(image.Close());
}

TEST(ImagingTask, DispatchMetadataOnlyAndCheckMetaData) {
  TestDevice dev(CardProfile());
  Roads roads;
  OperationDescriptor& d = roads.g.g_Operation;
  TestProgress progress;
  d.operationKind = kOperationNotSet;
  d.imagePath.Set(kCardImage, false);
  EXPECT_FALSE(AImagingTaskClient(d, &progress).Run());
  EXPECT_FALSE(DeviceFileExists(kCardImage));

  // Kind 4 writes the metadata entry alone.
  d.operationKind = kOperationMetadata;
  d.imagePath.Set(kCardImage, false);
  d.includeFileSystem = 1;
  d.includeRegistry = 1;
  EXPECT_TRUE(AImagingTaskClient(d, &progress).Run());
  EXPECT_EQ(fs::file_size(HostPath(kCardImage.str())), 80u + 1528u);

  // The image's metadata against this device: equal, then another build;
  // the descriptor takes the image's parts.
  d = OperationDescriptor();
  d.operationKind = kOperationRestore;
  d.imagePath.Set(kCardImage, false);
  {
    AImagingTaskClient task(d, &progress);
    EXPECT_EQ(task.CheckMetaData(), 0u);
  }
  EXPECT_EQ(d.includeFileSystem, 1);
  EXPECT_EQ(d.includeRegistry, 1);
  EXPECT_EQ(d.includeMail, 0);
  ce::Profile p = CardProfile();
  p.buildNumber += 1;
  ASSERT_TRUE(ce::Device::Current()->SaveProfile(p));
  d.imagePath.Set(kCardImage, false);
  AImagingTaskClient task(d, &progress);
  EXPECT_EQ(task.CheckMetaData(), 0x08u);  // the build number differs
}

// Backup failure kinds ---------------------------------------------------------

TEST(ImagingTask, NotEnoughSpaceOnTheCardIsKind2AndCompressionCountsSixTenths) {
  TestDevice dev(CardProfile(96 * 1024));
  ULONGLONG dataBytes = 0;
  FillSmallDevice(&dataBytes);
  Roads roads;
  roads.PrepareBackup(kCardImage, false, CString());
  TestProgress progress;
  int kind = -1;
  CString text;
  EXPECT_FALSE(roads.Backup(progress, &kind, &text));
  EXPECT_EQ(kind, 2);
  const std::u16string message = text.str();
  EXPECT_TRUE(message.starts_with(
      u"There is not enough free space in \\Storage Card for the backup. Estimated size: "))
      << ce::ToUtf8(message);
  EXPECT_TRUE(message.ends_with(u" KB, free space: 96 KB.")) << ce::ToUtf8(message);
  EXPECT_FALSE(DeviceFileExists(kCardImage));

  // The estimate is the files' data and a little more (names, folders,
  // metadata, index): a card that holds 0.8 of the data takes 0.6 of the
  // estimate but not all of it, so only a compressed backup goes ahead.
  ce::Profile p = CardProfile(dataBytes * 8 / 10);
  ASSERT_TRUE(ce::Device::Current()->SaveProfile(p));
  roads.PrepareBackup(kCardImage, false, CString());
  EXPECT_FALSE(roads.Backup(progress, &kind));
  EXPECT_EQ(kind, 2);
  roads.PrepareBackup(kCardImage, true, CString());
  EXPECT_TRUE(roads.Backup(progress, &kind, &text)) << ce::ToUtf8(text.view());
}

TEST(ImagingTask, RemovedCardIsKind4) {
  TestDevice dev(CardProfile());
  FillSmallDevice();
  Roads roads;
  roads.PrepareBackup(kCardImage, true, CString());
  ASSERT_TRUE(ce::RemoveStorageCard(u"Storage Card"));
  TestProgress progress;
  int kind = -1;
  CString text;
  EXPECT_FALSE(roads.Backup(progress, &kind, &text));
  EXPECT_EQ(kind, 4);
  EXPECT_EQ(text, CString(kLocationMissingText));
  ASSERT_TRUE(ce::InsertStorageCard(u"Storage Card"));
  EXPECT_FALSE(DeviceFileExists(kCardImage));
}

TEST(ImagingTask, ImageThatCannotBeOpenedIsKind6AndStaysUntouched) {
  TestDevice dev(CardProfile());
  FillSmallDevice();
  ASSERT_TRUE(WriteDeviceFile(kCardImage.str(), "an older image"));
  ASSERT_NE(ce::HoldFileOpen(kCardImage.view(), GENERIC_READ, 0), 0);
  Roads roads;
  roads.PrepareBackup(kCardImage, true, CString());
  TestProgress progress;
  int kind = -1;
  CString text;
  EXPECT_FALSE(roads.Backup(progress, &kind, &text));
  EXPECT_EQ(kind, 6);
  EXPECT_EQ(text, CString(u"m_ImageFile.Open() failed"));
  EXPECT_EQ(HostRead(kCardImage.str()), "an older image");
}

TEST(ImagingTask, CancelIsKind7AndLeavesNoImage) {
  TestDevice dev(CardProfile());
  FillSmallDevice();
  Roads roads;
  for (int cancelAt : {1, 6}) {  // before the metadata, inside the file system
    roads.PrepareBackup(kCardImage, true, kPassword);
    roads.cancelHook = [cancelAt](TestProgress& p, AImagingTaskClient& task) {
      if (p.updates == cancelAt) task.Cancel();
    };
    TestProgress progress;
    int kind = -1;
    CString text(u"unset");
    EXPECT_FALSE(roads.Backup(progress, &kind, &text)) << cancelAt;
    EXPECT_EQ(kind, 7) << cancelAt;
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_EQ(progress.GetFlag(), 0);
    EXPECT_EQ(progress.GetPhase(), cancelAt == 1 ? 0 : 1) << cancelAt;
    EXPECT_FALSE(DeviceFileExists(kCardImage)) << cancelAt;
  }
}

// Restore refusals -------------------------------------------------------------

class RestoreRefusal : public ::testing::Test {
 protected:
  void SetUp() override {
    FillSmallDevice();
    roads.PrepareBackup(kCardImage, true, kPassword);
    TestProgress progress;
    ASSERT_TRUE(roads.Backup(progress));
    ASSERT_TRUE(WriteDeviceFile(u"\\Data\\file2.txt", "changed since the backup"));
    ASSERT_TRUE(WriteDeviceFile(u"\\Data\\new.txt", "not in the image"));
    before = TakeSnapshot();
    // A destructive restore would clear the device first.
    roads.g.g_RestoreOptions.SetNonDestructiveRestoreFlag(false);
  }
  void ExpectDeviceUnchanged() {
    Snapshot now = TakeSnapshot();
    EXPECT_EQ(Differences(before, now), std::vector<std::u16string>{}) << Utf8(Differences(before, now));
    EXPECT_EQ(now.size(), before.size());
  }

  TestDevice dev{CardProfile()};
  Roads roads;
  Snapshot before;
};

TEST_F(RestoreRefusal, WrongPasswordBeforeAnyFileChanges) {
  roads.PrepareRestore(kCardImage, kPassword);  // the index was read with the right key
  roads.g.SetTaskPassword(u"Secret#2");
  TestProgress progress;
  int kind = -1;
  CString text;
  EXPECT_FALSE(roads.Restore(progress, &kind, &text));
  EXPECT_EQ(kind, 0);
  EXPECT_FALSE(text.IsEmpty()) << ce::ToUtf8(text.view());
  ExpectDeviceUnchanged();

  // The right password restores (destructively: the new file goes).
  roads.PrepareRestore(kCardImage, kPassword);
  EXPECT_TRUE(roads.Restore(progress, &kind, &text)) << ce::ToUtf8(text.view());
  EXPECT_FALSE(DeviceFileExists(u"\\Data\\new.txt"));
  EXPECT_NE(HostRead(u"\\Data\\file2.txt"), "changed since the backup");
}

TEST_F(RestoreRefusal, DamagedImageBeforeAnyFileChanges) {
  roads.PrepareRestore(kCardImage, kPassword);
  // One flipped byte in the middle of the file data.
  fs::path host = HostPath(kCardImage.str());
  FlipImageByte(host, fs::file_size(host) / 2, false);
  TestProgress progress;
  int kind = -1;
  CString text;
  EXPECT_FALSE(roads.Restore(progress, &kind, &text));
  EXPECT_EQ(text, CString(u"The backup file is corrupt"));
  ExpectDeviceUnchanged();
}

TEST_F(RestoreRefusal, MissingImageIsKind4) {
  roads.PrepareRestore(kCardImage, kPassword);
  ASSERT_TRUE(ce::RemoveStorageCard(u"Storage Card"));
  TestProgress progress;
  int kind = -1;
  CString text;
  EXPECT_FALSE(roads.Restore(progress, &kind, &text));
  EXPECT_EQ(kind, 4);
  EXPECT_EQ(text, CString(kLocationMissingText));
  ASSERT_TRUE(ce::InsertStorageCard(u"Storage Card"));
  ExpectDeviceUnchanged();
}

// Damage that only the entries' own checks find ---------------------------

// A backup of the small device on the card, then changes on the device:
// the damaged file (read-only) and another file of the image changed, a
// file added.
class DamagedImage {
 public:
  static constexpr const char16_t* kDamaged = u"\\Data\\file2.txt";
  static constexpr const char16_t* kOther = u"\\My Documents\\file0.txt";

  void BackUp(bool compress) {
    FillSmallDevice();
    ASSERT_TRUE(SetFileAttributesW(kDamaged, FILE_ATTRIBUTE_READONLY));
    roads.PrepareBackup(kCardImage, compress, kPassword);
    TestProgress progress;
    ASSERT_TRUE(roads.Backup(progress));
    inImage = HostRead(kDamaged);
    otherInImage = HostRead(kOther);
    ASSERT_GT(inImage.size(), 500u);
    ASSERT_TRUE(WriteDeviceFile(kDamaged, "the device's newer content"));
    ASSERT_TRUE(SetFileAttributesW(kDamaged, FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(WriteDeviceFile(kOther, "changed since the backup"));
    ASSERT_TRUE(WriteDeviceFile(u"\\Data\\new.txt", "not in the image"));
    before = TakeSnapshot();
    roads.PrepareRestore(kCardImage, kPassword);
  }
  void Damage(size_t offset) { FlipImageByte(HostPath(kCardImage.str()), offset, true); }
  EntryPlace Place() { return PlaceOf(roads.g.g_WorkingIndex, kDamaged); }
  // The damaged file as it was before the restore, nothing left beside it.
  void ExpectDamagedFileKept() {
    Snapshot now = TakeSnapshot();
    ASSERT_TRUE(now.count(kDamaged));
    EXPECT_TRUE(now.at(kDamaged) == before.at(kDamaged)) << now.at(kDamaged).bytes;
    std::set<std::u16string> extra;
    for (const auto& [path, state] : now)
      if (!before.count(path)) extra.insert(path);
    EXPECT_EQ(extra, std::set<std::u16string>{}) << Utf8({extra.begin(), extra.end()});
  }

  TestDevice dev{CardProfile()};
  Roads roads;
  std::string inImage, otherInImage;
  Snapshot before;
};



TEST(ImagingTask, CrcMismatchOnRestoreKeepsTheFileAndTheRunReportsAnError) {
  for (bool destructive : {false, true}) {
    SCOPED_TRACE(destructive ? "destructive" : "non-destructive");
    DamagedImage d;
    auto& roads = d.roads;
    d.BackUp(false);
    d.Damage(d.Place().data + d.Place().stored / 2);
    roads.g.g_RestoreOptions.SetNonDestructiveRestoreFlag(!destructive);
    TestProgress progress;
    int kind = -1;
    CString text;
    EXPECT_TRUE(roads.Restore(progress, &kind, &text)) << ce::ToUtf8(text.view());
    d.ExpectDamagedFileKept();
    EXPECT_EQ(HostRead(DamagedImage::kOther), d.otherInImage);
    EXPECT_EQ(DeviceFileExists(u"\\Data\\new.txt"), !destructive);
    EXPECT_EQ(roads.WorstReported(), kReportError) << roads.ReportText();
    EXPECT_TRUE(roads.Reported(kReportError, u"CRC Error for \\Data\\file2.txt")) << roads.ReportText();
  }
}

TEST(ImagingTask, FolderCrcMismatchOnRestoreReachesTheReport) {
  DamagedImage d;
  d.BackUp(false);
  EntryPlace folder = PlaceOf(d.roads.g.g_WorkingIndex, u"\\My Documents\\Work");
  d.Damage(folder.block);  // the attributes
  TestProgress progress;
  EXPECT_TRUE(d.roads.Restore(progress));
  EXPECT_EQ(d.roads.WorstReported(), kReportError) << d.roads.ReportText();
  EXPECT_TRUE(d.roads.Reported(kReportError, u"CRC Error for directory \\My Documents\\Work"))
      << d.roads.ReportText();
  EXPECT_EQ(HostRead(DamagedImage::kOther), d.otherInImage);
}

TEST(ImagingTask, BodyThatDoesNotInflateOnRestoreKeepsTheFileAndFailsTheRun) {
  for (bool destructive : {false, true}) {
    SCOPED_TRACE(destructive ? "destructive" : "non-destructive");
    DamagedImage d;
    auto& roads = d.roads;
    d.BackUp(true);
    d.Damage(d.Place().data);  // the compressed stream's first byte
    roads.g.g_RestoreOptions.SetNonDestructiveRestoreFlag(!destructive);
    TestProgress progress;
    int kind = -1;
    EXPECT_FALSE(roads.Restore(progress, &kind));
    EXPECT_EQ(kind, 0);
    d.ExpectDamagedFileKept();
    EXPECT_TRUE(roads.Reported(kReportError, u"Compressed.Uncompress() failed for")) << roads.ReportText();
  }
}

// Backup of a file the device cannot read ------------------------------------

TEST(ImagingTask, UnreadableFileIsAWarningOfTheBackup) {
  TestDevice dev(CardProfile());
  FillSmallDevice();
  Roads roads;
  roads.PrepareBackup(kCardImage, true, CString());
  int64_t hold = ce::HoldFileOpen(u"\\Data\\file5.txt", GENERIC_READ | GENERIC_WRITE, 0);
  ASSERT_NE(hold, 0);
  TestProgress progress;
  EXPECT_TRUE(roads.Backup(progress));
  ce::ReleaseHold(hold);
  EXPECT_EQ(roads.WorstReported(), kReportWarning) << roads.ReportText();
  EXPECT_TRUE(roads.Reported(kReportWarning, u"\\Data\\file5.txt")) << roads.ReportText();
}

}  // namespace
