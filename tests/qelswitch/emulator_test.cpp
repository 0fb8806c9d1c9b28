// The switcher core as the driver meets it: bytes in, replies out, faults
// in between.
#include "emulator.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "reply.h"

namespace qelswitch {
namespace {

class EmulatorTest : public ::testing::Test {
  protected:
    // Feeds bytes at `now` and returns what is due by then.
    std::string Send(std::string_view bytes, uint64_t now = 0) {
        ReceiveBytes(emulator, bytes, now);
        return TakeDueWrites(emulator, now);
    }
    bool HasEvent(const std::string& part) {
        for (const std::string& event : emulator.events) {
            if (event.find(part) != std::string::npos) return true;
        }
        return false;
    }
    Emulator emulator;
};

struct ReplyCase {
    const char* sent;
    const char* reply;
};

TEST_F(EmulatorTest, AnswersEachKindInItsForm) {
    const ReplyCase cases[] = {
        {"#010259\r\r", "*01\r\n"},
        {"#0A1FC7\r\r", "*0A\r\n"},
        {"!01020010102E\r\r", "*01\r\n"},
        {"!010200030A14\r\r", "*01\r\n"},
        {"M001201058\r\r", "*00\r\n"},
        {"L0502AB9\r\r", "*05\r\n"},
        {"P\r\r", "*00\r\n"},
        {"SEND THIS\r", "*00\r\n"},
        {"\r", "*00\r\n"},
        {"#010258\r\r", "?\r\n"},
        {"R05B\r\r", "?\r\n"},
        {"!01020010103D\r\r", "?\r\n"},
    };
    for (const ReplyCase& c : cases) EXPECT_EQ(Send(c.sent), c.reply) << c.sent;
}

TEST_F(EmulatorTest, ReadsBackTheLastLTextWithItsChecksum) {
    // Nothing set yet: "LABEL" and the address, then its checksum 5.
    EXPECT_EQ(Send("R05A\r\r"), "LABEL055\r\n");
    Send("L0502AB9\r\r");
    EXPECT_EQ(Send("R05A\r\r"), "ABE\r\n");
    EXPECT_EQ(Send("L0500A\r\r"), "*05\r\n");
    EXPECT_EQ(Send("R05A\r\r"), "F\r\n");
}

TEST_F(EmulatorTest, AnswersOnlyOnceALineIsCompleteAcrossReads) {
    for (const char* piece : {"#", "01", "025", "9"}) EXPECT_EQ(Send(piece), "") << piece;
    EXPECT_EQ(Send("\r"), "*01\r\n");
    EXPECT_EQ(Send("\r"), "");  // the extra CR, in a read of its own
    EXPECT_EQ(Send("P\r\rR05A\r\r"), "*00\r\nLABEL055\r\n");
    EXPECT_EQ(emulator.counts.messages, 3u);
}

TEST_F(EmulatorTest, ALoneCrIsAnsweredUnlessItEndsAProtocolMessage) {
    EXPECT_EQ(Send("TEXT\r\r"), "*00\r\n*00\r\n");
    EXPECT_EQ(Send("L0502AB9\r\r\r"), "*05\r\n*00\r\n");
}

TEST_F(EmulatorTest, NotesAMessageWithoutItsExtraCrByItsOwnText) {
    EXPECT_EQ(Send("P\r#010259\r\r"), "*00\r\n*01\r\n");
    EXPECT_TRUE(
        HasEvent("NOTE \"P\" came with one CR, as list commands do (the driver's own messages bring two); "
                 "\"#010259\" came next"));
}

// A stray LF, NUL or blank must not turn a message into free text, which is
// acknowledged though nothing was switched.
TEST_F(EmulatorTest, JudgesAMessageWithoutTheStrayBytesAheadOfIt) {
    const struct {
        std::string sent;
        const char* reply;
        const char* event;
    } cases[] = {
        {"\n#010259\r\r", "*01\r\n", "HASH 0102 bank 1 = 5"},
        {std::string("\0#0A1FC7\r\r", 10), "*0A\r\n", "HASH 0A1F bank 1 = C"},
        {" \t\nP\r\r", "*00\r\n", "NOTE 3 stray bytes \" <09><LF>\" ahead of \"P\" skipped"},
        {"\n#010258\r\r", "?\r\n", "REFUSED \"#010258\": bad checksum"},
        {" M12\r\r", "?\r\n", "REFUSED \"M12\""},
        {"\nCAM 1\r", "*00\r\n", "TEXT \"<LF>CAM 1\""},
    };
    for (const auto& c : cases) {
        emulator.events.clear();
        EXPECT_EQ(Send(c.sent), c.reply) << Visible(c.sent);
        EXPECT_TRUE(HasEvent(c.event)) << Visible(c.sent);
    }
}

TEST_F(EmulatorTest, LogsFreeTextWithItsLineFeed) {
    EXPECT_EQ(Send("CAM 1\n\r"), "*00\r\n");
    EXPECT_TRUE(HasEvent("TEXT \"CAM 1<LF>\""));
}

TEST_F(EmulatorTest, CutsOverlongLinesAndRefusesOverlongMessages) {
    EXPECT_EQ(Send("L05" + std::string(3000, 'x') + "\r\r"), "?\r\n");
    EXPECT_TRUE(HasEvent("longer than 1024 characters"));
    EXPECT_EQ(Send(std::string(3000, 'x') + "\r"), "*00\r\n");
    EXPECT_TRUE(HasEvent("NOTE text cut at 1024 characters"));
    EXPECT_EQ(Send("#010259\r\r"), "*01\r\n");
}

// The message after an overlong run without a CR is still carried out, also
// when the cut fell inside it.
TEST_F(EmulatorTest, FindsTheMessageThatEndsAnOverlongLine) {
    const struct {
        std::string sent;
        const char* reply;
        const char* event;
    } cases[] = {
        {std::string(3000, 'x') + "#010259\r\r", "*01\r\n", "NOTE 3000 bytes without a CR ahead of \"#010259\""},
        {std::string(1020, 'x') + "L0502AB9\r\r", "*05\r\n", "L 05 = \"AB\""},
        {std::string(5000, '#') + "P\r\r", "*00\r\n", "PREAMBLE"},
        {std::string(3000, 'x') + "#010258\r", "?\r\n", "REFUSED \"#010258\": bad checksum"},
    };
    for (const auto& c : cases) {
        emulator.events.clear();
        EXPECT_EQ(Send(c.sent), c.reply) << c.sent.substr(c.sent.size() - 12);
        EXPECT_TRUE(HasEvent(c.event)) << c.sent.substr(c.sent.size() - 12);
    }
}

TEST_F(EmulatorTest, DropsALineLeftWithoutItsCrAfterAGap) {
    EXPECT_EQ(Send("#01", 0), "");
    EXPECT_EQ(Send("02", kPartialLineGapMs - 1), "");  // still the same message
    EXPECT_EQ(Send("59\r\r", kPartialLineGapMs), "*01\r\n");
    EXPECT_EQ(Send("#01", 10000), "");
    EXPECT_EQ(Send("#010259\r\r", 10000 + kPartialLineGapMs), "*01\r\n");
    EXPECT_TRUE(HasEvent("NOTE \"#01\" dropped: no CR came within"));
    EXPECT_EQ(emulator.counts.messages, 2u);
}

// The loop asks for due writes after every read: answers queued at one
// moment are one write, so a flood of lone CRs under a delay costs each read
// the same.
TEST_F(EmulatorTest, KeepsAnswersDueAtOneMomentTogether) {
    emulator.faults.delayMs = 100;
    const std::string chunk(4096, '\r');
    constexpr uint64_t kReads = 50;
    std::string answered;
    for (uint64_t read = 0; read < kReads; ++read) {
        ReceiveBytes(emulator, chunk, read);
        answered += TakeDueWrites(emulator, read);
        EXPECT_EQ(MillisecondsToNextWrite(emulator, read), 100 - static_cast<int64_t>(read));
    }
    EXPECT_EQ(emulator.writes.size(), kReads);
    answered += TakeDueWrites(emulator, 1000);
    EXPECT_EQ(answered.size(), kReads * chunk.size() * 5);
    EXPECT_EQ(answered.find_first_not_of("*0\r\n"), std::string::npos);
}

TEST_F(EmulatorTest, RefuseFaultAnswersTheNextMessagesWithoutApplyingThem) {
    emulator.faults.refuse = 2;
    EXPECT_EQ(Send("#010259\r\r"), "?\r\n");
    EXPECT_EQ(Send("P\r\r"), "?\r\n");
    EXPECT_TRUE(HasEvent("REFUSED \"#010259\": refuse fault, 1 left"));
    EXPECT_FALSE(HasEvent("HASH 0102"));
    EXPECT_EQ(Send("#010259\r\r"), "*01\r\n");
    EXPECT_TRUE(HasEvent("HASH 0102 bank 1 = 5"));
    EXPECT_EQ(emulator.counts.refused, 2u);
}

TEST_F(EmulatorTest, SilentFaultAnswersNothingButKeepsTheState) {
    emulator.faults.silent = true;
    emulator.faults.refuse = 1;
    EXPECT_EQ(Send("#010259\r\rR05A\r\r"), "");
    EXPECT_TRUE(HasEvent("HASH 0102 bank 1 = 5"));
    EXPECT_TRUE(HasEvent("FAULT silent"));
    EXPECT_EQ(emulator.faults.refuse, 1u);  // kept for when it speaks again
    emulator.faults.silent = false;
    EXPECT_EQ(Send("#010259\r\r"), "?\r\n");
}

// A silent switcher acts and only its answer is lost; a switched-off one
// neither answers, nor echoes, nor acts, nor counts.
TEST_F(EmulatorTest, PowerOffLosesWhatSilentStillCarriesOut) {
    const struct {
        const char* name;
        bool silent;
        bool powerOff;
        bool acted;
    } cases[] = {
        {"silent", true, false, true},
        {"powered off", false, true, false},
        {"silent and powered off", true, true, false},
    };
    for (const auto& c : cases) {
        emulator = Emulator{};
        emulator.faults.silent = c.silent;
        emulator.faults.powerOff = c.powerOff;
        emulator.faults.echo = true;
        emulator.faults.refuse = 1;
        const std::string sent = "#010259\r\rL0502AB9\r\r";
        EXPECT_EQ(Send(sent), c.powerOff ? "" : sent) << c.name;
        EXPECT_EQ(emulator.state.crosspoints.empty(), !c.acted) << c.name;
        EXPECT_EQ(emulator.counts.messages, c.acted ? 2u : 0u) << c.name;
        EXPECT_EQ(emulator.counts.lost, c.acted ? 0u : 2u) << c.name;
        EXPECT_EQ(emulator.faults.refuse, 1u) << c.name;
        EXPECT_EQ(HasEvent("POWER off: lost \"#010259\""), !c.acted) << c.name;
    }
}

TEST_F(EmulatorTest, PowerOffDropsTheAnswersAndTheLineItInterrupts) {
    emulator.faults.delayMs = 100;
    Send("#010259\r\r#0A1F", 0);
    SetPower(emulator, false);
    EXPECT_EQ(MillisecondsToNextWrite(emulator, 0), -1);
    SetPower(emulator, true);
    // The "#0A1F" of before is not glued to what follows.
    Send("C7\r", 0);
    EXPECT_EQ(TakeDueWrites(emulator, 100), "*00\r\n");
    EXPECT_TRUE(HasEvent("TEXT \"C7\""));
}

// --power-off-after 2 --power-off-for 3: the second message is answered,
// the next three lines are lost, the sixth answered; the driver's extra CR
// is never a line of its own.
TEST_F(EmulatorTest, PowerOffAfterAndForCountAsTheDriverSends) {
    emulator.faults.powerOffAfter = 2;
    emulator.faults.powerOffFor = 3;
    const ReplyCase cases[] = {
        {"P\r\r", "*00\r\n"}, {"#010259\r\r", "*01\r\n"}, {"#0A1FC7\r\r", ""},
        {"FREE TEXT\r", ""},  {"\n#010259\r\r", ""},      {"#0A1FC7\r\r", "*0A\r\n"},
    };
    for (const ReplyCase& c : cases) EXPECT_EQ(Send(c.sent), c.reply) << c.sent;
    EXPECT_TRUE(HasEvent("POWER off"));
    EXPECT_TRUE(HasEvent("POWER on"));
    EXPECT_EQ(emulator.counts.messages, 3u);
    EXPECT_EQ(emulator.counts.lost, 3u);
}

TEST_F(EmulatorTest, GarbageFaultAnswersBytesTheDriverCannotRecognise) {
    emulator.faults.garbage = true;
    for (const char* sent : {"#010259\r\r", "R05A\r\r", "#010258\r\r", "TEXT\r"}) {
        const std::string reply = Send(sent);
        EXPECT_EQ(reply, kGarbageReply) << sent;
        EXPECT_TRUE(reply[0] != '*' && reply[0] != '?');
    }
    emulator.faults.refuse = 1;
    EXPECT_EQ(Send("#010259\r\r"), "?\r\n");
}

TEST_F(EmulatorTest, EchoFaultSendsBackEveryByteAheadOfTheAnswer) {
    emulator.faults.echo = true;
    EXPECT_EQ(Send("#0102"), "#0102");
    EXPECT_EQ(Send("59\r\r"), "59\r\r*01\r\n");
    emulator.faults.silent = true;
    EXPECT_EQ(Send("P\r\r"), "P\r\r");
}

TEST_F(EmulatorTest, DelayFaultHoldsTheAnswerButNotTheEcho) {
    emulator.faults.delayMs = 250;
    emulator.faults.echo = true;
    EXPECT_EQ(Send("P\r\r", 1000), "P\r\r");
    EXPECT_EQ(MillisecondsToNextWrite(emulator, 1000), 250);
    EXPECT_EQ(TakeDueWrites(emulator, 1249), "");
    EXPECT_EQ(MillisecondsToNextWrite(emulator, 1249), 1);
    EXPECT_EQ(TakeDueWrites(emulator, 1250), "*00\r\n");
    EXPECT_EQ(MillisecondsToNextWrite(emulator, 1250), -1);
}

TEST_F(EmulatorTest, HangupComesAfterTheCountedMessagesAndTheirAnswers) {
    emulator.faults.hangupAfter = 2;
    emulator.faults.delayMs = 10;
    ReceiveBytes(emulator, "P\r\r#010259\r\r#0A1FC7\r\r", 0);
    EXPECT_FALSE(HangupDue(emulator));  // the answers still wait
    EXPECT_EQ(TakeDueWrites(emulator, 10), "*00\r\n*01\r\n");
    EXPECT_TRUE(HangupDue(emulator));
    EXPECT_EQ(emulator.counts.messages, 2u);
    EXPECT_FALSE(HasEvent("HASH 0A1F"));
}

TEST_F(EmulatorTest, ReplugComesAfterTheCountedMessagesAndTheirAnswers) {
    emulator.replugAfter = 1;
    ReceiveBytes(emulator, "P\r\r#010259\r\r", 0);
    EXPECT_FALSE(ReplugDue(emulator));
    EXPECT_EQ(TakeDueWrites(emulator, 0), "*00\r\n");
    EXPECT_TRUE(ReplugDue(emulator));
    EXPECT_EQ(emulator.counts.messages, 1u);
}

TEST_F(EmulatorTest, HangupAfterZeroIsDueAtOnce) {
    emulator.faults.hangupAfter = 0;
    EXPECT_TRUE(HangupDue(emulator));
    EXPECT_EQ(Send("#010259\r\r"), "");
}

TEST_F(EmulatorTest, VerboseShowsTheBytesBothWays) {
    emulator.verbose = true;
    Send("P\r\r");
    EXPECT_TRUE(HasEvent("RX P<CR><CR>"));
    EXPECT_TRUE(HasEvent("TX *00<CR><LF>"));
}

TEST_F(EmulatorTest, StateReportFramesFaultsCountsAndState) {
    Send("#010259\r\r#010258\r\r");
    const std::vector<std::string> report = StateReport(emulator);
    ASSERT_GE(report.size(), 5u);
    EXPECT_EQ(report.front(), "STATE BEGIN");
    EXPECT_EQ(report[1], "FAULTS silent off, refuse 0, garbage off, delay 0, echo off, hangup-after off, power on");
    EXPECT_EQ(report[2], "COUNTS messages 2, refused 1, lost 0");
    EXPECT_EQ(report[3], "HASH 0102 bank 1 = 5 (value 5), bank 2 = unset");
    EXPECT_EQ(report.back(), "STATE END");
}

}  // namespace
}  // namespace qelswitch
