// The text summary: per instance, then the total, in tables a terminal
// shows without wrapping.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <sstream>

#include "report.h"
#include "visible.h"

namespace qeltrace {
namespace {

constexpr size_t kGatesShown = 10;

std::string Row(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Row(const char* format, ...) {
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

unsigned long long U(uint64_t value) {
    return static_cast<unsigned long long>(value);
}

void RequestTable(const char* title, const std::map<std::string, RequestFigures>& rows, const RequestFigures* all,
                  std::ostream& out) {
    if (rows.empty()) {
        return;
    }
    out << Row("  %-14s %8s %8s %8s %8s %8s %8s %8s %8s %8s\n", title, "count", "0", "1", "2", "no end", "tries+",
               "refused", "nothing", "0 unconf");
    auto line = [&](const std::string& name, const RequestFigures& f) {
        out << Row("  %-14s %8llu %8llu %8llu %8llu %8llu %8llu %8llu %8llu %8llu\n", name.c_str(), U(f.requests),
                   U(f.results[0]), U(f.results[1]), U(f.results[2]), U(f.unfinished + f.otherResults), U(f.retries),
                   U(f.refusals), U(f.silentReads), U(f.unconfirmed));
    };
    for (const auto& [name, figures] : rows) {
        line(name, figures);
    }
    if (all != nullptr) {
        line("all", *all);
    }
}

void TimeTable(const std::map<std::string, RequestFigures>& rows, std::ostream& out) {
    bool any = false;
    for (const auto& [name, figures] : rows) {
        if (figures.time.total == 0) {
            continue;
        }
        if (!any) {
            out << Row("  %-14s %9s %9s %9s  %s\n", "time", "median", "95%", "max", "slowest began");
            any = true;
        }
        out << Row("  %-14s %6u ms %6u ms %6u ms  %s\n", name.c_str(), figures.time.Percentile(0.5),
                   figures.time.Percentile(0.95), figures.time.maxMs, figures.time.slowest.stamp.c_str());
    }
}

void ReasonTable(const Figures& figures, std::ostream& out) {
    if (figures.reasons.empty()) {
        return;
    }
    std::vector<const ReasonGroup*> groups;
    for (const ReasonGroup& group : figures.reasons) {
        groups.push_back(&group);
    }
    std::stable_sort(groups.begin(), groups.end(),
                     [](const ReasonGroup* a, const ReasonGroup* b) { return a->count > b->count; });
    out << "  reasons\n";
    for (const ReasonGroup* group : groups) {
        out << Row("  %8llu x  %s\n", U(group->count), group->Text().c_str());
        std::string gates;
        for (const std::string& gate : group->gates) {
            gates += (gates.empty() ? "" : ", ") + gate;
        }
        if (group->moreGates > 0) {
            gates += Row(" and %llu more", U(group->moreGates));
        }
        out << Row("              first %s, last %s%s%s\n", group->first.stamp.c_str(), group->last.stamp.c_str(),
                   gates.empty() ? "" : "; gates ", gates.c_str());
    }
}

void OutageTable(const std::vector<Period>& outages, bool withInstance, std::ostream& out) {
    if (outages.empty()) {
        out << "  line state: no NO ANSWER or LOST period\n";
        return;
    }
    out << "  line state\n";
    for (const Period& period : outages) {
        out << Row("  %s%-9s  from %s  to %s  %s%s\n",
                   withInstance ? Row("[%d %s] ", static_cast<int>(period.instance), period.port.c_str()).c_str() : "",
                   period.state.c_str(), period.start.stamp.c_str(), period.end.stamp.c_str(),
                   Length(period.LengthMs()).c_str(), period.EndNote().c_str());
    }
}

void ReopenTable(const std::vector<Reopen>& reopens, uint64_t failures, bool withInstance, std::ostream& out) {
    if (reopens.empty() && failures == 0) {
        return;
    }
    out << Row("  reopens: %llu, %llu failed tries\n", U(reopens.size()), U(failures));
    for (const Reopen& reopen : reopens) {
        out << Row("  %slost %s  reopened %s  after %s\n",
                   withInstance ? Row("[%d %s] ", static_cast<int>(reopen.instance), reopen.port.c_str()).c_str() : "",
                   reopen.lost.stamp.c_str(), reopen.reopened.stamp.c_str(),
                   Length(reopen.reopened.utcMs - reopen.lost.utcMs).c_str());
    }
}

void GateTable(const Figures& figures, std::ostream& out) {
    const auto gates = WorstGates(figures, kGatesShown);
    if (gates.empty()) {
        return;
    }
    out << "  gates that failed most\n";
    for (const auto& [gate, failures] : gates) {
        out << Row("  %-20s %llu of %llu failed, last at %s\n", gate.c_str(), U(failures.failed), U(failures.requests),
                   failures.lastFailure.stamp.c_str());
    }
}

void FiguresText(const Figures& figures, std::ostream& out) {
    RequestTable("requests", figures.byRequest, &figures.all, out);
    RequestTable("gate kind", figures.byGateKind, nullptr, out);
    TimeTable(figures.byRequest, out);
    ReasonTable(figures, out);
}

}  // namespace

std::vector<std::pair<std::string, GateFailures>> WorstGates(const Figures& figures, size_t count) {
    std::vector<std::pair<std::string, GateFailures>> gates;
    for (const auto& [gate, failures] : figures.gates) {
        if (failures.failed > 0) {
            gates.emplace_back(gate, failures);
        }
    }
    std::stable_sort(gates.begin(), gates.end(),
                     [](const auto& a, const auto& b) { return a.second.failed > b.second.failed; });
    if (gates.size() > count) {
        gates.resize(count);
    }
    return gates;
}

namespace {

void TextRows(const Summary& summary, const std::vector<std::string>& files, std::ostream& out) {
    out << "qeltrace: " << summary.Lines() << " lines from";
    for (const std::string& file : files) {
        out << " " << file;
    }
    out << "\n";
    if (summary.Malformed() > 0) {
        out << Row("  %llu malformed lines, left out:\n", U(summary.Malformed()));
        for (const LineNote& note : summary.MalformedLines()) {
            out << "    " << note.file << ":" << note.line << ": " << note.text << "\n";
        }
    }
    if (summary.UnknownKinds() > 0) {
        out << Row("  %llu lines of a kind this qeltrace does not know, counted only:\n", U(summary.UnknownKinds()));
        for (const LineNote& note : summary.UnknownLines()) {
            out << "    " << note.file << ":" << note.line << ": " << note.text << "\n";
        }
    }
    if (summary.Instances().empty()) {
        out << "no trace lines\n";
        return;
    }
    for (const Instance& instance : summary.Instances()) {
        out << Row("\ninstance %d%s%s: %s to %s (%s); %llu starts, %llu stops\n", static_cast<int>(instance.number),
                   instance.port.empty() ? "" : " on ", instance.port.c_str(), instance.first.stamp.c_str(),
                   instance.last.stamp.c_str(), Length(instance.last.utcMs - instance.first.utcMs).c_str(),
                   U(instance.figures.starts), U(instance.figures.stops));
        FiguresText(instance.figures, out);
        std::vector<Period> outages;
        for (const Period& period : instance.states) {
            if (qeltools::IsOutage(period.state)) {
                outages.push_back(period);
            }
        }
        OutageTable(outages, false, out);
        ReopenTable(instance.reopens, instance.reopenFailures, false, out);
        GateTable(instance.figures, out);
    }
    const Figures total = summary.Total();
    const When first = summary.First(), last = summary.Last();
    out << Row("\ntotal, %llu instances: %s to %s (%s); %llu starts, %llu stops\n", U(summary.Instances().size()),
               first.stamp.c_str(), last.stamp.c_str(), Length(last.utcMs - first.utcMs).c_str(), U(total.starts),
               U(total.stops));
    FiguresText(total, out);
    OutageTable(summary.Outages(), true, out);
    ReopenTable(summary.Reopens(), summary.ReopenFailures(), true, out);
    GateTable(total, out);
}

// What the trace quotes (reasons, ports, gates) may hold any byte: the
// terminal gets no control byte but the line end and the tab, the others
// shown as the trace shows bytes (<1B>).
std::string ForTerminal(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\n' && c != '\t') || byte == 0x7F) {
            qeltools::AppendVisible(byte, shown);
        } else {
            shown += c;
        }
    }
    return shown;
}

}  // namespace

void WriteText(const Summary& summary, const std::vector<std::string>& files, std::ostream& out) {
    std::ostringstream text;
    TextRows(summary, files, text);
    out << ForTerminal(text.str());
}

}  // namespace qeltrace
