"""The checks of each request against what its fault allows."""

import re

from . import protocol
from .plan import shown
from .protocol import RESULT_CLASS, SHORT_WAIT, upper
from .workload import AT_ONCE_MS, AWAY, GATES, KEEP, REOPEN_MS, SEEN_LATE_MS

PORT_LOG = re.compile(r"^QELPA : (Lost|Reopened) (.*)$")
LINE_CLASSES = set(RESULT_CLASS)  # the gate classes whose requests go out on the line


def logged(change, pattern):
    """The match of a host log line the request wrote, else None."""
    return pattern.match(change["text"]) if change["type"] == "log" else None


def described(change):
    """What the request did beside its result, as a problem names it."""
    if change["type"] == "gate":
        return '%s %s now "%s"' % (change["name"], change["kind"], change["value"])
    if change["type"] == "log":
        return 'log %s "%s"' % (change["level"], change["text"])
    return "FAIL %s" % (change["message"] or change["text"])


def judge_replugs(plan, problems, plugs, port, t, scale):
    """Sets what each request of a replug segment may answer, by where the
    driver's log puts it: up to the request that logs "Lost" (the first that
    uses the line finds it gone and answers 1), then at once as on a port
    that is not open, until the request that logs "Reopened" and goes out
    as usual. The line must be back in use within the reopen interval of
    the switcher's REPLUG."""
    unplugs = [when for kind, when in plugs if kind == "UNPLUG"]
    backs = [when for kind, when in plugs if kind == "REPLUG"]
    plan.replug_figures = []
    segments = {}
    for _, request in sorted(plan.requests.items()):
        if request.replug is not None:
            segments.setdefault(request.replug, []).append(request)
    if len(unplugs) != len(segments) or len(backs) != len(segments):
        problems.append("%d replugs, yet the switcher showed %d UNPLUG and %d REPLUG lines" %
                        (len(segments), len(unplugs), len(backs)))
    for segment, requests in sorted(segments.items()):
        where = "replug %d (%d s, requests %d to %d)" % (segment + 1, plan.replugs[segment], requests[0].number,
                                                        requests[-1].number)
        back = backs[segment] if segment < len(backs) else None
        phase, lost, reopened, away, late = "before", None, None, [], 0
        for request in requests:
            events = []
            for change in list(request.changes):
                m = logged(change, PORT_LOG)
                if m and m.group(2) == port and m.group(1) == {"before": "Lost", "away": "Reopened"}.get(phase):
                    request.changes.remove(change)
                    events.append(m.group(1))
            if phase == "before":
                if events:
                    # Its message could not be sent; it may have waited as usual first.
                    lost, phase = request, "away"
                    request.allowed = {1}
                    request.r_text = KEEP if request.gate_class == "R" else None
                elif request.gate_class in LINE_CLASSES and request.result is not None:
                    problems.append("%s: request %d used the line, yet logged no loss" % (where, request.number))
            elif phase == "away" and events:
                reopened, phase = request, "back"
            elif phase == "away":
                away.append(request)
                request.fault = AWAY
                request.allowed = {0} if request.gate_class == "quiet" else {1}
                # A "!" byte message waits its 80 ms before it goes out,
                # before the driver finds it cannot send it.
                wait = SHORT_WAIT if request.gate_class == "byte" else 0
                request.bound, request.limit = wait + AT_ONCE_MS, wait + AT_ONCE_MS * scale
                request.silent_wire = True
                request.r_text = KEEP if request.gate_class == "R" else None
                if (request.gate_class in LINE_CLASSES and back is not None and request.started is not None and
                        request.started > back + upper(REOPEN_MS + SEEN_LATE_MS * scale) / 1000.0):
                    late += 1
        if late:
            problems.append("%s: %d requests still found the port lost more than %d ms after the line came back" %
                            (where, late, upper(REOPEN_MS + SEEN_LATE_MS * scale)))
        if lost is None or reopened is None:
            problems.append("%s: the host logged %s" % (where, "no loss" if lost is None else "no reopening"))
        plan.replug_figures.append((segment, plan.replugs[segment], lost, reopened, len(away),
                                    (reopened.started - back) * 1000 if reopened and back and reopened.started
                                    else None))


# The driver's watch of the line: three reads in a row that got nothing log
# "No answer", the first read after that which got a byte "Answering again".
LINE_WATCH = re.compile(r"^QELPA : (No answer|Answering again) on (.*)$")
# Faults under which reads get nothing: the switcher silent, its answers
# after the read, or the line away. In the loose mode a busy machine may
# hold any answer past its read.
SILENCES = ("silent", "late", "late-preamble", "replug", AWAY)


def judge(plan, problems, switcher_lines, port):
    # String gates' texts as qelhost shows them.
    texts = {gate[0]: shown(gate[3]) for gate in GATES if gate[2] == "string"}
    silence = False  # "No answer" logged, "Answering again" due
    for line, request in sorted(plan.requests.items()):
        where = "request %d (scenario line %d, %s %s under %s)" % (request.number, line, request.op, request.gate,
                                                                    request.fault)
        for change in list(request.changes):
            m = logged(change, LINE_WATCH)
            if not m or m.group(2) != port:
                continue
            request.changes.remove(change)
            if m.group(1) == "No answer" and silence:
                problems.append(where + ": \"No answer\" logged twice without \"Answering again\" between")
            elif m.group(1) == "No answer" and request.fault not in SILENCES and not protocol.LOOSE:
                problems.append(where + ": \"No answer\" logged where the switcher answers")
            elif m.group(1) == "Answering again" and not silence:
                problems.append(where + ": \"Answering again\" logged without \"No answer\" before")
            silence = m.group(1) == "No answer"
        if request.written is not None:
            texts[request.gate] = request.written
        if request.result is None:
            problems.append(where + ": no result")
            continue
        if request.result not in request.allowed:
            problems.append("%s: result %d, allowed %s" % (where, request.result, sorted(request.allowed)))
        if request.elapsed > request.limit:
            problems.append("%s: %d ms, bound %d ms + margin" % (where, request.elapsed, request.bound))
        if request.silent_wire and request.sent:
            problems.append("%s: refused, yet %d messages went out" % (where, request.sent))
        text_before = texts.get(request.gate)
        for change in request.changes:
            if (change["type"] == "gate" and change["name"] == request.gate and change["kind"] == "text" and
                    request.gate_class == "R"):
                texts[request.gate] = change["value"]
            else:
                problems.append("%s: %s" % (where, described(change)))
        if request.gate_class == "R" and request.r_text is not None:
            if request.r_text == KEEP:
                wants = [text_before]
            elif isinstance(request.r_text, tuple):
                wants = [shown(text) for text in request.r_text]
            else:
                wants = [shown(request.r_text)]
            if texts[request.gate] not in wants:
                problems.append('%s: the gate\'s text is "%s", expected %s' % (where, texts[request.gate],
                                                                              " or ".join('"%s"' % want for want in wants)))
    # The driver builds every "#" message itself: the switcher must take each.
    for line in switcher_lines:
        if line.startswith('REFUSED "#') and "refuse fault" not in line:
            problems.append("the switcher found a \"#\" message malformed: " + line)
