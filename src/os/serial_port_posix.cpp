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

#include "os/clock_lock.h"
#include "os/deadline.h"
#include "os/serial_line_posix.h"
#include "os/serial_platform.h"
#include "os/serial_port.h"
#include "os/sleep.h"

namespace {

enum class SlotState : uint8_t { kFree, kReserved, kOpen };

// One port. Its handle is the slot's index plus one, so that 0 stays "no
// port". `state` changes only under g_tableLock; the other fields belong to
// the instance that holds the handle.
struct PortSlot {
    SlotState state;
    int fd;
    uint32_t readTimeoutMs;
    int lastError;  // errno of the port's last failed call
    bool lost;      // a call found the device gone
};

PortSlot g_ports[kMaxOpenPorts];
// Taken only to claim, fill and free slots: never across an open, a read, a
// write or a wait, so that instances never wait for each other's line.
ProcessLock g_tableLock = QEL_PROCESS_LOCK_INIT;
// A write has no time-out, as on Windows, but a line that takes no byte for
// this long ends the write as a short one instead of holding the request.
constexpr int64_t kWriteStallMs = 1000;

PortSlot* SlotOf(PortHandle handle) {
    if (handle == kNoPort || handle > kMaxOpenPorts) {
        return nullptr;
    }
    PortSlot* slot = &g_ports[handle - 1];
    return slot->state == SlotState::kOpen ? slot : nullptr;
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
// within the 12 bytes of a port name). False when the path does not fit.
template <size_t N>
bool DevicePath(const char* name, char (&path)[N]) {
    int length = 0;
    const uint32_t comNumber = ComPortNumber(name);
    if (std::strcmp(name, kNullPortName) == 0) {
        length = std::snprintf(path, N, "/dev/null");
    } else if (comNumber != 0) {
        length = std::snprintf(path, N, "/dev/ttyS%u", static_cast<unsigned>(comNumber - 1));
    } else if (name[0] == '/' || name[0] == '.') {
        length = std::snprintf(path, N, "%s", name);
    } else {
        length = std::snprintf(path, N, "/dev/%s", name);
    }
    return length > 0 && static_cast<size_t>(length) < N;
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
        const ssize_t n = read(slot.fd, buffer + *got, count - *got);
        if (n > 0) {
            *got += static_cast<uint32_t>(n);
            continue;
        }
        if (n == 0) {
            // End of input: the null device, or a terminal that was hung up.
            slot.lost = slot.lost || HungUpNow(slot.fd);
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
        pollfd waiting{slot.fd, POLLIN, 0};
        if (poll(&waiting, 1, left) > 0 && (waiting.revents & kGoneEvents) != 0) {
            hungUp = true;
            slot.lost = true;
        }
    }
    return true;
}

// Marks a free slot reserved and returns its handle; kNoPort when every
// slot is taken.
PortHandle ClaimSlot() {
    PortHandle claimed = kNoPort;
    LockProcess(&g_tableLock);
    for (PortHandle index = 0; index < kMaxOpenPorts && claimed == kNoPort; ++index) {
        if (g_ports[index].state == SlotState::kFree) {
            g_ports[index].state = SlotState::kReserved;
            claimed = index + 1;
        }
    }
    UnlockProcess(&g_tableLock);
    return claimed;
}

// Fills a reserved slot with the opened port, or (fd < 0) gives it back.
void SettleSlot(PortHandle handle, int fd) {
    LockProcess(&g_tableLock);
    g_ports[handle - 1] = fd < 0 ? PortSlot{} : PortSlot{SlotState::kOpen, fd, kDefaultReadTimeoutMs, 0, false};
    UnlockProcess(&g_tableLock);
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

// A failed open's result, with its errno kept for the caller in *error and
// left in the calling thread's errno.
int32_t OpenFailed(int32_t result, int code, SerialOpenCause cause, SerialError* error) {
    *error = SerialError{code, cause};
    errno = code;
    return result;
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

// Opens and configures the device; the descriptor, or -1 with the result and
// *error saying why.
int OpenDevice(const char* name, const char* path, const LineSettings& line, uint16_t lineControl, int32_t* result,
               SerialError* error) {
    const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *result = OpenFailed(kSerialOpenFailed, errno, CauseOfOpenError(errno), error);
        return -1;
    }
    *result = kSerialOk;
    if (std::strcmp(name, kNullPortName) == 0) {
        return fd;
    }
    // Windows opens a port for one holder only. Two locks give that here:
    // flock keeps out every program that also locks (and root, whom
    // TIOCEXCL does not stop), TIOCEXCL keeps out later opens by programs
    // that do not lock. TIOCEXCL is taken last, once the open can no
    // longer fail, so that a failed open leaves the terminal as it was.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *result = AbandonOpen(fd, kSerialOpenFailed, CauseOfOpenError(errno), error);
        return -1;
    }
    const int32_t configured = ConfigureLine(fd, line, lineControl);
    if (configured != kSerialOk) {
        // A device with no terminal state is told by what it is.
        const SerialOpenCause cause =
            configured == kSerialGetStateFailed ? SerialOpenCause::kNone : SerialOpenCause::kSettingsRefused;
        *result = AbandonOpen(fd, configured, cause, error);
        return -1;
    }
    ioctl(fd, TIOCEXCL);
    return fd;
}

}  // namespace

int32_t OpenSerialPort(const char* name, const LineSettings& line, uint16_t lineControl, PortHandle* handle,
                       SerialError* error) {
    *handle = kNoPort;
    SerialError ignored{};
    SerialError* failure = error != nullptr ? error : &ignored;
    *failure = SerialError{0, SerialOpenCause::kNone};
    if (name[0] == '\0') {
        return OpenFailed(kSerialOpenFailed, ENOENT, SerialOpenCause::kNameEmpty, failure);
    }
    char path[256];
    if (!DevicePath(name, path)) {
        return OpenFailed(kSerialOpenFailed, ENAMETOOLONG, SerialOpenCause::kNameTooLong, failure);
    }
    const PortHandle claimed = ClaimSlot();
    if (claimed == kNoPort) {
        return OpenFailed(kSerialNoSlot, EMFILE, SerialOpenCause::kTooManyPorts, failure);
    }
    int32_t result = kSerialOpenFailed;
    const int fd = OpenDevice(name, path, line, lineControl, &result, failure);
    SettleSlot(claimed, fd);
    if (fd < 0) {
        errno = failure->osError;  // the slot's lock may have touched it
        return result;
    }
    *handle = claimed;
    return kSerialOk;
}

int32_t CloseSerialPort(PortHandle handle, SerialError* error) {
    PortSlot* slot = SlotOf(handle);
    if (slot == nullptr) {
        if (error != nullptr) {
            *error = SerialError{EBADF, SerialOpenCause::kNone};
        }
        errno = EBADF;
        return kSerialCallFailed;
    }
    // The exclusive mark belongs to the terminal, not to this descriptor: it
    // would outlive the close while anyone else keeps the terminal open.
    ioctl(slot->fd, TIOCNXCL);
    // close() releases the descriptor even when it reports an error, so the
    // port is closed either way and the slot is free again.
    close(slot->fd);
    SettleSlot(handle, -1);
    return kSerialOk;
}

size_t SerialPortsInUse() {
    size_t count = 0;
    LockProcess(&g_tableLock);
    for (const PortSlot& slot : g_ports) {
        count += slot.state != SlotState::kFree ? 1 : 0;
    }
    UnlockProcess(&g_tableLock);
    return count;
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
    if (slot == nullptr || ioctl(slot->fd, FIONREAD, &pending) != 0) {
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
        const ssize_t n = write(slot->fd, bytes + done, count - done);
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
        pollfd waiting{slot->fd, POLLOUT, 0};
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
        ioctl(slot->fd, TIOCSBRK);
    }
    SleepMilliseconds(milliseconds);
    if (slot != nullptr) {
        ioctl(slot->fd, TIOCCBRK);
    }
    return kSerialOk;
}

int32_t SerialLastError(PortHandle handle) {
    const PortSlot* slot = SlotOf(handle);
    return slot != nullptr ? slot->lastError : errno;
}

bool SerialPortLost(PortHandle handle) {
    const PortSlot* slot = SlotOf(handle);
    return slot != nullptr && slot->lost;
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
