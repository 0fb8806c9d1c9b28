// Whatever arrives on the emulator's line, in reads of any size at any
// pace: every message that ends in a CR is answered once (unless a fault
// says otherwise), the line being received stays bounded, and the event
// lines a terminal shows hold no raw control bytes.
//
// Input: one byte of faults (bit 0 echo, 1 garbage, 2 silent, 3 refuse two,
// 4 a delay of 300 ms), then reads: one byte of silence before the read (in
// 20 ms steps, so that a line left without its CR can go stale), one byte of
// length, and the bytes (cut short at the end of the input).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "emulator.h"
#include "reply.h"

namespace {

// A broken invariant aborts, so that libFuzzer keeps the input that broke it.
void Require(bool holds, const char* invariant) {
    if (!holds) {
        std::fprintf(stderr, "broken invariant: %s\n", invariant);
        std::abort();
    }
}

size_t Count(std::string_view text, std::string_view part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

void CheckEvents(qelswitch::Emulator& emulator) {
    for (const std::string& event : qelswitch::TakeEvents(emulator)) {
        Require(!event.empty(), "an event says something");
        for (char c : event) Require(c >= 0x20 && c < 0x7F, "an event line holds only printable characters");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    qelswitch::Emulator emulator;
    const uint8_t faults = data[0];
    emulator.faults.echo = (faults & 1) != 0;
    emulator.faults.garbage = (faults & 2) != 0;
    emulator.faults.silent = (faults & 4) != 0;
    emulator.faults.refuse = (faults & 8) != 0 ? 2 : 0;
    emulator.faults.delayMs = (faults & 16) != 0 ? 300 : 0;
    const char* bytes = reinterpret_cast<const char*>(data);
    uint64_t now = 0;
    size_t crs = 0;
    std::string sent;
    for (size_t at = 1; at + 2 <= size;) {
        now += data[at] * 20u;
        const size_t length = std::min<size_t>(data[at + 1], size - at - 2);
        const std::string_view read(bytes + at + 2, length);
        at += 2 + length;
        qelswitch::ReceiveBytes(emulator, read, now);
        crs += Count(read, "\r");
        sent += qelswitch::TakeDueWrites(emulator, now);
        const int64_t next = qelswitch::MillisecondsToNextWrite(emulator, now);
        Require(emulator.writes.empty() ? next == -1 : next > 0, "what is due now has gone; the rest waits");
        Require(emulator.line.size() <= qelswitch::kMaxLineLength, "the line being received stays bounded");
        Require(emulator.lineTail.size() < 2 * qelswitch::kMaxLineLength, "an overlong line's tail stays bounded");
        CheckEvents(emulator);
    }
    sent += qelswitch::TakeDueWrites(emulator, now + emulator.faults.delayMs + 300);
    Require(emulator.writes.empty(), "every answer goes out in the end");
    Require(emulator.counts.messages <= crs, "a message ends in a CR");
    CheckEvents(emulator);
    if ((faults & 0x1F) == 0) {
        // The driver's reply reader relies on exactly one CR LF per answer.
        Require(Count(sent, "\r\n") == emulator.counts.messages, "each message is answered once");
        Require(Count(sent, qelswitch::kRefusedReply) == emulator.counts.refused, "each refusal is answered \"?\"");
    }
    if ((faults & 0x1F) == 2) {
        Require(sent.size() == emulator.counts.messages * (sizeof qelswitch::kGarbageReply - 1),
                "under the garbage fault every answer is garbage");
    }
    if ((faults & 0x1F) == 4) Require(sent.empty(), "a silent switcher sends nothing");
    return 0;
}
