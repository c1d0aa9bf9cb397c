// Reading the screen file into a ScreenModel.
#include <pugixml.hpp>
#include <signal.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <string_view>

#include "ce/numtext.h"
#include "ce/text.h"
#include "ui/ScreenFormat.h"
#include "ui/qt/ScreenModel.h"

namespace ui::qt {
namespace {

namespace sf = ui::screen;

// Decimal (optionally negative) or 0x-hex, up to 64 bits.
bool ParseInt(const char* text, int64_t min, int64_t max, int64_t* out) {
  return ce::ParseInteger(text, min, max, out, true, 20);
}

class Reader {
 public:
  explicit Reader(std::string* error) : error_(error) {}

  bool Run(const std::string& xml, ScreenModel* out) {
    if (xml.size() > kMaxScreenFileBytes)
      return Fail("larger than " + std::to_string(kMaxScreenFileBytes) + " bytes");
    pugi::xml_document doc;
    const auto r = doc.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!r) return Fail(std::string("XML error at offset ") + std::to_string(r.offset) + ": " + r.description());
    const auto root = doc.document_element();
    if (!root || std::strcmp(root.name(), sf::kScreen) != 0) return Fail("the top element must be <screen>");
    ScreenModel m;
    const int side = kMaxScreenSide;
    if (!Int(root, sf::kWidth, true, 1, side, &m.width) || !Int(root, sf::kHeight, true, 1, side, &m.height))
      return false;
    m.workBottom = m.height;
    if (!Int(root, sf::kWorkTop, false, 0, m.height, &m.workTop) ||
        !Int(root, sf::kWorkBottom, false, m.workTop, m.height, &m.workBottom) ||
        !Int(root, sf::kScale, false, 1, 64, &m.scale) || !Text(root, sf::kProgram, &m.program))
      return false;
    m.cursor = root.attribute(sf::kCursor).value();
    if (m.cursor.size() > 16) return Bad(sf::kCursor, root.attribute(sf::kCursor).value());
    if (const auto a = root.attribute(sf::kPid)) {
      if (!ParseInt(a.value(), 1, INT32_MAX, &m.pid)) return Bad(sf::kPid, a.value());
    }
    // Images first: windows name them by key.
    for (const auto& i : root.children(sf::kImage)) {
      if (m.images.size() >= kMaxScreenImages)
        return Fail("more than " + std::to_string(kMaxScreenImages) + " images");
      ScreenImage img;
      int key = -1;
      if (!Int(i, sf::kKey, true, 0, INT32_MAX, &key) || !DecodeImage(i, &img)) return false;
      if (!imageKeys_.emplace(key, static_cast<int>(m.images.size())).second)
        return Fail("image key " + std::to_string(key) + " given twice");
      m.images.push_back(std::move(img));
    }
    for (const auto& w : root.children(sf::kWindow)) {
      if (m.windows.size() >= kMaxScreenWindows)
        return Fail("more than " + std::to_string(kMaxScreenWindows) + " windows");
      ScreenWindow win;
      if (!Window(w, &win)) return false;
      m.windows.push_back(std::move(win));
    }
    *out = std::move(m);
    return true;
  }

 private:
  bool Window(const pugi::xml_node& n, ScreenWindow* w) {
    where_ = "window";
    if (!Handle(n, sf::kHwnd, true, &w->hwnd)) return false;
    where_ = "window " + std::to_string(w->hwnd);
    int active = 0;
    if (!Text(n, sf::kClass, &w->className) || !Text(n, sf::kTitle, &w->title) ||
        !Int(n, sf::kId, false, INT32_MIN, INT32_MAX, &w->id) || !Rect(n, &w->x, &w->y, &w->width, &w->height) ||
        !Style(n, &w->style) || !Handle(n, sf::kFocus, false, &w->focus) ||
        !Int(n, sf::kActive, false, 0, 1, &active))
      return false;
    w->active = active != 0;
    if (!Drawing(n, &w->drawing)) return false;
    for (const auto& c : n.children(sf::kControl)) {
      if (++controls_ > kMaxScreenControls)
        return Fail("more than " + std::to_string(kMaxScreenControls) + " controls");
      ScreenControl ctl;
      if (!Control(c, &ctl)) return false;
      ctl.focus = ctl.focus || (w->focus && w->focus == ctl.hwnd);
      w->controls.push_back(std::move(ctl));
    }
    return true;
  }

  bool Control(const pugi::xml_node& n, ScreenControl* c) {
    const std::string window = where_;
    if (!Handle(n, sf::kHwnd, true, &c->hwnd)) return false;
    where_ = window + ", control " + std::to_string(c->hwnd);
    int visible = 1, enabled = 1, focus = 0, dropped = 0;
    bool ok = Handle(n, sf::kParent, false, &c->parent) && Text(n, sf::kClass, &c->className) &&
              Int(n, sf::kId, false, INT32_MIN, INT32_MAX, &c->id) && Rect(n, &c->x, &c->y, &c->width, &c->height) &&
              Style(n, &c->style) && Text(n, sf::kText, &c->text) && Int(n, sf::kVisible, false, 0, 1, &visible) &&
              Int(n, sf::kEnabled, false, 0, 1, &enabled) && Int(n, sf::kFocus, false, 0, 1, &focus) &&
              Int(n, sf::kDropped, false, 0, 1, &dropped) && Int(n, sf::kChecked, false, 0, 2, &c->checked) &&
              Int(n, sf::kPos, false, INT32_MIN, INT32_MAX, &c->pos) &&
              Int(n, sf::kMin, false, INT32_MIN, INT32_MAX, &c->min) &&
              Int(n, sf::kMax, false, INT32_MIN, INT32_MAX, &c->max) &&
              Int(n, sf::kCurSel, false, -1, INT32_MAX, &c->curSel);
    if (!ok) return false;
    c->visible = visible;
    c->enabled = enabled;
    c->focus = focus;
    c->dropped = dropped;
    if (!Items(n, &c->items)) return false;
    for (const auto& p : n.children(sf::kPane)) {
      if (++items_ > kMaxScreenItems) return Fail("more than " + std::to_string(kMaxScreenItems) + " items");
      ScreenPane pane;
      if (!Rect(p, &pane.x, &pane.y, &pane.width, &pane.height) || !Items(p, &pane.items)) return false;
      c->panes.push_back(std::move(pane));
    }
    // <row> and top= mean different things in tree views and list views.
    const bool tree = ce::EqualNoCase(c->className, sf::kTreeViewClass);
    const bool list = ce::EqualNoCase(c->className, sf::kListViewClass);
    if (!Look(n, &c->look) || (tree && !Tree(n, &c->tree)) || (list && !ListView(n, c)) ||
        !Drawing(n, &c->drawing))
      return false;
    where_ = window;
    return true;
  }

  bool Items(const pugi::xml_node& n, std::vector<ScreenItem>* out) {
    for (const auto& i : n.children(sf::kItem)) {
      if (++items_ > kMaxScreenItems) return Fail("more than " + std::to_string(kMaxScreenItems) + " items");
      ScreenItem item;
      int enabled = 1, checked = 0, separator = 0, popup = 0, open = 0;
      if (!Text(i, sf::kText, &item.text) || !Int(i, sf::kId, false, 0, 0xFFFF, &item.id) ||
          !Rect(i, &item.x, &item.y, &item.width, &item.height) || !Int(i, sf::kImage, false, -1, 0xFFFF, &item.image) || !ImageRef(i, sf::kIcon, &item.icon) ||
          !Int(i, sf::kEnabled, false, 0, 1, &enabled) || !Int(i, sf::kChecked, false, 0, 1, &checked) ||
          !Int(i, sf::kSeparator, false, 0, 1, &separator) || !Int(i, sf::kPopup, false, 0, 1, &popup) ||
          !Int(i, sf::kOpen, false, 0, 1, &open))
        return false;
      item.enabled = enabled;
      item.checked = checked;
      item.separator = separator;
      item.popup = popup;
      item.open = open;
      out->push_back(std::move(item));
    }
    return true;
  }

  bool Color(const pugi::xml_node& n, const char* name, bool* has, uint32_t* out) {
    const auto a = n.attribute(name);
    if (!a) return true;
    const char* v = a.value();
    int64_t c = 0;
    if (v[0] != '#' || std::strlen(v) != 7 || !ParseInt((std::string("0x") + (v + 1)).c_str(), 0, 0xFFFFFF, &c))
      return Bad(name, v);
    *has = true;
    *out = static_cast<uint32_t>(c);
    return true;
  }

  bool Look(const pugi::xml_node& n, ScreenLook* look) {
    int bold = 0, underline = 0;
    if (!Int(n, sf::kFontHeight, false, 0, 512, &look->fontHeight) || !Int(n, sf::kBold, false, 0, 1, &bold) ||
        !Int(n, sf::kUnderline, false, 0, 1, &underline) || !Color(n, sf::kTextColor, &look->hasColor, &look->color))
      return false;
    look->bold = bold;
    look->underline = underline;
    return true;
  }

  bool Drawing(const pugi::xml_node& n, std::vector<ScreenDraw>* out) {
    const int m = 8 * kMaxScreenSide;
    for (const auto& d : n.children(sf::kDraw)) {
      if (++draws_ > kMaxScreenDraws) return Fail("more than " + std::to_string(kMaxScreenDraws) + " drawings");
      ScreenDraw op;
      const std::string kind = d.attribute(sf::kKind).value();
      if (kind == sf::kDrawLine) op.kind = ScreenDraw::Kind::Line;
      else if (kind == sf::kDrawFill) op.kind = ScreenDraw::Kind::Fill;
      else if (kind == sf::kDrawFrame) op.kind = ScreenDraw::Kind::Frame;
      else if (kind == sf::kDrawText) op.kind = ScreenDraw::Kind::Text;
      else if (kind == sf::kDrawImage) op.kind = ScreenDraw::Kind::Image;
      else return Bad(sf::kKind, kind.c_str());
      if (!ImageRef(d, sf::kImage, &op.image)) return false;
      if (op.kind == ScreenDraw::Kind::Image && op.image < 0) return Fail(std::string(sf::kImage) + " missing");
      bool hasColor = false;
      ScreenLook look;
      int64_t format = 0;
      const auto f = d.attribute(sf::kFormat);
      if (f && !ParseInt(f.value(), 0, 0xFFFFFFFFll, &format)) return Bad(sf::kFormat, f.value());
      if (!Int(d, sf::kX, false, -m, m, &op.x) || !Int(d, sf::kY, false, -m, m, &op.y) ||
          !Int(d, sf::kX2, false, -m, m, &op.x2) || !Int(d, sf::kY2, false, -m, m, &op.y2) ||
          !Color(d, sf::kColor, &hasColor, &op.color) || !Text(d, sf::kText, &op.text) || !Look(d, &look))
        return false;
      op.format = static_cast<uint32_t>(format);
      op.fontHeight = look.fontHeight;
      op.bold = look.bold;
      op.underline = look.underline;
      out->push_back(std::move(op));
    }
    return true;
  }

  // A tree view's layout and rows (all optional; rows count as items).
  bool Tree(const pugi::xml_node& n, ScreenTree* t) {
    const int m = 8 * kMaxScreenSide;
    if (!Int(n, sf::kTop, false, 0, INT32_MAX, &t->top) || !Int(n, sf::kTotal, false, 0, INT32_MAX, &t->total) ||
        !Int(n, sf::kInView, false, 1, m, &t->inView) || !Int(n, sf::kIndent, false, 0, m, &t->indent) ||
        !Int(n, sf::kItemHeight, false, 1, m, &t->itemHeight) || !Int(n, sf::kStateWidth, false, 0, m, &t->stateWidth) ||
        !Int(n, sf::kImageWidth, false, 0, m, &t->imageWidth) || !Int(n, sf::kScrollBar, false, 0, m, &t->scrollBar))
      return false;
    for (const auto& r : n.children(sf::kRow)) {
      if (++items_ > kMaxScreenItems) return Fail("more than " + std::to_string(kMaxScreenItems) + " items");
      ScreenTreeRow row;
      int selected = 0;
      if (!Text(r, sf::kText, &row.text) || !Int(r, sf::kLevel, false, 0, m, &row.level) ||
          !Int(r, sf::kX, false, -m, m, &row.x) || !Int(r, sf::kImage, false, INT32_MIN, INT32_MAX, &row.image) ||
          !ImageRef(r, sf::kIcon, &row.icon) ||
          !Int(r, sf::kState, false, 0, 15, &row.state) || !Int(r, sf::kButton, false, 0, 2, &row.button) ||
          !Int(r, sf::kSelected, false, 0, 1, &selected))
        return false;
      row.selected = selected;
      t->rows.push_back(std::move(row));
    }
    return true;
  }

  bool ListView(const pugi::xml_node& n, ScreenControl* c) {
    const int m = 8 * kMaxScreenSide;
    if (!Int(n, sf::kTop, false, 0, INT32_MAX, &c->top) || !Int(n, sf::kHeaderHeight, false, 0, m, &c->headerHeight) ||
        !Int(n, sf::kRowHeight, false, 0, m, &c->rowHeight))
      return false;
    for (const auto& col : n.children(sf::kColumn)) {
      if (++items_ > kMaxScreenItems) return Fail("more than " + std::to_string(kMaxScreenItems) + " items");
      ScreenColumn sc;
      if (!Text(col, sf::kText, &sc.text) || !Int(col, sf::kWidth, false, 0, m, &sc.width)) return false;
      c->columns.push_back(std::move(sc));
    }
    for (const auto& r : n.children(sf::kRow)) {
      if (++items_ > kMaxScreenItems) return Fail("more than " + std::to_string(kMaxScreenItems) + " items");
      ScreenRow row;
      int selected = 0, focused = 0;
      if (!ImageRef(r, sf::kIcon, &row.icon) || !Int(r, sf::kSelected, false, 0, 1, &selected) ||
          !Int(r, sf::kFocused, false, 0, 1, &focused))
        return false;
      row.selected = selected;
      row.focused = focused;
      for (const auto& cell : r.children(sf::kCell)) {
        if (++items_ > kMaxScreenItems) return Fail("more than " + std::to_string(kMaxScreenItems) + " items");
        std::u16string t;
        if (!Text(cell, sf::kText, &t)) return false;
        row.cells.push_back(std::move(t));
      }
      c->rows.push_back(std::move(row));
    }
    return true;
  }

  // An attribute naming an image of the pool; absent: none (-1).
  bool ImageRef(const pugi::xml_node& n, const char* name, int* out) {
    *out = -1;
    if (!n.attribute(name)) return true;
    int key = -1;
    if (!Int(n, name, true, 0, INT32_MAX, &key)) return false;
    auto it = imageKeys_.find(key);
    if (it == imageKeys_.end()) return Fail("no image with key " + std::to_string(key));
    *out = it->second;
    return true;
  }

  bool DecodeImage(const pugi::xml_node& n, ScreenImage* img) {
    const int side = sf::kMaxImageSide;
    if (!Int(n, sf::kWidth, true, 0, side, &img->width) || !Int(n, sf::kHeight, true, 0, side, &img->height))
      return false;
    const std::string_view text = n.attribute(sf::kRgba).value();
    const size_t pixels = static_cast<size_t>(img->width) * static_cast<size_t>(img->height);
    if ((pixels_ += pixels) > sf::kMaxImagePixels)
      return Fail("images of more than " + std::to_string(sf::kMaxImagePixels) + " pixels");
    if (text.size() != (pixels * 4 + 2) / 3 * 4) return Bad(sf::kRgba, "(wrong length)");
    std::vector<uint8_t> bytes;
    bytes.reserve(pixels * 4 + 2);
    for (size_t i = 0; i < text.size(); i += 4) {
      uint32_t v = 0;
      int pad = 0;
      for (size_t k = 0; k < 4; ++k) {
        const char ch = text[i + k];
        int d;
        if (ch >= 'A' && ch <= 'Z') d = ch - 'A';
        else if (ch >= 'a' && ch <= 'z') d = ch - 'a' + 26;
        else if (ch >= '0' && ch <= '9') d = ch - '0' + 52;
        else if (ch == '+') d = 62;
        else if (ch == '/') d = 63;
        else if (ch == '=' && i + 4 == text.size() && k >= 2) d = 0, ++pad;
        else return Bad(sf::kRgba, "(not base64)");
        if (pad && ch != '=') return Bad(sf::kRgba, "(not base64)");
        v = (v << 6) | static_cast<uint32_t>(d);
      }
      bytes.push_back(static_cast<uint8_t>(v >> 16));
      if (pad < 2) bytes.push_back(static_cast<uint8_t>(v >> 8));
      if (pad < 1) bytes.push_back(static_cast<uint8_t>(v));
    }
    if (bytes.size() != pixels * 4) return Bad(sf::kRgba, "(wrong length)");
    img->argb.resize(pixels);
    for (size_t p = 0; p < pixels; ++p)
      img->argb[p] = (uint32_t{bytes[p * 4 + 3]} << 24) | (uint32_t{bytes[p * 4]} << 16) |
                     (uint32_t{bytes[p * 4 + 1]} << 8) | bytes[p * 4 + 2];
    return true;
  }

  bool Rect(const pugi::xml_node& n, int* x, int* y, int* w, int* h) {
    const int m = 8 * kMaxScreenSide;
    return Int(n, sf::kX, false, -m, m, x) && Int(n, sf::kY, false, -m, m, y) &&
           Int(n, sf::kWidth, false, 0, m, w) && Int(n, sf::kHeight, false, 0, m, h);
  }

  bool Style(const pugi::xml_node& n, uint32_t* out) {
    int64_t v = 0;
    const auto a = n.attribute(sf::kStyle);
    if (!a) return true;
    if (!ParseInt(a.value(), 0, 0xFFFFFFFFll, &v)) return Bad(sf::kStyle, a.value());
    *out = static_cast<uint32_t>(v);
    return true;
  }

  bool Handle(const pugi::xml_node& n, const char* name, bool required, uint64_t* out) {
    const auto a = n.attribute(name);
    if (!a) return !required || Fail(std::string(name) + " missing");
    int64_t v;
    // A window's own handle is never 0; a handle it refers to may be (none).
    if (!ParseInt(a.value(), required ? 1 : 0, INT64_MAX, &v)) return Bad(name, a.value());
    *out = static_cast<uint64_t>(v);
    return true;
  }

  bool Int(const pugi::xml_node& n, const char* name, bool required, int64_t min, int64_t max, int* out) {
    const auto a = n.attribute(name);
    if (!a) return !required || Fail(std::string(name) + " missing");
    int64_t v;
    if (!ParseInt(a.value(), min, max, &v)) return Bad(name, a.value());
    *out = static_cast<int>(v);
    return true;
  }

  bool Text(const pugi::xml_node& n, const char* name, std::u16string* out) {
    *out = ce::FromUtf8(n.attribute(name).value());
    return true;
  }

  bool Bad(const char* name, const char* value) {
    return Fail(std::string("bad ") + name + " \"" + value + "\"");
  }
  bool Fail(const std::string& message) {
    if (error_) *error_ = "screen file: " + (where_.empty() ? message : where_ + ": " + message);
    return false;
  }

  std::string* error_;
  std::string where_;
  size_t controls_ = 0, items_ = 0, draws_ = 0;
  std::map<int, int> imageKeys_;  // key -> index in ScreenModel::images
  size_t pixels_ = 0;
};

}  // namespace

bool ParseScreen(const std::string& xml, ScreenModel* out, std::string* error) {
  return Reader(error).Run(xml, out);
}

bool ReadScreenFile(const std::filesystem::path& file, std::string* xml, std::string* error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot read " + file.string();
    return false;
  }
  std::string data;
  char chunk[64 * 1024];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    data.append(chunk, static_cast<size_t>(in.gcount()));
    if (data.size() > kMaxScreenFileBytes) {
      if (error)
        *error = "screen file: " + file.string() + " is larger than " + std::to_string(kMaxScreenFileBytes) + " bytes";
      return false;
    }
  }
  if (in.bad()) {
    if (error) *error = "cannot read " + file.string();
    return false;
  }
  *xml = std::move(data);
  return true;
}

bool WriterAlive(const ScreenModel& screen) {
  if (screen.pid <= 0) return true;
  return ::kill(static_cast<pid_t>(screen.pid), 0) == 0 || errno == EPERM;
}

}  // namespace ui::qt
