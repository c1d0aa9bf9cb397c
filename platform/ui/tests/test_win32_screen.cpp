// Screen mode end to end: a stand-in front end (another thread) reads only
// the screen file and posts taps to the windows it names, as the real one
// does from its own process.
#include <pugixml.hpp>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "ce/msgbox.h"
#include "testkit/TestDevice.h"
#include "ui/ScreenFile.h"
#include "win32_support.h"

using namespace w32test;

namespace {

// Waits until the screen file's topmost window has that title, then taps
// the centre of its control `id`. False when it never shows up.
bool TapInScreenFile(const std::filesystem::path& file, const char* title, int id) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    std::ifstream f(file);
    std::stringstream text;
    text << f.rdbuf();
    pugi::xml_document doc;
    if (doc.load_string(text.str().c_str())) {
      pugi::xml_node top = doc.child("screen").last_child();
      if (top && std::string(top.attribute("title").value()) == title) {
        pugi::xml_node c = top.find_child_by_attribute("control", "id", std::to_string(id).c_str());
        if (!c) return false;
        int x = c.attribute("x").as_int() + c.attribute("width").as_int() / 2;
        int y = c.attribute("y").as_int() + c.attribute("height").as_int() / 2;
        HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(top.attribute("hwnd").as_ullong()));
        return TapAt(hwnd, x, y), true;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

INT_PTR AskingProc(HWND h, UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_COMMAND && LOWORD(wParam) == 1001) {
    if (MessageBoxW(h, u"Really go?", u"Question", MB_OKCANCEL) == IDOK) EndDialog(h, 99);
    return TRUE;
  }
  if (msg == WM_COMMAND && LOWORD(wParam) == IDCANCEL) EndDialog(h, IDCANCEL);
  return msg == WM_INITDIALOG;
}

TEST(Win32Screen, FrontEndTapsReachADialogAndItsWindowedBox) {
  quilmo::test::TestDevice dev;
  ui::SetMode(ui::Mode::Screen);
  ce::DialogTemplate t;
  t.id = 77;
  t.width = 200;
  t.height = 100;
  t.caption = u"Asker";
  t.controls = {{1001, u"BUTTON", 10, 10, 60, 20, WS_CHILD | WS_VISIBLE | WS_TABSTOP, u"Go"},
                {IDCANCEL, u"BUTTON", 80, 10, 60, 20, WS_CHILD | WS_VISIBLE | WS_TABSTOP, u"Cancel"}};
  bool tappedGo = false, tappedOk = false;
  std::thread frontEnd([&] {
    const auto file = dev.dir() / "screen.xml";
    tappedGo = TapInScreenFile(file, "Asker", 1001);
    tappedOk = tappedGo && TapInScreenFile(file, "Question", IDOK);
  });
  INT_PTR result = DialogBoxIndirectParamW(nullptr, &t, nullptr, AskingProc, 0);
  frontEnd.join();
  ui::SetMode(ui::Mode::Headless);
  EXPECT_TRUE(tappedGo);
  EXPECT_TRUE(tappedOk);
  EXPECT_EQ(result, 99);
  EXPECT_TRUE(ce::OwnTopLevelWindows().empty());
}

}  // namespace
