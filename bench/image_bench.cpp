// Image write/read benchmark: writes and reads an image of mixed data
// (text, binaries, random) through AImageFile with compression and
// encryption on and off, beside a baseline of plain zlib (deflate level 1
// and inflate over the same 256 KB blocks) measured in the same run.
//
//   image_bench [--size MB] [--kind mixed|text|binary|random] [--reps N]
//               [--only CE] [--dir HOSTDIR] [--keep]
//
// --reps: runs per configuration (best counts, default 3); --only runs one
// configuration: C and E are 1 (on) or 0 (off) for compression and
// encryption.
//
// Speeds are in MB (10^6 bytes) of uncompressed data per second of the
// thread's CPU time. Exit code 0 when every image read back byte for byte
// with matching CRCs.
#include <stdlib.h>
#include <time.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/file.h"
#include "cesim/device.h"
#include "image/Cipher.h"
#include "image/Compressor.h"
#include "image/ImageEntryHeader.h"
#include "image/ImageFile.h"
#include "image/ImageFormat.h"

namespace {

constexpr DWORD kBlock = ImageFormat::kCompressorBufferSize;  // 256 KB
constexpr DWORD kRawBlock = 131072;                           // raw copies, as files are copied
const CString kImagePath(u"\\bench.pbf");

struct Item {
  std::u16string name;
  std::string data;
  DWORD crc = 0;
  DWORD position = 0;
  DWORD storedSize = 0;
};

// Speeds are taken from the thread's CPU time (user and system), so that
// other load on the machine does not skew the ratios; the disk is the
// host's page cache either way.
struct CpuClock {
  using time_point = double;
  static double now() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
  }
};
using Clock = CpuClock;

double Seconds(Clock::time_point start) { return Clock::now() - start; }

DWORD Crc(const void* p, size_t n) {
  return crc32(0, static_cast<const Bytef*>(p), static_cast<uInt>(n));
}

// Text: words of a small vocabulary with punctuation and line ends.
std::string MakeText(size_t n, std::mt19937& rng) {
  static const char* words[] = {"backup", "restore", "the", "device", "image", "file", "of",
                                "and", "storage", "card", "registry", "database", "mail",
                                "contact", "calendar", "to", "is", "a", "settings", "program"};
  std::string s;
  s.reserve(n + 16);
  while (s.size() < n) {
    s += words[rng() % 20];
    unsigned r = rng() % 16;
    s += r == 0 ? ".\r\n" : r == 1 ? ", " : " ";
  }
  s.resize(n);
  return s;
}

// Binaries: instruction-like words with small operands, tables and strings.
std::string MakeBinary(size_t n, std::mt19937& rng) {
  std::string s(n, '\0');
  size_t i = 0;
  while (i + 4 <= n) {
    unsigned r = rng();
    uint32_t word;
    switch (r % 4) {
      case 0: word = 0xE1A00000u | (r >> 20); break;            // common opcode, small operand
      case 1: word = 0xE5900000u | ((r >> 8) & 0xFFF); break;   // load with offset
      case 2: word = static_cast<uint32_t>(i & 0xFFFF0); break;  // addresses
      default: word = r; break;                                 // noise
    }
    std::memcpy(&s[i], &word, 4);
    i += 4;
  }
  return s;
}

std::string MakeRandom(size_t n, std::mt19937& rng) {
  std::string s(n, '\0');
  for (size_t i = 0; i + 4 <= n; i += 4) {
    uint32_t v = rng();
    std::memcpy(&s[i], &v, 4);
  }
  return s;
}

// kind: 0 text, 1 binaries, 2 random, -1 the three in turn.
std::vector<Item> MakeData(size_t totalBytes, int kind) {
  std::mt19937 rng(20240601);
  std::vector<Item> items;
  size_t total = 0;
  for (int i = 0; total < totalBytes; ++i) {
    size_t size = std::min<size_t>(totalBytes - total, 500000 + rng() % 2500000);
    Item item;
    char name[64];
    std::snprintf(name, sizeof name, "\\Data\\file%04d.dat", i);
    for (const char* p = name; *p; ++p) item.name += static_cast<char16_t>(*p);
    int k = kind >= 0 ? kind : i % 3;
    item.data = k == 0 ? MakeText(size, rng) : k == 1 ? MakeBinary(size, rng) : MakeRandom(size, rng);
    item.crc = Crc(item.data.data(), item.data.size());
    total += size;
    items.push_back(std::move(item));
  }
  return items;
}

// --- baseline: plain zlib over the same 256 KB blocks --------------------

struct Baseline {
  double deflateSeconds = 0;
  double inflateSeconds = 0;
  size_t compressedBytes = 0;
};

// The compressed streams stay allocated from run to run, so that only the
// first (warm-up) run pays for their memory.
Baseline RunBaseline(const std::vector<Item>& items) {
  static std::vector<std::string> streams;
  streams.resize(items.size());
  Baseline b;
  std::vector<Bytef> out(kBlock);
  z_stream z{};
  deflateInit(&z, 1);
  auto start = Clock::now();
  for (size_t i = 0; i < items.size(); ++i) {
    const std::string& data = items[i].data;
    std::string& packed = streams[i];
    packed.clear();
    deflateReset(&z);
    size_t at = 0;
    int r = Z_OK;
    do {
      DWORD n = static_cast<DWORD>(std::min<size_t>(kBlock, data.size() - at));
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + at));
      z.avail_in = n;
      at += n;
      int flush = at == data.size() ? Z_FINISH : Z_NO_FLUSH;
      do {
        z.next_out = out.data();
        z.avail_out = kBlock;
        r = deflate(&z, flush);
        packed.append(reinterpret_cast<char*>(out.data()), kBlock - z.avail_out);
      } while (z.avail_out == 0 || (flush == Z_FINISH && r != Z_STREAM_END));
    } while (r != Z_STREAM_END);
    b.compressedBytes += packed.size();
  }
  b.deflateSeconds = Seconds(start);
  deflateEnd(&z);

  z_stream y{};
  inflateInit(&y);
  start = Clock::now();
  for (const std::string& packed : streams) {
    inflateReset(&y);
    size_t at = 0;
    int r = Z_OK;
    while (r != Z_STREAM_END && at < packed.size()) {
      DWORD n = static_cast<DWORD>(std::min<size_t>(kBlock, packed.size() - at));
      y.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data() + at));
      y.avail_in = n;
      at += n;
      do {
        y.next_out = out.data();
        y.avail_out = kBlock;
        r = inflate(&y, Z_NO_FLUSH);
      } while (r == Z_OK && y.avail_out == 0);
    }
  }
  b.inflateSeconds = Seconds(start);
  inflateEnd(&y);
  return b;
}

// --- the image path ------------------------------------------------------

// Moves entry data between memory and the image, as the file-system
// component does between a file and the image.
class BenchIO : public ACompressorIO {
 public:
  BenchIO(AImageFile& image, bool cipher) : m_Image(image), m_Cipher(cipher) {}
  bool GetNext(BYTE* buffer, DWORD& length, bool& last) override {
    if (reading) {
      DWORD n = std::min(length, left);
      left -= n;
      if (!m_Image.Read(buffer, n, m_Cipher, left == 0)) return false;
      length = n;
      last = left == 0;
      return true;
    }
    DWORD n = static_cast<DWORD>(std::min<size_t>(length, source->size() - pos));
    std::memcpy(buffer, source->data() + pos, n);
    pos += n;
    length = n;
    last = pos == source->size();
    return true;
  }
  bool PutNext(BYTE* buffer, DWORD& length, bool final) override {
    if (reading) {  // the restored bytes go nowhere, as in the baseline
      produced += length;
      return true;
    }
    return m_Image.Write(buffer, length, m_Cipher, final);
  }
  bool reading = false;
  const std::string* source = nullptr;
  size_t pos = 0;
  DWORD left = 0;
  size_t produced = 0;

 private:
  AImageFile& m_Image;
  bool m_Cipher;
};

bool WriteImage(std::vector<Item>& items, bool compress, bool encrypt, DWORD* tailCrc) {
  if (!InitCipherKey(encrypt, u"bench password")) return false;
  AImageFile image(kImagePath, AImageFile::kBackup);
  if (!image.Open()) return false;
  ACompressor compressor(1);
  BenchIO io(image, encrypt);
  compressor.SetIO(&io);
  std::vector<BYTE> block(ImageFormat::kFileEntryBlockSize);
  for (Item& item : items) {
    image.GetBytesWritten(&item.position);
    DWORD nameBytes = static_cast<DWORD>((item.name.size() + 1) * 2);
    AImageFileHeader header(FILE_ENTRY, nameBytes + ImageFormat::kFindDataRecordSize, 0,
                            nameBytes, 0, 0);
    if (!(encrypt ? header.WriteEnciphered(image) : header.WritePlain(image))) return false;
    if (!image.Write(item.name.c_str(), nameBytes, encrypt, true)) return false;
    DWORD size = static_cast<DWORD>(item.data.size());
    std::memcpy(block.data() + 32, &size, 4);
    if (!image.Write(block.data(), ImageFormat::kFileEntryBlockSize, encrypt, true)) return false;
    DWORD start = image.GetPosition();
    if (compress) {
      io.source = &item.data;
      io.pos = 0;
      if (!compressor.Compress() || compressor.GetCRC() != item.crc) return false;
    } else {
      DWORD crc = 0;
      for (size_t at = 0; at < item.data.size(); at += kRawBlock) {
        DWORD n = static_cast<DWORD>(std::min<size_t>(kRawBlock, item.data.size() - at));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(item.data.data() + at), n);
        if (!image.Write(item.data.data() + at, n, encrypt, at + n == item.data.size())) return false;
      }
      if (crc != item.crc) return false;
    }
    item.storedSize = image.GetPosition() - start;
  }
  if (!image.FlushWriteBuffer()) return false;
  *tailCrc = image.GetCRC();
  AImageFileHeader tail(END_OF_IMAGE, 0, 0, 0, *tailCrc, 0);
  if (!tail.WritePlain(image)) return false;
  return image.Close();
}

bool ReadImage(const std::vector<Item>& items, bool compress, bool encrypt) {
  if (!InitCipherKey(encrypt, u"bench password")) return false;
  AImageFile image(kImagePath, AImageFile::kRestore);
  if (!image.Open()) return false;
  ACompressor compressor(1);
  BenchIO io(image, encrypt);
  io.reading = true;
  compressor.SetIO(&io);
  std::vector<BYTE> name(2 * MAX_PATH + 2);
  std::vector<BYTE> block(ImageFormat::kFileEntryBlockSize);
  std::vector<BYTE> raw(kRawBlock);
  for (const Item& item : items) {
    AImageFileHeader header;
    if (!(encrypt ? header.ReadDeciphered(image) : header.ReadPlain(image))) return false;
    if (header.ComponentType() != FILE_ENTRY || header.NameByteLength() > name.size()) return false;
    if (!image.Read(name.data(), header.NameByteLength(), encrypt, true)) return false;
    if (!image.Read(block.data(), ImageFormat::kFileEntryBlockSize, encrypt, true)) return false;
    if (compress) {
      io.left = item.storedSize;
      io.produced = 0;
      if (!compressor.Uncompress()) return false;
      if (compressor.GetCRC() != item.crc || io.produced != item.data.size()) return false;
    } else {
      DWORD crc = 0;
      for (DWORD left = item.storedSize; left > 0;) {
        DWORD n = std::min(left, kRawBlock);
        left -= n;
        if (!image.Read(raw.data(), n, encrypt, left == 0)) return false;
        crc = crc32(crc, raw.data(), n);
      }
      if (crc != item.crc) return false;
    }
  }
  AImageFileHeader tail;
  return tail.ReadPlain(image) && tail.ComponentType() == END_OF_IMAGE && image.Close();
}

// crc32 of the stored image up to its last 80 bytes (the tail).
bool TailCrcMatches(DWORD tailCrc) {
  ce::Device* device = ce::Device::Current();
  ce::ResolvedPath p;
  if (!device || !device->Resolve(kImagePath.str(), &p)) return false;
  FILE* f = std::fopen(p.host.c_str(), "rb");
  if (!f) return false;
  std::fseek(f, 0, SEEK_END);
  long long left = std::ftell(f) - ImageFormat::kHeaderSize;
  std::fseek(f, 0, SEEK_SET);
  std::vector<Bytef> buf(1 << 20);
  uLong crc = 0;
  size_t n = 0;
  while (left > 0 && (n = std::fread(buf.data(), 1, std::min<long long>(buf.size(), left), f)) > 0) {
    crc = crc32(crc, buf.data(), static_cast<uInt>(n));
    left -= static_cast<long long>(n);
  }
  std::fclose(f);
  return left == 0 && crc == tailCrc;
}

}  // namespace

int main(int argc, char** argv) {
  size_t sizeMb = 300;
  std::filesystem::path dir;
  bool keep = false;
  std::string only;
  std::string kind = "mixed";
  int reps = 3;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--size" && i + 1 < argc) {
      sizeMb = std::strtoul(argv[++i], nullptr, 10);
    } else if (a == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else if (a == "--only" && i + 1 < argc) {
      only = argv[++i];
    } else if (a == "--kind" && i + 1 < argc) {
      kind = argv[++i];
    } else if (a == "--reps" && i + 1 < argc) {
      reps = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--keep") {
      keep = true;
    } else {
      std::fprintf(stderr,
                   "usage: image_bench [--size MB] [--kind mixed|text|binary|random] "
                   "[--reps N] [--only CE] [--dir HOSTDIR] [--keep]\n");
      return 2;
    }
  }
  int kindIndex = kind == "text" ? 0 : kind == "binary" ? 1 : kind == "random" ? 2 : -1;
  if (dir.empty()) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quilmo-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) return 2;
    dir = tmpl;
  }
  std::string error;
  if (!ce::Device::Create(dir, ce::Profile{}, &error) || !ce::Device::Use(dir)) {
    std::fprintf(stderr, "device: %s\n", error.c_str());
    return 2;
  }

  std::vector<Item> items = MakeData(sizeMb * 1000000, kindIndex);
  double mb = 0;
  for (const Item& item : items) mb += item.data.size() / 1e6;
  std::printf("data: %.1f MB in %zu files (%s); device folder %s\n", mb, items.size(), kind.c_str(),
              dir.c_str());
  Baseline warmUp = RunBaseline(items);
  std::printf("zlib warm-up: deflate level 1 %.1f MB/s (compressed to %.2f), inflate %.1f MB/s\n",
              mb / warmUp.deflateSeconds, warmUp.compressedBytes / (mb * 1e6),
              mb / warmUp.inflateSeconds);

  // Each configuration alternates with baseline runs; the best of the
  // repetitions counts on both sides.
  bool allOk = true;
  for (bool compress : {true, false}) {
    for (bool encrypt : {false, true}) {
      if (!only.empty() && only != std::string{compress ? '1' : '0', encrypt ? '1' : '0'}) continue;
      Baseline base;
      double writeSeconds = 0, readSeconds = 0;
      bool ok = true;
      for (int rep = 0; rep < reps && ok; ++rep) {
        Baseline b = RunBaseline(items);
        DWORD tailCrc = 0;
        auto start = Clock::now();
        bool wrote = WriteImage(items, compress, encrypt, &tailCrc);
        double w = Seconds(start);
        start = Clock::now();
        bool read = wrote && ReadImage(items, compress, encrypt);
        double r = Seconds(start);
        ok = read && TailCrcMatches(tailCrc);
        if (rep == 0 || b.deflateSeconds < base.deflateSeconds) base.deflateSeconds = b.deflateSeconds;
        if (rep == 0 || b.inflateSeconds < base.inflateSeconds) base.inflateSeconds = b.inflateSeconds;
        if (rep == 0 || w < writeSeconds) writeSeconds = w;
        if (rep == 0 || r < readSeconds) readSeconds = r;
      }
      allOk = allOk && ok;
      std::printf("compress %-3s encrypt %-3s | write %6.1f MB/s = %.2f x deflate (%5.1f) | read "
                  "%6.1f MB/s = %.2f x inflate (%5.1f) | %s\n",
                  compress ? "on" : "off", encrypt ? "on" : "off", mb / writeSeconds,
                  base.deflateSeconds / writeSeconds, mb / base.deflateSeconds, mb / readSeconds,
                  base.inflateSeconds / readSeconds, mb / base.inflateSeconds, ok ? "ok" : "FAILED");
      std::fflush(stdout);
    }
  }
  if (!keep) {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  return allOk ? 0 : 1;
}
