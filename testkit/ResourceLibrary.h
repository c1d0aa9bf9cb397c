// Puts the built resource library on the current device and loads it, as
// the program's start-up does (header only: it needs the core library and
// the test program's QUILMO_BIN_DIR).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ce/file.h"
#include "ce/rescontainer.h"
#include "ce/resformat.h"
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

// The built library's bytes of resource (type, id) (empty when missing).
inline std::string BuiltResourceData(uint32_t type, uint32_t id) {
  namespace res = ce::res;
  std::string container, error;
  if (res::ReadContainer(std::filesystem::path(QUILMO_BIN_DIR) / "QuilmoRes.dll", &container) != res::Locate::kFound)
    return {};
  std::vector<res::EntryView> entries;
  if (!res::ParseContainer(container, &entries, &error)) return {};
  for (const res::EntryView& e : entries)
    if (e.type == type && e.name.empty() && e.id == id) return container.substr(e.offset, e.size);
  return {};
}

// The built library with the extra resources that it does not hold yet (a
// resource of the same type and id or name is kept as built), put on the
// device as "\Windows\QuilmoRes.dll" and loaded as the main library.
// Unloads the libraries loaded before.
inline void LoadBuiltResourceLibraryWith(std::vector<ce::res::Resource> extra) {
  namespace res = ce::res;
  const std::filesystem::path built = std::filesystem::path(QUILMO_BIN_DIR) / "QuilmoRes.dll";
  std::string container;
  ASSERT_EQ(res::ReadContainer(built, &container), res::Locate::kFound) << built;
  std::vector<res::EntryView> entries;
  std::string error;
  ASSERT_TRUE(res::ParseContainer(container, &entries, &error)) << error;
  std::vector<res::Resource> resources;
  for (const res::EntryView& e : entries)
    resources.push_back({e.type, e.id, e.name, e.language, container.substr(e.offset, e.size)});
  for (res::Resource& r : extra) {
    bool held = false;
    for (const res::EntryView& e : entries) held = held || (e.type == r.type && e.id == r.id && e.name == r.name);
    if (!held) resources.push_back(std::move(r));
  }
  std::string library;
  ASSERT_TRUE(res::BuildContainer(std::move(resources), &library, &error)) << error;
  library += res::MakeTrailer(0, static_cast<uint32_t>(library.size()));
  UnloadResourceLibraries(true);
  CreateDirectoryW(u"\\Windows", nullptr);
  ASSERT_TRUE(WriteDeviceFile(u"\\Windows\\QuilmoRes.dll", library));
  ASSERT_TRUE(InitResources(u"\\Windows\\QuilmoRes.dll", nullptr, nullptr));
}

}  // namespace quilmo::test
