#!/usr/bin/env bash
# Runs an ejabberdctl command against an ejabberd started by ejabberd.sh.
#
#   ejabberdctl.sh DIR COMMAND [ARGS...]
#   e.g. ejabberdctl.sh DIR register linkdesk localhost secret
#        ejabberdctl.sh DIR status
#
# It reaches the node through the port and cookie ejabberd.sh left in DIR, without epmd.
# The exit status is ejabberdctl's: 0 on success, 1 when the command failed (for
# register: the user exists), 3 when the node is not running (yet).
set -euo pipefail

[[ $# -ge 2 ]] || { sed -n '4,6p' "$0" | sed 's/^# *//' >&2; exit 2; }
dir=$(cd "$1" && pwd)
shift
setting() { sed -n "s/^$1=//p" "$dir/ctl.env"; }
node=$(setting node)
ctl_port=$(setting ctl_port)
erl_libs=$(setting erl_libs)

export HOME=$dir
export ERL_LIBS=$erl_libs
export ERL_INETRC=$dir/inetrc
exec /usr/bin/erl -sname "ctl$$-$RANDOM@localhost" -hidden -noinput \
     -start_epmd false -erl_epmd_port "$ctl_port" -dist_listen false \
     -s ejabberd_ctl -extra "$node" "$@"
