// The image cipher: key table, key material, run boundaries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/Cipher.h"

namespace {

std::vector<BYTE> Cipher(ACrypto& c, const std::vector<BYTE>& in, bool final) {
  std::vector<BYTE> out(in.size());
  EXPECT_TRUE(c.Encrypt(in.data(), out.data(), static_cast<DWORD>(in.size()), final));
  return out;
}

std::vector<BYTE> Block(size_t n, BYTE seed) {
  std::vector<BYTE> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<BYTE>(seed + i * 13);
  return v;
}

// Registers a cipher as the image cipher for the span of a test; the
// built-in one again afterwards, even when an assertion ends the test.
class RegisteredCipher {
 public:
  explicit RegisteredCipher(ACrypto* cipher) { SetImageCipher(cipher); }
  ~RegisteredCipher() { SetImageCipher(nullptr); }
  RegisteredCipher(const RegisteredCipher&) = delete;
  RegisteredCipher& operator=(const RegisteredCipher&) = delete;
};

}  // namespace

TEST(ACrypto, KeyTableIsTheLinearCongruentialGenerator) {
  // state = state * 1664525 + 1013904223 before each byte; byte = top 8 bits.
  BYTE table[4];
  ACrypto::FillKeyTable(0, table, 4);
  EXPECT_EQ(table[0], 0x3C);
  EXPECT_EQ(table[1], 0x47);
  EXPECT_EQ(table[2], 0xD1);
  EXPECT_EQ(table[3], 0xAA);
  BYTE a[1024], b[1024];
  ACrypto::FillKeyTable(7, a, 1024);
  ACrypto::FillKeyTable(8, b, 1024);
  EXPECT_NE(std::vector<BYTE>(a, a + 1024), std::vector<BYTE>(b, b + 1024));
}

TEST(ACrypto, RunsEndWithTheFinalFlag) {
  ACrypto c;
  ASSERT_TRUE(c.CreateKey(reinterpret_cast<const BYTE*>("material"), 8, u"pass"));
  std::vector<BYTE> block = Block(100, 3);
  std::vector<BYTE> first = Cipher(c, block, true);
  EXPECT_EQ(Cipher(c, block, true), first);
  EXPECT_NE(first, block);
  // 40 then 60 bytes without the final flag equal 100 bytes in one call.
  std::vector<BYTE> a = Cipher(c, std::vector<BYTE>(block.begin(), block.begin() + 40), false);
  std::vector<BYTE> b = Cipher(c, std::vector<BYTE>(block.begin() + 40, block.end()), false);
  a.insert(a.end(), b.begin(), b.end());
  EXPECT_EQ(a, first);
  ASSERT_TRUE(c.EndRun());
  // Decrypt in place inverts; a fresh run again after EndRun.
  std::vector<BYTE> data = first;
  ASSERT_TRUE(c.Decrypt(data.data(), data.data(), 100, true));
  EXPECT_EQ(data, block);
}

TEST(ACrypto, PasswordIsHashedAsUtf16WithoutNul) {
  std::vector<BYTE> material = Block(1024, 9);
  ACrypto withPassword;
  ASSERT_TRUE(withPassword.CreateKey(material.data(), 1024, u"pw\u00e9"));
  std::vector<BYTE> joined = material;
  const BYTE pw[] = {'p', 0, 'w', 0, 0xE9, 0};
  joined.insert(joined.end(), pw, pw + sizeof pw);
  ACrypto joinedKey;
  ASSERT_TRUE(joinedKey.CreateKey(joined.data(), static_cast<DWORD>(joined.size()), nullptr));
  std::vector<BYTE> block = Block(64, 1);
  EXPECT_EQ(Cipher(withPassword, block, true), Cipher(joinedKey, block, true));
}

TEST(ACrypto, ImageCipherKeying) {
  std::vector<BYTE> block = Block(48, 5);
  ASSERT_TRUE(InitCipherKey(false, nullptr));
  std::vector<BYTE> plainKey = Cipher(GetImageCipher(), block, true);
  // Encryption off: the password takes no part; the key table alone keys.
  ASSERT_TRUE(InitCipherKey(false, u"secret"));
  EXPECT_EQ(Cipher(GetImageCipher(), block, true), plainKey);
  ASSERT_TRUE(InitCipherKey(true, u"secret"));
  std::vector<BYTE> withPassword = Cipher(GetImageCipher(), block, true);
  EXPECT_NE(withPassword, plainKey);
  ASSERT_TRUE(InitCipherKey(true, u"other"));
  EXPECT_NE(Cipher(GetImageCipher(), block, true), withPassword);
  // Re-keying replaces the earlier key; a registered cipher takes over.
  ACrypto own;
  RegisteredCipher registered(&own);
  EXPECT_FALSE(GetImageCipher().HasKey());
  ASSERT_TRUE(InitCipherKey(true, u"secret"));
  EXPECT_EQ(Cipher(own, block, true), withPassword);
}

TEST(ACrypto, NoKeyNoEncipherment) {
  ACrypto c;
  BYTE data[4] = {1, 2, 3, 4};
  EXPECT_FALSE(c.Encrypt(data, data, 4, true));
}
