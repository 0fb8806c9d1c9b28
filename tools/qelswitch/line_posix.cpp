#include "line_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "parse.h"

namespace qelswitch {

namespace {

// A refusal that names the system's reason.
bool FailWithErrno(std::string* error, const std::string& what) {
    return qeltools::Fail(error, what + ": " + std::strerror(errno));
}

// Raw bytes both ways: no echo, no line editing, no CR/LF translation.
bool ConfigureLine(int fd, const Options& options, const std::string& path, std::string* error) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) return FailWithErrno(error, path + " is not a serial line");
    cfmakeraw(&settings);
    // glibc's cfsetspeed takes the rate itself as well as its B constant, so
    // the options' list is the only list of rates.
    if (cfsetspeed(&settings, options.baud) != 0) {
        return qeltools::Fail(error, "baud rate " + std::to_string(options.baud) + " is not supported");
    }
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    settings.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    settings.c_cflag |= kSizes[options.dataBits - 5] | CLOCAL | CREAD;
    if (options.stopBits == 2) settings.c_cflag |= CSTOPB;
    if (options.parity != 'N') settings.c_cflag |= PARENB;
    if (options.parity == 'O' || options.parity == 'M') settings.c_cflag |= PARODD;
    if (options.parity == 'M' || options.parity == 'S') settings.c_cflag |= CMSPAR;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &settings) != 0) return FailWithErrno(error, "cannot set the line settings of " + path);
    return true;
}

bool OpenPseudoTerminal(const Options& options, Line* line, std::string* error) {
    line->fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line->fd < 0) return FailWithErrno(error, "cannot open a pseudo-terminal");
    char name[128] = {};
    if (grantpt(line->fd) != 0 || unlockpt(line->fd) != 0 || ptsname_r(line->fd, name, sizeof name) != 0) {
        return FailWithErrno(error, "cannot prepare the pseudo-terminal");
    }
    line->path = name;
    line->slaveFd = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line->slaveFd < 0) return FailWithErrno(error, "cannot open " + line->path);
    if (!ConfigureLine(line->slaveFd, options, line->path, error)) return false;
    if (fcntl(line->fd, F_SETFL, fcntl(line->fd, F_GETFL) | O_NONBLOCK) != 0) {
        return FailWithErrno(error, "cannot make the pseudo-terminal non-blocking");
    }
    return true;
}

bool OpenDevice(const Options& options, Line* line, std::string* error) {
    line->path = options.device;
    line->fd = open(options.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line->fd < 0) return FailWithErrno(error, "cannot open " + options.device);
    if (flock(line->fd, LOCK_EX | LOCK_NB) != 0) return FailWithErrno(error, options.device + " is in use");
    return ConfigureLine(line->fd, options, options.device, error);
}

}  // namespace

bool OpenLine(const Options& options, Line* line, std::string* error) {
    const bool opened =
        options.device.empty() ? OpenPseudoTerminal(options, line, error) : OpenDevice(options, line, error);
    if (!opened) {
        CloseLine(line);
        return false;
    }
    int pending = 0;
    line->discarded = ioctl(line->fd, FIONREAD, &pending) == 0 && pending > 0 ? static_cast<size_t>(pending) : 0;
    tcflush(line->fd, TCIFLUSH);
    return true;
}

void DrainLine(const Line& line, int limitMs) {
    if (line.slaveFd < 0) {
        tcdrain(line.fd);
        return;
    }
    // On a pseudo-terminal the bytes have arrived once the driver has read
    // them from the slave's queue. The first few milliseconds let the last
    // write land in that queue.
    constexpr int kStepMs = 10;
    constexpr int kLandingMs = 20;
    for (int waited = 0; waited < limitMs; waited += kStepMs) {
        int pending = 0;
        if (waited >= kLandingMs && (ioctl(line.slaveFd, FIONREAD, &pending) != 0 || pending == 0)) return;
        usleep(kStepMs * 1000);
    }
}

void CloseLine(Line* line) {
    if (line->slaveFd >= 0) close(line->slaveFd);
    if (line->fd >= 0) close(line->fd);
    line->slaveFd = -1;
    line->fd = -1;
}

}  // namespace qelswitch
