// Reading and writing resource containers (layout in ce/resformat.h).
// Shared by the module loader and the resource compiler; no device state.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "ce/resformat.h"

namespace ce::res {

// One resource. Numbered when name is empty (id > 0 then), named otherwise.
struct Resource {
  uint32_t type = 0;
  uint32_t id = 0;
  std::u16string name;
  uint16_t language = kDefaultLanguage;
  std::string data;
};

// One entry of a parsed container: data lies at [offset, offset + size) of
// the container bytes.
struct EntryView {
  uint32_t type = 0;
  uint32_t id = 0;
  std::u16string name;
  uint16_t language = 0;
  uint32_t offset = 0;
  uint32_t size = 0;
};

// A string resource: the text as UTF-16 little-endian with its terminating
// zero.
Resource StringResource(uint32_t id, std::u16string_view text);

// Lays out a container (header, sorted entries, data; no trailer). Fails
// (error set) on an invalid or duplicate resource or when it outgrows 4 GB.
bool BuildContainer(std::vector<Resource> resources, std::string* out, std::string* error);
// The trailer that marks a container at fileOffset of size bytes.
std::string MakeTrailer(uint32_t fileOffset, uint32_t size);

// Checks every bound of a container and lists its entries.
bool ParseContainer(std::string_view bytes, std::vector<EntryView>* out, std::string* error);

// Where a file's container lies, from its trailer.
struct ContainerSpan {
  uint64_t offset = 0;
  uint32_t size = 0;
};
enum class Locate { kNone, kFound, kIoError };
Locate LocateContainer(const std::filesystem::path& file, ContainerSpan* span);
// Reads the container of a file; kNone when the file carries none.
Locate ReadContainer(const std::filesystem::path& file, std::string* bytes);

}  // namespace ce::res
