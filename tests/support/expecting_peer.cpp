#include "expecting_peer.h"

#include <chrono>
#include <cstdio>

#include "visible.h"

namespace {

// A transmission that has not fully come by then is reported as missing:
// generous, as the machine may be busy.
constexpr int kTransmissionLimitMs = 5000;
constexpr int kIdlePollMs = 20;
// Only the first faults are kept whole; the rest are counted.
constexpr size_t kKeptFaults = 20;

std::string ByteText(unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

}  // namespace

ExpectingPeer::ExpectingPeer(SerialPeer& peer, std::string name)
    : peer_(peer), name_(std::move(name)), thread_([this] { Run(); }) {}

ExpectingPeer::~ExpectingPeer() {
    Stop();
}

void ExpectingPeer::Expect(std::string transmission, std::string reply, std::string what) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(Expected{std::move(transmission), std::move(reply), std::move(what)});
    changed_.notify_all();
}

bool ExpectingPeer::Settle(int limitMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(limitMs), [this] { return queue_.empty() && !busy_; });
}

void ExpectingPeer::Stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        changed_.notify_all();
        thread_.join();
    }
}

std::vector<std::string> ExpectingPeer::Faults() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> faults = faults_;
    if (faultCount_ > faults.size()) {
        faults.push_back(name_ + ": " + std::to_string(faultCount_ - faults.size()) + " faults more");
    }
    return faults;
}

void ExpectingPeer::Fault(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (faults_.size() < kKeptFaults) {
        faults_.push_back(text);
    }
    ++faultCount_;
}

void ExpectingPeer::Check(const Expected& expected, std::string got) {
    const std::string& wanted = expected.transmission;
    if (got.size() < wanted.size()) {
        got += peer_.Receive(wanted.size() - got.size(), kTransmissionLimitMs);
    }
    size_t at = 0;
    while (at < got.size() && got[at] == wanted[at]) {
        ++at;
    }
    if (at == wanted.size()) {
        if (!expected.reply.empty()) {
            peer_.Send(expected.reply);
        }
        ++answered_;
        return;
    }
    // The rest of a crossed transmission would only shift every later one.
    got += peer_.ReceiveUntilQuiet(20, 200);
    std::string where = at < got.size()
                            ? "byte " + std::to_string(at) + " is " + ByteText(static_cast<unsigned char>(got[at])) +
                                  ", not " + ByteText(static_cast<unsigned char>(wanted[at]))
                            : "only " + std::to_string(got.size()) + " of " + std::to_string(wanted.size()) +
                                  " bytes came within " + std::to_string(kTransmissionLimitMs) + " ms";
    Fault(expected.what + " [" + name_ + "]: " + where + "; expected \"" + qeltools::Visible(wanted) +
          "\", the line carried \"" + qeltools::Visible(got) + "\"");
}

void ExpectingPeer::Run() {
    std::string early;
    for (;;) {
        Expected next;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (stopping_ && !queue_.empty()) {
                // Stopped with transmissions outstanding: they are not
                // waited for one by one.
                const std::string first = queue_.front().what;
                const size_t count = queue_.size();
                queue_.clear();
                lock.unlock();
                Fault(first + " [" + name_ + "]: never came, nor " + std::to_string(count - 1) +
                      " transmissions after it");
                continue;
            }
            if (queue_.empty() && !early.empty()) {
                // Bytes came while nothing was asked: they belong to no
                // request of this line.
                lock.unlock();
                Fault(name_ + " between requests: the line carried \"" +
                      qeltools::Visible(early + peer_.ReceiveUntilQuiet(20, 200)) + "\", asked for nothing");
                early.clear();
                continue;
            }
            if (queue_.empty()) {
                busy_ = false;
                changed_.notify_all();
                lock.unlock();
                if (stopping_) {
                    return;
                }
                // The test queues a transmission before the request that
                // makes it, so a byte read here is judged against the queue
                // as it stands after the read.
                early = peer_.Receive(1, kIdlePollMs);
                continue;
            }
            next = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
        }
        Check(next, std::move(early));
        early.clear();
    }
}
