// Names and texts of the product's setup library (data only).
#pragma once

#include "ce/types.h"

namespace SetupNames {

inline constexpr const WCHAR* kPocketPcPlatform = u"PocketPC";
inline constexpr const WCHAR* kCaption = u"Quilmo Backup Install";
inline constexpr const WCHAR* kNotPocketPcText =
    u"This program is intended for Pocket PCs.  Installation cannot continue.";
inline constexpr const WCHAR* kConfigProblemFormat =
    u"There was a problem configuring Quilmo Backup, defaults will be used. Error: %s";
inline constexpr const WCHAR* kReplaceFailedText = u"Failed to replace resources. Please re-install";
inline constexpr const WCHAR* kNoWindowsFolderText = u"Unable to find the Windows folder";
inline constexpr const WCHAR* kCouldNotStartCaption = u"Couldnt start app: ";

inline constexpr const WCHAR* kMainProgramName = u"Quilmo Backup.exe";
inline constexpr const WCHAR* kReportFileExistsValue = u"bReportFileExists";

// The resolution detector in the install folder and the libraries it
// chooses between, in the Windows folder.
inline constexpr const WCHAR* kDetectorProgram = u"\\Brenwick.exe";
inline constexpr const WCHAR* kQvgaLibrary = u"\\QuilmoResQVGA.dll";
inline constexpr const WCHAR* kVgaLibrary = u"\\QuilmoResVGA.dll";
inline constexpr const WCHAR* kResourceLibrary = u"\\QuilmoRes.dll";

// What the removal deletes from the Windows folder.
inline constexpr const WCHAR* kStarterName = u"QuilmoStart.exe";
inline constexpr const WCHAR* kResourceLibraryName = u"QuilmoRes.dll";

// The battery program's quit message and Startup shortcut; the wait that
// gives it time to go.
inline constexpr const WCHAR* kMerrowQuitMessage = u"QuilmoMerrowQuit";
inline constexpr const WCHAR* kMerrowShortcut = u"\\Merrow.lnk";
inline constexpr DWORD kMerrowQuitWaitMs = 5000;

// Notifications whose application path holds one of these (exact case)
// belong to the product and go at removal.
inline constexpr const WCHAR* kProductNotificationPrograms[] = {u"QuilmoStart.exe", u"QuilmoWakeUpService.exe"};

}  // namespace SetupNames
