#!/bin/sh
# scripts/install-deps with stub dpkg-query, apt-get, sudo and id first on PATH: as root it
# runs apt-get directly, as a user through "sudo -E", and with everything present not at all.
set -eu
script="$1/scripts/install-deps"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
stub() { printf '#!/bin/sh\n%s\n' "$2" > "$work/bin/$1"; chmod +x "$work/bin/$1"; }
stub apt-get 'echo "apt-get $*" >> "$LOG"'
stub sudo 'echo "sudo $1" >> "$LOG"; shift; exec "$@"'
stub id 'echo "$UID_STUB"'
stub dpkg-query '[ "$PRESENT" = yes ] && printf "install ok installed"; [ "$PRESENT" = yes ]'

fail() { echo "FAIL: $*"; echo "--- log:"; cat "$LOG" 2>/dev/null; exit 1; }
run() {  # uid present
  LOG="$work/log"; rm -f "$LOG"; : > "$LOG"
  LOG="$LOG" UID_STUB="$1" PRESENT="$2" PATH="$work/bin:$PATH" bash "$script" > /dev/null || fail "exit $? (uid $1)"
}

run 0 no
grep -qx 'apt-get update -qq' "$LOG" || fail "root: no direct apt-get update"
grep -q '^apt-get install -y -qq --no-install-recommends .*python3-aiosmtpd' "$LOG" || fail "root: no install"
! grep -q sudo "$LOG" || fail "root: sudo used"

run 1000 no
[ "$(grep -c '^sudo -E$' "$LOG")" = 2 ] || fail "user: apt-get not run through sudo -E"
grep -q '^apt-get install .*libgtest-dev' "$LOG" || fail "user: no install"

run 0 yes
[ ! -s "$LOG" ] || fail "everything present: something was installed"
echo "install-deps: all paths pass"
