#include "app/MetaDataQuestions.h"

#include "ce/msgbox.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "engine/ImagingTask.h"
#include "engine/Operation.h"

namespace {

constexpr DWORD kStrNewerProgram = 144;
constexpr DWORD kStrAskUpgradeMode = 57767;
constexpr DWORD kStrDifferentSystem = 65016;
constexpr DWORD kStrNewerProgramQuestion = 65314;

constexpr UINT kStopBox = MB_OK | MB_ICONERROR;            // 16
constexpr UINT kStopQuestion = MB_YESNO | MB_ICONERROR;    // 20
constexpr UINT kWarnQuestion = MB_YESNO | MB_ICONWARNING;  // 52

constexpr DWORD kDiffSystem = kDiffMinorVersion | kDiffMajorVersion | kDiffDeviceInfo;  // 0x16
constexpr DWORD kDiffNewerProgram = kDiffAppMidHigher | kDiffAppMajorHigher;             // 0x60
constexpr DWORD kDiffProgramVersion = kDiffAppMajorHigher | kDiffAppMidLower;            // 0xC0

bool AcceptAnotherSystem(OperationDescriptor& op, LPCWSTR logClass) {
  Log(0, u"Meta Data Different OS", logClass, __LINE__);
  if (op.upgradeMode) {
    Log(0, u"upgrade mode set", logClass, __LINE__);
  } else {
    Log(0, u"upgrade mode not set", logClass, __LINE__);
    if (Localizer::ResMessageBox(kStrDifferentSystem, kWarnQuestion) != IDYES) return false;
  }
  if (GetAllowUpgradeMode() && Localizer::ResMessageBox(kStrAskUpgradeMode, kWarnQuestion) == IDYES) {
    op.upgradeMode = 1;
    Log(0, u"upgrade mode set to true", logClass, __LINE__);
  }
  return true;
}

}  // namespace

bool AcceptMetaDataDifference(DWORD difference, OperationDescriptor& op, LPCWSTR logClass) {
  if (difference == 0) {
    Log(0, u"Metadata checked out ok", logClass, __LINE__);
    return true;
  }
  Log(0, u"Meta Data Different", logClass, __LINE__);
  if (difference & kDiffSystem) return AcceptAnotherSystem(op, logClass);
  if (difference & kDiffNewerProgram) return Localizer::FormattedResMessageBox(kStrNewerProgramQuestion, kStopQuestion) == IDYES;
  if (difference & kDiffProgramVersion) {
    Localizer::FormattedResMessageBox(kStrNewerProgram, kStopBox);
    return false;
  }
  return true;  // the build number alone
}
