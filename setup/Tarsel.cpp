// Tarsel.dll: the second setup library, named by a device maker's package.
// Each hook chains to two setup libraries, loaded by path at the moment of
// the call and freed again at once: first the product's
// "\Windows\QuilmoCESetup.dll" under its "Quilmo_" names, then the maker's
// "\Tools\CeSetup.dll" under the plain names (install hooks only, their
// results not used). A library or entry that is missing is skipped.
#include "ce/module.h"
#include "ce/shell.h"
#include "ce/system.h"
#include "setup/SetupHooks.h"

namespace {

namespace hooks = SetupHooks;

constexpr const WCHAR* kProductSetup = u"\\Windows\\QuilmoCESetup.dll";
constexpr const WCHAR* kMakerSetup = u"\\Tools\\CeSetup.dll";

HINSTANCE g_module = nullptr;

// A loaded library, freed when it goes.
class Library {
 public:
  explicit Library(LPCWSTR path) : module_(LoadLibraryW(path)) {}
  ~Library() {
    if (module_) FreeLibrary(module_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  bool Loaded() const { return module_ != nullptr; }
  template <class Fn>
  Fn Entry(const char* name) const {
    return module_ ? reinterpret_cast<Fn>(GetProcAddress(module_, name)) : nullptr;
  }

 private:
  HMODULE module_;
};

void DebugNotLoaded(LPCWSTR path) {
  std::u16string line = u"Tarsel: could not load ";
  line += path;
  OutputDebugStringW(line.c_str());
}

void DebugProgramFiles() {
  WCHAR folder[MAX_PATH] = {};
  std::u16string line = u"Tarsel: program files folder ";
  if (SHGetSpecialFolderPath(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE)) line += folder;
  OutputDebugStringW(line.c_str());
}

}  // namespace

#define SETUP_EXPORT extern "C" __attribute__((visibility("default")))

SETUP_EXPORT BOOL DllMain(HANDLE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module = static_cast<HINSTANCE>(module);
  return TRUE;
}

SETUP_EXPORT int Install_Init(HWND parent, BOOL firstCall, BOOL previouslyInstalled, LPCWSTR installFolder) {
  {
    Library product(kProductSetup);
    if (!product.Loaded()) DebugNotLoaded(kProductSetup);
    if (auto init = product.Entry<hooks::InstallInitFn>(hooks::kQuilmoInstallInit)) {
      if (init(parent, firstCall, previouslyInstalled, installFolder) != hooks::kInstallInitContinue)
        return hooks::kInstallInitCancel;
    }
  }
  Library maker(kMakerSetup);
  if (!maker.Loaded()) {
    DebugNotLoaded(kMakerSetup);
    return hooks::kInstallInitContinue;
  }
  if (auto init = maker.Entry<hooks::InstallInitFn>(hooks::kInstallInit))
    (void)init(parent, firstCall, previouslyInstalled, installFolder);  // the maker's answer is not asked for
  return hooks::kInstallInitContinue;
}

SETUP_EXPORT int Install_Exit(HWND parent, LPCWSTR installFolder, WORD failedDirs, WORD failedFiles,
                              WORD failedRegKeys, WORD failedRegValues, WORD failedShortcuts) {
  {
    Library product(kProductSetup);
    if (auto exit = product.Entry<hooks::InstallExitFn>(hooks::kQuilmoInstallExit)) {
      const int result =
          exit(parent, installFolder, failedDirs, failedFiles, failedRegKeys, failedRegValues, failedShortcuts);
      if (result != hooks::kInstallExitDone || failedDirs || failedFiles || failedRegKeys || failedRegValues ||
          failedShortcuts)
        return hooks::kInstallExitUninstall;
    }
  }
  DebugProgramFiles();
  Library maker(kMakerSetup);
  if (!maker.Loaded()) return hooks::kInstallExitDone;
  if (auto exit = maker.Entry<hooks::InstallExitFn>(hooks::kInstallExit))
    (void)exit(parent, installFolder, failedDirs, failedFiles, failedRegKeys, failedRegValues,
               failedShortcuts);  // the maker's answer is not asked for
  return hooks::kInstallExitDone;
}

SETUP_EXPORT int Uninstall_Init(HWND parent, LPCWSTR installFolder) {
  Library product(kProductSetup);
  if (!product.Loaded()) return hooks::kUninstallInitContinue;
  if (auto init = product.Entry<hooks::UninstallInitFn>(hooks::kQuilmoUninstallInit)) {
    if (init(parent, installFolder) != hooks::kUninstallInitContinue) return hooks::kUninstallInitCancel;
  }
  return hooks::kUninstallInitContinue;
}

SETUP_EXPORT int Uninstall_Exit(HWND parent) {
  Library product(kProductSetup);
  if (!product.Loaded()) return hooks::kUninstallExitDone;
  if (auto exit = product.Entry<hooks::UninstallExitFn>(hooks::kQuilmoUninstallExit))
    (void)exit(parent);  // the final step's answer is not asked for
  return hooks::kUninstallExitDone;
}
