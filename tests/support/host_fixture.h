// What most driver tests share: a fresh host library substitute, a zeroed
// context as a host allocates it, and requests built around it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "context/context.h"
#include "driver_library.h"
#include "host/host_library.h"
#include "moxpro_control.h"

struct TestContext {
    DriverContext context;
    TestContext() { std::memset(&context, 0, sizeof context); }
};

constexpr LineSettings kDefaultLine = {9600, 8, 0, 0};

// Copies the whole 12-byte field, so a 12-character name arrives without NUL.
inline void SetPortName(char (&field)[12], const char* name) {
    std::memset(field, 0, sizeof field);
    std::memcpy(field, name, std::min(std::strlen(name), sizeof field));
}

inline PortConfig MakePortConfig(const char* name, uint32_t enabled = 1, uint32_t timeout = 10,
                                 LineSettings line = kDefaultLine) {
    PortConfig config{};
    SetPortName(config.portName, name);
    config.enabled = enabled;
    config.timeout = timeout;
    config.line = line;
    return config;
}

inline DriverRequest MakeRequest(DriverContext* context, int32_t code, void* data = nullptr) {
    DriverRequest request{};
    request.context = context;
    request.code = code;
    request.data = data;
    return request;
}

// A host's value area for one gate: the number at bytes 2-3 or the text.
struct GateValueArea {
    alignas(4) unsigned char bytes[256];
    GateValueArea() { std::memset(bytes, 0, sizeof bytes); }
    explicit GateValueArea(uint16_t number) : GateValueArea() { SetNumber(number); }
    explicit GateValueArea(const char* text) : GateValueArea() { std::strncpy(Text(), text, sizeof bytes - 1); }
    uint16_t Number() const { return static_cast<uint16_t>(bytes[2] | (bytes[3] << 8)); }
    void SetNumber(uint16_t number) {
        bytes[2] = static_cast<unsigned char>(number & 0xFF);
        bytes[3] = static_cast<unsigned char>(number >> 8);
    }
    char* Text() { return reinterpret_cast<char*>(bytes); }
};

// A gate access record with its own copy of the address.
struct GateAccessRecord {
    char address[64];
    GateAccess access;
    GateAccessRecord(const char* text, uint32_t format, void* value) : access{} {
        std::strncpy(address, text, sizeof address - 1);
        address[sizeof address - 1] = '\0';
        access.address = address;
        access.format = format;
        access.value = value;
    }
};

inline std::string LastLogLine() {
    int count = MoxLogCount();
    return count == 0 ? std::string() : std::string(MoxLogLine(count - 1));
}

class HostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MoxReset();
        g_readyLevel = 0;
        // Bound once, as the first start of a host does: some tests call
        // inner functions without a start.
        FindHostLibrary();
    }
    // A request through the driver library as a host loads it.
    int32_t CallDriver(int32_t code, void* data = nullptr) {
        DriverRequest request = MakeRequest(context, code, data);
        return LoadedQelMain()(&request);
    }
    TestContext holder;
    DriverContext* context = &holder.context;
};
