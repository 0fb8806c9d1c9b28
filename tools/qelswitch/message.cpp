#include "message.h"

#include "checksum.h"

namespace qelswitch {

namespace {

bool IsHexDigit(char character) {
    return (character >= '0' && character <= '9') || (character >= 'A' && character <= 'F');
}

bool IsDecimalDigit(char character) {
    return character >= '0' && character <= '9';
}

bool AllOf(std::string_view text, bool (*test)(char)) {
    for (char character : text) {
        if (!test(character)) return false;
    }
    return true;
}

bool Refuse(Message& message, std::string problem) {
    message.valid = false;
    message.problem = std::move(problem);
    return false;
}

bool CheckLength(Message& message, size_t expected) {
    if (message.line.size() == expected) return true;
    return Refuse(message, "length " + std::to_string(message.line.size()) + ", expected " + std::to_string(expected));
}

// The checksum stands at `at` and covers positions 1 to at - 1.
bool CheckChecksum(Message& message, size_t at) {
    const std::string_view line = message.line;
    const char expected = ChecksumChar(line.substr(1, at - 1));
    if (line[at] == expected) return true;
    return Refuse(message, "bad checksum " + Visible(line.substr(at, 1)) + ", expected " + std::string(1, expected));
}

bool TakeHex(Message& message, size_t from, size_t count, const char* what, std::string* field) {
    const std::string_view part = std::string_view(message.line).substr(from, count);
    if (!AllOf(part, IsHexDigit)) return Refuse(message, std::string(what) + " \"" + Visible(part) + "\" is not hex");
    *field = part;
    return true;
}

bool TakeDecimal(Message& message, size_t from, size_t count, const char* what, std::string* field) {
    const std::string_view part = std::string_view(message.line).substr(from, count);
    if (!AllOf(part, IsDecimalDigit)) {
        return Refuse(message, std::string(what) + " \"" + Visible(part) + "\" is not decimal");
    }
    *field = part;
    return true;
}

bool Expect(Message& message, size_t from, std::string_view wanted) {
    const std::string_view part = std::string_view(message.line).substr(from, wanted.size());
    if (part == wanted) return true;
    return Refuse(message, "\"" + Visible(part) + "\" at position " + std::to_string(from) + ", expected \"" +
                               std::string(wanted) + "\"");
}

bool ParseHash(Message& message) {
    message.kind = MessageKind::kHash;
    if (!CheckLength(message, 7) || !CheckChecksum(message, 6)) return false;
    if (!TakeHex(message, 1, 2, "address", &message.addrA) || !TakeHex(message, 3, 2, "address", &message.addrB)) {
        return false;
    }
    message.digit = message.line[5];
    if (!IsHexDigit(message.digit))
        return Refuse(message, "digit " + Visible(message.line.substr(5, 1)) + " is not hex");
    return true;
}

// Both "!" forms have 13 characters; the character ahead of the checksum
// tells them apart.
bool ParseBang(Message& message) {
    message.kind = MessageKind::kBits;
    if (!CheckLength(message, 13)) return false;
    const char form = message.line[11];
    if (form == '1') message.kind = MessageKind::kByte;
    if (form != '1' && form != '2') {
        return Refuse(message, "form " + Visible(message.line.substr(11, 1)) + " at position 11, expected 1 or 2");
    }
    if (!CheckChecksum(message, 12)) return false;
    if (!TakeHex(message, 1, 2, "address", &message.addrA) || !TakeHex(message, 3, 2, "address", &message.addrB)) {
        return false;
    }
    if (message.kind == MessageKind::kBits) {
        // The driver sends the gate's four characters as they stand; only
        // it judges them.
        if (!Expect(message, 5, "00")) return false;
        message.bits = message.line.substr(7, 4);
        return true;
    }
    return TakeHex(message, 5, 4, "address", &message.addrC) && TakeHex(message, 9, 2, "byte", &message.byte);
}

bool ParseM(Message& message) {
    message.kind = MessageKind::kM;
    return CheckLength(message, 10) && CheckChecksum(message, 9) && TakeHex(message, 1, 4, "address", &message.addrC) &&
           Expect(message, 5, "01") && TakeDecimal(message, 7, 2, "value", &message.level);
}

bool ParseL(Message& message) {
    message.kind = MessageKind::kL;
    const size_t size = message.line.size();
    if (size < 6) return Refuse(message, "length " + std::to_string(size) + ", expected at least 6");
    if (!CheckChecksum(message, size - 1) || !TakeHex(message, 1, 2, "address", &message.addrD)) return false;
    std::string field;
    if (!TakeDecimal(message, 3, 2, "length", &field)) return false;
    const size_t length = size - 6;
    if (field != LengthField(length)) {
        return Refuse(message, "length field " + field + " for a text of " + std::to_string(length) + ", expected " +
                                   LengthField(length));
    }
    message.text = message.line.substr(5, length);
    return true;
}

bool ParseR(Message& message) {
    message.kind = MessageKind::kR;
    return CheckLength(message, 4) && CheckChecksum(message, 3) && TakeHex(message, 1, 2, "address", &message.addrD);
}

bool ParsePreamble(Message& message) {
    message.kind = MessageKind::kPreamble;
    return CheckLength(message, 1);
}

}  // namespace

bool IsCommandCharacter(char character) {
    switch (character) {
        case '#':
        case '!':
        case 'M':
        case 'L':
        case 'R':
        case 'P':
            return true;
        default:
            return false;
    }
}

Message ParseMessage(std::string_view line) {
    Message message;
    message.line = line;
    message.valid = true;
    if (line.empty()) return message;
    switch (line[0]) {
        case '#':
            ParseHash(message);
            break;
        case '!':
            ParseBang(message);
            break;
        case 'M':
            ParseM(message);
            break;
        case 'L':
            ParseL(message);
            break;
        case 'R':
            ParseR(message);
            break;
        case 'P':
            ParsePreamble(message);
            break;
        default:
            break;
    }
    return message;
}

std::string LengthField(size_t length) {
    if (length < 10) return "0" + std::to_string(length);
    return std::to_string(length).substr(0, 2);
}

}  // namespace qelswitch
