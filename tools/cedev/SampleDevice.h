// The sample device that `cedev create` lays out: the folders, registry,
// ROM files, storage card, user files, property databases, database
// volumes and mail of a used Pocket PC.
#pragma once

#include <filesystem>
#include <string>

#include "cesim/device.h"

namespace cedev {

// The profile of the sample device.
ce::Profile SampleProfile();

// Creates the device at dir and fills it. Returns false with a message.
bool CreateSampleDevice(const std::filesystem::path& dir, std::string* error);
// The same with the profile's platform type text replaced.
bool CreateSampleDevice(const std::filesystem::path& dir, const std::u16string& platformType, std::string* error);

}  // namespace cedev
