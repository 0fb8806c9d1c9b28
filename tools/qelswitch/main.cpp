// qelswitch: the switcher emulator on a pseudo-terminal or a device. The
// line, standard input, the --control FIFO and the signals meet in one
// poll; the control loop and everything the switcher decides are the
// portable session's (session.h).
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "control.h"
#include "line_posix.h"
#include "options.h"
#include "os/deadline.h"
#include "parse.h"
#include "qel_version.h"
#include "say.h"
#include "session.h"

namespace {

using namespace qelswitch;

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    const ssize_t ignored = write(g_signalPipe[1], &byte, 1);
    (void)ignored;
}

bool InstallSignals(std::string* error) {
    if (pipe2(g_signalPipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        return qeltools::Fail(error, std::string("cannot create the signal pipe: ") + std::strerror(errno));
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

// Where commands come from. A pipe, socket or terminal on standard input is
// a control channel whose end ends the emulator. A file is a list of
// commands, after which the emulator goes on. Anything else (/dev/null, as a
// shell gives a background job) is not read at all. A FIFO of --control is
// opened again whenever a writer has closed it.
enum class InputKind { kChannel, kScript, kFifo };

struct ControlInput {
    int fd = -1;  // -1: not read
    InputKind kind = InputKind::kChannel;
    std::string partial;  // up to kMaxControlLine + 1 bytes: a longer line is refused whole
};

ControlInput StdinInput(bool control) {
    struct stat info {};
    if (!control || fstat(STDIN_FILENO, &info) != 0) return {};
    if (isatty(STDIN_FILENO) || S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
        return {STDIN_FILENO, InputKind::kChannel, {}};
    }
    if (S_ISREG(info.st_mode)) return {STDIN_FILENO, InputKind::kScript, {}};
    return {};
}

// Non-blocking, so that opening waits for no writer.
bool OpenFifo(const std::string& path, ControlInput* input, std::string* error) {
    input->kind = InputKind::kFifo;
    input->fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (input->fd < 0) return qeltools::Fail(error, "cannot open " + path + ": " + std::strerror(errno));
    return true;
}

// Never takes over what is there already: a stale FIFO of a killed run is
// for the user to remove.
bool CreateFifo(const std::string& path, ControlInput* input, std::string* error) {
    if (mkfifo(path.c_str(), 0600) != 0) {
        return qeltools::Fail(error, "--control: cannot create the FIFO " + path + ": " + std::strerror(errno) +
                                         (errno == EEXIST ? " (left by an earlier run? remove it)" : ""));
    }
    if (OpenFifo(path, input, error)) return true;
    unlink(path.c_str());
    return false;
}

// Written beside and renamed into place, so a reader never sees half of it.
bool WriteWhole(const std::string& path, const std::string& content, std::string* error) {
    const std::string temporary = path + ".new" + std::to_string(getpid());
    FILE* file = std::fopen(temporary.c_str(), "w");
    bool written = file != nullptr && std::fputs(content.c_str(), file) >= 0;
    if (file != nullptr) written = std::fclose(file) == 0 && written;
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        unlink(temporary.c_str());
        return qeltools::Fail(error, "cannot write " + path + ": " + reason);
    }
    return true;
}

// Removes the file only while it still holds what this run wrote there.
void RemoveWritten(const std::string& path, const std::string& content) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return;
    std::string held(content.size() + 1, '\0');
    held.resize(std::fread(held.data(), 1, held.size(), file));
    std::fclose(file);
    if (held == content) unlink(path.c_str());
}

// Replaces an earlier link of the same name, never anything else.
bool CreateLink(const std::string& link, const std::string& target, std::string* error) {
    struct stat info {};
    if (lstat(link.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        return qeltools::Fail(error, link + " exists and is not a symbolic link");
    }
    const std::string temporary = link + ".new" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0 || rename(temporary.c_str(), link.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        unlink(temporary.c_str());
        return qeltools::Fail(error, "cannot create the link " + link + ": " + reason);
    }
    return true;
}

void RemoveLink(const std::string& link, const std::string& target) {
    char pointed[4096] = {};
    const ssize_t length = readlink(link.c_str(), pointed, sizeof pointed - 1);
    if (length > 0 && target == std::string(pointed, static_cast<size_t>(length))) unlink(link.c_str());
}

std::string Failed(const char* action) {
    return std::string(action) + " failed: " + std::strerror(errno);
}

class PosixFrontEnd : public FrontEnd {
  public:
    explicit PosixFrontEnd(const Options& options) : options_(options) {}

    Line line;
    ControlInput input;  // standard input
    ControlInput fifo;   // --control

    // Publishes the line: the link moved onto it, its path in the pty file.
    bool Publish(std::string* error) {
        if (!options_.link.empty() && !CreateLink(options_.link, line.path, error)) return false;
        return options_.ptyFile.empty() || WriteWhole(options_.ptyFile, line.path + "\n", error);
    }

    void Withdraw() {
        if (!options_.link.empty()) RemoveLink(options_.link, line.path);
        if (!options_.ptyFile.empty()) RemoveWritten(options_.ptyFile, line.path + "\n");
    }

    int64_t Write(std::string_view bytes) override {
        size_t taken = 0;
        while (taken < bytes.size() && line.fd >= 0) {
            const ssize_t written = write(line.fd, bytes.data() + taken, bytes.size() - taken);
            if (written < 0 && errno == EINTR) continue;
            if (written < 0 && errno == EAGAIN) break;
            if (written < 0) return Lost(Failed("writing"));
            taken += static_cast<size_t>(written);
        }
        return static_cast<int64_t>(taken);
    }

    void Drain(int limitMs) override { DrainLine(line, limitMs); }

    void Wait(Session& session, int64_t waitMs) override {
        if (unplugged_) {
            const uint64_t now = MonotonicMs();
            if (now >= replugAtMs_) return Replug(session);
            const auto left = static_cast<int64_t>(replugAtMs_ - now);
            waitMs = waitMs < 0 ? left : std::min(waitMs, left);
        }
        // A descriptor of -1 is left out of the poll.
        pollfd polled[4] = {
            {line.fd, static_cast<short>(POLLIN | (session.outgoing.empty() ? 0 : POLLOUT)), 0},
            {g_signalPipe[0], POLLIN, 0},
            {input.fd, POLLIN, 0},
            {fifo.fd, POLLIN, 0},
        };
        if (poll(polled, 4, waitMs < 0 ? -1 : static_cast<int>(std::min<int64_t>(waitMs, INT32_MAX))) < 0) {
            if (errno == EINTR) return;
            std::fprintf(stderr, "qelswitch: poll failed: %s\n", std::strerror(errno));
            return End(session, "error", 1);
        }
        if (polled[1].revents != 0) return End(session, "signal");
        if ((polled[0].revents & POLLIN) != 0) ReadLine(session);
        if ((polled[0].revents & (POLLIN | POLLOUT)) == 0 &&
            (polled[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            Lost("the line hung up");
            return End(session, "line lost", 1);
        }
        if (polled[2].revents != 0 && !session.ended) ReadControl(session, input);
        if (polled[3].revents != 0 && !session.ended) ReadControl(session, fifo);
    }

    // As an adapter pulled out: the master closes, so the driver's end of the
    // line fails; the link goes with it, so that nothing opens a stale name.
    void Unplug(Session& session, uint64_t seconds) override {
        if (unplugged_ || line.slaveFd < 0) {
            std::fprintf(stderr, "qelswitch: replug: %s\n",
                         unplugged_ ? "the line is unplugged already" : "only a pseudo-terminal can be replugged");
            return;
        }
        Say("UNPLUG %s for %llu s\n", line.path.c_str(), static_cast<unsigned long long>(seconds));
        DropOwed(session);
        if (!options_.link.empty()) RemoveLink(options_.link, line.path);
        CloseLine(&line);
        unplugged_ = true;
        replugAtMs_ = MonotonicMs() + seconds * 1000;
    }

  private:
    const Options& options_;
    // After "replug": the line is gone until this time.
    bool unplugged_ = false;
    uint64_t replugAtMs_ = 0;

    int64_t Lost(const std::string& what) {
        std::fprintf(stderr, "qelswitch: %s: %s\n", line.path.c_str(), what.c_str());
        return -1;
    }

    void ReadLine(Session& session) {
        char buffer[4096];
        const ssize_t count = read(line.fd, buffer, sizeof buffer);
        if (count < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (count <= 0) {
            Lost(count == 0 ? "the line hung up" : Failed("reading"));
            return End(session, "line lost", 1);
        }
        Receive(session, std::string_view(buffer, static_cast<size_t>(count)));
    }

    // A new pseudo-terminal, never under the name the old one had: a driver
    // that still holds the old one must not find the line back there.
    void Replug(Session& session) {
        const std::string old = line.path;
        std::string error;
        Line first;
        bool opened = OpenLine(options_, &first, &error);
        if (opened && first.path == old) {
            opened = OpenLine(options_, &line, &error);
            CloseLine(&first);
        } else {
            line = first;
        }
        if (!opened || !Publish(&error)) {
            std::fprintf(stderr, "qelswitch: replug: %s\n", error.c_str());
            return End(session, "error", 1);
        }
        unplugged_ = false;
        Say("REPLUG %s\n", line.path.c_str());
    }

    void ReadControl(Session& session, ControlInput& from) {
        char buffer[4096];
        const ssize_t count = read(from.fd, buffer, sizeof buffer);
        if (count < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (count <= 0) return ControlEnded(session, from);
        for (ssize_t index = 0; index < count && !session.ended; ++index) {
            if (buffer[index] != '\n') {
                if (from.partial.size() <= kMaxControlLine) from.partial += buffer[index];
                continue;
            }
            const std::string text = std::move(from.partial);
            from.partial.clear();
            RunControlLine(session, text);
        }
    }

    void ControlEnded(Session& session, ControlInput& from) {
        const std::string last = std::move(from.partial);
        from.partial.clear();
        if (!last.empty()) RunControlLine(session, last);
        if (from.kind == InputKind::kChannel) return End(session, "end of input");
        if (from.kind == InputKind::kScript) {
            from.fd = -1;
            return;
        }
        // Until the next writer comes, the FIFO's end would be seen again and again.
        close(from.fd);
        std::string error;
        if (!OpenFifo(options_.controlFifo, &from, &error)) {
            std::fprintf(stderr, "qelswitch: %s\n", error.c_str());
            End(session, "error", 1);
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int status = 0;
    if (!TakeCommandLine(argc, argv, QELKOPHV_VERSION, &options, &status)) return status;
    SetTimeStamps(options.timeStamps);
    std::string error;
    PosixFrontEnd frontEnd(options);
    if (!InstallSignals(&error) || !OpenLine(options, &frontEnd.line, &error)) {
        std::fprintf(stderr, "qelswitch: %s\n", error.c_str());
        return 1;
    }
    if (!frontEnd.Publish(&error) ||
        (!options.controlFifo.empty() && !CreateFifo(options.controlFifo, &frontEnd.fifo, &error))) {
        std::fprintf(stderr, "qelswitch: %s\n", error.c_str());
        frontEnd.Withdraw();
        CloseLine(&frontEnd.line);
        return 1;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Say("%s\n", frontEnd.line.path.c_str());
    // A pseudo-terminal of its own making held nothing before.
    if (!options.device.empty()) SayDiscarded(frontEnd.line.discarded);
    std::fflush(stdout);

    Session session;
    StartSession(session, options, frontEnd);
    frontEnd.input = StdinInput(options.control);
    status = RunSession(session);
    frontEnd.Withdraw();
    if (!options.controlFifo.empty()) {
        if (frontEnd.fifo.fd >= 0) close(frontEnd.fifo.fd);
        unlink(options.controlFifo.c_str());
    }
    CloseLine(&frontEnd.line);
    return status;
}
