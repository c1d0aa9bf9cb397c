// Brenwick, the screen-resolution detector outside the product: the setup
// library starts "<install folder>\Brenwick.exe" with three library paths
// separated by single blanks: the QVGA candidate, the VGA candidate and the
// library the main program loads. It copies the candidate that fits the
// device's screen (VGA when its longer side has at least 640 pixels, else
// QVGA) over the last path and exits with 1; it exits with 0 when it cannot
// (not three paths, a missing candidate, a copy that fails). Each run
// writes one line to the device's debug output.
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/process.h"
#include "ce/system.h"
#include "ce/text.h"

namespace {

constexpr int kVgaLongSide = 640;

std::vector<std::u16string> SplitAtBlanks(std::u16string_view line) {
  std::vector<std::u16string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == u' ') ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != u' ') ++i;
    if (i > start) words.emplace_back(line.substr(start, i - start));
  }
  return words;
}

int Finish(const std::u16string& text, int code) {
  OutputDebugStringW((u"Brenwick: " + text).c_str());
  return code;
}

}  // namespace

int WinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
  const std::vector<std::u16string> paths = SplitAtBlanks(commandLine ? commandLine : u"");
  if (paths.size() != 3) return Finish(u"expected three library paths", 0);
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  const bool vga = (width > height ? width : height) >= kVgaLongSide;
  const std::u16string& candidate = vga ? paths[1] : paths[0];
  if (!CopyFileW(candidate.c_str(), paths[2].c_str(), FALSE))
    return Finish(u"cannot copy " + candidate + u" to " + paths[2] + u" (" +
                      ce::FromUtf8(ce::DescribeError(GetLastError())) + u")",
                  0);
  return Finish(u"copied " + candidate + u" to " + paths[2], 1);
}
CE_DEVICE_PROGRAM(WinMain)
