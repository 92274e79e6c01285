"""Compares a message as it was handed on (SENT) with the one that arrived
(GOT), as a mail reader sees them: GOT must parse with Python's email
package without defects, hold every header field of SENT with the same
value (the MTA or news server may add its own), and carry the same body.
Exit code 1 and the difference on stderr when they differ."""
import email
import email.policy
import sys


def load(path):
    with open(path, "rb") as f:
        return email.message_from_bytes(f.read(), policy=email.policy.default)


def main():
    sent, got = load(sys.argv[1]), load(sys.argv[2])
    problems = list(got.defects)
    for key, value in got.items():
        problems += getattr(value, "defects", [])
    for key, value in sent.items():
        if str(value) not in [str(v) for v in got.get_all(key, [])]:
            problems.append("%s: %r is missing" % (key, str(value)))
    if sent.get_payload(decode=True) != got.get_payload(decode=True):
        problems.append("the body differs: %r" % got.get_payload(decode=True))
    if problems:
        sys.stderr.write("%s\n" % problems)
        return 1
    return 0


sys.exit(main())
