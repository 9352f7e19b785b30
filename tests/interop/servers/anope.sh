#!/usr/bin/env bash
# Runs Anope 2.0 services (NickServ, ChanServ, OperServ, ... and SASL) in the foreground,
# linked to an InspIRCd started by inspircd.sh with --link-port, from the copy that
# scripts/install-interop.sh unpacked.
#
#   anope.sh DIR LINK_PORT [--link-password PW] [--services-name NAME]
#            [--kill-delay TIME] [--ghost-alias]
#
# DIR is the folder for this instance: conf/, db/anope.db and logs/ live there. Reusing
# a folder keeps the registered nicks and channels (the flat-file database is saved
# every minute and when the process gets SIGTERM).
# The config is Anope's shipped example, changed only where a test needs it:
#  - REGISTER needs no email and no confirmation, no mail is sent;
#  - session limits are far above what one test opens from 127.0.0.1;
#  - casemap rfc1459, as InspIRCd 3 uses by default;
#  - it reconnects to the uplink 2s after losing it, not after 60s;
#  - --kill-delay sets how long an unidentified user keeps a protected nick before
#    NickServ renames it to Guest*** (shipped: 60s);
#  - --ghost-alias adds GHOST and RELEASE as aliases of RECOVER, as the shipped
#    config suggests for 1.8-style clients; by default only RECOVER exists.
# The process is exec'd: stop it with SIGTERM.
set -euo pipefail

usage() { sed -n '6,7p' "$0" | sed 's/^# *//' >&2; exit 2; }
[[ $# -ge 2 ]] || usage
dir=$1 link_port=$2
shift 2
link_password=linkpass services_name=services.test kill_delay=60s ghost_alias=''
while [[ $# -gt 0 ]]; do
    case $1 in
        --link-password) link_password=$2; shift 2 ;;
        --services-name) services_name=$2; shift 2 ;;
        --kill-delay) kill_delay=$2; shift 2 ;;
        --ghost-alias) ghost_alias=1; shift ;;
        *) usage ;;
    esac
done

root=${VALDRIN_INTEROP_DIR:-/var/tmp/valdrin-interop}/anope
binary=$root/usr/sbin/anope
examples=$root/usr/share/doc/anope/examples
if [[ ! -x $binary ]]; then
    echo "anope.sh: $binary missing, run scripts/install-interop.sh" >&2
    exit 3
fi

# Anope quits when it cannot write its daily backup into db/backups.
mkdir -p "$dir/conf" "$dir/db/backups" "$dir/logs"
dir=$(cd "$dir" && pwd)

for part in botserv chanserv global hostserv memoserv modules nickserv operserv; do
    cp "$examples/$part.example.conf" "$dir/conf/$part.conf"
done
sed -i -e 's/^\(\s*forceemail\s*=\s*\)yes/\1no/' \
       -e "s/^\(\s*kill\s*=\s*\)60s/\1$kill_delay/" \
       "$dir/conf/nickserv.conf"
if [[ -n $ghost_alias ]]; then
    sed -i -e 's/^#\(command { service = "NickServ"; name = "\(GHOST\|RELEASE\)"\)/\1/' \
        "$dir/conf/nickserv.conf"
fi
sed -i -e 's/^\(\s*defaultsessionlimit\s*=\s*\)3/\11000/' \
       -e 's/^\(\s*maxsessionlimit\s*=\s*\)100/\11000/' \
       "$dir/conf/operserv.conf"
echo "Anope test services $services_name" > "$dir/conf/services.motd"

cat > "$dir/conf/services.conf" <<EOF
define { name = "services.host"; value = "$services_name"; }

uplink
{
	host = "127.0.0.1"
	ipv6 = no
	ssl = no
	port = $link_port
	password = "$link_password"
}

serverinfo
{
	name = "$services_name"
	description = "Services for the interop tests"
	pid = "$dir/anope.pid"
	motd = "$dir/conf/services.motd"
}

module
{
	name = "inspircd3"
	use_server_side_mlock = yes
	use_server_side_topiclock = yes
}

networkinfo
{
	networkname = "TestNet"
	nicklen = 30
	userlen = 10
	hostlen = 64
	chanlen = 32
	modelistsize = 100
	vhost_chars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-"
	allow_undotted_vhosts = false
	disallow_start_or_end = ".-"
}

options
{
	casemap = "rfc1459"
	seed = $((RANDOM * 32768 + RANDOM))
	strictpasswords = yes
	badpasslimit = 5
	badpasstimeout = 1h
	updatetimeout = 1m
	expiretimeout = 30m
	readtimeout = 5s
	warningtimeout = 4h
	timeoutcheck = 3s
	retrywait = 2s
	hideprivilegedcommands = yes
	hideregisteredcommands = yes
}

include { type = "file"; name = "botserv.conf"; }
include { type = "file"; name = "chanserv.conf"; }
include { type = "file"; name = "global.conf"; }
include { type = "file"; name = "hostserv.conf"; }
include { type = "file"; name = "memoserv.conf"; }
include { type = "file"; name = "nickserv.conf"; }
include { type = "file"; name = "operserv.conf"; }

log
{
	target = "services.log"
	admin = "*"
	override = "chanserv/* nickserv/* memoserv/set ~botserv/set botserv/*"
	commands = "~operserv/* *"
	servers = "*"
	users = "connect disconnect nick"
	other = "*"
	rawio = no
	debug = no
}

mail { usemail = no; }

module
{
	name = "db_flatfile"
	database = "anope.db"
	keepbackups = 3
	fork = no
}
module { name = "enc_sha256"; }

include { type = "file"; name = "modules.conf"; }
EOF

# As root, Anope warns and sleeps 3s at startup. Run it as nobody instead, keeping
# the right to write into DIR even when DIR sits in a private (0700) temp folder.
as_user=()
if [[ $(id -u) -eq 0 ]]; then
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups
             --inh-caps=+dac_override --ambient-caps=+dac_override)
fi

cd "$dir"
exec >>"$dir/logs/console.log" 2>&1
exec "${as_user[@]}" "$binary" --nofork --confdir="$dir/conf" --dbdir="$dir/db" --logdir="$dir/logs" \
     --modulesdir="$root/usr/lib/anope" --localedir="$root/usr/share/anope/locale"
