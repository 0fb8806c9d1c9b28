// What the far end does alike on every platform, built on Receive.
#include "serial_peer.h"

#include <algorithm>

std::string SerialPeer::ReceiveUntilQuiet(int quietMs, int maxMs) {
    std::string received;
    const Deadline end = DeadlineIn(maxMs);
    while (RemainingMs(end) > 0) {
        std::string more = Receive(SIZE_MAX, std::min(quietMs, RemainingMs(end)));
        if (more.empty()) {
            break;
        }
        received += more;
    }
    return received;
}

void SerialPeer::Drain() {
    ReceiveUntilQuiet(20, 1000);
}
