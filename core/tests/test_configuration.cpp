// The XML configuration loader: the grammar's failures with their texts,
// value conversion by type, and the "Config" key replaced as a whole.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "core/Configuration.h"
#include "testkit/TestDevice.h"

namespace {

using quilmo::test::TestDevice;

constexpr const WCHAR* kConfigPath = u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Config";
constexpr const WCHAR* kFile = u"\\Program Files\\Quilmo Backup\\quilmobackup.xml";

struct RawValue {
  bool found = false;
  DWORD type = 0;
  std::vector<BYTE> bytes;
  DWORD Dword() const {
    DWORD v = 0;
    if (bytes.size() == 4) memcpy(&v, bytes.data(), 4);
    return v;
  }
  std::u16string Text() const {
    std::u16string s(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2);
    while (!s.empty() && s.back() == 0) s.pop_back();
    return s;
  }
};

RawValue ReadConfigValue(LPCWSTR name) {
  RawValue v;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kConfigPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return v;
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, &v.type, nullptr, &size) == ERROR_SUCCESS) {
    v.bytes.resize(size);
    v.found = RegQueryValueExW(key, name, nullptr, &v.type, v.bytes.data(), &size) == ERROR_SUCCESS;
    v.bytes.resize(size);
  }
  RegCloseKey(key);
  return v;
}

// Loads xml from a device file and, when that works, writes it.
struct Outcome {
  bool loaded = false;
  bool written = false;
  std::u16string error;
};

Outcome LoadAndWrite(const TestDevice& dev, const std::string& xml) {
  dev.PutFile(kFile, xml);
  AConfiguration config(u"\\Quilmo Backup", kFile, 0);
  Outcome o;
  o.loaded = config.Load();
  if (o.loaded) o.written = config.WriteToRegistry();
  o.error = config.GetError().str();
  return o;
}

TEST(SLHexString, BytesOfOneOrTwoDigitsAndTheirFailures) {
  SLHexString good(u"0A,FF,3");
  ASSERT_TRUE(good.ToBinary());
  EXPECT_EQ(good.GetBytes(), (std::vector<BYTE>{0x0A, 0xFF, 0x03}));

  SLHexString empty(u"");
  ASSERT_TRUE(empty.ToBinary());
  EXPECT_EQ(empty.GetLength(), 0u);

  // A piece that is not hexadecimal reads as 0; empty pieces count too.
  SLHexString odd(u"zz,,7");
  ASSERT_TRUE(odd.ToBinary());
  EXPECT_EQ(odd.GetBytes(), (std::vector<BYTE>{0x00, 0x00, 0x07}));

  SLHexString tooLong(u"01,0AF");
  EXPECT_FALSE(tooLong.ToBinary());
  EXPECT_EQ(tooLong.GetLength(), 0u);
}

TEST(AConfiguration, TypesCompareWithoutCase) {
  EXPECT_EQ(AConfiguration::ParseValueType(u"DWORD"), AConfiguration::kDword);
  EXPECT_EQ(AConfiguration::ParseValueType(u"Binary"), AConfiguration::kBinary);
  EXPECT_EQ(AConfiguration::ParseValueType(u"Bool"), AConfiguration::kBool);
  EXPECT_EQ(AConfiguration::ParseValueType(u"BOOLEAN"), AConfiguration::kBool);
  EXPECT_EQ(AConfiguration::ParseValueType(u"sz"), AConfiguration::kString);
  EXPECT_EQ(AConfiguration::ParseValueType(u""), AConfiguration::kString);
}

TEST(AConfiguration, EveryTypeIsWrittenAsItsRegistryValue) {
  TestDevice dev;
  Outcome o = LoadAndWrite(dev,
                           "<?xml version=\"1.0\"?>\n"
                           "<configuration>\n"
                           "  <!-- the vendor's settings -->\n"
                           "  <config name=\"Port\" type=\"DWORD\" value=\"5533\"/>\n"
                           "  <config name=\"Zero\" type=\"dword\" value=\"\"/>\n"
                           "  <config name=\"NoValue\" type=\"dword\"/>\n"
                           "  <config name=\"Huge\" type=\"dword\" value=\"99999999999\"/>\n"
                           "  <config name=\"Loud\" type=\"boolean\" value=\"TRUE\"/>\n"
                           "  <config name=\"Polite\" type=\"bool\" value=\"yes\"/>\n"
                           "  <config name=\"Blob\" type=\"binary\" value=\"0A,FF\"/>\n"
                           "  <config name=\"NoBlob\" type=\"binary\" value=\"\"/>\n"
                           "  <config name=\"VendorName\" type=\"string\" value=\" Acme \"/>\n"
                           "  <config name=\"Other\" type=\"anything\" value=\"x\"/>\n"
                           "</configuration>\n");
  ASSERT_TRUE(o.loaded) << ce::ToUtf8(o.error);
  ASSERT_TRUE(o.written) << ce::ToUtf8(o.error);

  RawValue port = ReadConfigValue(u"Port");
  EXPECT_EQ(port.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(port.Dword(), 5533u);
  EXPECT_EQ(ReadConfigValue(u"Zero").Dword(), 0u);
  EXPECT_TRUE(ReadConfigValue(u"Zero").found);
  EXPECT_TRUE(ReadConfigValue(u"NoValue").found);
  EXPECT_EQ(ReadConfigValue(u"Huge").Dword(), 0xFFFFFFFFu);
  EXPECT_EQ(ReadConfigValue(u"Loud").Dword(), 1u);
  EXPECT_EQ(ReadConfigValue(u"Polite").Dword(), 0u);
  RawValue blob = ReadConfigValue(u"Blob");
  EXPECT_EQ(blob.type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(blob.bytes, (std::vector<BYTE>{0x0A, 0xFF}));
  RawValue noBlob = ReadConfigValue(u"NoBlob");
  EXPECT_TRUE(noBlob.found);
  EXPECT_TRUE(noBlob.bytes.empty());
  RawValue vendor = ReadConfigValue(u"VendorName");
  EXPECT_EQ(vendor.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(vendor.Text(), u" Acme ");
  EXPECT_EQ(ReadConfigValue(u"Other").Text(), u"x");
}

TEST(AConfiguration, LoadingReplacesTheWholeConfigKey) {
  TestDevice dev;
  ASSERT_TRUE(LoadAndWrite(dev,
                           "<configuration><config name=\"Old\" type=\"dword\" value=\"1\"/>"
                           "<config name=\"Kept\" type=\"dword\" value=\"1\"/></configuration>")
                  .written);
  HKEY sub = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Config\\Below", 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(sub);

  ASSERT_TRUE(LoadAndWrite(dev, "<configuration><config name=\"Kept\" type=\"dword\" value=\"2\"/></configuration>")
                  .written);
  EXPECT_FALSE(ReadConfigValue(u"Old").found);
  EXPECT_EQ(ReadConfigValue(u"Kept").Dword(), 2u);
  EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Config\\Below", 0,
                          KEY_READ, &sub),
            ERROR_SUCCESS);

  // An empty configuration leaves an empty key.
  ASSERT_TRUE(LoadAndWrite(dev, "<configuration/>").written);
  EXPECT_FALSE(ReadConfigValue(u"Kept").found);
}

TEST(AConfiguration, GrammarFailuresNameTheirReasonAndWriteNothing) {
  struct Case {
    const char* xml;
    std::u16string error;
  } cases[] = {
      {"<Configuration/>", u"Toplevel element must be configuration not Configuration"},
      {"<configuration><setting name=\"a\" type=\"dword\"/></configuration>", u"Undefined element setting found"},
      {"<configuration><Config name=\"a\" type=\"dword\"/></configuration>", u"Undefined element Config found"},
      {"<configuration>text<config name=\"a\" type=\"dword\"/></configuration>",
       u"Processing <config> expecting NODE_ELEMENT element type, got a 3"},
      {"<configuration><config type=\"dword\"/></configuration>", u"No name attribute found on <config> item"},
      {"<configuration><config name=\"a\"/></configuration>", u"No type attribute found on <config> element"},
      {"<configuration><config name=\"a\" type=\"binary\" value=\"0AF\"/></configuration>",
       u"Failed to convert data from hex string"},
  };
  for (const auto& c : cases) {
    TestDevice dev;
    Outcome o = LoadAndWrite(dev, c.xml);
    EXPECT_FALSE(o.loaded) << c.xml;
    EXPECT_EQ(o.error, c.error) << c.xml;
  }
}

TEST(AConfiguration, UnreadableFilesReportTheParser) {
  TestDevice dev;
  AConfiguration missing(u"\\Quilmo Backup", u"\\nowhere\\quilmobackup.xml", 0);
  EXPECT_FALSE(missing.Load());
  EXPECT_FALSE(missing.GetError().IsEmpty());

  Outcome broken = LoadAndWrite(dev, "<configuration><config name=");
  EXPECT_FALSE(broken.loaded);
  EXPECT_FALSE(broken.error.empty());

  // A failed walk keeps no items, so nothing half-read can be written.
  AConfiguration half(u"\\Quilmo Backup", kFile, 0);
  dev.PutFile(kFile, "<configuration><config name=\"a\" type=\"dword\"/><other/></configuration>");
  EXPECT_FALSE(half.Load());
  EXPECT_TRUE(half.GetItems().empty());
}

TEST(AConfiguration, KeyNameWithOrWithoutBackslashNamesTheSameKey) {
  TestDevice dev;
  dev.PutFile(kFile, "<configuration><config name=\"A\" type=\"dword\" value=\"7\"/></configuration>");
  AConfiguration config(u"Quilmo Backup", kFile, 0);
  ASSERT_TRUE(config.Load());
  ASSERT_TRUE(config.WriteToRegistry());
  EXPECT_EQ(ReadConfigValue(u"A").Dword(), 7u);
}

}  // namespace
