// The allocation-failure handler that the start-up installs.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>
#include <string>

#include "app/QuilmoApp.h"
#include "ce/msgbox.h"
#include "ce/text.h"
#include "engine/Global.h"
#include "testkit/TestDevice.h"

namespace {

// One line on stderr: the box, then the log as it stands (line ends shown as " / ").
int ReportBox(const ce::MessageBoxRequest& request) {
  std::string log = quilmo::test::ReadDeviceFile(u"\\temp\\BackupLog.txt");
  for (size_t at; (at = log.find("\r\n")) != std::string::npos;) log.replace(at, 2, " / ");
  std::fprintf(stderr, "box: %s | %s | %s\n", ce::ToUtf8(request.text).c_str(), ce::ToUtf8(request.caption).c_str(),
               log.c_str());
  return IDOK;
}

// A start-up that stops early (no resource library) has installed the handler.
[[noreturn]] void StartThenRunOutOfMemory() {
  quilmo::test::TestDevice dev;
  dev.MakeDir(u"\\temp");
  AGlobal global;
  CQuilmoApp app;
  app.InitInstance();
  ce::SetMessageBoxService(&ReportBox);
  void* volatile p = ::operator new(std::numeric_limits<size_t>::max() / 2);
  std::fprintf(stderr, "allocation did not fail: %p\n", p);
  std::_Exit(0);
}

TEST(OutOfMemoryDeathTest, TheHandlerLogsTheMemoryStatusShowsItsBoxAndExitsWith11) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's allocator reports a failed allocation itself";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(StartThenRunOutOfMemory(), ::testing::ExitedWithCode(11),
              "box: The device is low on system memory\\. \\| Quilmo Backup \\| .*"
              "L CQuilmoApp [0-9]+ : new\\(\\) thrown bad_alloc.*"
              "L CQuilmoApp [0-9]+ : Utilisation: [0-9]+%.*"
              "L CQuilmoApp [0-9]+ : Available Virtual: [0-9]+ bytes.*"
              "L CQuilmoApp [0-9]+ : GetSystemMemoryDivision\\(\\) values: dwStorePages=[0-9]+, "
              "dwRamPages=[0-9]+, dwPageSize=4096");
}

}  // namespace
