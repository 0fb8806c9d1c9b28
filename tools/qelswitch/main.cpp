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

namespace {

using namespace qelswitch;

// Replies waiting for a reader beyond this are dropped rather than kept.
constexpr size_t kMaxOutgoing = 65536;
constexpr size_t kMaxControlLine = 4096;
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

void Print(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// A pipe, socket or terminal on standard input is a control channel whose
// end ends the emulator. A file is a list of commands, after which the
// emulator goes on. Anything else (/dev/null, as a shell gives a background
// job) is not read at all.
enum class StdinUse { kIgnore, kChannel, kScript };

StdinUse ClassifyStdin(bool control) {
    struct stat info {};
    if (!control || fstat(STDIN_FILENO, &info) != 0) return StdinUse::kIgnore;
    if (isatty(STDIN_FILENO) || S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) return StdinUse::kChannel;
    if (S_ISREG(info.st_mode)) return StdinUse::kScript;
    return StdinUse::kIgnore;
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
    Emulator emulator;
    Line line;
    StdinUse stdinUse = StdinUse::kIgnore;
    std::string outgoing;
    std::string controlLine;
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
    loop.outgoing += TakeDueWrites(loop.emulator, MonotonicMs());
    while (!loop.outgoing.empty()) {
        const ssize_t written = write(loop.line.fd, loop.outgoing.data(), loop.outgoing.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno == EAGAIN) break;
        if (written < 0) return LineLost(loop, Failed("writing"));
        loop.outgoing.erase(0, static_cast<size_t>(written));
    }
    if (loop.outgoing.size() > kMaxOutgoing) {
        std::printf("NOTE nobody reads the line: %zu bytes dropped\n", loop.outgoing.size());
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

bool RunControlLine(Loop& loop, const std::string& text) {
    ControlCommand command;
    std::string error;
    if (!ParseControl(text, &command, &error)) {
        std::fprintf(stderr, "qelswitch: %s\n", error.c_str());
        return true;
    }
    if (!ApplyControl(loop.emulator, command)) return Stop(loop, "quit");
    return true;
}

bool ReadControl(Loop& loop) {
    char buffer[4096];
    const ssize_t count = read(STDIN_FILENO, buffer, sizeof buffer);
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    if (count <= 0) {
        const std::string last = std::move(loop.controlLine);
        loop.controlLine.clear();
        if (!last.empty() && !RunControlLine(loop, last)) return false;
        if (loop.stdinUse == StdinUse::kChannel) return Stop(loop, "end of input");
        loop.stdinUse = StdinUse::kIgnore;
        return true;
    }
    for (ssize_t index = 0; index < count; ++index) {
        if (buffer[index] != '\n') {
            if (loop.controlLine.size() < kMaxControlLine) loop.controlLine += buffer[index];
            continue;
        }
        const std::string text = std::move(loop.controlLine);
        loop.controlLine.clear();
        if (!RunControlLine(loop, text)) return false;
    }
    return true;
}

bool Step(Loop& loop) {
    Print(TakeEvents(loop.emulator));
    if (!FlushOutgoing(loop)) return false;
    Print(TakeEvents(loop.emulator));
    if (loop.outgoing.empty() && HangupDue(loop.emulator)) {
        DrainLine(loop.line, kHangupGraceMs);
        std::printf("HANGUP after %llu messages\n", static_cast<unsigned long long>(loop.emulator.counts.messages));
        return Stop(loop, "hangup");
    }
    const int64_t wait = MillisecondsToNextWrite(loop.emulator, MonotonicMs());
    pollfd polled[3] = {
        {loop.line.fd, static_cast<short>(POLLIN | (loop.outgoing.empty() ? 0 : POLLOUT)), 0},
        {g_signalPipe[0], POLLIN, 0},
        {STDIN_FILENO, POLLIN, 0},
    };
    const nfds_t count = loop.stdinUse == StdinUse::kIgnore ? 2 : 3;
    if (poll(polled, count, wait < 0 ? -1 : static_cast<int>(wait)) < 0) {
        if (errno == EINTR) return true;
        std::fprintf(stderr, "qelswitch: poll failed: %s\n", std::strerror(errno));
        return Stop(loop, "error", 1);
    }
    if (polled[1].revents != 0) return Stop(loop, "signal");
    if ((polled[0].revents & POLLIN) != 0 && !ReadLine(loop)) return false;
    if ((polled[0].revents & (POLLIN | POLLOUT)) == 0 && (polled[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        return LineLost(loop, "the line hung up");
    }
    if (count == 3 && polled[2].revents != 0 && !ReadControl(loop)) return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--version") {
            std::printf("qelswitch %s\n", QELKOPHV_VERSION);
            return 0;
        }
    }
    Options options;
    std::string error;
    if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
        std::fprintf(stderr, "qelswitch: %s\n(qelswitch --help lists the options)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    Loop loop;
    if (!InstallSignals(&error) || !OpenLine(options, &loop.line, &error)) {
        std::fprintf(stderr, "qelswitch: %s\n", error.c_str());
        return 1;
    }
    if (!options.link.empty() && !CreateLink(options.link, loop.line.path, &error)) {
        std::fprintf(stderr, "qelswitch: %s\n", error.c_str());
        CloseLine(&loop.line);
        return 1;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("%s\n", loop.line.path.c_str());
    std::fflush(stdout);

    loop.emulator.faults = options.faults;
    loop.emulator.verbose = options.verbose;
    for (const auto& [address, text] : options.texts) loop.emulator.state.labels[address] = text;
    loop.stdinUse = ClassifyStdin(options.control);
    while (Step(loop)) {
    }
    Print(TakeEvents(loop.emulator));
    if (options.printState) Print(StateReport(loop.emulator));
    std::printf("EXIT %s\n", loop.exitReason.c_str());
    std::fflush(stdout);
    if (!options.link.empty()) RemoveLink(options.link, loop.line.path);
    CloseLine(&loop.line);
    return loop.status;
}
