// The far end both benchmarks put on a pseudo-terminal's master: a switcher
// that answers each message, closed by its two CRs, as soon as it has come
// in, until `stopping` is set.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <string>

inline void AnswerAtOnce(int master, const std::atomic<bool>& stopping, const std::string& reply) {
    std::string pending;
    char buffer[256];
    while (!stopping) {
        pollfd waiting{master, POLLIN, 0};
        if (poll(&waiting, 1, 20) <= 0) {
            continue;
        }
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) {
            continue;
        }
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end = pending.find("\r\r"); end != std::string::npos; end = pending.find("\r\r")) {
            pending.erase(0, end + 2);
            if (write(master, reply.data(), reply.size()) < 0) {
                return;
            }
        }
    }
}
