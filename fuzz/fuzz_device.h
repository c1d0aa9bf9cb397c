// The scratch device the image fuzz entry points work on: made once per
// process (a fuzz program runs one entry point), with the message boxes of
// the log front end answered at once. Each input is written as the image
// file kFuzzImagePath.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ce/msgbox.h"
#include "cesim/msgbox.h"
#include "testkit/TestDevice.h"

inline constexpr WCHAR kFuzzImagePath[] = u"\\fuzz.pbf";

inline const quilmo::test::TestDevice& FuzzDevice() {
  static const quilmo::test::TestDevice device;
  static const bool boxesAnswered = [] {
    ce::SetMessageBoxService([](const ce::MessageBoxRequest&) { return IDOK; });
    return true;
  }();
  (void)boxesAnswered;
  return device;
}

// Puts the input on the device as the image file.
inline void PutFuzzImage(const uint8_t* data, size_t size) {
  FuzzDevice().PutFile(kFuzzImagePath, std::string(reinterpret_cast<const char*>(data), size));
}
