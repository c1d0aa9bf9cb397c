// CryptoAPI of the device, as far as backups use it: a verify-context RSA
// full provider, MD5 hashes, RC4 keys derived from a hash (or imported as a
// plain-text key blob), stream encipherment with the final flag.
//
// RC4 key state runs on across CryptEncrypt/CryptDecrypt calls (one state
// per key, shared by both directions) until a call with final set; after
// that call the next one starts again from the key.
//
// Failures return FALSE with the last error set: a bad provider, hash or
// key handle gives NTE_BAD_UID, NTE_BAD_HASH or NTE_BAD_KEY; an algorithm
// other than MD5 (hash) or RC4 (key) NTE_BAD_ALGID; unknown flags
// NTE_BAD_FLAGS; a hash that is finished NTE_BAD_HASH_STATE.
#pragma once

#include "ce/types.h"

typedef ULONG_PTR HCRYPTPROV;
typedef ULONG_PTR HCRYPTKEY;
typedef ULONG_PTR HCRYPTHASH;
typedef unsigned int ALG_ID;

#define PROV_RSA_FULL 1

#define CRYPT_VERIFYCONTEXT 0xF0000000u
#define CRYPT_NEWKEYSET 0x00000008u
#define CRYPT_DELETEKEYSET 0x00000010u
#define CRYPT_MACHINE_KEYSET 0x00000020u
#define CRYPT_SILENT 0x00000040u

#define CRYPT_EXPORTABLE 0x00000001u
#define CRYPT_NO_SALT 0x00000010u

#define CALG_MD5 0x00008003u
#define CALG_RC4 0x00006801u

#define HP_ALGID 0x0001
#define HP_HASHVAL 0x0002
#define HP_HASHSIZE 0x0004

#define PLAINTEXTKEYBLOB 0x8
#define CUR_BLOB_VERSION 2

#define NTE_BAD_UID 0x80090001u
#define NTE_BAD_HASH 0x80090002u
#define NTE_BAD_KEY 0x80090003u
#define NTE_BAD_LEN 0x80090004u
#define NTE_BAD_DATA 0x80090005u
#define NTE_BAD_ALGID 0x80090008u
#define NTE_BAD_FLAGS 0x80090009u
#define NTE_BAD_TYPE 0x8009000Au
#define NTE_BAD_HASH_STATE 0x8009000Cu
#define NTE_NO_MEMORY 0x8009000Eu
#define NTE_BAD_PROV_TYPE 0x80090014u
#define NTE_BAD_KEYSET 0x80090016u
#define NTE_KEYSET_NOT_DEF 0x80090019u
#define NTE_BAD_KEYSET_PARAM 0x8009001Fu
#define NTE_FAIL 0x80090020u

// Leads a key blob; a PLAINTEXTKEYBLOB follows it with a DWORD key byte
// count and the key bytes.
struct BLOBHEADER {
  BYTE bType;
  BYTE bVersion;
  WORD reserved;
  ALG_ID aiKeyAlg;
};
static_assert(sizeof(BLOBHEADER) == 8);

// Only the default provider (name null) of type PROV_RSA_FULL with
// CRYPT_VERIFYCONTEXT (container null) is available; key containers are
// not (NTE_BAD_KEYSET).
BOOL CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR container, LPCWSTR provider,
                          DWORD provType, DWORD flags);
BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD flags);

// CALG_MD5 only, no key (hKey 0).
BOOL CryptCreateHash(HCRYPTPROV hProv, ALG_ID algId, HCRYPTKEY hKey, DWORD flags,
                     HCRYPTHASH* phHash);
BOOL CryptHashData(HCRYPTHASH hHash, const BYTE* data, DWORD length, DWORD flags);
// HP_ALGID, HP_HASHSIZE (16) or HP_HASHVAL (finishes the hash). A null
// data pointer asks for the size; a short buffer gives ERROR_MORE_DATA
// with the size needed in *length.
BOOL CryptGetHashParam(HCRYPTHASH hHash, DWORD param, BYTE* data, DWORD* length, DWORD flags);
BOOL CryptDestroyHash(HCRYPTHASH hHash);

// CALG_RC4 from an MD5 hash, which it finishes. The key is always the whole
// 16-byte digest (128 bits, no salt): key length 0 or 128 in the upper 16
// bits of flags; CRYPT_EXPORTABLE and CRYPT_NO_SALT are accepted.
BOOL CryptDeriveKey(HCRYPTPROV hProv, ALG_ID algId, HCRYPTHASH hBaseData, DWORD flags,
                    HCRYPTKEY* phKey);
// A PLAINTEXTKEYBLOB of CALG_RC4 with 1 to 16 key bytes; hPubKey 0.
BOOL CryptImportKey(HCRYPTPROV hProv, const BYTE* data, DWORD dataLength, HCRYPTKEY hPubKey,
                    DWORD flags, HCRYPTKEY* phKey);
BOOL CryptDestroyKey(HCRYPTKEY hKey);

// In place over *dataLength bytes (bufferLength must hold them); no hash
// (hHash 0), flags 0.
BOOL CryptEncrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL final, DWORD flags, BYTE* data,
                  DWORD* dataLength, DWORD bufferLength);
BOOL CryptDecrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL final, DWORD flags, BYTE* data,
                  DWORD* dataLength);
