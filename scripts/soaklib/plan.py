"""The soak's scenario for qelhost, and what each of its lines is for."""

import random

from . import protocol
from .protocol import ACC, LOOSE_EXTRA_MS, RESULT_CLASS, RESULTS_BY_REPLY, late_preamble_ms, margin, protocol_bound, upper
from .workload import (BLOCK, FAULTS, GATES, LABEL, LABEL_OR_NONE, LATE_PREAMBLE_FIRST, PREAMBLE_TEMPLATES,
                       R_TEXTS, REOPEN_MS, REPLUG_PACE_MS, REPLUG_SECONDS, REPLUG_SLACK_MS, TEMPLATES)

def shown(text):
    """A text in the tools' notation, as qelhost --json shows gate values."""
    out = []
    for ch in text:
        code = ord(ch)
        if ch == "\r":
            out.append("<CR>")
        elif ch == "\n":
            out.append("<LF>")
        elif code < 0x20 or code >= 0x7F:
            out.append("<%02X>" % code)
        else:
            out.append(ch)
    return "".join(out)


def quote(text):
    """A text in qelhost's scenario notation."""
    out = []
    for ch in text:
        code = ord(ch)
        if ch in '\\"<$#':
            out.append("\\" + ch)
        elif 0x20 <= code < 0x7F:
            out.append(ch)
        else:
            out.append("<%02X>" % code)
    return '"' + "".join(out) + '"'


class Request:
    __slots__ = ("number", "kind", "gate_class", "gate", "op", "written", "fault", "allowed", "bound", "limit",
                 "silent_wire", "r_text", "result", "elapsed", "sent", "changes", "base", "started", "replug")

    def __init__(self, **fields):
        for slot in self.__slots__:
            setattr(self, slot, fields.get(slot))
        self.sent = 0
        self.changes = []


class Plan:
    """The scenario text, and what each of its lines is for."""

    def __init__(self):
        self.lines = []
        self.requests = {}  # scenario line -> Request
        self.marks = {}  # scenario line -> ("fault", Fault, commands) | ("mark", name)
        self.replugs = []  # per replug segment: its seconds away

    def add(self, text):
        self.lines.append(text)
        return len(self.lines)


def allowed_results(gate_class, base, fault):
    if base is None:
        return {1} if gate_class == "refused" else {0}
    table = RESULTS_BY_REPLY[RESULT_CLASS[gate_class]]
    return {table[reply] for reply in fault.replies(base)}


def r_text_expected(fault, base, gate):
    if base != ACC or fault.r_text is None:
        return None
    if fault.r_text == LABEL:
        return R_TEXTS[gate[-2:]]
    if fault.r_text == LABEL_OR_NONE:
        return (R_TEXTS[gate[-2:]], "") if protocol.LOOSE else R_TEXTS[gate[-2:]]
    return fault.r_text


def make_request(plan, rng, template, fault, t, scale, forced_value=None, replug=None):
    _, kind, gate_class, op, gate, value, base = template
    gate = gate(rng) if callable(gate) else gate
    value = forced_value if forced_value is not None else (value(rng) if value else None)
    if op == "write" and value is not None:
        text = "write %s %s" % (gate, value if isinstance(value, int) else quote(value))
    else:
        text = "%s %s" % (op, gate)
    line = plan.add(text)
    bound = protocol_bound(gate_class, t)
    request = Request(number=len(plan.requests) + 1, kind=kind, gate_class=gate_class, gate=gate, op=op,
                      written=shown(value) if isinstance(value, str) else None,
                      fault=fault.name, allowed=allowed_results(gate_class, base, fault), bound=bound,
                      limit=max(bound + margin(bound, scale), upper(bound) * scale if protocol.LOOSE else 0),
                      silent_wire=base is None,
                      r_text=r_text_expected(fault, base, gate) if gate_class == "R" else None, base=base,
                      replug=replug)
    plan.requests[line] = request
    return request


def pick(rng, weighted):
    total = sum(w for w, *_ in weighted)
    x = rng.uniform(0, total)
    for item in weighted:
        x -= item[0]
        if x <= 0:
            return item
    return weighted[-1]


REPLUG_AFTER = 3


def replug_paced(seconds):
    return -(-(seconds * 1000 + REOPEN_MS + REPLUG_SLACK_MS) // REPLUG_PACE_MS)


def build_plan(args, t, scale, seed=None):
    seed = args.seed if seed is None else seed
    rng = random.Random(seed)
    plan = Plan()
    plan.add("# soak scenario, seed %d, %d requests" % (seed, args.requests))
    for gate in GATES:
        name, address, fmt, initial = gate[:4]
        fmt_option = " format=%d" % gate[4] if len(gate) > 4 else ""
        value = initial if isinstance(initial, int) else quote(initial)
        plan.add("gate %s %s %s name=%s%s" % (quote(address), fmt, value, name, fmt_option))
    plan.add("load timeout=%d expect 0" % args.timeout)
    for gate in GATES:
        plan.add("register %s" % gate[0])

    by_name = {f.name: f for f in FAULTS}
    state = {"fault": by_name["none"]}

    def switch(fault, commands=None):
        settle = state["fault"].settle
        plan.marks[plan.add("note soak-fault %s" % fault.name)] = ("fault", fault,
                                                                   fault.enter if commands is None else commands)
        plan.add("wait %d" % settle)
        state["fault"] = fault

    def replug_segment(seconds):
        """Requests paced over the time away, the reopen interval and a
        slack, then a few more on the line that is back."""
        switch(by_name["replug"], ["replug %d" % seconds])
        segment = len(plan.replugs)
        plan.replugs.append(seconds)
        count = 0
        for _ in range(replug_paced(seconds)):
            make_request(plan, rng, pick(rng, TEMPLATES), state["fault"], t, scale, replug=segment)
            plan.add("wait %d" % REPLUG_PACE_MS)
            count += 1
        if args.loose:
            # A busy machine may bring the line back late: the requests on
            # the line that is back come after more time.
            plan.add("wait %d" % LOOSE_EXTRA_MS)
        for _ in range(REPLUG_AFTER):
            make_request(plan, rng, pick(rng, TEMPLATES), state["fault"], t, scale, replug=segment)
            count += 1
        return count

    def mark(name):
        plan.marks[plan.add("note soak-mark %s" % name)] = ("mark", name)
        plan.add("wait 300")

    # Warm-up: each template once, answered, before the first mark; then the
    # longest texts, so that the host's own buffers have their full size.
    for template in TEMPLATES:
        make_request(plan, rng, template, state["fault"], t, scale)
    longest = {"free text": "\xc4" * 250, "L": "\xc4" * 99}
    for template in TEMPLATES:
        if template[1] in longest and template[6] == ACC:
            make_request(plan, rng, template, state["fault"], t, scale, forced_value=longest.pop(template[1]))
    mark("start")

    cpu_answered = max(20, min(200, args.requests // 20))
    cpu_silent = max(3, min(60, args.requests // 150))
    hash_template = TEMPLATES[0]
    quiet_template = next(template for template in TEMPLATES if template[2] == "quiet")

    def cpu_phases(when):
        """CPU of '#' writes, answered, then unanswered (where a driver that
        spins instead of blocking would burn its whole wait), after as many
        writes that send nothing: qelhost's own work for a request (its
        records, gate snapshots and printing), which the '#' figures hold
        too. The same phases after the warm-up and at the end show whether
        a request costs more as the run goes on."""
        switch(by_name["none"])
        mark("cpu-quiet-begin-" + when)
        for _ in range(cpu_answered):
            make_request(plan, rng, quiet_template, state["fault"], t, scale)
        mark("cpu-quiet-end-" + when)
        mark("cpu-answered-begin-" + when)
        for i in range(cpu_answered):
            make_request(plan, rng, hash_template, state["fault"], t, scale, forced_value=i % 16)
        mark("cpu-answered-end-" + when)
        switch(by_name["silent"])
        mark("cpu-silent-begin-" + when)
        for i in range(cpu_silent):
            make_request(plan, rng, hash_template, state["fault"], t, scale, forced_value=i % 16)
        mark("cpu-silent-end-" + when)

    def segment(fault, count):
        templates = TEMPLATES
        if fault.name == "late-preamble":
            templates = PREAMBLE_TEMPLATES
            switch(fault, ["delay %d" % late_preamble_ms(t)])
        else:
            switch(fault)
        for _ in range(count):
            make_request(plan, rng, pick(rng, templates), fault, t, scale)
        return count

    cpu_phases("first")
    remaining = args.requests - len(plan.requests) - 2 * cpu_answered - cpu_silent
    # Every run meets a preamble answered late at least once.
    if late_preamble_ms(t) is not None:
        remaining -= segment(by_name["late-preamble"], LATE_PREAMBLE_FIRST)
    fault_weights = [(f.weight, f) for f in FAULTS if f.name != "late-preamble" or late_preamble_ms(t) is not None]
    longest_replug = replug_paced(REPLUG_SECONDS[1]) + REPLUG_AFTER
    block_begin = len(plan.requests)
    mark("block-%d" % block_begin)
    while remaining > 0:
        if len(plan.requests) - block_begin >= BLOCK:
            block_begin = len(plan.requests)
            mark("block-%d" % block_begin)
        fault = pick(rng, fault_weights)[1]
        # One replug at least, where the requests allow it.
        if not plan.replugs and longest_replug <= remaining <= longest_replug + 40:
            fault = by_name["replug"]
        if fault.replug:
            if remaining >= longest_replug:
                remaining -= replug_segment(rng.randint(*REPLUG_SECONDS))
                continue
            fault = by_name["none"]
        remaining -= segment(fault, min(remaining, rng.randint(5, 40)))
    mark("block-%d" % len(plan.requests))

    cpu_phases("last")
    switch(by_name["none"])
    mark("end")
    plan.add("close expect 0")
    return plan, cpu_answered, cpu_silent
