// The screen file: this process's visible top-level windows and their
// controls as the screen front end draws them (ui/ScreenFormat.h).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <pugixml.hpp>
#include <sstream>

#include "ui/Base64.h"
#include "ce/controls.h"
#include "ce/treeview.h"
#include "ce/dialog.h"
#include "ce/process.h"
#include "ce/system.h"
#include "ce/text.h"
#include "ce/gdi.h"
#include "cesim/device.h"
#include "cesim/gdi.h"
#include "cesim/treeview.h"
#include "cesim/menubar.h"
#include "cesim/window.h"
#include "ui/ScreenFile.h"
#include "ui/ScreenFormat.h"
#include "gdi_image.h"
#include "win_internal.h"

namespace ui {
namespace {

namespace sf = screen;

std::string Hex(DWORD v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

std::string HandleText(HWND h) { return std::to_string(reinterpret_cast<uintptr_t>(h)); }

void PutRect(pugi::xml_node n, const RECT& r) {
  n.append_attribute(sf::kX) = r.left;
  n.append_attribute(sf::kY) = r.top;
  n.append_attribute(sf::kWidth) = r.right - r.left;
  n.append_attribute(sf::kHeight) = r.bottom - r.top;
}

bool Is(const ce::ModelWindow& w, std::u16string_view cls) { return ce::EqualNoCase(w.className, cls); }

std::string ColorText(COLORREF c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%02X%02X%02X", static_cast<unsigned>(GetRValue(c)),
                static_cast<unsigned>(GetGValue(c)), static_cast<unsigned>(GetBValue(c)));
  return buf;
}

using ui::screen::Base64;

// The images the file names, each written once at the end of <screen>.
class ImagePool {
 public:
  // The key of an image (-1: none, or beyond what a reader takes).
  int Key(const gdi::ImageRef& image) {
    if (!image) return -1;
    auto it = keys_.find(image.get());
    if (it != keys_.end()) return it->second;
    const size_t pixels = image->argb.size();
    if (image->width > sf::kMaxImageSide || image->height > sf::kMaxImageSide || pixels_ + pixels > sf::kMaxImagePixels)
      return -1;
    pixels_ += pixels;
    const int key = static_cast<int>(images_.size());
    keys_[image.get()] = key;
    images_.push_back(image);
    return key;
  }
  void Write(pugi::xml_node screen) const {
    for (size_t k = 0; k < images_.size(); ++k) {
      const gdi::Image& img = *images_[k];
      std::vector<uint8_t> rgba;
      rgba.reserve(img.argb.size() * 4);
      for (uint32_t px : img.argb) {
        rgba.push_back(static_cast<uint8_t>(px >> 16));
        rgba.push_back(static_cast<uint8_t>(px >> 8));
        rgba.push_back(static_cast<uint8_t>(px));
        rgba.push_back(static_cast<uint8_t>(px >> 24));
      }
      pugi::xml_node n = screen.append_child(sf::kImage);
      n.append_attribute(sf::kKey) = static_cast<int>(k);
      n.append_attribute(sf::kWidth) = img.width;
      n.append_attribute(sf::kHeight) = img.height;
      n.append_attribute(sf::kRgba) = Base64(rgba).c_str();
    }
  }

 private:
  std::map<const gdi::Image*, int> keys_;
  std::vector<gdi::ImageRef> images_;
  size_t pixels_ = 0;
};

const char* KindText(gdi::DrawOp::Kind kind) {
  switch (kind) {
    case gdi::DrawOp::Kind::Line: return sf::kDrawLine;
    case gdi::DrawOp::Kind::Fill: return sf::kDrawFill;
    case gdi::DrawOp::Kind::Frame: return sf::kDrawFrame;
    case gdi::DrawOp::Kind::Text: return sf::kDrawText;
    case gdi::DrawOp::Kind::Image: return sf::kDrawImage;
  }
  return sf::kDrawLine;
}

// What the program drew into a window, in screen pixels, oldest first. An
// image past what a reader takes is left out.
void PutDrawing(pugi::xml_node n, HWND hwnd, ImagePool* pool) {
  POINT origin{0, 0};
  if (!ClientToScreen(hwnd, &origin)) return;
  for (const gdi::DrawOp& op : gdi::DrawingOf(hwnd)) {
    const bool image = op.kind == gdi::DrawOp::Kind::Image;
    const int key = image ? pool->Key(op.image) : -1;
    if (image && key < 0) continue;
    pugi::xml_node d = n.append_child(sf::kDraw);
    d.append_attribute(sf::kKind) = KindText(op.kind);
    d.append_attribute(sf::kX) = op.rect.left + origin.x;
    d.append_attribute(sf::kY) = op.rect.top + origin.y;
    d.append_attribute(sf::kX2) = op.rect.right + origin.x;
    d.append_attribute(sf::kY2) = op.rect.bottom + origin.y;
    if (image) {
      d.append_attribute(sf::kImage) = key;
      continue;
    }
    d.append_attribute(sf::kColor) = ColorText(op.color).c_str();
    if (op.kind != gdi::DrawOp::Kind::Text) continue;
    d.append_attribute(sf::kText) = ce::ToUtf8(op.text).c_str();
    d.append_attribute(sf::kFormat) = Hex(op.format).c_str();
    if (op.fontHeight) d.append_attribute(sf::kFontHeight) = static_cast<int>(op.fontHeight);
    if (op.bold) d.append_attribute(sf::kBold) = 1;
    if (op.underline) d.append_attribute(sf::kUnderline) = 1;
  }
}

// The font set on a control and the text colour its parent chose when it
// last painted.
void PutLook(pugi::xml_node n, const ce::ModelWindow& w) {
  if (auto font = reinterpret_cast<HFONT>(SendMessageW(w.hwnd, WM_GETFONT, 0, 0))) {
    LOGFONTW lf{};
    if (GetObjectW(font, sizeof lf, &lf) == static_cast<int>(sizeof lf)) {
      if (lf.lfHeight) n.append_attribute(sf::kFontHeight) = static_cast<int>(std::labs(lf.lfHeight));
      if (lf.lfWeight >= FW_SEMIBOLD) n.append_attribute(sf::kBold) = 1;
      if (lf.lfUnderline) n.append_attribute(sf::kUnderline) = 1;
    }
  }
  if (w.hasTextColor) n.append_attribute(sf::kTextColor) = ColorText(w.textColor).c_str();
}

void PutListView(pugi::xml_node n, const ce::ModelListView& lv, ImagePool* pool) {
  n.append_attribute(sf::kTop) = lv.top;
  n.append_attribute(sf::kHeaderHeight) = lv.headerHeight;
  n.append_attribute(sf::kRowHeight) = lv.rowHeight;
  for (const auto& c : lv.columns) {
    pugi::xml_node col = n.append_child(sf::kColumn);
    col.append_attribute(sf::kText) = ce::ToUtf8(c.text).c_str();
    col.append_attribute(sf::kWidth) = c.width;
  }
  const gdi::ImageListView icons = gdi::ImageListImages(lv.smallImages);
  for (const auto& it : lv.items) {
    pugi::xml_node row = n.append_child(sf::kRow);
    const int icon = it.image >= 0 && static_cast<size_t>(it.image) < icons.images.size()
                         ? pool->Key(icons.images[static_cast<size_t>(it.image)])
                         : -1;
    if (icon >= 0) row.append_attribute(sf::kIcon) = icon;
    if (it.selected) row.append_attribute(sf::kSelected) = 1;
    if (it.focused) row.append_attribute(sf::kFocused) = 1;
    for (const auto& t : it.texts) row.append_child(sf::kCell).append_attribute(sf::kText) = ce::ToUtf8(t).c_str();
  }
}

// A tree view's rows in view and their layout.
void PutTree(pugi::xml_node n, HWND hwnd, ImagePool* pool) {
  ce::ModelTree t;
  if (!ce::DescribeTree(hwnd, &t)) return;
  n.append_attribute(sf::kTop) = t.top;
  n.append_attribute(sf::kTotal) = t.total;
  n.append_attribute(sf::kInView) = t.inView;
  n.append_attribute(sf::kIndent) = t.indent;
  n.append_attribute(sf::kItemHeight) = t.itemHeight;
  n.append_attribute(sf::kStateWidth) = t.stateWidth;
  n.append_attribute(sf::kImageWidth) = t.imageWidth;
  n.append_attribute(sf::kScrollBar) = t.scrollBarWidth;
  const gdi::ImageListView pictures = gdi::ImageListImages(t.normalImages);
  for (const ce::ModelTreeRow& r : t.rows) {
    pugi::xml_node row = n.append_child(sf::kRow);
    row.append_attribute(sf::kText) = ce::ToUtf8(r.text).c_str();
    row.append_attribute(sf::kLevel) = r.level;
    row.append_attribute(sf::kX) = r.x;
    const int image = r.selected ? r.selectedImage : r.image;
    row.append_attribute(sf::kImage) = image;
    const int icon = image >= 0 && static_cast<size_t>(image) < pictures.images.size()
                         ? pool->Key(pictures.images[static_cast<size_t>(image)])
                         : -1;
    if (icon >= 0) row.append_attribute(sf::kIcon) = icon;
    row.append_attribute(sf::kState) = r.stateImage;
    row.append_attribute(sf::kButton) = r.button;
    row.append_attribute(sf::kSelected) = r.selected ? 1 : 0;
  }
}

// The tabs with their images (the image list's picture too) and
// rectangles (screen).
void PutTabs(pugi::xml_node n, const ce::ModelWindow& w, ImagePool* pool) {
  n.append_attribute(sf::kCurSel) = static_cast<int>(SendMessageW(w.hwnd, TCM_GETCURSEL, 0, 0));
  const int count = static_cast<int>(SendMessageW(w.hwnd, TCM_GETITEMCOUNT, 0, 0));
  const auto list = reinterpret_cast<const void*>(SendMessageW(w.hwnd, TCM_GETIMAGELIST, 0, 0));
  const bool images = list != nullptr;
  const gdi::ImageListView pictures = gdi::ImageListImages(list);
  for (int i = 0; i < count; ++i) {
    WCHAR text[256] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT | TCIF_IMAGE;
    item.pszText = text;
    item.cchTextMax = 256;
    RECT r{};
    if (!SendMessageW(w.hwnd, TCM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item)) ||
        !SendMessageW(w.hwnd, TCM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&r)))
      continue;
    OffsetRect(&r, w.rect.left, w.rect.top);
    pugi::xml_node t = n.append_child(sf::kItem);
    t.append_attribute(sf::kText) = ce::ToUtf8(text).c_str();
    if (images && item.iImage >= 0) {
      t.append_attribute(sf::kImage) = item.iImage;
      if (static_cast<size_t>(item.iImage) < pictures.images.size())
        t.append_attribute(sf::kIcon) = pool->Key(pictures.images[static_cast<size_t>(item.iImage)]);
    }
    PutRect(t, r);
  }
}

void PutMenuEntry(pugi::xml_node parent, const ce::MenuEntryView& e, bool button) {
  pugi::xml_node i = parent.append_child(sf::kItem);
  if (e.id) i.append_attribute(sf::kId) = e.id;
  i.append_attribute(sf::kText) = ce::ToUtf8(e.text).c_str();
  PutRect(i, e.rect);
  if (!button) {
    i.append_attribute(sf::kEnabled) = e.enabled ? 1 : 0;
    i.append_attribute(sf::kChecked) = e.checked ? 1 : 0;
    i.append_attribute(sf::kSeparator) = e.separator ? 1 : 0;
  }
  i.append_attribute(sf::kPopup) = e.popup ? 1 : 0;
  i.append_attribute(sf::kOpen) = e.open ? 1 : 0;
}

// The bar's buttons and its open menus.
void PutMenuBar(pugi::xml_node n, const ce::ModelWindow& w) {
  ce::MenuBarView v;
  if (!ce::DescribeMenuBar(w.hwnd, &v)) return;
  for (const auto& b : v.buttons) PutMenuEntry(n, b, true);
  for (const auto& p : v.panes) {
    pugi::xml_node pane = n.append_child(sf::kPane);
    PutRect(pane, p.rect);
    for (const auto& e : p.entries) PutMenuEntry(pane, e, false);
  }
}

void PutControl(pugi::xml_node parent, const ce::ModelWindow& w, bool shown, HWND focus, ImagePool* pool) {
  pugi::xml_node n = parent.append_child(sf::kControl);
  n.append_attribute(sf::kHwnd) = HandleText(w.hwnd).c_str();
  n.append_attribute(sf::kParent) = HandleText(w.parent).c_str();
  n.append_attribute(sf::kClass) = ce::ToUtf8(w.className).c_str();
  n.append_attribute(sf::kId) = w.id;
  PutRect(n, w.rect);
  n.append_attribute(sf::kStyle) = Hex(w.style).c_str();
  std::u16string text = w.text;
  if (Is(w, u"EDIT") && (w.style & ES_PASSWORD)) text.assign(text.size(), sf::kPasswordMask);
  n.append_attribute(sf::kText) = ce::ToUtf8(text).c_str();
  n.append_attribute(sf::kVisible) = shown ? 1 : 0;
  n.append_attribute(sf::kEnabled) = w.enabled ? 1 : 0;
  if (w.hwnd == focus) n.append_attribute(sf::kFocus) = 1;
  if (Is(w, u"BUTTON")) n.append_attribute(sf::kChecked) = w.check;
  if (Is(w, u"msctls_progress32") || Is(w, u"msctls_updown32")) {
    n.append_attribute(sf::kPos) = w.pos;
    n.append_attribute(sf::kMin) = w.min;
    n.append_attribute(sf::kMax) = w.max;
  }
  if (Is(w, u"COMBOBOX") || Is(w, u"LISTBOX")) {
    n.append_attribute(sf::kCurSel) = w.curSel;
    if (Is(w, u"COMBOBOX")) n.append_attribute(sf::kDropped) = w.dropped ? 1 : 0;
    for (const auto& item : w.items) n.append_child(sf::kItem).append_attribute(sf::kText) = ce::ToUtf8(item).c_str();
  }
  PutLook(n, w);
  if (Is(w, sf::kTreeViewClass)) PutTree(n, w.hwnd, pool);
  if (Is(w, sf::kListViewClass)) PutListView(n, w.listView, pool);
  if (Is(w, WC_TABCONTROLW)) PutTabs(n, w, pool);
  if (Is(w, MENUBAR_CLASSW)) PutMenuBar(n, w);
  PutDrawing(n, w.hwnd, pool);
}

// Controls depth first, in creation order; a child dialog is written as a
// control and followed by its own controls.
// A menu bar comes after its siblings: it is drawn over them.
void PutChildren(pugi::xml_node window, const ce::ModelWindow& parent, bool shown, HWND focus, ImagePool* pool) {
  std::vector<ce::ModelWindow> bars;
  for (HWND c : parent.children) {
    ce::ModelWindow w;
    if (!ce::DescribeWindow(c, &w)) continue;
    if (Is(w, MENUBAR_CLASSW)) {
      bars.push_back(std::move(w));
      continue;
    }
    bool childShown = shown && w.visible;
    PutControl(window, w, childShown, focus, pool);
    PutChildren(window, w, childShown, focus, pool);
  }
  for (const auto& w : bars) PutControl(window, w, shown && w.visible, focus, pool);
}

struct WriterState {
  std::mutex m;
  uint64_t version = 0;
  std::string last;
};
WriterState& Writer() {
  static WriterState* s = new WriterState;
  return *s;
}

}  // namespace

namespace {
std::string Format(bool withWindows);
}  // namespace

std::string FormatScreen() { return Format(true); }

namespace {
std::string Format(bool withWindows) {
  pugi::xml_document doc;
  pugi::xml_node root = doc.append_child(sf::kScreen);
  ce::Device* d = ce::Device::Current();
  const int width = d ? d->GetProfile().screenWidth : 240;
  const int height = d ? d->GetProfile().screenHeight : 320;
  root.append_attribute(sf::kWidth) = width;
  root.append_attribute(sf::kHeight) = height;
  root.append_attribute(sf::kWorkTop) = ce::kTopBarHeight;
  root.append_attribute(sf::kWorkBottom) = height;
  root.append_attribute(sf::kScale) = ce::GetDisplayScale();
  root.append_attribute(sf::kPid) = static_cast<long long>(getpid());
  root.append_attribute(sf::kProgram) = ce::ToUtf8(ce::OwnProgramPath()).c_str();
  root.append_attribute(sf::kCursor) = ce::CursorName(GetCursor());
  HWND focus = GetFocus();
  HWND active = GetActiveWindow();
  ImagePool pool;
  for (HWND h : withWindows ? ce::OwnTopLevelWindows() : std::vector<HWND>()) {
    ce::ModelWindow w;
    if (!ce::DescribeWindow(h, &w) || !w.visible) continue;
    pugi::xml_node n = root.append_child(sf::kWindow);
    n.append_attribute(sf::kHwnd) = HandleText(h).c_str();
    n.append_attribute(sf::kClass) = ce::ToUtf8(w.className).c_str();
    n.append_attribute(sf::kId) = ce::GetDialogTemplateId(h);
    n.append_attribute(sf::kTitle) = ce::ToUtf8(w.text).c_str();
    PutRect(n, w.rect);
    n.append_attribute(sf::kStyle) = Hex(w.style).c_str();
    bool ownsFocus = focus && (focus == h || IsChild(h, focus));
    n.append_attribute(sf::kFocus) = HandleText(ownsFocus ? focus : nullptr).c_str();
    n.append_attribute(sf::kActive) = h == active ? 1 : 0;
    PutDrawing(n, h, &pool);
    PutChildren(n, w, true, focus, &pool);
  }
  pool.Write(root);
  std::ostringstream out;
  doc.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
  return out.str();
}
}  // namespace

std::filesystem::path ScreenFilePath() {
  ce::Device* d = ce::Device::Current();
  return d ? d->Dir() / sf::kFileName : std::filesystem::path();
}

namespace {
bool WriteText(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::path tmp = file;
  tmp += ".tmp" + std::to_string(getpid());
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f << text;
    if (!f.flush()) return false;
  }
  std::error_code ec;
  std::filesystem::rename(tmp, file, ec);
  if (ec) std::filesystem::remove(tmp, ec);
  return !ec;
}
}  // namespace

bool WriteScreenFile(const std::filesystem::path& file) {
  detail::EnsureInstalled();
  return !file.empty() && WriteText(file, FormatScreen());
}

namespace detail {

void UpdateScreenFile() {
  ce::Device* d = ce::Device::Current();
  if (!d) return;
  WriterState& w = Writer();
  std::lock_guard<std::mutex> g(w.m);
  // Both only grow: their sum changes whenever either does.
  uint64_t v = ce::WindowModelVersion() + gdi::DrawingVersion();
  if (v == w.version) return;
  w.version = v;
  // A process that never had a window leaves the file to others.
  if (w.last.empty() && ce::OwnTopLevelWindows().empty()) return;
  std::string text = FormatScreen();
  if (text == w.last) return;
  if (WriteText(ScreenFilePath(), text)) {
    // When the program ends its windows go: the file must not keep them.
    static const pid_t registered = [] {
      std::atexit([] {
        if (getpid() == registered && ce::Device::Current()) WriteText(ScreenFilePath(), Format(false));
      });
      return getpid();
    }();
    w.last = std::move(text);
  }
}

}  // namespace detail
}  // namespace ui
