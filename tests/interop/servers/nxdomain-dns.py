#!/usr/bin/python3
# A DNS server that answers every query with NXDOMAIN, for hybrid.sh.
#
#   nxdomain-dns.py ADDRESS READY_FILE
#
# ircd-hybrid always looks up the hostname of each client with its own resolver and
# waits up to 30s when the nameserver does not answer. Pointed at this, the lookup
# fails at once ("Couldn't look up your hostname") and no query leaves 127.0.0.0/8.
# It listens on ADDRESS:53 (UDP), creates READY_FILE once bound, and dies with its
# parent (the ircd), so the caller has only the ircd to stop. Started as root, it
# runs as nobody once bound.
import ctypes
import os
import signal
import socket
import sys

PR_SET_PDEATHSIG = 1


def main():
    address, ready_file = sys.argv[1], sys.argv[2]
    parent = os.getppid()

    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind((address, 53))
    open(ready_file, "w").close()
    # The ircd runs as nobody, and a parent may only deliver the death signal to a
    # child it could kill: drop to nobody too. Changing user clears the setting, so
    # it is made afterwards.
    if os.getuid() == 0:
        os.setgroups([])
        os.setgid(65534)
        os.setuid(65534)
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, int(signal.SIGKILL))
    if os.getppid() != parent:
        return

    while True:
        query, peer = sock.recvfrom(4096)
        if len(query) < 12:
            continue
        # Same id and question; QR=1, same opcode and RD, RA=1, RCODE=3 (NXDOMAIN);
        # no answer, authority or additional records.
        flags = 0x8000 | (query[2] & 0x79) << 8 | 0x80 | 3
        reply = query[:2] + flags.to_bytes(2, "big") + query[4:6] + bytes(6)
        end = 12
        while end < len(query) and query[end] != 0:
            end += query[end] + 1
        reply += query[12:end + 5]
        sock.sendto(reply, peer)


if __name__ == "__main__":
    main()
