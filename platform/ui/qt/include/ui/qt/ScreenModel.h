// The screen file a device program writes (format: ui/ScreenFormat.h), read
// into plain data. Needs no Qt: the renderer (ui/qt/Screen.h) draws what
// this reads, and the fuzz build links the reader alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ui::qt {

// An item of a list, a tab or a menu entry; the rectangle, image and menu
// fields only where the file gives them (width 0: no rectangle).
struct ScreenItem {
  std::u16string text;
  int id = 0;
  int x = 0, y = 0, width = 0, height = 0;
  int image = -1;
  int icon = -1;  // a tab's picture: an index into the screen's images
  bool enabled = true, checked = false, separator = false, popup = false, open = false;
};

// An open menu of a menu bar.
struct ScreenPane {
  int x = 0, y = 0, width = 0, height = 0;
  std::vector<ScreenItem> items;
};

// What a program drew (ui/ScreenFormat.h <draw>), screen pixels.
struct ScreenDraw {
  enum class Kind { Line, Fill, Frame, Text, Image };
  Kind kind = Kind::Line;
  int x = 0, y = 0, x2 = 0, y2 = 0;
  uint32_t color = 0;  // 0xRRGGBB
  std::u16string text;
  uint32_t format = 0;
  int fontHeight = 0;  // 0: the default
  bool bold = false, underline = false;
  int image = -1;  // Kind::Image: index in ScreenModel::images
};

// The look a program gave a control's text.
struct ScreenLook {
  int fontHeight = 0;  // 0: the default
  bool bold = false, underline = false;
  bool hasColor = false;
  uint32_t color = 0;  // 0xRRGGBB
};

// A row of a tree view in view (ui/ScreenFormat.h).
struct ScreenTreeRow {
  std::u16string text;
  int level = 0, x = 0, image = 0, state = 0, button = 0;
  int icon = -1;  // the picture: index in ScreenModel::images (-1: none)
  bool selected = false;
};

struct ScreenTree {
  int top = 0, total = 0, inView = 1;
  int indent = 16, itemHeight = 18, stateWidth = 0, imageWidth = 0;
  int scrollBar = 0;  // its width; 0: none
  std::vector<ScreenTreeRow> rows;
};

// An image of the file's pool: top-down rows of 0xAARRGGBB.
struct ScreenImage {
  int width = 0, height = 0;
  std::vector<uint32_t> argb;
};
struct ScreenColumn {
  std::u16string text;
  int width = 0;
};
struct ScreenRow {
  std::vector<std::u16string> cells;
  int icon = -1;  // index in ScreenModel::images
  bool selected = false, focused = false;
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
  ScreenLook look;
  std::vector<ScreenDraw> drawing;
  ScreenTree tree;  // tree views
  std::vector<ScreenPane> panes;  // menu bars
  // List views.
  std::vector<ScreenColumn> columns;
  std::vector<ScreenRow> rows;
  int top = 0, headerHeight = 0, rowHeight = 0;
};

struct ScreenWindow {
  uint64_t hwnd = 0;
  std::u16string className, title;
  int id = 0;
  int x = 0, y = 0, width = 0, height = 0;
  uint32_t style = 0;
  uint64_t focus = 0;
  bool active = false;
  std::vector<ScreenDraw> drawing;  // under the controls
  std::vector<ScreenControl> controls;
};

struct ScreenModel {
  int width = 0, height = 0;  // device screen pixels
  int workTop = 0, workBottom = 0;
  int scale = 1;              // the device's display scale
  std::u16string program;
  std::string cursor;         // "arrow", "wait", "hand" ... ("": none)
  int64_t pid = 0;            // the writer's host process id; 0: not given
  std::vector<ScreenWindow> windows;  // bottom to top
  std::vector<ScreenImage> images;
};

// Limits a screen file must keep: a file beyond them is refused whole, so
// what a reader holds stays small whatever the file says.
inline constexpr int kMaxScreenSide = 4096;
inline constexpr int kMaxViewScale = 8;
inline constexpr size_t kMaxScreenFileBytes = 4u << 20;
inline constexpr size_t kMaxScreenWindows = 256;
inline constexpr size_t kMaxScreenControls = 4096;   // all windows together
inline constexpr size_t kMaxScreenItems = 65536;     // all controls together (items, rows, cells, columns)
inline constexpr size_t kMaxScreenDraws = 65536;     // all windows and controls together
inline constexpr size_t kMaxScreenImages = 4096;

// False with *error when xml is not a screen file within the limits; *out is
// only written on success.
bool ParseScreen(const std::string& xml, ScreenModel* out, std::string* error);

// Reads the file whole; false with *error when it is missing, unreadable or
// larger than kMaxScreenFileBytes (nothing beyond the limit is read).
bool ReadScreenFile(const std::filesystem::path& file, std::string* xml, std::string* error);

// False when the file names its writer and that process has ended (what it
// shows is stale).
bool WriterAlive(const ScreenModel& screen);

}  // namespace ui::qt
