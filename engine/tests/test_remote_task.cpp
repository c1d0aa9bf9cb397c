// A host-mode imaging task against the desktop host service program: a
// backup lands in the service's folder between START and COMPLETE notices,
// a restore from there brings a changed file back, and an unreachable host
// fails the task with kind 5.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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
#include "hostlink/HostConnection.h"
#include "hostlink/KeepAliveConsumer.h"
#include "image/Cipher.h"
#include "image/ImageFile.h"
#include "image/Index.h"
#include "testkit/ResourceLibrary.h"
#include "testkit/TestDevice.h"

// The host service runner of the host-link tests.
#include "hostlink/tests/host_service_process.cpp"

namespace {

namespace fs = std::filesystem;
using hosttest::HostServiceProcess;
using quilmo::test::ReadDeviceFile;
using quilmo::test::TestDevice;
using quilmo::test::WriteDeviceFile;

const CString kHostImage = u"Remote Backup.pbf";

class NullProgress : public ITaskProgress {
 public:
  NullProgress() : ITaskProgress(&record) {}
  void UpdateProgress(bool) override {}
  TaskProgressRecord record;
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

  void PrepareBackup() {
    OperationDescriptor& d = g.g_Operation;
    d = OperationDescriptor();
    d.operationKind = kOperationBackup;
    d.hostMode = kHostModeRemote;
    d.includeFileSystem = 1;
    d.imagePath.Set(kHostImage, false);
    g.g_bEncrypt = false;
    g.SetTaskPassword(CString());
    g.UpdateExcludeOptions();
    Index& index = g.g_WorkingIndex;
    index.Reset();
    IncludedKinds kinds{true, false, false, false};
    index.AddTopLevelComponents(&kinds);
    index.PopulateSelected();
  }

  // What the restore pages do for a host image: read its index through
  // the host (the connection stays up for the task).
  void PrepareRestore() {
    OperationDescriptor& d = g.g_Operation;
    d = OperationDescriptor();
    d.operationKind = kOperationRestore;
    d.hostMode = kHostModeRemote;
    d.includeFileSystem = 1;
    d.imagePath.Set(kHostImage, false);
    g.g_bEncrypt = false;
    g.SetTaskPassword(CString());
    ASSERT_TRUE(InitCipherKey(false, nullptr));
    AImageFile file(AImageFile::kRestore, AImageFile::kHost);
    file.SetFileName(kHostImage);
    ASSERT_TRUE(file.Open());
    ASSERT_TRUE(g.g_WorkingIndex.Locate(file, true));
    file.Close();
  }

  bool RunTask(int* kind, CString* text) {
    NullProgress progress;
    AImagingTaskClient task(g.g_Operation, &progress);
    bool ok = task.Run();
    *kind = task.GetFailureKind();
    *text = task.GetFailureText();
    return ok;
  }

  TestDevice device_;
  AGlobal g;

 private:
  FileSystemContext context_;
  AFileSystemComponent fileSystem_;
};

TEST_F(RemoteTask, BackupToHostThenRestoreFromHost) {
  HostServiceProcess host;
  ASSERT_TRUE(host.Started()) << "hostservice not built or did not start";
  UseHost(host.port());
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
  EXPECT_EQ(kind, kFailHost);
  EXPECT_EQ(AHostConnection::GetProcessConnection(), nullptr);
}

// The host refuses a rooted name: the image does not open after START, and
// the host hears CM_OPERATIONFAILED with kind 5 and the failure text.
TEST_F(RemoteTask, HostRefusingTheImageGetsOperationFailed) {
  HostServiceProcess host;
  ASSERT_TRUE(host.Started()) << "hostservice not built or did not start";
  UseHost(host.port());
  PrepareBackup();
  g.g_Operation.imagePath.Set(u"\\temp\\.hidden.pbf", false);  // a name the host refuses
  int kind = -1;
  CString text;
  EXPECT_FALSE(RunTask(&kind, &text));
  EXPECT_EQ(kind, kFailHost);
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
  EXPECT_EQ(kind, kFailHost);
}

}  // namespace
