#!/bin/sh
# scripts/setup.sh keeps services from starting while it installs, with a
# policy file it writes and removes: the file must be gone however the
# script ends. With stand-ins for apt-get, dpkg-query and sudo on the PATH
# and the policy file in a folder of the test's own, nothing is installed
# and nothing outside that folder is written. Each stop signal is sent as a
# terminal sends it (to the whole process group, apt-get included) and as
# `kill` sends it (to the script alone, which ends once apt-get has).
set -eu
setup=$(cd "$(dirname "$0")/../../scripts" && pwd)/setup.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
export SETUP_POLICY_RC_D="$work/policy-rc.d"
export WORK="$work"

# Nothing is installed; sudo runs its command as it is.
printf '#!/bin/sh\nexit 1\n' >"$work/bin/dpkg-query"
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
# The install says it runs, and whether services were kept from starting,
# then waits to be told to finish (or ended), for 30 s at most.
cat >"$work/bin/apt-get" <<'EOF'
#!/bin/sh
[ "$1" = update ] && exit 0
[ -x "$SETUP_POLICY_RC_D" ] && echo kept >"$WORK/policy"
echo $$ >"$WORK/installing"
i=0
while [ ! -e "$WORK/finish" ] && [ $i -lt 300 ]; do
  sleep 0.1
  i=$((i + 1))
done
EOF
chmod +x "$work/bin/"*
PATH="$work/bin:$PATH"

failures=0
fail() {
  echo "setup_test: $*" >&2
  failures=$((failures + 1))
}

# Polls the condition (a shell command) every 0.1 s for up to 20 s.
wait_for() {
  i=0
  while ! eval "$1"; do
    [ $i -lt 200 ] || return 1
    sleep 0.1
    i=$((i + 1))
  done
}

# One run: `signal` (or none), sent to `whom` (group or script) while the
# install runs; the script must end, without its policy file, and by the
# signal if one was sent.
run() {
  signal=$1
  whom=$2
  rm -f "$work/installing" "$work/finish" "$work/policy" "$work/status" \
    "$work/pid"
  # In a process group of its own, with the signals' default actions (a
  # shell's background job would ignore SIGINT); its pid noted first.
  (status=0
  sh -c 'echo $$ >"$WORK/pid"
    exec setsid env --default-signal=INT,TERM,HUP sh "$0" nothing-real' \
    "$setup" >"$work/out" 2>&1 || status=$?
  echo $status >"$work/status") &
  if ! wait_for '[ -s "$work/installing" ]'; then
    fail "$signal/$whom: the install never began"
    touch "$work/finish"
    wait
    return
  fi
  [ -s "$work/policy" ] || fail "$signal/$whom: services were not kept from starting"
  pid=$(cat "$work/pid")
  case $signal/$whom in
    none/*) ;;
    */group) kill -"$signal" -"$pid" ;;
    */script) kill -"$signal" "$pid" ;;
  esac
  touch "$work/finish"
  wait_for '[ -s "$work/status" ]' || fail "$signal/$whom: did not end"
  wait
  status=$(cat "$work/status")
  if [ -e "$SETUP_POLICY_RC_D" ]; then
    fail "$signal/$whom: left its policy file"
    rm -f "$SETUP_POLICY_RC_D"
  fi
  case $signal in
    none) expected=0 ;;
    HUP) expected=129 ;;
    INT) expected=130 ;;
    TERM) expected=143 ;;
  esac
  [ "$status" = "$expected" ] ||
    fail "$signal/$whom: ended with $status, not $expected: $(cat "$work/out")"
}

run none script
for signal in INT TERM HUP; do
  run "$signal" group
  run "$signal" script
done
[ "$failures" -eq 0 ] && echo "setup_test: no file left, whatever ended it"
exit "$failures"
