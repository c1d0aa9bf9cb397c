// A record's properties as the stores keep them (private to the database
// layer), and the read buffer the calls hand out.
//
// Stored form (one BLOB per record), little-endian, properties in record
// order, each:
//   u32 property id, u32 n, then n bytes of value:
//     CEVT_I2, CEVT_UI2                          2 bytes
//     CEVT_I4, CEVT_UI4, CEVT_BOOL, CEVT_RECID,
//     CEVT_AUTO_I4                               4 bytes
//     CEVT_R8, CEVT_FILETIME, CEVT_AUTO_I8       8 bytes (doubles as their raw bytes)
//     CEVT_LPWSTR                                the UTF-16 code units, no NUL
//     CEVT_BLOB, CEVT_STREAM                     the bytes
// A blob that breaks these rules is malformed; reading it fails.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ce/database.h"

namespace ce::db {

struct Prop {
  CEPROPID id = 0;
  std::string value;  // the stored value bytes
};

// A property as it lies in a stored record (valid while the record is).
struct PropView {
  CEPROPID id = 0;
  std::string_view value;
};

// Size of a fixed value type in bytes; 0 for texts and blobs, -1 for a type
// no generation knows.
int FixedSize(WORD type);
// True for the types a generation's databases take.
bool TypeAllowed(WORD type, bool edb);
bool IsAutoType(WORD type);

// Parses a stored record; false when it is malformed.
bool Decode(std::string_view blob, std::vector<Prop>* out);
// The same without copying the values out of the record.
bool DecodeViews(std::string_view blob, std::vector<PropView>* out);
std::string Encode(const std::vector<Prop>& props);

// A caller's value as stored bytes; false (with *error) for a value that
// cannot be taken (a null text, a blob with bytes but no pointer).
bool FromValue(const CEPROPVAL& v, Prop* out, DWORD* error);

// The read buffer: the CEPROPVAL array followed by the data its texts and
// blobs point to, each piece 8-byte aligned. A null props[i] makes entry i
// a not-found entry for ids[i] (ids may be empty when none is null).
size_t BufferSize(const std::vector<const PropView*>& props);
void FillBuffer(const std::vector<const PropView*>& props, const std::vector<CEPROPID>& ids, BYTE* buffer);

}  // namespace ce::db
