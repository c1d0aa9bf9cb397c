// Damaged images: a real image (metadata, folder and file entries, index,
// tail) is damaged by single-byte flips and by truncation at many offsets;
// every reader must refuse or report each damaged image, and none may
// crash, hang or allocate beyond the file.
#include <gtest/gtest.h>
#include <zlib.h>

#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/Log.h"
#include "image/Cipher.h"
#include "image/ImageFile.h"
#include "image/Index.h"
#include "testkit/TestDevice.h"

using quilmo::test::TestDevice;

namespace {

const CString kImage = u"\\Storage\\damaged.pbf";
constexpr DWORD kBlockSize = 40;  // stored part of a file entry's find data

// Silences the report sink while thousands of damaged images are read.
class QuietErrors {
 public:
  QuietErrors() { SetLogReportSink([this](int, DWORD, const CString&) { ++count; }); }
  ~QuietErrors() { SetLogReportSink(nullptr); }
  size_t count = 0;
};

// zlib's crc32 resets to 0 for a null buffer; an empty piece keeps crc.
DWORD Crc(DWORD crc, const void* data, size_t length) {
  if (length == 0) return crc;
  return static_cast<DWORD>(crc32(crc, static_cast<const Bytef*>(data), static_cast<uInt>(length)));
}

std::vector<BYTE> NameBytes(const std::u16string& name) {
  std::vector<BYTE> out;
  for (char16_t c : name) {
    out.push_back(static_cast<BYTE>(c));
    out.push_back(static_cast<BYTE>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

struct Entry {
  std::u16string name;
  bool directory;
  std::string data;
};

// Writes one folder or file entry the way the file-system component does
// and records it in the index node.
bool WriteEntry(AImageFile& image, Index& index, int node, const Entry& entry, bool enc) {
  DWORD position = 0;
  image.GetBytesWritten(&position);
  std::vector<BYTE> name = NameBytes(entry.name);
  DWORD nameBytes = static_cast<DWORD>(name.size());
  BYTE block[kBlockSize] = {};
  block[0] = entry.directory ? 0x10 : 0x20;
  block[32] = static_cast<BYTE>(entry.data.size());  // size, low part
  AImageFileHeader header(entry.directory ? DIRECTORY_ENTRY : FILE_ENTRY, nameBytes + 560, 0,
                          nameBytes, 0, 0);
  DWORD crc = Crc(0, name.data(), nameBytes - 2);
  crc = Crc(crc, block, kBlockSize);
  crc = Crc(crc, entry.data.data(), entry.data.size());
  bool ok = (enc ? header.WriteEnciphered(image) : header.WritePlain(image)) &&
            image.Write(name.data(), nameBytes, enc, true) &&
            image.Write(block, kBlockSize, enc, true);
  // Data in two writes of one cipher run.
  size_t half = entry.data.size() / 2;
  if (ok && !entry.data.empty()) {
    ok = (half == 0 || image.Write(entry.data.data(), static_cast<DWORD>(half), enc, false)) &&
         image.Write(entry.data.data() + half, static_cast<DWORD>(entry.data.size() - half), enc,
                     true);
  }
  index.SetLocation(node, position, static_cast<DWORD>(entry.data.size()), crc,
                    static_cast<DWORD>(entry.data.size()), 0);
  return ok;
}

// A complete image: metadata entry, entries, index, tail.
std::string BuildImage(TestDevice& dev, bool enc) {
  EXPECT_TRUE(InitCipherKey(enc, u"pw"));
  Index index;
  index.AddTopLevelComponents(static_cast<const IncludedKinds*>(nullptr));
  int fs = index.FindChildOfType(TREE_FILESYSTEM);
  const std::vector<Entry> top = {{u"\\My Documents", true, ""},
                                  {u"\\readme.txt", false, std::string(300, 'r')}};
  const std::vector<Entry> inner = {{u"\\My Documents\\a.bin", false, std::string("\x01\x02\x03", 3)},
                                    {u"\\My Documents\\empty.txt", false, ""}};
  auto item = [](const Entry& e) {
    Index::Item it;
    it.ComponentType = e.directory ? DIRECTORY_ENTRY : FILE_ENTRY;
    it.name = e.name;
    return it;
  };
  index.AddChildren(fs, {item(top[0]), item(top[1])});
  int docs = index.FirstChild(fs);
  index.AddChildren(docs, {item(inner[0]), item(inner[1])});

  AImageFile image(kImage, AImageFile::kBackup);
  EXPECT_TRUE(image.Open());
  std::string block(1528, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7);
  AImageFileHeader meta(METADATA_ENTRY, 1528, 0, 0, Crc(0, block.data(), block.size()), 0);
  EXPECT_TRUE(meta.WritePlain(image));
  EXPECT_TRUE(image.Write(block.data(), 1528, false, true));
  EXPECT_TRUE(WriteEntry(image, index, docs, top[0], enc));
  EXPECT_TRUE(WriteEntry(image, index, docs + 2, inner[0], enc));
  EXPECT_TRUE(WriteEntry(image, index, docs + 3, inner[1], enc));
  EXPECT_TRUE(WriteEntry(image, index, docs + 1, top[1], enc));
  DWORD body = 0;
  EXPECT_TRUE(index.Store(image, enc, &body));
  EXPECT_TRUE(image.FlushWriteBuffer());
  AImageFileHeader tail(END_OF_IMAGE, body, 0, 0, image.GetCRC(), 0);
  EXPECT_TRUE(tail.WritePlain(image));
  EXPECT_TRUE(image.Close());
  return dev.ReadFile(kImage.view());
}

// Which readers refused the image.
struct Verdict {
  bool isBackupFile = false;
  bool metadataOk = false;
  bool indexOk = false;
  bool entriesOk = false;
  bool crcOk = false;
  bool AllAccepted() const { return isBackupFile && metadataOk && indexOk && entriesOk && crcOk; }
};

bool ReadMetadata(bool) {
  AImageFile image(kImage, AImageFile::kRestore);
  if (!image.Open()) return false;
  AImageFileHeader header;
  if (!header.ReadPlain(image) || header.ComponentType() != METADATA_ENTRY ||
      header.FixedPartSize() != 1528 || image.BytesLeft() < 1528)
    return false;
  std::vector<BYTE> block(1528);
  return image.Read(block.data(), 1528, false, true) &&
         Crc(0, block.data(), block.size()) == header.CRCSum();
}

// Reads every entry the index names, checking type, name and crc.
bool ReadEntries(AImageFile& image, const Index& index, bool enc) {
  int fs = index.FindChildOfType(TREE_FILESYSTEM);
  if (fs == -1) return false;
  for (int n = index.NextInSubtree(fs, fs); n != -1; n = index.NextInSubtree(fs, n)) {
    const Index::Item& item = index.NodeInfo(n);
    AImageFileHeader header;
    if (item.fileOffset > 0x7FFFFFFFu ||
        !image.SetFilePointer(static_cast<LONG>(item.fileOffset), FILE_BEGIN) ||
        !(enc ? header.ReadDeciphered(image) : header.ReadPlain(image)) ||
        header.ComponentType() != item.ComponentType)
      return false;
    DWORD nameBytes = header.NameByteLength();
    if (nameBytes < 2 || nameBytes > 2 * (MAX_PATH + 1) || nameBytes % 2 != 0 ||
        nameBytes + kBlockSize > image.BytesLeft())
      return false;
    std::vector<BYTE> name(nameBytes);
    BYTE block[kBlockSize];
    if (!image.Read(name.data(), nameBytes, enc, true) ||
        !image.Read(block, kBlockSize, enc, true))
      return false;
    if (NameBytes(item.name) != name) return false;
    DWORD crc = Crc(Crc(0, name.data(), nameBytes - 2), block, kBlockSize);
    if (item.sizeInImage > image.BytesLeft()) return false;
    std::vector<BYTE> data(item.sizeInImage);
    if (!data.empty() && !image.Read(data.data(), item.sizeInImage, enc, true)) return false;
    if (Crc(crc, data.data(), data.size()) != item.crcValue) return false;
  }
  return true;
}

// The read-back check: crc32 of every byte before the tail.
bool CheckImageCrc() {
  AImageFile image(kImage, AImageFile::kRestore);
  if (!image.Open() || image.GetFileSize() < 160) return false;
  DWORD left = image.GetFileSize() - 80;
  std::vector<BYTE> buffer(0x8000);
  DWORD crc = 0;
  while (left > 0) {
    DWORD n = std::min<DWORD>(left, 0x8000);
    if (!image.Read(buffer.data(), n, false, false)) return false;
    crc = Crc(crc, buffer.data(), n);
    left -= n;
  }
  AImageFileHeader tail;
  return tail.ReadPlain(image) && tail.CRCSum() == crc;
}

Verdict ReadAll(bool enc) {
  Verdict v;
  v.isBackupFile = AImageFile::IsBackupFile(kImage);
  v.metadataOk = ReadMetadata(enc);
  {
    AImageFile image(kImage, AImageFile::kRestore);
    Index index;
    if (image.Open()) {
      v.indexOk = index.Locate(image, enc);
      // Entries are read even through a partly loaded index.
      v.entriesOk = ReadEntries(image, index, enc) && v.indexOk;
    }
  }
  v.crcOk = CheckImageCrc();
  return v;
}

// Tail words that no reader uses: type, count, name length, record id and
// the reserved bytes.
bool IsUnusedTailByte(size_t offset, size_t size) {
  if (offset < size - 80) return false;
  size_t at = offset - (size - 80);
  return (at >= 32 && at < 36) || (at >= 40 && at < 48) || at >= 52;
}

void Sweep(bool enc) {
  TestDevice dev;
  dev.MakeDir(u"\\Storage");
  const std::string good = BuildImage(dev, enc);
  ASSERT_GT(good.size(), 2000u);
  {
    ASSERT_TRUE(InitCipherKey(enc, u"pw"));
    Verdict v = ReadAll(enc);
    ASSERT_TRUE(v.AllAccepted()) << v.isBackupFile << v.metadataOk << v.indexOk << v.entriesOk
                                 << v.crcOk;
  }
  QuietErrors quiet;
  // Sampled by default (every few bytes, denser over the index and tail);
  // QUILMO_FULL_SWEEP=1 flips every byte both ways and cuts at every length.
  const bool full = getenv("QUILMO_FULL_SWEEP") != nullptr;
  const auto* tail = reinterpret_cast<const unsigned char*>(good.data() + good.size() - 80);
  const size_t body = tail[36] | (tail[37] << 8);
  const size_t indexStart = good.size() - 80 - body - 80;
  for (size_t offset = 0; offset < good.size();
       offset += full ? 1 : (offset >= indexStart || offset < 80 ? 3 : 13)) {
    for (BYTE mask : {BYTE{0x01}, BYTE{0xFF}}) {
      if (!full && mask != ((offset / 3) % 2 ? 0x01 : 0xFF)) continue;
      std::string bytes = good;
      bytes[offset] = static_cast<char>(bytes[offset] ^ mask);
      dev.PutFile(kImage.view(), bytes);
      ASSERT_TRUE(InitCipherKey(enc, u"pw"));
      Verdict v = ReadAll(enc);
      if (!IsUnusedTailByte(offset, good.size())) {
        EXPECT_FALSE(v.AllAccepted()) << "flip " << int(mask) << " at " << offset;
      }
    }
  }
  for (size_t length = 0; length < good.size();
       length += (full || length < 170 || length + 100 > good.size()) ? 1 : 17) {
    dev.PutFile(kImage.view(), good.substr(0, length));
    ASSERT_TRUE(InitCipherKey(enc, u"pw"));
    Verdict v = ReadAll(enc);
    EXPECT_FALSE(v.AllAccepted()) << "truncated to " << length;
    if (length < 160) {
      EXPECT_FALSE(v.isBackupFile) << length;
    }
  }
}

}  // namespace

TEST(ImageCorruption, PlainImageSweep) { Sweep(false); }
TEST(ImageCorruption, EncipheredImageSweep) { Sweep(true); }
