// The screen front end: reads the screen file a device program writes
// (format: ui/ScreenFormat.h) and draws it with Qt. It holds no state of its
// own: what it draws is what the file says.
#pragma once

#include <QImage>

#include <filesystem>
#include <string>

#include "ui/qt/ScreenModel.h"

namespace ui::qt {

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
