#include "json_writer.h"

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
    static const char kHex[] = "0123456789abcdef";
    out << '"';
    for (char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out << '\\' << c;
        } else if (c == '\n') {
            out << "\\n";
        } else if (code < 0x20 || c == '<' || c == '>' || c == '&') {
            out << "\\u00" << kHex[code >> 4] << kHex[code & 0xF];
        } else {
            out << c;
        }
    }
    out << '"';
}

}  // namespace qeltrace
