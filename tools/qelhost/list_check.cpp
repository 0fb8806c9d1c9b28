// The command list checker: the driver's reading of qelkophv01.ini, line by
// line, with a remark wherever the driver would do what the writer of the
// list hardly meant. The checksum is the driver's own code.
#include "list_check.h"

#include <algorithm>

#include "cmdlist/command_list.h"
#include "cmdlist/substitution.h"
#include "context/text.h"
#include "list_message.h"
#include "visible.h"

namespace qelhost {

namespace {

// How the driver reads the file.
constexpr std::string_view kStartMarker = kCommandListStart;
constexpr std::string_view kEndMarker = kCommandListEnd;
constexpr size_t kCommandLimit = kWorkAreaSize - 1;
// The gate GET_STR_FROM_FILE asks with its 16-bit number.
constexpr int64_t kLargestAsked = 0xFFFF;

// One read of the driver's walk: a line, or a piece of a longer one.
struct Piece {
    ListPlace place = ListPlace::kBeforeStart;
    int line = 0;
    size_t column = 0;  // the line's columns before this piece
    std::string text;   // up to a NUL; a CR LF end reads as LF
    bool continued = false;
    bool cut = false;  // a NUL ended it
    bool entry = false;
    int64_t number = 0;
    size_t commandAt = 0;  // where the command text begins in text
    std::string command;   // as the driver copies it, before gate values
};

bool Collect(void* user, const ListRead* read) {
    auto* pieces = static_cast<std::vector<Piece>*>(user);
    Piece piece;
    piece.place = read->place;
    piece.line = read->line;
    piece.text = read->text;
    piece.continued = read->continued;
    piece.cut = read->nulCut;
    if (read->continued && !pieces->empty()) {
        piece.column = pieces->back().column + pieces->back().text.size();
    }
    piece.entry = read->entry;
    if (read->entry) {
        piece.number = read->number;
        piece.commandAt = static_cast<size_t>(read->command - read->text);
        piece.command = std::string(read->command, read->commandLength);
    }
    pieces->push_back(std::move(piece));
    return true;
}

bool Holds(const Piece& piece, std::string_view word) {
    return piece.text.find(word) != std::string::npos;
}

// The marker word stands first in its line, blanks aside.
bool StandsFirst(const Piece& piece, std::string_view word) {
    size_t at = piece.text.find(word);
    return All(std::string_view(piece.text).substr(0, at), IsBlank);
}

// The number before the comma as the driver reads it (atoi's rules).
struct EntryNumber {
    int64_t value = 0;
    bool digits = false;
    std::string_view after;  // what follows the digits
};

EntryNumber ReadNumber(std::string_view text) {
    const DecimalRead read = ScanDecimal(text.data(), text.size());
    return EntryNumber{read.value, read.digits, text.substr(read.end)};
}

// What the walk through one file collects.
class Checker {
  public:
    explicit Checker(ListCheck& check) : check_(check) {}

    void Note(int line, std::string text) { check_.remarks.push_back({line, false, std::move(text), 0}); }

    void Flag(int line, std::string text) { Flag(line, 0, std::move(text)); }

    void Flag(int line, size_t column, std::string text) {
        check_.remarks.push_back({line, true, std::move(text), column});
        ++check_.flagged;
    }

    // A line inside the list: an entry when it holds a comma.
    void InsideLine(const Piece& piece) {
        if (piece.continued && !lastContinuedLine(piece.line)) {
            Flag(piece.line,
                 "the line is longer than 1899 characters: the driver reads it in pieces, each a "
                 "line of its own");
        }
        if (piece.cut) {
            Flag(piece.line, "a NUL byte: the driver's line ends there");
        }
        if (piece.entry) {
            Entry(piece, piece.text.find(','));
        } else {
            NumberWithoutComma(piece);
        }
    }

    // A line after the end of the list, which the driver never reads.
    void AfterLine(const Piece& piece, int endLine) {
        size_t comma = piece.text.find(',');
        EntryNumber number = ReadNumber(std::string_view(piece.text).substr(0, comma));
        if (comma != std::string::npos && number.digits) {
            Flag(piece.line, "entry " + std::to_string(number.value) + " after the end of the list (line " +
                                 std::to_string(endLine) + "): the driver never reads it");
        }
        for (std::string_view word : {kStartMarker, kEndMarker}) {
            if (Holds(piece, word)) {
                Flag(piece.line, std::string(word) + " after the end of the list (line " + std::to_string(endLine) +
                                     "): nothing after that line is read");
            }
        }
    }

  private:
    bool lastContinuedLine(int line) {
        bool seen = flaggedLongLine_ == line;
        flaggedLongLine_ = line;
        return seen;
    }

    // A line that begins with a number but holds no comma is no entry: the
    // driver passes it by, and a write of that number finds nothing.
    void NumberWithoutComma(const Piece& piece) {
        EntryNumber number = ReadNumber(piece.text);
        if (!number.digits || piece.continued) {
            return;
        }
        const size_t at = piece.text.size() - number.after.size();
        std::string next = number.after.empty() || number.after[0] == '\n' ? std::string("the line's end")
                                                                           : Shown(number.after.substr(0, 1));
        Flag(piece.line, piece.column + at + 1,
             "the number " + std::to_string(number.value) + " is followed by " + next +
                 ", not its comma: the driver sees no entry here");
    }

    void Entry(const Piece& piece, size_t comma) {
        std::string_view line = piece.text;
        EntryNumber number = ReadNumber(line.substr(0, comma));
        ListEntry entry;
        entry.line = piece.line;
        entry.number = piece.number;
        entry.text = piece.command;
        commandColumn_ = piece.column + piece.commandAt + 1;
        const ListEntry* first = FirstWithNumber(entry.number);
        entry.found = first == nullptr && entry.text.size() <= kCommandLimit;

        std::vector<std::string> gates;
        std::vector<ListRemark> flags;
        std::string shape = CheckText(entry, &gates);
        std::string shown = "entry " + std::to_string(entry.number) + " " + Shown(entry.text);
        if (!gates.empty()) {
            shown += " needs the gate" + std::string(gates.size() > 1 ? "s" : "");
            for (const std::string& gate : gates) {
                shown += " " + Shown(gate);
            }
        }
        Note(piece.line, shown + shape);

        if (!number.digits) {
            Flag(piece.line, "no number before the comma, so this line is entry 0 (a comment holding a comma?)");
        } else if (!All(number.after, IsBlank)) {
            Flag(piece.line, piece.column + (comma - number.after.size()) + 1,
                 "the number reads as " + std::to_string(number.value) + "; " + Shown(number.after) +
                     " after it is ignored");
        }
        if (entry.number < 0 || entry.number > kLargestAsked) {
            Flag(piece.line,
                 "entry " + std::to_string(entry.number) + " is never asked for: GET_STR_FROM_FILE carries 0 to 65535");
        }
        if (first != nullptr) {
            Flag(piece.line, "entry " + std::to_string(entry.number) + " again: the first, on line " +
                                 std::to_string(first->line) + ", wins; this one is never sent");
        }
        for (ListRemark& flag : pending_) {
            Flag(piece.line, flag.column, std::move(flag.text));
        }
        pending_.clear();
        check_.entries.push_back(std::move(entry));
    }

    const ListEntry* FirstWithNumber(int64_t number) const {
        for (const ListEntry& entry : check_.entries) {
            if (entry.number == number) {
                return &entry;
            }
        }
        return nullptr;
    }

    // The command text's own faults, kept for after the entry's line; returns
    // what the entry's line adds about its message shape.
    std::string CheckText(const ListEntry& entry, std::vector<std::string>* gates) {
        std::string_view text = entry.text;
        if (!text.empty() && text.back() == '\n') {
            Later("no \";\" ends the command: the line end (LF) goes out with it");
            text.remove_suffix(1);
        }
        if (entry.text.size() > kCommandLimit) {
            Later(std::to_string(entry.text.size()) +
                  " characters: the driver refuses a command over 255 characters, and the write fails");
        }
        bool references = CheckReferences(text, gates);
        return references ? std::string() : CheckMessage(text);
    }

    void Later(std::string text, size_t at = SIZE_MAX) {
        pending_.push_back({0, true, std::move(text), at == SIZE_MAX ? 0 : commandColumn_ + at});
    }

    // The gates the driver's substitution looks up, walking as it walks.
    // Returns whether the text holds an "@".
    bool CheckReferences(std::string_view text, std::vector<std::string>* gates) {
        size_t at = text.find('@');
        bool any = at != std::string_view::npos;
        for (; at != std::string_view::npos; at = text.find('@', at)) {
            size_t dollar = text.find('$', at + 1);
            if (dollar == std::string_view::npos) {
                Later("\"@\" without a \"$\" after it: the driver cuts the command there, to " +
                      Shown(text.substr(0, at)));
                break;
            }
            std::string_view name = text.substr(at + 1, dollar - at - 1);
            if (name.empty()) {
                Later("\"@$\" names no gate: only \"$\" goes out");
            } else if (size_t inner = name.find('@'); inner != std::string_view::npos) {
                Later("the gate name " + Shown(name) + " holds \"@\": is the \"$\" after " +
                      Shown(name.substr(0, inner)) + " missing?");
            }
            if (!name.empty()) {
                gates->push_back(std::string(name));
            }
            at = dollar + 1;
        }
        return any;
    }

    // A text that looks like one of the switcher's messages, checked for its
    // length and checksum digit as the driver's encoder makes them.
    std::string CheckMessage(std::string_view text) {
        std::vector<MessageRemark> remarks;
        std::string shape = CheckListMessage(text, &remarks);
        for (MessageRemark& remark : remarks) {
            Later(std::move(remark.text), remark.at);
        }
        return shape;
    }

    ListCheck& check_;
    std::vector<ListRemark> pending_;
    int flaggedLongLine_ = 0;
    size_t commandColumn_ = 0;  // the column of the entry's command text
};

}  // namespace

ListCheck CheckCommandList(std::string_view bytes) {
    ListCheck check;
    Checker checker(check);
    std::vector<Piece> pieces;
    WalkCommandList(nullptr, bytes.data(), bytes.size(), true, Collect, &pieces);
    auto opening =
        std::find_if(pieces.begin(), pieces.end(), [](const Piece& p) { return p.place == ListPlace::kStart; });
    if (opening == pieces.end()) {
        bool later = std::any_of(pieces.begin(), pieces.end(), [](const Piece& p) { return Holds(p, kStartMarker); });
        checker.Flag(0, later ? "StartOfCommandList stands beyond the first 10,000 lines, where the driver stops "
                                "looking: it finds no list, and every write of GET_STR_FROM_FILE fails"
                              : "no line holds StartOfCommandList: the driver finds no list, and every write of "
                                "GET_STR_FROM_FILE fails");
        return check;
    }
    checker.Note(opening->line, "the list starts (the first line that holds StartOfCommandList)");
    if (!StandsFirst(*opening, kStartMarker)) {
        checker.Flag(opening->line,
                     "StartOfCommandList is not first in this line (a comment naming it?), yet the "
                     "list starts here");
    }
    if (Holds(*opening, kEndMarker)) {
        checker.Flag(opening->line, "the line holds both markers: the list is empty");
        return check;
    }
    int endLine = 0;
    for (auto piece = opening + 1; piece != pieces.end(); ++piece) {
        if (piece->place == ListPlace::kUnread) {
            checker.Flag(piece->line,
                         "the driver reads at most 10,000 lines after the start marker: nothing from "
                         "here on is found");
            return check;
        }
        if (piece->place == ListPlace::kAfterEnd) {
            checker.AfterLine(*piece, endLine);
            continue;
        }
        if (Holds(*piece, kStartMarker)) {
            checker.Flag(piece->line, "StartOfCommandList inside the list starts nothing: the list started on line " +
                                          std::to_string(opening->line));
        }
        checker.InsideLine(*piece);
        if (piece->place == ListPlace::kEnd) {
            endLine = piece->line;
            checker.Note(piece->line, "the list ends (the first line after its start that holds EndOfCommandList)");
            if (!StandsFirst(*piece, kEndMarker)) {
                checker.Flag(piece->line,
                             "EndOfCommandList is not first in this line (a comment naming it?), yet "
                             "the list ends here");
            }
        }
    }
    if (endLine == 0) {
        checker.Note(0, "no EndOfCommandList after the start: the list runs to the end of the file");
    }
    return check;
}

std::string ListCheckReport(const ListCheck& check, const std::string& name) {
    std::string report;
    for (const ListRemark& remark : check.remarks) {
        report += name + ":" + (remark.line > 0 ? std::to_string(remark.line) + ":" : std::string()) +
                  (remark.column > 0 ? std::to_string(remark.column) + ":" : std::string()) + " " +
                  (remark.flagged ? "FLAG " : "") + remark.text + "\n";
    }
    report += "check-list: " + std::to_string(check.entries.size()) + " entries, " + std::to_string(check.flagged) +
              " flagged\n";
    return report;
}

}  // namespace qelhost
