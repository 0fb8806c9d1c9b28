// The one notation for texts in scenarios and in qelhost's output.
#include "text_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace qelhost {
namespace {

// Decodes a whole text the way the scenario scanner does.
bool Decode(const std::string& text, std::string* out, std::string* error) {
    out->clear();
    for (size_t at = 0; at < text.size();) {
        if (text[at] == '\\' || text[at] == '<') {
            if (!DecodeEscape(text, &at, out, error)) {
                return false;
            }
        } else {
            *out += text[at++];
        }
    }
    return true;
}

TEST(TextCodec, DecodesEscapesIntoBytes) {
    struct Case {
        const char* written;
        std::string bytes;
    } cases[] = {
        {"P<CR>", "P\r"},
        {"<STX>R01<ETX>", "\x02R01\x03"},
        {"*01<CR><LF>", "*01\r\n"},
        {"<0D><7F><C4>", "\r\x7F\xC4"},
        {"<DEL><ESC><US><SOH>", "\x7F\x1B\x1F\x01"},
        {"\\x0d\\x0A\\xff", "\r\n\xFF"},
        {"\\r\\n\\t", "\r\n\t"},
        {"\\\\ \\\" \\$ \\#", "\\ \" $ #"},
        {"\\<CR>", "<CR>"},
        // A '<' that names no byte is an ordinary character.
        {"a<b", "a<b"},
        {"<cr>", "<cr>"},
        {"<0d>", "<0d>"},
        {"<CRLF>", "<CRLF>"},
        {"<>", "<>"},
        {"<", "<"},
        {"<CR", "<CR"},
    };
    for (const Case& c : cases) {
        std::string out, error;
        ASSERT_TRUE(Decode(c.written, &out, &error)) << c.written << ": " << error;
        EXPECT_EQ(out, c.bytes) << c.written;
    }
}

TEST(TextCodec, RefusesMalformedEscapesAndNul) {
    struct Case {
        const char* written;
        const char* message;
    } cases[] = {
        {"ab\\", "backslash ends"},  {"\\q", "unknown escape \\q"}, {"\\x4", "two hex digits"},
        {"\\xg0", "two hex digits"}, {"<NUL>", "NUL byte"},         {"<00>", "NUL byte"},
        {"\\x00", "NUL byte"},
    };
    for (const Case& c : cases) {
        std::string out, error;
        EXPECT_FALSE(Decode(c.written, &out, &error)) << c.written;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.written << ": " << error;
    }
}

TEST(TextCodec, ShowsControlBytesByNameOrHex) {
    struct Case {
        std::string bytes;
        const char* shown;
    } cases[] = {
        {"#01025 9\r\r", "\"#01025 9<CR><CR>\""},
        {"\x02R\n", "\"<02>R<LF>\""},
        {"\x03\x1B\x7F\x80\xFF", "\"<03><1B><7F><80><FF>\""},
        {"", "\"\""},
        {"say \"hi\" \\o/", "\"say \\\"hi\\\" \\\\o/\""},
        // Marker texts the driver writes are shown apart from the bytes.
        {"*01<CR><LF>", "\"*01\\<CR>\\<LF>\""},
        {"a<b <cr> <0d>", "\"a<b <cr> <0d>\""},
        {"$PORT @A$ $", "\"\\$PORT @A$ $\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Quoted(c.bytes), c.shown);
    }
}

TEST(TextCodec, EveryShownTextReadsBackAsTheSameBytes) {
    std::string all;
    for (int byte = 1; byte < 256; ++byte) {
        all += static_cast<char>(byte);
    }
    const std::string texts[] = {
        all, "<CR><STX><41><DEL>", "\\<CR>", "<<CR>>", "<\r>", "x\\", "\"\"", "#0102", "$PORT$A",
    };
    for (const std::string& text : texts) {
        std::string shown = Quoted(text);
        ASSERT_GE(shown.size(), 2u);
        // Inside the quotes the scanner treats '"' only after a backslash.
        std::string inner = shown.substr(1, shown.size() - 2), out, error;
        ASSERT_TRUE(Decode(inner, &out, &error)) << shown << ": " << error;
        EXPECT_EQ(out, text) << shown;
    }
}

TEST(TextCodec, HexBytesAreSpacedUpperCasePairs) {
    EXPECT_EQ(HexBytes("#\r\xFF"), "23 0D FF");
    EXPECT_EQ(HexBytes(""), "");
}

}  // namespace
}  // namespace qelhost
