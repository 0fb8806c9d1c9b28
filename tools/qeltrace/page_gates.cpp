// The plots are drawn here as SVG, with at most one step and one mark of
// each kind per pixel column, so that a day of writes stays a small page. The
// state table is worked out by the page's script from each gate's requests,
// for whatever moment is picked; it is written first for the trace's end.
#include "page_gates.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "json_writer.h"
#include "state_at.h"

namespace qeltrace {
namespace {

constexpr int kPlotWidth = 1000;
constexpr int kPlotHeight = 120;
constexpr int kPlotMargin = 10;
constexpr size_t kRowsShown = 50;

struct Gate {
    int32_t instance = 0;
    std::string gate;
    std::vector<const GateRequest*> requests;
};

std::string Escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        out += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : c == '"' ? "&quot;" : std::string(1, c);
    }
    return out;
}

bool Numeric(const Gate& gate) {
    return std::all_of(gate.requests.begin(), gate.requests.end(), [](const GateRequest* r) {
        char* end = nullptr;
        std::strtol(r->value.c_str(), &end, 10);
        return !r->isText && !r->value.empty() && *end == '\0';
    });
}

void StepPlot(const Gate& gate, std::ostream& out) {
    const int64_t t0 = gate.requests.front()->time.utcMs, t1 = std::max(gate.requests.back()->time.utcMs, t0 + 1);
    long low = 0, high = 1;
    for (const GateRequest* r : gate.requests) {
        high = std::max(high, std::strtol(r->value.c_str(), nullptr, 10));
    }
    auto x = [&](int64_t t) { return kPlotMargin + (t - t0) * (kPlotWidth - 2 * kPlotMargin) / (t1 - t0); };
    auto y = [&](long v) {
        return kPlotHeight - kPlotMargin - (v - low) * (kPlotHeight - 2 * kPlotMargin) / (high - low);
    };
    std::string path;
    std::map<std::pair<int64_t, int>, long> marks;  // column, outcome -> value
    int64_t lastX = -1;
    long lastY = -1;
    for (const GateRequest* r : gate.requests) {
        const long value = std::strtol(r->value.c_str(), nullptr, 10);
        const int64_t column = x(r->time.utcMs);
        marks[{column, static_cast<int>(r->outcome)}] = value;
        if (r->outcome != Outcome::kConfirmed) {
            continue;
        }
        if (lastY < 0) {
            path += "M" + std::to_string(column) + " " + std::to_string(y(value));
        } else if (column != lastX || y(value) != lastY) {
            path += "H" + std::to_string(column) + "V" + std::to_string(y(value));
        }
        lastX = column;
        lastY = y(value);
    }
    if (lastY >= 0) {
        path += "H" + std::to_string(kPlotWidth - kPlotMargin);
    }
    out << "<svg class=\"steps\" viewBox=\"0 0 " << kPlotWidth << " " << kPlotHeight
        << "\" preserveAspectRatio=\"none\"><path class=\"step\" d=\"" << path << "\"/>";
    for (const auto& [key, value] : marks) {
        const Outcome outcome = static_cast<Outcome>(key.second);
        out << "<circle class=\"" << (outcome == Outcome::kConfirmed ? "confirmed" : "unconfirmed") << "\" cx=\""
            << key.first << "\" cy=\"" << y(value) << "\" r=\"3\"><title>" << value << ": " << OutcomeName(outcome)
            << "</title></circle>";
    }
    out << "<text x=\"2\" y=\"12\">" << high << "</text><text x=\"2\" y=\"" << kPlotHeight - 2 << "\">" << low
        << "</text></svg>\n<p class=\"plot-span\">" << Escape(gate.requests.front()->stamp) << " to "
        << Escape(gate.requests.back()->stamp) << "</p>\n";
}

void HistoryTable(const Gate& gate, std::ostream& out) {
    const size_t skipped = gate.requests.size() > kRowsShown ? gate.requests.size() - kRowsShown : 0;
    if (skipped > 0) {
        out << "<p>The last " << kRowsShown << " of " << gate.requests.size() << " requests:</p>\n";
    }
    out << "<table class=\"history\"><tr><th>time</th><th>request</th><th>value</th><th>result</th>"
           "<th>switcher</th><th>took</th><th>reason</th></tr>\n";
    for (size_t i = skipped; i < gate.requests.size(); ++i) {
        const GateRequest& r = *gate.requests[i];
        out << "<tr class=\"o" << static_cast<int>(r.outcome) << "\"><td>" << Escape(r.stamp) << "</td><td>"
            << Escape(r.request) << "</td><td>" << Escape(r.value) << "</td><td>"
            << (r.result ? std::to_string(*r.result) : "-") << "</td><td>" << OutcomeName(r.outcome) << "</td><td>"
            << (r.result ? std::to_string(r.ms) + " ms" : "-") << "</td><td>" << Escape(r.reason) << "</td></tr>\n";
    }
    out << "</table>\n";
}

void GateData(const std::vector<Gate>& gates, std::ostream& out) {
    qeltools::JsonWriter json(out, true);
    json.Begin('[');
    for (const Gate& gate : gates) {
        json.Begin('{').Key("gate").String(gate.gate).Key("instance").Number(int64_t{gate.instance});
        json.Key("t").Begin('[');
        for (const GateRequest* r : gate.requests) {
            json.Number(r->time.utcMs);
        }
        json.End(']').Key("v").Begin('[');
        for (const GateRequest* r : gate.requests) {
            json.String(r->value);
        }
        json.End(']').Key("o").Begin('[');
        for (const GateRequest* r : gate.requests) {
            json.Number(int64_t{static_cast<int>(r->outcome)});
        }
        json.End(']').End('}');
    }
    json.End(']');
}

constexpr const char* kGateScript = R"JS(
(function () {
  var table = document.getElementById("state-table"), input = document.getElementById("moment");
  var offset = GATES.offset;
  function stamp(t) { return new Date(t + offset * 60000).toISOString().replace("Z", ""); }
  function cell(row, text) { var td = document.createElement("td"); td.textContent = text; row.appendChild(td); }
  function show(moment) {
    input.value = stamp(moment);
    while (table.rows.length > 1) { table.deleteRow(1); }
    GATES.gates.forEach(function (g) {
      var last = -1, later = [];
      for (var i = 0; i < g.t.length && g.t[i] <= moment; i++) {
        if (g.o[i] === 0) { last = i; later = []; } else { later.push(g.v[i] + " " + OUTCOMES[g.o[i]]); }
      }
      if (last < 0 && later.length === 0) { return; }
      var row = table.insertRow(-1);
      cell(row, g.gate); cell(row, String(g.instance));
      cell(row, last < 0 ? "nothing confirmed" : g.v[last]);
      cell(row, last < 0 ? "" : stamp(g.t[last]));
      cell(row, later.join("; "));
    });
  }
  document.getElementById("moment-apply").addEventListener("click", function () {
    var t = Date.parse(input.value + "Z") - offset * 60000;
    if (!isNaN(t)) { show(t); }
  });
  document.addEventListener("qel-moment", function (event) { show(event.detail); });
  show(GATES.end);
})();
)JS";

}  // namespace

void WriteGatePage(const std::vector<GateRequest>& requests, std::ostream& out) {
    std::map<std::pair<int32_t, std::string>, Gate> byGate;
    int64_t end = 0, offsetMinutes = 0;
    for (const GateRequest& r : requests) {
        Gate& gate = byGate[{r.instance, r.gate}];
        gate.instance = r.instance;
        gate.gate = r.gate;
        gate.requests.push_back(&r);
        end = std::max(end, r.time.utcMs);
        offsetMinutes = (r.time.localMs - r.time.utcMs) / 60000;
    }
    std::vector<Gate> gates;
    for (auto& [key, gate] : byGate) {
        gates.push_back(std::move(gate));
    }
    out << "<h2 id=\"gates\">Gates</h2>\n";
    if (gates.empty()) {
        out << "<p>No write or update of a gate in the trace.</p>\n";
        return;
    }
    out << "<h3>The state at a moment</h3>\n<p>What the driver set and the switcher confirmed, by the trace; what "
           "other controllers of the switcher did is not in it. Moment: <input id=\"moment\"> <button "
           "id=\"moment-apply\">Show</button> (or click a timeline)</p>\n"
           "<table class=\"state\" id=\"state-table\"><tr><th>gate</th><th>instance</th><th>value</th>"
           "<th>confirmed at</th><th>tried since, not confirmed</th></tr></table>\n";
    for (const Gate& gate : gates) {
        out << "<h3>Gate " << Escape(gate.gate) << ", instance " << gate.instance << "</h3>\n";
        if (Numeric(gate)) {
            StepPlot(gate, out);
        }
        HistoryTable(gate, out);
    }
    out << "<script>\nvar OUTCOMES = [";
    for (int i = 0; i <= static_cast<int>(Outcome::kUnfinished); ++i) {
        out << (i > 0 ? ", " : "") << "\"" << OutcomeName(static_cast<Outcome>(i)) << "\"";
    }
    out << "];\nvar GATES = {\"end\": " << end << ", \"offset\": " << offsetMinutes << ", \"gates\": ";
    GateData(gates, out);
    out << "};\n" << kGateScript << "</script>\n";
}

}  // namespace qeltrace
