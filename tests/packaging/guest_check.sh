#!/bin/bash
# Runs in the guest, as root under systemd as PID 1: installs the monitor's
# package, then starts, queries, reloads and stops its service with the
# simulated enclosures (a drop-in adds --simulate; the guest has none of
# its own), and purges the package. Prints GUEST-CHECK lines and powers off.
set -u
unit=kestrel-raid-gui.service
say() { echo "GUEST-CHECK: $*"; }
finish() {
  echo "GUEST-CHECK-EXIT $1"
  sync
  systemctl poweroff --force --force
  exit "$1"
}
fail() { echo "GUEST-CHECK-FAIL: $*"; journalctl -b --no-pager -n 60 2>&1 | sed 's/^/journal: /'; finish 1; }
# Waits up to $1 tenths of a second for the command after it to succeed.
wait_for() {
  local n=0 limit=$1
  shift
  until "$@" >/dev/null 2>&1; do
    n=$((n + 1))
    [ $n -ge "$limit" ] && return 1
    sleep 0.1
  done
}
ms() { date +%s%3N; }

say "PID 1 is $(cat /proc/1/comm); the check started $(cut -d" " -f1 /proc/uptime) s after the kernel"
[ "$(cat /proc/1/comm)" = systemd ] || fail "PID 1 is not systemd"

dpkg -i /root/packages/*.deb >/tmp/dpkg.out 2>&1 || { cat /tmp/dpkg.out; fail "dpkg -i"; }
state=$(systemctl is-enabled "$unit" 2>&1)
[ "$state" = disabled ] || fail "after the install the unit is '$state', not disabled"
say "installed; the unit is $state and $(systemctl is-active "$unit")"
# The status query comes with the monitor's package.
program=$(command -v kestrel-raid-monitor || command -v kestrel-raid-gui)

mkdir -p "/etc/systemd/system/$unit.d"
sed -n 's|^ExecStart=\(.*\)$|[Service]\nExecStart=\nExecStart=\1 --simulate|p' "/usr/lib/systemd/system/$unit" \
  >"/etc/systemd/system/$unit.d/simulate.conf"
systemctl daemon-reload

start=$(ms)
systemctl start "$unit" || fail "systemctl start"
# Each user's monitor publishes its own state, named by its uid.
state=/run/kestrel/status-$(id -u kestrel).json
wait_for 600 test -s "$state" || fail "no published state after 60 s: $(systemctl status "$unit" --no-pager 2>&1)"
say "started; state published after $(($(ms) - start)) ms; /var/lib/kestrel is $(stat -c '%U:%G %a' /var/lib/kestrel)"
[ "$(stat -c %U /var/lib/kestrel)" = kestrel ] || fail "/var/lib/kestrel is not the service's"

"$program" --status --json >/tmp/status.json 2>/tmp/status.err
code=$?
grep -q '"source": *"monitor"' /tmp/status.json || { cat /tmp/status.json /tmp/status.err; fail "--status did not answer from the service's state"; }
[ "$code" -eq 0 ] || { cat /tmp/status.json /tmp/status.err; fail "--status exited $code"; }
"$program" --status >/tmp/status.txt 2>&1
say "--status exited $code from the service's published state: $(head -n1 /tmp/status.txt)"

systemctl reload "$unit" || fail "systemctl reload"
reloaded() { journalctl -u "$unit" -o cat --no-pager | grep -q "SIGHUP: reloading"; }
wait_for 300 reloaded || fail "the reload left no trace in the journal"
pid=$(systemctl show -p MainPID --value "$unit")
say "reloaded; main process $pid still runs: $(systemctl is-active "$unit")"

priorities=$(journalctl -u "$unit" -o json --no-pager | grep -o '"PRIORITY":"[0-7]"' | sort | uniq -c | tr -s ' \n' ' ')
say "journal priorities: $priorities"
echo "$priorities" | grep -q '"PRIORITY":"5"' || fail "no notice in the journal"
echo "$priorities" | grep -q '"PRIORITY":"6"' || fail "no info line in the journal"

score=$(systemd-analyze security "$unit" 2>/dev/null | sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
say "systemd-analyze security: $score"
awk -v s="${score:-99}" 'BEGIN { exit !(s <= 2.0) }' || fail "exposure $score is over 2.0"

start=$(ms)
systemctl stop "$unit" || fail "systemctl stop"
took=$(($(ms) - start))
result=$(systemctl show -p Result --value "$unit")
say "stopped in $took ms, result $result"
[ "$took" -lt 2000 ] || fail "stop took $took ms"
[ "$result" = success ] || fail "the service ended with $result"

rm -rf "/etc/systemd/system/$unit.d"
packages=$(for deb in /root/packages/*.deb; do dpkg-deb -f "$deb" Package; done)
# shellcheck disable=SC2086
dpkg --purge $packages >/tmp/dpkg.out 2>&1 || { cat /tmp/dpkg.out; fail "dpkg --purge"; }
left=$(find / -xdev -name '*kestrel*' -not -path '/root/packages/*' 2>/dev/null)
[ -z "$left" ] || fail "left after the purge: $left"
say "purged; nothing of the package left"
say "failed units: $(systemctl list-units --state=failed --no-legend --plain | awk '{print $1}' | tr '\n' ' ')"
say "guest uptime $(cut -d' ' -f1 /proc/uptime) s"
finish 0
