// The live screen window: shows DIR/screen.xml as it changes (polled every
// 100 ms) and posts the user's clicks to the device program's topmost
// window under them (else its topmost window), and keys to its topmost
// window that is no notification bubble. It keeps nothing but the last
// picture it drew and where its windows are.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ui::qt {

class ScreenViewer : public QWidget {
 public:
  // The device to post to is the current one (ce::Device::Current()).
  ScreenViewer(std::filesystem::path screenXml, int scale, QWidget* parent = nullptr);

  // Re-reads the file now; true when the picture changed.
  bool Refresh();
  const QImage& Picture() const { return picture_; }
  const std::string& Problem() const { return problem_; }  // why nothing is shown

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  struct Target {
    uint64_t hwnd = 0;
    int x = 0, y = 0, width = 0, height = 0;  // device pixels
    bool bubble = false;
  };
  // The window a click at device pixel (x, y) goes to; keys: x < 0.
  uint64_t TargetAt(int x, int y) const;
  bool Post(uint64_t target, unsigned message, uintptr_t wParam, intptr_t lParam);
  bool PostKey(unsigned message, uintptr_t wParam, intptr_t lParam) { return Post(TargetAt(-1, -1), message, wParam, lParam); }
  intptr_t PointParam(const QPoint& p) const;

  std::filesystem::path file_;
  int scale_;
  QTimer timer_;
  std::string lastXml_;
  bool haveFile_ = false;
  QImage picture_;
  std::string problem_;
  std::vector<Target> targets_;  // bottom to top; empty: post nothing
  int64_t writerPid_ = 0;  // host process that wrote the file (0: unknown)
  int deviceWidth_ = 240, deviceHeight_ = 320;
};

}  // namespace ui::qt
