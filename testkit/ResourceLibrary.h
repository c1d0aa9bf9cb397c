// Puts the built resource library on the current device and loads it, as
// the program's start-up does (header only: it needs the core library and
// the test program's QUILMO_BIN_DIR).
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "ce/file.h"
#include "core/Resources.h"
#include "testkit/TestDevice.h"

namespace quilmo::test {

// "\Windows\QuilmoRes.dll" from the build, loaded as the main library; a
// test failure when it is not built or does not load.
inline void LoadBuiltResourceLibrary() {
  std::ifstream lib(std::string(QUILMO_BIN_DIR) + "/QuilmoRes.dll", std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(lib), {}};
  EXPECT_FALSE(bytes.empty()) << "QuilmoRes.dll not built";
  CreateDirectoryW(u"\\Windows", nullptr);
  EXPECT_TRUE(WriteDeviceFile(u"\\Windows\\QuilmoRes.dll", bytes));
  EXPECT_TRUE(InitResources(u"\\Windows\\QuilmoRes.dll", nullptr, nullptr));
}

}  // namespace quilmo::test
