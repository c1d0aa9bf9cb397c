// A host-mode imaging task against the desktop host service program: a
// backup lands in the service's folder between START and COMPLETE notices,
// a restore from there brings a changed file back, and an unreachable host
// fails the task with kind 5.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/text.h"
#include "ce/winsock.h"
#include "core/Resources.h"
#include "engine/FileSystemComponent.h"
#include "engine/Global.h"
#include "engine/ImagingTask.h"
#include "engine/TaskHostLink.h"
#include "engine/TaskReport.h"
#include "engine/tests/image_damage_util.h"
#include "hostlink/HostConnection.h"
#include "hostlink/KeepAliveConsumer.h"
#include "image/Cipher.h"
#include "image/ImageFile.h"
#include "image/Index.h"
#include "testkit/ResourceLibrary.h"
#include "testkit/TaskSetup.h"
#include "testkit/TestDevice.h"

// The host service runner of the host-link tests.
#include "hostlink/tests/host_service_process.cpp"

namespace {

namespace fs = std::filesystem;
using hosttest::HostServiceProcess;
using quilmo::test::FlipImageByte;
using quilmo::test::PlaceOf;
using quilmo::test::ReadDeviceFile;
using quilmo::test::TestDevice;
using quilmo::test::WriteDeviceFile;

const CString kHostImage = u"Remote Backup.pbf";
const IncludedKinds kFileSystem{true, false, false, false};

class NullProgress : public ITaskProgress {
 public:
  NullProgress() : ITaskProgress(&record) {}
  void UpdateProgress(bool) override {
    if (onUpdate) onUpdate(record);
  }
  TaskProgressRecord record;
  std::function<void(const TaskProgressRecord&)> onUpdate;
};


// Gives up a connect loop after a few tries (the user's cancel of the
// connecting window), so an absent host fails in about a second.
class GiveUpAfter : public KeepAliveConsumer {
 public:
  explicit GiveUpAfter(int tries) : left_(tries) {}
  bool KeepAlive() override { return --left_ > 0; }

 private:
  int left_;
};

// The program over a small scratch device: global state, file-system
// component, resources and the host link installed; the host details come
// from the remote options, as the backup operation loads them.
class RemoteTask : public ::testing::Test {
 protected:
  RemoteTask() : context_(MakeFileSystemContext(g)), fileSystem_(context_) {
    // The program's start-up brings the socket layer up.
    static const bool started = [] {
      ce::ws::WSADATA data{};
      return ce::ws::WSAStartup(0x0101, &data) == 0;
    }();
    EXPECT_TRUE(started);
    g.g_Log.Open(false);
    fileSystem_.Register();
    quilmo::test::LoadBuiltResourceLibrary();
    EXPECT_TRUE(CreateDirectoryW(u"\\Notes", nullptr));
    for (int i = 0; i < 5; ++i)
      EXPECT_TRUE(WriteDeviceFile(u"\\Notes\\note" + ce::FromUtf8(std::to_string(i)) + u".txt",
                                  std::string(1000 + 700 * i, static_cast<char>('a' + i))));
    InstallHostLink(g);
  }
  ~RemoteTask() override {
    UninstallHostLink();
    UnloadResourceLibraries(true);
  }

  void UseHost(WORD port) {
    g.g_RemoteOptions.SetHostName(u"127.0.0.1");
    g.g_RemoteOptions.SetPort(port);
    g.g_HostDetailsSource = kHostDetailsRemoteOptions;
    LoadTaskHostDetails(g);
  }

  // The host service started by the test; false when it did not start.
  bool UseHost(const HostServiceProcess& host) {
    if (!host.Started()) return false;
    UseHost(host.port());
    return true;
  }

  void PrepareBackup() {
    quilmo::test::PrepareBackupOperation(g, kFileSystem, kHostImage, CString(), kHostModeRemote);
  }

  // What the restore pages do for a host image: read its index through
  // the host (the connection stays up for the task).
  void PrepareRestore() {
    ASSERT_TRUE(quilmo::test::PrepareRestoreOperation(g, kFileSystem, kHostImage, CString(), kHostModeRemote));
  }

  bool RunTask(int* kind, CString* text, std::function<void(const TaskProgressRecord&)> onUpdate = nullptr) {
    NullProgress progress;
    progress.onUpdate = std::move(onUpdate);
    AImagingTaskClient task(g.g_Operation, &progress);
    bool ok = task.Run();
    *kind = task.GetFailureKind();
    *text = task.GetFailureText();
    worstReported = -1;
    TaskReportItem item;
    for (int i = 0; i < g.g_TaskReport.GetCount(); ++i)
      if (g.g_TaskReport.GetItem(item, i)) worstReported = std::max(worstReported, static_cast<int>(item.type));
    return ok;
  }

  // A backup of the device's files to the host.
  ::testing::AssertionResult BackUpToHost() {
    PrepareBackup();
    int kind = -1;
    CString text;
    if (RunTask(&kind, &text)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "kind " << kind << ": " << ce::ToUtf8(text.view());
  }

  // The device's files below \Notes and nothing else beside them.
  std::map<std::u16string, std::string> Notes() const {
    std::map<std::u16string, std::string> out;
    for (const auto& entry : fs::directory_iterator(device_.Host(u"\\Notes")))
      out[ce::FromUtf8(entry.path().filename().string())] = ReadDeviceFile(u"\\Notes\\" + ce::FromUtf8(entry.path().filename().string()));
    return out;
  }

  TestDevice device_;
  AGlobal g;
  int worstReported = -1;  // of the last run's task report: -1 none, 2 an error

 private:
  FileSystemContext context_;
  AFileSystemComponent fileSystem_;
};

TEST_F(RemoteTask, BackupToHostThenRestoreFromHost) {
  HostServiceProcess host;
  ASSERT_TRUE(UseHost(host)) << "hostservice not built or did not start";
  const std::u16string note = u"\\Notes\\note2.txt";
  const std::string original = ReadDeviceFile(note);

  PrepareBackup();
  int kind = -1;
  CString text;
  ASSERT_TRUE(RunTask(&kind, &text)) << "kind " << kind << ": " << ce::ToUtf8(text.view());
  const fs::path image = host.folder() / "Remote Backup.pbf";
  ASSERT_TRUE(fs::exists(image));
  EXPECT_GT(fs::file_size(image), 5000u);
  std::string notices = host.Notices("CM_OPERATIONCOMPLETE");
  EXPECT_NE(notices.find("CM_OPERATIONSTART operation=1"), std::string::npos) << notices;
  EXPECT_NE(notices.find("CM_OPERATIONCOMPLETE operation=1"), std::string::npos) << notices;
  EXPECT_EQ(notices.find("CM_OPERATIONFAILED"), std::string::npos) << notices;
  EXPECT_EQ(notices.find("CM_OPERATIONSTART"), notices.rfind("CM_OPERATIONSTART"));
  EXPECT_EQ(AHostConnection::GetProcessConnection(), nullptr);

  ASSERT_TRUE(WriteDeviceFile(note, "changed after the backup"));
  ASSERT_TRUE(DeleteFileW(u"\\Notes\\note4.txt"));
  PrepareRestore();
  ASSERT_TRUE(RunTask(&kind, &text)) << "kind " << kind << ": " << ce::ToUtf8(text.view());
  EXPECT_EQ(ReadDeviceFile(note), original);
  EXPECT_EQ(ReadDeviceFile(u"\\Notes\\note4.txt"), std::string(1000 + 700 * 4, 'e'));
  notices = host.Notices("CM_OPERATIONCOMPLETE operation=2");
  EXPECT_NE(notices.find("CM_OPERATIONSTART operation=2"), std::string::npos) << notices;
  EXPECT_NE(notices.find("CM_OPERATIONCOMPLETE operation=2"), std::string::npos) << notices;
  EXPECT_EQ(AHostConnection::GetProcessConnection(), nullptr);
}

// A damaged host image is refused before the device changes, also by a
// destructive restore.
TEST_F(RemoteTask, HostRestoreChecksTheWholeImageFirst) {
  HostServiceProcess host;
  ASSERT_TRUE(UseHost(host)) << "hostservice not built or did not start";
  ASSERT_TRUE(BackUpToHost());
  int kind = -1;
  CString text;
  ASSERT_TRUE(WriteDeviceFile(u"\\Notes\\note2.txt", "changed after the backup"));
  ASSERT_TRUE(WriteDeviceFile(u"\\Notes\\added.txt", "not in the image"));
  const auto before = Notes();
  PrepareRestore();
  const fs::path image = host.folder() / "Remote Backup.pbf";
  FlipImageByte(image, PlaceOf(g.g_WorkingIndex, u"\\Notes\\note3.txt").data + 10, false);
  g.g_RestoreOptions.SetNonDestructiveRestoreFlag(false);
  EXPECT_FALSE(RunTask(&kind, &text));
  EXPECT_EQ(text, CString(u"The backup file is corrupt"));
  EXPECT_EQ(Notes(), before);
  std::string notices = host.Notices("CM_OPERATIONFAILED operation=2");
  EXPECT_NE(notices.find("CM_OPERATIONFAILED operation=2"), std::string::npos) << notices;
}

// Damage that only the entries' own checks find (the image's CRC made to
// match): the damaged file keeps the device's content, whether its body
// does not inflate (the run fails) or its CRC does not match (the run ends
// with an error in its report).
TEST_F(RemoteTask, HostRestoreKeepsTheFileOfADamagedEntry) {
  HostServiceProcess host;
  ASSERT_TRUE(UseHost(host)) << "hostservice not built or did not start";
  const fs::path image = host.folder() / "Remote Backup.pbf";
  for (bool compressed : {false, true}) {
    for (bool destructive : {false, true}) {
      SCOPED_TRACE(std::string(compressed ? "does not inflate, " : "CRC mismatch, ") +
                   (destructive ? "destructive" : "non-destructive"));
      g.g_BackupOptions.SetCompression(compressed);
      ASSERT_TRUE(BackUpToHost());
      int kind = -1;
      CString text;
      const std::string note1 = ReadDeviceFile(u"\\Notes\\note1.txt");
      ASSERT_TRUE(WriteDeviceFile(u"\\Notes\\note1.txt", "changed after the backup"));
      ASSERT_TRUE(WriteDeviceFile(u"\\Notes\\note3.txt", "the device's newer content"));
      auto expected = Notes();
      PrepareRestore();
      quilmo::test::EntryPlace place = PlaceOf(g.g_WorkingIndex, u"\\Notes\\note3.txt");
      FlipImageByte(image, compressed ? place.data : place.data + place.stored / 2, true);
      g.g_RestoreOptions.SetNonDestructiveRestoreFlag(!destructive);
      EXPECT_EQ(RunTask(&kind, &text), !compressed) << ce::ToUtf8(text.view());
      if (!compressed) {
        EXPECT_EQ(worstReported, 2);  // an error
      }
      expected[u"note1.txt"] = note1;  // restored before the damaged entry
      EXPECT_EQ(Notes(), expected);
    }
  }
}

// The host goes away in the middle of a file: the file stays as it was
// and nothing is left beside it.
TEST_F(RemoteTask, HostLostMidRestoreKeepsTheFile) {
  std::string big(3 << 20, '\0');
  uint32_t state = 1;
  for (char& c : big) c = static_cast<char>((state = state * 1664525u + 1013904223u) >> 24);
  ASSERT_TRUE(WriteDeviceFile(u"\\Notes\\big.bin", big));
  HostServiceProcess host;
  ASSERT_TRUE(UseHost(host)) << "hostservice not built or did not start";
  ASSERT_TRUE(BackUpToHost());
  int kind = -1;
  CString text;
  ASSERT_TRUE(WriteDeviceFile(u"\\Notes\\big.bin", "the device's newer content"));
  const auto before = Notes();
  PrepareRestore();
  bool killed = false;
  EXPECT_FALSE(RunTask(&kind, &text, [&](const TaskProgressRecord& record) {
    if (!killed && std::u16string_view(record.statusText).find(u"big.bin") != std::u16string_view::npos &&
        record.bytesWritten > (1u << 20)) {
      host.Kill();
      killed = true;
    }
  }));
  EXPECT_TRUE(killed);
  EXPECT_EQ(Notes(), before);
}

TEST_F(RemoteTask, HostNotRunningFailsWithKind5) {
  WORD port = 0;
  {
    HostServiceProcess gone;  // a port that was just free and is closed again
    ASSERT_TRUE(gone.Started());
    port = gone.port();
  }
  UseHost(port);
  PrepareBackup();
  GiveUpAfter cancel(10);
  int kind = -1;
  CString text;
  EXPECT_FALSE(RunTask(&kind, &text));
  EXPECT_EQ(kind, 5);
  EXPECT_EQ(AHostConnection::GetProcessConnection(), nullptr);
}

// The host refuses a rooted name: the image does not open after START, and
// the host hears CM_OPERATIONFAILED with kind 5 and the failure text.
TEST_F(RemoteTask, HostRefusingTheImageGetsOperationFailed) {
  HostServiceProcess host;
  ASSERT_TRUE(UseHost(host)) << "hostservice not built or did not start";
  PrepareBackup();
  g.g_Operation.imagePath.Set(u"\\temp\\.hidden.pbf", false);  // a name the host refuses
  int kind = -1;
  CString text;
  EXPECT_FALSE(RunTask(&kind, &text));
  EXPECT_EQ(kind, 5);
  std::string notices = host.Notices("CM_OPERATIONFAILED");
  EXPECT_NE(notices.find("CM_OPERATIONSTART operation=1"), std::string::npos) << notices;
  EXPECT_NE(notices.find("CM_OPERATIONFAILED operation=1 device=0 error=5 text=\"m_ImageFile.Open() failed\""),
            std::string::npos)
      << notices;
  EXPECT_EQ(notices.find("CM_OPERATIONCOMPLETE"), std::string::npos) << notices;
  EXPECT_EQ(AHostConnection::GetProcessConnection(), nullptr);
}

TEST_F(RemoteTask, WithoutHostLinkAHostModeTaskFails) {
  UninstallHostLink();
  UseHost(1);
  PrepareBackup();
  int kind = -1;
  CString text;
  EXPECT_FALSE(RunTask(&kind, &text));
  EXPECT_EQ(kind, 5);
}

}  // namespace
