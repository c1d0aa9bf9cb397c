// Shared pieces of the menu, tab and picker tests: a data module with a
// menu-bar resource and strings.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ce/menubar.h"
#include "ce/module.h"
#include "ce/rescontainer.h"
#include "ce/resformat.h"
#include "testkit/TestDevice.h"

namespace sheettest {

constexpr int kBar = 65361, kMenuButton = 65359, kDoneButton = 1;
constexpr int kAbout = 100, kDeep = 101, kOther = 102, kStringAbout = 4000;

// A bar: "Done" (a command) and "Menu" with About (a string), a
// separator, "More" > Deep, and Other.
inline std::string BarSource() {
  return "<menubar id=\"65361\">"
         "<button id=\"1\" text=\"Done\"/>"
         "<button id=\"65359\" text=\"Menu\">"
         "<item id=\"100\" string=\"4000\"/><separator/>"
         "<popup text=\"More\"><item id=\"101\" text=\"Deep\"/></popup>"
         "<item id=\"102\" text=\"Other\"/>"
         "</button></menubar>";
}

// "\Windows\bars.dll" with the given resources; loaded as data.
class BarModule {
 public:
  BarModule(const quilmo::test::TestDevice& device, std::string barData = BarSource()) {
    std::vector<ce::res::Resource> in;
    ce::res::Resource bar;
    bar.type = ce::res::kTypeMenuBar;
    bar.id = kBar;
    bar.data = std::move(barData);
    in.push_back(bar);
    ce::res::Resource about;
    about.type = ce::res::kTypeString;
    about.id = kStringAbout;
    for (char16_t c : std::u16string(u"About") + u'\0') {
      about.data.push_back(static_cast<char>(c & 0xFF));
      about.data.push_back(static_cast<char>(c >> 8));
    }
    in.push_back(about);
    std::string bytes, error;
    EXPECT_TRUE(ce::res::BuildContainer(in, &bytes, &error)) << error;
    bytes += ce::res::MakeTrailer(0, static_cast<uint32_t>(bytes.size()));
    device.PutFile(u"\\Windows\\bars.dll", bytes);
    module_ = LoadLibraryExW(u"\\Windows\\bars.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_NE(module_, nullptr);
  }
  ~BarModule() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  HMODULE get() const { return module_; }

 private:
  HMODULE module_ = nullptr;
};

}  // namespace sheettest
