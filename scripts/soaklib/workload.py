"""What the soak sends and does to the switcher: the faults it switches,
the gates, the command list and the request templates."""

from .protocol import ACC, ANY_REPLY, REF, UNR

class Fault:
    """One row of the fault table.

    enter/leave: qelswitch control commands that switch the fault on and off.
    replies(base): the reply classes a request can meet under the fault, where
    base is what the emulator answers that request without a fault.
    r_text: what an "R" read leaves in its gate: a text, KEEP (refused: the
    gate keeps its text), LABEL (the emulator's text for the address) or
    None (anything).
    settle: ms qelhost waits after the switch away from this fault, so that
    no late answer of it is taken for the next fault's.
    """

    def __init__(self, name, enter, leave, replies, r_text, weight, settle=150, replug=False):
        self.name, self.enter, self.leave = name, enter, leave
        self.replies, self.r_text, self.weight, self.settle = replies, r_text, weight, settle
        self.replug = replug


KEEP, LABEL, LABEL_OR_NONE = "keep", "label", "label or none"

SLOW_MS, LATE_MS = 40, 400

FAULTS = [
    Fault("none", [], [], lambda base: {base}, LABEL, 4),
    Fault("silent", ["silent on"], ["silent off"], lambda base: {UNR}, "", 2),
    Fault("refuse", ["refuse 1000000"], ["refuse 0"], lambda base: {REF}, KEEP, 2),
    Fault("refuse-2", ["refuse 2"], ["refuse 0"], lambda base: {base, REF}, None, 2),
    Fault("garbage", ["garbage on"], ["garbage off"], lambda base: {UNR}, "~X", 2),
    # Answers inside the read time-out count as answered.
    Fault("slow", ["delay %d" % SLOW_MS], ["delay 0"], lambda base: {base}, LABEL, 2),
    # Answers after the read time-out are missed, or land in a later read of
    # the same segment: any reply can meet any request.
    Fault("late", ["delay %d" % LATE_MS], ["delay 0"], lambda base: set(ANY_REPLY), None, 2,
          settle=LATE_MS + 150),
    # The preamble's answer comes after its read and after the purge ahead
    # of the command, so that it opens the command's reply: "R" keeps the
    # switcher's text (in the loose mode also an empty text, when a busy
    # machine held the text past the read), never the acceptance line. Its
    # segments hold only "M", "L" and "R" requests; the delay is set by the
    # read time-out (late_preamble_ms).
    Fault("late-preamble", [], ["delay 0"], lambda base: {base}, LABEL_OR_NONE, 1),
    # The driver reads its own message first; an answer left over from the
    # message before may still come through.
    Fault("echo", ["echo on"], ["echo off"], lambda base: {UNR, base}, None, 2),
    # Hang-up and return: the emulator's line goes away for a few seconds
    # ("replug S", S drawn per segment) and comes back on a new pseudo-terminal
    # behind the same link, the driver's port. The switcher itself answers as
    # without a fault; the requests while the line is away are judged apart
    # (see judge_replugs).
    Fault("replug", [], [], lambda base: {base}, LABEL, 1, replug=True),
]
# The row of the table for the requests of a replug segment that found the
# port lost: between the request that logged the loss and the one that
# logged the reopening.
AWAY = "replug, away"
REPLUG_SECONDS = (1, 3)
# The driver tries to reopen a lost port at most this often (ms).
REOPEN_MS = 2000
# The requests of a replug segment come this far apart (ms), for at least the
# time away, the reopen interval and this much more.
REPLUG_PACE_MS, REPLUG_SLACK_MS = 250, 2000
# A request on a lost port answers at once: no wait, no read. This is far
# under the read time-out, and far over the driver's own work.
AT_ONCE_MS = 60
# How late the soak may see a request start, or a replug, through the pipes.
SEEN_LATE_MS = 500
# Requests between the CPU marks of the run's blocks.
BLOCK = 1000
# The late-preamble segment every run has, right after the first CPU phases.
LATE_PREAMBLE_FIRST = 6


# The emulator's texts for the "R" addresses read here; no "L" gate writes them.
R_TEXTS = {"07": "Studio A", "0A": "LABEL0A"}

# Gates: name, address, format, initial value. Addresses of the refused ones
# name no command, or name one in the wrong format.
GATES = [
    ("OUTGOING", "OUTGOING", "string", ""),
    ("INCOMING", "INCOMING", "string", ""),
    ("HASH", "0102", "numeric", 0),
    ("MARKED", "X0A1F", "numeric", 0),
    ("ESC_MARKED", "\x1b0A1E", "numeric", 0),
    ("DIMMER", "BP0506000A", "numeric", 0),
    ("RELAYS", "S0304", "string", ""),
    ("LEVEL", "M0012", "numeric", 0),
    ("CAPTION", "L05", "string", ""),
    ("READ_07", "R07", "string", ""),
    ("READ_0A", "R0A", "string", ""),
    ("SEND_STR", "SEND_STR", "string", ""),
    ("FROM_FILE", "GET_STR_FROM_FILE", "numeric", 0),
    ("ACK", "ACK", "numeric", 0),
    ("PRESET", "PRESET", "string", "CAM 1 TO MON 2"),
    ("ROUTE", "ROUTE", "string", "0A1FC7"),
    ("LONG_TEXT", "LONG_TEXT", "string", "T" * 250),
    ("LOWER_CASE", "01a2", "numeric", 0),
    ("LONG_M", "M0012345678", "numeric", 0),
    ("B_TEN", "B0102030405", "numeric", 0),
    ("B_EIGHT", "B01020304", "numeric", 0),
    ("BP_SHORT", "BP0506", "numeric", 0),
    ("BP_NOT_HEX", "BP05060G0A", "numeric", 0),
    ("R_NUMERIC", "R05", "numeric", 0),
    ("L_NUMERIC", "L05", "numeric", 0),
    ("HASH_STRING", "0102", "string", ""),
    ("EMPTY", "", "numeric", 0),
    ("LONG_ADDRESS", "A" * 63, "numeric", 0),
    ("CONTROL_BYTES", "\x1b\r\x7f\xc4\x01", "string", ""),
    ("SEND_NUMERIC", "SEND_STR", "numeric", 0),
    ("ACK_STRING", "ACK", "string", ""),
    ("OTHER_FORMAT", "0102", "numeric", 0, 3),
]

# The command list in qelhost's working directory. Entry 6 is 256
# characters and entry 7 becomes 297 with the gate's text in it (99
# characters each time: the host hands out at most that much of a text):
# both are refused whole.
COMMAND_LIST = [
    (1, "#010259"),
    (2, "@PRESET$"),
    (3, "#@ROUTE$"),
    (4, "@MISSING$"),
    (5, "C" * 255),
    (6, "C" * 256),
    (7, "@LONG_TEXT$@LONG_TEXT$@LONG_TEXT$"),
    (8, "AB@LONG_TEXT$CDEFGHIJ"),
]


def random_text(rng, alphabet, low, high):
    return "".join(rng.choice(alphabet) for _ in range(rng.randint(low, high)))


PRINTABLE = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 .,:;-+*/()"
ODD_BYTES = PRINTABLE + "\x1b\x7f\xc4\xff\x02\x0a"

# Request templates: weight, table kind, gate class (results and bound), op,
# gate, value maker, what the emulator answers without a fault (ACC or REF,
# or None when the driver refuses and nothing goes out).
TEMPLATES = [
    (10, "# bank 1", "hash1", "write", "HASH", lambda r: r.randint(0, 15), ACC),
    (6, "# bank 2", "hash2", "write", "HASH", lambda r: r.randint(16, 30), ACC),
    (2, "marked # bank 1", "marked1", "write", "MARKED", lambda r: r.randint(0, 15), ACC),
    (1, "marked # bank 1", "marked1", "write", "ESC_MARKED", lambda r: r.randint(0, 15), ACC),
    (3, "marked # bank 2", "marked2", "write", "MARKED", lambda r: r.randint(16, 30), ACC),
    (6, "! byte", "byte", "write", "DIMMER", lambda r: r.randint(0, 255), ACC),
    (5, "! bits", "bits", "write", "RELAYS", lambda r: random_text(r, "01", 4, 4), ACC),
    (1, "! bits", "bits", "write", "RELAYS", lambda r: r.choice(["ABCD", "1\xc401", "0 1\x1b"]), ACC),
    # A CR inside the four characters cuts the message for the switcher.
    (1, "! bits", "bits", "write", "RELAYS", lambda r: r.choice(["AB\rD", "\r\r\r\r"]), REF),
    (2, "M", "M", "write", "LEVEL", lambda r: r.randint(0, 99), ACC),
    (2, "L", "L", "write", "CAPTION", lambda r: random_text(r, ODD_BYTES.replace("\x0a", ""), 0, 99), ACC),
    (1, "L", "L", "write", "CAPTION", lambda r: random_text(r, PRINTABLE, 1, 20) + "\r" + "x", REF),
    (2, "R", "R", "update", "READ_07", None, ACC),
    (1, "R", "R", "update", "READ_0A", None, ACC),
    (1, "R", "R", "write", "READ_07", lambda r: "ignored", ACC),
    (3, "free text", "text", "write", "SEND_STR", lambda r: random_text(r, ODD_BYTES, 0, 250), ACC),
    (3, "command list", "file", "write", "FROM_FILE", lambda r: r.choice([1, 2, 3, 4, 5, 8]), ACC),
    (2, "no traffic", "quiet", "write", lambda r: r.choice(["ACK", "OUTGOING", "INCOMING"]),
     lambda r: r.randint(0, 65535), None),
    # Values the driver refuses before anything goes out.
    (1, "refused", "refused", "write", "HASH", lambda r: r.choice([31, 32, 255, 65535]), None),
    (1, "refused", "refused", "write", "MARKED", lambda r: r.choice([31, 65535]), None),
    (1, "refused", "refused", "write", "DIMMER", lambda r: r.choice([256, 4096, 65535]), None),
    (1, "refused", "refused", "write", "RELAYS",
     lambda r: r.choice(["0102", "101", "10101", "", "2010", "1111111111"]), None),
    (1, "refused", "refused", "write", "LEVEL", lambda r: r.choice([100, 999, 65535]), None),
    (1, "refused", "refused", "write", "CAPTION", lambda r: random_text(r, ODD_BYTES, 100, 255), None),
    (1, "refused", "refused", "write", "FROM_FILE", lambda r: r.choice([0, 6, 7, 9, 9999, 65535]), None),
    # Addresses that name nothing, and updates of gates that are not "R".
    (4, "refused", "refused", "write",
     lambda r: r.choice(["LOWER_CASE", "LONG_M", "B_TEN", "B_EIGHT", "BP_SHORT", "BP_NOT_HEX", "R_NUMERIC",
                         "L_NUMERIC", "EMPTY", "LONG_ADDRESS", "SEND_NUMERIC", "OTHER_FORMAT"]),
     lambda r: r.randint(0, 65535), None),
    (1, "refused", "refused", "write", lambda r: r.choice(["HASH_STRING", "CONTROL_BYTES", "ACK_STRING"]),
     lambda r: random_text(r, ODD_BYTES, 0, 40), None),
    (1, "refused", "refused", "update",
     lambda r: r.choice(["HASH", "MARKED", "DIMMER", "RELAYS", "LEVEL", "CAPTION", "SEND_STR", "FROM_FILE", "ACK",
                         "R_NUMERIC", "EMPTY", "OUTGOING"]), None, None),
]

# The requests of a late-preamble segment: those sent behind a preamble.
PREAMBLE_TEMPLATES = [template for template in TEMPLATES if template[2] in ("M", "L", "R") and template[6] == ACC]

KIND_ORDER = ["# bank 1", "# bank 2", "marked # bank 1", "marked # bank 2", "! byte", "! bits", "M", "L", "R",
              "free text", "command list", "no traffic", "refused"]
