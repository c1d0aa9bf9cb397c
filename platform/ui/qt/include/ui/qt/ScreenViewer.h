// The live screen window: shows DIR/screen.xml as it changes (polled every
// 100 ms) and posts the user's clicks and keys to the device program's
// topmost window. It keeps nothing but the last picture it drew.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <filesystem>
#include <string>

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
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool Post(unsigned message, uintptr_t wParam, intptr_t lParam);
  intptr_t PointParam(const QPoint& p) const;

  std::filesystem::path file_;
  int scale_;
  QTimer timer_;
  std::string lastXml_;
  bool haveFile_ = false;
  QImage picture_;
  std::string problem_;
  uint64_t target_ = 0;   // the topmost window's device handle
  int64_t writerPid_ = 0;  // host process that wrote the file (0: unknown)
  int deviceWidth_ = 240, deviceHeight_ = 320;
};

}  // namespace ui::qt
