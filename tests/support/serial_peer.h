// The far end of a serial line for tests: what a switcher or any other device
// would be to the driver. Natively it is the master of a fresh
// pseudo-terminal and the driver opens the slave; under Wine it is the COM
// port that scripts/wine-serial joined to the driver's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#if !defined(_WIN32)
#include <termios.h>
#endif

#include "os/deadline.h"

// The driver end's line settings as the system reports them.
struct PeerLineView {
    uint32_t baudRate;
    int dataBits;
    int stopBits;  // the Windows code: 0 one, 1 one and a half, 2 two
    int parity;    // the Windows code: 0 none, 1 odd, 2 even, 3 mark, 4 space
};

class SerialPeer {
  public:
    SerialPeer() = default;
    ~SerialPeer();
    SerialPeer(const SerialPeer&) = delete;
    SerialPeer& operator=(const SerialPeer&) = delete;

    // Opens the line (0 the first, 1 the second, 2 one whose COM port is
    // numbered above 9 under Wine). False when there is none here, such as
    // under Wine without scripts/wine-serial: skip the test.
    bool Open(int line = 0);
    // The name the driver opens, fit for PortConfig.portName: "pts/N"
    // natively, the COM port under Wine.
    const char* DriverPortName() const { return driverPortName_.c_str(); }

    // Writes every byte (gives up after a line that takes nothing for 2 s).
    void Send(const std::string& bytes);
    // Reads until count bytes have come or timeoutMs have passed.
    std::string Receive(size_t count, int timeoutMs);
    // Reads until nothing has come for quietMs, or maxMs have passed.
    std::string ReceiveUntilQuiet(int quietMs, int maxMs);
    // Throws away whatever the driver sent that was not read yet.
    void Drain();

    // Ends the line as an unplugged device would: natively the master is
    // closed, and the driver's reads and writes then fail.
    bool CanHangUp() const;
    void HangUp();

    // The driver end's settings: natively its terminal settings, under Wine
    // GetCommState through a fresh open. False when they cannot be read.
    // A pseudo-terminal keeps the rate, the stop bits and the parity sense
    // (PARODD, CMSPAR) but always reports 8 data bits and no parity enable.
    bool ReadDriverLine(PeerLineView* view) const;
#if !defined(_WIN32)
    // The driver end's terminal settings, read on the slave.
    bool SlaveTermios(termios* settings) const;
    // Locks these control bits of the driver end (0 unlocks): later changes
    // of them succeed but are dropped, as by a device that cannot take a
    // setting. False without the right to lock (CAP_SYS_ADMIN).
    bool LockDriverControl(tcflag_t bits);
#endif

  private:
    std::string driverPortName_;
#if defined(_WIN32)
    void* handle_ = nullptr;
#else
    int master_ = -1;
    int slave_ = -1;
#endif
};
