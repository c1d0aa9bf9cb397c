// Resource container reading and writing (pure data, no device state).
#include <algorithm>
#include <cstring>
#include <fstream>
#include <tuple>

#include "ce/bytes.h"
#include "ce/rescontainer.h"

namespace ce::res {
namespace {

using le::Align4;
using le::Get16;
using le::Get32;
using le::Put16;
using le::Put32;
using le::Set32;

bool ValidName(const std::u16string& name) {
  if (name.empty() || name.size() > kMaxNameLength) return false;
  return std::all_of(name.begin(), name.end(), [](char16_t c) { return c > 0x20 && c < 0x7F; });
}

std::u16string AsciiUpper(std::u16string s) {
  for (auto& c : s)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return s;
}

}  // namespace

Resource StringResource(uint32_t id, std::u16string_view text) {
  Resource r;
  r.type = kTypeString;
  r.id = id;
  for (char16_t c : text) Put16(&r.data, c);
  r.data.append(2, '\0');
  return r;
}

bool BuildContainer(std::vector<Resource> resources, std::string* out, std::string* error) {
  for (auto& r : resources) {
    if (r.name.empty() && r.id == 0) {
      *error = "resource of type " + std::to_string(r.type) + " has neither id nor name";
      return false;
    }
    if (!r.name.empty()) {
      if (r.id != 0 || !ValidName(r.name)) {
        *error = "invalid resource name (1 to 255 printable ASCII characters without blanks)";
        return false;
      }
      r.name = AsciiUpper(r.name);
    }
  }
  auto key = [](const Resource& r) {
    return std::tie(r.type, r.id, r.name, r.language);
  };
  std::sort(resources.begin(), resources.end(),
            [&](const Resource& a, const Resource& b) { return key(a) < key(b); });
  for (size_t i = 1; i < resources.size(); ++i) {
    if (key(resources[i - 1]) == key(resources[i])) {
      const auto& r = resources[i];
      *error = "duplicate resource: type " + std::to_string(r.type) + ", " +
               (r.name.empty() ? "id " + std::to_string(r.id) : std::string("named resource")) +
               ", language " + std::to_string(r.language);
      return false;
    }
  }

  std::string b(kHeaderMagic, sizeof kHeaderMagic);
  Put32(&b, kFormatVersion);
  Put32(&b, static_cast<uint32_t>(resources.size()));
  const size_t table = b.size();
  b.resize(table + resources.size() * kEntrySize, '\0');
  uint64_t total = b.size();
  for (const auto& r : resources) total += r.data.size() + r.name.size() * 2 + 8;
  if (total > 0xFFFFFFF0ull) {
    *error = "resources exceed 4 GB";
    return false;
  }
  for (size_t i = 0; i < resources.size(); ++i) {
    const auto& r = resources[i];
    const size_t e = table + i * kEntrySize;
    uint32_t nameOffset = 0;
    if (!r.name.empty()) {
      Align4(&b);
      nameOffset = static_cast<uint32_t>(b.size());
      Put16(&b, static_cast<uint16_t>(r.name.size()));
      for (char16_t c : r.name) Put16(&b, c);
    }
    Align4(&b);
    const auto dataOffset = static_cast<uint32_t>(b.size());
    b += r.data;
    Set32(&b, e + kEntryType, r.type);
    Set32(&b, e + kEntryId, r.id);
    Set32(&b, e + kEntryNameOffset, nameOffset);
    Set32(&b, e + kEntryLanguage, static_cast<uint32_t>(r.language) |
                                      static_cast<uint32_t>(r.name.empty() ? 0 : kEntryNamed) << 16);
    Set32(&b, e + kEntryDataOffset, dataOffset);
    Set32(&b, e + kEntryDataSize, static_cast<uint32_t>(r.data.size()));
  }
  *out = std::move(b);
  return true;
}

std::string MakeTrailer(uint32_t fileOffset, uint32_t size) {
  std::string b(kTrailerMagic, sizeof kTrailerMagic);
  Put32(&b, fileOffset);
  Put32(&b, size);
  return b;
}

bool ParseContainer(std::string_view b, std::vector<EntryView>* out, std::string* error) {
  out->clear();
  if (b.size() < kHeaderSize || std::memcmp(b.data(), kHeaderMagic, sizeof kHeaderMagic) != 0) {
    *error = "not a resource container";
    return false;
  }
  if (Get32(b, 8) != kFormatVersion) {
    *error = "unsupported resource container version " + std::to_string(Get32(b, 8));
    return false;
  }
  const uint64_t count = Get32(b, 12);
  if (kHeaderSize + count * kEntrySize > b.size()) {
    *error = "resource entry table runs past the container";
    return false;
  }
  out->reserve(count);
  for (uint64_t i = 0; i < count; ++i) {
    const size_t e = kHeaderSize + i * kEntrySize;
    EntryView v;
    v.type = Get32(b, e + kEntryType);
    v.id = Get32(b, e + kEntryId);
    const uint32_t nameOffset = Get32(b, e + kEntryNameOffset);
    v.language = Get16(b, e + kEntryLanguage);
    const uint16_t flags = Get16(b, e + kEntryFlags);
    v.offset = Get32(b, e + kEntryDataOffset);
    v.size = Get32(b, e + kEntryDataSize);
    if (static_cast<uint64_t>(v.offset) + v.size > b.size()) {
      *error = "resource data runs past the container";
      return false;
    }
    if (flags & kEntryNamed) {
      if (static_cast<uint64_t>(nameOffset) + 2 > b.size()) {
        *error = "resource name runs past the container";
        return false;
      }
      const uint16_t len = Get16(b, nameOffset);
      if (len == 0 || len > kMaxNameLength ||
          static_cast<uint64_t>(nameOffset) + 2 + 2ull * len > b.size()) {
        *error = "invalid resource name";
        return false;
      }
      for (uint16_t k = 0; k < len; ++k) v.name.push_back(static_cast<char16_t>(Get16(b, nameOffset + 2 + 2 * k)));
      v.id = 0;
    } else if (v.id == 0) {
      *error = "resource without id";
      return false;
    }
    if (v.type == kTypeString &&
        (v.size < 2 || v.size % 2 || v.offset % 2 || Get16(b, v.offset + v.size - 2) != 0)) {
      *error = "string resource " + std::to_string(v.id) + " is not NUL-terminated UTF-16";
      return false;
    }
    out->push_back(std::move(v));
  }
  return true;
}

Locate LocateContainer(const std::filesystem::path& file, ContainerSpan* span) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return Locate::kIoError;
  in.seekg(0, std::ios::end);
  const auto end = in.tellg();
  if (end < 0) return Locate::kIoError;
  const auto fileSize = static_cast<uint64_t>(end);
  if (fileSize < kTrailerSize + kHeaderSize) return Locate::kNone;
  char t[kTrailerSize];
  in.seekg(static_cast<std::streamoff>(fileSize - kTrailerSize));
  if (!in.read(t, kTrailerSize)) return Locate::kIoError;
  const std::string_view tv(t, kTrailerSize);
  if (std::memcmp(t, kTrailerMagic, sizeof kTrailerMagic) != 0) return Locate::kNone;
  const uint64_t offset = Get32(tv, 8);
  const uint32_t size = Get32(tv, 12);
  if (offset + size + kTrailerSize != fileSize || size < kHeaderSize) return Locate::kNone;
  span->offset = offset;
  span->size = size;
  return Locate::kFound;
}

Locate ReadContainer(const std::filesystem::path& file, std::string* bytes) {
  ContainerSpan span;
  const Locate l = LocateContainer(file, &span);
  if (l != Locate::kFound) return l;
  std::ifstream in(file, std::ios::binary);
  std::string b(span.size, '\0');
  in.seekg(static_cast<std::streamoff>(span.offset));
  if (!in || !in.read(b.data(), span.size)) return Locate::kIoError;
  *bytes = std::move(b);
  return Locate::kFound;
}

}  // namespace ce::res
