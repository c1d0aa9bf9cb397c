// Damaged images through the database volume and mail restores: single
// byte flips over every entry (with the image's own CRC made to match, so
// only the entries' checks can see them) and truncations. No restore may
// crash, put a damaged volume copy or mail file in place, leave a file of
// its own behind, or touch a live volume.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "engine/tests/image_damage_util.h"
#include "volume_test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace voltest;

const std::vector<std::u16string> kVolumeFiles = {u"\\mxip_system.vol", u"\\mxip_lang.vol", u"\\cemail.vol"};

class VolumeCorruptionTest : public VolumeImageTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    VolumeImageTest::SetUp();
    MakeVolume(u"\\mxip_system.vol", true,
               {{u"System", {{TextProp(MAKE_CEPROPID(1, CEVT_LPWSTR), u"setting")}}, {MAKE_CEPROPID(1, CEVT_LPWSTR)}}});
    MakeVolume(u"\\mxip_lang.vol", false, {{u"Lang", {{I4Prop(MAKE_CEPROPID(1, CEVT_I4), 1031)}}, {}}});
    MakeVolume(u"\\cemail.vol", false, {{u"Messages", {{TextProp(MAKE_CEPROPID(2, CEVT_LPWSTR), u"hello")}}, {}}});
    dev.PutFile(u"\\Windows\\Messaging\\Inbox\\msg1.mpb", std::string(3000, 'm'));
    dev.PutFile(u"\\Windows\\Messaging\\note.txt", "a short note");
    for (const auto& volume : kVolumeFiles) {
      original[volume] = dev.ReadFile(volume);
      fs::copy_file(dev.Host(volume), dev.Host(volume + u"c"));
    }
    messaging = Files();
  }
  void TearDown() override {
    InitCipherKey(false, nullptr);
    VolumeImageTest::TearDown();
  }

  // The messaging folder's files by their path below it.
  std::map<std::u16string, std::string> Files() {
    std::map<std::u16string, std::string> out;
    const fs::path root = dev.Host(u"\\Windows\\Messaging");
    if (!fs::exists(root)) return out;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      out[ce::FromUtf8(fs::relative(entry.path(), root).string())] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    return out;
  }

  // Restores the damaged image from a clean start and checks what it left.
  void RestoreAndCheck(const std::string& what) {
    for (const auto& volume : kVolumeFiles) fs::remove(dev.Host(volume + u"c"));
    Restore(GetParam());
    for (const auto& volume : kVolumeFiles) {
      EXPECT_EQ(dev.ReadFile(volume), original[volume]) << what;
      fs::path copy = dev.Host(volume + u"c");
      if (fs::exists(copy)) {
        EXPECT_TRUE(dev.ReadFile(volume + u"c") == original[volume]) << what;
      }
    }
    for (const auto& [name, bytes] : Files()) {
      auto it = messaging.find(name);
      EXPECT_TRUE(it != messaging.end() && it->second == bytes) << what << " " << ce::ToUtf8(name);
    }
    for (const auto& entry : fs::directory_iterator(dev.Host(u"")))
      EXPECT_EQ(entry.path().filename().string().find("~qr"), std::string::npos) << what;
  }

  std::map<std::u16string, std::string> original;
  std::map<std::u16string, std::string> messaging;
};

TEST_P(VolumeCorruptionTest, DamagedEntriesNeverPutDamagedFilesInPlace) {
  const bool enc = GetParam();
  ASSERT_TRUE(InitCipherKey(enc, enc ? u"pw" : nullptr));
  compress = true;
  BuildIndex(true, true);
  ASSERT_TRUE(Backup(enc));
  const fs::path host = dev.Host(kImage);
  std::string good;
  {
    std::ifstream in(host, std::ios::binary);
    good.assign(std::istreambuf_iterator<char>(in), {});
  }
  ASSERT_TRUE(Restore(enc));
  for (const auto& volume : kVolumeFiles) ASSERT_EQ(dev.ReadFile(volume + u"c"), original[volume]);

  const auto* tail = reinterpret_cast<const unsigned char*>(good.data() + good.size() - 80);
  const size_t body = tail[36] | (tail[37] << 8) | (tail[38] << 16);
  const size_t indexStart = good.size() - 80 - body - 80;
  // QUILMO_FULL_SWEEP=1 flips every byte of the entries.
  const size_t step = getenv("QUILMO_FULL_SWEEP") ? 1 : 11;
  for (size_t offset = 0; offset < indexStart; offset += step) {
    std::ofstream(host, std::ios::binary | std::ios::trunc).write(good.data(), static_cast<std::streamsize>(good.size()));
    quilmo::test::FlipImageByte(host, offset, true);
    RestoreAndCheck("flip at " + std::to_string(offset));
  }
  for (size_t length = 0; length < good.size(); length += 97) {
    std::ofstream(host, std::ios::binary | std::ios::trunc).write(good.data(), static_cast<std::streamsize>(length));
    RestoreAndCheck("cut at " + std::to_string(length));
  }
}

INSTANTIATE_TEST_SUITE_P(PlainAndEnciphered, VolumeCorruptionTest, ::testing::Bool());

}  // namespace
