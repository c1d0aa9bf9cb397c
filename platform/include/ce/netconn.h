// Network connections: shares of the desktop network connected as folders
// below the network folder "\Network".
//
// A connected share NAME is the folder "\Network\NAME"; its files are the
// files of the host folder the device profile names for it (cesim/share.h).
// It is listed with FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY, as
// "\Network" and the card folders are, and cannot be removed or renamed
// through the file calls. A share that is not connected, or whose host
// folder is gone, is a missing folder (ERROR_PATH_NOT_FOUND below it).
//
// The connection record of a connected share lives in the current user's
// registry key "Comm\Redir\Connections\NAME": string "RemoteName" (the UNC
// name "\\HOST\NAME"), DWORD "Type" (RESOURCETYPE_DISK).
#pragma once

#include "ce/errors.h"  // the error numbers returned
#include "ce/types.h"
#include "ce/window.h"

#define RESOURCETYPE_ANY 0x00000000u
#define RESOURCETYPE_DISK 0x00000001u
#define RESOURCETYPE_PRINT 0x00000002u

#define RESOURCE_CONNECTED 0x00000001u
#define RESOURCE_REMEMBERED 0x00000003u
#define RESOURCEDISPLAYTYPE_SHARE 0x00000003u
#define RESOURCEUSAGE_CONNECTABLE 0x00000001u

#define CONNECT_UPDATE_PROFILE 0x00000001u

#define CONNDLG_RO_PATH 0x00000001u
#define CONNDLG_CONN_POINT 0x00000002u
#define CONNDLG_USE_MRU 0x00000004u
#define CONNDLG_HIDE_BOX 0x00000008u
#define CONNDLG_PERSIST 0x00000010u
#define CONNDLG_NOT_PERSIST 0x00000020u

#define ERROR_BAD_NETPATH 53L
#define ERROR_BAD_NET_NAME 67L
#define ERROR_ALREADY_ASSIGNED 85L
#define ERROR_NOT_CONNECTED 2250L
#define ERROR_OPEN_FILES 2401L

struct NETRESOURCEW {
  DWORD dwScope;
  DWORD dwType;
  DWORD dwDisplayType;
  DWORD dwUsage;
  LPWSTR lpLocalName;
  LPWSTR lpRemoteName;
  LPWSTR lpComment;
  LPWSTR lpProvider;
};
typedef NETRESOURCEW* LPNETRESOURCEW;
typedef NETRESOURCEW NETRESOURCE;

struct CONNECTDLGSTRUCTW {
  DWORD cbStructure;
  HWND hwndOwner;
  LPNETRESOURCEW lpConnRes;
  DWORD dwFlags;
  DWORD dwDevNum;
};
typedef CONNECTDLGSTRUCTW* LPCONNECTDLGSTRUCTW;
typedef CONNECTDLGSTRUCTW CONNECTDLGSTRUCT;

// The platform's connect dialog (quilmo_ui; template ce::kConnectDialogId, modal to
// hwndOwner): the person names a share the network offers (its name or its
// UNC name) and taps OK. Returns NO_ERROR when connected, with the record
// filled: lpConnRes->lpRemoteName and lpLocalName point at the UNC name and
// the folder name ("\Network\NAME"), valid until this thread's next call,
// and dwDevNum the number of shares now connected; 0xFFFFFFFF when the
// person cancelled; ERROR_BAD_NET_NAME for a name the network does not
// offer; ERROR_ALREADY_ASSIGNED when it is connected already;
// ERROR_INVALID_PARAMETER for a null record or a wrong cbStructure.
DWORD WNetConnectionDialog1W(LPCONNECTDLGSTRUCTW dialog);
// Disconnects the share named by its folder name ("NAME" or
// "\Network\NAME") or its UNC name. With CONNECT_UPDATE_PROFILE its
// connection record's values are removed from the registry (the key
// itself stays for the caller to delete). Open files below it fail the
// call with ERROR_OPEN_FILES unless force is set. ERROR_NOT_CONNECTED for
// a share that is not connected.
DWORD WNetCancelConnection2W(LPCWSTR name, DWORD flags, BOOL force);

#define WNetConnectionDialog1 WNetConnectionDialog1W
#define WNetCancelConnection2 WNetCancelConnection2W

namespace ce {

inline constexpr int kConnectDialogId = 1540;  // template id of the connect dialog
inline constexpr int kConnectNameEdit = 1152;  // its edit: the share to connect
inline constexpr int kConnectShareList = 1120;  // its list of shares not yet connected
inline constexpr const char16_t* kNetworkFolder = u"\\Network";
inline constexpr const char16_t* kConnectionsKey = u"Comm\\Redir\\Connections";

}  // namespace ce
