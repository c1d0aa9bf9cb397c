// Shared helpers of the host-link tests: a scratch device with short
// socket time-outs, registry seeding and log capture.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ce/registry.h"
#include "ce/winsock.h"
#include "core/Log.h"
#include "testkit/LogCapture.h"
#include "testkit/TestDevice.h"

namespace linktest {

using quilmo::test::LogCapture;

inline void SetDWord(LPCWSTR keyPath, LPCWSTR name, DWORD value) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, 0, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  RegCloseKey(key);
}

// A scratch device whose socket receive waits 1 s for at most 2 attempts.
class LinkFixture : public ::testing::Test {
 protected:
  LinkFixture() {
    static const bool started = [] {
      ce::ws::WSADATA data{};
      return ce::ws::WSAStartup(0x0101, &data) == 0;
    }();
    EXPECT_TRUE(started);
    SetDWord(u"Software\\Quilmo Software", u"SocketTimeout", 1);
    SetDWord(u"Software\\Quilmo Software", u"SocketRetries", 2);
  }

  void SetPartner(int index, DWORD id) {
    std::u16string key = u"Software\\Microsoft\\Windows CE Services\\Partners\\P";
    key += static_cast<char16_t>(u'A' + index);
    SetDWord(key.c_str(), u"PId", id);
  }
  void SetAgentDWord(LPCWSTR name, DWORD value) {
    SetDWord(u"SOFTWARE\\Quilmo Software\\Quilmo Agent", name, value);
  }

  quilmo::test::TestDevice device_;
};

}  // namespace linktest
