// The built program end to end: it prints its line, a test opens that line
// as the driver would and talks to it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr int kPatienceMs = 5000;  // only a hang exceeds it

// Reads what arrives on `fd` until `count` bytes, end of file or the time
// runs out.
std::string ReadUpTo(int fd, size_t count, int timeoutMs = kPatienceMs) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd polled{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&polled, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[256];
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - got.size()));
        if (n <= 0) break;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

// What one read delivers once something arrives; empty on end of file or
// when nothing comes in time.
std::string ReadSome(int fd, int timeoutMs = kPatienceMs) {
    pollfd polled{fd, POLLIN, 0};
    if (poll(&polled, 1, timeoutMs) <= 0) return "";
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
}

class Program {
  public:
    explicit Program(const std::vector<std::string>& arguments) {
        int in[2], out[2], err[2];
        EXPECT_EQ(pipe(in), 0);
        EXPECT_EQ(pipe(out), 0);
        EXPECT_EQ(pipe(err), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        for (int fd : {in[1], out[0], err[0]}) posix_spawn_file_actions_addclose(&actions, fd);
        std::vector<char*> argv{const_cast<char*>(QELSWITCH_PROGRAM)};
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid_, QELSWITCH_PROGRAM, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        close(err[1]);
        in_ = in[1];
        out_ = out[0];
        err_ = err[0];
    }
    ~Program() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (int fd : {in_, out_, err_}) {
            if (fd >= 0) close(fd);
        }
    }

    // One line of standard output without its LF; empty on a time-out.
    std::string Line() {
        for (;;) {
            const size_t end = buffered_.find('\n');
            if (end != std::string::npos) {
                const std::string line = buffered_.substr(0, end);
                buffered_.erase(0, end + 1);
                return line;
            }
            const std::string more = ReadSome(out_);
            if (more.empty()) return "";
            buffered_ += more;
        }
    }
    // The first line that contains `part`; empty when none comes.
    std::string LineWith(const std::string& part) {
        for (std::string line = Line(); !line.empty(); line = Line()) {
            if (line.find(part) != std::string::npos) return line;
        }
        return "";
    }
    std::string RestOfOutput() {
        std::string rest = buffered_;
        buffered_.clear();
        for (std::string more = ReadSome(out_); !more.empty(); more = ReadSome(out_)) rest += more;
        return rest;
    }
    std::string Errors() { return ReadSome(err_); }
    void Command(const std::string& text) { ASSERT_EQ(write(in_, text.data(), text.size()), ssize_t(text.size())); }
    void CloseInput() {
        close(in_);
        in_ = -1;
    }
    void Signal(int number) { kill(pid_, number); }
    // The exit status, or -1 when the program neither exits nor dies in time.
    int Wait() {
        for (int waited = 0; waited < kPatienceMs; waited += 10) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

  private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    std::string buffered_;
};

int OpenLine(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(fd, 0) << path;
    return fd;
}

void Send(int fd, const std::string& bytes) {
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
}

std::string LinkTarget(const std::string& link) {
    char target[256] = {};
    const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<size_t>(length)) : "";
}

std::string FileText(const std::string& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Short enough for the driver's port name, and this process's own.
std::string ScratchLink() {
    std::string digits;
    for (unsigned pid = static_cast<unsigned>(getpid()); pid > 0; pid /= 36)
        digits += "0123456789abcdefghijklmnopqrstuvwxyz"[pid % 36];
    return "/tmp/q" + digits;
}

// As `echo COMMAND > FIFO` does it: open, write, close.
void Echo(const std::string& fifo, const std::string& text) {
    const int fd = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0) << fifo;
    Send(fd, text);
    close(fd);
}

TEST(Program, AnswersOnThePseudoTerminalItPrintsAndShowsTheStateOnQuit) {
    Program program({"--state"});
    const std::string path = program.Line();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    const int line = OpenLine(path);
    Send(line, "#010259\r\r");
    EXPECT_EQ(ReadUpTo(line, 5), "*01\r\n");
    EXPECT_EQ(program.Line(), "HASH 0102 bank 1 = 5 (value 5), was unset");
    program.Command("quit\n");
    const std::string rest = program.RestOfOutput();
    EXPECT_NE(rest.find("STATE BEGIN\n"), std::string::npos) << rest;
    EXPECT_NE(rest.find("HASH 0102 bank 1 = 5 (value 5), bank 2 = unset\n"), std::string::npos) << rest;
    EXPECT_NE(rest.find("EXIT quit\n"), std::string::npos) << rest;
    EXPECT_EQ(program.Wait(), 0);
    close(line);
}

// What was sent before the emulator opened its device reached no switcher:
// it is thrown away and counted, and only what comes after is carried out.
TEST(Program, DiscardsWhatWaitedOnTheDeviceBeforeItOpened) {
    const int far = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(far, 0);
    ASSERT_EQ(grantpt(far) | unlockpt(far), 0);
    const std::string device = ptsname(far);
    const int held = OpenLine(device);  // keeps the queue while nobody else has the line open
    termios raw{};
    tcgetattr(held, &raw);
    cfmakeraw(&raw);
    tcsetattr(held, TCSANOW, &raw);
    Send(far, "#010259\r\r");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Program program({"--device", device});
    EXPECT_EQ(program.Line(), device);
    EXPECT_EQ(program.Line(), "NOTE 9 bytes were waiting on the line before it was opened: discarded, not carried out");
    Send(far, "#0A1FC7\r\r");
    EXPECT_EQ(ReadUpTo(far, 5), "*0A\r\n");
    EXPECT_EQ(program.Line(), "HASH 0A1F bank 1 = C (value 12), was unset");
    close(held);
    close(far);
}

TEST(Program, KeepsItsLineWhileTheDriverClosesAndReopensIt) {
    Program program({});
    const std::string path = program.Line();
    for (int round = 0; round < 3; ++round) {
        const int line = OpenLine(path);
        Send(line, "P\r\r");
        EXPECT_EQ(ReadUpTo(line, 5), "*00\r\n") << "round " << round;
        close(line);
    }
    program.CloseInput();
    EXPECT_EQ(program.Wait(), 0);
}

TEST(Program, RunTimeCommandsSwitchFaults) {
    Program program({});
    const std::string path = program.Line();
    const int line = OpenLine(path);
    program.Command("refuse 1\n");
    ASSERT_NE(program.LineWith("CONTROL refuse"), "");
    Send(line, "#010259\r\r");
    EXPECT_EQ(ReadUpTo(line, 3), "?\r\n");
    Send(line, "#010259\r\r");
    EXPECT_EQ(ReadUpTo(line, 5), "*01\r\n");
    // Switched off, the message is lost; the first answer read is the one to
    // the message after "power on".
    program.Command("power off\n");
    ASSERT_NE(program.LineWith("CONTROL power"), "");
    Send(line, "#0A1FC7\r\r");
    ASSERT_NE(program.LineWith("POWER off: lost \"#0A1FC7\""), "");
    program.Command("power on\n");
    ASSERT_NE(program.LineWith("CONTROL power"), "");
    Send(line, "P\r\r");
    EXPECT_EQ(ReadUpTo(line, 5), "*00\r\n");
    program.Command("bogus\n");
    EXPECT_NE(program.Errors().find("unknown command \"bogus\""), std::string::npos);
    program.Command("refuse 2" + std::string(5000, ' ') + "junk\n");
    EXPECT_NE(program.Errors().find("longer than 4096 bytes"), std::string::npos);
    program.CloseInput();
    EXPECT_NE(program.RestOfOutput().find("EXIT end of input"), std::string::npos);
    EXPECT_EQ(program.Wait(), 0);
    close(line);
}

TEST(Program, HangsUpAfterTheCountedMessages) {
    Program program({"--hangup-after", "1"});
    const std::string path = program.Line();
    const int line = OpenLine(path);
    Send(line, "#010259\r\r");
    EXPECT_EQ(ReadUpTo(line, 5), "*01\r\n");
    EXPECT_NE(program.LineWith("HANGUP after 1 messages"), "");
    EXPECT_EQ(program.Wait(), 0);
    char byte = 0;
    EXPECT_LE(read(line, &byte, 1), 0);  // the line is gone
    close(line);
}

TEST(Program, EndsCleanlyOnSigtermAndRemovesItsLink) {
    const std::string link = ScratchLink();
    Program program({"--link", link, "--no-control"});
    const std::string path = program.Line();
    EXPECT_EQ(path, LinkTarget(link));
    const int line = OpenLine(link);
    Send(line, "R05A\r\r");
    EXPECT_EQ(ReadUpTo(line, 10), "LABEL055\r\n");
    close(line);
    program.Signal(SIGTERM);
    EXPECT_NE(program.RestOfOutput().find("EXIT signal"), std::string::npos);
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_NE(access(link.c_str(), F_OK), 0);
}

// Faults by hand from a second terminal: `echo silent on > FIFO`, as often
// as one likes, each echo a writer that comes and goes.
TEST(Program, TakesCommandsFromItsFifoAndWritesItsPtyFile) {
    char folder[] = "/tmp/qelswitch_test_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string fifo = std::string(folder) + "/control", ptyFile = std::string(folder) + "/pty";
    Program program({"--control", fifo, "--pty-file", ptyFile, "--no-control"});
    const std::string path = program.Line();
    EXPECT_EQ(FileText(ptyFile), path + "\n");
    const int line = OpenLine(path);
    Echo(fifo, "refuse 1\n");
    ASSERT_NE(program.LineWith("CONTROL refuse"), "");
    Send(line, "P\r\r");
    EXPECT_EQ(ReadUpTo(line, 3), "?\r\n");
    Echo(fifo, "silent on\n");
    ASSERT_NE(program.LineWith("CONTROL silent"), "");
    Echo(fifo, "state");  // a last line without its LF counts
    ASSERT_NE(program.LineWith("STATE BEGIN"), "");
    Echo(fifo, "quit\n");
    EXPECT_NE(program.RestOfOutput().find("EXIT quit"), std::string::npos);
    EXPECT_EQ(program.Wait(), 0);
    struct stat info {};
    EXPECT_NE(lstat(fifo.c_str(), &info), 0);
    EXPECT_NE(lstat(ptyFile.c_str(), &info), 0);
    close(line);
    rmdir(folder);
}

TEST(Program, RefusesAControlPathThatExists) {
    Program program({"--control", "/tmp"});
    EXPECT_EQ(program.Wait(), 1);
    EXPECT_NE(program.Errors().find("--control: cannot create the FIFO /tmp"), std::string::npos);
}

// As an adapter pulled out and plugged back: the driver's end fails, the
// link goes, and a new pseudo-terminal comes behind the same link.
TEST(Program, ReplugComesBackOnANewLineBehindTheLink) {
    const std::string link = ScratchLink(), ptyFile = link + ".pty";
    Program program({"--link", link, "--pty-file", ptyFile});
    const std::string old = program.Line();
    const int line = OpenLine(link);
    Send(line, "P\r\r");
    EXPECT_EQ(ReadUpTo(line, 5), "*00\r\n");
    program.Command("replug 1\nreplug 1\n");
    EXPECT_EQ(program.LineWith("UNPLUG"), "UNPLUG " + old + " for 1 s");
    EXPECT_NE(program.Errors().find("the line is unplugged already"), std::string::npos);
    EXPECT_LT(write(line, "P\r\r", 3), 0);  // the line is lost, as an unplugged adapter's
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(LinkTarget(link), "");
    EXPECT_NE(access(old.c_str(), F_OK), 0);
    const std::string back = program.LineWith("REPLUG");
    ASSERT_EQ(back.rfind("REPLUG /dev/pts/", 0), 0u) << back;
    const std::string path = back.substr(7);
    EXPECT_NE(path, old);
    EXPECT_EQ(LinkTarget(link), path);
    EXPECT_EQ(FileText(ptyFile), path + "\n");
    const int again = OpenLine(link);
    Send(again, "#010259\r\r");
    EXPECT_EQ(ReadUpTo(again, 5), "*01\r\n");
    program.CloseInput();
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_EQ(LinkTarget(link), "");
    close(line);
    close(again);
}

TEST(Program, ReplugsAfterTheCountedMessages) {
    const std::string link = ScratchLink();
    Program program({"--link", link, "--replug-after", "1", "--replug-for", "0", "--no-control"});
    const std::string old = program.Line();
    const int line = OpenLine(link);
    Send(line, "P\r\r");
    EXPECT_EQ(ReadUpTo(line, 5), "*00\r\n");  // the answer goes out first
    EXPECT_EQ(program.LineWith("UNPLUG"), "UNPLUG " + old + " for 0 s");
    const std::string back = program.LineWith("REPLUG");
    EXPECT_EQ(back, "REPLUG " + LinkTarget(link));
    EXPECT_NE(back, "REPLUG " + old);
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0);
    close(line);
}

// Answers pile up while the reader is busy writing; they wait for it.
TEST(Program, KeepsAnswersForAReaderThatReads) {
    Program program({"--no-control"});
    const int line = OpenLine(program.Line());
    std::string events;
    std::thread drain([&] { events = program.RestOfOutput(); });  // an event line per message
    constexpr size_t kCrs = 30000;
    Send(line, std::string(kCrs, '\r'));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // busy elsewhere for a moment
    EXPECT_EQ(ReadUpTo(line, kCrs * 5).size(), kCrs * 5);
    program.Signal(SIGTERM);
    drain.join();
    EXPECT_EQ(events.find("nobody reads"), std::string::npos);
    EXPECT_NE(events.find("EXIT signal"), std::string::npos);
    EXPECT_EQ(program.Wait(), 0);
    close(line);
}

}  // namespace
