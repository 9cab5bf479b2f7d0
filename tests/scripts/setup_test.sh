#!/bin/sh
# scripts/setup.sh keeps services from starting while it installs, with a
# policy file it writes and removes: the file must be gone however the
# script ends. With stand-ins for id (a user, not root), sudo, dpkg-query
# and apt-get on the PATH and the policy file in a folder of the test's
# own, nothing is installed and nothing outside that folder is written.
# Each signal that ends it is sent as a terminal sends it (to the whole
# process group, apt-get included) and as `kill` sends it (to the script
# alone, which ends once apt-get has); a stop also comes at sudo's
# password prompt, before the file is there, and with a removal that
# fails.
set -eu
# SIGQUIT's default action dumps core.
ulimit -c 0
setup=$(cd "$(dirname "$0")/../../scripts" && pwd)/setup.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
export SETUP_POLICY_RC_D="$work/policy-rc.d"
export WORK="$work"

# Not root, so that sudo is asked; nothing is installed.
printf '#!/bin/sh\necho 1000\n' >"$work/bin/id"
printf '#!/bin/sh\nexit 1\n' >"$work/bin/dpkg-query"
# Says it has come to moment $1, then waits to be told to finish (or is
# ended), for 30 s at most.
cat >"$work/bin/hold" <<'EOF'
#!/bin/sh
echo $$ >"$WORK/$1"
i=0
while [ ! -e "$WORK/finish" ] && [ $i -lt 300 ]; do
  sleep 0.1
  i=$((i + 1))
done
EOF
# Says what it was asked to run; holds, as at a password prompt, before
# the policy file is made when PROMPT is set; fails to remove it when
# RM_FAILS is set.
cat >"$work/bin/sudo" <<'EOF'
#!/bin/sh
echo "$1" >>"$WORK/sudo.log"
[ -n "${PROMPT:-}" ] && [ "$1" = sh ] && hold prompting
[ -n "${RM_FAILS:-}" ] && [ "$1" = rm ] && exit 1
exec "$@"
EOF
# The install says whether services were kept from starting, and holds.
cat >"$work/bin/apt-get" <<'EOF'
#!/bin/sh
[ "$1" = update ] && exit 0
[ -x "$SETUP_POLICY_RC_D" ] && echo kept >"$WORK/policy"
hold installing
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

# One run: `signal` (or none), sent to `whom` (group or script) once
# `moment` has come (installing, or prompting for the password); the
# script must end by the signal, if one was sent, without its policy file,
# having asked sudo to remove it `removals` times.
run() {
  signal=$1
  whom=$2
  moment=$3
  removals=$4
  name="$signal/$whom at $moment${RM_FAILS:+, rm failing}"
  rm -f "$work/installing" "$work/prompting" "$work/finish" "$work/policy" \
    "$work/status" "$work/pid" "$work/sudo.log"
  # In a process group of its own, with the signals' default actions (a
  # shell's background job would ignore SIGINT); its pid noted first.
  (status=0
  sh -c 'echo $$ >"$WORK/pid"
    exec setsid env --default-signal=INT,QUIT,TERM,HUP,PIPE sh "$0" \
      nothing-real' \
    "$setup" >"$work/out" 2>&1 || status=$?
  echo $status >"$work/status") &
  if ! wait_for '[ -s "$work/$moment" ]'; then
    fail "$name: never came to it"
    touch "$work/finish"
    wait
    return
  fi
  if [ "$moment" = installing ] && [ ! -s "$work/policy" ]; then
    fail "$name: services were not kept from starting"
  fi
  pid=$(cat "$work/pid")
  case $signal/$whom in
    none/*) ;;
    */group) kill -"$signal" -"$pid" ;;
    */script) kill -"$signal" "$pid" ;;
  esac
  touch "$work/finish"
  wait_for '[ -s "$work/status" ]' || fail "$name: did not end"
  wait
  status=$(cat "$work/status")
  # (One that could not be removed stays, of course.)
  if [ -e "$SETUP_POLICY_RC_D" ] && [ -z "${RM_FAILS:-}" ]; then
    fail "$name: left its policy file"
  fi
  rm -f "$SETUP_POLICY_RC_D"
  case $signal in
    none) expected=0 ;;
    HUP) expected=129 ;;
    INT) expected=130 ;;
    QUIT) expected=131 ;;
    PIPE) expected=141 ;;
    TERM) expected=143 ;;
  esac
  [ "$status" = "$expected" ] ||
    fail "$name: ended with $status, not $expected: $(cat "$work/out")"
  asked=$(grep -c '^rm$' "$work/sudo.log" || true)
  [ "$asked" = "$removals" ] ||
    fail "$name: asked sudo to remove it $asked times, not $removals"
}

run none script installing 1
for signal in INT QUIT TERM HUP; do
  run "$signal" group installing 1
  run "$signal" script installing 1
done
run PIPE script installing 1
export PROMPT=1
run INT group prompting 0
unset PROMPT
export RM_FAILS=1
run TERM script installing 1
unset RM_FAILS
[ "$failures" -eq 0 ] && echo "setup_test: no file left, whatever ended it"
exit "$failures"
