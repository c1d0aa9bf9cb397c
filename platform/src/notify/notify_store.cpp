// The platform's notification store: none registered yet (the notification
// calls come with their own store; they replace EmptyStore here).
#include "notify/notify_store.h"

#include "ce/errors.h"
#include "ce/notify.h"

namespace ce::notify {
namespace {

class EmptyStore : public NotificationStore {
 public:
  std::optional<int64_t> NextDueMs(Device*) override { return std::nullopt; }
  void FireDue(Device*, int64_t, NotificationKernelPort&) override {}
  std::vector<DWORD> FireEvent(Device*, DWORD, NotificationKernelPort&) override { return {}; }
  void AfterBoot(Device*, NotificationKernelPort&) override {}
};

}  // namespace

NotificationStore& PlatformNotificationStore() {
  static EmptyStore* store = new EmptyStore;
  return *store;
}

}  // namespace ce::notify

// Registers nothing until the notification calls exist.
BOOL CeRunAppAtEvent(WCHAR*, LONG) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}
