// The command list checker: what it shows and flags for small list files,
// and that every entry it says the driver finds is what the driver's own
// FindCommand delivers for that number.
#include "list_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cmdlist/command_list.h"

namespace qelhost {
namespace {

// The driver reads qelkophv01.ini in the working directory.
class InListFolder {
  public:
    explicit InListFolder(const std::string& bytes)
        : before_(std::filesystem::current_path()),
          folder_(std::filesystem::temp_directory_path() / "qelhost_list_check") {
        std::filesystem::create_directories(folder_);
        std::ofstream(folder_ / kCommandListFile, std::ios::binary) << bytes;
        std::filesystem::current_path(folder_);
    }
    ~InListFolder() {
        std::filesystem::current_path(before_);
        std::filesystem::remove_all(folder_);
    }

  private:
    std::filesystem::path before_;
    std::filesystem::path folder_;
};

// For each entry without gate references: the driver delivers its text
// when the checker says it finds it, and nothing when it says not.
void ExpectTheDriverAgrees(const std::string& bytes, const ListCheck& check) {
    InListFolder folder(bytes);
    for (const ListEntry& entry : check.entries) {
        const ListEntry* first = &entry;
        for (const ListEntry& other : check.entries) {
            if (other.number == entry.number) {
                first = &other;
                break;
            }
        }
        if (first != &entry || entry.text.find('@') != std::string::npos || entry.number != int32_t(entry.number)) {
            continue;
        }
        char command[1000] = "untouched";
        int32_t result = FindCommand(static_cast<int32_t>(entry.number), command, sizeof command);
        EXPECT_EQ(result, entry.found ? 0 : 1) << "entry " << entry.number << " of\n" << bytes;
        EXPECT_EQ(std::string(command), entry.found ? entry.text : "untouched") << "entry " << entry.number;
    }
}

std::string List(const std::string& lines) {
    return "StartOfCommandList\n" + lines + "EndOfCommandList\n";
}

TEST(CommandListCheck, ShowsWhatTheDriverFindsAndFlagsWhatWouldMisbehave) {
    struct Case {
        std::string bytes;
        std::vector<std::string> shown;
        int flagged;
    } cases[] = {
        {"; commands for the gate GET_STR_FROM_FILE\n" + List("1, #010259; comment\n2,\t#0A1FC7 ;\n"),
         {"2: the list starts", "3: entry 1 \"#010259\" (a \"#\" message: length and checksum right)",
          "4: FLAG the blanks after a \"#\" message \"#0A1FC7\" go out", "5: the list ends"},
         1},
        {List("1, #010258;\n"), {"checksum digit is 8, the driver's encoder gives 9 for \"#01025\""}, 1},
        {List("1, #0102599;\n"), {"which has 7 characters before its CR; this has 8"}, 1},
        {List("1, R05;\n"), {"is its checksum digit, A, missing?"}, 1},
        {List("1, M001201058;\n2, L0502AB9;\n3, !01020010102E;\n4, P;\n5, Lobby lights;\n6, Read;\n"),
         {"entry 1 \"M001201058\" (an \"M\" message", "(an \"L\" message with a text of 02 characters: length",
          "(a \"!\" message: length", "entry 4 \"P\" (the preamble \"P\")", "entry 5 \"Lobby lights\"\n",
          "entry 6 \"Read\"\n"},
         0},
        {List("1, L0503AB9;\n2, P1;\n"), {"this has 8", "which is \"P\" alone"}, 2},
        {List("1, #010259\n"), {"entry 1 \"#010259<LF>\"", "no \";\" ends the command: the line end (LF) goes out"}, 1},
        {List("; monitor 2, value 4;\n"), {"entry 0 \"value 4\"", "no number before the comma"}, 1},
        {List("4x, R05A;\n70000, R05A;\n"), {"the number reads as 4; \"x\" after it", "entry 70000 is never asked"}, 2},
        {List("1, #010259;\n1, #0A1FC7;\n"), {"3: FLAG entry 1 again: the first, on line 2, wins"}, 1},
        {"; the list follows StartOfCommandList\n" + List("1, #010259;\n"),
         {"1: FLAG StartOfCommandList is not first", "2: FLAG StartOfCommandList inside the list starts nothing"},
         2},
        {List("; up to EndOfCommandList\n1, #010259;\n"),
         {"2: FLAG EndOfCommandList is not first", "3: FLAG entry 1 after the end of the list (line 2)",
          "4: FLAG EndOfCommandList after the end"},
         3},
        {List("5, AB;EndOfCommandList\n6, CD;\n"), {"entry 5 \"AB\"", "EndOfCommandList is not first"}, 3},
        {"1, #010259;\n", {"no line holds StartOfCommandList"}, 1},
        {"StartOfCommandList EndOfCommandList\n1, A;\n", {"the list is empty"}, 1},
        {List("5, A@B;\n6, @$;\n7, @A@B$;\n"),
         {"cuts the command there, to \"A\"", "\"@$\" names no gate", "is the \"$\" after \"A\" missing?"},
         3},
        {List("5, A@LEVEL$B@CAPTION$;\n"), {"entry 5 \"A@LEVEL$B@CAPTION$\" needs the gates \"LEVEL\" \"CAPTION\""}, 0},
        {List("6, " + std::string(256, 'x') + ";\n7, " + std::string(255, 'y') + ";\n"),
         {"256 characters: the driver refuses"},
         1},
        {List("7, " + std::string(2000, 'x') + "\n"), {"longer than 1899 characters", "1896 characters"}, 2},
        {List(std::string("8, AB\0CD;\n", 10)), {"entry 8 \"AB\"", "a NUL byte"}, 1},
        {"StartOfCommandList\r\n9, #010259\r\nEndOfCommandList\r\n", {"entry 9 \"#010259<LF>\""}, 1},
        {"StartOfCommandList\n1, #010259;\n", {"no EndOfCommandList after the start"}, 0},
        {List("1, #010259;\n2.  #01012D;\n 33\n"),
         {"list:3:2: FLAG the number 2 is followed by \".\", not its comma: the driver sees no entry here",
          "list:4:4: FLAG the number 33 is followed by the line's end"},
         2},
        {List("1, #0101 1E;\n2,#0101X1E;\n3, !0506000A0Az1D;\n"),
         {"list:2:9: FLAG \" \" in a \"#\" command, where the switcher takes only hex digits",
          "list:3:8: FLAG \"X\" in a \"#\"", "list:4:15: FLAG \"z\" in a \"!\""},
         3},
    };
    for (const Case& c : cases) {
        ListCheck check = CheckCommandList(c.bytes);
        std::string report = ListCheckReport(check, "list");
        for (const std::string& shown : c.shown) {
            EXPECT_NE(report.find(shown), std::string::npos) << shown << "\n" << report;
        }
        EXPECT_EQ(check.flagged, c.flagged) << report;
        EXPECT_NE(report.find(" " + std::to_string(c.flagged) + " flagged\n"), std::string::npos) << report;
        ExpectTheDriverAgrees(c.bytes, check);
    }
}

}  // namespace
}  // namespace qelhost
