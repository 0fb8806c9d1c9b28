// Reasons in groups: the key stands any varying word for "#", and the
// group's words show "…" where its reasons differ.
#include "reason_groups.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace qeltrace {
namespace {

constexpr size_t kGatesKept = 5;
constexpr const char* kAny = "\xE2\x80\xA6";  // …

// A reason's words: a quoted text is one word, kept with its quotes.
std::vector<std::string> Words(std::string_view text) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && text[at] == ' ') {
            ++at;
        }
        if (at >= text.size()) {
            break;
        }
        size_t end = at;
        if (text[at] == '"') {
            end = text.find("\" ", at + 1);
            end = end == std::string_view::npos ? text.size() : end + 1;
        } else {
            end = text.find(' ', at);
            end = end == std::string_view::npos ? text.size() : end;
        }
        words.emplace_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

// What varies between reasons of one kind: numbers, names with digits
// (ports, gates), quoted texts. Such words stand for any value in the key.
bool Varies(const std::string& word) {
    return word.find_first_of("0123456789") != std::string::npos || (!word.empty() && word[0] == '"');
}

std::vector<ReasonGroup>::iterator FindGroup(std::vector<ReasonGroup>& reasons, const std::string& key) {
    return std::find_if(reasons.begin(), reasons.end(), [&](const ReasonGroup& g) { return g.key == key; });
}

void MarkDiffering(ReasonGroup& group, const std::vector<std::string>& words) {
    for (size_t i = 0; i < group.words.size() && i < words.size(); ++i) {
        if (group.words[i] != words[i]) {
            group.words[i] = kAny;
        }
    }
}

// Each gate counts once: the first few are named, the others counted by
// name so that a gate given many times is still one more.
void AddGate(ReasonGroup& group, std::string_view gate) {
    if (std::find(group.gates.begin(), group.gates.end(), gate) != group.gates.end()) {
        return;
    }
    if (group.gates.size() < kGatesKept) {
        group.gates.emplace_back(gate);
    } else {
        group.otherGates.emplace(gate);
        group.moreGates = group.otherGates.size();
    }
}

}  // namespace

std::string ReasonGroup::Text() const {
    std::string text;
    for (const std::string& word : words) {
        text += text.empty() ? "" : " ";
        text += word;
    }
    return text;
}

void Figures::AddReason(std::string_view text, const When& at, std::string_view gate) {
    std::vector<std::string> words = Words(text);
    std::string key;
    for (const std::string& word : words) {
        key += Varies(word) ? std::string("#") : word;
        key += ' ';
    }
    auto group = FindGroup(reasons, key);
    if (group == reasons.end()) {
        reasons.push_back(ReasonGroup{key, std::move(words), 0, at, at, {}, 0, {}});
        group = reasons.end() - 1;
    } else {
        MarkDiffering(*group, words);
    }
    ++group->count;
    group->last = at;
    if (!gate.empty()) {
        AddGate(*group, gate);
    }
}

void MergeReasonGroup(std::vector<ReasonGroup>& reasons, const ReasonGroup& theirs) {
    auto group = FindGroup(reasons, theirs.key);
    if (group == reasons.end()) {
        reasons.push_back(theirs);
        return;
    }
    MarkDiffering(*group, theirs.words);
    group->count += theirs.count;
    if (theirs.first.utcMs < group->first.utcMs) {
        group->first = theirs.first;
    }
    if (theirs.last.utcMs > group->last.utcMs) {
        group->last = theirs.last;
    }
    for (const std::string& gate : theirs.gates) {
        AddGate(*group, gate);
    }
    for (const std::string& gate : theirs.otherGates) {
        AddGate(*group, gate);
    }
}

}  // namespace qeltrace
