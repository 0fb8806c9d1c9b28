// The page: one HTML file with everything inside it (no network, no file
// beside it), so that it opens from a USB stick on a site without a
// network. The tables are plain HTML; the timelines are drawn by the
// page's own script from the marks and bands written into it, so that a
// chosen period can be zoomed to.
#include <cstdio>
#include <sstream>

#include "json_writer.h"
#include "report.h"
#include "visible.h"

namespace qeltrace {
namespace {

constexpr size_t kGatesShown = 10;

// What the tables' columns and the gate kinds mean, so that the page reads
// without the guide.
constexpr const char* kRequestColumns =
    "<p class=\"explain\">0, 1, 2: the results the host got. No end: requests without an END line (the trace was "
    "cut, or the host stopped mid-request) or with another result. Tries beyond the first: messages sent again "
    "because no reply came or the switcher refused. Refused: reads the switcher refused. Reads with nothing: reads "
    "that brought no byte. 0 not confirmed: results 0 that no reply confirmed, as the driver noted them (NOTE).</p>\n";
constexpr const char* kGateKinds =
    "<p class=\"explain\">Gate kinds: # a \"#\" switch message; marked # one sent twice, with a trailer; ! bits "
    "a \"!\" message of four 0/1 bits; ! byte a \"!\" message of one byte value; M, L, R the level, text and "
    "read messages; SEND_STR free text; list a command of the command list file; unrecognised an address the "
    "driver refuses.</p>\n";

// Text for the page: UTF-8 as it stands, markup's characters as entities,
// and a control byte or one that is no UTF-8 in the trace's notation.
std::string Escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const char c = text[at];
        const auto code = static_cast<unsigned char>(c);
        const size_t length = code >= 0x80 ? qeltools::Utf8Length(text, at) : 0;
        if (length > 0) {
            out.append(text.substr(at, length));
            at += length;
            continue;
        }
        ++at;
        if (code < 0x20 || code >= 0x7F) {
            std::string shown;
            qeltools::AppendVisible(code, shown);
            out += "&lt;" + shown.substr(1, shown.size() - 2) + "&gt;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else if (c == '&') {
            out += "&amp;";
        } else if (c == '"') {
            out += "&quot;";
        } else {
            out += c;
        }
    }
    return out;
}

void RequestRows(const char* title, const std::map<std::string, RequestFigures>& rows, const RequestFigures* all,
                 std::ostream& out) {
    if (rows.empty()) {
        return;
    }
    out << "<table class=\"requests\"><tr><th>" << title
        << "</th><th title=\"requests\">count</th><th title=\"answered 0: done\">0</th>"
           "<th title=\"answered 1: failed\">1</th><th title=\"answered 2\">2</th>"
           "<th title=\"no END line: the trace was cut, or another result\">no end</th>"
           "<th title=\"messages sent again after the first try\">tries beyond the first</th>"
           "<th title=\"reads the switcher refused\">refused</th>"
           "<th title=\"reads that brought no byte\">reads with nothing</th>"
           "<th title=\"results 0 the driver noted no reply confirmed\">0 not confirmed</th></tr>\n";
    auto row = [&](const std::string& name, const RequestFigures& f) {
        out << "<tr><th>" << Escape(name) << "</th><td>" << f.requests << "</td><td>" << f.results[0] << "</td><td"
            << (f.results[1] > 0 ? " class=\"bad\"" : "") << ">" << f.results[1] << "</td><td"
            << (f.results[2] > 0 ? " class=\"bad\"" : "") << ">" << f.results[2] << "</td><td>"
            << f.unfinished + f.otherResults << "</td><td>" << f.retries << "</td><td>" << f.refusals << "</td><td>"
            << f.silentReads << "</td><td>" << f.unconfirmed << "</td></tr>\n";
    };
    for (const auto& [name, figures] : rows) {
        row(name, figures);
    }
    if (all != nullptr) {
        row("all", *all);
    }
    out << "</table>\n";
    out << (all != nullptr ? kRequestColumns : kGateKinds);
}

void TimeRows(const std::map<std::string, RequestFigures>& rows, std::ostream& out) {
    bool any = false;
    for (const auto& [name, f] : rows) {
        any = any || f.time.total > 0;
    }
    if (!any) {
        return;
    }
    out << "<h3>Time per request</h3>\n<table "
           "class=\"times\"><tr><th>time</th><th>median</th><th>95%</th><th>max</th><th>slowest "
           "began</th></tr>\n";
    for (const auto& [name, f] : rows) {
        if (f.time.total > 0) {
            out << "<tr><th>" << Escape(name) << "</th><td>" << f.time.Percentile(0.5) << " ms</td><td>"
                << f.time.Percentile(0.95) << " ms</td><td>" << f.time.maxMs << " ms</td><td>"
                << Escape(f.time.slowest.stamp) << "</td></tr>\n";
        }
    }
    out << "</table>\n";
}

void ReasonRows(const Figures& figures, std::ostream& out) {
    if (figures.reasons.empty()) {
        return;
    }
    out << "<h3>Reasons</h3>\n<p class=\"explain\">Why requests failed, alike reasons in one row (&hellip; where "
           "they differ), the gates they were given for.</p>\n<table "
           "class=\"reasons\"><tr><th>count</th><th>reason</th><th>first</th><th>last</th><th>gates</th></tr>\n";
    for (const ReasonGroup& group : figures.reasons) {
        std::string gates;
        for (const std::string& gate : group.gates) {
            gates += (gates.empty() ? "" : ", ") + gate;
        }
        if (group.moreGates > 0) {
            gates += " and " + std::to_string(group.moreGates) + " more";
        }
        out << "<tr><td>" << group.count << "</td><td>" << Escape(group.Text()) << "</td><td>"
            << Escape(group.first.stamp) << "</td><td>" << Escape(group.last.stamp) << "</td><td>" << Escape(gates)
            << "</td></tr>\n";
    }
    out << "</table>\n";
}

void OutageRows(const std::vector<Period>& outages, const std::vector<Reopen>& reopens, uint64_t reopenFailures,
                std::ostream& out) {
    out << "<h3>Line state: no answer and lost</h3>\n";
    if (outages.empty()) {
        out << "<p>The switcher always answered and the port was never lost.</p>\n";
        return;
    }
    out << "<table class=\"outages\"><tr><th>line</th><th>state</th><th>from</th><th>to</th><th>length</th></tr>\n";
    for (const Period& period : outages) {
        out << "<tr><td>" << period.instance << " " << Escape(period.port) << "</td><td>" << Escape(period.state)
            << "</td><td>" << Escape(period.start.stamp) << "</td><td>" << Escape(period.end.stamp)
            << Escape(period.EndNote()) << "</td><td>" << Escape(Length(period.LengthMs())) << "</td></tr>\n";
    }
    out << "</table>\n";
    if (reopens.empty() && reopenFailures == 0) {
        return;
    }
    out << "<p>Reopens: " << reopens.size() << ", failed tries: " << reopenFailures << "</p>\n";
    out << "<table class=\"reopens\"><tr><th>line</th><th>lost</th><th>reopened</th><th>after</th></tr>\n";
    for (const Reopen& reopen : reopens) {
        out << "<tr><td>" << reopen.instance << " " << Escape(reopen.port) << "</td><td>" << Escape(reopen.lost.stamp)
            << "</td><td>" << Escape(reopen.reopened.stamp) << "</td><td>"
            << Escape(Length(reopen.reopened.utcMs - reopen.lost.utcMs)) << "</td></tr>\n";
    }
    out << "</table>\n";
}

void GateRows(const Figures& figures, std::ostream& out) {
    const auto gates = WorstGates(figures, kGatesShown);
    if (gates.empty()) {
        return;
    }
    out << "<h3>Gates that failed most</h3>\n<table "
           "class=\"gates\"><tr><th>gate</th><th>failed</th><th>requests</th><th>last failure</th></tr>\n";
    for (const auto& [gate, f] : gates) {
        out << "<tr><td>" << Escape(gate) << "</td><td>" << f.failed << "</td><td>" << f.requests << "</td><td>"
            << Escape(f.lastFailure.stamp) << "</td></tr>\n";
    }
    out << "</table>\n";
}

void Section(const Figures& figures, const std::vector<Period>& outages, const std::vector<Reopen>& reopens,
             uint64_t reopenFailures, std::ostream& out) {
    out << "<h3>Requests</h3>\n";
    RequestRows("request", figures.byRequest, &figures.all, out);
    RequestRows("gate kind", figures.byGateKind, nullptr, out);
    TimeRows(figures.byRequest, out);
    ReasonRows(figures, out);
    OutageRows(outages, reopens, reopenFailures, out);
    GateRows(figures, out);
}

int OffsetMinutes(const std::string& stamp) {
    qeltools::TimeStamp time{};
    return qeltools::ParseStamp(stamp, &time) ? static_cast<int>((time.localMs - time.utcMs) / 60000) : 0;
}

void TimelineData(const Instance& instance, std::ostream& out) {
    qeltools::JsonWriter json(out, true);
    json.Begin('{');
    json.Key("name").String("instance " + std::to_string(instance.number) +
                            (instance.port.empty() ? "" : " on " + instance.port));
    json.Key("t0").Number(instance.first.utcMs);
    json.Key("t1").Number(instance.last.utcMs);
    json.Key("offset").Number(static_cast<int64_t>(OffsetMinutes(instance.first.stamp)));
    json.Key("bands").Begin('[');
    for (const Period& period : instance.states) {
        json.Begin('[').Number(period.start.utcMs).Number(period.end.utcMs).String(period.state);
        json.String(Length(period.LengthMs())).Bool(qeltools::IsOutage(period.state));
        json.End(']');
    }
    json.End(']');
    json.Key("marks").Begin('[');
    for (const Mark& mark : instance.timeline.slots) {
        if (mark.rank < 0) {
            continue;
        }
        json.Begin('[').Number(mark.startMs);
        for (uint64_t count : mark.counts) {
            json.Number(count);
        }
        json.Number(static_cast<uint64_t>(mark.maxMs)).String(mark.title);
        std::string lines;
        for (const std::string& line : mark.lines) {
            lines += line;
            lines += '\n';
        }
        json.String(lines).Number(mark.refused);
        json.End(']');
    }
    json.End(']');
    json.End('}');
}

constexpr const char* kStyle = R"CSS(
body{font:14px/1.4 system-ui,sans-serif;margin:1.5em;color:#222}
h1{font-size:1.4em}h2{font-size:1.2em;margin-top:2em;border-bottom:1px solid #ccc}h3{font-size:1em;margin:1.2em 0 .4em}
table{border-collapse:collapse;margin:.3em 0}th,td{border:1px solid #ccc;padding:2px 8px;text-align:right}
th:first-child,td:nth-child(2){text-align:left}table.reasons td,table.outages td{text-align:left}
td.bad{color:#b00;font-weight:bold}
table.reasons th,table.outages th{text-align:left}
.legend span{display:inline-block;padding:0 6px;margin-right:6px;border-radius:3px}
svg.timeline{width:100%;height:150px;border:1px solid #ccc;background:#fff;user-select:none;cursor:crosshair}
.s-OK{fill:#cfe8cf}.s-OPEN{fill:#d8e4f0}.s-CLOSED{fill:#ddd}.s-NO-ANSWER{fill:#f4b860}.s-LOST{fill:#e06060}
.m0{fill:#2a8a2a}.m1{fill:#d89a00}.m2{fill:#c00}.m3{fill:#6a2a9a}.refused{fill:#000}
p.explain{color:#555;font-size:12px;margin:.2em 0 .8em}
text{font-size:11px;fill:#333}text.outage-label{font-weight:bold}
pre.lines{background:#f6f6f6;border:1px solid #ddd;padding:.5em;min-height:3em;white-space:pre-wrap;font-size:12px}
.zoom input{width:13em}
)CSS";

// Draws each instance's timeline for the window [from, to]; marks closer
// than a few pixels merge into one stacked mark, so that a full day's
// trace stays a picture and not a smear.
constexpr const char* kScript = R"JS(
(function () {
  "use strict";
  var NS = "http://www.w3.org/2000/svg", W = 1000, COLUMN = 3;
  var lines = DATA.lines;
  var all0 = Math.min.apply(null, lines.map(function (l) { return l.t0; }));
  var all1 = Math.max.apply(null, lines.map(function (l) { return l.t1; }));
  if (all1 <= all0) { all1 = all0 + 1000; }
  var view = [all0, all1];
  function el(name, attrs, parent) {
    var e = document.createElementNS(NS, name);
    for (var k in attrs) { e.setAttribute(k, attrs[k]); }
    if (parent) { parent.appendChild(e); }
    return e;
  }
  function clock(ms, offset) {
    var d = new Date(ms + offset * 60000).toISOString();
    return d.substring(0, 10) + " " + d.substring(11, 23);
  }
  function x(t) { return (t - view[0]) / (view[1] - view[0]) * W; }
  function draw(line, svg, info) {
    while (svg.firstChild) { svg.removeChild(svg.firstChild); }
    var ticks = 6, i;
    for (i = 0; i <= ticks; i++) {
      var t = view[0] + (view[1] - view[0]) * i / ticks;
      var label = el("text", {x: Math.min(Math.max(x(t), 2), W - 2), y: 12,
                              "text-anchor": i === 0 ? "start" : i === ticks ? "end" : "middle"}, svg);
      label.textContent = clock(t, line.offset).substring(11, 19);
    }
    var labels = [];
    line.bands.forEach(function (b) {
      if (b[1] < view[0] || b[0] > view[1]) { return; }
      var x0 = Math.max(x(b[0]), 0), x1 = Math.min(x(b[1]), W);
      var outage = b[4];
      var r = el("rect", {x: x0, y: 18, width: Math.max(x1 - x0, outage ? 2 : 0), height: 40,
                          "class": "band s-" + b[2].replace(" ", "-") + (outage ? " outage" : "")}, svg);
      el("title", {}, r).textContent = b[2] + " " + clock(b[0], line.offset) + " to " +
          clock(b[1], line.offset) + " (" + b[3] + ")";
      if (outage) { labels.push([x0, b[2] + " " + b[3]]); }
    });
    // Labels over the bands, each where the one before has left room.
    var free = 0;
    labels.forEach(function (label) {
      var at = Math.min(label[0] + 3, W - 7.5 * label[1].length);
      if (at < free) { return; }
      el("text", {x: at, y: 42, "class": "outage-label"}, svg).textContent = label[1];
      free = at + 7.5 * label[1].length + 4;
    });
    var columns = {};
    line.marks.forEach(function (m, index) {
      if (m[0] < view[0] || m[0] > view[1]) { return; }
      var c = Math.floor(x(m[0]) / COLUMN);
      var col = columns[c] || (columns[c] = {counts: [0, 0, 0, 0], worst: -1, marks: [], refused: 0});
      for (var k = 0; k < 4; k++) { col.counts[k] += m[1 + k]; }
      col.refused += m[8];
      col.marks.push(index);
      var rank = m[3] + m[4] > 0 ? 3 : m[2] > 0 ? 2 : m[1] > 0 ? 1 : 0;
      if (rank > col.worst) { col.worst = rank; col.shown = index; }
    });
    Object.keys(columns).forEach(function (c) {
      var col = columns[c], total = col.counts.reduce(function (a, b) { return a + b; }, 0);
      var y = 145, order = [0, 1, 2, 3], g = el("g", {"class": "mark"}, svg);
      var height = total > 1 ? 80 : 60;
      order.forEach(function (k) {
        if (!col.counts[k]) { return; }
        var h = Math.max(height * col.counts[k] / total, 3);
        y -= h;
        el("rect", {x: c * COLUMN, y: y, width: COLUMN - 0.5, height: h, "class": "m" + k}, g);
      });
      if (col.refused) {
        // Refusals apart from other failures: a mark above the column.
        el("rect", {x: c * COLUMN, y: y - 6, width: COLUMN - 0.5, height: 4, "class": "refused"}, g);
      }
      var m = line.marks[col.shown];
      var refusedText = col.refused ? "\n" + col.refused + " refused by the switcher at least once" : "";
      var text = (total > 1
        ? total + " requests: " + col.counts[0] + " answered 0, " + col.counts[1] + " 0 not confirmed, " +
          col.counts[2] + " answered 1, " + col.counts[3] + " 2 or no end; the worst:\n" + m[6] + "\n" + m[7]
        : m[6] + "\n" + m[7]) + refusedText;
      el("title", {}, g).textContent = text;
      g.addEventListener("mouseover", function () { info.textContent = text; });
    });
  }
  function drawAll() {
    DATA.lines.forEach(function (line, i) {
      draw(line, document.getElementById("timeline-" + i), document.getElementById("lines-" + i));
    });
    document.getElementById("zoom-from").value = clock(view[0], lines[0].offset);
    document.getElementById("zoom-to").value = clock(view[1], lines[0].offset);
  }
  function parse(text, offset) {
    var m = /^(\d{4})-(\d\d)-(\d\d)[ T](\d\d):(\d\d)(?::(\d\d)(?:\.(\d{1,3}))?)?$/.exec(text.trim());
    if (!m) { return NaN; }
    return Date.UTC(+m[1], m[2] - 1, +m[3], +m[4], +m[5], +(m[6] || 0), +((m[7] || "0") + "00").substring(0, 3)) -
        offset * 60000;
  }
  document.getElementById("zoom-apply").addEventListener("click", function () {
    var a = parse(document.getElementById("zoom-from").value, lines[0].offset);
    var b = parse(document.getElementById("zoom-to").value, lines[0].offset);
    if (a < b) { view = [a, b]; drawAll(); }
  });
  document.getElementById("zoom-all").addEventListener("click", function () { view = [all0, all1]; drawAll(); });
  DATA.lines.forEach(function (line, i) {
    var svg = document.getElementById("timeline-" + i), start = null;
    function at(event) {
      var box = svg.getBoundingClientRect();
      return view[0] + (event.clientX - box.left) / box.width * (view[1] - view[0]);
    }
    svg.addEventListener("mousedown", function (event) { start = at(event); });
    svg.addEventListener("mouseup", function (event) {
      if (start === null) { return; }
      var end = at(event), a = Math.min(start, end), b = Math.max(start, end);
      start = null;
      if (b - a > (view[1] - view[0]) / 200) { view = [a, b]; drawAll(); }
    });
  });
  drawAll();
})();
)JS";

}  // namespace

void WriteHtml(const Summary& summary, const std::vector<std::string>& files, std::ostream& out) {
    std::string names;
    for (const std::string& file : files) {
        names += (names.empty() ? "" : ", ") + file;
    }
    out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>qeltrace: " << Escape(names)
        << "</title>\n<style>" << kStyle << "</style></head>\n<body>\n<h1>Trace of " << Escape(names) << "</h1>\n";
    const When first = summary.First(), last = summary.Last();
    out << "<p>" << summary.Lines() << " lines, " << Escape(first.stamp) << " to " << Escape(last.stamp) << " ("
        << Escape(Length(last.utcMs - first.utcMs)) << "); " << summary.Malformed() << " malformed, "
        << summary.UnknownKinds() << " of a kind this qeltrace does not know.</p>\n";
    for (const LineNote& note : summary.MalformedLines()) {
        out << "<div class=\"malformed\">" << Escape(note.file) << ":" << note.line << ": " << Escape(note.text)
            << "</div>\n";
    }
    out << "<h2>Timeline</h2>\n<p class=\"legend\">Line: <span class=\"s-OK\" style=\"background:#cfe8cf\">OK</span>"
           "<span style=\"background:#d8e4f0\">OPEN</span><span style=\"background:#f4b860\">NO ANSWER</span>"
           "<span style=\"background:#e06060\">LOST</span><span style=\"background:#ddd\">CLOSED</span> "
           "Requests: <span style=\"color:#2a8a2a\">&#9632; 0</span><span style=\"color:#d89a00\">&#9632; 0 not "
           "confirmed</span><span style=\"color:#c00\">&#9632; 1</span><span style=\"color:#6a2a9a\">&#9632; 2 or no "
           "end</span><span>&#9644; above a mark: the switcher refused a message of it</span></p>\n"
           "<p class=\"zoom\">Period: <input id=\"zoom-from\"> to <input id=\"zoom-to\"> "
           "<button id=\"zoom-apply\">Zoom</button> <button id=\"zoom-all\">Whole trace</button> (or drag across a "
           "timeline; point at a mark for its request's lines)</p>\n";
    const auto& instances = summary.Instances();
    for (size_t i = 0; i < instances.size(); ++i) {
        const Instance& instance = instances[i];
        out << "<h3>Instance " << instance.number << (instance.port.empty() ? "" : " on ") << Escape(instance.port)
            << "</h3>\n<svg class=\"timeline\" id=\"timeline-" << i
            << "\" viewBox=\"0 0 1000 150\" preserveAspectRatio=\"none\"></svg>\n<pre class=\"lines\" id=\"lines-" << i
            << "\"></pre>\n";
    }
    for (const Instance& instance : instances) {
        out << "<h2 id=\"instance-" << instance.number << "\">Instance " << instance.number
            << (instance.port.empty() ? "" : " on ") << Escape(instance.port) << "</h2>\n<p>"
            << Escape(instance.first.stamp) << " to " << Escape(instance.last.stamp) << " ("
            << Escape(Length(instance.last.utcMs - instance.first.utcMs)) << "); " << instance.figures.starts
            << " starts, " << instance.figures.stops << " stops</p>\n";
        std::vector<Period> outages;
        for (const Period& period : instance.states) {
            if (qeltools::IsOutage(period.state)) {
                outages.push_back(period);
            }
        }
        Section(instance.figures, outages, instance.reopens, instance.reopenFailures, out);
    }
    const Figures total = summary.Total();
    out << "<h2 id=\"total\">Total</h2>\n<p>" << instances.size() << " instances; " << total.starts << " starts, "
        << total.stops << " stops</p>\n";
    Section(total, summary.Outages(), summary.Reopens(), summary.ReopenFailures(), out);
    out << "<script>\nvar DATA = {\"lines\": [";
    for (size_t i = 0; i < instances.size(); ++i) {
        out << (i > 0 ? ",\n" : "\n");
        TimelineData(instances[i], out);
    }
    out << "]};\n" << (instances.empty() ? "" : kScript) << "</script>\n</body></html>\n";
}

}  // namespace qeltrace
