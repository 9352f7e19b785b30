#!/usr/bin/env bash
# Fetches the chat servers the interop tests run against: InspIRCd with Anope services,
# ircd-hybrid and ejabberd, all from Debian's archive.
#
# They are unpacked into a folder of their own ($VALDRIN_INTEROP_DIR, by default
# /var/tmp/valdrin-interop/<package>) rather than installed: Debian's IRC servers conflict
# with each other (installing ircd-hybrid removes ngircd, which other tests need), and the
# packages would add, enable and start system services on the ports ngircd and prosody use.
# Only the libraries they link against (and ejabberd's Erlang libraries) are installed with
# apt, and the install is refused if apt would remove anything.
# The tests start the servers themselves through tests/interop/servers/*.sh.
# Running it again when everything is in place only checks and exits.
set -euo pipefail

dest=${VALDRIN_INTEROP_DIR:-/var/tmp/valdrin-interop}
packages=(inspircd anope ircd-hybrid ejabberd)
deps_list="$dest/apt-deps.txt"

sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive

not_installed() {
    local installed package
    # dpkg-query fails for packages it has never seen; those count as not installed.
    installed=$(dpkg-query -W -f='${db:Status-Status} ${Package}\n' "$@" 2>/dev/null |
                awk '$1 == "installed" { print $2 }' || true)
    for package in "$@"; do
        grep -qx -- "$package" <<< "$installed" || echo "$package"
    done
}

# Files the server scripts use, checked on the fast path: /var/tmp is aged by
# systemd-tmpfiles, so a copy that sat unused for a month may have lost some.
needed=(
    inspircd/usr/sbin/inspircd
    inspircd/usr/lib/inspircd/modules/m_spanningtree.so
    inspircd/usr/share/doc/inspircd/examples/services/generic.conf.example
    anope/usr/sbin/anope
    anope/usr/lib/anope/modules/inspircd3.so
    anope/usr/share/doc/anope/examples/nickserv.example.conf
    ircd-hybrid/usr/sbin/ircd-hybrid
    ircd-hybrid/usr/lib/ircd-hybrid/modules/m_join.so
)

all_unpacked() {
    local package file
    for package in "${packages[@]}"; do
        [[ -f "$dest/$package/.unpacked" ]] || return 1
    done
    for file in "${needed[@]}"; do
        [[ -f "$dest/$file" ]] || return 1
    done
    compgen -G "$dest/ejabberd/usr/lib/*/ejabberd-*/ebin/ejabberd.beam" >/dev/null || return 1
    [[ -f "$deps_list" ]]
}

# Fast path: everything unpacked and every library still installed.
if all_unpacked; then
    mapfile -t deps < "$deps_list"
    if [[ -z "$(not_installed "${deps[@]}")" ]]; then
        echo "interop servers ready in $dest"
        exit 0
    fi
fi

started=$(date +%s)
mkdir -p "$dest"

if ! apt-cache show --no-all-versions inspircd >/dev/null 2>&1; then
    echo "apt-get update"
    "${sudo_cmd[@]}" apt-get update -qq
fi

# Download into a folder apt's sandbox user can write to, so apt does not warn.
download="$dest/.download"
rm -rf "$download"
mkdir -p "$download"
if id _apt >/dev/null 2>&1 && [[ $(id -u) -eq 0 ]]; then chown _apt "$download"; fi

echo "downloading ${packages[*]}"
if ! (cd "$download" && apt-get download -qq "${packages[@]}" 2>/dev/null); then
    # Stale package lists name versions the archive no longer has.
    echo "apt-get update"
    "${sudo_cmd[@]}" apt-get update -qq
    (cd "$download" && apt-get download -qq "${packages[@]}")
fi

# Dependencies to install: the libraries of each package; for ejabberd also its Erlang
# applications. Tools, init helpers and perl scripts are left out: only the binaries run.
deps=()
for package in "${packages[@]}"; do
    deb=$(ls "$download/${package}"_*.deb)
    while read -r dep; do
        case "$package:$dep" in
            ejabberd:erlang-abi) ;;                 # virtual, provided by erlang-base
            *:lib*-perl) ;;                         # only inspircd's helper scripts use these
            ejabberd:erlang-*|*:lib*) deps+=("$dep") ;;
        esac
    done < <(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ *|.*//; s/ *(.*//; s/:any$//')
done
mapfile -t deps < <(printf '%s\n' "${deps[@]}" | sort -u)
mapfile -t missing < <(not_installed "${deps[@]}")

if [[ ${#missing[@]} -gt 0 ]]; then
    # A library must never pull out another server (ngircd, prosody): check first.
    removals=$(apt-get install -s --no-install-recommends "${missing[@]}" | grep '^Remv' || true)
    if [[ -n "$removals" ]]; then
        echo "refusing: installing ${missing[*]} would remove:" >&2
        echo "$removals" >&2
        exit 1
    fi
    # erlang-base starts epmd as a service where systemd runs; keep services from starting
    # during the install unless a policy is already in place (as in containers).
    policy=/usr/sbin/policy-rc.d
    own_policy=
    if [[ ! -e $policy ]]; then
        printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
        "${sudo_cmd[@]}" chmod 755 "$policy"
        own_policy=1
        trap '"${sudo_cmd[@]}" rm -f "$policy"' EXIT
    fi
    echo "installing ${#missing[@]} libraries: ${missing[*]}"
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    if [[ -n $own_policy ]]; then
        "${sudo_cmd[@]}" rm -f "$policy"
        trap - EXIT
    fi
fi

for package in "${packages[@]}"; do
    deb=$(ls "$download/${package}"_*.deb)
    version=$(dpkg-deb -f "$deb" Version)
    echo "unpacking $package $version into $dest/$package"
    rm -rf "${dest:?}/$package.new" "${dest:?}/$package"
    dpkg -x "$deb" "$dest/$package.new"
    echo "$version" > "$dest/$package.new/version"
    mv "$dest/$package.new" "$dest/$package"
done
rm -rf "$download"

# Every binary and module must find its libraries.
unresolved=$(find "$dest/inspircd/usr/sbin/inspircd" "$dest/inspircd/usr/lib/inspircd/modules" \
                  "$dest/anope/usr/sbin/anope" "$dest/anope/usr/lib/anope/modules" \
                  "$dest/ircd-hybrid/usr/sbin/ircd-hybrid" "$dest/ircd-hybrid/usr/lib/ircd-hybrid/modules" \
                  -type f \( -name '*.so' -o -perm -u+x \) -print0 |
             xargs -0 -n 20 ldd 2>/dev/null | grep 'not found' | sort -u || true)
if [[ -n "$unresolved" ]]; then
    echo "unresolved libraries:" >&2
    echo "$unresolved" >&2
    exit 1
fi

# Only now is a later run allowed to take the fast path.
for package in "${packages[@]}"; do
    mv "$dest/$package/version" "$dest/$package/.unpacked"
done
printf '%s\n' "${deps[@]}" > "$deps_list"
echo "interop servers ready in $dest ($(( $(date +%s) - started ))s)"
