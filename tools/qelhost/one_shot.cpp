// The one-shot commands: the command line's words into scenario commands.
#include "one_shot.h"

#include "parse.h"
#include "scenario_parser.h"
#include "visible.h"

namespace qelhost {

namespace {

struct OneShotWord {
    const char* word;
    size_t words;  // plain words after it
    const char* usage;
};

constexpr OneShotWord kOneShotWords[] = {
    {"write", 2, "write GATE VALUE"},
    {"update", 1, "update GATE"},
    {"list", 1, "list N"},
    {"send", 1, "send TEXT"},
};

const OneShotWord* FindOneShot(std::string_view word) {
    for (const OneShotWord& entry : kOneShotWords) {
        if (word == entry.word) {
            return &entry;
        }
    }
    return nullptr;
}

bool IsOptionWord(std::string_view text) {
    size_t equals = text.find('=');
    if (equals == 0 || equals == std::string_view::npos) {
        return false;
    }
    for (size_t i = 0; i < equals; ++i) {
        char c = text[i];
        if (!((c >= 'a' && c <= 'z') || (i > 0 && ((c >= '0' && c <= '9') || c == '_')))) {
            return false;
        }
    }
    return true;
}

// One argument as one word of a scenario line: escapes and $NAME as there;
// written in quotes, or quoted on the Windows command line, it is a quoted
// word; a key=value word is an option; anything else is a word whatever it
// holds (blanks, a leading '#').
bool ArgumentToken(const Argument& argument, const Variables& variables, Token* token, std::string* error) {
    const std::string& text = argument.text;
    const bool writtenInQuotes = text.size() >= 2 && text.front() == '"' && text.back() == '"';
    const bool option = !argument.quoted && IsOptionWord(text);
    std::string line = text;
    if (!writtenInQuotes && !option) {
        line = "\"";
        for (char c : text) {
            line += c == '"' ? std::string("\\\"") : std::string(1, c);
        }
        line += "\"";
    }
    std::vector<Token> tokens;
    if (!ScanLine(line, variables, &tokens, error)) {
        return false;
    }
    if (tokens.size() != 1) {
        return qeltools::Fail(error, "not one word: \"" + qeltools::ShownArgument(text) + "\"");
    }
    *token = std::move(tokens[0]);
    token->quoted = !option && (writtenInQuotes || argument.quoted);
    return true;
}

std::string Shown(const Argument& argument) {
    const std::string& text = argument.text;
    bool writtenInQuotes = text.size() >= 2 && text.front() == '"' && text.back() == '"';
    bool plain = writtenInQuotes || (!argument.quoted && !text.empty() && text.find(' ') == std::string::npos);
    return plain ? text : "\"" + text + "\"";
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::vector<bool> QuotedArgumentsOf(const char* line, size_t count) {
    std::vector<bool> quoted;
    bool inQuotes = false;
    // The program's name: quotes only group, backslashes are plain.
    while (*line != '\0' && (inQuotes || !IsBlank(*line))) {
        inQuotes = *line == '"' ? !inQuotes : inQuotes;
        ++line;
    }
    while (true) {
        while (IsBlank(*line)) {
            ++line;
        }
        if (*line == '\0') {
            break;
        }
        bool held = false;
        inQuotes = false;
        while (*line != '\0' && (inQuotes || !IsBlank(*line))) {
            size_t backslashes = 0;
            while (*line == '\\') {
                ++backslashes;
                ++line;
            }
            if (*line == '\0' || (!inQuotes && IsBlank(*line))) {
                break;
            }
            if (*line == '"' && backslashes % 2 == 0) {
                inQuotes = !inQuotes;
                held = true;
            }
            ++line;
        }
        quoted.push_back(held);
    }
    quoted.resize(count, false);
    return quoted;
}

bool IsOneShotWord(std::string_view word) {
    return FindOneShot(word) != nullptr;
}

std::string OneShotWords() {
    std::string words;
    for (const OneShotWord& entry : kOneShotWords) {
        words += (words.empty() ? "" : ", ") + std::string(entry.word);
    }
    return words;
}

bool ParseOneShot(const std::vector<Argument>& arguments, const std::string& timeout, const std::string& line,
                  const Variables& variables, Scenario* scenario, std::string* error) {
    std::string frame = "gate OUTGOING string \"\"\ngate INCOMING string \"\"\nload";
    frame += (timeout.empty() ? "" : " timeout=" + timeout) + (line.empty() ? "" : " line=" + line) + " expect 0\n";
    ParseError frameError;
    if (!ParseScenario(frame, variables, scenario, &frameError)) {
        return qeltools::Fail(error, frameError.message);
    }
    int number = 3;  // the frame's lines
    for (size_t at = 0; at < arguments.size();) {
        const OneShotWord* form = arguments[at].quoted ? nullptr : FindOneShot(arguments[at].text);
        if (form == nullptr) {
            return qeltools::Fail(error, "unknown command '" + qeltools::ShownArgument(arguments[at].text) +
                                             "'; commands: write GATE VALUE, update GATE, list N, send TEXT");
        }
        Command command;
        command.line = ++number;
        command.source = form->word;
        command.expect = 0;
        std::vector<Token> tokens(1);
        tokens[0].text = form->word;
        size_t words = 0;
        for (++at; at < arguments.size() && (words < form->words || IsOptionWord(arguments[at].text)); ++at) {
            Token token;
            if (!ArgumentToken(arguments[at], variables, &token, error)) {
                return false;
            }
            words += token.key.empty() ? 1 : 0;
            command.source += " " + Shown(arguments[at]);
            tokens.push_back(std::move(token));
        }
        if (words < form->words) {
            return qeltools::Fail(error, std::string(form->word) + " needs more: " + form->usage);
        }
        const std::string source = command.source;
        std::string problem;
        if (!ParseCommandWords(std::move(tokens), true, std::move(command), scenario, &problem)) {
            return qeltools::Fail(error, source + ": " + problem);
        }
    }
    return true;
}

}  // namespace qelhost
