// What the far end does alike on every platform, built on Receive.
#include "serial_peer.h"

#include <algorithm>

std::string SerialPeer::ReceiveUntilQuiet(int quietMs, int maxMs) {
    std::string received;
    const auto end = PeerClock::now() + std::chrono::milliseconds(maxMs);
    while (MsUntil(end) > 0) {
        std::string more = Receive(SIZE_MAX, std::min(quietMs, MsUntil(end)));
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
