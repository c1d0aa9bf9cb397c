// Encipherment of image data: an RC4 key derived from an MD5 hash of key
// material, through the platform's CryptoAPI.
#pragma once

#include "ce/crypt.h"
#include "ce/types.h"

class ACrypto {
 public:
  static constexpr DWORD kKeyTableSize = 1024;

  ACrypto() = default;
  ACrypto(const ACrypto&) = delete;
  ACrypto& operator=(const ACrypto&) = delete;
  // Destroys the key and the hash and releases the provider, each if held.
  virtual ~ACrypto();

  // Acquires a verify-context RSA full provider, hashes data (when given
  // with a non-zero length) and then the password's UTF-16 bytes without
  // the NUL (when given), and derives an exportable RC4 key. Handles held
  // from an earlier key are released first. False when any call fails
  // (the platform's last error tells which).
  bool CreateKey(const BYTE* data, DWORD length, LPCWSTR password);
  // Copy input to output (they may be the same) and encipher/decipher the
  // output in place. final ends the cipher run: the next call starts again
  // from the key.
  bool Encrypt(const BYTE* input, BYTE* output, DWORD length, bool final);
  bool Decrypt(const BYTE* input, BYTE* output, DWORD length, bool final);
  // Ends an open run without enciphering anything.
  bool EndRun();
  bool HasKey() const { return m_hKey != 0; }

  // The published 32-bit linear congruential generator: state = seed;
  // per byte state = state * 1664525 + 1013904223, byte = state >> 24.
  static void FillKeyTable(DWORD seed, BYTE* buffer, DWORD length);

 private:
  void Release();

  HCRYPTPROV m_hProv = 0;
  HCRYPTKEY m_hKey = 0;
  HCRYPTHASH m_hHash = 0;
};

// The process-wide image cipher. Until an owner registers its own with
// SetImageCipher, a built-in one is used.
ACrypto& GetImageCipher();
// Registers the image cipher (null: the built-in one again); the owner
// keeps it alive while registered.
void SetImageCipher(ACrypto* cipher);

// Keys the image cipher from the key table (fixed seed) and, when encrypt
// is set, the password. Run before an image is opened for backup or
// restore.
bool InitCipherKey(bool encrypt, LPCWSTR password);
