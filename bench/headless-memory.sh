#!/usr/bin/env bash
# Measures the server running without a window: resident memory, the shared
# libraries it maps, the time from signing on to joining the room, and the CPU
# it uses while idle in the room. This is a measurement, not a test: it prints
# numbers and judges nothing.
#
#   bench/headless-memory.sh SERVER_BINARY [ITEMS...]      (default items: 100 1000 32767)
#
# For each item count it writes a catalogue of that many items into a fresh data
# folder, starts a private ngircd on a free 127.0.0.1 port, starts
#   SERVER_BINARY $SERVER_ARGS --data-dir DIR
# waits until the server has joined #links, lets it settle and reads /proc.
#
# Environment:
#   SERVER_ARGS   leading arguments of the server (default: none, for
#                 valdrin-aim-serverd; --headless for the windowed program)
#   IDLE_SECONDS  seconds to wait after the join before reading memory (default 5)
#   CPU_SECONDS   length of the idle window whose CPU time is measured (default 10)
#   JOIN_TIMEOUT  seconds to wait for the join (default 60)
#   LIST_LIBS=1   also print the paths of the mapped .so files
#
# Needs: bash, python3, awk, getconf and ngircd (Debian package ngircd).
# Everything it starts listens on, and connects to, 127.0.0.1 only.

set -euo pipefail

usage() {
    echo "usage: $0 SERVER_BINARY [ITEMS...]" >&2
    exit 2
}

[[ $# -ge 1 ]] || usage
server=$1
shift
[[ -x $server ]] || { echo "$0: $server is not an executable file" >&2; exit 2; }
server=$(cd "$(dirname "$server")" && pwd)/$(basename "$server")

items_list=("$@")
[[ ${#items_list[@]} -gt 0 ]] || items_list=(100 1000 32767)
for n in "${items_list[@]}"; do
    [[ $n =~ ^[0-9]+$ ]] || { echo "$0: item count \"$n\" is not a number" >&2; exit 2; }
done

read -r -a server_args <<< "${SERVER_ARGS-}"
idle_seconds=${IDLE_SECONDS:-5}
cpu_seconds=${CPU_SECONDS:-10}
join_timeout=${JOIN_TIMEOUT:-60}
list_libs=${LIST_LIBS:-0}

command -v ngircd > /dev/null || { echo "$0: ngircd is missing (apt-get install ngircd)" >&2; exit 2; }
command -v python3 > /dev/null || { echo "$0: python3 is missing" >&2; exit 2; }
clock_ticks=$(getconf CLK_TCK)

work=""
server_pid=""
ircd_pid=""
nap_pid=""

# Sends SIGTERM to PID, waits up to TIMEOUT seconds, then sends SIGKILL.
stop_process() {
    local pid=$1 timeout=$2 tenths=0
    [[ -n $pid ]] || return 0
    kill -0 "$pid" 2> /dev/null || { wait "$pid" 2> /dev/null || true; return 0; }
    kill -TERM "$pid" 2> /dev/null || true
    while kill -0 "$pid" 2> /dev/null && ((tenths < timeout * 10)); do
        sleep 0.1
        tenths=$((tenths + 1))
    done
    if kill -0 "$pid" 2> /dev/null; then
        echo "$0: process $pid did not stop within ${timeout}s; killing it" >&2
        kill -KILL "$pid" 2> /dev/null || true
    fi
    wait "$pid" 2> /dev/null || true
}

stop_all() {
    stop_process "$server_pid" 10
    server_pid=""
    stop_process "$ircd_pid" 5
    ircd_pid=""
}

cleanup() {
    [[ -z $nap_pid ]] || kill "$nap_pid" 2> /dev/null || true
    stop_all
    if [[ -n $work ]]; then
        rm -rf -- "$work"
        work=""
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

free_port() {
    python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])
s.close()'
}

# Waits until 127.0.0.1:PORT accepts connections, for up to TIMEOUT seconds.
wait_for_port() {
    python3 - "$1" "$2" << 'EOF'
import socket, sys, time
port, deadline = int(sys.argv[1]), time.monotonic() + float(sys.argv[2])
while time.monotonic() < deadline:
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        sys.exit(0)
    except OSError:
        time.sleep(0.1)
sys.exit(1)
EOF
}

# Writes N rows of about 60 characters each, every row different, ended by CR LF.
write_catalogue() {
    local folder=$1 n=$2
    awk -v n="$n" 'BEGIN { for (i = 1; i <= n; i++)
        printf "Item %d: a description of a page about links and more text\r\n", i }' \
        > "$folder/descriptions.dat"
    awk -v n="$n" 'BEGIN { for (i = 1; i <= n; i++)
        printf "http://example.org/pages/links-and-more/page-number-%d.htm\r\n", i }' \
        > "$folder/urls.dat"
}

start_ircd() {
    local folder=$1 port=$2
    mkdir -p "$folder/include"
    : > "$folder/motd"
    # ngircd refuses to keep root and switches to nobody by itself; the folder
    # stays readable for it. No flood penalties (MaxPenaltyTime = 0, ngircd 26
    # and later): with them ngircd holds the JOIN back for about 2 s and the
    # sign-on-to-join time would measure ngircd rather than the server.
    chmod 755 "$folder" "$folder/include"
    chmod 644 "$folder/motd"
    cat > "$folder/ngircd.conf" << EOF
[Global]
Name = irc.test
Info = Local server for a measurement
Listen = 127.0.0.1
Ports = $port
MotdFile = $folder/motd
[Limits]
MaxConnectionsIP = 0
MaxJoins = 0
MaxPenaltyTime = 0
[Options]
DNS = no
Ident = no
PAM = no
IncludeDir = $folder/include
EOF
    ngircd -n -f "$folder/ngircd.conf" > "$folder/ngircd.log" 2>&1 &
    ircd_pid=$!
    if ! wait_for_port "$port" 10; then
        echo "$0: ngircd does not listen on 127.0.0.1:$port; its output:" >&2
        cat "$folder/ngircd.log" >&2
        exit 1
    fi
}

# Seconds between the first "Signing on to" line and the first "Joined the room"
# line of a log whose lines start with "yyyy-MM-dd hh:mm:ss.zzz".
signon_to_join() {
    python3 - "$1" << 'EOF'
import datetime, sys
start = joined = None
with open(sys.argv[1], encoding="utf-8", errors="replace") as log:
    for line in log:
        try:
            stamp = datetime.datetime.strptime(line[:23], "%Y-%m-%d %H:%M:%S.%f")
        except ValueError:
            continue
        if start is None and "Signing on to" in line:
            start = stamp
        elif start is not None and "Joined the room" in line:
            joined = stamp
            break
print("%.3f" % (joined - start).total_seconds() if start and joined else "n/a")
EOF
}

# Field VALUE (kB) of /proc/PID/status.
status_kb() {
    awk -v key="$2:" '$1 == key { print $2; found = 1 } END { if (!found) print "n/a" }' "/proc/$1/status"
}

# utime + stime of PID, in clock ticks (fields 14 and 15 of /proc/PID/stat;
# counted after the command name, which may hold spaces and parentheses).
cpu_ticks() {
    local stat
    stat=$(< "/proc/$1/stat")
    stat=${stat##*) }
    awk '{ print $12 + $13 }' <<< "$stat"
}

mapped_libs() {
    awk '$6 ~ /\.so(\.[0-9]+)*$/ { print $6 }' "/proc/$1/maps" | sort -u
}

now() {
    date +%s.%N
}

# Sleeps in the background and waits for it, so SIGTERM and SIGINT end the
# script (and run the cleanup) at once rather than after a long sleep.
nap() {
    sleep "$1" &
    nap_pid=$!
    wait "$nap_pid" || true
    nap_pid=""
}

measure() {
    local items=$1
    work=$(mktemp -d "${TMPDIR:-/tmp}/headless-memory.XXXXXX")
    local data=$work/data irc=$work/irc log=$work/server.log
    mkdir -p "$data" "$irc"

    local port
    port=$(free_port)
    start_ircd "$irc" "$port"

    write_catalogue "$data" "$items"
    cat > "$data/network.conf" << EOF
protocol = irc
account = linkdesk@127.0.0.1
room = #links
option.port = $port
EOF
    chmod 600 "$data/network.conf"

    (cd "$work" && exec "$server" "${server_args[@]}" --data-dir "$data" > /dev/null 2> "$log") &
    server_pid=$!

    local tenths=0
    until grep -q 'Joined the room' "$log" 2> /dev/null; do
        if ! kill -0 "$server_pid" 2> /dev/null; then
            local code=0
            wait "$server_pid" || code=$?
            server_pid=""
            echo "$0: the server ended (exit code $code) before joining the room; its log:" >&2
            cat "$log" >&2
            exit 1
        fi
        if ((tenths >= join_timeout * 10)); then
            echo "$0: the server did not join the room within ${join_timeout}s; its log:" >&2
            cat "$log" >&2
            exit 1
        fi
        sleep 0.1
        tenths=$((tenths + 1))
    done

    nap "$idle_seconds"
    kill -0 "$server_pid" 2> /dev/null || { echo "$0: the server ended while idle; its log:" >&2; cat "$log" >&2; exit 1; }

    local rss anon file libs joined
    rss=$(status_kb "$server_pid" VmRSS)
    anon=$(status_kb "$server_pid" RssAnon)
    file=$(status_kb "$server_pid" RssFile)
    libs=$(mapped_libs "$server_pid")
    joined=$(signon_to_join "$log")

    local ticks0 ticks1 t0 t1 cpu
    t0=$(now)
    ticks0=$(cpu_ticks "$server_pid")
    nap "$cpu_seconds"
    ticks1=$(cpu_ticks "$server_pid")
    t1=$(now)
    cpu=$(awk -v d="$((ticks1 - ticks0))" -v hz="$clock_ticks" -v t0="$t0" -v t1="$t1" \
        'BEGIN { printf "%.2f", (t1 > t0) ? 100 * d / hz / (t1 - t0) : 0 }')

    local loaded
    loaded=$(sed -n 's/.*Catalogue loaded: \([0-9]*\) items.*/\1/p' "$log" | head -n 1)
    if [[ -n $loaded && $loaded != "$items" ]]; then
        echo "$0: note: the server loaded $loaded items, not $items" >&2
    fi

    local count=0
    [[ -z $libs ]] || count=$(wc -l <<< "$libs")
    echo "items=$items VmRSS=${rss}kB RssAnon=${anon}kB RssFile=${file}kB libs=$count" \
        "signon_to_join=${joined}s idle_cpu=${cpu}%"
    if [[ $list_libs == 1 && -n $libs ]]; then
        awk '{ print "  " $0 }' <<< "$libs"
    fi

    cleanup
}

for items in "${items_list[@]}"; do
    measure "$items"
done
