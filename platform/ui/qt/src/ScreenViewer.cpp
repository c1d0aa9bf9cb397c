#include "ui/qt/ScreenViewer.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

#include "ui/qt/Screen.h"
// Device declarations after Qt: they are plain macros.
#include "ce/controls.h"
#include "ce/shell.h"
#include "ce/text.h"
#include "ce/window.h"

namespace ui::qt {

ScreenViewer::ScreenViewer(std::filesystem::path screenXml, int scale, QWidget* parent)
    : QWidget(parent), file_(std::move(screenXml)), scale_(std::clamp(scale, 1, kMaxViewScale)) {
  setFocusPolicy(Qt::StrongFocus);
  setWindowTitle(QStringLiteral("Quilmo device screen"));
  setFixedSize(deviceWidth_ * scale_, deviceHeight_ * scale_);
  Refresh();
  timer_.setInterval(100);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (Refresh()) update();
  });
  timer_.start();
}

bool ScreenViewer::Refresh() {
  std::string xml, readError;
  if (!ReadScreenFile(file_, &xml, &readError)) {
    std::string problem = std::filesystem::exists(file_)
                              ? readError
                              : "The device shows nothing (no " + file_.filename().string() + ")";
    const bool changed = haveFile_ || !picture_.isNull() || problem_ != problem;
    haveFile_ = false;
    lastXml_.clear();
    picture_ = QImage();
    targets_.clear();
    problem_ = std::move(problem);
    return changed;
  }
  if (haveFile_ && xml == lastXml_) {
    // The same picture; it goes stale when its program ends.
    ScreenModel writer;
    writer.pid = writerPid_;
    if (targets_.empty() || WriterAlive(writer)) return false;
    targets_.clear();
    problem_ = "The program that drew this has ended";
    return true;
  }
  haveFile_ = true;
  lastXml_ = std::move(xml);
  ScreenModel m;
  std::string error;
  if (!ParseScreen(lastXml_, &m, &error)) {
    // A file caught half-written is drawn once its content changes.
    picture_ = QImage();
    targets_.clear();
    problem_ = error;
    return true;
  }
  QImage image = RenderScreen(m, scale_, &error);
  picture_ = image;
  writerPid_ = m.pid;
  const bool alive = WriterAlive(m);
  problem_ = image.isNull()      ? error
             : m.windows.empty() ? "The device shows no window"
             : !alive            ? "The program that drew this has ended"
                                 : "";
  targets_.clear();
  if (alive) {
    for (const auto& w : m.windows)
      targets_.push_back(Target{w.hwnd, w.x, w.y, w.width, w.height,
                                ce::EqualNoCase(w.className, kNotificationBubbleClass)});
  }
  // Only a screen that could be drawn resizes the window (rotated): a size
  // the renderer refused would ask for a huge window.
  if (!image.isNull() && (m.width != deviceWidth_ || m.height != deviceHeight_)) {
    deviceWidth_ = m.width;
    deviceHeight_ = m.height;
    setFixedSize(deviceWidth_ * scale_, deviceHeight_ * scale_);  // rotated
  }
  return true;
}

void ScreenViewer::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (!picture_.isNull()) p.drawImage(0, 0, picture_);
  else p.fillRect(rect(), QColor(0x30, 0x30, 0x30));
  if (!problem_.empty()) {
    p.setPen(picture_.isNull() ? Qt::white : Qt::darkGray);
    p.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap,
               QString::fromStdString(problem_));
  }
}

intptr_t ScreenViewer::PointParam(const QPoint& p) const {
  const int x = std::clamp(p.x() / scale_, 0, deviceWidth_ - 1);
  const int y = std::clamp(p.y() / scale_, 0, deviceHeight_ - 1);
  return MAKELPARAM(x, y);
}

uint64_t ScreenViewer::TargetAt(int x, int y) const {
  if (targets_.empty()) return 0;
  for (auto t = targets_.rbegin(); t != targets_.rend(); ++t) {
    if (x < 0 ? !t->bubble : x >= t->x && x < t->x + t->width && y >= t->y && y < t->y + t->height)
      return t->hwnd;
  }
  return targets_.back().hwnd;
}

bool ScreenViewer::Post(uint64_t target, unsigned message, uintptr_t wParam, intptr_t lParam) {
  if (!target) return false;
  return PostMessageW(reinterpret_cast<HWND>(static_cast<uintptr_t>(target)), message, wParam, lParam) != FALSE;
}

void ScreenViewer::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const intptr_t at = PointParam(event->position().toPoint());
  Post(TargetAt(LOWORD(at), HIWORD(at)), WM_LBUTTONDOWN, 0x0001 /* MK_LBUTTON */, at);
}

// The second press of a double tap: list views take it as one, the other
// controls as a press (the window layer decides).
void ScreenViewer::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const intptr_t at = PointParam(event->position().toPoint());
  Post(TargetAt(LOWORD(at), HIWORD(at)), WM_LBUTTONDBLCLK, 0x0001 /* MK_LBUTTON */, at);
}

void ScreenViewer::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const intptr_t at = PointParam(event->position().toPoint());
  Post(TargetAt(LOWORD(at), HIWORD(at)), WM_LBUTTONUP, 0, at);
}

void ScreenViewer::keyPressEvent(QKeyEvent* event) {
  int vk = 0;
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: vk = VK_RETURN; break;
    case Qt::Key_Escape: vk = VK_ESCAPE; break;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: vk = VK_TAB; break;
    case Qt::Key_Backspace: vk = VK_BACK; break;
    case Qt::Key_Delete: vk = VK_DELETE; break;
    case Qt::Key_Left: vk = VK_LEFT; break;
    case Qt::Key_Right: vk = VK_RIGHT; break;
    case Qt::Key_Up: vk = VK_UP; break;
    case Qt::Key_Down: vk = VK_DOWN; break;
    default: break;
  }
  if (vk) {
    PostKey(WM_KEYDOWN, static_cast<uintptr_t>(vk), 1);
    return;
  }
  // Typed characters (no control characters: those come as keys above).
  for (const QChar ch : event->text())
    if (ch.unicode() >= 0x20 && ch.unicode() != 0x7F) PostKey(WM_CHAR, ch.unicode(), 1);
}

}  // namespace ui::qt
