// The simulator's control of the desktop network's shares (ce/netconn.h).
//
// The profile lists the shares the network offers (share = NAME|HOSTDIR).
// A connected share is a link "fs/Network/NAME" to its host folder, so that
// every device process sees a connection at once; its connection record is
// the registry key HKCU "Comm\Redir\Connections\NAME".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cesim/device.h"

namespace ce {

// The host part of every share's UNC name: "\\" kShareServer "\" NAME.
inline constexpr const char16_t* kShareServer = u"QUILMOHOST";
std::u16string ShareRemoteName(std::u16string_view name);

struct ShareState {
  NetworkShare share;
  bool connected = false;
};
// The offered shares in profile order, with their connection state (the
// profile is read afresh: another process may have changed it).
std::vector<ShareState> ListShares();

// Adds a share to the profile (ERROR_ALREADY_EXISTS when one has that name,
// ERROR_INVALID_NAME for a name the device cannot hold, ERROR_BAD_PATHNAME
// for a host folder that is not absolute).
bool OfferShare(std::u16string_view name, const std::filesystem::path& hostDir);
// Disconnects (forced) and removes a share from the profile
// (ERROR_BAD_NET_NAME when there is none of that name).
bool WithdrawShare(std::u16string_view name);

// Connects an offered share, by its name or UNC name: the folder
// "\Network\NAME" appears and the connection record is written.
// ERROR_BAD_NET_NAME: not offered; ERROR_ALREADY_ASSIGNED: connected, or a
// folder of that name is in the way. *folder receives "\Network\NAME".
bool ConnectShare(std::u16string_view name, std::u16string* folder = nullptr);
// Disconnects a share by "NAME", "\Network\NAME" or its UNC name (see
// WNetCancelConnection2W for the errors); updateProfile removes the
// connection record's values.
bool DisconnectShare(std::u16string_view name, bool updateProfile, bool force);

}  // namespace ce
