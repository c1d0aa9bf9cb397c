// Shared helpers of the class library tests: a resource module with dialog
// templates and strings made on a scratch device, and an idle driver that
// runs test steps one per idle call of a loop.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ce/dialog.h"
#include "ce/dlgtemplate.h"
#include "ce/module.h"
#include "ce/rescontainer.h"
#include "testkit/TestDevice.h"
#include "ui/Loop.h"
#include "ui/Mfc.h"

namespace mfctest {

inline ce::ControlTemplate Ctl(int id, const char16_t* cls, int y, DWORD style, const char16_t* text = u"") {
  ce::ControlTemplate c;
  c.id = id;
  c.className = cls;
  c.x = 4;
  c.y = y;
  c.width = 100;
  c.height = 14;
  c.style = WS_CHILD | WS_VISIBLE | style;
  c.text = text;
  return c;
}

inline ce::DialogTemplate Dlg(int id, int width, int height, const char16_t* caption,
                              std::vector<ce::ControlTemplate> controls) {
  ce::DialogTemplate t;
  t.id = id;
  t.width = width;
  t.height = height;
  t.style = WS_POPUP | WS_CAPTION | WS_VISIBLE;
  t.caption = caption;
  t.controls = std::move(controls);
  return t;
}

// Builds "\Windows\mfctest.dll" (templates + strings) and makes it the
// resource module; restores the running program afterwards.
class ResourceModule {
 public:
  ResourceModule(const quilmo::test::TestDevice& device, const std::vector<ce::DialogTemplate>& templates,
                 const std::vector<std::pair<UINT, std::u16string>>& strings) {
    std::vector<ce::res::Resource> in;
    for (const auto& t : templates) {
      ce::res::Resource r;
      r.type = ce::res::kTypeTemplate;
      r.id = static_cast<uint32_t>(t.id);
      r.data = ce::FormatDialogTemplate(t);
      in.push_back(r);
    }
    for (const auto& [id, text] : strings) {
      ce::res::Resource r;
      r.type = ce::res::kTypeString;
      r.id = id;
      for (char16_t c : text + u'\0') {
        r.data.push_back(static_cast<char>(c & 0xFF));
        r.data.push_back(static_cast<char>(c >> 8));
      }
      in.push_back(r);
    }
    std::string bytes, error;
    EXPECT_TRUE(ce::res::BuildContainer(in, &bytes, &error)) << error;
    bytes += ce::res::MakeTrailer(0, static_cast<uint32_t>(bytes.size()));
    device.PutFile(u"\\Windows\\mfctest.dll", bytes);
    module_ = LoadLibraryExW(u"\\Windows\\mfctest.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_NE(module_, nullptr);
    AfxSetResourceHandle(module_);
  }
  ~ResourceModule() {
    AfxSetResourceHandle(nullptr);
    if (module_ != nullptr) FreeLibrary(module_);
  }
  HMODULE get() const { return module_; }

 private:
  HMODULE module_ = nullptr;
};

// Runs one queued step per idle call; with no step left the loop stalls
// (the innermost modal loop ends with IDCANCEL).
class Steps {
 public:
  Steps() {
    ui::SetIdleDriver([this] {
      if (steps_.empty()) return false;
      if (steps_.front().until) {
        // Idle without progress (the clock may jump to a timer) until true.
        if (!steps_.front().until()) return false;
        steps_.pop_front();
        return true;
      }
      auto step = std::move(steps_.front().step);
      steps_.pop_front();
      step();
      return true;
    });
    ui::SetStallHandler([this](const std::string&) { ++stalls; });
  }
  ~Steps() {
    ui::SetIdleDriver(nullptr);
    ui::SetStallHandler(nullptr);
  }
  Steps& Then(std::function<void()> step) {
    steps_.push_back({std::move(step), nullptr});
    return *this;
  }
  Steps& WaitFor(std::function<bool()> until) {
    steps_.push_back({nullptr, std::move(until)});
    return *this;
  }
  size_t Left() const { return steps_.size(); }
  int stalls = 0;

 private:
  struct Step {
    std::function<void()> step;
    std::function<bool()> until;
  };
  std::deque<Step> steps_;
};

// The dialog this process shows on top (the active window).
inline HWND ActiveDialog() { return GetActiveWindow(); }

inline std::u16string ItemText(HWND dlg, int id) {
  WCHAR buf[256] = {};
  GetDlgItemTextW(dlg, id, buf, 256);
  return buf;
}

// What a click on a push button tells its dialog.
inline void Click(HWND dlg, int id) {
  SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

}  // namespace mfctest
