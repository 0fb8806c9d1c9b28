// qelswitch: the switcher emulator's I/O loop. The line, standard input and
// the signals meet in one poll; everything the switcher decides happens in
// the emulator core.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "control.h"
#include "emulator.h"
#include "line_posix.h"
#include "options.h"
#include "os/deadline.h"
#include "parse.h"
#include "qel_version.h"
#include "say.h"

namespace {

using namespace qelswitch;

// Replies the line has not taken: dropped once there are this many and the
// line has taken nothing for kStalledMs (nobody reads it), or in any case
// beyond kMaxBacklog (a reader that falls ever further behind).
constexpr size_t kMaxOutgoing = 65536;
constexpr uint64_t kStalledMs = 1000;
constexpr size_t kMaxBacklog = 16 << 20;
// How long a hang-up waits for the driver to read the last answer: its
// longest wait and read time-out, with room to spare.
constexpr int kHangupGraceMs = 2500;

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

struct Loop {
    const Options* options = nullptr;
    Emulator emulator;
    Line line;
    ControlInput input;  // standard input
    ControlInput fifo;   // --control
    std::string outgoing;
    uint64_t lastTakenMs = 0;  // when the line last took bytes, or began to be owed them
    // After "replug": the line is gone until this time.
    bool unplugged = false;
    uint64_t replugAtMs = 0;
    std::string exitReason;
    int status = 0;
};

bool Stop(Loop& loop, const char* reason, int status = 0) {
    loop.exitReason = reason;
    loop.status = status;
    return false;
}

bool LineLost(Loop& loop, const std::string& what) {
    std::fprintf(stderr, "qelswitch: %s: %s\n", loop.line.path.c_str(), what.c_str());
    return Stop(loop, "line lost", 1);
}

std::string Failed(const char* action) {
    return std::string(action) + " failed: " + std::strerror(errno);
}

bool FlushOutgoing(Loop& loop) {
    const uint64_t now = MonotonicMs();
    if (loop.outgoing.empty()) loop.lastTakenMs = now;
    loop.outgoing += TakeDueWrites(loop.emulator, now);
    while (!loop.outgoing.empty()) {
        const ssize_t written = write(loop.line.fd, loop.outgoing.data(), loop.outgoing.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno == EAGAIN) break;
        if (written < 0) return LineLost(loop, Failed("writing"));
        loop.outgoing.erase(0, static_cast<size_t>(written));
        loop.lastTakenMs = now;
    }
    const bool stalled = loop.outgoing.size() > kMaxOutgoing && now - loop.lastTakenMs >= kStalledMs;
    if (stalled || loop.outgoing.size() > kMaxBacklog) {
        Say("NOTE %s: %zu bytes dropped\n", stalled ? "nobody reads the line" : "the line's reader falls behind",
            loop.outgoing.size());
        loop.outgoing.clear();
    }
    return true;
}

bool ReadLine(Loop& loop) {
    char buffer[4096];
    const ssize_t count = read(loop.line.fd, buffer, sizeof buffer);
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    if (count == 0) return LineLost(loop, "the line hung up");
    if (count < 0) return LineLost(loop, Failed("reading"));
    ReceiveBytes(loop.emulator, std::string_view(buffer, static_cast<size_t>(count)), MonotonicMs());
    return true;
}

// Publishes the line: the link moved onto it, its path in the pty file.
bool Publish(Loop& loop, std::string* error) {
    const Options& options = *loop.options;
    if (!options.link.empty() && !CreateLink(options.link, loop.line.path, error)) return false;
    return options.ptyFile.empty() || WriteWhole(options.ptyFile, loop.line.path + "\n", error);
}

// As an adapter pulled out: the master closes, so the driver's end of the
// line fails; the link goes with it, so that nothing opens a stale name.
bool Unplug(Loop& loop, uint64_t seconds) {
    if (loop.unplugged || loop.line.slaveFd < 0) {
        std::fprintf(stderr, "qelswitch: replug: %s\n",
                     loop.unplugged ? "the line is unplugged already" : "only a pseudo-terminal can be replugged");
        return true;
    }
    Say("UNPLUG %s for %llu s\n", loop.line.path.c_str(), static_cast<unsigned long long>(seconds));
    LineGone(loop.emulator);
    loop.outgoing.clear();
    if (!loop.options->link.empty()) RemoveLink(loop.options->link, loop.line.path);
    CloseLine(&loop.line);
    loop.unplugged = true;
    loop.replugAtMs = MonotonicMs() + seconds * 1000;
    return true;
}

// A new pseudo-terminal, never under the name the old one had: a driver
// that still holds the old one must not find the line back there.
bool Replug(Loop& loop) {
    const std::string old = loop.line.path;
    std::string error;
    Line first;
    bool opened = OpenLine(*loop.options, &first, &error);
    if (opened && first.path == old) {
        opened = OpenLine(*loop.options, &loop.line, &error);
        CloseLine(&first);
    } else {
        loop.line = first;
    }
    if (!opened || !Publish(loop, &error)) {
        std::fprintf(stderr, "qelswitch: replug: %s\n", error.c_str());
        return Stop(loop, "error", 1);
    }
    loop.unplugged = false;
    Say("REPLUG %s\n", loop.line.path.c_str());
    return true;
}

bool RunControlLine(Loop& loop, const std::string& text) {
    ControlCommand command;
    std::string error;
    if (!ParseControl(text, &command, &error)) {
        std::fprintf(stderr, "qelswitch: %s\n", error.c_str());
        return true;
    }
    if (command.verb == ControlVerb::kReplug) return Unplug(loop, command.number);
    if (!ApplyControl(loop.emulator, command)) return Stop(loop, "quit");
    return true;
}

bool ReadControl(Loop& loop, ControlInput& input) {
    char buffer[4096];
    const ssize_t count = read(input.fd, buffer, sizeof buffer);
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    if (count <= 0) {
        const std::string last = std::move(input.partial);
        input.partial.clear();
        if (!last.empty() && !RunControlLine(loop, last)) return false;
        if (input.kind == InputKind::kChannel) return Stop(loop, "end of input");
        if (input.kind == InputKind::kFifo) {
            // Until the next writer comes, the FIFO's end would be seen again and again.
            close(input.fd);
            std::string error;
            if (!OpenFifo(loop.options->controlFifo, &input, &error)) {
                std::fprintf(stderr, "qelswitch: %s\n", error.c_str());
                return Stop(loop, "error", 1);
            }
            return true;
        }
        input.fd = -1;
        return true;
    }
    for (ssize_t index = 0; index < count; ++index) {
        if (buffer[index] != '\n') {
            if (input.partial.size() <= kMaxControlLine) input.partial += buffer[index];
            continue;
        }
        const std::string text = std::move(input.partial);
        input.partial.clear();
        if (!RunControlLine(loop, text)) return false;
    }
    return true;
}

int64_t NextWakeMs(const Loop& loop) {
    const uint64_t now = MonotonicMs();
    if (loop.unplugged) return loop.replugAtMs <= now ? 0 : static_cast<int64_t>(loop.replugAtMs - now);
    return MillisecondsToNextWrite(loop.emulator, now);
}

bool Step(Loop& loop) {
    Print(TakeEvents(loop.emulator));
    if (loop.unplugged && MonotonicMs() >= loop.replugAtMs && !Replug(loop)) return false;
    if (!loop.unplugged) {
        if (!FlushOutgoing(loop)) return false;
        Print(TakeEvents(loop.emulator));
        if (loop.outgoing.empty() && HangupDue(loop.emulator)) {
            DrainLine(loop.line, kHangupGraceMs);
            Say("HANGUP after %llu messages\n", static_cast<unsigned long long>(loop.emulator.counts.messages));
            return Stop(loop, "hangup");
        }
        if (loop.outgoing.empty() && ReplugDue(loop.emulator)) {
            DrainLine(loop.line, kHangupGraceMs);
            loop.emulator.replugAfter = -1;
            Unplug(loop, loop.options->replugSeconds);
        }
    }
    const int64_t wait = NextWakeMs(loop);
    // A descriptor of -1 is left out of the poll.
    pollfd polled[4] = {
        {loop.line.fd, static_cast<short>(POLLIN | (loop.outgoing.empty() ? 0 : POLLOUT)), 0},
        {g_signalPipe[0], POLLIN, 0},
        {loop.input.fd, POLLIN, 0},
        {loop.fifo.fd, POLLIN, 0},
    };
    if (poll(polled, 4, wait < 0 ? -1 : static_cast<int>(std::min<int64_t>(wait, INT32_MAX))) < 0) {
        if (errno == EINTR) return true;
        std::fprintf(stderr, "qelswitch: poll failed: %s\n", std::strerror(errno));
        return Stop(loop, "error", 1);
    }
    if (polled[1].revents != 0) return Stop(loop, "signal");
    if ((polled[0].revents & POLLIN) != 0 && !ReadLine(loop)) return false;
    if ((polled[0].revents & (POLLIN | POLLOUT)) == 0 && (polled[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        return LineLost(loop, "the line hung up");
    }
    if (polled[2].revents != 0 && !ReadControl(loop, loop.input)) return false;
    if (polled[3].revents != 0 && !ReadControl(loop, loop.fifo)) return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int status = 0;
    if (!TakeCommandLine(argc, argv, QELKOPHV_VERSION, &options, &status)) return status;
    SetTimeStamps(options.timeStamps);
    std::string error;
    Loop loop;
    loop.options = &options;
    if (!InstallSignals(&error) || !OpenLine(options, &loop.line, &error)) {
        std::fprintf(stderr, "qelswitch: %s\n", error.c_str());
        return 1;
    }
    if (!Publish(loop, &error) ||
        (!options.controlFifo.empty() && !CreateFifo(options.controlFifo, &loop.fifo, &error))) {
        std::fprintf(stderr, "qelswitch: %s\n", error.c_str());
        if (!options.link.empty()) RemoveLink(options.link, loop.line.path);
        if (!options.ptyFile.empty()) RemoveWritten(options.ptyFile, loop.line.path + "\n");
        CloseLine(&loop.line);
        return 1;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Say("%s\n", loop.line.path.c_str());
    std::fflush(stdout);

    loop.emulator.faults = options.faults;
    loop.emulator.verbose = options.verbose;
    loop.emulator.replugAfter = options.replugAfter;
    for (const auto& [address, text] : options.texts) loop.emulator.state.labels[address] = text;
    loop.input = StdinInput(options.control);
    while (Step(loop)) {
    }
    Print(TakeEvents(loop.emulator));
    if (options.printState) Print(StateReport(loop.emulator));
    Say("EXIT %s\n", loop.exitReason.c_str());
    std::fflush(stdout);
    if (!options.link.empty()) RemoveLink(options.link, loop.line.path);
    if (!options.ptyFile.empty()) RemoveWritten(options.ptyFile, loop.line.path + "\n");
    if (!options.controlFifo.empty()) {
        if (loop.fifo.fd >= 0) close(loop.fifo.fd);
        unlink(options.controlFifo.c_str());
    }
    CloseLine(&loop.line);
    return loop.status;
}
