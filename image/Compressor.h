// Deflate and inflate of entry data with zlib, pulling input from and
// pushing output to a caller's ACompressorIO, with the crc32 of the
// uncompressed bytes. Level 1 compresses; level 0 writes stored blocks.
#pragma once

#include <zlib.h>

#include <memory>

#include "ce/types.h"

class ACompressorIO {
 public:
  // Takes length produced bytes; final is set with the last output of the
  // stream.
  virtual bool PutNext(BYTE* buffer, DWORD& length, bool final) = 0;
  // Fills buffer with up to length bytes (length comes in as the buffer's
  // capacity, 0x40000), sets length to the count and last with the last
  // input.
  virtual bool GetNext(BYTE* buffer, DWORD& length, bool& last) = 0;
  virtual ~ACompressorIO() = default;
};

class ACompressor {
 public:
  static constexpr int kIOFailure = -1;

  explicit ACompressor(int level = 1);
  ACompressor(const ACompressor&) = delete;
  ACompressor& operator=(const ACompressor&) = delete;
  virtual ~ACompressor();

  void SetIO(ACompressorIO* io) { m_pIO = io; }
  // Ends an initialised deflate stream so that the next Compress starts
  // one at the new level.
  void SetLevel(int level);
  int GetLevel() const { return m_Level; }

  // One whole deflate stream from the IO's input to its output.
  bool Compress();
  // One whole deflate stream from the IO's input inflated to its output.
  // Input after the end of the stream is read and ignored; input that ends
  // before the stream does fails.
  bool Uncompress();

  // crc32 of the uncompressed bytes of the last run.
  DWORD GetCRC() const { return m_Crc; }
  // The last zlib result (-1 after an IO failure).
  int GetLastResult() const { return m_LastResult; }
  // Compressed bytes of the last Compress.
  DWORD GetTotalOut() const { return m_TotalOut; }

 private:
  bool AllocateBuffers();
  bool StartDeflate();
  bool StartInflate();
  void EndDeflate();
  void EndInflate();
  bool GetInput(bool& last);
  bool PushOutput(bool final);
  bool Fail(int result, LPCWSTR text, int line);

  bool m_bCompressing = true;
  DWORD m_Crc = 0;
  int m_Level;
  std::unique_ptr<BYTE[]> m_pOutput;
  std::unique_ptr<BYTE[]> m_pInput;
  bool m_bInflateInit = false;
  bool m_bDeflateInit = false;
  int m_LastResult = Z_OK;
  ACompressorIO* m_pIO = nullptr;
  DWORD m_TotalOut = 0;
  z_stream m_Stream;
};
