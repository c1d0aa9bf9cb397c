// The metadata entry: stored form byte for byte, round trip through a real
// image, the checks on reading, the dump.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "ce/bytes.h"
#include "core/Log.h"
#include "image/Cipher.h"
#include "image/ImageFile.h"
#include "image/MetaData.h"
#include "testkit/TestDevice.h"

using quilmo::test::TestDevice;

namespace {

constexpr const WCHAR* kImage = u"\\temp\\meta.pbf";

class LogLines {
 public:
  LogLines() {
    SetLog(&log_);
    log_.Open(false);
    SetLogReportSink([this](int, DWORD, const CString& t) { reported.push_back(t.str()); });
  }
  ~LogLines() {
    SetLogReportSink(nullptr);
    SetLog(nullptr);
  }
  bool Has(const std::string& text) const { return log_.GetBuffer().find(text) != std::string::npos; }
  bool Reported(std::u16string_view text) const {
    for (const auto& t : reported)
      if (t.find(text) != t.npos) return true;
    return false;
  }
  std::vector<std::u16string> reported;

 private:
  ALog log_;
};

MetaDataGlobals SampleGlobals() {
  MetaDataGlobals g;
  g.compress = true;
  g.encrypt = true;
  g.passwordCheck = AMetaData::PasswordCheckValue(u"secret");
  g.includeRegistry = true;
  g.includeMail = true;
  g.annotation = u"before the update";
  g.versionText = u"2.1.4, Build 17";
  g.versionMajor = 2;
  g.versionMid = 1;
  g.versionMinor = 4;
  return g;
}

std::u16string TextAt(const std::string& b, size_t offset) {
  std::u16string s;
  for (size_t i = offset; ce::le::Get16(b, i) != 0; i += 2) s += ce::le::Get16(b, i);
  return s;
}

// Writes the metadata entry (and, with a password, one enciphered block
// after it) as the start of an image.
void WriteImage(const MetaDataGlobals& g, const char16_t* password = nullptr) {
  AImageFile image(kImage, AImageFile::kBackup);
  ASSERT_TRUE(image.Open());
  AMetaData meta(&image);
  ASSERT_TRUE(meta.Query(g));
  EXPECT_EQ(meta.ImageSize(), 1608u);
  ASSERT_TRUE(meta.Write());
  if (password) {
    ASSERT_TRUE(InitCipherKey(true, password));
    std::string body(200, 'x');
    ASSERT_TRUE(image.Write(body.data(), static_cast<DWORD>(body.size()), true, true));
  }
  ASSERT_TRUE(image.Close());
}

}  // namespace

TEST(AMetaData, StoredFormByteForByte) {
  ce::Profile profile;
  profile.oemInfo = u"Reference OEM";
  profile.versionMajor = 5;
  profile.versionMinor = 1;
  profile.buildNumber = 14847;
  TestDevice dev(profile);
  dev.MakeDir(u"\\temp");
  WriteImage(SampleGlobals(), u"secret");

  std::string file = dev.ReadFile(kImage);
  ASSERT_GE(file.size(), 1608u + 200u);
  // Plain header, then the plain block, also in an enciphered image.
  EXPECT_EQ(file.substr(0, 32), "POCKETPCIMAGE27743520_9C5B_4280_");
  EXPECT_EQ(ce::le::Get32(file, 32), 1u);     // METADATA_ENTRY
  EXPECT_EQ(ce::le::Get32(file, 36), 1528u);  // fixed-part size
  std::string b = file.substr(80, 1528);
  EXPECT_EQ(ce::le::Get32(file, 48),
            crc32(0L, reinterpret_cast<const Bytef*>(b.data()), static_cast<uInt>(b.size())));
  EXPECT_NE(file.substr(1608, 200), std::string(200, 'x'));  // the body after it is enciphered

  EXPECT_EQ(TextAt(b, 0), u"Owner Name Not From Registry");
  EXPECT_EQ(TextAt(b, 66), u"WINDOWS CE");
  EXPECT_EQ(TextAt(b, 130), u"3.0");
  EXPECT_EQ(TextAt(b, 162), u"Reference OEM");
  EXPECT_EQ(ce::le::Get32(b, 492), 0xFFFFFFFFu);
  EXPECT_EQ(ce::le::Get32(b, 496), 5u);
  EXPECT_EQ(ce::le::Get32(b, 500), 1u);
  EXPECT_EQ(ce::le::Get32(b, 504), 14847u);
  EXPECT_EQ(TextAt(b, 768), u"before the update");
  EXPECT_EQ(ce::le::Get16(b, 1280), 0x1001);
  EXPECT_EQ(ce::le::Get16(b, 1282), 2001);
  EXPECT_EQ(ce::le::Get16(b, 1284), 9);
  EXPECT_EQ(ce::le::Get32(b, 1300), 1u);
  EXPECT_EQ(ce::le::Get32(b, 1304), 1u);
  EXPECT_EQ(ce::le::Get32(b, 1308), AMetaData::PasswordCheckValue(u"secret"));
  EXPECT_EQ(TextAt(b, 1428), u"2.1.4, Build 17");
  EXPECT_EQ(ce::le::Get16(b, 1492), 2);
  EXPECT_EQ(ce::le::Get16(b, 1494), 1);
  EXPECT_EQ(ce::le::Get16(b, 1496), 4);
  EXPECT_EQ(b.substr(1286, 14), std::string(14, '\0'));
  EXPECT_EQ(b.substr(1498, 30), std::string(30, '\0'));
}

TEST(AMetaData, RoundTripSetsTheGlobals) {
  TestDevice dev;
  dev.MakeDir(u"\\temp");
  MetaDataGlobals written = SampleGlobals();
  WriteImage(written);

  AImageFile image(kImage, AImageFile::kRestore);
  ASSERT_TRUE(image.Open());
  AMetaData meta(&image);
  EXPECT_EQ(meta.ImageSize(), 0u);
  MetaDataGlobals read;
  ASSERT_TRUE(meta.Read(false, &read));
  EXPECT_TRUE(meta.IsValid());
  EXPECT_TRUE(read.compress);
  EXPECT_TRUE(read.encrypt);
  EXPECT_EQ(read.passwordCheck, written.passwordCheck);
  EXPECT_TRUE(meta.IncludesRegistry());
  EXPECT_TRUE(meta.IncludesMail());
  EXPECT_FALSE(meta.IncludesFileSystem());
  EXPECT_FALSE(meta.IncludesDatabases());
  EXPECT_EQ(meta.GetValue(), 2001);
  EXPECT_EQ(meta.GetAnnotation(), CString(u"before the update"));
  EXPECT_EQ(meta.GetAppVersionText(), CString(u"2.1.4, Build 17"));
  EXPECT_TRUE(meta.HasExtendedVersion());
  DWORD position = 0;
  image.GetBytesWritten(&position);
  EXPECT_EQ(position, 1608u);
}

TEST(AMetaData, LongTextsAreCutToTheirFields) {
  ce::Profile profile;
  profile.oemInfo = std::u16string(200, u'o');  // fits the query, not the field
  TestDevice dev(profile);
  MetaDataGlobals g;
  g.annotation = CString(std::u16string(300, u'a'));
  g.versionText = CString(std::u16string(40, u'v'));
  AMetaData meta;
  BYTE copy[1528] = {};
  ASSERT_TRUE(meta.Query(g, copy));
  std::string b(reinterpret_cast<const char*>(copy), sizeof copy);
  EXPECT_EQ(TextAt(b, 162), std::u16string(164, u'o'));
  EXPECT_EQ(TextAt(b, 768), std::u16string(255, u'a'));
  EXPECT_EQ(TextAt(b, 1428), std::u16string(31, u'v'));
  EXPECT_EQ(meta.GetAnnotation().GetLength(), 255);
}

TEST(AMetaData, OemQueryFailureGivesNoOemInfo) {
  ce::Profile profile;
  profile.oemInfo = std::u16string(300, u'o');  // more than the 512-byte query buffer
  TestDevice dev(profile);
  LogLines log;
  AMetaData meta;
  ASSERT_TRUE(meta.Query(MetaDataGlobals{}));
  EXPECT_EQ(meta.GetOemInfo(), CString(u"No OEM Info"));
  EXPECT_TRUE(log.Reported(u"SystemParam failed"));
}

TEST(AMetaData, ChangedBlockIsRefusedEvenWhenItLooksSound) {
  TestDevice dev;
  dev.MakeDir(u"\\temp");
  WriteImage(SampleGlobals());
  std::string file = dev.ReadFile(kImage);
  file[80 + 1290] ^= 0x01;  // a reserved byte: every field still reads well
  dev.PutFile(kImage, file);

  LogLines log;
  AImageFile image(kImage, AImageFile::kRestore);
  ASSERT_TRUE(image.Open());
  AMetaData meta(&image);
  MetaDataGlobals read;
  read.passwordCheck = 77;
  EXPECT_FALSE(meta.Read(false, &read));
  EXPECT_FALSE(meta.IsValid());
  EXPECT_EQ(read.passwordCheck, 77u);  // nothing applied
  EXPECT_TRUE(log.Reported(u"AMetaData::Read() CRCSum != Header.CRCSum()"));
}

TEST(AMetaData, WrongEntryTypeAndShortImageAreRefused) {
  TestDevice dev;
  dev.MakeDir(u"\\temp");
  WriteImage(SampleGlobals());
  std::string file = dev.ReadFile(kImage);
  std::string typed = file;
  ce::le::Set32(&typed, 32, 2);
  dev.PutFile(kImage, typed);
  {
    LogLines log;
    AImageFile image(kImage, AImageFile::kRestore);
    ASSERT_TRUE(image.Open());
    AMetaData meta(&image);
    EXPECT_FALSE(meta.Read());
    EXPECT_TRUE(log.Reported(u"Header.ComponentType() != METADATA_ENTRY 2"));
  }
  dev.PutFile(kImage, file.substr(0, 1000));
  {
    LogLines log;
    AImageFile image(kImage, AImageFile::kRestore);
    ASSERT_TRUE(image.Open());
    AMetaData meta(&image);
    EXPECT_FALSE(meta.Read());
    EXPECT_TRUE(log.Reported(u"AMetaData::Read() Read() failed 1528"));
  }
}

TEST(AMetaData, WriteRefusedWhenNotQueried) {
  TestDevice dev;
  dev.MakeDir(u"\\temp");
  LogLines log;
  AImageFile image(kImage, AImageFile::kBackup);
  ASSERT_TRUE(image.Open());
  AMetaData meta(&image);
  EXPECT_FALSE(meta.Write());
  EXPECT_TRUE(log.Reported(u"AMetaData::Write() AMetaData not Valid"));
  EXPECT_TRUE(image.Close());
  EXPECT_EQ(dev.ReadFile(kImage).size(), 0u);
}

TEST(AMetaData, DumpShowsThePartsFromTheBits) {
  TestDevice dev;
  LogLines log;
  AMetaData meta;
  ASSERT_TRUE(meta.Query(SampleGlobals(), nullptr, true));  // bits 0 and 12
  EXPECT_TRUE(log.Has("Registry = true"));
  EXPECT_TRUE(log.Has("Mail = true"));
  EXPECT_TRUE(log.Has("File System = false"));
  EXPECT_TRUE(log.Has("Databases = false"));
  EXPECT_TRUE(log.Has("Compression enabled"));
  EXPECT_TRUE(log.Has("App Version = 2.1, Version String = 2.1.4, Build 17"));
}

TEST(AMetaData, ExtendedVersionAndPasswordCheck) {
  TestDevice dev;
  struct Case { WORD major, minor; bool extended; };
  for (Case c : {Case{1, 0, false}, Case{1, 3, true}, Case{2, 0, true}, Case{0, 9, false}}) {
    MetaDataGlobals g;
    g.versionMajor = c.major;
    g.versionMinor = c.minor;
    AMetaData meta;
    ASSERT_TRUE(meta.Query(g));
    EXPECT_EQ(meta.HasExtendedVersion(), c.extended) << c.major << "." << c.minor;
  }
  // "ab": UTF-16LE 61 00 62 00; narrow takes the first two bytes only.
  const Bytef wide[] = {0x61, 0, 0x62, 0};
  EXPECT_EQ(AMetaData::PasswordCheckValue(u"ab"), crc32(0L, wide, 4));
  EXPECT_EQ(AMetaData::PasswordCheckValue(u"ab", false), crc32(0L, wide, 2));
  EXPECT_EQ(AMetaData::PasswordCheckValue(u""), 0u);
}
