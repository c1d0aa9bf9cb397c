// The CryptoAPI stand-in: published MD5 and RC4 vectors, the final flag's
// run semantics, the derived key, handle and argument errors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ce/crypt.h"
#include "ce/errors.h"

namespace {

std::string Hex(const BYTE* p, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

std::vector<BYTE> Bytes(const std::string& s) { return std::vector<BYTE>(s.begin(), s.end()); }

class Crypt : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  }
  void TearDown() override { EXPECT_TRUE(CryptReleaseContext(prov, 0)); }

  std::string Md5(const std::string& text) {
    HCRYPTHASH hash = 0;
    EXPECT_TRUE(CryptCreateHash(prov, CALG_MD5, 0, 0, &hash));
    EXPECT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE*>(text.data()),
                              static_cast<DWORD>(text.size()), 0));
    BYTE digest[16];
    DWORD n = sizeof digest;
    EXPECT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, digest, &n, 0));
    EXPECT_EQ(n, 16u);
    EXPECT_TRUE(CryptDestroyHash(hash));
    return Hex(digest, 16);
  }

  HCRYPTKEY ImportRc4(const std::vector<BYTE>& key) {
    std::vector<BYTE> blob(sizeof(BLOBHEADER) + 4 + key.size());
    BLOBHEADER header{PLAINTEXTKEYBLOB, CUR_BLOB_VERSION, 0, CALG_RC4};
    std::memcpy(blob.data(), &header, sizeof header);
    DWORD n = static_cast<DWORD>(key.size());
    std::memcpy(blob.data() + sizeof header, &n, 4);
    std::memcpy(blob.data() + sizeof header + 4, key.data(), key.size());
    HCRYPTKEY h = 0;
    EXPECT_TRUE(CryptImportKey(prov, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &h));
    return h;
  }

  std::string Encrypt(HCRYPTKEY key, std::vector<BYTE> data, bool final) {
    DWORD n = static_cast<DWORD>(data.size());
    EXPECT_TRUE(CryptEncrypt(key, 0, final, 0, data.data(), &n, n));
    return Hex(data.data(), data.size());
  }

  HCRYPTPROV prov = 0;
};

}  // namespace

TEST_F(Crypt, Md5PublishedVectors) {
  EXPECT_EQ(Md5(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5("1234567890123456789012345678901234567890123456789012345678901234567890123456"
                "7890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST_F(Crypt, Rc4PublishedVectors) {
  HCRYPTKEY k1 = ImportRc4(Bytes("Key"));
  EXPECT_EQ(Encrypt(k1, Bytes("Plaintext"), true), "bbf316e8d940af0ad3");
  HCRYPTKEY k2 = ImportRc4(Bytes("Wiki"));
  EXPECT_EQ(Encrypt(k2, Bytes("pedia"), true), "1021bf0420");
  HCRYPTKEY k3 = ImportRc4(Bytes("Secret"));
  EXPECT_EQ(Encrypt(k3, Bytes("Attack at dawn"), true), "45a01f645fc35b383552544b9bf5");
  // 128-bit key 01..10, keystream bytes 0-31 (zero plaintext).
  std::vector<BYTE> key128;
  for (BYTE b = 1; b <= 16; ++b) key128.push_back(b);
  HCRYPTKEY k4 = ImportRc4(key128);
  EXPECT_EQ(Encrypt(k4, std::vector<BYTE>(16), false), "9ac7cc9a609d1ef7b2932899cde41b97");
  EXPECT_EQ(Encrypt(k4, std::vector<BYTE>(16), true), "5248c4959014126a6e8a84f11d1a9e1c");
  for (HCRYPTKEY k : {k1, k2, k3, k4}) EXPECT_TRUE(CryptDestroyKey(k));
}

TEST_F(Crypt, FinalFlagRestartsTheStream) {
  HCRYPTKEY key = ImportRc4(Bytes("run semantics"));
  std::vector<BYTE> block(100, 0x5A);
  // Two blocks, each ended by final, encipher alike.
  std::string a = Encrypt(key, block, true);
  EXPECT_EQ(Encrypt(key, block, true), a);
  // 40 + 60 bytes without final equal 100 in one call.
  std::string part1 = Encrypt(key, std::vector<BYTE>(block.begin(), block.begin() + 40), false);
  std::string part2 = Encrypt(key, std::vector<BYTE>(block.begin() + 40, block.end()), false);
  EXPECT_EQ(part1 + part2, a);
  // The run is still open: the next call continues it, unlike a fresh one.
  EXPECT_NE(Encrypt(key, block, true), a);
  EXPECT_EQ(Encrypt(key, block, true), a);
  // An empty final call ends an open run.
  Encrypt(key, std::vector<BYTE>(7), false);
  DWORD zero = 0;
  EXPECT_TRUE(CryptEncrypt(key, 0, TRUE, 0, nullptr, &zero, 0));
  EXPECT_EQ(Encrypt(key, block, true), a);
  // Decrypt shares the state and inverts.
  std::vector<BYTE> data = block;
  DWORD n = 100;
  ASSERT_TRUE(CryptEncrypt(key, 0, FALSE, 0, data.data(), &n, n));
  ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, nullptr, &zero, 0));
  ASSERT_TRUE(CryptDecrypt(key, 0, TRUE, 0, data.data(), &n));
  EXPECT_EQ(data, block);
  EXPECT_TRUE(CryptDestroyKey(key));
}

TEST_F(Crypt, DerivedKeyIsTheWholeDigest) {
  HCRYPTHASH hash = 0;
  ASSERT_TRUE(CryptCreateHash(prov, CALG_MD5, 0, 0, &hash));
  ASSERT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE*>("abc"), 3, 0));
  HCRYPTKEY derived = 0;
  ASSERT_TRUE(CryptDeriveKey(prov, CALG_RC4, hash, CRYPT_EXPORTABLE, &derived));
  // The hash is finished now.
  SetLastError(0);
  EXPECT_FALSE(CryptHashData(hash, reinterpret_cast<const BYTE*>("x"), 1, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_HASH_STATE);
  std::vector<BYTE> digest = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                              0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
  HCRYPTKEY imported = ImportRc4(digest);
  std::vector<BYTE> text = Bytes("the key is all 128 bits of the digest");
  EXPECT_EQ(Encrypt(derived, text, true), Encrypt(imported, text, true));
  EXPECT_TRUE(CryptDestroyKey(derived));
  EXPECT_TRUE(CryptDestroyKey(imported));
  EXPECT_TRUE(CryptDestroyHash(hash));
}

TEST_F(Crypt, RefusalsSetTheLastError) {
  HCRYPTPROV other = 0;
  EXPECT_FALSE(CryptAcquireContextW(&other, nullptr, nullptr, 24, CRYPT_VERIFYCONTEXT));
  EXPECT_EQ(GetLastError(), NTE_BAD_PROV_TYPE);
  EXPECT_FALSE(CryptAcquireContextW(&other, u"container", nullptr, PROV_RSA_FULL, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);

  HCRYPTHASH hash = 0;
  EXPECT_FALSE(CryptCreateHash(prov, 0x8004 /* SHA-1 */, 0, 0, &hash));
  EXPECT_EQ(GetLastError(), NTE_BAD_ALGID);
  EXPECT_FALSE(CryptCreateHash(12345, CALG_MD5, 0, 0, &hash));
  EXPECT_EQ(GetLastError(), NTE_BAD_UID);
  ASSERT_TRUE(CryptCreateHash(prov, CALG_MD5, 0, 0, &hash));
  HCRYPTKEY key = 0;
  EXPECT_FALSE(CryptDeriveKey(prov, CALG_MD5, hash, 0, &key));
  EXPECT_EQ(GetLastError(), NTE_BAD_ALGID);
  EXPECT_FALSE(CryptDeriveKey(prov, CALG_RC4, hash, 40u << 16, &key));
  EXPECT_EQ(GetLastError(), NTE_BAD_FLAGS);

  BYTE data[8] = {};
  DWORD n = 8;
  EXPECT_FALSE(CryptEncrypt(999, 0, TRUE, 0, data, &n, 8));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEY);
  ASSERT_TRUE(CryptDeriveKey(prov, CALG_RC4, hash, 0, &key));
  EXPECT_FALSE(CryptEncrypt(key, 0, TRUE, 0, data, &n, 4));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  BYTE small[4];
  DWORD size = sizeof small;
  EXPECT_FALSE(CryptGetHashParam(hash, HP_HASHVAL, small, &size, 0));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_EQ(size, 16u);

  EXPECT_TRUE(CryptDestroyKey(key));
  EXPECT_FALSE(CryptDestroyKey(key));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEY);
  EXPECT_TRUE(CryptDestroyHash(hash));
  EXPECT_FALSE(CryptDestroyHash(hash));
  EXPECT_EQ(GetLastError(), NTE_BAD_HASH);
}
