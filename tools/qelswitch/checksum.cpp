#include "checksum.h"

namespace qelswitch {

namespace {

// Every byte counts as a signed 8-bit code: bytes above 0x7F come out
// negative and so fall under the digit rule.
int CharacterValue(char character) {
    const int code = static_cast<signed char>(character);
    if (code < 0x41) return code - 0x30;
    if (code <= 0x60) return code - 0x37;
    return code - 0x57;
}

}  // namespace

int ChecksumValue(std::string_view covered) {
    int combined = 0;
    for (char character : covered) combined ^= CharacterValue(character);
    return (combined & 0xF) ^ 0xF;
}

char ChecksumChar(std::string_view covered) {
    return "0123456789ABCDEF"[ChecksumValue(covered)];
}

}  // namespace qelswitch
