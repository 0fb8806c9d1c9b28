// The trace's notation for a byte, the one place that says it: CR as "<CR>",
// LF as "<LF>", any other control or non-ASCII byte as "<hh>" (two
// upper-case hex digits), the rest as it stands. The driver writes every
// outside text and every byte of a line so; the tools show bytes the same
// way. Header only and constant: no I/O, no heap.
#pragma once

#include <cstddef>

// The longest a byte shows, and room for the NUL behind it.
constexpr size_t kVisibleByteSize = 5;

// `code` as the notation shows it, into `out` (NUL-terminated); returns the
// length.
constexpr size_t TraceNotationOf(unsigned char code, char (&out)[kVisibleByteSize]) {
    constexpr char kHex[] = "0123456789ABCDEF";
    size_t length = 0;
    if (code == '\r' || code == '\n') {
        const char* name = code == '\r' ? "CR" : "LF";
        out[length++] = '<';
        out[length++] = name[0];
        out[length++] = name[1];
        out[length++] = '>';
    } else if (code < 0x20 || code >= 0x7F) {
        out[length++] = '<';
        out[length++] = kHex[code >> 4];
        out[length++] = kHex[code & 0xF];
        out[length++] = '>';
    } else {
        out[length++] = static_cast<char>(code);
    }
    out[length] = '\0';
    return length;
}
