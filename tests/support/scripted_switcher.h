// A switcher that answers from a script, on the far end of a serial line. A
// thread of its own reads each transmission the driver makes and answers it
// with the next reply of the script, recording every transmission in order.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host_fixture.h"
#include "serial_peer.h"
#include "visible.h"

class ScriptedSwitcher {
  public:
    // The n-th transmission gets replies[n]; an empty reply, and every
    // transmission past the script, get silence. With echo the line first
    // sends back every transmission as it came, as some switcher lines do.
    ScriptedSwitcher(SerialPeer& peer, std::vector<std::string> replies, bool echo = false);
    ~ScriptedSwitcher();
    ScriptedSwitcher(const ScriptedSwitcher&) = delete;
    ScriptedSwitcher& operator=(const ScriptedSwitcher&) = delete;

    // Takes in what is still on the line and ends the thread. Call it once
    // the driver has returned and before reading the record.
    void Stop();

    std::vector<std::string> Transmissions() const;

  private:
    void Run();
    void Answer(const std::string& transmission);
    void Record(const std::string& transmission);
    void SplitAndRecord(std::string pending);

    SerialPeer& peer_;
    std::vector<std::string> replies_;
    bool echo_;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> transmissions_;
    std::thread thread_;
};

// A transmission as a test reads it, shown as the tools show it.
using qeltools::Visible;

// The driver's port opened on a fresh line, a switcher to answer it, and a
// trace of what the driver did in its own order: "send" for each echo into
// "OUTGOING", "read" for each into "INCOMING", and each wait in ms. Waits
// return at once. A missing line fails the test.
class SwitcherTest : public HostTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    void Answer(std::vector<std::string> replies, bool echo = false);
    // Stops the switcher; every transmission in order, made visible.
    std::vector<std::string> Wire();
    std::string Trace() const;
    const std::vector<uint32_t>& Waits() const;

    SerialPeer peer;
    std::unique_ptr<ScriptedSwitcher> switcher;
};

// The port's read time-out in the tests, in units of 10 ms: short, so that
// silent replies cost little, and long enough for a reply to cross the line.
#if defined(_WIN32)
constexpr int32_t kTestReadTimeoutUnits = 20;
#else
constexpr int32_t kTestReadTimeoutUnits = 10;
#endif
