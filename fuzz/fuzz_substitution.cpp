// Gate references in a command text, in buffers of every size: the result
// stays within the buffer and 255 characters, and a refused text is left as
// it was.
//
// Input: the buffer's capacity in decimal, an LF, then the text (cut to fit
// the buffer; it ends at its first NUL as any C text does).
#include <cstring>
#include <string>

#include "cmdlist/substitution.h"
#include "fuzz_support.h"

namespace {

constexpr int64_t kLargestCapacity = 1024;
constexpr size_t kLongestText = kWorkAreaSize - 1;
constexpr char kUnused = '\x7E';

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    AddHostGates();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string head;
    std::string input;
    SplitFirstLine(data, size, &head, &input);
    const size_t capacity = static_cast<size_t>(HeadNumber(head, 1, kLargestCapacity));

    GuardedBuffer buffer(capacity, kUnused);
    const size_t copied = input.size() < capacity ? input.size() : capacity - 1;
    std::memcpy(buffer.data(), input.data(), copied);
    buffer.data()[copied] = '\0';
    const std::vector<char> before(buffer.data(), buffer.data() + capacity);

    const int32_t result = SubstituteGateValues(buffer.data(), capacity);
    Require(buffer.GuardsIntact(), "nothing is written outside the buffer");
    Require(result == 0 || result == 1, "substitution answers 0 or 1");
    const bool unchanged = std::memcmp(buffer.data(), before.data(), capacity) == 0;
    const bool plain = std::strchr(before.data(), '@') == nullptr;
    if (plain && std::strlen(before.data()) <= kLongestText) {
        Require(result == 0 && unchanged, "a text without references that fits is kept as it is");
    }
    if (result == 1) {
        Require(unchanged, "a refused text is left as it was");
        return 0;
    }
    const void* end = std::memchr(buffer.data(), '\0', capacity);
    Require(end != nullptr, "the result is terminated within the buffer");
    Require(static_cast<size_t>(static_cast<const char*>(end) - buffer.data()) <= kLongestText,
            "the result holds at most 255 characters");
    return 0;
}
