// The installer's setup hooks: what a setup library exports and the result
// codes its hooks return (data and signatures only).
//
//   Install_Init   (parent window, first call, previously installed, install folder)
//   Install_Exit   (parent window, install folder, failed folders, failed files,
//                   failed registry keys, failed registry values, failed shortcuts)
//   Uninstall_Init (parent window, install folder)
//   Uninstall_Exit (parent window)
#pragma once

#include "ce/types.h"

namespace SetupHooks {

enum InstallInitResult { kInstallInitContinue = 0, kInstallInitCancel = 1 };
enum InstallExitResult { kInstallExitDone = 0, kInstallExitUninstall = 1 };
enum UninstallInitResult { kUninstallInitContinue = 0, kUninstallInitCancel = 1 };
enum UninstallExitResult { kUninstallExitDone = 0 };

typedef int (*InstallInitFn)(HWND parent, BOOL firstCall, BOOL previouslyInstalled, LPCWSTR installFolder);
typedef int (*InstallExitFn)(HWND parent, LPCWSTR installFolder, WORD failedDirs, WORD failedFiles,
                             WORD failedRegKeys, WORD failedRegValues, WORD failedShortcuts);
typedef int (*UninstallInitFn)(HWND parent, LPCWSTR installFolder);
typedef int (*UninstallExitFn)(HWND parent);

// The plain hook names every setup library exports.
inline constexpr const char* kInstallInit = "Install_Init";
inline constexpr const char* kInstallExit = "Install_Exit";
inline constexpr const char* kUninstallInit = "Uninstall_Init";
inline constexpr const char* kUninstallExit = "Uninstall_Exit";

// The names under which the product's setup library also exports its
// hooks for a second setup library that chains to it.
inline constexpr const char* kQuilmoInstallInit = "Quilmo_Install_Init";
inline constexpr const char* kQuilmoInstallExit = "Quilmo_Install_Exit";
inline constexpr const char* kQuilmoUninstallInit = "Quilmo_Uninstall_Init";
inline constexpr const char* kQuilmoUninstallExit = "Quilmo_Uninstall_Exit";

}  // namespace SetupHooks
