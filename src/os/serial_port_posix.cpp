// The serial port layer over termios: the calls, result codes and effects of
// the Windows layer, for POSIX systems.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "os/deadline.h"
#include "os/serial_line_posix.h"
#include "os/serial_platform.h"
#include "os/serial_port.h"
#include "os/sleep.h"

namespace {

// A write has no time-out, as on Windows, but a line that takes no byte for
// this long ends the write as a short one instead of holding the request.
constexpr int64_t kWriteStallMs = 1000;

int FdOf(const PortSlot& slot) {
    return static_cast<int>(slot.system);
}

// The errors of a device that is gone, not of a call that failed: the
// terminal was hung up (a pseudo-terminal's master closed, a USB adapter
// pulled out) or the device node went with its device.
bool IsLineGone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
}

constexpr short kGoneEvents = POLLHUP | POLLERR | POLLNVAL;

// Keeps the errno of the port's failed call, and whether it means the
// device is gone.
void KeepError(PortSlot& slot, int error) {
    slot.lastError = error;
    slot.lost = slot.lost || IsLineGone(error);
}

// Whether the descriptor reports a hang-up now, without waiting.
bool HungUpNow(int fd) {
    pollfd now{fd, POLLIN, 0};
    return poll(&now, 1, 0) > 0 && (now.revents & kGoneEvents) != 0;
}

// Windows port names to device paths: "NUL" is the null device, COMn (or
// \\.\COMn) the n-th serial port, a name that starts with "/" or "." a path,
// anything else a device under /dev/ (so "pts/3" names a pseudo-terminal
// within the 12 bytes of a port name).
int FormatDevicePath(const char* name, char* path, size_t size) {
    const uint32_t comNumber = ComPortNumber(name);
    if (std::strcmp(name, kNullPortName) == 0) {
        return std::snprintf(path, size, "/dev/null");
    }
    if (comNumber != 0) {
        return std::snprintf(path, size, "/dev/ttyS%u", static_cast<unsigned>(comNumber - 1));
    }
    if (name[0] == '/' || name[0] == '.') {
        return std::snprintf(path, size, "%s", name);
    }
    return std::snprintf(path, size, "/dev/%s", name);
}

// One read bounded by the port's read total time-out: it returns as soon as
// count bytes have arrived, or at the deadline with what came by then.
// False when the system call failed (its errno kept in the slot); got counts
// what arrived before that.
bool ReadWithin(PortSlot& slot, uint8_t* buffer, uint32_t count, uint32_t* got) {
    *got = 0;
    const Deadline deadline = DeadlineIn(slot.readTimeoutMs);
    bool hungUp = false;
    while (*got < count) {
        const ssize_t n = read(FdOf(slot), buffer + *got, count - *got);
        if (n > 0) {
            *got += static_cast<uint32_t>(n);
            continue;
        }
        if (n == 0) {
            // End of input: the null device, or a terminal that was hung up.
            slot.lost = slot.lost || HungUpNow(FdOf(slot));
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            KeepError(slot, errno);
            return false;
        }
        // A line that reports a hang-up but has nothing to read would
        // otherwise wake the poll at once until the deadline.
        const int left = RemainingMs(deadline);
        if (hungUp || left == 0) {
            return true;
        }
        pollfd waiting{FdOf(slot), POLLIN, 0};
        if (poll(&waiting, 1, left) > 0 && (waiting.revents & kGoneEvents) != 0) {
            hungUp = true;
            slot.lost = true;
        }
    }
    return true;
}

// The cause of a failed open() by its errno.
SerialOpenCause CauseOfOpenError(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
        case ENXIO:
        case ENODEV:
        case EIO:  // a serial port's node whose hardware is not there
            return SerialOpenCause::kNoSuchPort;
        case EBUSY:        // another holder's TIOCEXCL
        case EWOULDBLOCK:  // another holder's flock
            return SerialOpenCause::kHeld;
        case EACCES:
        case EPERM:
        case EROFS:
            return SerialOpenCause::kNoPermission;
        case EISDIR:
            return SerialOpenCause::kFolder;
        case ENAMETOOLONG:
            return SerialOpenCause::kNameTooLong;
        default:
            return SerialOpenCause::kOther;
    }
}

// What an open descriptor that is no terminal refers to.
SerialOpenCause CauseOfNoTerminal(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        return SerialOpenCause::kOther;
    }
    if (S_ISREG(status.st_mode)) {
        return SerialOpenCause::kRegularFile;
    }
    if (S_ISDIR(status.st_mode)) {
        return SerialOpenCause::kFolder;
    }
    return S_ISFIFO(status.st_mode) ? SerialOpenCause::kFifo : SerialOpenCause::kOtherDevice;
}

// Closes a descriptor whose open failed, keeping the failure's errno.
int32_t AbandonOpen(int fd, int32_t result, SerialOpenCause cause, SerialError* error) {
    const int code = errno;
    if (cause == SerialOpenCause::kNone) {
        cause = CauseOfNoTerminal(fd);
    }
    close(fd);
    return OpenFailed(result, code, cause, error);
}

}  // namespace

const RefusalErrors kRefusalErrors{ENOENT, ENAMETOOLONG, EMFILE, EBADF};

int32_t ThreadError() {
    return errno;
}

void SetThreadError(int32_t code) {
    errno = code;
}

bool DeviceName(const char* name, char* device, size_t size) {
    const int length = FormatDevicePath(name, device, size);
    return length > 0 && static_cast<size_t>(length) < size;
}

int32_t OpenDevice(const char* name, const char* device, const LineSettings& line, uint16_t lineControl,
                   intptr_t* system, SerialError* error) {
    const int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return OpenFailed(kSerialOpenFailed, errno, CauseOfOpenError(errno), error);
    }
    *system = fd;
    if (std::strcmp(name, kNullPortName) == 0) {
        return kSerialOk;
    }
    // Windows opens a port for one holder only. Two locks give that here:
    // flock keeps out every program that also locks (and root, whom
    // TIOCEXCL does not stop), TIOCEXCL keeps out later opens by programs
    // that do not lock. TIOCEXCL is taken last, once the open can no
    // longer fail, so that a failed open leaves the terminal as it was.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return AbandonOpen(fd, kSerialOpenFailed, CauseOfOpenError(errno), error);
    }
    const int32_t configured = ConfigureLine(fd, line, lineControl);
    if (configured != kSerialOk) {
        // A device with no terminal state is told by what it is.
        const SerialOpenCause cause =
            configured == kSerialGetStateFailed ? SerialOpenCause::kNone : SerialOpenCause::kSettingsRefused;
        return AbandonOpen(fd, configured, cause, error);
    }
    ioctl(fd, TIOCEXCL);
    return kSerialOk;
}

bool CloseDevice(const PortSlot& slot, int32_t*) {
    // The exclusive mark belongs to the terminal, not to this descriptor: it
    // would outlive the close while anyone else keeps the terminal open.
    ioctl(FdOf(slot), TIOCNXCL);
    // close() releases the descriptor even when it reports an error, so the
    // port is closed either way.
    close(FdOf(slot));
    return true;
}

int32_t SetReadTimeout(PortHandle handle, int32_t units) {
    PortSlot* slot = SlotOf(handle);
    if (slot == nullptr) {
        errno = EBADF;
        return 0;
    }
    const uint32_t previous = slot->readTimeoutMs;
    slot->readTimeoutMs = ReadTimeoutMs(units);
    return static_cast<int32_t>(previous / 10u);
}

int64_t PendingInput(PortHandle handle) {
    PortSlot* slot = SlotOf(handle);
    int pending = 0;
    if (slot == nullptr || ioctl(FdOf(*slot), FIONREAD, &pending) != 0) {
        return -1;
    }
    return pending;
}

bool ReadWithinTimeout(PortHandle handle, void* buffer, uint32_t count, uint32_t* got) {
    *got = 0;
    PortSlot* slot = SlotOf(handle);
    if (slot == nullptr) {
        errno = EBADF;
        return false;
    }
    return ReadWithin(*slot, static_cast<uint8_t*>(buffer), count, got);
}

int32_t WriteBytes(PortHandle handle, const void* data, uint32_t count, uint32_t* written) {
    PortSlot* slot = SlotOf(handle);
    if (slot == nullptr) {
        errno = EBADF;
        return kSerialCallFailed;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint32_t done = 0;
    bool failed = false;
    Deadline stallDeadline = DeadlineIn(kWriteStallMs);
    while (done < count) {
        const ssize_t n = write(FdOf(*slot), bytes + done, count - done);
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            stallDeadline = DeadlineIn(kWriteStallMs);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            KeepError(*slot, n == 0 ? EIO : errno);
            failed = true;
            break;
        }
        const int left = RemainingMs(stallDeadline);
        if (left == 0) {
            break;
        }
        pollfd waiting{FdOf(*slot), POLLOUT, 0};
        if (poll(&waiting, 1, left) > 0 && (waiting.revents & kGoneEvents) != 0) {
            slot->lost = true;
        }
    }
    if (failed && done == 0) {
        return kSerialCallFailed;
    }
    if (written != nullptr) {
        *written = done;
    }
    return done < count ? kSerialWriteShort : kSerialOk;
}

int32_t ReadBytes(PortHandle handle, void* buffer, uint32_t count, int32_t* received) {
    if (received != nullptr) {
        *received = 0;
    }
    uint32_t got = 0;
    // What arrived before a failure is kept: a line that drops mid-reply
    // still delivers the bytes it sent.
    ReadWithinTimeout(handle, buffer, count, &got);
    if (got == 0) {
        return kSerialCallFailed;
    }
    if (received != nullptr) {
        *received = static_cast<int32_t>(got);
    }
    return kSerialOk;
}

int32_t SendBreak(uint32_t milliseconds, PortHandle handle) {
    PortSlot* slot = SlotOf(handle);
    if (slot != nullptr) {
        ioctl(FdOf(*slot), TIOCSBRK);
    }
    SleepMilliseconds(milliseconds);
    if (slot != nullptr) {
        ioctl(FdOf(*slot), TIOCCBRK);
    }
    return kSerialOk;
}

namespace {

// strerror_r comes in two forms: GNU's returns the text (which need not be in
// the buffer), the standard one fills the buffer and returns 0.
[[maybe_unused]] const char* ErrorTextOf(int result, char* buffer) {
    return result == 0 ? buffer : nullptr;
}

[[maybe_unused]] const char* ErrorTextOf(const char* result, char*) {
    return result;
}

}  // namespace

const char* SerialErrorText(int32_t code, char* text, size_t size) {
    if (size == 0) {
        return text;
    }
    text[0] = '\0';
    const char* found = ErrorTextOf(strerror_r(code, text, size), text);
    if (found == nullptr || found[0] == '\0') {
        std::snprintf(text, size, "error %d", static_cast<int>(code));
    } else if (found != text) {
        std::snprintf(text, size, "%s", found);
    }
    return text;
}
