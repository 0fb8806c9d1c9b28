// The command list file as an operator writes it, read from a scratch
// working directory.
#include "cmdlist/command_list.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "os/private_file.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#endif

namespace fs = std::filesystem;

namespace {

const std::string kStart = "StartOfCommandList\n";
const std::string kEnd = "EndOfCommandList\n";
constexpr char kUntouched = '\x7F';

std::string Repeat(const std::string& line, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += line;
    }
    return text;
}

std::string WithCrLf(const std::string& text) {
    std::string converted;
    for (char c : text) {
        if (c == '\n') {
            converted += '\r';
        }
        converted += c;
    }
    return converted;
}

class CommandListTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        previous_ = fs::current_path();
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (int attempt = 0;; ++attempt) {
            directory_ = fs::temp_directory_path() / ("qel_cmdlist_" + std::to_string(stamp + attempt));
            if (fs::create_directory(directory_)) {
                break;
            }
        }
        fs::current_path(directory_);
        MoxAddGate("A1", "LEVEL", GATE_FORMAT_NUMERIC);
        MoxSetNumber("LEVEL", 42);
        MoxAddGate("A2", "LONG", GATE_FORMAT_STRING);
        MoxSetText("LONG", std::string(99, 'v').c_str());
    }

    void TearDown() override {
        fs::current_path(previous_);
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
    }

    // Byte for byte as given: no line end conversion on any platform.
    void WriteList(const std::string& content) {
        std::ofstream file(kCommandListFile, std::ios::binary | std::ios::trunc);
        file << content;
    }

    int32_t Find(int32_t number, size_t capacity = sizeof(DriverContext::commandBuffer)) {
        std::memset(context->commandBuffer, kUntouched, sizeof context->commandBuffer);
        return FindCommand(number, context->commandBuffer, capacity);
    }

    std::string Command() const { return context->commandBuffer; }

    bool BufferUntouchedFrom(size_t position) const {
        for (size_t i = position; i < sizeof context->commandBuffer; ++i) {
            if (context->commandBuffer[i] != kUntouched) {
                return false;
            }
        }
        return true;
    }

  private:
    fs::path previous_;
    fs::path directory_;
};

struct ListCase {
    const char* behaviour;
    std::string file;
    int32_t number;
    std::optional<std::string> command;  // none: no such entry, result 1
};

std::vector<ListCase> ListCases() {
    const std::string longPiece = "3," + std::string(1897, 'x');  // exactly one read
    return {
        {"empty file", "", 0, std::nullopt},
        {"no start marker", "1,ABC;\n2,DEF;\n", 1, std::nullopt},
        {"both markers on one line", "StartOfCommandList EndOfCommandList\n1,ABC;\n", 1, std::nullopt},
        {"start marker inside a longer line", "# the StartOfCommandList, here\n1,ABC;\n" + kEnd, 1, "ABC"},
        {"entries before the start marker ignored", "1,BEFORE;\n" + kStart + "1,AFTER;\n" + kEnd, 1, "AFTER"},
        {"entry after the end marker", kStart + "1,A;\n" + kEnd + "2,B;\n", 2, std::nullopt},
        {"first of two equal numbers wins", kStart + "3,FIRST;\n3,SECOND;\n" + kEnd, 3, "FIRST"},
        {"last line without LF", kStart + "1,A;\n4,LAST", 4, "LAST"},
        {"text without ';' keeps its LF", kStart + "8,XYZ\n" + kEnd, 8, "XYZ\n"},
        {"blanks after comma skipped, blanks before ';' kept", kStart + "7, \t ABC,D $ ;old\n", 7, "ABC,D $ "},
        {"gate value put in", kStart + "7,   ABC@LEVEL$ ;old\n", 7, "ABC42 "},
        {"'$' without '@' copied unchanged", kStart + "4,A$B$;\n", 4, "A$B$"},
        {"empty command text", kStart + "2,  ;note\n", 2, ""},
        {"number with '+'", kStart + "+12,PLUS;\n", 12, "PLUS"},
        {"number after blanks", kStart + "  12,BLANKS;\n", 12, "BLANKS"},
        {"number followed by a blank", kStart + "12 ,AFTER;\n", 12, "AFTER"},
        {"negative number", kStart + "-3,MINUS;\n", -3, "MINUS"},
        {"letter before the number", kStart + "x12,LETTER;\n", 12, std::nullopt},
        {"letter before the number reads 0", kStart + "x12,LETTER;\n", 0, "LETTER"},
        {"number too large does not wrap", kStart + "99999999999,BIG;\n", 1215752191, std::nullopt},
        {"negative number of forty digits", kStart + "-" + std::string(40, '9') + ",HUGE;\n", -2147483647 - 1,
         std::nullopt},
        {"comment line with a comma is entry 0", kStart + "# route, then wait\n" + kEnd, 0, "then wait\n"},
        {"end marker line is an entry", kStart + "5,AB;EndOfCommandList\n6,C;\n", 5, "AB"},
        {"end marker line ends the scan", kStart + "5,AB;EndOfCommandList\n6,C;\n", 6, std::nullopt},
        {"line without comma is no entry", kStart + "12\n" + kEnd, 12, std::nullopt},
        {"blank line is no entry 0", kStart + "\n\n" + kEnd, 0, std::nullopt},
        {"255 characters", kStart + "1," + std::string(255, 'c') + ";\n", 1, std::string(255, 'c')},
        {"256 characters refused", kStart + "1," + std::string(256, 'c') + ";\n", 1, std::nullopt},
        {"255 characters after substitution", kStart + "1," + std::string(156, 'c') + "@LONG$;\n", 1,
         std::string(156, 'c') + std::string(99, 'v')},
        {"256 after substitution refused", kStart + "1," + std::string(157, 'c') + "@LONG$;\n", 1, std::nullopt},
        {"long line: first piece refused", kStart + longPiece + "7,tail\n" + kEnd, 3, std::nullopt},
        {"long line: later piece is a line", kStart + longPiece + "7,tail\n" + kEnd, 7, "tail\n"},
        {"start marker in a later piece", std::string(1899, '#') + kStart + "1,A;\n", 1, "A"},
        {"start marker cut by a piece boundary", std::string(1890, '#') + kStart + "1,A;\n", 1, std::nullopt},
        {"start marker on line 10000", Repeat("filler\n", 9999) + kStart + "1,A;\n", 1, "A"},
        {"start marker on line 10001", Repeat("filler\n", 10000) + kStart + "1,A;\n", 1, std::nullopt},
        {"entry on scan line 10000", kStart + Repeat("filler\n", 9999) + "1,A;\n", 1, "A"},
        {"entry on scan line 10001", kStart + Repeat("filler\n", 10000) + "1,A;\n", 1, std::nullopt},
    };
}

// Every case is read twice, from an LF file and from its CR LF twin, with the
// same outcome.
TEST_F(CommandListTest, FileCasesAlikeWithLfAndCrLf) {
    for (const ListCase& item : ListCases()) {
        for (bool crlf : {false, true}) {
            SCOPED_TRACE(std::string(item.behaviour) + (crlf ? " (CR LF)" : " (LF)"));
            WriteList(crlf ? WithCrLf(item.file) : item.file);
            int32_t result = Find(item.number);
            if (!item.command) {
                EXPECT_EQ(result, 1);
                EXPECT_TRUE(BufferUntouchedFrom(0));
            } else {
                EXPECT_EQ(result, 0);
                EXPECT_EQ(Command(), *item.command);
                EXPECT_TRUE(BufferUntouchedFrom(item.command->size() + 1));
            }
        }
    }
}

// One reading on every build: a CR LF folds once into an LF, and no byte ends
// the file early (Windows' text mode would fold twice and stop at Ctrl-Z).
TEST_F(CommandListTest, LineEndsFoldOnceOnEveryBuild) {
    WriteList("StartOfCommandList\r\r\n1,AB\r\r\n2,CD;\r\r\n3,\x1A;\r\n4,EF\r\n5,GH\r\r\r\n");
    const struct {
        int32_t number;
        const char* command;
    } cases[] = {
        {1, "AB\r\n"}, {2, "CD"}, {3, "\x1A"}, {4, "EF\n"}, {5, "GH\r\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        ASSERT_EQ(Find(c.number), 0);
        EXPECT_EQ(Command(), c.command);
    }
}

TEST_F(CommandListTest, NoFileFindsNothing) {
    EXPECT_EQ(Find(0), 1);
    EXPECT_TRUE(BufferUntouchedFrom(0));
}

TEST_F(CommandListTest, OperatorEditTakesEffectOnTheNextCall) {
    WriteList(kStart + "1,OLD;\n" + kEnd);
    ASSERT_EQ(Find(1), 0);
    EXPECT_EQ(Command(), "OLD");
    WriteList(kStart + "1,NEW;\n2,ADDED;\n" + kEnd);
    ASSERT_EQ(Find(1), 0);
    EXPECT_EQ(Command(), "NEW");
    EXPECT_EQ(Find(2), 0);
    EXPECT_EQ(Command(), "ADDED");
    fs::remove(kCommandListFile);
    EXPECT_EQ(Find(1), 1);
}

TEST_F(CommandListTest, CommandLongerThanTheDestinationIsRefused) {
    WriteList(kStart + "1,ABCD;\n2,ABC;\n" + kEnd);
    EXPECT_EQ(Find(1, 4), 1);
    EXPECT_TRUE(BufferUntouchedFrom(0));
    EXPECT_EQ(Find(2, 4), 0);
    EXPECT_EQ(Command(), "ABC");
}

// A program the host starts while the list is open inherits nothing of it;
// gate values are looked up as the calling instance's own client.
TEST_F(CommandListTest, ListIsKeptFromChildProcessesAndReadAsTheInstancesClient) {
    WriteList(kStart + "1,A@LEVEL$;\n" + kEnd);
    FILE* file = OpenPrivateFile(kCommandListFile);
    ASSERT_NE(file, nullptr);
#if defined(_WIN32)
    DWORD flags = 0;
    ASSERT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), &flags));
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
#else
    EXPECT_NE(fcntl(fileno(file), F_GETFD) & FD_CLOEXEC, 0);
#endif
    std::fclose(file);

    std::memset(context->commandBuffer, kUntouched, sizeof context->commandBuffer);
    ASSERT_EQ(FindCommand(1, context->commandBuffer, sizeof context->commandBuffer, nullptr, 77), 0);
    EXPECT_EQ(Command(), "A42");
    ASSERT_GT(MoxCallCount(), 0);
    EXPECT_EQ(std::string(MoxCall(0)), "MoxGetGateId 77 LEVEL");
}

// Two instances in one host: each looks its gates up as the client its own
// start registered, not as the instance started last.
TEST_F(CommandListTest, EachInstanceLooksUpGatesAsItsOwnClient) {
    WriteList(kStart + "1,A@LEVEL$;\n" + kEnd);
    TestContext second;
    auto call = [](DriverContext* record, int32_t code, void* data) {
        DriverRequest request = MakeRequest(record, code, data);
        return LoadedQelMain()(&request);
    };
    PortConfig config = MakePortConfig("NUL");
    MoxSetNextClientId(5);
    ASSERT_EQ(call(context, REQ_LOAD, &config), 0);
    MoxSetNextClientId(6);
    ASSERT_EQ(call(&second.context, REQ_LOAD, &config), 0);
    const int before = MoxCallCount();
    GateValueArea value(1);
    GateAccessRecord gate("GET_STR_FROM_FILE", GATE_FORMAT_NUMERIC, value.bytes);
    EXPECT_EQ(call(context, REQ_WRITE_GATE, &gate.access), 0);
    std::vector<std::string> lookups;
    for (int i = before; i < MoxCallCount(); ++i) {
        if (std::string(MoxCall(i)).rfind("MoxGetGateId ", 0) == 0) {
            lookups.push_back(MoxCall(i));
        }
    }
    EXPECT_EQ(lookups, std::vector<std::string>{"MoxGetGateId 5 LEVEL"});
    call(context, REQ_STOP, nullptr);
    call(&second.context, REQ_STOP, nullptr);
}

// Where the platform lists a process's open files, repeated calls must not
// make their count grow by one each (other threads may open a file now and
// then); on Windows an open stream would stop the file being removed.
TEST_F(CommandListTest, FileIsClosedOnEveryPath) {
    auto openFiles = [] {
        std::error_code error;
        fs::directory_iterator entries("/proc/self/fd", error);
        return error ? -1L : static_cast<long>(std::distance(entries, fs::directory_iterator()));
    };
    const struct {
        const char* path;
        std::string file;
        int32_t number;
    } paths[] = {
        {"no start marker", "1,A;\n", 1},
        {"empty list", "StartOfCommandList EndOfCommandList\n", 1},
        {"found", kStart + "1,A;\n" + kEnd, 1},
        {"found with a gate value", kStart + "1,@LEVEL$;\n" + kEnd, 1},
        {"found but too long", kStart + "1," + std::string(300, 'c') + ";\n", 1},
        {"stopped at the end marker", kStart + "1,A;\n" + kEnd + "2,B;\n", 2},
        {"end of file", kStart + "1,A;\n", 2},
    };
    for (const auto& path : paths) {
        SCOPED_TRACE(path.path);
        WriteList(path.file);
        constexpr int kCalls = 8;
        long before = openFiles();
        for (int call = 0; call < kCalls; ++call) {
            Find(path.number);
        }
        EXPECT_LT(openFiles() - before, kCalls);
        std::error_code error;
        EXPECT_TRUE(fs::remove(kCommandListFile, error)) << error.message();
    }
}

}  // namespace
