// GoogleTest's Notification on a Windows event (notification.h says why). The
// event is manual-reset, so that a Notify that comes before the wait is not
// lost.
#include "notification.h"

#include <windows.h>

namespace testing::internal {

Notification::Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

Notification::~Notification()
{
    if (event_) {
        CloseHandle(event_);
    }
}

void Notification::Notify() { SetEvent(event_); }

void Notification::WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

}  // namespace testing::internal
