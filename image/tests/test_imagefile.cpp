// The image file and its entry headers: round trips with compression and
// encryption on and off, the tail CRC, buffering and seeking rules, the
// image check, damaged images.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "image/Cipher.h"
#include "image/Compressor.h"
#include "image/ImageEntryHeader.h"
#include "image/ImageFile.h"
#include "image_test_util.h"
#include "testkit/TestDevice.h"

using imagetest::LogCapture;
using imagetest::MemoryHost;
using imagetest::SampleData;
using quilmo::test::TestDevice;

namespace {

const CString kImage(u"\\temp\\test.pbf");

struct Entry {
  std::u16string name;
  std::string data;
  DWORD position = 0;
  DWORD storedSize = 0;
  DWORD crc = 0;
};

// Entry data between a component and the image, in both directions.
class EntryIO : public ACompressorIO {
 public:
  EntryIO(AImageFile& image, bool cipher) : m_Image(image), m_Cipher(cipher) {}
  // Backup: data in, image out.
  bool GetNext(BYTE* buffer, DWORD& length, bool& last) override {
    DWORD n = std::min<DWORD>(length, static_cast<DWORD>(source.size() - sourcePos));
    if (reading) {
      n = std::min(length, left);
      left -= n;
      if (!m_Image.Read(buffer, n, m_Cipher, left == 0)) return false;
      last = left == 0;
    } else {
      std::copy_n(source.data() + sourcePos, n, buffer);
      sourcePos += n;
      last = sourcePos == source.size();
    }
    length = n;
    return true;
  }
  bool PutNext(BYTE* buffer, DWORD& length, bool final) override {
    if (reading) {
      sink.append(reinterpret_cast<char*>(buffer), length);
      return true;
    }
    return m_Image.Write(buffer, length, m_Cipher, final);
  }
  bool reading = false;
  std::string source;
  size_t sourcePos = 0;
  DWORD left = 0;
  std::string sink;

 private:
  AImageFile& m_Image;
  bool m_Cipher;
};

std::vector<Entry> SampleEntries() {
  std::vector<Entry> e;
  e.push_back({u"\\My Documents\\notes.txt", SampleData(150000, 1)});
  e.push_back({u"\\empty.dat", ""});
  e.push_back({u"\\Windows\\big.bin", SampleData(600000, 2)});
  e.push_back({u"\\a", std::string(40000, 'z')});
  return e;
}

std::string FileBlock(const Entry& e) {
  std::string block(40, '\0');
  DWORD size = static_cast<DWORD>(e.data.size());
  std::memcpy(block.data() + 32, &size, 4);
  block[0] = 0x20;
  return block;
}

// Writes metadata, file entries and the tail, as the components do.
void WriteImage(std::vector<Entry>& entries, bool compress, bool encrypt, LPCWSTR password) {
  ASSERT_TRUE(InitCipherKey(encrypt, password));
  AImageFile image(kImage, AImageFile::kBackup);
  ASSERT_TRUE(image.Open());
  std::string metadata(ImageFormat::kMetadataBlockSize, 'M');
  AImageFileHeader meta(METADATA_ENTRY, ImageFormat::kMetadataBlockSize, 0, 0,
                        crc32(0, reinterpret_cast<const Bytef*>(metadata.data()),
                              static_cast<uInt>(metadata.size())),
                        0);
  ASSERT_TRUE(meta.WritePlain(image));
  ASSERT_TRUE(image.Write(metadata.data(), static_cast<DWORD>(metadata.size()), false, false));
  ACompressor compressor(1);
  for (Entry& e : entries) {
    ASSERT_TRUE(image.GetBytesWritten(&e.position));
    DWORD nameBytes = static_cast<DWORD>((e.name.size() + 1) * 2);
    AImageFileHeader h(FILE_ENTRY, nameBytes + ImageFormat::kFindDataRecordSize, 0, nameBytes, 0, 0);
    ASSERT_TRUE(encrypt ? h.WriteEnciphered(image) : h.WritePlain(image));
    ASSERT_TRUE(image.Write(e.name.c_str(), nameBytes, encrypt, true));
    std::string block = FileBlock(e);
    ASSERT_TRUE(image.Write(block.data(), 40, encrypt, true));
    DWORD before = image.GetPosition();
    if (e.data.empty()) {
    } else if (compress) {
      EntryIO io(image, encrypt);
      io.source = e.data;
      compressor.SetIO(&io);
      ASSERT_TRUE(compressor.Compress());
      e.crc = compressor.GetCRC();
    } else {
      for (size_t at = 0; at < e.data.size(); at += 131072) {
        DWORD n = static_cast<DWORD>(std::min<size_t>(131072, e.data.size() - at));
        ASSERT_TRUE(image.Write(e.data.data() + at, n, encrypt, at + n == e.data.size()));
      }
      e.crc = crc32(0, reinterpret_cast<const Bytef*>(e.data.data()),
                    static_cast<uInt>(e.data.size()));
    }
    e.storedSize = image.GetPosition() - before;
  }
  ASSERT_TRUE(image.FlushWriteBuffer());
  ASSERT_TRUE(image.IsCRCValid());
  AImageFileHeader tail(END_OF_IMAGE, 0, 0, 0, image.GetCRC(), 0);
  ASSERT_TRUE(tail.WritePlain(image));
  ASSERT_TRUE(image.Close());
}

// Reads one entry at its position; its data comes back in *data.
bool ReadEntry(AImageFile& image, const Entry& e, bool compress, bool encrypt, std::string* data) {
  if (!image.SetFilePointer(static_cast<LONG>(e.position), FILE_BEGIN)) return false;
  AImageFileHeader h;
  if (!(encrypt ? h.ReadDeciphered(image) : h.ReadPlain(image))) return false;
  EXPECT_EQ(h.ComponentType(), FILE_ENTRY);
  if (h.NameByteLength() > image.BytesLeft()) return false;
  std::u16string name(h.NameByteLength() / 2, u'\0');
  if (!image.Read(name.data(), h.NameByteLength(), encrypt, true)) return false;
  EXPECT_EQ(name, e.name + u'\0');
  char block[40];
  if (!image.Read(block, 40, encrypt, true)) return false;
  data->clear();
  if (e.storedSize == 0) return true;
  EntryIO io(image, encrypt);
  io.reading = true;
  io.left = e.storedSize;
  if (compress) {
    ACompressor c(1);
    c.SetIO(&io);
    if (!c.Uncompress()) return false;
    EXPECT_EQ(c.GetCRC(), e.crc);
    *data = io.sink;
    return true;
  }
  data->resize(e.storedSize);
  return image.Read(data->data(), e.storedSize, encrypt, true);
}

class ImageRoundTrip : public ::testing::TestWithParam<std::tuple<bool, bool>> {};

}  // namespace

TEST_P(ImageRoundTrip, ReadsBackByteForByte) {
  auto [compress, encrypt] = GetParam();
  TestDevice dev;
  dev.MakeDir(u"\\temp");
  std::vector<Entry> entries = SampleEntries();
  WriteImage(entries, compress, encrypt, u"p4ssw0rd");
  std::string file = dev.ReadFile(u"\\temp\\test.pbf");

  // The tail: plain, last 80 bytes, CRC of everything before it.
  ASSERT_GE(file.size(), 160u);
  ImageEntryHeader tail;
  std::memcpy(&tail, file.data() + file.size() - 80, 80);
  EXPECT_EQ(tail.componentType, END_OF_IMAGE);
  EXPECT_EQ(tail.crcSum, crc32(0, reinterpret_cast<const Bytef*>(file.data()),
                               static_cast<uInt>(file.size() - 80)));
  EXPECT_TRUE(AImageFile::IsBackupFile(kImage));
  // Plain data is visible in the file exactly when neither option hides it.
  bool visible = file.find(entries[0].data.substr(0, 200)) != std::string::npos;
  EXPECT_EQ(visible, !compress && !encrypt);
  std::string marker(ImageFormat::kMarker, 32);
  EXPECT_EQ(file.find(marker, 80) < file.size() - 80, !encrypt);

  ASSERT_TRUE(InitCipherKey(encrypt, u"p4ssw0rd"));
  AImageFile image(kImage, AImageFile::kRestore);
  ASSERT_TRUE(image.Open());
  EXPECT_EQ(AImageFile::GetRestoreSizeEstimate(), file.size());
  AImageFileHeader meta;
  ASSERT_TRUE(meta.ReadPlain(image));
  EXPECT_EQ(meta.ComponentType(), METADATA_ENTRY);
  ASSERT_NE(image.GetLastHeader(), nullptr);
  EXPECT_EQ(image.GetLastHeader()->ComponentType(), METADATA_ENTRY);
  // Out of order: each entry starts a fresh cipher run.
  for (size_t i : {2u, 0u, 3u, 1u, 2u}) {
    std::string data;
    ASSERT_TRUE(ReadEntry(image, entries[i], compress, encrypt, &data)) << i;
    EXPECT_EQ(data, entries[i].data) << i;
  }
  ASSERT_TRUE(image.SetFilePointer(-80, FILE_END));
  EXPECT_EQ(image.GetPosition(), file.size() - 80);
  AImageFileHeader end;
  ASSERT_TRUE(end.ReadPlain(image));
  EXPECT_EQ(end.ComponentType(), END_OF_IMAGE);
  EXPECT_TRUE(image.Close());
}

INSTANTIATE_TEST_SUITE_P(CompressEncrypt, ImageRoundTrip,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()));

TEST(AImageFile, WrongPasswordFailsOnTheFirstEncipheredHeader) {
  TestDevice dev;
  dev.MakeDir(u"\\temp");
  std::vector<Entry> entries = SampleEntries();
  WriteImage(entries, true, true, u"right");
  ASSERT_TRUE(InitCipherKey(true, u"wrong"));
  AImageFile image(kImage, AImageFile::kRestore);
  ASSERT_TRUE(image.Open());
  LogCapture log;
  std::string data;
  EXPECT_FALSE(ReadEntry(image, entries[0], true, true, &data));
  EXPECT_TRUE(log.Has(u"Error - invalid header marker - ComponentType = "));
}

TEST(AImageFile, TruncatedImagesFailClearly) {
  TestDevice dev;
  dev.MakeDir(u"\\temp");
  std::vector<Entry> entries = SampleEntries();
  WriteImage(entries, true, false, nullptr);
  std::string file = dev.ReadFile(u"\\temp\\test.pbf");
  // Cut inside the big entry's data, then inside its header.
  for (size_t cut : {size_t(entries[2].position + 80 + 40 + 60 + 1000),
                     size_t(entries[2].position + 50)}) {
    dev.PutFile(u"\\temp\\test.pbf", file.substr(0, cut));
    AImageFile image(kImage, AImageFile::kRestore);
    ASSERT_TRUE(image.Open());
    LogCapture log;
    std::string data;
    EXPECT_FALSE(ReadEntry(image, entries[2], true, false, &data));
    EXPECT_TRUE(log.Has(u"read beyond the end of the image file")) << cut;
    // The earlier entries still read.
    ASSERT_TRUE(ReadEntry(image, entries[0], true, false, &data));
    EXPECT_EQ(data, entries[0].data);
  }
  EXPECT_FALSE(AImageFile::IsBackupFile(kImage));
}

TEST(AImageFileHeader, StoredFormAndText) {
  AImageFileHeader h(FILE_ENTRY, 4 + 560, 0, 4, 0x01020304, 0);
  const BYTE* b = h.Bytes();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b), 32), "POCKETPCIMAGE27743520_9C5B_4280_");
  EXPECT_EQ(b[32], 4);
  EXPECT_EQ(b[36], 0x34);  // 564 little-endian
  EXPECT_EQ(b[37], 0x02);
  EXPECT_EQ(b[48], 0x04);
  EXPECT_EQ(b[51], 0x01);
  for (int i = 56; i < 80; ++i) EXPECT_EQ(b[i], 0) << i;
  EXPECT_EQ(h.Text(), CString(u"ComponentType = FILE_ENTRY"));
  EXPECT_EQ(AImageFileHeader(TREE_FILESYSTEM, 0, 0, 0, 0, 0).Text(),
            CString(u"ComponentType = Unknown value = 21"));
  EXPECT_EQ(AImageFileHeader(REGISTRY_KEY_ENTRY, 0, 0, 0, 0, 0).Text(),
            CString(u"ComponentType = REGISTRY_KEY_ENTRY"));
  CString text(u"x: ");
  AImageFileHeader().AppendText(text);
  EXPECT_EQ(text, CString(u"x: ComponentType = ENTRY_NOT_SET"));
}

TEST(AImageFileHeader, AnyWrongMarkerByteIsRefusedAndZeroed) {
  TestDevice dev;
  dev.MakeDir(u"\\temp");
  {
    AImageFile image(kImage, AImageFile::kBackup);
    ASSERT_TRUE(image.Open());
    ASSERT_TRUE(AImageFileHeader(RECORD_ENTRY, 1, 2, 3, 4, 5).WritePlain(image));
    ASSERT_TRUE(image.Close());
  }
  std::string good = dev.ReadFile(u"\\temp\\test.pbf");
  ASSERT_EQ(good.size(), 80u);
  for (int i = 0; i < 33; ++i) {
    std::string bytes = good;
    if (i < 32) bytes[i] ^= 0x01;
    dev.PutFile(u"\\temp\\test.pbf", bytes);
    AImageFile image(kImage, AImageFile::kRestore);
    ASSERT_TRUE(image.Open());
    AImageFileHeader h;
    LogCapture log;
    bool ok = h.ReadPlain(image);
    if (i == 32) {  // unchanged
      EXPECT_TRUE(ok);
      EXPECT_EQ(h.RecordId(), 5u);
      continue;
    }
    EXPECT_FALSE(ok) << i;
    EXPECT_EQ(h.ComponentType(), ENTRY_NOT_SET);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(h.Bytes()), 80), std::string(80, '\0'));
    EXPECT_EQ(image.GetLastHeader(), nullptr);
    EXPECT_TRUE(log.Has(u"Error - invalid header marker - ComponentType = RECORD_ENTRY"));
  }
}

TEST(AImageFile, IsBackupFileNeedsTwoHeadersWorth) {
  TestDevice dev;
  std::string marker(ImageFormat::kMarker, 32);
  dev.PutFile(u"\\img159.pbf", std::string(79, 'x') + marker + std::string(48, '\0'));
  dev.PutFile(u"\\img160.pbf", std::string(80, 'x') + marker + std::string(48, '\0'));
  dev.PutFile(u"\\nomark.pbf", std::string(160, 'x'));
  LogCapture log;
  EXPECT_FALSE(AImageFile::IsBackupFile(u"\\img159.pbf"));
  EXPECT_TRUE(AImageFile::IsBackupFile(u"\\img160.pbf"));
  EXPECT_FALSE(AImageFile::IsBackupFile(u"\\nomark.pbf"));
  EXPECT_TRUE(log.texts.empty());
  EXPECT_FALSE(AImageFile::IsBackupFile(u"\\missing.pbf"));
  EXPECT_TRUE(log.Has(u"AImageFile::IsBackupFile: Error opening file : \\missing.pbf"));
}

TEST(AImageFile, BackupOpenReplacesTheFileAndRestartsTheCrc) {
  TestDevice dev;
  dev.PutFile(u"\\temp\\test.pbf", std::string(100000, 'o'));
  for (int round = 0; round < 2; ++round) {
    AImageFile image(kImage, AImageFile::kBackup);
    ASSERT_TRUE(image.Open());
    std::string data = SampleData(1000 + round * 50000, round);
    ASSERT_TRUE(image.Write(data.data(), static_cast<DWORD>(data.size()), false, false));
    ASSERT_TRUE(image.FlushWriteBuffer());
    EXPECT_EQ(image.GetCRC(), crc32(0, reinterpret_cast<const Bytef*>(data.data()),
                                    static_cast<uInt>(data.size())));
    ASSERT_TRUE(image.Close());
    EXPECT_EQ(dev.ReadFile(u"\\temp\\test.pbf"), data);
  }
}

TEST(AImageFile, WritesReachTheFileInWholeBuffers) {
  TestDevice dev;
  MemoryHost host;
  AImageFile image(AImageFile::kBackup, AImageFile::kHost);
  image.SetFileName(u"host.pbf");
  LogCapture log;
  ASSERT_TRUE(image.Open());
  EXPECT_TRUE(host.connected);
  std::string data = SampleData(200000, 4);
  // Exactly one buffer into an empty buffer goes straight through.
  ASSERT_TRUE(image.Write(data.data(), 32768, false, false));
  EXPECT_EQ(host.store->writes, 1);
  EXPECT_EQ(image.GetBytesFlushed(), 32768u);
  // 100 bytes wait; the next 32768 fill the buffer and leave 100 waiting.
  ASSERT_TRUE(image.Write(data.data() + 32768, 100, false, false));
  EXPECT_EQ(host.store->writes, 1);
  ASSERT_TRUE(image.Write(data.data() + 32868, 32768, false, false));
  EXPECT_EQ(host.store->writes, 2);
  EXPECT_EQ(image.GetBytesFlushed(), 65536u);
  ASSERT_TRUE(image.Write(data.data() + 65636, 100000, false, false));
  ASSERT_TRUE(image.Close());
  for (DWORD size : host.store->writeSizes) EXPECT_LE(size, 32768u);
  EXPECT_EQ(host.store->bytes, data.substr(0, 165636));
  DWORD written = 0;
  ASSERT_TRUE(image.GetBytesWritten(&written));
  EXPECT_EQ(written, 165636u);
  EXPECT_EQ(image.GetCRC(), crc32(0, reinterpret_cast<const Bytef*>(data.data()), 165636));
}

TEST(AImageFile, SeeksInsideTheReadAheadStayInMemory) {
  TestDevice dev;
  MemoryHost host;
  host.connected = true;
  host.store->bytes = SampleData(300000, 5);
  AImageFile image(AImageFile::kRestore, AImageFile::kHost);
  image.SetFileName(u"host.pbf");
  ASSERT_TRUE(image.Open());
  char buf[64];
  ASSERT_TRUE(image.Read(buf, 10, false, false));
  int seeks = host.store->seeks;
  int reads = host.store->reads;
  ASSERT_TRUE(image.SetFilePointer(5000, FILE_BEGIN));
  ASSERT_TRUE(image.Read(buf, 64, false, false));
  EXPECT_EQ(std::string(buf, 64), host.store->bytes.substr(5000, 64));
  ASSERT_TRUE(image.SetFilePointer(0, FILE_BEGIN));  // back to the window's start
  ASSERT_TRUE(image.Read(buf, 10, false, false));
  EXPECT_EQ(std::string(buf, 10), host.store->bytes.substr(0, 10));
  EXPECT_EQ(host.store->seeks, seeks);
  EXPECT_EQ(host.store->reads, reads);
  // Outside the window the file is asked.
  ASSERT_TRUE(image.SetFilePointer(200000, FILE_BEGIN));
  EXPECT_EQ(host.store->seeks, seeks + 1);
  ASSERT_TRUE(image.Read(buf, 64, false, false));
  EXPECT_EQ(std::string(buf, 64), host.store->bytes.substr(200000, 64));
  // FILE_CURRENT is refused and moves nothing.
  LogCapture log;
  EXPECT_FALSE(image.SetFilePointer(10, FILE_CURRENT));
  EXPECT_TRUE(log.Has(u"Don't support SetFilePointer() for FILE_CURRENT"));
  EXPECT_EQ(image.GetPosition(), 200064u);
  ASSERT_TRUE(image.Read(buf, 4, false, false));
  EXPECT_EQ(std::string(buf, 4), host.store->bytes.substr(200064, 4));
}

TEST(AImageFile, ReadsPastTheEndFailWithoutConsuming) {
  TestDevice dev;
  MemoryHost host;
  host.connected = true;
  host.store->bytes = SampleData(1000, 6);
  AImageFile image(AImageFile::kRestore, AImageFile::kHost);
  image.SetFileName(u"host.pbf");
  ASSERT_TRUE(image.Open());
  std::string buf(4000, '\0');
  LogCapture log;
  EXPECT_FALSE(image.Read(buf.data(), 0xFFFFFFF0u, false, false));
  EXPECT_FALSE(image.Read(buf.data(), 1001, false, false));
  EXPECT_EQ(image.GetPosition(), 0u);
  EXPECT_EQ(image.BytesLeft(), 1000u);
  ASSERT_TRUE(image.Read(buf.data(), 1000, false, false));
  EXPECT_EQ(buf.substr(0, 1000), host.store->bytes);
  EXPECT_EQ(image.BytesLeft(), 0u);
  EXPECT_FALSE(image.Read(buf.data(), 1, false, false));
}

TEST(AImageFile, OpenRefusals) {
  TestDevice dev;
  LogCapture log;
  AImageFile unnamed(AImageFile::kBackup, AImageFile::kLocal);
  EXPECT_FALSE(unnamed.Open());
  EXPECT_TRUE(log.Has(u"Uninitialised Filename - image file open"));
  EXPECT_FALSE(unnamed.IsOpen());

  AImageFile invalid(AImageFile::kBackup, AImageFile::kInvalidMode);
  invalid.SetFileName(u"\\x.pbf");
  EXPECT_FALSE(invalid.Open());
  EXPECT_TRUE(log.Has(u"Invalid task mode"));

  AImageFile noHost(AImageFile::kBackup, AImageFile::kHost);
  noHost.SetFileName(u"x.pbf");
  EXPECT_FALSE(noHost.Open());
  EXPECT_TRUE(log.Has(u"Failed to connect to Quilmo Service on the host PC"));
  EXPECT_EQ(noHost.GetHostName(), CString(u"ppp_peer"));
  EXPECT_EQ(noHost.GetHostPort(), 5533);

  AImageFile missing(u"\\nowhere\\x.pbf", AImageFile::kRestore);
  EXPECT_FALSE(missing.Open());
  EXPECT_TRUE(log.Has(u"image file open failed - filename[\\nowhere\\x.pbf]"));
}

TEST(AImageFile, SeekDuringBackupInvalidatesTheCrc) {
  TestDevice dev;
  MemoryHost host;
  host.connected = true;
  AImageFile image(AImageFile::kBackup, AImageFile::kHost);
  image.SetFileName(u"host.pbf");
  ASSERT_TRUE(image.Open());
  ASSERT_TRUE(image.Write("abcdef", 6, false, false));
  EXPECT_TRUE(image.IsCRCValid());
  LogCapture log;
  ASSERT_TRUE(image.SetFilePointer(2, FILE_BEGIN));
  EXPECT_FALSE(image.IsCRCValid());
  EXPECT_TRUE(log.Has(u"SetFilePointer() on Backup invalidates CRC"));
  ASSERT_TRUE(image.Write("XY", 2, false, false));
  ASSERT_TRUE(image.Close());
  EXPECT_EQ(host.store->bytes, "abXYef");
}
