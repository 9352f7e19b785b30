#!/usr/bin/env bash
# Runs ejabberd 23.01 in the foreground for an interop test, from the copy that
# scripts/install-interop.sh unpacked (its Erlang libraries are installed with apt).
#
#   ejabberd.sh DIR C2S_PORT [--domain NAME] [--cert PEM --key PEM] [--ctl-port N]
#
# DIR is the folder for this instance: ejabberd.yml, the Mnesia database (spool/) and
# logs/ are there. Clients connect to 127.0.0.1:C2S_PORT. With --cert/--key STARTTLS is
# offered (not required); without them the stream stays plain and SASL PLAIN is allowed.
# The domain (default localhost) has MUC at conference.<domain>. Users are added with
#   ejabberdctl.sh DIR register USER DOMAIN PASSWORD
# or by in-band registration (XEP-0077), which is open to 127.0.0.0/8 only.
#
# The Erlang node is ejabberd<C2S_PORT>@localhost with a random cookie in DIR/.erlang.cookie.
# It does not need epmd: the node listens for ejabberdctl.sh on 127.0.0.1:--ctl-port (a free
# port is picked when not given), so parallel instances and a leftover epmd do not matter.
# The c2s port is bound about 0.3s before streams are served: wait for <stream:features>
# (or for "ejabberdctl.sh DIR status" to exit 0) rather than for the port.
# The process is exec'd: stop it with SIGTERM (Mnesia is written as it goes).
set -euo pipefail

usage() { sed -n '5p' "$0" | sed 's/^# *//' >&2; exit 2; }
[[ $# -ge 2 ]] || usage
dir=$1 port=$2
shift 2
domain=localhost cert='' key='' ctl_port=''
while [[ $# -gt 0 ]]; do
    case $1 in
        --domain) domain=$2 ;;
        --cert) cert=$2 ;;
        --key) key=$2 ;;
        --ctl-port) ctl_port=$2 ;;
        *) usage ;;
    esac
    shift 2
done
if [[ -n $cert$key && ( -z $cert || -z $key ) ]]; then
    echo "ejabberd.sh: --cert and --key go together" >&2
    exit 2
fi

root=${VALDRIN_INTEROP_DIR:-/var/tmp/valdrin-interop}/ejabberd
# Erlang finds the application as <libs>/ejabberd-<version>/ebin: Debian ships
# ejabberd-23.01 as a link to ejabberd-23.01-1 under the multiarch lib folder.
apps=("$root"/usr/lib/*/ejabberd-[0-9]*/ebin/ejabberd.app)
app=${apps[0]}
if [[ ! -f $app || ! -x /usr/bin/erl ]]; then
    echo "ejabberd.sh: ejabberd or erlang missing, run scripts/install-interop.sh" >&2
    exit 3
fi
erl_libs=$(dirname "$(dirname "$(dirname "$app")")")

if [[ -z $ctl_port ]]; then
    ctl_port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
fi

mkdir -p "$dir/spool" "$dir/logs"
dir=$(cd "$dir" && pwd)
node=ejabberd$port@localhost
# Erlang reads the cookie from $HOME/.erlang.cookie; HOME is DIR for the node and for ejabberdctl.sh.
if [[ ! -s $dir/.erlang.cookie ]]; then
    head -c 24 /dev/urandom | od -An -tx1 | tr -d ' \n' > "$dir/.erlang.cookie"
fi
chmod 400 "$dir/.erlang.cookie"
cat > "$dir/ctl.env" <<EOF
node=$node
ctl_port=$ctl_port
erl_libs=$erl_libs
EOF

tls_listen="starttls: false"
certfiles=
if [[ -n $cert ]]; then
    tls_listen="starttls: true
    starttls_required: false"
    certfiles="certfiles:
  - \"$cert\"
  - \"$key\""
fi

# Debian's shipped ejabberd.yml, with only the c2s listener (on loopback), no TLS
# requirement, in-band registration from loopback, and the modules that need another
# listener (BOSH, MQTT, STUN) left out.
cat > "$dir/ejabberd.yml" <<EOF
loglevel: info
log_rotate_count: 0
hosts:
  - "$domain"
$certfiles
define_macro:
  'TLS_CIPHERS': "HIGH:!aNULL:!eNULL:!3DES:@STRENGTH"
  'TLS_OPTIONS':
    - "no_sslv3"
    - "no_tlsv1"
    - "no_tlsv1_1"
    - "cipher_server_preference"
    - "no_compression"
c2s_ciphers: 'TLS_CIPHERS'
c2s_protocol_options: 'TLS_OPTIONS'
listen:
  -
    port: $port
    ip: "127.0.0.1"
    module: ejabberd_c2s
    max_stanza_size: 262144
    backlog: 128
    shaper: c2s_shaper
    access: c2s
    $tls_listen
    protocol_options: 'TLS_OPTIONS'
disable_sasl_mechanisms:
  - "digest-md5"
  - "X-OAUTH2"
auth_password_format: scram
acl:
  local:
    user_regexp: ""
  loopback:
    ip:
      - 127.0.0.0/8
      - ::1/128
access_rules:
  local:
    allow: local
  c2s:
    deny: blocked
    allow: all
  announce:
    allow: admin
  configure:
    allow: admin
  muc_create:
    allow: local
  pubsub_createnode:
    allow: local
  trusted_network:
    allow: loopback
  register:
    allow: all
api_permissions:
  "console commands":
    from:
      - ejabberd_ctl
    who: all
    what: "*"
shaper:
  normal:
    rate: 3000
    burst_size: 20000
  fast: 200000
shaper_rules:
  max_user_sessions: 10
  max_user_offline_messages:
    5000: admin
    100: all
  c2s_shaper:
    none: admin
    normal: all
  s2s_shaper: fast
modules:
  mod_adhoc: {}
  mod_admin_extra: {}
  mod_announce:
    access: announce
  mod_avatar: {}
  mod_blocking: {}
  mod_caps: {}
  mod_carboncopy: {}
  mod_client_state: {}
  mod_configure: {}
  mod_disco: {}
  mod_last: {}
  mod_muc:
    host: "conference.@HOST@"
    access:
      - allow
    access_admin:
      - allow: admin
    access_create: muc_create
    access_persistent: muc_create
    access_mam:
      - allow
    default_room_options:
      mam: true
  mod_muc_admin: {}
  mod_offline:
    access_max_user_messages: max_user_offline_messages
  mod_ping: {}
  mod_privacy: {}
  mod_private: {}
  mod_pubsub:
    access_createnode: pubsub_createnode
    plugins:
      - flat
      - pep
  mod_push: {}
  mod_push_keepalive: {}
  mod_register:
    access: register
    ip_access: trusted_network
  mod_roster:
    versioning: true
  mod_sic: {}
  mod_stream_mgmt:
    resend_on_timeout: if_offline
  mod_vcard:
    search: false
  mod_vcard_xupdate: {}
  mod_version: {}
EOF

# Names resolve from this file only: nothing is asked of a DNS server.
cat > "$dir/inetrc" <<EOF
{lookup, [file]}.
{host, {127,0,0,1}, ["localhost", "$domain"]}.
EOF

export HOME=$dir
export ERL_LIBS=$erl_libs
export EJABBERD_CONFIG_PATH=$dir/ejabberd.yml
export EJABBERD_LOG_PATH=$dir/logs/ejabberd.log
export ERL_CRASH_DUMP=$dir/logs/erl_crash.dump
export ERL_INETRC=$dir/inetrc
cd "$dir"
exec >>"$dir/logs/console.log" 2>&1
exec /usr/bin/erl -sname "$node" \
     -start_epmd false -erl_epmd_port "$ctl_port" \
     -kernel inet_dist_use_interface '{127,0,0,1}' \
     -noinput +K true +P 250000 \
     -mnesia dir "\"$dir/spool\"" -s ejabberd
