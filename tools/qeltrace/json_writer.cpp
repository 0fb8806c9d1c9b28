#include "json_writer.h"

#include "json_text.h"

namespace qeltrace {

void JsonWriter::Separate() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!first_) {
        out_ << ',';
    }
    first_ = false;
}

JsonWriter& JsonWriter::Begin(char bracket) {
    Separate();
    out_ << bracket;
    first_ = true;
    return *this;
}

JsonWriter& JsonWriter::End(char bracket) {
    out_ << bracket;
    first_ = false;
    return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key) {
    Separate();
    Quote(key, out_);
    out_ << ':';
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view text) {
    Separate();
    Quote(text, out_);
    return *this;
}

JsonWriter& JsonWriter::Number(int64_t value) {
    Separate();
    out_ << value;
    return *this;
}

JsonWriter& JsonWriter::Number(uint64_t value) {
    Separate();
    out_ << value;
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
    Separate();
    out_ << (value ? "true" : "false");
    return *this;
}

void JsonWriter::Quote(std::string_view text, std::ostream& out) {
    // Escaped for a page too: the same JSON stands in the timeline page's
    // script.
    std::string quoted;
    qeltools::AppendJsonString(quoted, text, true);
    out << quoted;
}

}  // namespace qeltrace
