// What the instance knows of its line's health: the state the host's gate
// "LINE_STATE" shows, the run of unanswered reads, and the counters the
// trace reports. Plain data, kept in the instance's record.
#pragma once

#include <cstdint>

enum class LineState : uint8_t {
    kClosed,    // no port: disabled, stopped, closed, or the open failed
    kOpen,      // open, and no read since the open
    kOk,        // the last read got an answer
    kNoAnswer,  // kSilentReadLimit reads in a row got nothing
    kLost,      // the device went away; the driver is reopening it
    kUnknown,   // nothing reported yet in this record
};

// Reads in a row without a single byte after which the switcher counts as
// silent.
constexpr uint8_t kSilentReadLimit = 3;

// Since the instance's start.
struct LineCounters {
    uint32_t transmissions;
    uint32_t answered;  // reads that got any byte, refusals included
    uint32_t refused;
    uint32_t silent;   // reads that got nothing
    uint32_t retries;  // tries beyond the first
    uint32_t lost;
    uint32_t reopened;
};

// The log lines a request owes the host, in the order they happened.
enum class LineEvent : uint8_t { kSilent, kAnswering };
// Silence begins and ends at most once per three reads: a request of twelve
// reads owes no more than this.
constexpr uint8_t kPendingEventLimit = 8;

struct LineRecord {
    // kLineRecordMark once a start set the fields up: the host need not
    // clear the record, and nothing here means anything without it.
    uint32_t mark;
    LineState phase;     // OPEN, OK or NO ANSWER while a port is held
    LineState reported;  // what the log and the gate last got
    uint8_t silentRun;
    bool silenceLogged;  // "No answer" went out; "Answering again" is due
    bool hasClient;      // the host registered the instance's client
    // This request's reads that judge an acceptance, and whether one did;
    // its reads of any kind, and whether one brought a byte.
    uint8_t judgedReads;
    bool confirmed;
    uint8_t reads;
    bool answered;
    uint8_t pendingCount;
    LineEvent pending[kPendingEventLimit];
    LineCounters counters;
};

constexpr uint32_t kLineRecordMark = 0x454E494C;  // "LINE"
