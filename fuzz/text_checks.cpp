// The checks of what the tools write, built without the fuzzer's coverage
// hooks: their comparisons are no code of the tools', so they should not
// steer the fuzzing.
#include "text_checks.h"

#include <set>
#include <string>

namespace {

// A JSON reader that says only whether the text is one JSON value.
class JsonCheck {
  public:
    static bool Valid(std::string_view text) {
        JsonCheck check(text);
        check.Blank();
        if (!check.Value(0)) {
            return false;
        }
        check.Blank();
        return check.at_ == text.size();
    }

  private:
    static constexpr int kDeepest = 64;

    explicit JsonCheck(std::string_view text) : text_(text) {}

    bool More() const { return at_ < text_.size(); }
    char Peek() const { return More() ? text_[at_] : '\0'; }
    bool Take(char c) {
        if (Peek() != c || !More()) {
            return false;
        }
        ++at_;
        return true;
    }
    bool TakeWord(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) {
            return false;
        }
        at_ += word.size();
        return true;
    }
    void Blank() {
        while (More() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) {
            ++at_;
        }
    }
    static bool Digit(char c) { return c >= '0' && c <= '9'; }
    static bool Hex(char c) { return Digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

    bool Value(int depth) {
        if (depth > kDeepest) {
            return false;
        }
        switch (Peek()) {
            case '{':
                return Object(depth);
            case '[':
                return Array(depth);
            case '"': {
                std::string ignored;
                return String(&ignored);
            }
            case 't':
                return TakeWord("true");
            case 'f':
                return TakeWord("false");
            case 'n':
                return TakeWord("null");
            default:
                return Number();
        }
    }

    bool Object(int depth) {
        Take('{');
        Blank();
        if (Take('}')) {
            return true;
        }
        std::set<std::string> keys;
        do {
            Blank();
            std::string key;
            if (!String(&key) || !keys.insert(key).second) {
                return false;
            }
            Blank();
            if (!Take(':')) {
                return false;
            }
            Blank();
            if (!Value(depth + 1)) {
                return false;
            }
            Blank();
        } while (Take(','));
        return Take('}');
    }

    bool Array(int depth) {
        Take('[');
        Blank();
        if (Take(']')) {
            return true;
        }
        do {
            Blank();
            if (!Value(depth + 1)) {
                return false;
            }
            Blank();
        } while (Take(','));
        return Take(']');
    }

    bool Number() {
        Take('-');
        if (Take('0')) {
            // no leading zeros
        } else if (Digit(Peek())) {
            while (Digit(Peek())) {
                ++at_;
            }
        } else {
            return false;
        }
        if (Take('.')) {
            if (!Digit(Peek())) {
                return false;
            }
            while (Digit(Peek())) {
                ++at_;
            }
        }
        if (Peek() == 'e' || Peek() == 'E') {
            ++at_;
            if (!Take('+')) {
                Take('-');
            }
            if (!Digit(Peek())) {
                return false;
            }
            while (Digit(Peek())) {
                ++at_;
            }
        }
        return true;
    }

    // A string, its escapes read into *key (as written: enough to tell keys
    // apart).
    bool String(std::string* key) {
        if (!Take('"')) {
            return false;
        }
        while (More()) {
            const auto byte = static_cast<unsigned char>(text_[at_]);
            if (byte == '"') {
                ++at_;
                return true;
            }
            if (byte < 0x20) {
                return false;
            }
            if (byte == '\\') {
                if (!Escape(key)) {
                    return false;
                }
            } else if (byte >= 0x80) {
                if (!Utf8(key)) {
                    return false;
                }
            } else {
                *key += static_cast<char>(byte);
                ++at_;
            }
        }
        return false;
    }

    bool Escape(std::string* key) {
        ++at_;
        const char c = Peek();
        if (c == 'u') {
            if (at_ + 4 >= text_.size() || !Hex(text_[at_ + 1]) || !Hex(text_[at_ + 2]) || !Hex(text_[at_ + 3]) ||
                !Hex(text_[at_ + 4])) {
                return false;
            }
            *key += text_.substr(at_ - 1, 6);
            at_ += 5;
            return true;
        }
        if (std::string_view("\"\\/bfnrt").find(c) == std::string_view::npos || !More()) {
            return false;
        }
        *key += '\\';
        *key += c;
        ++at_;
        return true;
    }

    // One UTF-8 sequence of two to four bytes: no overlong form, no
    // surrogate, nothing past U+10FFFF.
    bool Utf8(std::string* key) {
        const auto byte = [&](size_t i) { return static_cast<unsigned char>(text_[at_ + i]); };
        const unsigned char lead = byte(0);
        const size_t length = lead >= 0xF0 ? 4 : (lead >= 0xE0 ? 3 : 2);
        if (lead < 0xC2 || lead > 0xF4 || at_ + length > text_.size()) {
            return false;
        }
        for (size_t i = 1; i < length; ++i) {
            if ((byte(i) & 0xC0) != 0x80) {
                return false;
            }
        }
        if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) > 0x9F) || (lead == 0xF0 && byte(1) < 0x90) ||
            (lead == 0xF4 && byte(1) > 0x8F)) {
            return false;
        }
        *key += text_.substr(at_, length);
        at_ += length;
        return true;
    }

    std::string_view text_;
    size_t at_ = 0;
};

}  // namespace

bool ValidJson(std::string_view text) {
    return JsonCheck::Valid(text);
}

size_t CountNoCase(std::string_view text, std::string_view word) {
    size_t count = 0;
    for (size_t at = 0; at + word.size() <= text.size(); ++at) {
        size_t i = 0;
        while (i < word.size() &&
               (text[at + i] >= 'A' && text[at + i] <= 'Z' ? text[at + i] + 32 : text[at + i]) == word[i]) {
            ++i;
        }
        count += i == word.size() ? 1 : 0;
    }
    return count;
}

bool TerminalSafe(std::string_view text) {
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\n' && c != '\t') || byte == 0x7F) {
            return false;
        }
    }
    return true;
}
