#!/usr/bin/env bash
# What publishing to MQTT costs qiro7-cli, on a broker of its own (Debian's mosquitto on a free
# loopback port). Prints its figures; asserts nothing.
#
#   bash bench/cli/mqtt_cost.sh cpu   [QIRO7_CLI] [seconds] [runs]
#       CPU of a 10 Hz run on the simulated instrument (its real clock) with the samples written
#       to a file, against the same run publishing them as well: medians of `runs` runs.
#   bash bench/cli/mqtt_cost.sh fleet [QIRO7_CLI] [seconds] [instruments]
#       `instruments` demo instruments at 10 Hz into one broker for `seconds`: samples written
#       against samples the broker delivered to a subscriber, per instrument; CPU per instrument
#       and of the broker.
set -euo pipefail

mode="${1:-cpu}"
cli="${2:-build-rel/cli/qiro7-cli}"
seconds="${3:-}"
count="${4:-}"
work="$(mktemp -d)"
broker_pid=""
cleanup() {
    [ -n "$broker_pid" ] && kill "$broker_pid" 2>/dev/null || true
    pkill -P $$ 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

start_broker() {
    port="$(free_port)"
    printf 'listener %s 127.0.0.1\nallow_anonymous true\nmax_queued_messages 0\n' "$port" >"$work/mosquitto.conf"
    "$(command -v mosquitto || echo /usr/sbin/mosquitto)" -c "$work/mosquitto.conf" >"$work/mosquitto.log" 2>&1 &
    broker_pid=$!
    for _ in $(seq 50); do
        mosquitto_pub -h 127.0.0.1 -p "$port" -t probe -m x 2>/dev/null && return 0
        sleep 0.1
    done
    echo "mosquitto did not start" >&2
    exit 1
}

# User and system CPU seconds of a process, from /proc while it still exists.
cpu_seconds() {
    awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$1/stat"
}

# CPU seconds of one 10 Hz run of `seconds`, with the further options given: the kernel's
# user and system time of the process to the microsecond (time(1) prints hundredths).
run_cpu() {
    local out="$work/run-$RANDOM"
    mkdir -p "$out"
    python3 -c '
import os, subprocess, sys
child = subprocess.Popen(sys.argv[2:], stdout=subprocess.DEVNULL, stderr=open(sys.argv[1], "w"))
_, _, usage = os.wait4(child.pid, 0)
print(f"{usage.ru_utime + usage.ru_stime:.4f}")' "$out/errors" \
        "$cli" measure --demo --quiet --interval 0 --duration "${seconds}s" -o "$out/samples.csv" "$@"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

cpu() {
    seconds="${seconds:-60}"
    count="${count:-5}"
    start_broker
    local plain=() published=() n
    for n in $(seq "$count"); do
        plain+=("$(run_cpu)")
        published+=("$(run_cpu --mqtt "mqtt://127.0.0.1:$port/bench/cpu" --spool "$work/spool-$n")")
    done
    local plain_median published_median
    plain_median="$(printf '%s\n' "${plain[@]}" | median)"
    published_median="$(printf '%s\n' "${published[@]}" | median)"
    echo "10 Hz run of ${seconds} s, CPU seconds of ${count} runs each (user + system)"
    echo "  samples to a file:             ${plain[*]}  median $plain_median"
    echo "  and published over MQTT:       ${published[*]}  median $published_median"
    awk -v a="$plain_median" -v b="$published_median" -v s="$seconds" 'BEGIN {
        printf "  share of a core: %.3f %% without, %.3f %% with publishing: +%.3f %%\n",
            100 * a / s, 100 * b / s, 100 * (b - a) / s }'
}

fleet() {
    seconds="${seconds:-600}"
    count="${count:-100}"
    start_broker
    mosquitto_sub -h 127.0.0.1 -p "$port" -q 1 -t 'fleet/+/sample' -v >"$work/received" &
    sleep 1
    local pids=() n
    for n in $(seq -w 1 "$count"); do
        "$cli" measure --demo --quiet --interval 0 --duration "${seconds}s" --timestamps \
            -o "$work/instrument-$n.csv" --mqtt "mqtt://127.0.0.1:$port/fleet/$n" \
            --spool "$work/spool-$n" --mqtt-client-id "fleet-$n" 2>"$work/errors-$n" &
        pids+=($!)
    done
    sleep $((seconds - 5))
    local cli_cpu=0 broker_cpu pid
    for pid in "${pids[@]}"; do
        cli_cpu="$(awk -v a="$cli_cpu" -v b="$(cpu_seconds "$pid")" 'BEGIN { print a + b }')"
    done
    broker_cpu="$(cpu_seconds "$broker_pid")"
    wait "${pids[@]}" || true
    sleep 2
    local written=0 delivered=0 lost=0 w d
    for n in $(seq -w 1 "$count"); do
        w="$(wc -l <"$work/instrument-$n.csv")"
        d="$(grep -c "^fleet/$n/sample " "$work/received" || true)"
        written=$((written + w))
        delivered=$((delivered + d))
        [ "$d" -lt "$w" ] && lost=$((lost + w - d))
    done
    echo "$count instruments at 10 Hz into one broker for $seconds s"
    echo "  samples written $written, delivered to the subscriber $delivered, lost $lost"
    awk -v c="$cli_cpu" -v b="$broker_cpu" -v n="$count" -v s="$((seconds - 5))" 'BEGIN {
        printf "  CPU per instrument %.3f %% of a core; broker %.2f %% of a core (over %d s)\n",
            100 * c / n / s, 100 * b / s, s }'
}

case "$mode" in
cpu) cpu ;;
fleet) fleet ;;
*) echo "usage: $0 cpu|fleet [qiro7-cli] [seconds] [runs|instruments]" >&2; exit 2 ;;
esac
