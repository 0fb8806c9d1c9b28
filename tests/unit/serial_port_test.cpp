// The serial port layer against a real line: natively a pseudo-terminal,
// under Wine a COM port joined to the peer's. The bytes and settings at the
// far end are the assertions.
#include "os/serial_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "link/port.h"
#include "os/serial_platform.h"
#include "serial_peer.h"
#include "trace_variable.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr LineSettings kDefaultLine = {9600, 8, 0, 0};

int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::string Bytes(size_t count, char first = 'a') {
    std::string bytes(count, ' ');
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<char>(first + i % 26);
    }
    return bytes;
}

class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!peer.Open()) {
            FAIL() << "no serial line here (under Wine: source scripts/wine-serial)";
        }
    }
    void TearDown() override {
        if (handle != kNoPort) {
            CloseSerialPort(handle);
        }
    }
    int32_t OpenDriverEnd(const LineSettings& line = kDefaultLine) {
        return OpenSerialPort(peer.DriverPortName(), line, kLineControlDtrRts, &handle);
    }
    // Sends to the driver end and gives the line time to deliver.
    void SendAndSettle(const std::string& bytes) {
        peer.Send(bytes);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::string ReadAll(uint32_t count) {
        std::string buffer(count, '\0');
        int32_t received = 0;
        ReadBytes(handle, buffer.data(), count, &received);
        return buffer.substr(0, static_cast<size_t>(received));
    }

    SerialPeer peer;
    PortHandle handle = kNoPort;
};

struct LineCase {
    LineSettings line;
    uint32_t baudRate;
    int stopBits;
    bool oddOrMark;
};

TEST_F(SerialPortTest, LineSettingsReachTheTerminal) {
    // A pseudo-terminal always reports 8 data bits and no parity enable,
    // whatever was set; the rate, the stop bits and the parity sense stay.
    const LineCase cases[] = {
        {{9600, 8, 0, 0}, 9600, 0, false},   {{9600, 8, 2, 1}, 9600, 2, true},
        {{19200, 8, 0, 2}, 19200, 0, false}, {{1200, 7, 2, 0}, 1200, 2, false},
        {{57600, 8, 0, 3}, 57600, 0, true},  {{300, 0x0108, 0x0100, 0x0100}, 300, 0, false},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.baudRate);
        ASSERT_EQ(OpenDriverEnd(c.line), kSerialOk);
        PeerLineView view{};
        if (!peer.ReadDriverLine(&view)) {
            GTEST_SKIP() << "the driver end's settings cannot be read back here";
        }
        EXPECT_EQ(view.baudRate, c.baudRate);
        EXPECT_EQ(view.stopBits, c.stopBits);
#if !defined(_WIN32)
        termios settings{};
        ASSERT_TRUE(peer.SlaveTermios(&settings));
        EXPECT_EQ((settings.c_cflag & PARODD) != 0, c.oddOrMark);
        EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ(settings.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF | ISTRIP), 0u);
        EXPECT_EQ(settings.c_oflag & OPOST, 0u);
        EXPECT_EQ(settings.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
        EXPECT_EQ(settings.c_cflag & CRTSCTS, 0u);
#endif
        EXPECT_EQ(CloseSerialPort(handle), kSerialOk);
        handle = kNoPort;
    }
}

#if !defined(_WIN32)
TEST_F(SerialPortTest, SettingsTermiosCannotCarryAreRefusedAndLeaveThePortFree) {
    const LineSettings refused[] = {
        {1234, 8, 0, 0}, {0, 8, 0, 0},    {65535, 8, 0, 0}, {9600, 4, 0, 0},
        {9600, 9, 0, 0}, {9600, 8, 1, 0}, {9600, 8, 3, 0},  {9600, 8, 0, 5},
    };
    for (const LineSettings& line : refused) {
        SCOPED_TRACE(testing::Message() << line.baudRate << "/" << line.dataBits << "/" << line.stopBits << "/"
                                        << line.parity);
        EXPECT_EQ(OpenDriverEnd(line), kSerialSetStateFailed);
        EXPECT_EQ(handle, kNoPort);
    }
    const uint16_t refusedControl[] = {0x8000, 0x2000};  // DTR handshake, RTS toggle
    for (uint16_t control : refusedControl) {
        EXPECT_EQ(OpenSerialPort(peer.DriverPortName(), kDefaultLine, control, &handle), kSerialSetStateFailed);
    }
    ASSERT_EQ(OpenDriverEnd(), kSerialOk);
}

// A device takes what it can and tcsetattr still succeeds: settings it
// dropped fail the open as settings it refused do.
TEST_F(SerialPortTest, SettingsTheDeviceDropsFailTheOpenAndLeaveThePortFree) {
    const struct {
        const char* dropped;
        tcflag_t locked;
        LineSettings line;
    } cases[] = {
        {"speed", CBAUD, {19200, 8, 0, 0}},
        {"two stop bits", CSTOPB, {9600, 8, 2, 0}},
        {"mark parity", CMSPAR, {9600, 8, 0, 3}},
        {"odd parity", PARODD, {9600, 8, 0, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dropped);
        // Each line differs from the default one in the locked setting only.
        ASSERT_EQ(OpenDriverEnd(kDefaultLine), kSerialOk);
        EXPECT_EQ(CloseSerialPort(handle), kSerialOk);
        handle = kNoPort;
        if (!peer.LockDriverControl(c.locked)) {
            GTEST_SKIP() << "no right to lock a terminal's settings here";
        }
        EXPECT_EQ(OpenDriverEnd(c.line), kSerialSetStateFailed);
        EXPECT_EQ(handle, kNoPort);
        ASSERT_TRUE(peer.LockDriverControl(0));
        ASSERT_EQ(OpenDriverEnd(c.line), kSerialOk);
        EXPECT_EQ(CloseSerialPort(handle), kSerialOk);
        handle = kNoPort;
    }
}

TEST_F(SerialPortTest, APortIsHeldByOneHandleAtATime) {
    ASSERT_EQ(OpenDriverEnd(), kSerialOk);
    PortHandle second = kNoPort;
    EXPECT_EQ(OpenSerialPort(peer.DriverPortName(), kDefaultLine, kLineControlDtrRts, &second), kSerialOpenFailed);
    EXPECT_EQ(second, kNoPort);
    ASSERT_EQ(CloseSerialPort(handle), kSerialOk);
    handle = kNoPort;
    ASSERT_EQ(OpenSerialPort(peer.DriverPortName(), kDefaultLine, kLineControlDtrRts, &second), kSerialOk);
    EXPECT_EQ(CloseSerialPort(second), kSerialOk);
}
// Under Wine the share mode of a serial device is not enforced, so the
// exclusive open is checked natively only.
#endif

TEST_F(SerialPortTest, BytesCrossTheLineUnchangedBothWays) {
    ASSERT_EQ(OpenDriverEnd(), kSerialOk);
    const std::string awkward("\x00\r\n\x11\x13\x03\x1a\x7f\xff\xfc*A\r", 13);
    uint32_t written = 0;
    ASSERT_EQ(WriteBytes(handle, awkward.data(), static_cast<uint32_t>(awkward.size()), &written), kSerialOk);
    EXPECT_EQ(written, awkward.size());
    EXPECT_EQ(peer.Receive(awkward.size(), 2000), awkward);

    SetReadTimeout(handle, 100);
    peer.Send(awkward);
    EXPECT_EQ(ReadAll(static_cast<uint32_t>(awkward.size())), awkward);
}

TEST_F(SerialPortTest, ReadReturnsOnceTheAskedCountHasArrived) {
    ASSERT_EQ(OpenDriverEnd(), kSerialOk);
    SetReadTimeout(handle, 500);  // 5 s: only a read that waits it out comes near
    std::thread sender([this] {
        peer.Send("*0");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        peer.Send("1\r\n");
    });
    const auto start = Clock::now();
    EXPECT_EQ(ReadAll(5), "*01\r\n");
    EXPECT_LT(MsSince(start), 4000);
    sender.join();
}

TEST_F(SerialPortTest, ReadDeliversWhatCameWhenTheTimeOutRunsOut) {
    ASSERT_EQ(OpenDriverEnd(), kSerialOk);
    SetReadTimeout(handle, 20);
    peer.Send("*01\r\n");
    char buffer[100];
    int32_t received = -1;
    const auto start = Clock::now();
    EXPECT_EQ(ReadBytes(handle, buffer, sizeof buffer, &received), kSerialOk);
    EXPECT_GE(MsSince(start), 150);
    ASSERT_EQ(received, 5);
    EXPECT_EQ(std::string(buffer, 5), "*01\r\n");

    received = -1;
    EXPECT_EQ(ReadBytes(handle, buffer, sizeof buffer, &received), kSerialCallFailed);
    EXPECT_EQ(received, 0);
    EXPECT_EQ(ReadBytes(handle, buffer, sizeof buffer, nullptr), kSerialCallFailed);
}

TEST_F(SerialPortTest, ReadWithAZeroTimeOutDoesNotWait) {
    ASSERT_EQ(OpenDriverEnd(), kSerialOk);
    SetReadTimeout(handle, 0);
    char buffer[10];
    const auto start = Clock::now();
    EXPECT_EQ(ReadBytes(handle, buffer, sizeof buffer, nullptr), kSerialCallFailed);
    EXPECT_LT(MsSince(start), 900);
    SendAndSettle("ok");
    EXPECT_EQ(ReadAll(10), "ok");
}

TEST_F(SerialPortTest, ReadTimeOutIsKeptInUnitsOfTenMilliseconds) {
    ASSERT_EQ(OpenDriverEnd(), kSerialOk);
    EXPECT_EQ(SetReadTimeout(handle, 100), 100);  // 1000 ms after the open
    EXPECT_EQ(SetReadTimeout(handle, 50), 100);
    EXPECT_EQ(SetReadTimeout(handle, 7), 50);
    EXPECT_EQ(SetReadTimeout(handle, 7), 7);
    EXPECT_EQ(SetReadTimeout(kNoPort, 7), 0);
}

struct PurgeCase {
    size_t pending;
    int32_t unitsBefore;
    int32_t unitsAfter;  // what the purge left in force
};

TEST_F(SerialPortTest, PurgeDrainsPendingInputAndRestoresTheTimeOut) {
    ASSERT_EQ(OpenDriverEnd(), kSerialOk);
    const PurgeCase cases[] = {
        {600, 30, 30},              // 512, then 88
        {512, 30, 30},              // a full chunk, then a quiet read: no failure
        {1100, 30, 30}, {0, 0, 0},  // nothing waiting: nothing read, the time-out untouched
        {10, 0, 5},                 // a time-out below 10 ms is not restored; 50 ms stay
    };
    for (const PurgeCase& c : cases) {
        SCOPED_TRACE(c.pending);
        SetReadTimeout(handle, c.unitsBefore);
        SendAndSettle(Bytes(c.pending));
        EXPECT_EQ(PurgeInput(handle), 0);
        EXPECT_EQ(SetReadTimeout(handle, 2), c.unitsAfter);
        char buffer[16];
        EXPECT_EQ(ReadBytes(handle, buffer, sizeof buffer, nullptr), kSerialCallFailed);
    }
}

TEST_F(SerialPortTest, PurgeEndsAgainstALineThatNeverFallsQuiet) {
    ASSERT_EQ(OpenDriverEnd(), kSerialOk);
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    std::thread babbler([&] {
        const std::string chunk = Bytes(4096);
        while (!stop) {
            peer.Send(chunk);
        }
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto start = Clock::now();
    PurgeInput(handle);
    EXPECT_LT(MsSince(start), 30000);
    stop = true;
    SetReadTimeout(handle, 1);
    char sink[4096];
    while (!done) {  // keep the line moving until the babbler sees the stop
        ReadBytes(handle, sink, sizeof sink, nullptr);
    }
    babbler.join();
}

struct PortNameCase {
    const char* name;
    uint32_t number;          // 0: no COM port
    const char* windowsName;  // what the Windows open takes
};

// Windows knows only COM1 to COM9 without the device prefix; POSIX maps the
// number to /dev/ttyS(n-1) with or without it.
TEST(PortNameTest, ComPortsAreNamedInTheDeviceNamespace) {
    const PortNameCase cases[] = {
        {"COM1", 1, "\\\\.\\COM1"},
        {"COM10", 10, "\\\\.\\COM10"},
        {"com11", 11, "\\\\.\\com11"},
        {"cOm256", 256, "\\\\.\\cOm256"},
        {"COM999", 999, "\\\\.\\COM999"},
        {"\\\\.\\COM12", 12, "\\\\.\\COM12"},
        {"\\\\.\\com3", 3, "\\\\.\\com3"},
        {"\\\\.\\pipe\\x", 0, "\\\\.\\pipe\\x"},
        {"NUL", 0, "NUL"},
        {"COM", 0, "COM"},
        {"COM0", 0, "COM0"},
        {"COM01", 0, "COM01"},
        {"COM1000", 0, "COM1000"},
        {"COM1x", 0, "COM1x"},
        {"XCOM1", 0, "XCOM1"},
        {"\\\\.\\COM", 0, "\\\\.\\COM"},
        {"pts/3", 0, "pts/3"},
        {"/dev/ttyUSB0", 0, "/dev/ttyUSB0"},
        {"", 0, ""},
    };
    for (const PortNameCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ComPortNumber(c.name), c.number);
        char formed[32];
        ASSERT_TRUE(WindowsDeviceName(c.name, formed, sizeof formed));
        EXPECT_STREQ(formed, c.windowsName);
    }
    char small[9];  // \\.\COM10 and its NUL take 10
    EXPECT_FALSE(WindowsDeviceName("COM10", small, sizeof small));
    EXPECT_TRUE(WindowsDeviceName("COM1", small, sizeof small));
}

TEST_F(SerialPortTest, NullDeviceTakesOutputAndGivesNoInput) {
    ASSERT_EQ(OpenSerialPort("NUL", LineSettings{1, 99, 9, 9}, 0, &handle), kSerialOk);
    uint32_t written = 0;
    EXPECT_EQ(WriteBytes(handle, "hello", 5, &written), kSerialOk);
    EXPECT_EQ(written, 5u);
    char buffer[8];
    int32_t received = -1;
    const auto start = Clock::now();
    EXPECT_EQ(ReadBytes(handle, buffer, sizeof buffer, &received), kSerialCallFailed);
    EXPECT_EQ(received, 0);
    EXPECT_LT(MsSince(start), 900);
    EXPECT_EQ(PurgeInput(handle), 0);
    PortHandle again = kNoPort;
    EXPECT_EQ(OpenSerialPort("NUL", kDefaultLine, 0, &again), kSerialOk);
    EXPECT_EQ(CloseSerialPort(again), kSerialOk);
}

TEST_F(SerialPortTest, NamesThatAreNoPortFailAtTheirStep) {
    // "NUL" matches in its own letter case only: "nul" goes through the
    // configuration. On Windows it is the null device, whose state cannot
    // be read (4); on POSIX systems it is /dev/nul, which does not exist (1).
#if defined(_WIN32)
    const int32_t lowerCaseNul = kSerialGetStateFailed;
#else
    const int32_t lowerCaseNul = kSerialOpenFailed;
#endif
    EXPECT_EQ(OpenSerialPort("nul", kDefaultLine, kLineControlDtrRts, &handle), lowerCaseNul);
    EXPECT_EQ(handle, kNoPort);

    const char* file = "./qel_not_a_port.tmp";
    std::ofstream(file) << "x";
    for (int attempt = 0; attempt < 2; ++attempt) {  // the failed open left nothing held
        EXPECT_EQ(OpenSerialPort(file, kDefaultLine, kLineControlDtrRts, &handle), kSerialGetStateFailed);
        EXPECT_EQ(handle, kNoPort);
    }
    std::remove(file);
    EXPECT_EQ(OpenSerialPort("no-such-port", kDefaultLine, kLineControlDtrRts, &handle), kSerialOpenFailed);
}

TEST_F(SerialPortTest, AFailedOpenKeepsTheSystemErrorApartFromOpenPorts) {
#if defined(_WIN32)
    constexpr int32_t kNoSuchFile = 2;  // ERROR_FILE_NOT_FOUND
#else
    constexpr int32_t kNoSuchFile = ENOENT;
#endif
    ASSERT_EQ(OpenDriverEnd(), kSerialOk);
    EXPECT_EQ(SerialLastError(handle), 0);
    PortHandle missing = kNoPort;
    SerialError error{};
    ASSERT_EQ(OpenSerialPort("no-such-port", kDefaultLine, kLineControlDtrRts, &missing, &error), kSerialOpenFailed);
    EXPECT_EQ(error.osError, kNoSuchFile);
    EXPECT_EQ(error.cause, SerialOpenCause::kNoSuchPort);
    EXPECT_EQ(SerialLastError(kNoPort), kNoSuchFile);  // the calling thread's own
    EXPECT_EQ(SerialLastError(handle), 0);

    char text[200];
    EXPECT_GT(std::strlen(SerialErrorText(kNoSuchFile, text, sizeof text)), 0u);
#if !defined(_WIN32)
    EXPECT_STREQ(text, std::strerror(ENOENT));
#endif
    char small[6];
    EXPECT_EQ(std::strlen(SerialErrorText(kNoSuchFile, small, sizeof small)), sizeof small - 1);
}

TEST_F(SerialPortTest, ClosingWhatIsNotOpenFails) {
    EXPECT_EQ(CloseSerialPort(kNoPort), kSerialCallFailed);
    ASSERT_EQ(OpenDriverEnd(), kSerialOk);
    const PortHandle closed = handle;
    EXPECT_EQ(CloseSerialPort(handle), kSerialOk);
    handle = kNoPort;
#if !defined(_WIN32)
    // A Windows handle value may be handed out again at once; a closed slot
    // here must not be closed twice.
    EXPECT_EQ(CloseSerialPort(closed), kSerialCallFailed);
#else
    (void)closed;
#endif
}

#if !defined(_WIN32)
TEST_F(SerialPortTest, WriteToALineThatTakesNothingEndsShort) {
    ASSERT_EQ(OpenDriverEnd(), kSerialOk);
    const std::string block(1 << 20, 'x');  // far more than the terminal buffers
    uint32_t written = 0;
    EXPECT_EQ(WriteBytes(handle, block.data(), static_cast<uint32_t>(block.size()), &written), kSerialWriteShort);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, block.size());
}
#endif

TEST_F(SerialPortTest, AHangUpDuringAReadEndsItAndTheCloseStillSucceeds) {
    if (!peer.CanHangUp()) {
        GTEST_SKIP() << "this line cannot be hung up from the test";
    }
    ASSERT_EQ(OpenDriverEnd(), kSerialOk);
    SetReadTimeout(handle, 100);
    std::thread hangUp([this] {
        peer.Send("*0");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        peer.HangUp();
    });
    char buffer[100];
    int32_t received = -1;
    const auto start = Clock::now();
    const int32_t result = ReadBytes(handle, buffer, sizeof buffer, &received);
    hangUp.join();
    EXPECT_LT(MsSince(start), 5000);
    if (result == kSerialOk) {
        EXPECT_EQ(std::string(buffer, static_cast<size_t>(received)), "*0");
    } else {
        EXPECT_EQ(received, 0);
    }

    EXPECT_EQ(ReadBytes(handle, buffer, sizeof buffer, &received), kSerialCallFailed);
    EXPECT_EQ(WriteBytes(handle, "x", 1, nullptr), kSerialCallFailed);
#if !defined(_WIN32)
    // The port keeps why: the terminal reports the lost line as an I/O error.
    EXPECT_EQ(SerialLastError(handle), EIO);
    char text[200];
    EXPECT_STREQ(SerialErrorText(SerialLastError(handle), text, sizeof text), std::strerror(EIO));
#endif
    PurgeInput(handle);
    // Not a silent line: the device is gone, and stays so until the close.
    EXPECT_TRUE(SerialPortLost(handle));
    EXPECT_EQ(CloseSerialPort(handle), kSerialOk);
    EXPECT_FALSE(SerialPortLost(handle));
    handle = kNoPort;
}

// Silence, a time-out, a short read, the null device: none is a lost line.
TEST_F(SerialPortTest, ALineThatOnlyFallsSilentIsNotLost) {
    ASSERT_EQ(OpenDriverEnd(), kSerialOk);
    SetReadTimeout(handle, 5);
    SendAndSettle("*0");
    EXPECT_EQ(PurgeInput(handle), kSerialOk);
    char buffer[10];
    int32_t received = 0;
    EXPECT_EQ(ReadBytes(handle, buffer, sizeof buffer, &received), kSerialCallFailed);
    EXPECT_EQ(WriteBytes(handle, "x", 1, nullptr), kSerialOk);
    EXPECT_FALSE(SerialPortLost(handle));
    EXPECT_FALSE(SerialPortLost(kNoPort));

    PortHandle null = kNoPort;
    ASSERT_EQ(OpenSerialPort(kNullPortName, kDefaultLine, kLineControlDtrRts, &null), kSerialOk);
    EXPECT_EQ(ReadBytes(null, buffer, sizeof buffer, &received), kSerialCallFailed);
    PurgeInput(null);
    EXPECT_EQ(WriteBytes(null, "x", 1, nullptr), kSerialOk);
    EXPECT_FALSE(SerialPortLost(null));
    CloseSerialPort(null);
}

// The Windows errors of ReadFile, WriteFile and ClearCommError that mean the
// device is gone; every build checks the same table.
TEST(DeviceGoneErrorTest, WindowsErrorsOfAGoneDevice) {
    struct Case {
        uint32_t code;
        bool gone;
    };
    const Case kCases[] = {
        {0, false},    {1, false},    {2, true},    {3, false},          {5, true},    {6, true},
        {21, true},    {22, true},    {31, true},   {87, false},         {121, false}, {995, true},
        {1117, false}, {1167, false}, {1617, true}, {0xFFFFFFFF, false},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(IsDeviceGoneError(c.code), c.gone) << c.code;
    }
}

// Every instance of a host takes its ports from one table: threads opening
// at once never get one handle twice, and the table gives every slot back.
TEST(PortTableTest, ThreadsOpeningAtOnceGetHandlesOfTheirOwn) {
    constexpr int kThreads = 8;
    constexpr int kEach = 24;
    const size_t before = SerialPortsInUse();
    std::vector<PortHandle> handles[kThreads];
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&handles, t] {
            for (int n = 0; n < kEach; ++n) {
                PortHandle opened = kNoPort;
                if (OpenSerialPort(kNullPortName, kDefaultLine, kLineControlDtrRts, &opened) == kSerialOk) {
                    handles[t].push_back(opened);
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::set<PortHandle> distinct;
    for (const std::vector<PortHandle>& own : handles) {
        EXPECT_EQ(own.size(), static_cast<size_t>(kEach));
        distinct.insert(own.begin(), own.end());
    }
    EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kEach));
    EXPECT_EQ(SerialPortsInUse(), before + kThreads * kEach);
    for (const PortHandle opened : distinct) {
        EXPECT_EQ(CloseSerialPort(opened), kSerialOk);
    }
    EXPECT_EQ(SerialPortsInUse(), before);
}

// Past the table's size an open fails with a reason of its own, not the
// system's "too many open files".
TEST(PortTableTest, OpenPastTheLimitFailsWithItsReason) {
    constexpr const char* kTraceName = "qel_port_table_trace.txt";
    std::remove(kTraceName);
    SetTraceVariable(kTraceName);
    TraceFile trace{};
    ASSERT_TRUE(TraceOpen(&trace, 1, nullptr));
    std::vector<PortHandle> held;
    for (size_t n = SerialPortsInUse(); n < kMaxOpenPorts; ++n) {
        PortHandle opened = kNoPort;
        ASSERT_EQ(OpenSerialPort(kNullPortName, kDefaultLine, kLineControlDtrRts, &opened), kSerialOk);
        held.push_back(opened);
    }
    PortHandle extra = 99;
    EXPECT_EQ(OpenSerialPort(kNullPortName, kDefaultLine, kLineControlDtrRts, &extra), kSerialNoSlot);
    EXPECT_EQ(extra, kNoPort);
    PortSettings settings{};
    std::strcpy(settings.portName, kNullPortName);
    settings.line = kDefaultLine;
    EXPECT_EQ(OpenPort(settings, &trace), kNoPort);
    for (const PortHandle opened : held) {
        CloseSerialPort(opened);
    }
    TraceClose(&trace);
    SetTraceVariable(nullptr);
    std::ifstream file(kTraceName);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("REASON port NUL not opened: too many ports open in this process (256)"), std::string::npos)
        << text;
    std::remove(kTraceName);
}

}  // namespace
