#!/usr/bin/env bash
# Runs ircd-hybrid 8.2 in the foreground for an interop test, from the copy that
# scripts/install-interop.sh unpacked. There are no services on this server.
#
#   hybrid.sh DIR PORT [--tls-port N --cert PEM --key PEM] [--server-name NAME]
#
# DIR is the folder for this instance: config, logs and ban databases go there.
# Clients connect to 127.0.0.1:PORT (plain) and, when given, 127.0.0.1:--tls-port.
# Per-IP connection limits are raised and 127.0.0.0/8 is exempt from connection
# throttling, so a test can open many connections at once; flood settings stay at
# the shipped defaults. No ident lookups.
#
# Hybrid loads its core modules from the path it was built with (/usr/lib/ircd-hybrid),
# looks up every client's hostname with its own resolver (waiting 30s when nobody answers)
# and refuses to run as root. So, as root, it runs in a private mount namespace where the
# unpacked modules appear under /usr/lib and /etc/resolv.conf names a loopback address
# where nxdomain-dns.py answers at once, and it runs as nobody. Nothing changes outside
# that namespace and no lookup leaves the machine. The process is exec'd (the PID the
# caller sees is the ircd's): stop it with SIGTERM; the DNS helper dies with it.
set -euo pipefail

usage() { sed -n '5p' "$0" | sed 's/^# *//' >&2; exit 2; }
[[ $# -ge 2 ]] || usage
dir=$1 port=$2
shift 2
tls_port='' cert='' key='' server_name=irc.test
while [[ $# -gt 0 ]]; do
    case $1 in
        --tls-port) tls_port=$2 ;;
        --cert) cert=$2 ;;
        --key) key=$2 ;;
        --server-name) server_name=$2 ;;
        *) usage ;;
    esac
    shift 2
done
if [[ -n $tls_port && ( -z $cert || -z $key ) ]]; then
    echo "hybrid.sh: --tls-port needs --cert and --key" >&2
    exit 2
fi

root=${VALDRIN_INTEROP_DIR:-/var/tmp/valdrin-interop}/ircd-hybrid
binary=$root/usr/sbin/ircd-hybrid
if [[ ! -x $binary ]]; then
    echo "hybrid.sh: $binary missing, run scripts/install-interop.sh" >&2
    exit 3
fi

if [[ $(id -u) -ne 0 ]]; then
    echo "hybrid.sh: needs root (mount namespace, DNS helper on port 53)" >&2
    exit 2
fi

mkdir -p "$dir/logs" "$dir/db"
dir=$(cd "$dir" && pwd)
# One loopback address per instance, from the client port, for the DNS helper.
dns_address=127.53.$((port / 256)).$((port % 256))
echo "nameserver $dns_address" > "$dir/resolv.conf"
rm -f "$dir/dns.ready"

tls_keys=
listen_tls=
if [[ -n $tls_port ]]; then
    tls_keys="rsa_private_key_file = \"$key\";
	tls_certificate_file = \"$cert\";"
    listen_tls="flags = tls;
	host = \"127.0.0.1\";
	port = $tls_port;"
fi

# Values not set here are hybrid's built-in defaults, which match the shipped reference.conf.
cat > "$dir/ircd.conf" <<EOF
serverinfo {
	name = "$server_name";
	description = "Interop test server";
	network_name = "TestNet";
	network_description = "Interop tests";
	hub = no;
	default_max_clients = 512;
	max_nick_length = 15;
	max_topic_length = 300;
	$tls_keys
};

admin {
	name = "Test";
	description = "Interop test server";
	email = "<admin@$server_name>";
};

class {
	name = "users";
	ping_time = 90 seconds;
	number_per_ip_local = 200;
	number_per_ip_global = 200;
	max_number = 500;
	cidr_bitlen_ipv4 = 24;
	cidr_bitlen_ipv6 = 120;
	number_per_cidr = 200;
	sendq = 100 kbytes;
	recvq = 2560 bytes;
};

listen {
	host = "127.0.0.1";
	port = $port;
	$listen_tls
};

auth {
	user = "*@*";
	class = "users";
};

# Exempt from throttle_count/throttle_time (one connection per 2 seconds per IP).
exempt {
	ip = "127.0.0.0/8";
};

channel {
	disable_fake_channels = yes;
	max_channels = 25;
	default_join_flood_count = 18;
	default_join_flood_time = 6 seconds;
};

general {
	disable_auth = yes;
	default_floodcount = 10;
	default_floodtime = 1 second;
	anti_nick_flood = yes;
	max_nick_changes = 5;
	max_nick_time = 20 seconds;
	ping_cookie = no;
	throttle_count = 1;
	throttle_time = 2 seconds;
	warn_no_connect_block = no;
};

modules {
	path = "/usr/lib/ircd-hybrid/modules";
	path = "/usr/lib/ircd-hybrid/modules/autoload";
};

log {
	use_logging = yes;
	file { type = user; name = "$dir/logs/user.log"; size = unlimited; };
	file { type = kill; name = "$dir/logs/kill.log"; size = unlimited; };
	file { type = debug; name = "$dir/logs/debug.log"; size = unlimited; };
};
EOF

# Keep write access to DIR even when it sits in a private (0700) temp folder.
as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups
           --inh-caps=+dac_override --ambient-caps=+dac_override)

exec >>"$dir/logs/console.log" 2>&1
# shellcheck disable=SC2016 # the inner script takes its values as arguments
exec unshare --mount --propagation private /bin/sh -ec '
    root=$1 dir=$2 dns=$3 address=$4
    shift 4
    mount -t overlay overlay -o "lowerdir=/usr/lib:$root/usr/lib" /usr/lib
    mount --bind "$dir/resolv.conf" /etc/resolv.conf
    /usr/bin/python3 "$dns" "$address" "$dir/dns.ready" &
    tries=0
    while [ ! -e "$dir/dns.ready" ]; do
        tries=$((tries + 1))
        [ $tries -lt 500 ] || { echo "DNS helper did not start" >&2; exit 1; }
        sleep 0.01
    done
    exec "$@"' sh "$root" "$dir" "$(dirname "$0")/nxdomain-dns.py" "$dns_address" \
    "${as_nobody[@]}" "$binary" -foreground -configfile "$dir/ircd.conf" \
    -logfile "$dir/logs/ircd.log" -pidfile "$dir/ircd.pid" \
    -klinefile "$dir/db/kline.db" -dlinefile "$dir/db/dline.db" \
    -xlinefile "$dir/db/xline.db" -resvfile "$dir/db/resv.db"
