// The compressor: round trips at level 1 and 0, crc32 on both sides, the
// final mark, empty input, damaged streams, IO failures.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "image/Compressor.h"
#include "image_test_util.h"

using imagetest::LogCapture;
using imagetest::SampleData;

namespace {

// Supplies input in chunks of a given size and collects the output.
class MemoryIO : public ACompressorIO {
 public:
  MemoryIO(std::string input, size_t chunk) : in(std::move(input)), chunkSize(chunk) {}
  bool GetNext(BYTE* buffer, DWORD& length, bool& last) override {
    ++gets;
    if (failGet) return false;
    size_t n = std::min({chunkSize, in.size() - pos, static_cast<size_t>(length)});
    std::copy_n(in.data() + pos, n, buffer);
    pos += n;
    length = static_cast<DWORD>(n);
    last = pos == in.size();
    return true;
  }
  bool PutNext(BYTE* buffer, DWORD& length, bool final) override {
    if (failPut) return false;
    EXPECT_FALSE(sawFinal) << "output after the final mark";
    out.append(reinterpret_cast<char*>(buffer), length);
    sawFinal = sawFinal || final;
    return true;
  }
  std::string in;
  size_t chunkSize;
  size_t pos = 0;
  std::string out;
  bool sawFinal = false;
  int gets = 0;
  bool failGet = false;
  bool failPut = false;
};

DWORD Crc(const std::string& s) {
  return crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size()));
}

std::string Compress(ACompressor& c, const std::string& data, size_t chunk = 0x40000) {
  MemoryIO io(data, chunk);
  c.SetIO(&io);
  EXPECT_TRUE(c.Compress());
  EXPECT_TRUE(io.sawFinal);
  EXPECT_EQ(c.GetCRC(), Crc(data));
  EXPECT_EQ(c.GetTotalOut(), io.out.size());
  return io.out;
}

}  // namespace

TEST(ACompressor, RoundTripAtBothLevels) {
  std::string data = SampleData(700000, 1);  // several 256 KB buffers
  for (int level : {1, 0}) {
    ACompressor c(level);
    std::string packed = Compress(c, data, 100000);
    if (level == 1)
      EXPECT_LT(packed.size(), data.size());
    else
      EXPECT_GT(packed.size(), data.size());  // stored blocks
    // A plain zlib stream.
    std::string check(data.size(), '\0');
    uLongf n = check.size();
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(check.data()), &n,
                         reinterpret_cast<const Bytef*>(packed.data()), packed.size()),
              Z_OK);
    EXPECT_EQ(check, data);

    MemoryIO back(packed, 70000);
    c.SetIO(&back);
    ASSERT_TRUE(c.Uncompress());
    EXPECT_EQ(back.out, data);
    EXPECT_EQ(c.GetCRC(), Crc(data));
    EXPECT_EQ(c.GetLastResult(), Z_STREAM_END);
  }
}

TEST(ACompressor, EmptyInputGivesAnEmptyStream) {
  ACompressor c(1);
  std::string packed = Compress(c, "");
  EXPECT_FALSE(packed.empty());
  EXPECT_EQ(c.GetCRC(), 0u);
  MemoryIO back(packed, 0x40000);
  c.SetIO(&back);
  ASSERT_TRUE(c.Uncompress());
  EXPECT_TRUE(back.out.empty());
  EXPECT_EQ(c.GetCRC(), 0u);
}

TEST(ACompressor, LevelChangeAndReuse) {
  std::string data = SampleData(300000, 2);
  ACompressor c(0);
  size_t stored = Compress(c, data).size();
  c.SetLevel(1);
  size_t packed = Compress(c, data).size();
  EXPECT_LT(packed, stored);
  // Switching between directions reuses the object.
  std::string again = Compress(c, data);
  MemoryIO back(again, 0x40000);
  c.SetIO(&back);
  ASSERT_TRUE(c.Uncompress());
  EXPECT_EQ(back.out, data);
  EXPECT_EQ(Compress(c, data), again);
}

TEST(ACompressor, DamagedStreamsFailWithoutHanging) {
  std::string data = SampleData(400000, 3);
  ACompressor c(1);
  std::string packed = Compress(c, data);
  {
    // Cut short: the input ends before the stream does.
    LogCapture log;
    MemoryIO cut(packed.substr(0, packed.size() / 2), 0x40000);
    c.SetIO(&cut);
    EXPECT_FALSE(c.Uncompress());
    EXPECT_TRUE(log.Has(u"final inflate failed"));
  }
  {
    LogCapture log;
    std::string bad = packed;
    bad[0] = 0x00;  // not a zlib header
    MemoryIO io(bad, 1000);
    c.SetIO(&io);
    EXPECT_FALSE(c.Uncompress());
    EXPECT_EQ(c.GetLastResult(), Z_DATA_ERROR);
    EXPECT_TRUE(log.Has(u"inflate failed"));
  }
  {
    // Bytes after the end of the stream are read to the end and ignored.
    MemoryIO trailing(packed + std::string(300000, 'x'), 50000);
    c.SetIO(&trailing);
    ASSERT_TRUE(c.Uncompress());
    EXPECT_EQ(trailing.out, data);
    EXPECT_EQ(trailing.pos, trailing.in.size());
  }
  {
    // Random bytes behind a valid header never loop forever.
    std::string junk = packed.substr(0, 2) + SampleData(200000, 9).substr(10000, 150000);
    MemoryIO io(junk, 4096);
    c.SetIO(&io);
    LogCapture log;
    EXPECT_FALSE(c.Uncompress());
  }
}

TEST(ACompressor, IoFailuresReportMinusOne) {
  ACompressor c(1);
  LogCapture log;
  MemoryIO get("abc", 10);
  get.failGet = true;
  c.SetIO(&get);
  EXPECT_FALSE(c.Compress());
  EXPECT_EQ(c.GetLastResult(), -1);
  EXPECT_TRUE(log.Has(u"GetNextBuffer failed"));
  MemoryIO put("abc", 10);
  put.failPut = true;
  c.SetIO(&put);
  EXPECT_FALSE(c.Compress());
  EXPECT_EQ(c.GetLastResult(), -1);
  EXPECT_TRUE(log.Has(u"PutNextBuffer failed"));
}
