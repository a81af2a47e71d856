#pragma once
// Delivery of the listener's notifications to the window objects.
//
// The listener thread never touches a Qt object: it queues the notification
// (under our own lock) and wakes the application's thread through a wake
// channel; there a relay object posts a SerialNotifyEvent to the window.  So
// no object crosses threads behind the back of the thread checker, and the
// listener never waits for the window.

#include <QObject>
#include <cstdint>

class CSerialWnd;

namespace torvane::scalelink::notify {

// Queues one notification from `source` for `window`.  Dropped when there is
// no application object (nothing could deliver it).
void post(const CSerialWnd *source, QObject *window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Drops what `source` queued and has not been delivered yet (its port is
// being closed: the window may go away after that).
void discard(const CSerialWnd *source);

} // namespace torvane::scalelink::notify
