// The far end of one line when several lines run at once: the test says,
// before each request, which bytes the driver is to send and what answers
// them. A thread of its own reads exactly those bytes, answers, and keeps a
// readable fault for bytes that differ, are missing, or come unasked, so a
// failure names the line, the request and the byte.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial_peer.h"

class ExpectingPeer {
  public:
    // `name` heads every fault, such as "instance 7 (pts/12)".
    ExpectingPeer(SerialPeer& peer, std::string name);
    ~ExpectingPeer();
    ExpectingPeer(const ExpectingPeer&) = delete;
    ExpectingPeer& operator=(const ExpectingPeer&) = delete;

    // The next transmission and its answer; `what` names the request in a
    // fault ("request 12 SEND_STR").
    void Expect(std::string transmission, std::string reply, std::string what);
    // Waits until every expected transmission came or failed, at most
    // limitMs; false when some are still outstanding.
    bool Settle(int limitMs);
    // Ends the thread; what came unasked by then is a fault.
    void Stop();

    std::vector<std::string> Faults() const;
    uint64_t FaultCount() const { return faultCount_; }
    uint64_t Answered() const { return answered_; }

  private:
    struct Expected {
        std::string transmission;
        std::string reply;
        std::string what;
    };
    void Run();
    void Check(const Expected& expected, std::string got);
    void Fault(const std::string& text);

    SerialPeer& peer_;
    std::string name_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Expected> queue_;
    bool busy_ = false;
    std::vector<std::string> faults_;
    std::atomic<uint64_t> faultCount_{0};
    std::atomic<uint64_t> answered_{0};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
