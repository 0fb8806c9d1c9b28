// What the fuzz targets share: checks that stop the run in every build type,
// buffers fenced with guard bytes, and host gates for the substitution.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "moxpro_control.h"
#include "qelkophv/qelkophv.h"

// A broken invariant aborts, so that libFuzzer keeps the input that broke it.
inline void Require(bool holds, const char* invariant) {
    if (!holds) {
        std::fprintf(stderr, "broken invariant: %s\n", invariant);
        std::abort();
    }
}

// A file of the run's own under TMPDIR (or /tmp), for readers that take a
// file's name; made by MakeScratchFile, removed when the run ends.
inline std::string& ScratchFile() {
    static std::string path;
    return path;
}

inline void MakeScratchFile(const char* name) {
    const char* base = std::getenv("TMPDIR");
    ScratchFile() = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/qel_fuzz_" +
                    std::to_string(getpid()) + "_" + name;
    std::atexit([] { std::remove(ScratchFile().c_str()); });
}

// The bytes as the scratch file's contents ("wb"), or added to them ("ab").
inline void WriteScratchFile(std::string_view bytes, const char* mode = "wb") {
    FILE* file = std::fopen(ScratchFile().c_str(), mode);
    Require(file != nullptr, "the scratch file can be written");
    Require(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fclose(file) == 0,
            "the scratch file is written whole");
}

// A buffer of `size` bytes filled with `fill`, between guard bytes. It lives
// on the heap, so the address checker also sees a write past the guards.
class GuardedBuffer {
  public:
    GuardedBuffer(size_t size, char fill) : size_(size), bytes_(size + 2 * kGuardSize, kGuardByte) {
        std::memset(data(), fill, size);
    }
    char* data() { return bytes_.data() + kGuardSize; }
    size_t size() const { return size_; }
    bool GuardsIntact() const {
        for (size_t i = 0; i < kGuardSize; ++i) {
            if (bytes_[i] != kGuardByte || bytes_[kGuardSize + size_ + i] != kGuardByte) {
                return false;
            }
        }
        return true;
    }

  private:
    static constexpr size_t kGuardSize = 64;
    static constexpr char kGuardByte = '\x5A';
    size_t size_;
    std::vector<char> bytes_;
};

// Splits the input at its first LF: the head (a number or a selector the
// target reads) and everything after it.
inline void SplitFirstLine(const uint8_t* data, size_t size, std::string* head, std::string* rest) {
    const char* text = reinterpret_cast<const char*>(data);
    const void* newline = std::memchr(text, '\n', size);
    const size_t headLength = newline != nullptr ? static_cast<size_t>(static_cast<const char*>(newline) - text) : size;
    head->assign(text, headLength);
    rest->assign(headLength < size ? text + headLength + 1 : text + size,
                 headLength < size ? size - headLength - 1 : 0);
}

// A decimal number in the head, saturated to 32 bits; 0 without digits.
inline int64_t HeadNumber(const std::string& head, int64_t smallest, int64_t largest) {
    const long long number = std::strtoll(head.c_str(), nullptr, 10);
    return number < smallest ? smallest : (number > largest ? largest : number);
}

// The gates a command text can name: numbers with and without a fraction,
// beyond 32 bits and not a number at all, texts empty, short and as long as
// the host hands out.
inline void AddHostGates() {
    MoxReset();
    const struct {
        const char* name;
        double number;
    } numbers[] = {{"N", 3.7}, {"NEG", -2147483649.0}, {"HUGE", 1e300}, {"NAN", std::strtod("nan", nullptr)}};
    for (const auto& gate : numbers) {
        MoxAddGate((std::string("ADDR_") + gate.name).c_str(), gate.name, GATE_FORMAT_NUMERIC);
        MoxSetNumber(gate.name, gate.number);
    }
    const std::string longText(99, 'v');
    const struct {
        const char* name;
        const char* text;
    } texts[] = {{"S", "xy"}, {"E", ""}, {"LONG", longText.c_str()}, {"AT", "@N$"}};
    for (const auto& gate : texts) {
        MoxAddGate((std::string("ADDR_") + gate.name).c_str(), gate.name, GATE_FORMAT_STRING);
        MoxSetText(gate.name, gate.text);
    }
}
