// The tools' one writer of JSON text: strings escaped, commas placed. Text
// that is UTF-8 passes as UTF-8; a byte that is not (and NUL, and every
// other control byte) is written as a \u escape, never raw.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace qeltools {

// The length of the well-formed UTF-8 sequence at text[at] (1 to 4), or 0
// where none begins (overlong forms, surrogates, past U+10FFFF, ASCII).
size_t Utf8Length(std::string_view text, size_t at);

// The bytes as one JSON string, quotes included. With `inPage`, <, > and &
// are escaped too, so that the string can stand inside a page's script.
void AppendJsonString(std::string& out, std::string_view bytes, bool inPage = false);

class JsonWriter {
  public:
    // inPage: strings escaped to stand in a page's script (AppendJsonString).
    explicit JsonWriter(std::ostream& out, bool inPage = false) : out_(out), inPage_(inPage) {}
    JsonWriter& Begin(char bracket);  // '{' or '['
    JsonWriter& End(char bracket);
    JsonWriter& Key(std::string_view key);
    JsonWriter& String(std::string_view text);
    JsonWriter& StringOrNull(const std::optional<std::string>& text);
    JsonWriter& Number(int64_t value);
    JsonWriter& Number(uint64_t value);
    JsonWriter& Number(int value) { return Number(static_cast<int64_t>(value)); }
    JsonWriter& Bool(bool value);
    JsonWriter& BoolOrNull(std::optional<bool> value);
    JsonWriter& Null();

  private:
    void Separate();
    std::ostream& out_;
    bool inPage_;
    bool first_ = true;
    bool afterKey_ = false;
};

}  // namespace qeltools
