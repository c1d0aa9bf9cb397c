// The screen front end: reads the screen file a device program writes
// (format: ui/ScreenFormat.h) and draws it with Qt. It holds no state of its
// own: what it draws is what the file says.
#pragma once

#include <QImage>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ui::qt {

struct ScreenItem {
  std::u16string text;
};

struct ScreenControl {
  uint64_t hwnd = 0, parent = 0;
  std::u16string className;
  int id = 0;
  int x = 0, y = 0, width = 0, height = 0;  // screen pixels
  uint32_t style = 0;
  std::u16string text;
  bool visible = true, enabled = true, focus = false, dropped = false;
  int checked = 0;
  int pos = 0, min = 0, max = 100, curSel = -1;
  std::vector<ScreenItem> items;
};

struct ScreenWindow {
  uint64_t hwnd = 0;
  std::u16string className, title;
  int id = 0;
  int x = 0, y = 0, width = 0, height = 0;
  uint32_t style = 0;
  uint64_t focus = 0;
  bool active = false;
  std::vector<ScreenControl> controls;
};

struct ScreenModel {
  int width = 0, height = 0;  // device screen pixels
  int workTop = 0, workBottom = 0;
  int scale = 1;              // the device's display scale
  std::u16string program;
  int64_t pid = 0;            // the writer's host process id; 0: not given
  std::vector<ScreenWindow> windows;  // bottom to top
};

// Limits a screen file must keep.
inline constexpr int kMaxScreenSide = 4096;
inline constexpr int kMaxViewScale = 8;

bool ParseScreen(const std::string& xml, ScreenModel* out, std::string* error);

// False when the file names its writer and that process has ended (what it
// shows is stale).
bool WriterAlive(const ScreenModel& screen);

// Makes sure a QApplication exists (offscreen when there is no display and
// QT_QPA_PLATFORM is unset); false when only a non-widget application exists.
bool EnsureApplication(std::string* error);

// Draws the screen file at (device width x scale, device height x scale);
// a null image with *error on a malformed file or a bad scale (1..8).
QImage RenderScreen(const ScreenModel& screen, int scale, std::string* error);
QImage RenderScreen(const std::string& screenXml, int scale, std::string* error);

// Reads screenXml, renders it and writes a PNG.
bool WriteScreenshot(const std::filesystem::path& screenXml, const std::filesystem::path& png, int scale,
                     std::string* error);

}  // namespace ui::qt
