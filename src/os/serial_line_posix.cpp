// Line settings over termios: the rate, framing, handshake and modem lines
// of a port, read back to see that the device took them.
#include "os/serial_line_posix.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

#include <cerrno>

namespace {
struct BaudRate {
    uint16_t rate;
    speed_t speed;
};

// The standard rates that fit the 16-bit baud rate.
constexpr BaudRate kBaudRates[] = {
    {50, B50},     {75, B75},       {110, B110},     {134, B134},     {150, B150},   {200, B200},
    {300, B300},   {600, B600},     {1200, B1200},   {1800, B1800},   {2400, B2400}, {4800, B4800},
    {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600},
};

bool SetSpeed(termios* settings, uint16_t rate) {
    for (const BaudRate& known : kBaudRates) {
        if (known.rate == rate) {
            return cfsetispeed(settings, known.speed) == 0 && cfsetospeed(settings, known.speed) == 0;
        }
    }
    return false;
}

bool SetCharacterSize(termios* settings, uint8_t dataBits) {
    constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    if (dataBits < 5 || dataBits > 8) {
        return false;
    }
    settings->c_cflag = (settings->c_cflag & ~CSIZE) | kSizes[dataBits - 5];
    return true;
}

bool SetStopBits(termios* settings, uint8_t stopBits) {
    // termios has no one and a half stop bits.
    if (stopBits == kOneStopBit) {
        settings->c_cflag &= ~CSTOPB;
        return true;
    }
    if (stopBits == kTwoStopBits) {
        settings->c_cflag |= CSTOPB;
        return true;
    }
    return false;
}

bool SetParity(termios* settings, uint8_t parity) {
    tcflag_t bits = 0;
    switch (parity) {
        case kNoParity:
            break;
        case kOddParity:
            bits = PARENB | PARODD;
            break;
        case kEvenParity:
            bits = PARENB;
            break;
#ifdef CMSPAR
        // Stick parity: the parity bit is always 1 (mark) or always 0 (space).
        case kMarkParity:
            bits = PARENB | CMSPAR | PARODD;
            break;
        case kSpaceParity:
            bits = PARENB | CMSPAR;
            break;
#endif
        default:
            return false;
    }
#ifdef CMSPAR
    settings->c_cflag &= ~CMSPAR;
#endif
    settings->c_cflag = (settings->c_cflag & ~(PARENB | PARODD)) | bits;
    return true;
}

// Raw binary bytes both ways: no echo, no line editing, no signals, no
// translation of CR or NL, no software flow control, NUL bytes kept. Parity
// is generated but not checked, so a byte with a parity error still arrives
// as it came, as with the Windows settings (no error replacement).
void MakeRaw(termios* settings) {
    settings->c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
    settings->c_oflag &= ~OPOST;
    settings->c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings->c_cflag |= CLOCAL | CREAD;
    // A read with nothing waiting then reports EAGAIN and an ended line 0,
    // rather than 0 for both.
    settings->c_cc[VMIN] = 1;
    settings->c_cc[VTIME] = 0;
}

// DTR and RTS: held on, held off, or RTS by the kernel's RTS/CTS handshake.
// termios has no DTR handshake and no RTS toggle: those are refused.
bool SetHandshake(termios* settings, uint16_t lineControl) {
    if ((lineControl & kDtrEnable) == 0 && (lineControl & kDtrHandshake) != 0) {
        return false;
    }
    const bool rtsHandshake = (lineControl & kRtsEnable) == 0 && (lineControl & kRtsHandshake) != 0;
    if ((lineControl & (kRtsEnable | kRtsHandshake)) == 0 && (lineControl & kRtsToggle) != 0) {
        return false;
    }
    if (rtsHandshake) {
        settings->c_cflag |= CRTSCTS;
    } else {
        settings->c_cflag &= ~CRTSCTS;
    }
    return true;
}

// A pseudo-terminal has no modem lines (ENOTTY or EINVAL); that is no
// reason to refuse it.
bool ModemLine(int fd, unsigned long request, int bits) {
    if (bits == 0 || ioctl(fd, request, &bits) == 0) {
        return true;
    }
    return errno == ENOTTY || errno == EINVAL;
}

bool SetModemLines(int fd, uint16_t lineControl) {
    int on = 0;
    int off = 0;
    ((lineControl & kDtrEnable) != 0 ? on : off) |= TIOCM_DTR;
    if ((lineControl & kRtsEnable) != 0) {
        on |= TIOCM_RTS;
    } else if ((lineControl & kRtsHandshake) == 0) {
        off |= TIOCM_RTS;
    }
    return ModemLine(fd, TIOCMBIS, on) && ModemLine(fd, TIOCMBIC, off);
}

// A pseudo-terminal frames no characters: it reports eight data bits and no
// parity whatever it was given. Linux numbers its ends so: the slaves under
// majors 136 to 143, the master multiplexer as 5:2.
bool IsPseudoTerminal(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) {
        return false;
    }
    const unsigned kind = major(status.st_rdev);
    return (kind >= 136 && kind <= 143) || (kind == 5 && minor(status.st_rdev) == 2);
}

// tcsetattr succeeds when any of the change took effect: a device drops
// what it cannot do (a speed, stick parity, a stop bit) without a word. The
// settings are read back and compared, save what a pseudo-terminal ignores.
bool TookLineSettings(int fd, const termios& wanted) {
    termios actual{};
    if (tcgetattr(fd, &actual) != 0) {
        return false;
    }
    tcflag_t compared = CSTOPB | PARODD | CRTSCTS;
#ifdef CMSPAR
    compared |= CMSPAR;
#endif
    if (!IsPseudoTerminal(fd)) {
        compared |= CSIZE | PARENB;
    }
    return cfgetispeed(&actual) == cfgetispeed(&wanted) && cfgetospeed(&actual) == cfgetospeed(&wanted) &&
           (actual.c_cflag & compared) == (wanted.c_cflag & compared);
}

}  // namespace

int32_t ConfigureLine(int fd, const LineSettings& line, uint16_t lineControl) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        return kSerialGetStateFailed;
    }
    MakeRaw(&settings);
    const bool valid = SetSpeed(&settings, line.baudRate) &&
                       SetCharacterSize(&settings, static_cast<uint8_t>(line.dataBits)) &&
                       SetStopBits(&settings, static_cast<uint8_t>(line.stopBits)) &&
                       SetParity(&settings, static_cast<uint8_t>(line.parity)) && SetHandshake(&settings, lineControl);
    if (!valid) {
        errno = EINVAL;
        return kSerialSetStateFailed;
    }
    if (tcsetattr(fd, TCSANOW, &settings) != 0) {
        return kSerialSetStateFailed;
    }
    if (!TookLineSettings(fd, settings)) {
        errno = EINVAL;
        return kSerialSetStateFailed;
    }
    if (!SetModemLines(fd, lineControl)) {
        return kSerialSetStateFailed;
    }
    return kSerialOk;
}
