// The summary as one JSON object, for scripts: the figures of the text
// summary under stable names, times as the trace wrote them.
#include "json_writer.h"
#include "report.h"

namespace qeltrace {
namespace {

// The version of the JSON's layout, its first field.
constexpr int64_t kJsonSchema = 1;

constexpr size_t kGatesListed = 10;

void Time(qeltools::JsonWriter& json, std::string_view key, const When& when) {
    json.Key(key).String(when.stamp);
}

void Requests(qeltools::JsonWriter& json, const RequestFigures& f) {
    json.Begin('{');
    json.Key("count").Number(f.requests);
    json.Key("result0").Number(f.results[0]);
    json.Key("result1").Number(f.results[1]);
    json.Key("result2").Number(f.results[2]);
    json.Key("otherResults").Number(f.otherResults);
    json.Key("unfinished").Number(f.unfinished);
    json.Key("retries").Number(f.retries);
    json.Key("refusals").Number(f.refusals);
    json.Key("readsWithNothing").Number(f.silentReads);
    json.Key("unconfirmed0").Number(f.unconfirmed);
    if (f.time.total > 0) {
        json.Key("ms").Begin('{');
        json.Key("median").Number(static_cast<uint64_t>(f.time.Percentile(0.5)));
        json.Key("p95").Number(static_cast<uint64_t>(f.time.Percentile(0.95)));
        json.Key("max").Number(static_cast<uint64_t>(f.time.maxMs));
        Time(json, "slowestAt", f.time.slowest);
        json.End('}');
    }
    json.End('}');
}

void Periods(qeltools::JsonWriter& json, const std::vector<Period>& periods) {
    json.Begin('[');
    for (const Period& period : periods) {
        json.Begin('{');
        json.Key("instance").Number(static_cast<int64_t>(period.instance));
        json.Key("port").String(period.port);
        json.Key("state").String(period.state);
        Time(json, "start", period.start);
        Time(json, "end", period.end);
        json.Key("ms").Number(period.LengthMs());
        json.Key("ongoing").Bool(period.ongoing);
        json.Key("endedByStop").Bool(period.endedByStop);
        json.End('}');
    }
    json.End(']');
}

void Reopens(qeltools::JsonWriter& json, const std::vector<Reopen>& reopens) {
    json.Begin('[');
    for (const Reopen& reopen : reopens) {
        json.Begin('{');
        json.Key("instance").Number(static_cast<int64_t>(reopen.instance));
        json.Key("port").String(reopen.port);
        Time(json, "lost", reopen.lost);
        Time(json, "reopened", reopen.reopened);
        json.Key("ms").Number(reopen.reopened.utcMs - reopen.lost.utcMs);
        json.End('}');
    }
    json.End(']');
}

void FiguresJson(qeltools::JsonWriter& json, const Figures& figures) {
    json.Key("starts").Number(figures.starts);
    json.Key("stops").Number(figures.stops);
    json.Key("requests").Begin('{');
    for (const auto& [name, f] : figures.byRequest) {
        json.Key(name);
        Requests(json, f);
    }
    json.End('}');
    json.Key("all");
    Requests(json, figures.all);
    json.Key("gateKinds").Begin('{');
    for (const auto& [name, f] : figures.byGateKind) {
        json.Key(name);
        Requests(json, f);
    }
    json.End('}');
    json.Key("reasons").Begin('[');
    for (const ReasonGroup& group : figures.reasons) {
        json.Begin('{');
        json.Key("reason").String(group.Text());
        json.Key("count").Number(group.count);
        Time(json, "first", group.first);
        Time(json, "last", group.last);
        json.Key("gates").Begin('[');
        for (const std::string& gate : group.gates) {
            json.String(gate);
        }
        json.End(']');
        json.Key("moreGates").Number(group.moreGates);
        json.End('}');
    }
    json.End(']');
    json.Key("failingGates").Begin('[');
    for (const auto& [gate, failures] : WorstGates(figures, kGatesListed)) {
        json.Begin('{');
        json.Key("gate").String(gate);
        json.Key("failed").Number(failures.failed);
        json.Key("requests").Number(failures.requests);
        Time(json, "lastFailure", failures.lastFailure);
        json.End('}');
    }
    json.End(']');
}

void Notes(qeltools::JsonWriter& json, const std::vector<LineNote>& notes) {
    json.Begin('[');
    for (const LineNote& note : notes) {
        json.Begin('{');
        json.Key("file").String(note.file);
        json.Key("line").Number(note.line);
        json.Key("text").String(note.text);
        json.End('}');
    }
    json.End(']');
}

}  // namespace

void WriteJson(const Summary& summary, const std::vector<std::string>& files, std::ostream& out) {
    qeltools::JsonWriter json(out, true);
    json.Begin('{');
    json.Key("qeltrace").Number(kJsonSchema);
    json.Key("files").Begin('[');
    for (const std::string& file : files) {
        json.String(file);
    }
    json.End(']');
    json.Key("lines").Number(summary.Lines());
    json.Key("malformed").Number(summary.Malformed());
    json.Key("malformedLines");
    Notes(json, summary.MalformedLines());
    json.Key("unknownKinds").Number(summary.UnknownKinds());
    json.Key("unknownLines");
    Notes(json, summary.UnknownLines());
    json.Key("instances").Begin('[');
    for (const Instance& instance : summary.Instances()) {
        json.Begin('{');
        json.Key("instance").Number(static_cast<int64_t>(instance.number));
        json.Key("port").String(instance.port);
        Time(json, "first", instance.first);
        Time(json, "last", instance.last);
        FiguresJson(json, instance.figures);
        std::vector<Period> outages;
        for (const Period& period : instance.states) {
            if (qeltools::IsOutage(period.state)) {
                outages.push_back(period);
            }
        }
        json.Key("outages");
        Periods(json, outages);
        json.Key("reopens");
        Reopens(json, instance.reopens);
        json.Key("reopenFailures").Number(instance.reopenFailures);
        json.End('}');
    }
    json.End(']');
    json.Key("total").Begin('{');
    Time(json, "first", summary.First());
    Time(json, "last", summary.Last());
    FiguresJson(json, summary.Total());
    json.Key("outages");
    Periods(json, summary.Outages());
    json.Key("reopens");
    Reopens(json, summary.Reopens());
    json.Key("reopenFailures").Number(summary.ReopenFailures());
    json.End('}');
    json.End('}');
    out << "\n";
}

}  // namespace qeltrace
