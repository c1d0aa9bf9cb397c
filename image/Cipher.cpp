#include "image/Cipher.h"

#include <cstring>
#include <vector>

#include "ce/errors.h"
#include "ce/text.h"

namespace {

// Seed of the key table: a constant of ours, the same in every build.
// Images are readable only by builds that share it (and the password).
constexpr DWORD kKeyTableSeed = 0x5A17C3E9u;

ACrypto* g_registered = nullptr;

}  // namespace

ACrypto::~ACrypto() { Release(); }

void ACrypto::Release() {
  // Keeps the last error of a failure that led here.
  DWORD error = GetLastError();
  if (m_hKey) CryptDestroyKey(m_hKey);
  if (m_hHash) CryptDestroyHash(m_hHash);
  if (m_hProv) CryptReleaseContext(m_hProv, 0);
  m_hKey = m_hHash = m_hProv = 0;
  SetLastError(error);
}

bool ACrypto::CreateKey(const BYTE* data, DWORD length, LPCWSTR password) {
  Release();
  if (!CryptAcquireContextW(&m_hProv, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
    m_hProv = 0;
    return false;
  }
  if (!CryptCreateHash(m_hProv, CALG_MD5, 0, 0, &m_hHash)) {
    m_hHash = 0;
    return false;
  }
  if (data && length && !CryptHashData(m_hHash, data, length, 0)) return false;
  if (password) {
    size_t n = ce::StrLen(password);
    if (!CryptHashData(m_hHash, reinterpret_cast<const BYTE*>(password),
                       static_cast<DWORD>(n * sizeof(WCHAR)), 0))
      return false;
  }
  // The platform derives a 128-bit key: the whole MD5 digest.
  if (!CryptDeriveKey(m_hProv, CALG_RC4, m_hHash, CRYPT_EXPORTABLE, &m_hKey)) {
    m_hKey = 0;
    return false;
  }
  return true;
}

bool ACrypto::Encrypt(const BYTE* input, BYTE* output, DWORD length, bool final) {
  if (length && input != output) std::memcpy(output, input, length);
  DWORD n = length;
  return CryptEncrypt(m_hKey, 0, final ? TRUE : FALSE, 0, output, &n, length) != FALSE;
}

bool ACrypto::Decrypt(const BYTE* input, BYTE* output, DWORD length, bool final) {
  if (length && input != output) std::memcpy(output, input, length);
  DWORD n = length;
  return CryptDecrypt(m_hKey, 0, final ? TRUE : FALSE, 0, output, &n) != FALSE;
}

bool ACrypto::EndRun() {
  DWORD n = 0;
  return CryptEncrypt(m_hKey, 0, TRUE, 0, nullptr, &n, 0) != FALSE;
}

void ACrypto::FillKeyTable(DWORD seed, BYTE* buffer, DWORD length) {
  DWORD state = seed;
  for (DWORD i = 0; i < length; ++i) {
    state = state * 1664525u + 1013904223u;
    buffer[i] = static_cast<BYTE>(state >> 24);
  }
}

ACrypto& GetImageCipher() {
  static ACrypto builtIn;
  return g_registered ? *g_registered : builtIn;
}

void SetImageCipher(ACrypto* cipher) { g_registered = cipher; }

bool InitCipherKey(bool encrypt, LPCWSTR password) {
  std::vector<BYTE> table(ACrypto::kKeyTableSize);
  ACrypto::FillKeyTable(kKeyTableSeed, table.data(), ACrypto::kKeyTableSize);
  return GetImageCipher().CreateKey(table.data(), ACrypto::kKeyTableSize,
                                    encrypt ? password : nullptr);
}
