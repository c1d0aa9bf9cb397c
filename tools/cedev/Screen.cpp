#include "tools/cedev/Screen.h"

#include <QApplication>
#include <QBuffer>
#include <QByteArray>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "ui/ScreenFormat.h"
#include "ui/qt/Screen.h"
#include "ui/qt/ScreenViewer.h"
// Device declarations after Qt: they are plain macros.
#include "ce/errors.h"
#include "ce/system.h"
#include "ce/window.h"
#include "cesim/device.h"

namespace fs = std::filesystem;

namespace cedev {
namespace {

// The wParam of WM_SETTINGCHANGE for a changed screen size.
constexpr WPARAM kSettingChangeReset = 0x3002;

int Fail(const std::string& msg) {
  std::cerr << "cedev: " << msg << "\n";
  return 1;
}

int Usage(const char* line) {
  std::cerr << "usage: cedev " << line << "\n";
  return 2;
}

ce::Device* Open(const std::string& dir) {
  std::string problem;
  ce::Device* d = ce::Device::Use(dir, &problem);
  if (!d) Fail(problem);
  return d;
}

// Writes the whole of data to path; false with a reason when any of it
// could not be written (a full disk shows only when the file is closed).
bool WriteHostFile(const std::string& path, const QByteArray& data, std::string* error) {
  errno = 0;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  const size_t n = static_cast<size_t>(data.size());
  const bool written = std::fwrite(data.constData(), 1, n, f) == n;
  const int writeErr = errno;
  const bool closed = std::fclose(f) == 0;
  if (written && closed) return true;
  *error = "cannot write " + path + ": " + std::strerror(written ? errno : writeErr);
  return false;
}

// A name a UI script's "screenshot NAME" step accepts: letters, digits,
// '-', '_' and '.', not starting with '.', at most 100 characters.
bool SavedScreenName(const std::string& name) {
  if (name.empty() || name.size() > 100 || name[0] == '.') return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') return false;
  return true;
}

// Reads "--scale N" (and, when saved is given, "--saved NAME") from
// argv[from...]; false on anything else.
bool ScaleOption(int argc, char** argv, int from, int* scale, std::string* saved = nullptr) {
  *scale = 1;
  for (int i = from; i < argc; i += 2) {
    if (i + 1 >= argc) return false;
    if (saved && std::strcmp(argv[i], "--saved") == 0) {
      *saved = argv[i + 1];
      if (!SavedScreenName(*saved)) return false;
      continue;
    }
    if (std::strcmp(argv[i], "--scale") != 0) return false;
    char* end = nullptr;
    const long v = std::strtol(argv[i + 1], &end, 10);
    if (!*argv[i + 1] || *end || v < 1 || v > ui::qt::kMaxViewScale) return false;
    *scale = static_cast<int>(v);
  }
  return true;
}

}  // namespace

int CmdScreenshot(int argc, char** argv) {
  int scale = 1;
  std::string saved;
  if (argc < 4 || !ScaleOption(argc, argv, 4, &scale, &saved))
    return Usage("screenshot DIR FILE [--scale 1..8] [--saved NAME]");
  ce::Device* d = Open(argv[2]);
  if (!d) return 1;
  // --saved: the screen a UI script's "screenshot NAME" step kept, drawn
  // after its program has ended.
  const fs::path xml = saved.empty() ? d->Dir() / ui::screen::kFileName : d->Dir() / (saved + ".screen.xml");
  std::error_code ec;
  if (!fs::exists(xml, ec)) {
    if (!saved.empty()) return Fail("no screen was kept as " + saved + ": " + xml.string() + " does not exist");
    return Fail("the device shows nothing: no program has written " + xml.string() +
                " (a program run with cedev run --screen shows its windows there while it runs)");
  }
  std::string text, error;
  if (!ui::qt::ReadScreenFile(xml, &text, &error)) return Fail(error);
  ui::qt::ScreenModel model;
  if (!ui::qt::ParseScreen(text, &model, &error)) return Fail(error);
  if (model.windows.empty()) return Fail("the device shows nothing: no window is visible");
  if (saved.empty() && !ui::qt::WriterAlive(model))
    return Fail("the device shows nothing: the program that drew " + xml.string() + " (host pid " +
                std::to_string(model.pid) + ") has ended");
  const QImage image = ui::qt::RenderScreen(model, scale, &error);
  if (image.isNull()) return Fail(error);
  QByteArray png;
  QBuffer buffer(&png);
  if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) return Fail("cannot encode the PNG");
  if (!WriteHostFile(argv[3], png, &error)) return Fail(error);
  std::cout << "wrote " << argv[3] << " (" << image.width() << "x" << image.height() << ")\n";
  return 0;
}

int CmdRotate(int argc, char** argv) {
  if (argc != 3) return Usage("rotate DIR");
  ce::Device* d = Open(argv[2]);
  if (!d) return 1;
  // Read and written under the profile's lock, so rotations made at once
  // all count.
  std::string error;
  if (!d->UpdateProfile([](ce::Profile& p) { std::swap(p.screenWidth, p.screenHeight); }, &error))
    return Fail(error);
  const ce::Profile& p = d->GetProfile();
  // Every top-level window hears of it; the window layer re-reads the
  // profile when this arrives.
  if (!PostMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, kSettingChangeReset, 0))
    return Fail("the screen is " + std::to_string(p.screenWidth) + "x" + std::to_string(p.screenHeight) +
                " but the windows could not be told (" + ce::DescribeError(GetLastError()) + ")");
  std::cout << "screen is now " << p.screenWidth << "x" << p.screenHeight << "\n";
  return 0;
}

int CmdScreen(int argc, char** argv) {
  int scale = 1;
  if (argc < 3 || !ScaleOption(argc, argv, 3, &scale)) return Usage("screen DIR [--scale 1..8]");
  ce::Device* d = Open(argv[2]);
  if (!d) return 1;
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && (!platform || !*platform))
    return Fail("the screen window needs a display (DISPLAY or WAYLAND_DISPLAY); use cedev screenshot instead");
  int qargc = 1;
  char name[] = "cedev";
  char* qargv[] = {name, nullptr};
  QApplication app(qargc, qargv);
  ui::qt::ScreenViewer viewer(d->Dir() / ui::screen::kFileName, scale);
  viewer.show();
  return app.exec();
}

bool TakeScreenOption(int* argc, char** argv) {
  bool found = false;
  int out = 2;
  int i = 2;
  // Leading options only: "--screen" and "--count-calls" stand alone, every
  // other takes a value.
  while (i < *argc && std::strncmp(argv[i], "--", 2) == 0) {
    if (std::strcmp(argv[i], "--screen") == 0) {
      found = true;
      ++i;
      continue;
    }
    const bool alone = std::strcmp(argv[i], "--count-calls") == 0;
    argv[out++] = argv[i++];
    if (alone) continue;
    if (i < *argc) argv[out++] = argv[i++];
  }
  while (i < *argc) argv[out++] = argv[i++];
  argv[out] = nullptr;
  *argc = out;
  if (!found) return true;
  if (std::strcmp(argv[1], "run") != 0) return false;
  setenv("QUILMO_UI", "screen", 1);
  return true;
}

}  // namespace cedev
