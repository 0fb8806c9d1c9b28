// Bytes as the tools and tests show them, in the trace's notation (the
// driver's own, src/trace/trace_notation.h) so that a message reads the
// same on the screen and in the trace: CR as <CR>, LF as <LF>, any other
// control or non-ASCII byte (STX too) as <XX>, everything else as it
// stands. Header only, so that the driver's tests can show transmissions
// the same way.
#pragma once

#include <string>
#include <string_view>

#include "trace/trace_notation.h"

namespace qeltools {

// How one byte shows: its name, <XX>, or the character itself.
inline void AppendVisible(unsigned char byte, std::string& out) {
    char shown[kVisibleByteSize];
    out.append(shown, TraceNotationOf(byte, shown));
}

inline std::string Visible(std::string_view bytes) {
    std::string shown;
    for (char byte : bytes) {
        AppendVisible(static_cast<unsigned char>(byte), shown);
    }
    return shown;
}

// Visible, cut after the bytes that show in about maxShown characters, with
// "..." where it was cut: for messages that quote what a user gave.
inline std::string VisibleShort(std::string_view bytes, size_t maxShown) {
    std::string shown;
    for (char byte : bytes) {
        if (shown.size() >= maxShown) {
            return shown + "...";
        }
        AppendVisible(static_cast<unsigned char>(byte), shown);
    }
    return shown;
}

// An argument quoted in a message, cut to a length that leaves the
// message's reason readable.
constexpr size_t kMaxShownArgument = 60;
inline std::string ShownArgument(std::string_view argument) {
    return VisibleShort(argument, kMaxShownArgument);
}

}  // namespace qeltools
