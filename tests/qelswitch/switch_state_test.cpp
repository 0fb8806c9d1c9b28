// What the accepted commands leave in the switcher, and how each change is
// told.
#include "switch_state.h"

#include <gtest/gtest.h>

namespace qelswitch {
namespace {

class SwitchStateTest : public ::testing::Test {
  protected:
    // Applies valid lines in turn; returns the change lines of the last.
    std::vector<std::string> Apply(std::initializer_list<const char*> lines) {
        std::vector<std::string> changes;
        for (const char* line : lines) {
            const Message message = ParseMessage(line);
            EXPECT_TRUE(message.valid) << line << ": " << message.problem;
            changes = ApplyMessage(state, message);
        }
        return changes;
    }
    SwitchState state;
};

using Lines = std::vector<std::string>;

TEST_F(SwitchStateTest, BankOneDigitReplacesTheLastOne) {
    EXPECT_EQ(Apply({"#010259"}), Lines{"HASH 0102 bank 1 = 5 (value 5), was unset"});
    EXPECT_EQ(Apply({"#0102C0"}), Lines{"HASH 0102 bank 1 = C (value 12), was 5 (value 5)"});
    EXPECT_EQ(state.crosspoints["0102"].bank1, 'C');
}

TEST_F(SwitchStateTest, PrefaceThenDigitSetsBankTwo) {
    EXPECT_EQ(Apply({"#0102D1"}), Lines{"HASH 0102 preface D, bank 2 digit follows"});
    EXPECT_EQ(StateLines(state), Lines{"HASH 0102 bank 1 = unset, bank 2 = unset, preface pending"});
    EXPECT_EQ(Apply({"#01022E"}), Lines{"HASH 0102 bank 2 = 2 (value 18), was unset"});
    EXPECT_EQ(state.crosspoints["0102"].bank1, 0);
    EXPECT_TRUE(state.prefacePending.empty());
}

TEST_F(SwitchStateTest, FAfterABankTwoDigitIsItsTrailer) {
    EXPECT_EQ(Apply({"#0102D1", "#01022E", "#0102F3"}), Lines{"HASH 0102 trailer F"});
    EXPECT_EQ(StateLines(state), Lines{"HASH 0102 bank 1 = unset, bank 2 = 2 (value 18)"});
}

TEST_F(SwitchStateTest, FAnywhereElseIsBankOneFifteen) {
    EXPECT_EQ(Apply({"#0102D1", "#01022E", "P", "#0102F3"}), Lines{"HASH 0102 bank 1 = F (value 15), was unset"});
}

TEST_F(SwitchStateTest, DNotFollowedByItsPairWasBankOneThirteen) {
    const Lines changes = Apply({"#0102D1", "#0A1FC7"});
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0], "HASH 0102 bank 1 = D (value 13), was unset (no bank-2 digit followed its D)");
    EXPECT_EQ(changes[1], "HASH 0A1F bank 1 = C (value 12), was unset");
}

TEST_F(SwitchStateTest, OutputsValuesAndTextsTellWhatTheyReplaced) {
    EXPECT_EQ(Apply({"!01020010102E"}), Lines{"BITS 0102 = 1010, was unset"});
    EXPECT_EQ(Apply({"!010200030A14"}), Lines{"BYTE 0102 0003 = 0A (10), was unset"});
    EXPECT_EQ(Apply({"M001201058"}), Lines{"M 0012 = 05, was unset"});
    EXPECT_EQ(Apply({"L0502AB9"}), Lines{"L 05 = \"AB\", was unset"});
    EXPECT_EQ(Apply({"L0500A"}), Lines{"L 05 = \"\", was \"AB\""});
    EXPECT_EQ(Apply({"R05A"}), Lines{"R 05 -> \"\""});
    EXPECT_EQ(Apply({"P"}), Lines{"PREAMBLE"});
    EXPECT_EQ(Apply({"free text"}), Lines{"TEXT \"free text\""});
    EXPECT_EQ(StateLines(state), (Lines{"BITS 0102 = 1010", "BYTE 0102 0003 = 0A (10)", "M 0012 = 05", "L 05 = \"\""}));
}

TEST_F(SwitchStateTest, UnsetLabelReadsAsLabelAndAddress) {
    EXPECT_EQ(LabelOf(state, "3F"), "LABEL3F");
}

}  // namespace
}  // namespace qelswitch
