// Gate references in a command text, against the host library substitute.
#include "cmdlist/substitution.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>

#include "host_fixture.h"

namespace {

// Above 127: must reach the host widened, not sign-extended.
constexpr uint32_t kClient = 200;

class SubstitutionTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        idN = AddNumber("N", 3.7);
        AddNumber("M", -3.7);
        idS = AddText("S", "xy");
        AddText("E", "");
        AddText("L", std::string(99, 'v').c_str());
    }

    uint32_t AddNumber(const char* name, double value) {
        uint32_t id = MoxAddGate((std::string("ADDR_") + name).c_str(), name, GATE_FORMAT_NUMERIC);
        MoxSetNumber(name, value);
        return id;
    }

    uint32_t AddText(const char* name, const char* text) {
        uint32_t id = MoxAddGate((std::string("ADDR_") + name).c_str(), name, GATE_FORMAT_STRING);
        MoxSetText(name, text);
        return id;
    }

    // Substitutes in a 1000-byte buffer, as the command list hands it over.
    std::string Substitute(const std::string& text, int32_t* result = nullptr) {
        char buffer[1000] = {};
        std::snprintf(buffer, sizeof buffer, "%s", text.c_str());
        int32_t outcome = SubstituteGateValues(buffer, sizeof buffer, kClient);
        if (result != nullptr) {
            *result = outcome;
        }
        return buffer;
    }

    std::string Lookup(const char* name) {
        char value[kWorkAreaSize];
        std::memset(value, 'x', sizeof value);
        LookupGateValue(kClient, name, value);
        return value;
    }

    uint32_t idN = 0;
    uint32_t idS = 0;
};

TEST_F(SubstitutionTest, ReferencesAreReplacedByGateValues) {
    const struct {
        const char* text;
        const char* substituted;
    } cases[] = {
        {"A@N$B", "A3B"},     {"A@M$B", "A-3B"}, {"A@S$B", "AxyB"}, {"A@N$", "A3"}, {"A@N$@S$", "A3xy"},
        {"@N$@N$@N$", "333"}, {"$@N$$", "$3$"},  {"A@Q$B", "AQ$B"},  // no such gate: name and "$" stay, the "@" goes
        {"A@E$B", "AE$B"},                                           // empty text reads as no value
        {"A@N", "A"},                                                // no "$": the rest is cut
        {"AB@", "AB"},        {"@$", "$"},       {"@Q@N$", "Q3"},    // "Q@N" is looked up first
        {"A$B$ C", "A$B$ C"}, {"", ""},
    };
    for (const auto& item : cases) {
        int32_t result = 1;
        EXPECT_EQ(Substitute(item.text, &result), item.substituted) << item.text;
        EXPECT_EQ(result, 0) << item.text;
    }
}

TEST_F(SubstitutionTest, NumbersAreTruncatedToTheirLow32Bits) {
    const struct {
        double number;
        const char* text;
    } cases[] = {
        {0.0, "0"},
        {-0.5, "0"},
        {3.7, "3"},
        {-3.7, "-3"},
        {2147483647.9, "2147483647"},
        {2147483648.0, "-2147483648"},
        {-2147483649.0, "2147483647"},
        {4294967301.0, "5"},
        {-4294967297.0, "-1"},
        {123456789012.9, "-1097262572"},
        {1e19, "-1981284352"},
        {-1e19, "1981284352"},
        {1e300, "0"},
        {std::numeric_limits<double>::infinity(), ""},
        {-std::numeric_limits<double>::infinity(), ""},
        {std::nan(""), ""},
    };
    AddNumber("V", 0);
    for (const auto& item : cases) {
        MoxSetNumber("V", item.number);
        EXPECT_EQ(Lookup("V"), item.text) << item.number;
    }
}

TEST_F(SubstitutionTest, HostIsAskedInOrderWithTheClientHandle) {
    EXPECT_EQ(Substitute("@N$@S$@Q$"), "3xyQ$");
    const std::string n = std::to_string(idN);
    const std::string s = std::to_string(idS);
    const std::string expected[] = {
        "MoxGetGateId 200 N",        "MoxGetGateFormat 200 " + n, "MoxGetGateVal 200 11 " + n, "MoxGetGateId 200 S",
        "MoxGetGateFormat 200 " + s, "MoxGetGateStr 200 13 " + s, "MoxGetGateId 200 Q",
    };
    ASSERT_EQ(MoxCallCount(), static_cast<int>(std::size(expected)));
    for (int i = 0; i < MoxCallCount(); ++i) {
        EXPECT_EQ(MoxCall(i), expected[i]) << "call " << i;
    }
}

// A command is never cut: what would not fit is refused and left as it was.
TEST_F(SubstitutionTest, TextThatWouldNotFitIsRefusedUnchanged) {
    const std::string fits = std::string(156, 'a') + "@L$";
    const std::string tooLong = std::string(157, 'a') + "@L$";
    const std::string longName = "@" + std::string(300, 'n') + "$";
    const std::string longPlain(256, 'p');
    int32_t result = 1;
    EXPECT_EQ(Substitute(fits, &result), std::string(156, 'a') + std::string(99, 'v'));
    EXPECT_EQ(result, 0);
    int callsBefore = MoxCallCount();
    for (const std::string& text : {tooLong, longName, longPlain}) {
        result = 0;
        EXPECT_EQ(Substitute(text, &result), text);
        EXPECT_EQ(result, 1);
    }
    // Only the one lookup of L: a name beyond the name area is never looked up.
    EXPECT_EQ(MoxCallCount() - callsBefore, 3);
}

TEST_F(SubstitutionTest, CallersCapacityBoundsTheResult) {
    char buffer[] = "A@N$";  // 5 bytes
    EXPECT_EQ(SubstituteGateValues(buffer, 3), 0);
    EXPECT_STREQ(buffer, "A3");
    char small[] = "A@S$";
    EXPECT_EQ(SubstituteGateValues(small, 3), 1);
    EXPECT_STREQ(small, "A@S$");
}

}  // namespace
