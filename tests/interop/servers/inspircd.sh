#!/usr/bin/env bash
# Runs InspIRCd 3 in the foreground for an interop test, from the copy that
# scripts/install-interop.sh unpacked.
#
#   inspircd.sh DIR PORT [--tls-port N --cert PEM --key PEM] [--link-port N]
#               [--link-password PW] [--server-name NAME] [--services-name NAME]
#
# DIR is the folder for this instance: the config, logs and pid file are written there.
# Clients connect to 127.0.0.1:PORT (plain) and, when given, 127.0.0.1:--tls-port.
# --link-port opens a server port on 127.0.0.1 for Anope (tests/interop/servers/anope.sh)
# and marks the services server as U-lined and as the SASL agent.
# Per-IP connection limits are raised so one test can open many connections from
# 127.0.0.1; flood settings (threshold, commandrate, fakelag) stay as shipped.
# No DNS or ident lookups. The process is exec'd: stop it with SIGTERM. It then exits
# with status 10; with --tls-port it dies of SIGSEGV instead (Debian's 3.15.0 destroys a
# callback of the unloaded ssl_gnutls module on the way out), harmlessly. Core dumps are
# switched off for that reason.
set -euo pipefail

usage() { sed -n '5,6p' "$0" | sed 's/^# *//' >&2; exit 2; }
[[ $# -ge 2 ]] || usage
dir=$1 port=$2
shift 2
tls_port='' cert='' key='' link_port='' link_password=linkpass
server_name=irc.test services_name=services.test
while [[ $# -gt 0 ]]; do
    case $1 in
        --tls-port) tls_port=$2 ;;
        --cert) cert=$2 ;;
        --key) key=$2 ;;
        --link-port) link_port=$2 ;;
        --link-password) link_password=$2 ;;
        --server-name) server_name=$2 ;;
        --services-name) services_name=$2 ;;
        *) usage ;;
    esac
    shift 2
done
if [[ -n $tls_port && ( -z $cert || -z $key ) ]]; then
    echo "inspircd.sh: --tls-port needs --cert and --key" >&2
    exit 2
fi

root=${VALDRIN_INTEROP_DIR:-/var/tmp/valdrin-interop}/inspircd
binary=$root/usr/sbin/inspircd
examples=$root/usr/share/doc/inspircd/examples
if [[ ! -x $binary ]]; then
    echo "inspircd.sh: $binary missing, run scripts/install-interop.sh" >&2
    exit 3
fi

mkdir -p "$dir/data" "$dir/logs"
dir=$(cd "$dir" && pwd)
echo "InspIRCd test server $server_name" > "$dir/motd.txt"

{
cat <<EOF
<config format="xml">
<path configdir="$dir" datadir="$dir/data" logdir="$dir/logs" moduledir="$root/usr/lib/inspircd/modules">
<server name="$server_name" description="Interop test server" network="TestNet">
<admin name="Test" nick="admin" email="admin@$server_name">
<files motd="$dir/motd.txt">
<log method="file" type="* -USERINPUT -USEROUTPUT" level="default" target="$dir/logs/inspircd.log">

<bind address="127.0.0.1" port="$port" type="clients">

# The shipped example class, but with many connections allowed per IP
# and no hostname lookups. Flood limits are the shipped ones.
<connect name="main" allow="*"
         maxchans="20" timeout="20" pingfreq="2m"
         hardsendq="1M" softsendq="10240" recvq="10K"
         threshold="10" commandrate="1000" fakelag="yes"
         localmax="200" globalmax="200"
         resolvehostnames="no" useident="no" limit="5000">

# Lookups are off; point the resolver at loopback so nothing leaves the machine.
<dns server="127.0.0.1" timeout="1">
<cidr ipv4clone="32" ipv6clone="128">
<channels users="20" opers="60">
# rfc1459 is the 3.x default; Anope is told the same.
<options casemapping="rfc1459" prefixquit="Quit: " syntaxhints="no"
         announcets="yes" hostintopic="yes" defaultmodes="not">
<security hideserver="" userstats="Pu" maxtargets="20">
<performance quietbursts="yes" softlimit="1024" somaxconn="128" netbuffersize="10240">
<whowas groupsize="10" maxgroups="100000" maxkeep="3d">
<maxlist chan="*" limit="100">

<module name="cap">
<module name="ircv3">
<module name="ircv3_capnotify">
<module name="ircv3_servertime">
<module name="ircv3_accounttag">
<module name="ircv3_echomessage">
<module name="namesx">
<module name="uhnames">
<module name="monitor">
<module name="services_account">
<module name="hidechans">
<module name="servprotect">
<module name="svshold">
<module name="chghost">
<module name="chgident">
<module name="chgname">
<module name="topiclock">
<module name="sasl">
<sasl target="$services_name" requiressl="no">
# NICKSERV, NS, IDENTIFY, CHANSERV... aliases and reserved service nicks.
<include file="$examples/services/generic.conf.example">
EOF

if [[ -n $tls_port ]]; then
cat <<EOF
<module name="ssl_gnutls">
<module name="sslinfo">
<sslprofile name="clients" provider="gnutls" certfile="$cert" keyfile="$key"
            hash="sha256" requestclientcert="no">
<bind address="127.0.0.1" port="$tls_port" type="clients" sslprofile="clients">
EOF
fi

if [[ -n $link_port ]]; then
cat <<EOF
<module name="spanningtree">
<bind address="127.0.0.1" port="$link_port" type="servers">
<link name="$services_name" ipaddr="127.0.0.1" port="$link_port"
      allowmask="127.0.0.0/8" timeout="5m"
      sendpass="$link_password" recvpass="$link_password">
<uline server="$services_name" silent="yes">
EOF
fi
} > "$dir/inspircd.conf"

ulimit -c 0
exec >>"$dir/logs/console.log" 2>&1
exec "$binary" --config "$dir/inspircd.conf" --nofork --nopid --runasroot
