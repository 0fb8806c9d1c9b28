// The link on a real serial line: what goes out with its CR, what a read
// delivers, and the traffic as the operator sees it in "OUTGOING" and
// "INCOMING".
#include "link/link_io.h"

#include <cstring>
#include <string>

#include "os/serial_port.h"
#include "scripted_switcher.h"

namespace {

constexpr int kLineMs = 1000;

class LinkTest : public SwitcherTest {
  protected:
    // Bytes that reach the far end, up to count of them.
    std::string Arrived(size_t count) { return peer.Receive(count, kLineMs); }
    bool NothingMoreArrives() { return peer.Receive(1, 100).empty(); }
    std::string Incoming() const { return MoxText("INCOMING"); }
    std::string Outgoing() const { return MoxText("OUTGOING"); }
};

struct SendCase {
    std::string message;
    int32_t length;
    std::string wire;
    std::string echo;
};

const std::string kLong(250, 'x');

const SendCase kSends[] = {
    {"P\r", 2, "P\r\r", "P\r\r"},
    {"", 0, "\r", "\r"},
    {"#010259\r", 8, "#010259\r\r", "#010259\r\r"},
    {"ABCDEF", 3, "ABC\r", "ABC\r"},
    {kLong, 250, kLong + "\r", kLong.substr(0, 200)},
    {std::string("A\0B", 3), 3, std::string("A\0B\r", 4), "A"},
};

TEST_F(LinkTest, SendAddsCrAndEchoesTheTransmission) {
    for (const SendCase& c : kSends) {
        SCOPED_TRACE(Visible(c.message));
        EXPECT_EQ(LinkSend(context, c.message.data(), c.length), kOk);
        EXPECT_EQ(Arrived(c.wire.size()), c.wire);
        EXPECT_EQ(context->lastSendLength, c.length + 1);
        EXPECT_EQ(Outgoing(), c.echo);
    }
    EXPECT_TRUE(NothingMoreArrives());
    EXPECT_EQ(MoxPutCount("OUTGOING"), static_cast<int>(std::size(kSends)));
}

TEST_F(LinkTest, SendLeavesTheCallersBufferAlone) {
    char message[4] = {'A', 'B', 'C', 'Z'};
    EXPECT_EQ(LinkSend(context, message, 3), kOk);
    EXPECT_EQ(message[3], 'Z');
    EXPECT_EQ(Arrived(4), "ABC\r");
}

TEST_F(LinkTest, SendWithoutOutgoingGateStillSucceeds) {
    MoxReset();
    EXPECT_EQ(LinkSend(context, "P\r", 2), kOk);
    EXPECT_EQ(Arrived(3), "P\r\r");
}

TEST_F(LinkTest, SendPurgesWhatWaitedBeforeIt) {
    peer.Send("stale");
    peer.Receive(1, 50);  // give the bytes time to cross
    EXPECT_EQ(LinkSend(context, "P\r", 2), kOk);
    LinkReceiveFixed(context, context->replyBuffer, 5);
    EXPECT_EQ(context->replyLength, 0);
}

TEST_F(LinkTest, SendRefusesAMessageTooLongForTheLink) {
    static char message[kLinkMessageLimit + 1];
    std::memset(message, 'x', sizeof message);
    context->lastSendLength = 7;
    EXPECT_EQ(LinkSend(context, message, kLinkMessageLimit + 1), kFailed);
    EXPECT_EQ(LinkSend(context, message, -1), kFailed);
    EXPECT_EQ(context->lastSendLength, 7);
    EXPECT_EQ(MoxPutCount("OUTGOING"), 0);
    EXPECT_TRUE(NothingMoreArrives());

    EXPECT_EQ(LinkSend(context, message, kLinkMessageLimit), kOk);
    EXPECT_EQ(Arrived(kLinkMessageLimit + 1).size(), static_cast<size_t>(kLinkMessageLimit + 1));
}

TEST_F(LinkTest, FailedWriteIsNoSuccessAndNotEchoed) {
    const PortHandle port = context->port;
    context->port = kNoPort;
    EXPECT_EQ(LinkSend(context, "P\r", 2), kFailed);
    EXPECT_EQ(context->lastSendLength, 3);
    context->port = port;
    if (peer.CanHangUp()) {
        peer.HangUp();
        EXPECT_EQ(LinkSend(context, "#010259\r", 8), kFailed);
        EXPECT_EQ(context->lastSendLength, 9);
    }
    EXPECT_EQ(MoxPutCount("OUTGOING"), 0);
}

struct ReceiveCase {
    std::string reply;
    std::string echo;
};

const ReceiveCase kReceives[] = {
    {"*01\r\n", "*01<CR><LF>"},
    {"AB\rCD", "AB<CR>"},
    {"AB\r\rCD", "AB<CR>"},
    {"\r\n", "<CR><LF>"},
    {"XYZ", "XYZ"},
    {std::string("A\0B\r", 4), "A"},
    {std::string(150, 'y'), std::string(100, 'y')},
};

TEST_F(LinkTest, ReceiveMarksTheFirstLineEnd) {
    for (const ReceiveCase& c : kReceives) {
        SCOPED_TRACE(Visible(c.reply));
        peer.Send(c.reply);
        EXPECT_EQ(LinkReceive(context, context->replyBuffer, 100), kOk);
        const size_t delivered = c.reply.size() < 100 ? c.reply.size() : 100;
        EXPECT_EQ(context->replyLength, delivered);
        EXPECT_EQ(std::string(context->replyBuffer, delivered), c.reply.substr(0, delivered));
        EXPECT_EQ(Incoming(), c.echo);
        peer.Drain();
        PurgeInput(context->port);
    }
}

TEST_F(LinkTest, ReceiveEchoesAtMostTwoHundredBytes) {
    const std::string reply(250, 'z');
    peer.Send(reply);
    EXPECT_EQ(LinkReceive(context, context->replyBuffer, 300), kOk);
    EXPECT_EQ(context->replyLength, 250);
    EXPECT_EQ(Incoming(), reply.substr(0, 200));
}

TEST_F(LinkTest, ReceiveOfNothingChangesNothing) {
    MoxSetText("INCOMING", "earlier");
    context->replyLength = 77;
    EXPECT_EQ(LinkReceive(context, context->replyBuffer, 100), kFailed);
    EXPECT_EQ(context->replyLength, 77);
    EXPECT_EQ(Incoming(), "earlier");
    EXPECT_EQ(MoxPutCount("INCOMING"), 0);
}

TEST_F(LinkTest, ReceiveWithoutIncomingGateStillSucceeds) {
    MoxReset();
    peer.Send("*01\r\n");
    EXPECT_EQ(LinkReceive(context, context->replyBuffer, 5), kOk);
    EXPECT_EQ(context->replyLength, 5);
}

struct FixedCase {
    const char* name;
    int32_t lastSendLength;
    int32_t n;
    std::string reply;
    std::string buffer;  // the first 20 bytes afterwards
    uint8_t replyLength;
    std::string echo;
};

std::string Filled(const std::string& head) {
    return head + std::string(20 - head.size(), '0');
}

const std::string kForty = std::string(22, 'e') + "REPLY\rmore" + std::string(8, 'm');

const FixedCase kFixed[] = {
    {"after preamble", 3, 5, "P\r\r*A", "P\r\r*A", 5, "A"},
    {"after preamble, fifth byte CR", 3, 5, "P\r\r*\r", "P\r\r*\r", 5, ""},
    {"after a '#' message", 9, 5, "*01\r\n", "*01\r\n", 5, ""},
    {"nothing arrives", 9, 5, "", "", 0, ""},
    {"short reply", 3, 5, "xyz", "xyz", 3, ""},
    {"long read", 21, 100, kForty, kForty.substr(0, 20), 40, "REPLY"},
    {"never sent before", 0, 5, "ab", "ab", 2, "b"},
};

TEST_F(LinkTest, ReceiveFixedShowsWhatFollowsTheSkip) {
    for (const FixedCase& c : kFixed) {
        SCOPED_TRACE(c.name);
        std::memset(context->replyBuffer, 'q', sizeof context->replyBuffer);
        const int puts = MoxPutCount("INCOMING");
        context->lastSendLength = c.lastSendLength;
        if (!c.reply.empty()) {
            peer.Send(c.reply);
        }
        EXPECT_EQ(LinkReceiveFixed(context, context->replyBuffer, c.n), kOk);
        EXPECT_EQ(std::string(context->replyBuffer, 20), Filled(c.buffer.substr(0, 20)));
        EXPECT_EQ(context->replyLength, c.replyLength);
        EXPECT_EQ(Incoming(), c.echo);
        EXPECT_EQ(MoxPutCount("INCOMING"), puts + 1);
    }
}

TEST_F(LinkTest, ReceiveFixedWithoutIncomingGateStillReads) {
    MoxReset();
    peer.Send("*01\r\n");
    EXPECT_EQ(LinkReceiveFixed(context, context->replyBuffer, 5), kOk);
    EXPECT_EQ(context->replyLength, 5);
    EXPECT_EQ(std::string(context->replyBuffer, 5), "*01\r\n");
}

struct MarkCase {
    const char* text;
    const char* marked;
};

const MarkCase kMarks[] = {
    {"abc", "abc"}, {"a\r\nb", "a<CR><LF>"}, {"a\rb", "a<CR>"}, {"\r", "<CR>"}, {"a\n\rb", "a\n<CR>"},
    {"", ""},       {"a\r\r\n", "a<CR>"},
};

TEST(MarkLineEndTest, ReplacesFromTheFirstCrOn) {
    for (const MarkCase& c : kMarks) {
        char text[64] = {};
        std::strncpy(text, c.text, sizeof text - 1);
        MarkLineEnd(text);
        EXPECT_STREQ(text, c.marked) << Visible(c.text);
    }
}

}  // namespace
