// CryptoAPI stand-in over OpenSSL 3 (MD5 from the default provider, RC4
// from the legacy provider, both in a library context of our own).
#include "ce/crypt.h"

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <variant>

#include "ce/errors.h"

namespace {

constexpr DWORD kMd5Size = 16;
constexpr DWORD kMaxRc4KeySize = 16;

struct OpenSsl {
  OSSL_LIB_CTX* ctx = nullptr;
  EVP_MD* md5 = nullptr;
  EVP_CIPHER* rc4 = nullptr;
};

// Loaded once per process; null members when a provider is missing.
const OpenSsl& Library() {
  static OpenSsl lib = [] {
    OpenSsl l;
    l.ctx = OSSL_LIB_CTX_new();
    if (!l.ctx) return l;
    OSSL_PROVIDER_load(l.ctx, "default");
    OSSL_PROVIDER_load(l.ctx, "legacy");
    l.md5 = EVP_MD_fetch(l.ctx, "MD5", nullptr);
    l.rc4 = EVP_CIPHER_fetch(l.ctx, "RC4", nullptr);
    return l;
  }();
  return lib;
}

struct Provider {};

struct Hash {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx{nullptr, EVP_MD_CTX_free};
  bool finished = false;
  BYTE digest[kMd5Size] = {};
};

struct Key {
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx{nullptr,
                                                                     EVP_CIPHER_CTX_free};
  // The state as the key sets it, kept to start each run from: a copy of
  // it is far cheaper than running the key schedule again.
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> keyed{nullptr,
                                                                       EVP_CIPHER_CTX_free};
  BYTE key[kMaxRc4KeySize] = {};
  DWORD keyLength = 0;
  bool running = false;  // a run is open: the state is no longer the key's
};

using Object = std::variant<std::shared_ptr<Provider>, std::shared_ptr<Hash>, std::shared_ptr<Key>>;

std::mutex g_mutex;
std::unordered_map<ULONG_PTR, Object> g_objects;
ULONG_PTR g_next = 0x1000;

ULONG_PTR Add(Object obj) {
  std::lock_guard lock(g_mutex);
  ULONG_PTR h = g_next;
  g_next += 4;
  g_objects.emplace(h, std::move(obj));
  return h;
}

template <class T>
std::shared_ptr<T> Get(ULONG_PTR h, DWORD badHandleError) {
  std::lock_guard lock(g_mutex);
  auto it = g_objects.find(h);
  if (it != g_objects.end()) {
    if (auto* p = std::get_if<std::shared_ptr<T>>(&it->second)) return *p;
  }
  SetLastError(badHandleError);
  return nullptr;
}

template <class T>
bool Remove(ULONG_PTR h, DWORD badHandleError) {
  std::lock_guard lock(g_mutex);
  auto it = g_objects.find(h);
  if (it == g_objects.end() || !std::holds_alternative<std::shared_ptr<T>>(it->second)) {
    SetLastError(badHandleError);
    return false;
  }
  g_objects.erase(it);
  return true;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

bool FinishHash(Hash& hash) {
  if (hash.finished) return true;
  unsigned int n = 0;
  if (!EVP_DigestFinal_ex(hash.ctx.get(), hash.digest, &n) || n != kMd5Size) return false;
  hash.finished = true;
  return true;
}

// Sets the RC4 state back to the key.
bool Rekey(Key& key) {
  key.running = false;
  return EVP_CIPHER_CTX_copy(key.ctx.get(), key.keyed.get()) == 1;
}

BOOL MakeKey(const BYTE* bytes, DWORD length, HCRYPTKEY* phKey) {
  const OpenSsl& lib = Library();
  if (!lib.rc4) return Fail(NTE_FAIL);
  auto key = std::make_shared<Key>();
  key->ctx.reset(EVP_CIPHER_CTX_new());
  key->keyed.reset(EVP_CIPHER_CTX_new());
  if (!key->ctx || !key->keyed) return Fail(NTE_NO_MEMORY);
  std::memcpy(key->key, bytes, length);
  key->keyLength = length;
  EVP_CIPHER_CTX* keyed = key->keyed.get();
  if (EVP_EncryptInit_ex(keyed, lib.rc4, nullptr, nullptr, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_key_length(keyed, static_cast<int>(length)) != 1 ||
      EVP_EncryptInit_ex(keyed, nullptr, nullptr, key->key, nullptr) != 1 || !Rekey(*key))
    return Fail(NTE_FAIL);
  *phKey = Add(key);
  return TRUE;
}

BOOL Crypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL final, DWORD flags, BYTE* data,
           DWORD* dataLength, DWORD bufferLength) {
  auto key = Get<Key>(hKey, NTE_BAD_KEY);
  if (!key) return FALSE;
  if (hHash != 0) return Fail(NTE_BAD_HASH);
  if (flags != 0) return Fail(NTE_BAD_FLAGS);
  if (!dataLength) return Fail(ERROR_INVALID_PARAMETER);
  DWORD length = *dataLength;
  if (length > bufferLength) return Fail(ERROR_MORE_DATA);
  if (length > 0 && !data) return Fail(ERROR_INVALID_PARAMETER);
  // RC4 enciphers and deciphers alike; the update takes at most INT_MAX.
  while (length > 0) {
    int piece = static_cast<int>(length > 0x40000000u ? 0x40000000u : length);
    int out = 0;
    if (EVP_EncryptUpdate(key->ctx.get(), data, &out, data, piece) != 1 || out != piece)
      return Fail(NTE_FAIL);
    key->running = true;
    data += piece;
    length -= static_cast<DWORD>(piece);
  }
  if (final && key->running && !Rekey(*key)) return Fail(NTE_FAIL);
  return TRUE;
}

}  // namespace

BOOL CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR container, LPCWSTR provider,
                          DWORD provType, DWORD flags) {
  if (!phProv) return Fail(ERROR_INVALID_PARAMETER);
  if (provType != PROV_RSA_FULL) return Fail(NTE_BAD_PROV_TYPE);
  if (provider && *provider) return Fail(NTE_KEYSET_NOT_DEF);
  if (flags & ~(CRYPT_VERIFYCONTEXT | CRYPT_SILENT | CRYPT_MACHINE_KEYSET | CRYPT_NEWKEYSET |
                CRYPT_DELETEKEYSET))
    return Fail(NTE_BAD_FLAGS);
  if ((flags & CRYPT_VERIFYCONTEXT) != CRYPT_VERIFYCONTEXT) return Fail(NTE_BAD_KEYSET);
  if (container && *container) return Fail(NTE_BAD_KEYSET_PARAM);
  const OpenSsl& lib = Library();
  if (!lib.md5 || !lib.rc4) return Fail(NTE_FAIL);
  *phProv = Add(std::make_shared<Provider>());
  return TRUE;
}

BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD flags) {
  if (!Remove<Provider>(hProv, NTE_BAD_UID)) return FALSE;
  if (flags != 0) return Fail(NTE_BAD_FLAGS);
  return TRUE;
}

BOOL CryptCreateHash(HCRYPTPROV hProv, ALG_ID algId, HCRYPTKEY hKey, DWORD flags,
                     HCRYPTHASH* phHash) {
  if (!Get<Provider>(hProv, NTE_BAD_UID)) return FALSE;
  if (!phHash) return Fail(ERROR_INVALID_PARAMETER);
  if (algId != CALG_MD5) return Fail(NTE_BAD_ALGID);
  if (hKey != 0) return Fail(NTE_BAD_KEY);
  if (flags != 0) return Fail(NTE_BAD_FLAGS);
  auto hash = std::make_shared<Hash>();
  hash->ctx.reset(EVP_MD_CTX_new());
  if (!hash->ctx) return Fail(NTE_NO_MEMORY);
  if (EVP_DigestInit_ex(hash->ctx.get(), Library().md5, nullptr) != 1) return Fail(NTE_FAIL);
  *phHash = Add(hash);
  return TRUE;
}

BOOL CryptHashData(HCRYPTHASH hHash, const BYTE* data, DWORD length, DWORD flags) {
  auto hash = Get<Hash>(hHash, NTE_BAD_HASH);
  if (!hash) return FALSE;
  if (flags != 0) return Fail(NTE_BAD_FLAGS);
  if (length > 0 && !data) return Fail(ERROR_INVALID_PARAMETER);
  if (hash->finished) return Fail(NTE_BAD_HASH_STATE);
  if (length > 0 && EVP_DigestUpdate(hash->ctx.get(), data, length) != 1) return Fail(NTE_FAIL);
  return TRUE;
}

BOOL CryptGetHashParam(HCRYPTHASH hHash, DWORD param, BYTE* data, DWORD* length, DWORD flags) {
  auto hash = Get<Hash>(hHash, NTE_BAD_HASH);
  if (!hash) return FALSE;
  if (flags != 0) return Fail(NTE_BAD_FLAGS);
  if (!length) return Fail(ERROR_INVALID_PARAMETER);
  BYTE value[kMd5Size];
  DWORD size = 4;
  switch (param) {
    case HP_ALGID: {
      DWORD alg = CALG_MD5;
      std::memcpy(value, &alg, 4);
      break;
    }
    case HP_HASHSIZE: {
      DWORD n = kMd5Size;
      std::memcpy(value, &n, 4);
      break;
    }
    case HP_HASHVAL:
      if (!data) {  // a size query leaves the hash open
        *length = kMd5Size;
        return TRUE;
      }
      if (!FinishHash(*hash)) return Fail(NTE_FAIL);
      std::memcpy(value, hash->digest, kMd5Size);
      size = kMd5Size;
      break;
    default:
      return Fail(NTE_BAD_TYPE);
  }
  if (!data) {
    *length = size;
    return TRUE;
  }
  if (*length < size) {
    *length = size;
    return Fail(ERROR_MORE_DATA);
  }
  std::memcpy(data, value, size);
  *length = size;
  return TRUE;
}

BOOL CryptDestroyHash(HCRYPTHASH hHash) { return Remove<Hash>(hHash, NTE_BAD_HASH) ? TRUE : FALSE; }

BOOL CryptDeriveKey(HCRYPTPROV hProv, ALG_ID algId, HCRYPTHASH hBaseData, DWORD flags,
                    HCRYPTKEY* phKey) {
  if (!Get<Provider>(hProv, NTE_BAD_UID)) return FALSE;
  auto hash = Get<Hash>(hBaseData, NTE_BAD_HASH);
  if (!hash) return FALSE;
  if (!phKey) return Fail(ERROR_INVALID_PARAMETER);
  if (algId != CALG_RC4) return Fail(NTE_BAD_ALGID);
  DWORD bits = flags >> 16;
  if ((flags & 0xFFFFu & ~(CRYPT_EXPORTABLE | CRYPT_NO_SALT)) || (bits != 0 && bits != 128))
    return Fail(NTE_BAD_FLAGS);
  if (!FinishHash(*hash)) return Fail(NTE_FAIL);
  // The RC4 key is the whole 16-byte MD5 digest (128 bits), in every build,
  // forever: images and stored password hashes depend on it.
  return MakeKey(hash->digest, kMd5Size, phKey);
}

BOOL CryptImportKey(HCRYPTPROV hProv, const BYTE* data, DWORD dataLength, HCRYPTKEY hPubKey,
                    DWORD flags, HCRYPTKEY* phKey) {
  if (!Get<Provider>(hProv, NTE_BAD_UID)) return FALSE;
  if (!phKey || !data) return Fail(ERROR_INVALID_PARAMETER);
  if (hPubKey != 0) return Fail(NTE_BAD_KEY);
  if (flags & ~(CRYPT_EXPORTABLE | CRYPT_NO_SALT)) return Fail(NTE_BAD_FLAGS);
  if (dataLength < sizeof(BLOBHEADER) + 4) return Fail(NTE_BAD_DATA);
  BLOBHEADER header;
  std::memcpy(&header, data, sizeof header);
  if (header.bType != PLAINTEXTKEYBLOB) return Fail(NTE_BAD_TYPE);
  if (header.aiKeyAlg != CALG_RC4) return Fail(NTE_BAD_ALGID);
  DWORD keyLength = 0;
  std::memcpy(&keyLength, data + sizeof header, 4);
  if (keyLength == 0 || keyLength > kMaxRc4KeySize ||
      keyLength > dataLength - sizeof(BLOBHEADER) - 4)
    return Fail(NTE_BAD_DATA);
  return MakeKey(data + sizeof header + 4, keyLength, phKey);
}

BOOL CryptDestroyKey(HCRYPTKEY hKey) { return Remove<Key>(hKey, NTE_BAD_KEY) ? TRUE : FALSE; }

BOOL CryptEncrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL final, DWORD flags, BYTE* data,
                  DWORD* dataLength, DWORD bufferLength) {
  return Crypt(hKey, hHash, final, flags, data, dataLength, bufferLength);
}

BOOL CryptDecrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL final, DWORD flags, BYTE* data,
                  DWORD* dataLength) {
  return Crypt(hKey, hHash, final, flags, data, dataLength, dataLength ? *dataLength : 0);
}
