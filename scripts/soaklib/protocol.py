"""The protocol's times and results as the guide gives them ("Timing",
"Results and log lines"): what the soak holds the driver to. They are the
oracle, so they are written here and not taken from the driver's output.
"""

# The protocol's fixed waits and tries, in ms.
SHORT_WAIT = 80
LONG_WAIT = 1000
TRIES = 3
# Before each message the driver reads away what is left on the line; when
# anything is there that read lasts its own 50 ms time-out.
PURGE = 50

# Reply classes the driver judges: accepted, refused ("?"), unrecognised
# (anything else, nothing at all included).
ACC, REF, UNR = "accepted", "refused", "unrecognised"
ANY_REPLY = (ACC, REF, UNR)

# Results by the class of the judged reply, per gate class (the guide's
# "Results and log lines"). A "#" run in bank 1 ends on its third reply; with mixed replies any
# of these can be the third, so the union over the replies possible is what
# is allowed.
RESULTS_BY_REPLY = {
    "hash": {ACC: 0, REF: 1, UNR: 0},
    "byte": {ACC: 0, REF: 1, UNR: 1},
    "bits": {ACC: 0, REF: 1, UNR: 0},
    "mlr": {ACC: 0, REF: 1, UNR: 0},
    "unjudged": {ACC: 0, REF: 0, UNR: 0},
}


RESULT_CLASS = {"hash1": "hash", "hash2": "hash", "marked1": "hash", "marked2": "hash", "byte": "byte",
                "bits": "bits", "M": "mlr", "L": "mlr", "R": "mlr", "text": "unjudged", "file": "unjudged"}


# The loose mode (--loose, the test run's short soak on a machine that may be
# busy): every upper time bound becomes ten times itself plus 5 s, which
# only a hang breaks; lower bounds, orderings and the requests that answer
# at once while the line is away keep their bounds.
LOOSE = False
LOOSE_EXTRA_MS = 5000


def upper(ms):
    """An upper time bound as the mode in force takes it."""
    return 10 * ms + LOOSE_EXTRA_MS if LOOSE else ms


def late_preamble_ms(t):
    """The switcher's delay for the late-preamble fault: its answer to the
    preamble comes after the preamble's read (t) and the purge ahead of the
    command, and its answer to the command before that command's reply is
    read (the long wait). None when the read time-out leaves no room."""
    delay = (t + PURGE + LONG_WAIT) // 2
    return delay if delay - (t + PURGE) >= 200 else None


def protocol_bound(gate_class, t):
    """Longest time of one request in ms: every wait, every purge, and every
    read lasting the whole read time-out t."""
    hash_try = PURGE + SHORT_WAIT + t
    return {
        "hash1": TRIES * hash_try,
        "hash2": TRIES * 2 * hash_try,
        "marked1": 2 * TRIES * hash_try,
        # One try only: an unrecognised reply ends it with the trailer.
        "marked2": 2 * (2 * hash_try + PURGE + SHORT_WAIT),
        "byte": SHORT_WAIT + PURGE + t,
        "bits": PURGE + t,
        "M": PURGE + t + PURGE + LONG_WAIT + t,
        "L": PURGE + t + PURGE + LONG_WAIT + t,
        "R": PURGE + t + PURGE + LONG_WAIT + t,
        "text": PURGE + t,
        "file": PURGE + t,
        "quiet": 0,
        "refused": 0,
    }[gate_class]


def margin(bound_ms, scale):
    return scale * (250 + bound_ms // 10)
