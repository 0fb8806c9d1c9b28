"""The soak's tables: requests by fault and gate kind, replugs, and the
host process's descriptors, memory and CPU."""

import re
import statistics

from . import protocol
from .protocol import TRIES
from .workload import AWAY, FAULTS, KIND_ORDER

# CPU a '#' message may cost the host process, qelhost's own work included.
CPU_PER_MESSAGE_MS = 0.2
# The driver allocates nothing; qelhost's transient strings may leave the
# allocator a page or two higher than after the warm-up. A leak over
# thousands of requests is far more.
RSS_NOISE_KB = 16


def report(args, plan, samples, problems, cpu_answered, cpu_silent, late_switches, switcher_lines, wall, t, scale):
    report_requests(plan, late_switches, switcher_lines, wall, t, scale)
    report_host(args, [plan], samples, problems, cpu_answered, cpu_silent, scale)


def report_requests(plan, late_switches, switcher_lines, wall, t, scale):
    """The requests of one instance: by fault and gate kind, its replugs,
    and what its switcher found malformed."""
    rows = {}
    for request in plan.requests.values():
        rows.setdefault((request.fault, request.kind), []).append(request)
    print("\nFault x gate kind (read time-out %d ms; bound: the protocol's waits, tries, purges and read "
          "time-outs; %s):\n" % (t, "loose: ten times the bound plus 5 s" if protocol.LOOSE else
                                 "margin %d ms + %d%%" % (250 * scale, 10 * scale)))
    print("| fault | gate kind | requests | results seen | median ms | max ms | bound ms |")
    print("|---|---|---:|---|---:|---:|---:|")
    names = [f.name for f in FAULTS]
    names.insert(names.index("replug") + 1, AWAY)
    for name in names:
        for kind in KIND_ORDER:
            requests = [r for r in rows.get((name, kind), []) if r.result is not None]
            if not requests:
                continue
            seen = {}
            for r in requests:
                seen[r.result] = seen.get(r.result, 0) + 1
            results = ", ".join("%s: %d" % (k, v) for k, v in sorted(seen.items()))
            elapsed = [r.elapsed for r in requests]
            print("| %s | %s | %d | %s | %d | %d | %d |" % (name, kind, len(requests), results,
                                                            statistics.median(elapsed), max(elapsed),
                                                            requests[0].bound))
    if plan.replug_figures:
        print("\nreplugs (the line away S s; the host's log: the request that logged Lost, the requests that "
              "found the port lost, the request that logged Reopened and how long after the line came back):")
    for segment, seconds, lost, reopened, away, after in plan.replug_figures:
        print("  %d. %d s: Lost at request %s (%s, %s ms), %d at once, Reopened at request %s, %s ms after" %
              (segment + 1, seconds, lost.number if lost else "-", lost.kind if lost else "-",
               lost.elapsed if lost else "-", away, reopened.number if reopened else "-",
               "%.0f" % after if after is not None else "-"))
    answered = len([r for r in plan.requests.values() if r.result is not None])
    print("\nrequests: %d answered of %d, in %.0f s; fault switches late: %d" %
          (answered, len(plan.requests), wall, late_switches))
    refusals = {}
    for line in switcher_lines:
        m = re.match(r'^REFUSED ".*": (.*)$', line)
        if m and "refuse fault" not in m.group(1):
            reason = re.sub(r" \S+, expected .*$", "", m.group(1))
            refusals[reason] = refusals.get(reason, 0) + 1
    if refusals:
        print("messages the switcher found malformed (hostile texts and free text): " +
              ", ".join("%s x%d" % kv for kv in sorted(refusals.items())))


def report_host(args, plans, samples, problems, cpu_answered, cpu_silent, scale):
    """The host process's figures between the mark after the warm-up and the
    mark at the end (with several instances: when every one is past it). Its
    CPU by block and the CPU of '#' writes are per instance: with one only."""
    start, end = samples.get("start"), samples.get("end")
    if not (start and end):
        problems.append("the resource marks were not reached")
        return
    if len(plans) > 1:
        # The requests of every instance that began between the two samples.
        between = end["done"] - start["done"]
    else:
        plan = plans[0]
        start_line = next(k for k, v in plan.marks.items() if v == ("mark", "start"))
        end_line = next(k for k, v in plan.marks.items() if v == ("mark", "end"))
        between = len([line for line in plan.requests if start_line < line < end_line])
    print("\nhost process (qelhost with the driver%s), after the warm-up and at the end:" %
          (", %d instances" % len(plans) if len(plans) > 1 else ""))
    print("  open descriptors: %d -> %d" % (start["fds"], end["fds"]))
    # Each instance's thread has its own transient strings; at times they
    # coincide: the allowance is per instance.
    noise = RSS_NOISE_KB * len(plans)
    print("  resident memory:  %d kB -> %d kB (%s)" % (start["rss"], end["rss"], "shown only: the sanitizers' "
          "quarantine keeps freed memory" if args.san else "may grow by %d kB at most" % noise))
    cpu = end["cpu"] - start["cpu"]
    span = end["time"] - start["time"]
    print("  CPU (user + system): %.2f s over %.0f s for %d requests: %.3f ms a request, busy %.2f%%" %
          (cpu, span, between, 1000 * cpu / max(between, 1), 100 * cpu / max(span, 1e-9)))
    if end["fds"] > start["fds"]:
        problems.append("open descriptors grew from %d to %d" % (start["fds"], end["fds"]))
    # The sanitizers' allocator keeps freed blocks in quarantine: there the
    # figure is shown, not judged.
    if end["rss"] > start["rss"] + noise and not args.san:
        problems.append("resident memory grew from %d kB to %d kB" % (start["rss"], end["rss"]))
    if len(plans) > 1:
        return
    # CPU per request of each block of the run (mixed requests, every fault).
    blocks = sorted((int(name[len("block-"):]), sample) for name, sample in samples.items()
                    if name.startswith("block-"))
    if len(blocks) > 1:
        print("  CPU a request, by block of the run (mixed requests): " +
              ", ".join("%d-%d: %.3f ms" % (begin + 1, end, 1000 * (after["cpu"] - before["cpu"]) / max(end - begin, 1))
                        for (begin, before), (end, after) in zip(blocks, blocks[1:])))
    # An answered '#' write sends one message, an unanswered one three: the
    # limit is per message, and an unanswered write that spun instead of
    # blocking would burn its whole time. A write that sends nothing costs
    # qelhost's own work for a request: what a '#' write costs beyond it is
    # the driver's (its two echo lines that qelhost prints included).
    def per_request(name, when, count):
        begin, finish = samples.get("cpu-%s-begin-%s" % (name, when)), samples.get("cpu-%s-end-%s" % (name, when))
        if not (begin and finish):
            problems.append("the CPU marks (%s, %s) were not reached" % (name, when))
            return None
        return 1000 * (finish["cpu"] - begin["cpu"]) / count, 1000 * (finish["time"] - begin["time"]) / count

    print("  CPU a request, after the warm-up | at the end (user + system of the host process, ms):")
    quiet = {when: per_request("quiet", when, cpu_answered) for when in ("first", "last")}
    if all(quiet.values()):
        print("    write that sends nothing (qelhost's own work): %.3f | %.3f  (%d writes)" %
              (quiet["first"][0], quiet["last"][0], cpu_answered))
    for name, count, messages in (("answered", cpu_answered, 1), ("silent", cpu_silent, TRIES)):
        limit = args.cpu_limit * messages * scale * (10 if protocol.LOOSE else 1)
        figures = {when: per_request(name, when, count) for when in ("first", "last")}
        if not all(figures.values()):
            continue
        driver = ""
        if all(quiet.values()):
            driver = ", the driver's share %.3f | %.3f" % tuple(figures[when][0] - quiet[when][0]
                                                              for when in ("first", "last"))
        over = [when for when in ("first", "last") if figures[when][0] >= limit]
        print("    '#' write, %s: %.3f | %.3f in %.0f | %.0f ms%s (limit %.1f ms; %d writes)%s" %
              (name, figures["first"][0], figures["last"][0], figures["first"][1], figures["last"][1], driver, limit,
               count, "  TOO MUCH" if over else ""))
        for when in over:
            problems.append("a '#' write (%s, %s) costs %.3f ms of CPU, over %.1f ms" %
                            (name, "after the warm-up" if when == "first" else "at the end", figures[when][0], limit))
