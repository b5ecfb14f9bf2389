#!/bin/sh
# Runs a test program under umockdev-wrapper as an unprivileged user: as root (permission bits
# do not bind root) through setpriv as "nobody", from a copy the user may read; otherwise as it
# is. Usage: unprivileged.sh UMOCKDEV_WRAPPER PROGRAM [ARGS...]
set -eu
wrapper=$1
program=$2
shift 2
if [ "$(id -u)" -ne 0 ]; then
  exec "$wrapper" "$program" "$@"
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$program" "$dir/program"
mkdir "$dir/home"
chown 65534:65534 "$dir/home"
chmod 0700 "$dir/home"
chmod 0755 "$dir" "$dir/program"
setpriv --reuid=65534 --regid=65534 --clear-groups \
  env HOME="$dir/home" XDG_RUNTIME_DIR="$dir/home" XDG_CONFIG_HOME="$dir/home" TMPDIR="$dir/home" \
  "$wrapper" "$dir/program" "$@"
