// Local device times for tests, written as the calendar reads them.
#pragma once

#include "ce/time.h"

namespace quilmo::test {

inline SYSTEMTIME At(int y, int mo, int d, int h, int mi, int s = 0) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(mo);
  st.wDay = static_cast<WORD>(d);
  st.wHour = static_cast<WORD>(h);
  st.wMinute = static_cast<WORD>(mi);
  st.wSecond = static_cast<WORD>(s);
  return st;
}

}  // namespace quilmo::test
