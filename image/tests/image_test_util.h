// Shared helpers of the image tests: log capture, a memory-backed file
// interface behind a test image host, sample data.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/file.h"
#include "core/Log.h"
#include "testkit/LogCapture.h"
#include "image/ImageFile.h"

namespace imagetest {

using quilmo::test::LogCapture;

// A file held in memory; counts the calls that reach it.
struct MemoryStore {
  std::string bytes;
  int writes = 0;
  std::vector<DWORD> writeSizes;
  int reads = 0;
  int seeks = 0;
};

class MemoryFile : public AFileInterface {
 public:
  explicit MemoryFile(std::shared_ptr<MemoryStore> store) : m_Store(std::move(store)) {}
  bool Open(DWORD, DWORD disposition, DWORD) override {
    if (disposition == CREATE_ALWAYS) m_Store->bytes.clear();
    m_Pos = 0;
    return true;
  }
  bool Read(void* buffer, DWORD count, DWORD* outCount) override {
    ++m_Store->reads;
    size_t left = m_Pos < m_Store->bytes.size() ? m_Store->bytes.size() - m_Pos : 0;
    DWORD n = static_cast<DWORD>(std::min<size_t>(left, count));
    if (n == 0 || (!outCount && n < count)) return false;
    std::memcpy(buffer, m_Store->bytes.data() + m_Pos, n);
    m_Pos += n;
    if (outCount) *outCount = n;
    return true;
  }
  bool Write(const void* buffer, DWORD count) override {
    ++m_Store->writes;
    m_Store->writeSizes.push_back(count);
    if (m_Store->bytes.size() < m_Pos + count) m_Store->bytes.resize(m_Pos + count);
    std::memcpy(m_Store->bytes.data() + m_Pos, buffer, count);
    m_Pos += count;
    return true;
  }
  bool Close() override { return true; }
  bool GetFileSize(DWORD* size) override {
    *size = static_cast<DWORD>(m_Store->bytes.size());
    return true;
  }
  bool SetFilePointer(LONG distance, DWORD method) override {
    ++m_Store->seeks;
    LONGLONG base = method == FILE_END ? static_cast<LONGLONG>(m_Store->bytes.size()) : 0;
    if (method == FILE_CURRENT) base = m_Pos;
    if (base + distance < 0) return false;
    m_Pos = static_cast<size_t>(base + distance);
    return true;
  }
  bool GetFilePointer(DWORD* position) override {
    *position = static_cast<DWORD>(m_Pos);
    return true;
  }

 private:
  std::shared_ptr<MemoryStore> m_Store;
  size_t m_Pos = 0;
};

// Host-mode images land in one memory store; registered while alive.
class MemoryHost : public AImageHost {
 public:
  MemoryHost() { SetImageHost(this); }
  ~MemoryHost() override { SetImageHost(nullptr); }
  bool GetConfiguredHost(CString&, WORD&) override { return false; }
  bool IsConnected() override { return connected; }
  bool Connect(const CString&, WORD) override { return connected = connectSucceeds; }
  std::unique_ptr<AFileInterface> CreateFile(const CString&) override {
    return std::make_unique<MemoryFile>(store);
  }
  std::shared_ptr<MemoryStore> store = std::make_shared<MemoryStore>();
  bool connected = false;
  bool connectSucceeds = true;
};

// Mixed sample data: text, structured binary and random bytes.
inline std::string SampleData(size_t size, unsigned seed) {
  std::string s(size, '\0');
  std::mt19937 rng(seed);
  static const char words[] = "backup image entry header compressor cipher index ";
  for (size_t i = 0; i < size; ++i) {
    switch ((i / 5000) % 3) {
      case 0: s[i] = words[i % (sizeof words - 1)]; break;
      case 1: s[i] = static_cast<char>((i * 7) ^ (i >> 8)); break;
      default: s[i] = static_cast<char>(rng()); break;
    }
  }
  return s;
}

}  // namespace imagetest
