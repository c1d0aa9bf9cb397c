// Drawing a screen model with QPainter and the Fusion style.
#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPolygon>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOption>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <memory>

#include "ui/qt/Screen.h"
// Device constants after Qt: they are plain macros.
#include "ce/controls.h"
#include "ce/gdi.h"
#include "ce/datetime.h"
#include "ce/shell.h"
#include "ce/window.h"

namespace ui::qt {
namespace {

constexpr int kMaxImageSide = 8192;

QString Q(const std::u16string& s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }

std::u16string Upper(std::u16string s) {
  for (auto& c : s)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return s;
}

bool IsBubble(const ScreenWindow& w) { return Upper(w.className) == Upper(kNotificationBubbleClass); }

class Painter {
 public:
  Painter(QPainter* p, QStyle* style, const ScreenModel& m) : p_(p), style_(style), m_(m) {
    palette_ = style_->standardPalette();
    font_ = QFont(QStringLiteral("DejaVu Sans"));
    font_.setPixelSize(11 * m.scale);
    font_.setStyleStrategy(QFont::PreferAntialias);
    p_->setFont(font_);
    lineHeight_ = QFontMetrics(font_).height();
  }

  void Draw() {
    p_->fillRect(0, 0, m_.width, m_.height, QColor(0xD8, 0xDE, 0xE8));  // the desktop
    for (const auto& w : m_.windows) Window(w);
    TitleStrip();
    if (m_.workBottom < m_.height) {
      const QRect bar(0, m_.workBottom, m_.width, m_.height - m_.workBottom);
      p_->fillRect(bar, palette_.color(QPalette::Button));
      p_->setPen(palette_.color(QPalette::Mid));
      p_->drawLine(bar.topLeft(), bar.topRight());
    }
  }

 private:
  void TitleStrip() {
    if (m_.workTop <= 0) return;
    const QRect strip(0, 0, m_.width, m_.workTop);
    QLinearGradient g(strip.topLeft(), strip.bottomLeft());
    g.setColorAt(0, QColor(0x2A, 0x5C, 0xAA));
    g.setColorAt(1, QColor(0x0A, 0x24, 0x6A));
    p_->fillRect(strip, g);
    // The top bar names the topmost window that is no notification bubble.
    std::u16string title;
    for (auto w = m_.windows.rbegin(); w != m_.windows.rend(); ++w) {
      if (IsBubble(*w)) continue;
      title = w->title;
      break;
    }
    QFont bold = font_;
    bold.setBold(true);
    p_->setFont(bold);
    p_->setPen(Qt::white);
    const int margin = 4 * m_.scale;
    p_->drawText(strip.adjusted(margin, 0, -margin, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                 QFontMetrics(bold).elidedText(Q(title), Qt::ElideRight, strip.width() - 2 * margin));
    p_->setFont(font_);
    if (m_.cursor == "wait") Hourglass(QRect(strip.right() - strip.height(), 0, strip.height(), strip.height()));
  }

  // The wait cursor: an hourglass at the right of the top bar.
  void Hourglass(const QRect& box) {
    const QRect r = box.adjusted(box.width() / 4, box.height() / 5, -box.width() / 4, -box.height() / 5);
    const QPolygon glass({r.topLeft(), r.topRight(), r.bottomLeft(), r.bottomRight()});
    p_->setPen(QPen(Qt::white, std::max(1, m_.scale)));
    p_->setBrush(QColor(0xF0, 0xD0, 0x60));
    p_->drawPolygon(glass);
    p_->setBrush(Qt::NoBrush);
  }

  void Window(const ScreenWindow& w) {
    const QRect r(w.x, w.y, w.width, w.height);
    if (r.isEmpty()) return;
    p_->save();
    p_->setClipRect(r);
    p_->fillRect(r, IsBubble(w) ? QColor(0xFF, 0xFB, 0xE0) : QColor(Qt::white));
    if (w.style & (WS_BORDER | WS_DLGFRAME)) {
      p_->setPen(QColor(0x40, 0x40, 0x40));
      p_->drawRect(r.adjusted(0, 0, -1, -1));
    }
    Drawing(w.drawing, r);
    for (const auto& c : w.controls)
      if (c.visible && c.width > 0 && c.height > 0) Control(c);
    p_->restore();
  }

  // A device font height (pixels on the device) as a Qt pixel size, in
  // proportion to the default 13-pixel font drawn at 11.
  QFont FontFor(int deviceHeight, bool bold, bool underline) const {
    QFont f = font_;
    if (deviceHeight > 0) f.setPixelSize(std::max(1, deviceHeight * 11 / 13));
    f.setBold(bold);
    f.setUnderline(underline);
    return f;
  }

  static QColor Rgb(uint32_t c) { return QColor((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); }

  // What the program drew on a window or control (lines, rectangles, text,
  // bitmaps and images), clipped to it.
  void Drawing(const std::vector<ScreenDraw>& ops, const QRect& clip) {
    if (ops.empty()) return;
    p_->save();
    p_->setClipRect(clip, Qt::IntersectClip);
    p_->setRenderHint(QPainter::Antialiasing, false);  // device lines are whole pixels
    for (const ScreenDraw& d : ops) {
      const QRect r(QPoint(std::min(d.x, d.x2), std::min(d.y, d.y2)),
                    QPoint(std::max(d.x, d.x2) - 1, std::max(d.y, d.y2) - 1));
      switch (d.kind) {
        case ScreenDraw::Kind::Line:
          p_->setPen(QPen(Rgb(d.color), 1));
          p_->drawLine(d.x, d.y, d.x2, d.y2);
          break;
        case ScreenDraw::Kind::Fill: p_->fillRect(r, Rgb(d.color)); break;
        case ScreenDraw::Kind::Frame:
          p_->setPen(QPen(Rgb(d.color), 1));
          p_->setBrush(Qt::NoBrush);
          p_->drawRect(r.adjusted(0, 0, -1, -1));
          break;
        case ScreenDraw::Kind::Text: {
          p_->save();
          p_->setFont(FontFor(d.fontHeight, d.bold, d.underline));
          p_->setPen(Rgb(d.color));
          int align = (d.format & DT_CENTER) ? Qt::AlignHCenter : (d.format & DT_RIGHT) ? Qt::AlignRight : Qt::AlignLeft;
          align |= (d.format & DT_VCENTER) ? Qt::AlignVCenter : (d.format & DT_BOTTOM) ? Qt::AlignBottom : Qt::AlignTop;
          align |= (d.format & DT_SINGLELINE) ? Qt::TextSingleLine : Qt::TextWordWrap;
          p_->drawText(r, align, Q(d.text));
          p_->restore();
          break;
        }
        case ScreenDraw::Kind::Image: {
          const QImage img = ImageAt(d.image);
          if (!img.isNull() && r.width() > 0 && r.height() > 0) p_->drawImage(r, img);
          break;
        }
      }
    }
    p_->restore();
  }

  QImage ImageAt(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= m_.images.size()) return QImage();
    const ScreenImage& img = m_.images[static_cast<size_t>(index)];
    if (img.width <= 0 || img.height <= 0) return QImage();
    QImage out(img.width, img.height, QImage::Format_ARGB32);
    for (int y = 0; y < img.height; ++y)
      std::copy_n(img.argb.begin() + static_cast<std::ptrdiff_t>(y) * img.width, img.width,
                  reinterpret_cast<uint32_t*>(out.scanLine(y)));
    return out;
  }

  void Control(const ScreenControl& c) {
    const std::u16string cls = Upper(c.className);
    const QRect r(c.x, c.y, c.width, c.height);
    p_->save();
    if (cls == u"STATIC") Static(c, r);
    else if (cls == u"BUTTON") Button(c, r);
    else if (cls == u"EDIT") Edit(c, r);
    else if (cls == u"COMBOBOX") Combo(c, r);
    else if (cls == u"LISTBOX") List(c, r, c.items, c.curSel);
    else if (cls == u"MSCTLS_PROGRESS32") Progress(c, r);
    else if (cls == u"MSCTLS_UPDOWN32") UpDown(c, r);
    else if (cls == u"SYSTABCONTROL32") Tabs(c, r);
    else if (cls == u"SYSTREEVIEW32") Tree(c, r);
    else if (cls == u"MENU_WORKER") MenuBar(c);
    else if (cls == u"SYSDATETIMEPICK32") DateTime(c, r);
    else if (cls == u"SYSLISTVIEW32") ListView(c, r);
    else if (cls == u"#32770") p_->fillRect(r, Qt::white);  // a page: its controls follow
    else Unknown(c, r);
    p_->restore();
    Drawing(c.drawing, r);
  }

  QStyle::State State(const ScreenControl& c) const {
    QStyle::State s = QStyle::State_None;
    if (c.enabled) s |= QStyle::State_Enabled;
    if (c.focus) s |= QStyle::State_HasFocus;
    return s;
  }

  template <class Opt>
  void Init(Opt* o, const ScreenControl& c, const QRect& r) const {
    o->rect = r;
    o->state = State(c);
    o->palette = palette_;
    o->palette.setCurrentColorGroup(c.enabled ? QPalette::Active : QPalette::Disabled);
    o->fontMetrics = QFontMetrics(font_);
    o->direction = Qt::LeftToRight;
  }

  QColor TextColor(const ScreenControl& c) const {
    return palette_.color(c.enabled ? QPalette::Active : QPalette::Disabled, QPalette::WindowText);
  }

  void Static(const ScreenControl& c, const QRect& r) {
    const uint32_t type = c.style & SS_TYPEMASK;
    if (type == SS_ICON || type == SS_BITMAP) {
      p_->setPen(QPen(palette_.color(QPalette::Mid), 0, Qt::DotLine));
      p_->drawRect(r.adjusted(0, 0, -1, -1));
      return;
    }
    int align = Qt::AlignLeft;
    if (type == SS_CENTER) align = Qt::AlignHCenter;
    else if (type == SS_RIGHT) align = Qt::AlignRight;
    if (c.style & SS_CENTERIMAGE) align |= Qt::AlignVCenter;
    else align |= Qt::AlignTop;
    p_->setClipRect(r, Qt::IntersectClip);
    p_->setFont(FontFor(c.look.fontHeight, c.look.bold, c.look.underline));
    p_->setPen(c.look.hasColor && c.enabled ? Rgb(c.look.color) : TextColor(c));
    p_->drawText(r, align | Qt::TextWordWrap, Q(c.text));
  }

  void Button(const ScreenControl& c, const QRect& r) {
    const uint32_t type = c.style & BS_TYPEMASK;
    if (type == BS_OWNERDRAW) return;  // the program draws it (its drawing follows)
    QStyleOptionButton o;
    Init(&o, c, r);
    o.text = Q(c.text);
    switch (type) {
      case BS_CHECKBOX:
      case BS_AUTOCHECKBOX:
      case BS_3STATE:
      case BS_AUTO3STATE:
      case BS_RADIOBUTTON:
      case BS_AUTORADIOBUTTON: {
        o.state |= c.checked == BST_CHECKED ? QStyle::State_On
                   : c.checked == BST_INDETERMINATE ? QStyle::State_NoChange
                                                    : QStyle::State_Off;
        const bool radio = type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
        if (c.style & BS_MULTILINE) {
          MultilineCheck(o, c, radio);
          return;
        }
        style_->drawControl(radio ? QStyle::CE_RadioButton : QStyle::CE_CheckBox, &o, p_);
        return;
      }
      case BS_GROUPBOX: {
        const QFontMetrics fm(font_);
        const int top = r.top() + fm.height() / 2;
        p_->setPen(palette_.color(QPalette::Mid));
        p_->drawRect(QRect(r.left(), top, r.width() - 1, r.bottom() - top));
        const QRect label(r.left() + 6, r.top(), fm.horizontalAdvance(o.text) + 4, fm.height());
        p_->fillRect(label, Qt::white);
        p_->setPen(TextColor(c));
        p_->drawText(label, Qt::AlignCenter, o.text);
        return;
      }
      default:
        o.state |= (c.checked & 4) ? QStyle::State_Sunken : QStyle::State_Raised;  // BST_PUSHED
        if (type == BS_DEFPUSHBUTTON) o.features |= QStyleOptionButton::DefaultButton;
        style_->drawControl(QStyle::CE_PushButton, &o, p_);
    }
  }

  // A check or radio box whose label wraps: the mark at the left, centred
  // on the box's height, the text broken into lines in the room beside it.
  void MultilineCheck(const QStyleOptionButton& o, const ScreenControl& c, bool radio) {
    QStyleOptionButton mark = o;
    mark.rect = style_->subElementRect(radio ? QStyle::SE_RadioButtonIndicator : QStyle::SE_CheckBoxIndicator, &o);
    style_->drawPrimitive(radio ? QStyle::PE_IndicatorRadioButton : QStyle::PE_IndicatorCheckBox, &mark, p_);
    const int spacing = style_->pixelMetric(radio ? QStyle::PM_RadioButtonLabelSpacing : QStyle::PM_CheckBoxLabelSpacing,
                                            &o);
    QRect text = o.rect;
    text.setLeft(mark.rect.right() + 1 + spacing);
    p_->save();
    p_->setClipRect(o.rect, Qt::IntersectClip);
    p_->setPen(TextColor(c));
    p_->drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, o.text);
    p_->restore();
  }

  void Edit(const ScreenControl& c, const QRect& r) {
    const bool readOnly = c.style & ES_READONLY;
    p_->fillRect(r, readOnly || !c.enabled ? palette_.color(QPalette::Window) : palette_.color(QPalette::Base));
    if (c.style & WS_BORDER) {
      QStyleOptionFrame f;
      Init(&f, c, r);
      f.lineWidth = 1;
      f.state |= QStyle::State_Sunken;
      if (readOnly) f.state |= QStyle::State_ReadOnly;
      style_->drawPrimitive(QStyle::PE_FrameLineEdit, &f, p_);
    }
    const QRect inner = r.adjusted(3, 1, -3, -1);
    p_->setClipRect(inner, Qt::IntersectClip);
    const uint32_t a = c.style & 3;
    int align = a == ES_CENTER ? Qt::AlignHCenter : a == ES_RIGHT ? Qt::AlignRight : Qt::AlignLeft;
    const QString text = Q(c.text);
    const QFontMetrics fm(font_);
    QRect textRect = inner;
    if (c.style & ES_MULTILINE) {
      align |= Qt::AlignTop | Qt::TextWordWrap;
    } else {
      align |= Qt::AlignVCenter | Qt::TextSingleLine;
      // A focused single-line edit that overflows shows its end, as it scrolls.
      const int w = fm.horizontalAdvance(text);
      if (c.focus && w + 2 > inner.width() && align & Qt::AlignLeft) textRect.setLeft(inner.right() - w - 2);
    }
    p_->setPen(palette_.color(c.enabled ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    QRect bounds;
    p_->drawText(textRect, align, text, &bounds);
    if (c.focus && c.enabled && !(c.style & ES_MULTILINE)) {
      const int x = text.isEmpty() ? (align & Qt::AlignRight ? inner.right() - 1
                                      : align & Qt::AlignHCenter ? inner.center().x() : inner.left())
                                   : bounds.right() + 1;
      const int h = fm.height();
      const int y = inner.top() + (inner.height() - h) / 2;
      p_->fillRect(QRect(x, y, 1, h), palette_.color(QPalette::Text));
    }
  }

  void Combo(const ScreenControl& c, const QRect& r) {
    const int closed = std::min(r.height(), lineHeight_ + 8);
    const QRect box(r.left(), r.top(), r.width(), closed);
    QStyleOptionComboBox o;
    Init(&o, c, box);
    const uint32_t type = c.style & 3;
    o.editable = type == CBS_DROPDOWN || type == CBS_SIMPLE;
    o.frame = true;
    o.subControls = QStyle::SC_All;
    if (c.curSel >= 0 && static_cast<size_t>(c.curSel) < c.items.size()) o.currentText = Q(c.items[c.curSel].text);
    else o.currentText = Q(c.text);
    if (c.dropped) o.state |= QStyle::State_On;
    style_->drawComplexControl(QStyle::CC_ComboBox, &o, p_);
    if (o.editable) {
      // The edit part is drawn as an edit: the style draws no text for it.
      const QRect field = style_->subControlRect(QStyle::CC_ComboBox, &o, QStyle::SC_ComboBoxEditField);
      p_->setPen(palette_.color(c.enabled ? QPalette::Active : QPalette::Disabled, QPalette::Text));
      p_->drawText(field.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   o.currentText);
    } else {
      style_->drawControl(QStyle::CE_ComboBoxLabel, &o, p_);
    }
    if (c.dropped && r.height() > closed) {
      ScreenControl list = c;
      list.focus = false;
      List(list, QRect(r.left(), r.top() + closed, r.width(), r.height() - closed), c.items, c.curSel);
    }
  }

  void List(const ScreenControl& c, const QRect& r, const std::vector<ScreenItem>& items, int curSel) {
    p_->fillRect(r, palette_.color(c.enabled ? QPalette::Active : QPalette::Disabled, QPalette::Base));
    QStyleOptionFrame f;
    Init(&f, c, r);
    f.lineWidth = 1;
    f.state |= QStyle::State_Sunken;
    style_->drawPrimitive(QStyle::PE_Frame, &f, p_);
    const QRect inner = r.adjusted(1, 1, -1, -1);
    p_->setClipRect(inner, Qt::IntersectClip);
    const int rowH = lineHeight_ + 2;
    // The selected row stays in view.
    int first = 0;
    const int rows = std::max(1, inner.height() / rowH);
    if (curSel >= rows) first = curSel - rows + 1;
    for (size_t i = static_cast<size_t>(first); i < items.size(); ++i) {
      const int y = inner.top() + static_cast<int>(i - first) * rowH;
      if (y > inner.bottom()) break;
      const QRect row(inner.left(), y, inner.width(), rowH);
      const bool selected = static_cast<int>(i) == curSel;
      if (selected) p_->fillRect(row, palette_.color(QPalette::Highlight));
      p_->setPen(selected ? palette_.color(QPalette::HighlightedText) : TextColor(c));
      p_->drawText(row.adjusted(3, 0, -3, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   Q(items[i].text));
    }
  }

  // Report view: the header (columns with their widths), then the rows from
  // the top one, the selected row highlighted across all columns, the small
  // icon before the label. Geometry as the list view hit-tests it.
  void ListView(const ScreenControl& c, const QRect& r) {
    p_->fillRect(r, palette_.color(c.enabled ? QPalette::Active : QPalette::Disabled, QPalette::Base));
    p_->setClipRect(r, Qt::IntersectClip);
    const int header = c.headerHeight;
    const int rowH = std::max(1, c.rowHeight);
    const QColor line = palette_.color(QPalette::Mid);
    int totalWidth = 0;
    for (const auto& col : c.columns) totalWidth += col.width;
    if (header > 0) {
      int x = r.left();
      for (const auto& col : c.columns) {
        const QRect cell(x, r.top(), col.width, header);
        p_->fillRect(cell, palette_.color(QPalette::Button));
        p_->setPen(line);
        p_->drawLine(cell.topRight(), cell.bottomRight());
        p_->setPen(TextColor(c));
        p_->drawText(cell.adjusted(3, 0, -3, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     QFontMetrics(font_).elidedText(Q(col.text), Qt::ElideRight, std::max(0, col.width - 6)));
        x += col.width;
      }
      if (x < r.right()) p_->fillRect(QRect(x, r.top(), r.right() - x + 1, header), palette_.color(QPalette::Button));
      p_->setPen(line);
      p_->drawLine(r.left(), r.top() + header - 1, r.right(), r.top() + header - 1);
    }
    const size_t first = static_cast<size_t>(std::max(0, c.top));
    for (size_t i = first; i < c.rows.size(); ++i) {
      const int y = r.top() + header + static_cast<int>(i - first) * rowH;
      if (y > r.bottom()) break;
      const ScreenRow& row = c.rows[i];
      const QRect full(r.left(), y, std::max(totalWidth, 1), rowH);
      if (row.selected) p_->fillRect(full, palette_.color(QPalette::Highlight));
      if (row.focused && c.focus) {
        p_->setPen(QPen(palette_.color(QPalette::Text), 0, Qt::DotLine));
        p_->drawRect(full.adjusted(0, 0, -1, -1));
      }
      p_->setPen(row.selected ? palette_.color(QPalette::HighlightedText) : TextColor(c));
      int x = r.left();
      for (size_t k = 0; k < c.columns.size(); ++k) {
        const int w = c.columns[k].width;
        QRect cell(x, y, w, rowH);
        if (k == 0) {
          const QImage icon = ImageAt(row.icon);
          if (!icon.isNull()) {
            const int top = y + (rowH - icon.height()) / 2;
            p_->drawImage(QRect(x + 1, top, icon.width(), icon.height()), icon);
            cell.setLeft(x + icon.width() + 2);
          }
        }
        const QString text = k < row.cells.size() ? Q(row.cells[k]) : QString();
        p_->drawText(cell.adjusted(3, 0, -3, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     QFontMetrics(font_).elidedText(text, Qt::ElideRight, std::max(0, cell.width() - 6)));
        x += w;
      }
    }
    QStyleOptionFrame f;
    Init(&f, c, r);
    f.lineWidth = 1;
    f.state |= QStyle::State_Sunken;
    style_->drawPrimitive(QStyle::PE_Frame, &f, p_);
  }

  void Progress(const ScreenControl& c, const QRect& r) {
    QStyleOptionProgressBar o;
    Init(&o, c, r);
    o.state |= QStyle::State_Horizontal;
    o.minimum = std::min(c.min, c.max);
    o.maximum = std::max(c.min, c.max);
    o.progress = std::clamp(c.pos, o.minimum, o.maximum);
    if (o.minimum == o.maximum) o.maximum = o.minimum + 1;  // an empty range draws empty, not busy
    o.textVisible = false;
    style_->drawControl(QStyle::CE_ProgressBar, &o, p_);
  }

  void UpDown(const ScreenControl& c, const QRect& r) {
    const QRect up(r.left(), r.top(), r.width(), r.height() / 2);
    const QRect down(r.left(), up.bottom() + 1, r.width(), r.height() - up.height());
    for (const auto& [half, arrow] : {std::pair{up, QStyle::PE_IndicatorArrowUp},
                                      std::pair{down, QStyle::PE_IndicatorArrowDown}}) {
      QStyleOptionButton b;
      Init(&b, c, half);
      b.state |= QStyle::State_Raised;
      style_->drawPrimitive(QStyle::PE_PanelButtonBevel, &b, p_);
      QStyleOption a;
      Init(&a, c, half.adjusted(2, 1, -2, -1));
      style_->drawPrimitive(arrow, &a, p_);
    }
  }

  // Tabs side by side (at the bottom edge when the control sits in the
  // lower half of the screen); the selected one is open towards its page.
  void Tabs(const ScreenControl& c, const QRect& r) {
    const bool south = r.center().y() > m_.height / 2;
    const QColor line = palette_.color(QPalette::Dark);
    p_->setPen(line);
    p_->drawLine(south ? r.topLeft() : r.bottomLeft(), south ? r.topRight() : r.bottomRight());
    QFont bold = font_;
    bold.setBold(true);
    int x = r.left();
    for (size_t i = 0; i < c.items.size() && x < r.right(); ++i) {
      const ScreenItem& item = c.items[i];
      const QString text = Q(item.text);
      const bool selected = static_cast<int>(i) == c.curSel;
      // The model's own tab rectangle where the file gives one.
      if (item.width > 0) x = item.x;
      const int natural = QFontMetrics(bold).horizontalAdvance(text) + 12;
      const int w = std::min(item.width > 0 ? item.width : natural, r.right() - x + 1);
      if (w <= 1) break;
      const QRect tab(x, r.top(), w - 1, r.height() - (selected ? 1 : 3));
      const QRect shape = south ? tab : tab.translated(0, selected ? 0 : 2);
      p_->fillRect(shape, selected ? QColor(Qt::white) : palette_.color(QPalette::Button));
      p_->setPen(line);
      if (south) {
        p_->drawLine(shape.topLeft(), shape.bottomLeft());
        p_->drawLine(shape.bottomLeft(), shape.bottomRight());
        p_->drawLine(shape.topRight(), shape.bottomRight());
        if (selected) {
          p_->setPen(Qt::white);
          p_->drawLine(shape.topLeft() + QPoint(1, 0), shape.topRight() - QPoint(1, 0));
        }
      } else {
        p_->drawLine(shape.bottomLeft(), shape.topLeft());
        p_->drawLine(shape.topLeft(), shape.topRight());
        p_->drawLine(shape.topRight(), shape.bottomRight());
        if (selected) {
          p_->setPen(Qt::white);
          p_->drawLine(shape.bottomLeft() + QPoint(1, 0), shape.bottomRight() - QPoint(1, 0));
        }
      }
      QRect label = shape;
      if (item.image >= 0) {
        const int side = std::min(16 * m_.scale, shape.height() - 4);
        const QRect icon(shape.left() + 4 * m_.scale, shape.center().y() - side / 2, side, side);
        const QImage picture = ImageAt(item.icon);
        if (!picture.isNull()) {
          p_->drawImage(icon, picture);
        } else {
          // A file without the image list's picture: a framed square with
          // the image number marks the tab's image.
          p_->fillRect(icon, QColor(0xDD, 0xE6, 0xF4));
          p_->setPen(QColor(0x2A, 0x5C, 0xAA));
          p_->drawRect(icon.adjusted(0, 0, -1, -1));
          p_->drawText(icon, Qt::AlignCenter, QString::number(item.image));
        }
        label.setLeft(icon.right() + 2);
      }
      p_->setPen(TextColor(c));
      p_->setFont(selected ? bold : font_);
      p_->drawText(label, Qt::AlignCenter | Qt::TextSingleLine, text);
      p_->setFont(font_);
      x += w;
    }
  }

  // A tree view: its rows in view as the model laid them out (expand
  // boxes, state check boxes, images, labels, the caret row) and a scroll
  // bar while the rows do not fit.
  void Tree(const ScreenControl& c, const QRect& r) {
    const ScreenTree& t = c.tree;
    p_->fillRect(r, palette_.color(c.enabled ? QPalette::Active : QPalette::Disabled, QPalette::Base));
    p_->setClipRect(r, Qt::IntersectClip);
    const int s = std::max(1, m_.scale);
    const int h = std::max(1, t.itemHeight);
    const int rowsRight = r.right() - t.scrollBar;
    for (size_t k = 0; k < t.rows.size(); ++k) {
      const ScreenTreeRow& row = t.rows[k];
      const int y = r.top() + static_cast<int>(k) * h;
      if (y > r.bottom()) break;
      int x = r.left() + row.x;
      if (row.button) {
        const int side = std::min(9 * s, h - 2);
        const QRect box(x - t.indent + (t.indent - side) / 2, y + (h - side) / 2, side, side);
        p_->fillRect(box, Qt::white);
        p_->setPen(QColor(0x50, 0x50, 0x50));
        p_->drawRect(box.adjusted(0, 0, -1, -1));
        const QPoint mid = box.center();
        const int arm = std::max(1, side / 2 - 2 * s);
        p_->drawLine(mid.x() - arm, mid.y(), mid.x() + arm, mid.y());
        if (row.button == 1) p_->drawLine(mid.x(), mid.y() - arm, mid.x(), mid.y() + arm);
      }
      if (t.stateWidth > 0) {
        if (row.state > 0) {
          const int side = std::min(t.stateWidth, h) - 3 * s;
          QStyleOptionButton o;
          Init(&o, c, QRect(x + (t.stateWidth - side) / 2, y + (h - side) / 2, side, side));
          o.state |= row.state == 2 ? QStyle::State_On : row.state == 3 ? QStyle::State_NoChange : QStyle::State_Off;
          style_->drawPrimitive(QStyle::PE_IndicatorCheckBox, &o, p_);
        }
        x += t.stateWidth;
      }
      if (t.imageWidth > 0) {
        const QRect cell(x, y, t.imageWidth, h);
        const QImage picture = ImageAt(row.icon);
        if (picture.isNull()) {
          TreeImage(cell, row.image, s);
        } else {
          const QSize size = picture.size().boundedTo(cell.size());
          p_->drawImage(QRect(QPoint(x + (cell.width() - size.width()) / 2, y + (cell.height() - size.height()) / 2), size),
                        picture);
        }
        x += t.imageWidth;
      }
      const QString text = Q(row.text);
      const int pad = 2 * s;
      const QRect label(x, y, std::min(QFontMetrics(font_).horizontalAdvance(text) + 2 * pad, rowsRight - x + 1), h);
      if (row.selected) p_->fillRect(label, palette_.color(c.focus ? QPalette::Highlight : QPalette::Mid));
      p_->setPen(row.selected ? palette_.color(QPalette::HighlightedText) : TextColor(c));
      p_->drawText(label.adjusted(pad, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    }
    if (t.scrollBar > 0) {
      const QRect track(rowsRight + 1, r.top(), t.scrollBar, r.height());
      p_->fillRect(track, palette_.color(QPalette::Button));
      const int total = std::max(t.total, 1);
      const int thumbH = std::max(6 * s, track.height() * std::min(t.inView, total) / total);
      const int thumbY = track.top() + (track.height() - thumbH) * std::min(t.top, total) / std::max(1, total - t.inView);
      QStyleOptionButton o;
      Init(&o, c, QRect(track.left() + 1, std::min(thumbY, track.bottom() - thumbH + 1), track.width() - 2, thumbH));
      o.state |= QStyle::State_Raised;
      style_->drawPrimitive(QStyle::PE_PanelButtonBevel, &o, p_);
    }
    p_->setPen(palette_.color(QPalette::Mid));
    p_->drawRect(r.adjusted(0, 0, -1, -1));
  }

  // An image list entry the file has no picture of: a folder-like glyph
  // tinted by its index, so that different images look different.
  void TreeImage(const QRect& cell, int index, int s) {
    const int side = std::min(cell.width(), cell.height()) - 4 * s;
    if (side <= 0) return;
    const QRect g(cell.left() + (cell.width() - side) / 2, cell.top() + (cell.height() - side) / 2, side, side);
    const QColor tint = QColor::fromHsv((index * 47) % 360, 110, 220);
    p_->setPen(tint.darker(160));
    p_->setBrush(tint);
    p_->drawRect(g.adjusted(0, side / 4, -1, -1));
    p_->drawRect(QRect(g.left(), g.top() + side / 8, side / 2, side / 8 + 1));
    p_->setBrush(Qt::NoBrush);
  }

  // The menu bar: its buttons along the bottom and its open menus above.
  void MenuBar(const ScreenControl& c) {
    p_->setClipping(false);
    QFont bold = font_;
    bold.setBold(true);
    for (const ScreenItem& b : c.items) {
      const QRect r(b.x, b.y, b.width, b.height);
      p_->fillRect(r, b.open ? QColor(0x0A, 0x24, 0x6A) : QColor(0x2A, 0x5C, 0xAA));
      p_->setPen(QColor(0x0A, 0x24, 0x6A));
      p_->drawRect(r.adjusted(0, 0, -1, -1));
      p_->setPen(Qt::white);
      p_->setFont(bold);
      QString text = Q(b.text);
      if (b.popup) text += QStringLiteral(" \u25B4");
      p_->drawText(r, Qt::AlignCenter | Qt::TextSingleLine, text);
    }
    p_->setFont(font_);
    for (const ScreenPane& pane : c.panes) {
      const QRect pr(pane.x, pane.y, pane.width, pane.height);
      p_->fillRect(pr, Qt::white);
      p_->setPen(QColor(0x40, 0x40, 0x40));
      p_->drawRect(pr.adjusted(0, 0, -1, -1));
      const int margin = 12 * m_.scale;
      for (const ScreenItem& e : pane.items) {
        const QRect r(e.x, e.y, e.width, e.height);
        if (e.separator) {
          p_->setPen(palette_.color(QPalette::Mid));
          p_->drawLine(r.left() + 4, r.center().y(), r.right() - 4, r.center().y());
          continue;
        }
        if (e.open) p_->fillRect(r.adjusted(1, 0, -1, 0), QColor(0x2A, 0x5C, 0xAA));
        p_->setPen(e.open ? QColor(Qt::white) : e.enabled ? QColor(Qt::black) : palette_.color(QPalette::Mid));
        if (e.checked) p_->drawText(QRect(r.left(), r.top(), margin, r.height()), Qt::AlignCenter, QStringLiteral("\u2713"));
        p_->drawText(r.adjusted(margin, 0, -margin, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, Q(e.text));
        if (e.popup)
          p_->drawText(r.adjusted(0, 0, -4, 0), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("\u25B8"));
      }
    }
  }

  // A date or time picker: its text in a box with a drop button (a date)
  // or up and down arrows (a time).
  void DateTime(const ScreenControl& c, const QRect& r) {
    p_->fillRect(r, c.enabled ? palette_.color(QPalette::Base) : palette_.color(QPalette::Window));
    p_->setPen(palette_.color(QPalette::Dark));
    p_->drawRect(r.adjusted(0, 0, -1, -1));
    const int button = std::min(r.height(), 14 * m_.scale);
    const QRect arrow(r.right() - button, r.top() + 1, button, r.height() - 2);
    p_->fillRect(arrow, palette_.color(QPalette::Button));
    p_->setPen(TextColor(c));
    const bool time = (c.style & DTS_TIMEFORMAT) == DTS_TIMEFORMAT;
    p_->drawText(arrow, Qt::AlignCenter, time ? QStringLiteral("\u2195") : QStringLiteral("\u25BE"));
    p_->drawText(r.adjusted(3 * m_.scale, 0, -button - 2, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                 Q(c.text));
    if (c.focus) {
      p_->setPen(QPen(palette_.color(QPalette::Highlight), 1, Qt::DotLine));
      p_->drawRect(r.adjusted(1, 1, -2, -2));
    }
  }

  void Unknown(const ScreenControl& c, const QRect& r) {
    p_->setPen(QPen(palette_.color(QPalette::Mid), 0, Qt::DashLine));
    p_->drawRect(r.adjusted(0, 0, -1, -1));
    p_->setClipRect(r, Qt::IntersectClip);
    p_->setPen(TextColor(c));
    p_->drawText(r, Qt::AlignCenter | Qt::TextWordWrap, Q(c.text.empty() ? c.className : c.text));
  }

  QPainter* p_;
  QStyle* style_;
  const ScreenModel& m_;
  QPalette palette_;
  QFont font_;
  int lineHeight_ = 13;
};

}  // namespace

bool EnsureApplication(std::string* error) {
  if (auto* app = QCoreApplication::instance()) {
    if (qobject_cast<QApplication*>(app)) return true;
    if (error) *error = "a non-widget Qt application is running; drawing needs a QApplication";
    return false;
  }
  // Drawing needs no display: without a platform chosen, draw offscreen.
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "quilmo";
  static char* argv[] = {name, nullptr};
  // Start-up chatter (no runtime folder and the like) is not the caller's
  // business; later messages go where they always go.
  const QtMessageHandler previous = qInstallMessageHandler(
      [](QtMsgType type, const QMessageLogContext&, const QString& msg) {
        if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(msg));
      });
  new QApplication(argc, argv);  // lives for the rest of the process
  qInstallMessageHandler(previous);
  return true;
}

QImage RenderScreen(const ScreenModel& screen, int scale, std::string* error) {
  if (scale < 1 || scale > kMaxViewScale) {
    if (error) *error = "scale must be 1.." + std::to_string(kMaxViewScale);
    return QImage();
  }
  if (screen.width < 1 || screen.height < 1 || screen.width > kMaxImageSide / scale ||
      screen.height > kMaxImageSide / scale) {
    if (error) *error = "the screen is too large to draw at scale " + std::to_string(scale);
    return QImage();
  }
  if (!EnsureApplication(error)) return QImage();
  std::unique_ptr<QStyle> style(QStyleFactory::create(QStringLiteral("Fusion")));
  if (!style) {
    if (error) *error = "the Fusion style is not available";
    return QImage();
  }
  QImage image(screen.width * scale, screen.height * scale, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::white);
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.scale(scale, scale);
    Painter(&p, style.get(), screen).Draw();
  }
  return image;
}

QImage RenderScreen(const std::string& screenXml, int scale, std::string* error) {
  ScreenModel m;
  if (!ParseScreen(screenXml, &m, error)) return QImage();
  return RenderScreen(m, scale, error);
}

bool WriteScreenshot(const std::filesystem::path& screenXml, const std::filesystem::path& png, int scale,
                     std::string* error) {
  std::string xml;
  if (!ReadScreenFile(screenXml, &xml, error)) return false;
  const QImage image = RenderScreen(xml, scale, error);
  if (image.isNull()) return false;
  if (!image.save(QString::fromStdString(png.string()), "PNG")) {
    if (error) *error = "cannot write " + png.string();
    return false;
  }
  return true;
}

}  // namespace ui::qt
