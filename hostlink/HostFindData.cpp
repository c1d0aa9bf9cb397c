#include "hostlink/HostFindData.h"

#include "ce/bytes.h"

using namespace ce::le;

HOST_FIND_DATA HOST_FIND_DATA::Parse(std::string_view b, size_t at) {
  HOST_FIND_DATA d;
  auto time = [&](size_t offset) { return FILETIME{Get32(b, at + offset), Get32(b, at + offset + 4)}; };
  d.dwFileAttributes = Get32(b, at);
  d.ftCreationTime = time(4);
  d.ftLastAccessTime = time(12);
  d.ftLastWriteTime = time(20);
  d.nFileSizeHigh = Get32(b, at + 28);
  d.nFileSizeLow = Get32(b, at + 32);
  d.dwReserved0 = Get32(b, at + 36);
  d.dwReserved1 = Get32(b, at + 40);
  for (int i = 0; i < kNameChars; ++i) d.cFileName[i] = Get16(b, at + 44 + 2 * i);
  for (int i = 0; i < kShortNameChars; ++i) d.cAlternateFileName[i] = Get16(b, at + 564 + 2 * i);
  d.cFileName[kNameChars - 1] = 0;
  d.cAlternateFileName[kShortNameChars - 1] = 0;
  return d;
}

void HOST_FIND_DATA::Store(std::string* b) const {
  auto time = [&](const FILETIME& t) {
    Put32(b, t.dwLowDateTime);
    Put32(b, t.dwHighDateTime);
  };
  Put32(b, dwFileAttributes);
  time(ftCreationTime);
  time(ftLastAccessTime);
  time(ftLastWriteTime);
  Put32(b, nFileSizeHigh);
  Put32(b, nFileSizeLow);
  Put32(b, dwReserved0);
  Put32(b, dwReserved1);
  for (WCHAR c : cFileName) Put16(b, c);
  for (WCHAR c : cAlternateFileName) Put16(b, c);
}
