"""One soak run: the emulators and qelhost started, qelhost's output read
as it comes, the faults switched where the scenario marks them, and the
results judged and reported."""

import json
import os
import shutil
import subprocess
import tempfile
import time

from . import protocol
from .judge import judge, judge_replugs
from .plan import build_plan
from .processes import LineReader, Process, Switcher, fresh_link, write_command_list
from .report import report, report_host, report_requests
from .workload import FAULTS

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# The schema of qelhost --json this reads (the guide's "Output for scripts").
JSON_VERSION = 1


class Lane:
    """One driver instance of the run: its scenario, its switcher emulator
    on a line of its own with its own faults, and what its requests did."""

    def __init__(self, index, plan, cpu_answered, cpu_silent, seed):
        self.index, self.plan, self.seed = index, plan, seed
        self.cpu_answered, self.cpu_silent = cpu_answered, cpu_silent
        self.switcher, self.link, self.scenario = None, None, None
        self.current = None  # the request whose detail lines come
        self.fault = FAULTS[0]
        self.late_switches = 0
        self.problems = []


def parsed(line, problems):
    """One object of qelhost's output, or None (a problem said once)."""
    try:
        event = json.loads(line)
    except ValueError:
        event = None
    if not isinstance(event, dict) or event.get("v") != JSON_VERSION or "type" not in event:
        if not any(problem.startswith("qelhost wrote") for problem in problems):
            problems.append("qelhost wrote what is not an object of schema version %d: %r" % (JSON_VERSION, line[:80]))
        return None
    return event


def take_step(lane, number, reader, host_out, multi):
    """A scenario line begins: a request's, or a mark where the soak switches
    the fault. qelhost shows the wait after a switch before it sleeps; any
    further line before the switch was confirmed means that the next request
    ran before it."""
    plan = lane.plan
    lane.current = plan.requests.get(number)
    if lane.current is not None:
        lane.current.started = time.monotonic()
    marker = plan.marks.get(number)
    if not marker or marker[0] != "fault":
        return
    for command in lane.fault.leave + marker[2]:
        if lane.switcher.command(command) is None:
            lane.problems.append("qelswitch did not confirm %r" % command)
    lane.fault = marker[1]
    if multi:
        # What the instance printed before the switch was confirmed is in
        # the pipe now: its wait's step at most.
        reader.more_waiting()
        tag = b'"instance":%d,' % lane.index
        late = len([text for text in reader.buffer.split(b"\n") if tag in text]) > 1
    else:
        try:
            host_out.write((reader.line(10) or "") + "\n")
        except TimeoutError:
            pass
        late = reader.more_waiting()
    if late:
        lane.late_switches += 1
        lane.problems.append("the switch to %s at scenario line %d came late" % (lane.fault.name, number))


def take_event(request, event):
    """What qelhost reports of the request under way: its result, what went
    out, and whatever else it did (gates, log lines, failed checks) for the
    judge."""
    if event["type"] == "request" and event["code"] in ("REQ_WRITE_GATE", "REQ_UPDATE_GATE"):
        request.result, request.elapsed, request.sent = event["result"], event["ms"], len(event["out"])
    elif event["type"] in ("gate", "log") or (event["type"] == "check" and not event["passed"]):
        request.changes.append(event)


def soak(args):
    build = os.path.join(ROOT, "build", "native-san" if args.san else "native", "bin")
    qelhost, qelswitch = os.path.join(build, "qelhost"), os.path.join(build, "qelswitch")
    for binary in (qelhost, qelswitch):
        if not os.access(binary, os.X_OK):
            print("soak: no %s (build the %s preset first)" % (binary, "native-san" if args.san else "native"))
            return 2
    t = args.timeout * 10
    scale = 2 if args.san else 1
    # Several instances: one qelhost process drives them at once, each on a
    # thread of its own, on a line of its own whose switcher has faults of
    # its own; the seed of instance K (from 1) is the run's seed plus K - 1.
    multi = args.instances > 1
    lanes = []
    for index in range(args.instances):
        seed = args.seed + index
        lanes.append(Lane(index + 1, *build_plan(args, t, scale, seed), seed))
    workdir = tempfile.mkdtemp(prefix="qel-soak.")
    write_command_list(workdir)

    def own(name, lane):
        """A work file, one per instance when there are several."""
        if not multi:
            return os.path.join(workdir, name)
        stem, dot, ext = name.partition(".")
        return os.path.join(workdir, "%s-%d%s%s" % (stem, lane.index, dot, ext))

    for lane in lanes:
        lane.scenario = own("soak.scenario", lane)
        with open(lane.scenario, "w", encoding="latin-1") as out:
            out.write("\n".join(lane.plan.lines) + "\n")
    if multi:
        print("soak: %d instances on %d lines in one host process, %d requests each, seeds %d to %d, read time-out "
              "%d ms, %s build, %s bounds, work in %s" %
              (len(lanes), len(lanes), len(lanes[0].plan.requests), args.seed, args.seed + len(lanes) - 1, t,
               "sanitizer" if args.san else "native",
               "loose (only a hang breaks them)" if args.loose else "tight (wants a quiet machine)", workdir),
              flush=True)
    else:
        print("soak: %d requests, seed %d, read time-out %d ms, %s build, %s bounds, work in %s" %
              (len(lanes[0].plan.requests), args.seed, t, "sanitizer" if args.san else "native",
               "loose (only a hang breaks them)" if args.loose else "tight (wants a quiet machine)", workdir),
              flush=True)

    env = dict(os.environ)
    if args.san:
        env.setdefault("ASAN_OPTIONS", "detect_leaks=1")
        env.setdefault("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1")
    elif multi:
        # One heap for the instances' threads, as for one instance: an arena
        # per thread would add a high-water mark of its own each.
        env.setdefault("MALLOC_ARENA_MAX", "1")
    # The driver's port is a link the emulator keeps on its line, so that the
    # name outlives a replug: a fresh name, short enough for a port name.
    for lane in lanes:
        lane.link = fresh_link()
        lane.switcher = Switcher(qelswitch, own("qelswitch.err", lane), ["--link", lane.link])
        if not lane.switcher.line_path.startswith("/dev/"):
            print("soak: the switcher emulator did not start: %r" % lane.switcher.line_path)
            for started_lane in lanes:
                if started_lane.switcher is not None:
                    started_lane.switcher.stop()
            return 1
    # Its objects, one a line; its human text goes to standard error.
    host_out = open(os.path.join(workdir, "qelhost.json"), "w", encoding="utf-8")
    host_err = open(os.path.join(workdir, "qelhost.err"), "w")
    if multi:
        command = [qelhost]
        for lane in lanes:
            command += ["--instance", lane.link, lane.scenario]
    else:
        command = [qelhost, "--port", lanes[0].link, lanes[0].scenario]
    # The driver as a host runs it, without a trace: qelhost's own trace for
    # the reasons of failed requests would be part of the CPU measured.
    command[1:1] = ["--no-reasons", "--json"]
    host = subprocess.Popen(command, cwd=workdir, stdout=subprocess.PIPE, stderr=host_err, env=env)
    process = Process(host.pid)
    reader = LineReader(host.stdout.fileno())

    problems = []
    if not multi:
        lanes[0].problems = problems
    samples = {}
    reached = {}  # with several instances: mark -> how many reached it
    longest = max(r.limit for lane in lanes for r in lane.plan.requests.values()) / 1000.0 + 30
    started = time.monotonic()
    done = 0
    while True:
        try:
            line = reader.line(longest)
        except TimeoutError:
            last = ", ".join(str(lane.current.number if lane.current else "none") for lane in lanes)
            problems.append("qelhost printed nothing for %.0f s (last request %s): a hang" % (longest, last))
            host.kill()
            break
        if line is None:
            break
        host_out.write(line + "\n")
        event = parsed(line, problems)
        if event is None or not 1 <= event.get("instance", 0) <= len(lanes):
            continue
        lane = lanes[event["instance"] - 1]
        if event["type"] == "step":
            take_step(lane, event["line"], reader, host_out, multi)
            marker = lane.plan.marks.get(event["line"])
            if marker and marker[0] == "mark" and not multi:
                samples[marker[1]] = process.sample()
            elif marker and marker[0] == "mark" and marker[1] in ("start", "end"):
                # The host's figures while every instance is in its run: when
                # the last is past its mark after the warm-up, and when the
                # first reaches its mark at the end (all ports open, no
                # thread ended).
                reached[marker[1]] = reached.get(marker[1], 0) + 1
                if marker[1] == "start" and reached["start"] == len(lanes):
                    samples["start"] = dict(process.sample(), done=done)
                elif marker[1] == "end" and reached["end"] == 1 and "start" in samples:
                    samples["end"] = dict(process.sample(), done=done)
            if lane.current is not None:
                done += 1
                if args.progress and done % args.progress == 0:
                    print("soak: %d requests, %.0f s" % (done, time.monotonic() - started), flush=True)
        elif lane.current is not None:
            take_event(lane.current, event)
    status = host.wait()
    host_out.close()
    host_err.close()
    switcher_statuses = [lane.switcher.stop() for lane in lanes]
    for lane in lanes:
        if os.path.islink(lane.link):
            os.unlink(lane.link)
    wall = time.monotonic() - started

    if status != 0:
        problems.append("qelhost ended with status %d (see %s/qelhost.json and qelhost.err)" % (status, workdir))
    for lane, switcher_status in zip(lanes, switcher_statuses):
        if switcher_status != 0:
            lane.problems.append("qelswitch ended with status %d" % switcher_status)
        with open(own("qelswitch.out", lane), "w", encoding="utf-8") as out:
            out.write("\n".join(lane.switcher.lines) + "\n")

    for lane in lanes:
        judge_replugs(lane.plan, lane.problems, lane.switcher.plugs, lane.link, t, scale)
        judge(lane.plan, lane.problems, lane.switcher.lines, lane.link)
    if multi:
        for lane in lanes:
            print("\ninstance %d (port %s, seed %d):" % (lane.index, lane.link, lane.seed))
            report_requests(lane.plan, lane.late_switches, lane.switcher.lines, wall, t, scale)
        report_host(args, [lane.plan for lane in lanes], samples, problems, 0, 0, scale)
        for lane in lanes:
            problems += ["instance %d: %s" % (lane.index, problem) for problem in lane.problems]
    else:
        lane = lanes[0]
        report(args, lane.plan, samples, problems, lane.cpu_answered, lane.cpu_silent, lane.late_switches,
               lane.switcher.lines, wall, t, scale)
    if problems:
        print("\nsoak: FAILED, %d problems (work kept in %s):" % (len(problems), workdir))
        for problem in problems[:40]:
            print("  " + problem)
        if len(problems) > 40:
            print("  ... and %d more" % (len(problems) - 40))
        if not protocol.LOOSE:
            print("soak: the bounds were tight, for a quiet machine; on a busy one time and CPU bounds fail "
                  "without a fault (--loose keeps only what a hang breaks)")
        return 1
    if not args.keep:
        shutil.rmtree(workdir, ignore_errors=True)
    print("\nsoak: every check held")
    return 0
