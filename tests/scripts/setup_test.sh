#!/bin/sh
# setup.sh's policy file, which keeps services from starting while it
# installs, is gone however the script ends: each signal sent to its process
# group (as a terminal sends it) or to it alone (kill, which waits for
# apt-get), and a stop at sudo's password prompt, which asks for no
# removal. Stand-ins for id, sudo, dpkg-query and apt-get install nothing;
# nothing is written outside a folder of the test's own.
set -eu
ulimit -c 0  # SIGQUIT's default action dumps core
setup=$(cd "$(dirname "$0")/../../scripts" && pwd)/setup.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
export WORK="$work" SETUP_POLICY_RC_D="$work/policy-rc.d"
printf '#!/bin/sh\necho 1000\n' >"$work/bin/id"
printf '#!/bin/sh\nexit 1\n' >"$work/bin/dpkg-query"
# Notes that moment $1 has come, then waits to be told to finish (30 s).
cat >"$work/bin/hold" <<'END'
#!/bin/sh
echo $$ >"$WORK/$1"
i=0
while [ ! -e "$WORK/finish" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
END
cat >"$work/bin/sudo" <<'END'
#!/bin/sh
echo "$1" >>"$WORK/sudo.log"
[ "$1" = sh ] && [ -n "${PROMPT:-}" ] && hold prompting
exec "$@"
END
printf '#!/bin/sh\n[ "$1" = update ] || hold installing\n' >"$work/bin/apt-get"
chmod +x "$work/bin/"*
PATH="$work/bin:$PATH"
failures=0
fail() { echo "setup_test: $*" >&2; failures=$((failures + 1)); }
wait_for() {
  i=0
  until [ -s "$1" ] || [ $i -ge 200 ]; do sleep 0.1; i=$((i + 1)); done
  [ -s "$1" ]
}

# $1: the signal (or none) sent to $2 (group or script) at moment $3, which
# should end it with status $4.
run() {
  rm -f "$work/installing" "$work/prompting" "$work/finish" "$work/status" \
    "$work/sudo.log"
  # Its own process group, the signals' default actions (a background job
  # would ignore SIGINT and SIGQUIT), its pid noted first.
  (sh -c 'echo $$ >"$WORK/pid"
    exec setsid env --default-signal=INT,QUIT,TERM,HUP,PIPE sh "$0" none' \
    "$setup" >/dev/null 2>&1 && echo 0 >"$work/status" ||
    echo $? >"$work/status") &
  wait_for "$work/$3" || fail "$*: it never came"
  [ "$3" = prompting ] || [ -x "$SETUP_POLICY_RC_D" ] ||
    fail "$*: services were not kept from starting"
  case $1/$2 in
    none/*) ;;
    */group) kill -"$1" -"$(cat "$work/pid")" ;;
    */script) kill -"$1" "$(cat "$work/pid")" ;;
  esac
  touch "$work/finish"
  wait_for "$work/status" && wait
  if [ -e "$SETUP_POLICY_RC_D" ] || [ "$(cat "$work/status")" != "$4" ] ||
    { [ "$3" = prompting ] && grep -q '^rm$' "$work/sudo.log"; }; then
    fail "$*: ended with $(cat "$work/status"), the file:" \
      "$(ls "$SETUP_POLICY_RC_D" 2>&1)"
    rm -f "$SETUP_POLICY_RC_D"
  fi
}

run none script installing 0
for signal in INT:130 QUIT:131 TERM:143 HUP:129 PIPE:141; do
  run "${signal%:*}" group installing "${signal#*:}"
  run "${signal%:*}" script installing "${signal#*:}"
done
export PROMPT=1
run INT group prompting 130
[ "$failures" -eq 0 ] && echo "setup_test: no file left, whatever ended it"
exit "$failures"
