// The small text pieces every room shares: the line-end characters, bounded
// measuring and copying into fixed arrays, and the one atoi-like reader.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr char kCarriageReturn = '\r';
constexpr char kLineFeed = '\n';

// Characters of a text up to its NUL, but looking no further than limit + 1
// characters: more than limit is all the callers need to know.
inline size_t BoundedLength(const char* text, size_t limit) {
    size_t length = 0;
    while (length <= limit && text[length] != '\0') {
        ++length;
    }
    return length;
}

// Copies a text into a fixed array: at most `limit` characters of the source,
// ending at its NUL, cut to fit. The rest of the array is cleared, so the
// result is always terminated. Returns the length copied. A host record's
// fixed field passes its size as `limit`: the host may fill it without a NUL.
template <size_t N>
inline size_t CopyText(char (&destination)[N], const char* source, size_t limit = SIZE_MAX) {
    size_t length = 0;
    while (length < limit && length + 1 < N && source[length] != '\0') {
        destination[length] = source[length];
        ++length;
    }
    for (size_t i = length; i < N; ++i) {
        destination[i] = '\0';
    }
    return length;
}

// Beyond any 32-bit number: where ReadDecimal's magnitude stops.
constexpr int64_t kDecimalLimit = int64_t{1} << 40;

inline bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The number as atoi reads it from at most `count` characters: blanks, an
// optional sign, digits up to the first other character; 0 without digits.
// Unlike atoi it cannot overflow: the magnitude stops at kDecimalLimit.
// `end` is where the reading stopped; `digits` whether it met any.
struct DecimalRead {
    int64_t value;
    size_t end;
    bool digits;
};

inline DecimalRead ScanDecimal(const char* text, size_t count = SIZE_MAX) {
    size_t i = 0;
    while (i < count && IsBlank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < count && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const size_t first = i;
    int64_t value = 0;
    for (; i < count && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kDecimalLimit) {
            value = kDecimalLimit;
        }
    }
    return DecimalRead{negative ? -value : value, i, i > first};
}

inline int64_t ReadDecimal(const char* text, size_t count = SIZE_MAX) {
    return ScanDecimal(text, count).value;
}
