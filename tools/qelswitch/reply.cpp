#include "reply.h"

#include "checksum.h"

namespace qelswitch {

std::string AcceptedReply(const Message& message) {
    const bool addressed = message.kind != MessageKind::kPreamble && message.kind != MessageKind::kText;
    return "*" + (addressed ? message.line.substr(1, 2) : std::string("00")) + "\r\n";
}

std::string ReadReply(const std::string& text) {
    return text + ChecksumChar(text) + "\r\n";
}

std::string ReplyFor(const Message& message, const SwitchState& state) {
    if (message.kind == MessageKind::kR) return ReadReply(LabelOf(state, message.addrD));
    return AcceptedReply(message);
}

}  // namespace qelswitch
