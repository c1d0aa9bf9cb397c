// Databases, database volumes and mail end to end on the device tool's
// sample device, through the imaging task's roads, with the device tool's
// boot for every reset: the boot-time copies of the volumes are queued and
// made by a boot, the device is backed up with compression and a password,
// records are edited, added and deleted, a database is deleted, a volume and
// the mail change; the restore and the boot after it bring back every
// database (the two the restore patches aside) with the object store's
// records in reverse order, the volume files and mail folders byte for byte
// (the patched volumes aside), the patched folder-sync state and the
// notification entry's new time, and the boot-time runner's log names each
// copy.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ce/database.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/notifyqueue.h"
#include "ce/text.h"
#include "ce/time.h"
#include "cesim/device.h"
#include "cesim/registry.h"
#include "core/Log.h"
#include "core/Resources.h"
#include "engine/DatabaseComponent.h"
#include "engine/DatabaseVolumes.h"
#include "engine/FileSystemComponent.h"
#include "engine/Global.h"
#include "engine/ImagingTask.h"
#include "engine/MailComponent.h"
#include "engine/RebootActions.h"
#include "image/Cipher.h"
#include "image/ImageFile.h"
#include "image/Index.h"
#include "testkit/DatabaseRecords.h"
#include "testkit/ResourceLibrary.h"
#include "testkit/RunCommand.h"
#include "testkit/TaskSetup.h"
#include "testkit/TestDevice.h"

namespace {

namespace fs = std::filesystem;
using quilmo::test::RunCommand;

const CString kImage = u"\\Storage Card\\Databases.pbf";
const CString kPassword = u"Pim#2006";
// Databases, their volumes and mail.
const IncludedKinds kParts{false, true, true, false};

// The volumes the sample device's system holds.
const std::vector<std::u16string> kVolumes = {u"\\pim.vol",        u"\\cemail.vol",    u"\\mxip_system.vol",
                                              u"\\mxip_initdb.vol", u"\\mxip_lang.vol", u"\\mxip_notify.vol",
                                              u"\\My Documents\\notes.vol"};
// Their copies are patched by the restore.
bool IsPatchedVolume(const std::u16string& path) { return path == u"\\pim.vol" || path == u"\\mxip_notify.vol"; }
const std::vector<std::u16string> kMailFolders = {u"\\Windows\\Messaging", u"\\My Documents\\MMS"};

class Progress : public ITaskProgress {
 public:
  Progress() : ITaskProgress(&record) {}
  void UpdateProgress(bool) override {}
  TaskProgressRecord record;
};

std::string Cedev(const std::string& arguments, int* status = nullptr) {
  quilmo::test::CommandResult r = RunCommand(std::string(QUILMO_BIN_DIR) + "/cedev " + arguments);
  if (status) *status = r.status;
  return r.output;
}

// The device folder, made by the device tool and used by this process.
class SampleDevice {
 public:
  SampleDevice() {
    dir_ = fs::temp_directory_path() /
           ("quilmo-dbroads-" + std::to_string(getpid()) + "-" + std::to_string(std::random_device{}()));
    int status = -1;
    Cedev("create '" + dir_.string() + "'", &status);
    ok_ = status == 0 && ce::Device::Use(dir_) != nullptr;
  }
  ~SampleDevice() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  bool ok() const { return ok_; }
  std::string Quoted() const { return "'" + dir_.string() + "'"; }
  fs::path Host(const std::u16string& devicePath) const {
    ce::ResolvedPath r;
    EXPECT_TRUE(ce::Device::Current()->Resolve(devicePath, &r));
    return r.host;
  }
  std::string Read(const std::u16string& devicePath) const {
    std::ifstream f(Host(devicePath), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }

  // A boot of the device by the device tool (this process lets go of its
  // registry first, and takes it up afresh after).
  std::string Boot() {
    ce::RegCloseHives();
    int status = -1;
    std::string out = Cedev("boot --timeout 300 " + Quoted(), &status);
    ce::RegCloseHives();
    EXPECT_EQ(status, 0) << out;
    return out;
  }

  // "store<TAB>kind<TAB>name" -> "count<TAB>hash" of every database.
  std::map<std::string, std::string> Digest() {
    ce::RegCloseHives();
    int status = -1;
    std::istringstream lines(Cedev("db " + Quoted() + " digest", &status));
    EXPECT_EQ(status, 0);
    std::map<std::string, std::string> out;
    for (std::string line; std::getline(lines, line);) {
      size_t third = line.find('\t', line.find('\t', line.find('\t') + 1) + 1);
      if (third != std::string::npos) out[line.substr(0, third)] = line.substr(third + 1);
    }
    return out;
  }

 private:
  fs::path dir_;
  bool ok_ = false;
};

// Every file below a folder with its bytes.
std::map<std::u16string, std::string> FolderFiles(const SampleDevice& device, const std::u16string& folder) {
  std::map<std::u16string, std::string> out;
  fs::path root = device.Host(folder);
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file()) {
      std::ifstream f(entry.path(), std::ios::binary);
      out[ce::FromUtf8(fs::relative(entry.path(), root).string())] = std::string(std::istreambuf_iterator<char>(f), {});
    }
  return out;
}

using quilmo::test::EditAddDelete;
using quilmo::test::LocalTicks;
using quilmo::test::TextOf;
using Record = quilmo::test::RecordBytes;

std::vector<Record> ReadDatabase(const std::u16string& name, bool edb) {
  std::vector<Record> out;
  EXPECT_TRUE(quilmo::test::ReadDatabaseRecords(name, edb, &out)) << ce::ToUtf8(name);
  return out;
}

class DatabaseRoads {
 public:
  DatabaseRoads() : context_(MakeFileSystemContext(g)), fileSystem_(context_) {
    g.g_Log.Open(false);
    fileSystem_.Register();
    RegisterDatabaseVolumesComponent();
    RegisterDatabaseComponent();
    RegisterMailComponent();
    quilmo::test::LoadBuiltResourceLibrary();
  }
  ~DatabaseRoads() {
    UnloadResourceLibraries(true);
    for (TaskPart part : {TaskPart::DatabaseVolumes, TaskPart::Databases, TaskPart::Mail})
      SetTaskComponentFactory(part, nullptr);
  }

  void PrepareBackup() {
    g.g_BackupOptions.SetCompression(true);
    quilmo::test::PrepareBackupOperation(g, kParts, kImage, kPassword);
  }
  void PrepareRestore() {
    ASSERT_TRUE(quilmo::test::PrepareRestoreOperation(g, kParts, kImage, kPassword));
  }
  // Runs the task; the report's texts in *report.
  bool Run(std::string* failure, std::string* report) {
    Progress progress;
    AImagingTaskClient task(g.g_Operation, &progress);
    bool ok = task.Run();
    *failure = ce::ToUtf8(task.GetFailureText().view());
    report->clear();
    TaskReportItem item;
    for (int i = 0; i < g.g_TaskReport.GetCount(); ++i)
      if (g.g_TaskReport.GetItem(item, i)) *report += std::to_string(item.type) + " " + ce::ToUtf8(std::u16string_view(item.text)) + "\n";
    return ok;
  }

  AGlobal g;

 private:
  FileSystemContext context_;
  AFileSystemComponent fileSystem_;
};

TEST(DatabaseRoads, BackupChangeRestoreAndTheBootsBringEverythingBack) {
  SampleDevice device;
  ASSERT_TRUE(device.ok()) << "cedev create failed";
  fs::copy_file(fs::path(QUILMO_BIN_DIR) / "QuilmoInit", device.Host(u"\\Windows") / "QuilmoInit.exe");
  device.Boot();  // the system holds its volumes
  RebootActions::Instance().Clear();
  DatabaseRoads roads;

  // The boot-time copies of the volumes, made by the next boot.
  roads.PrepareBackup();
  ASSERT_TRUE(roads.g.g_WorkingIndex.AddBootCopiesForBackup());
  ASSERT_TRUE(RebootActions::Instance().Apply());
  RebootActions::Instance().Clear();
  std::string boot = device.Boot();
  EXPECT_NE(boot.find("boots: 1, resets: 0"), std::string::npos) << boot;
  const std::string copyLog = device.Read(u"\\QuilmoInitLog.txt");
  for (const std::u16string& volume : kVolumes) {
    std::string path = ce::ToUtf8(volume);
    EXPECT_NE(copyLog.find("Copied " + path + " to " + path + "c\r\n"), std::string::npos) << copyLog;
  }

  // What the backup holds.
  const std::map<std::string, std::string> digest = device.Digest();
  ASSERT_GT(digest.size(), 15u);
  std::map<std::u16string, std::string> volumeBytes;
  for (const std::u16string& volume : kVolumes) volumeBytes[volume] = device.Read(volume + u"c");
  std::map<std::u16string, std::map<std::u16string, std::string>> mailFiles;
  for (const std::u16string& folder : kMailFolders) mailFiles[folder] = FolderFiles(device, folder);
  ASSERT_GT(mailFiles[u"\\Windows\\Messaging"].size(), 3u);
  const std::vector<Record> contacts = ReadDatabase(u"Contacts Database", false);
  ASSERT_GT(contacts.size(), 100u);

  std::string failure, report;
  ASSERT_TRUE(roads.Run(&failure, &report)) << failure << "\n" << report;
  for (const std::u16string& volume : kVolumes) EXPECT_FALSE(fs::exists(device.Host(volume + u"c")));

  // Everything changes.
  EXPECT_TRUE(EditAddDelete(u"Contacts Database", false)) << GetLastError();
  EXPECT_TRUE(EditAddDelete(u"Appointments", true)) << GetLastError();  // in "\pim.vol"
  ASSERT_TRUE(quilmo::test::DeleteDatabaseByName(u"Tasks Database")) << GetLastError();
  EXPECT_TRUE(EditAddDelete(u"SystemSettings", true)) << GetLastError();  // "\mxip_system.vol"
  EXPECT_TRUE(EditAddDelete(u"Messages", false)) << GetLastError();       // "\cemail.vol"
  ASSERT_TRUE(quilmo::test::WriteDeviceFile(u"\\Windows\\Messaging\\signature.txt", "changed"));
  ASSERT_TRUE(quilmo::test::WriteDeviceFile(u"\\Windows\\Messaging\\arrived later.txt", "new"));
  ASSERT_NE(device.Digest(), digest);

  // The restore, then the boot that puts the volumes in place.
  roads.PrepareRestore();
  const ULONGLONG before = LocalTicks();
  ASSERT_TRUE(roads.Run(&failure, &report)) << failure << "\n" << report;
  const ULONGLONG after = LocalTicks();
  ASSERT_TRUE(roads.g.g_WorkingIndex.AddBootCopiesForRestore());
  ASSERT_TRUE(RebootActions::Instance().Apply());
  RebootActions::Instance().Clear();
  boot = device.Boot();
  EXPECT_NE(boot.find("boots: 2, resets: 1"), std::string::npos) << boot;
  const std::string restoreLog = device.Read(u"\\QuilmoInitLog.txt");
  for (const std::u16string& volume : kVolumes) {
    std::string path = ce::ToUtf8(volume);
    EXPECT_NE(restoreLog.find("Copied " + path + "c to " + path + "\r\n"), std::string::npos) << restoreLog;
  }

  // Every database as backed up, the two patched ones aside.
  std::map<std::string, std::string> now = device.Digest();
  for (const auto& [database, hash] : digest) {
    if (database.ends_with("\tSyncStateKeys") || database.ends_with("\tDB_notify_queue")) continue;
    EXPECT_EQ(now[database], hash) << database;
  }
  EXPECT_EQ(now.size(), digest.size());
  std::vector<Record> restoredContacts = ReadDatabase(u"Contacts Database", false);
  std::reverse(restoredContacts.begin(), restoredContacts.end());
  EXPECT_TRUE(restoredContacts == contacts);

  // Volume files and mail folders byte for byte.
  for (const std::u16string& volume : kVolumes) {
    EXPECT_FALSE(fs::exists(device.Host(volume + u"c"))) << ce::ToUtf8(volume);
    if (!IsPatchedVolume(volume)) {
      EXPECT_TRUE(device.Read(volume) == volumeBytes[volume]) << ce::ToUtf8(volume);
    }
  }
  for (const std::u16string& folder : kMailFolders)
    EXPECT_TRUE(FolderFiles(device, folder) == mailFiles[folder]) << ce::ToUtf8(folder);

  // The folder-sync state keeps only its folder records and the counter.
  std::vector<Record> sync = ReadDatabase(u"SyncStateKeys", true);
  ASSERT_FALSE(sync.empty());
  for (const Record& record : sync) {
    std::u16string key = TextOf(record, DatabaseVolumeNames::kSyncNameProp);
    EXPECT_TRUE(key.starts_with(u"FolderSync") || key == u"<<< Collection Counter >>>") << ce::ToUtf8(key);
    EXPECT_EQ(TextOf(record, DatabaseVolumeNames::kSyncCountProp), u"0");
    EXPECT_EQ(TextOf(record, DatabaseVolumeNames::kSyncCountHighProp), u"0");
  }

  // The "repllog.exe" entry is due at T: now, one more in the high word.
  int found = 0;
  for (const Record& record : ReadDatabase(ce::notifyqueue::kDatabaseName, false)) {
    for (const auto& [id, bytes] : record) {
      if (id != ce::notifyqueue::kNotifyEntryProp) continue;
      DWORD offset = 0;
      std::memcpy(&offset, bytes.data(), 4);
      std::u16string program(reinterpret_cast<const char16_t*>(bytes.data() + offset));
      if (program != u"repllog.exe") continue;
      ++found;
      ULONGLONG due = 0;
      std::memcpy(&due, bytes.data() + ce::notifyqueue::kStartTimeAt, 8);
      EXPECT_GE(due, before + (1ull << 32));
      EXPECT_LE(due, after + (1ull << 32));
    }
  }
  EXPECT_EQ(found, 1);
}

}  // namespace
