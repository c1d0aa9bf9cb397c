#include "image/Compressor.h"

#include <cstring>

#include "core/Log.h"
#include "image/ImageFormat.h"

namespace {
const WCHAR kClass[] = u"ACompressor";
constexpr DWORD kBufferSize = ImageFormat::kCompressorBufferSize;
}  // namespace

ACompressor::ACompressor(int level) : m_Level(level) { std::memset(&m_Stream, 0, sizeof m_Stream); }

ACompressor::~ACompressor() {
  EndDeflate();
  EndInflate();
}

void ACompressor::SetLevel(int level) {
  EndDeflate();
  m_Level = level;
}

bool ACompressor::Fail(int result, LPCWSTR text, int line) {
  m_LastResult = result;
  LogError(static_cast<DWORD>(result), text, kClass, line);
  return false;
}

bool ACompressor::AllocateBuffers() {
  if (m_pInput && m_pOutput) return true;
  m_pInput = std::make_unique<BYTE[]>(kBufferSize);
  m_pOutput = std::make_unique<BYTE[]>(kBufferSize);
  return true;
}

void ACompressor::EndDeflate() {
  if (m_bDeflateInit) deflateEnd(&m_Stream);
  m_bDeflateInit = false;
}

void ACompressor::EndInflate() {
  if (m_bInflateInit) inflateEnd(&m_Stream);
  m_bInflateInit = false;
}

bool ACompressor::StartDeflate() {
  if (m_bDeflateInit) return true;
  AllocateBuffers();
  EndInflate();
  std::memset(&m_Stream, 0, sizeof m_Stream);
  int r = deflateInit(&m_Stream, m_Level);
  if (r != Z_OK) return Fail(r, u"deflateInit failed", __LINE__);
  m_bDeflateInit = true;
  return true;
}

bool ACompressor::StartInflate() {
  if (m_bInflateInit) return true;
  AllocateBuffers();
  EndDeflate();
  std::memset(&m_Stream, 0, sizeof m_Stream);
  int r = inflateInit(&m_Stream);
  if (r != Z_OK) return Fail(r, u"inflateInit failed", __LINE__);
  m_bInflateInit = true;
  return true;
}

bool ACompressor::GetInput(bool& last) {
  DWORD length = kBufferSize;
  last = false;
  if (!m_pIO || !m_pIO->GetNext(m_pInput.get(), length, last) || length > kBufferSize)
    return Fail(kIOFailure, u"GetNextBuffer failed", __LINE__);
  if (m_bCompressing) m_Crc = crc32(m_Crc, m_pInput.get(), length);
  m_Stream.next_in = m_pInput.get();
  m_Stream.avail_in = length;
  return true;
}

bool ACompressor::PushOutput(bool final) {
  DWORD produced = kBufferSize - m_Stream.avail_out;
  if (produced > 0) {
    if (!m_bCompressing) m_Crc = crc32(m_Crc, m_pOutput.get(), produced);
    DWORD length = produced;
    if (!m_pIO->PutNext(m_pOutput.get(), length, final))
      return Fail(kIOFailure, u"PutNextBuffer failed", __LINE__);
  }
  m_Stream.next_out = m_pOutput.get();
  m_Stream.avail_out = kBufferSize;
  return true;
}

bool ACompressor::Compress() {
  if (!StartDeflate()) return false;
  m_bCompressing = true;
  m_Crc = 0;
  m_TotalOut = 0;
  int r = deflateReset(&m_Stream);
  if (r != Z_OK) return Fail(r, u"deflateReset failed", __LINE__);
  m_Stream.next_in = m_pInput.get();
  m_Stream.avail_in = 0;
  m_Stream.next_out = m_pOutput.get();
  m_Stream.avail_out = kBufferSize;

  bool last = false;
  for (;;) {
    if (m_Stream.avail_in == 0 && !GetInput(last)) return false;
    if (last) break;
    r = deflate(&m_Stream, Z_NO_FLUSH);
    if (r != Z_OK) return Fail(r, u"deflate failed", __LINE__);
    if (!PushOutput(false)) return false;
  }
  do {
    r = deflate(&m_Stream, Z_FINISH);
    if (r != Z_OK && r != Z_STREAM_END) return Fail(r, u"final deflate failed", __LINE__);
    if (!PushOutput(r == Z_STREAM_END)) return false;
  } while (r != Z_STREAM_END);
  m_TotalOut = static_cast<DWORD>(m_Stream.total_out);
  m_LastResult = r;
  return true;
}

bool ACompressor::Uncompress() {
  if (!StartInflate()) return false;
  m_bCompressing = false;
  m_Crc = 0;
  int r = inflateReset(&m_Stream);
  if (r != Z_OK) return Fail(r, u"inflateReset failed", __LINE__);
  m_Stream.next_in = m_pInput.get();
  m_Stream.avail_in = 0;
  m_Stream.next_out = m_pOutput.get();
  m_Stream.avail_out = kBufferSize;

  bool last = false;
  bool ended = false;
  for (;;) {
    if (m_Stream.avail_in == 0 && !GetInput(last)) return false;
    if (last) break;
    if (ended) {  // input after the end of the stream
      m_Stream.avail_in = 0;
      continue;
    }
    r = inflate(&m_Stream, Z_NO_FLUSH);
    if (r != Z_OK && r != Z_STREAM_END) return Fail(r, u"inflate failed", __LINE__);
    ended = r == Z_STREAM_END;
    if (!PushOutput(ended)) return false;
  }
  r = ended ? Z_STREAM_END : Z_OK;
  while (r != Z_STREAM_END) {
    r = inflate(&m_Stream, Z_NO_FLUSH);
    if (r != Z_OK && r != Z_STREAM_END) return Fail(r, u"final inflate failed", __LINE__);
    if (!PushOutput(r == Z_STREAM_END)) return false;
  }
  m_LastResult = r;
  return true;
}
