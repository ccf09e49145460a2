#!/bin/sh
# Runs $RINGOLAN_MAN_PROGRAM for help2man with its output in the shapes help2man reads: the
# "usage:" line (and its continuation lines) as "Usage:" synopsis lines, and "Exit status:"
# as a section of its own.
set -e
"$RINGOLAN_MAN_PROGRAM" "$@" > "${TMPDIR:-/tmp}/help2man.$$" || { rm -f "${TMPDIR:-/tmp}/help2man.$$"; exit 1; }
sed -e '/^usage: /{
s/^usage: /Usage: /
:more
$b
N
s/\n \{8,\}\[/ [/
t more
s/\n \{7\}\(ringolan[-a-z]*\) /\n   or: \1 /
t more
P
D
}' -e 's/^Exit status:$/*Exit status*/' "${TMPDIR:-/tmp}/help2man.$$"
rm -f "${TMPDIR:-/tmp}/help2man.$$"
