#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "serial_peer.h"

namespace {

// A line that takes no byte for this long ends the send.
constexpr int64_t kSendStallMs = 2000;

}  // namespace

SerialPeer::~SerialPeer() {
    HangUp();
    if (slave_ >= 0) {
        close(slave_);
    }
}

bool SerialPeer::Open(int /*line*/) {
    char name[64] = {};
    if (master_ >= 0 || openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        return false;
    }
    // The slave keeps the terminal's default settings: the driver has to
    // make it raw. The slave descriptor stays open so that the terminal
    // lives as long as the peer, whatever the driver opens and closes.
    termios raw{};
    tcgetattr(master_, &raw);
    cfmakeraw(&raw);
    tcsetattr(master_, TCSANOW, &raw);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    const char* base = std::strncmp(name, "/dev/", 5) == 0 ? name + 5 : name;
    driverPortName_ = base;
    return true;
}

void SerialPeer::Send(const std::string& bytes) {
    size_t done = 0;
    Deadline deadline = DeadlineIn(kSendStallMs);
    while (master_ >= 0 && done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            deadline = DeadlineIn(kSendStallMs);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) || RemainingMs(deadline) == 0) {
            return;
        }
        pollfd waiting{master_, POLLOUT, 0};
        poll(&waiting, 1, RemainingMs(deadline));
    }
}

std::string SerialPeer::Receive(size_t count, int timeoutMs) {
    std::string received;
    const Deadline deadline = DeadlineIn(timeoutMs);
    char buffer[512];
    while (master_ >= 0 && received.size() < count) {
        const ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - received.size()));
        if (n > 0) {
            received.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) || RemainingMs(deadline) == 0) {
            break;
        }
        pollfd waiting{master_, POLLIN, 0};
        if (poll(&waiting, 1, RemainingMs(deadline)) <= 0) {
            break;
        }
    }
    return received;
}

bool SerialPeer::CanHangUp() const {
    return true;
}

void SerialPeer::HangUp() {
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
}

bool SerialPeer::SlaveTermios(termios* settings) const {
    return slave_ >= 0 && tcgetattr(slave_, settings) == 0;
}

bool SerialPeer::LockDriverControl(tcflag_t bits) {
    termios locked{};
    locked.c_cflag = bits;
    return slave_ >= 0 && ioctl(slave_, TIOCSLCKTRMIOS, &locked) == 0;
}

bool SerialPeer::ReadDriverLine(PeerLineView* view) const {
    termios settings{};
    if (!SlaveTermios(&settings)) {
        return false;
    }
    struct Speed {
        speed_t code;
        uint32_t rate;
    };
    static constexpr Speed kSpeeds[] = {{B50, 50},     {B75, 75},       {B110, 110},     {B134, 134},
                                        {B150, 150},   {B200, 200},     {B300, 300},     {B600, 600},
                                        {B1200, 1200}, {B1800, 1800},   {B2400, 2400},   {B4800, 4800},
                                        {B9600, 9600}, {B19200, 19200}, {B38400, 38400}, {B57600, 57600}};
    view->baudRate = 0;
    for (const Speed& speed : kSpeeds) {
        if (cfgetospeed(&settings) == speed.code) {
            view->baudRate = speed.rate;
        }
    }
    switch (settings.c_cflag & CSIZE) {
        case CS5:
            view->dataBits = 5;
            break;
        case CS6:
            view->dataBits = 6;
            break;
        case CS7:
            view->dataBits = 7;
            break;
        default:
            view->dataBits = 8;
            break;
    }
    view->stopBits = (settings.c_cflag & CSTOPB) != 0 ? 2 : 0;
    const bool odd = (settings.c_cflag & PARODD) != 0;
    if ((settings.c_cflag & PARENB) == 0) {
        view->parity = 0;
    } else if ((settings.c_cflag & CMSPAR) != 0) {
        view->parity = odd ? 3 : 4;
    } else {
        view->parity = odd ? 1 : 2;
    }
    return true;
}
