#!/usr/bin/env bash
# Runs a command in a mount namespace whose /dev holds no serial devices
# (ttyS*, ttyUSB*, ttyACM*); everything else in /dev is the machine's own.
# Wine makes every such device a COM port at its start, so under Wine the only
# ports are then the ones the test maps itself. Needs root; exits 125 when the
# namespace cannot be made.
#
#   without-serial-devices.sh COMMAND [ARGUMENT...]
set -euo pipefail
[ "$(id -u)" -eq 0 ] && unshare --mount true 2>/dev/null || exit 125
exec unshare --mount --propagation private -- bash -euo pipefail -c '
    dev=$(mktemp -d)
    mount -t tmpfs -o mode=0755 talvern-dev "$dev"
    shopt -s dotglob nullglob
    for entry in /dev/*; do
        name=${entry#/dev/}
        case $name in ttyS[0-9]* | ttyUSB[0-9]* | ttyACM[0-9]*) continue ;; esac
        if [ "$name" = ptmx ]; then
            # New pseudo-terminals come from the devpts mounted beside it.
            ln -s pts/ptmx "$dev/ptmx"
        elif [ -L "$entry" ]; then
            cp -P "$entry" "$dev/$name"
        elif [ -d "$entry" ]; then
            mkdir "$dev/$name"
            mount --rbind "$entry" "$dev/$name"
        else
            touch "$dev/$name"
            mount --bind "$entry" "$dev/$name"
        fi
    done
    mount --move "$dev" /dev
    rmdir "$dev"
    exec "$@"' without-serial-devices "$@"
