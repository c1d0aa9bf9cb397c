// Damage done to a backup image on the host side of the device, for the
// restore tests: byte flips, with or without the whole-image CRC in the
// tail made to match again, and where a file entry's parts lie.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "ce/text.h"
#include "image/Index.h"

namespace quilmo::test {

// Flips one byte of the image file at offset (before the tail). With
// recomputeCrc the tail then holds the crc32 of every byte before it, as
// if the image had been written so: only the entries' own checks can see
// the damage.
inline void FlipImageByte(const std::filesystem::path& host, size_t offset, bool recomputeCrc) {
  std::string bytes;
  {
    std::ifstream in(host, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  constexpr size_t kTail = 80;
  constexpr size_t kCrcInHeader = 48;
  ASSERT_GT(bytes.size(), kTail);
  ASSERT_LT(offset, bytes.size() - kTail);
  bytes[offset] = static_cast<char>(bytes[offset] ^ 0x5A);
  if (recomputeCrc) {
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size() - kTail));
    for (int i = 0; i < 4; ++i)
      bytes[bytes.size() - kTail + kCrcInHeader + i] = static_cast<char>(crc >> (8 * i));
  }
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Where a file or folder entry's parts lie in the image: the 40-byte block
// after the header and the name, the data after the block, the data's
// stored size.
struct EntryPlace {
  size_t block = 0;
  size_t data = 0;
  DWORD stored = 0;
};
inline EntryPlace PlaceOf(Index& index, const std::u16string& path) {
  int top = index.FindChildOfType(TREE_FILESYSTEM);
  for (int n = index.NextInSubtree(top, top); n >= 0; n = index.NextInSubtree(top, n)) {
    if (!ce::EqualNoCase(index.NodeName(n), path)) continue;
    const Index::Item& item = index.NodeInfo(n);
    size_t block = item.fileOffset + 80 + 2 * (path.size() + 1);
    return {block, block + 40, item.sizeInImage};
  }
  ADD_FAILURE() << "not in the index: " << ce::ToUtf8(path);
  return {};
}

}  // namespace quilmo::test
