#!/bin/sh
# Runs a Windows program under Wine for the tests: no debug chatter on
# standard error, no offer to install Mono or Gecko, and a Wine prefix that is
# made once even when several tests start at the same moment.
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
prefix="${WINEPREFIX:-$HOME/.wine}"
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  # The first start builds the prefix and tells so on standard error.
  flock "$prefix.lock" sh -c '[ -f "$1/system.reg" ] || { wineboot --init && wineserver --wait; } >/dev/null 2>&1' \
    sh "$prefix"
fi
exec wine "$@"
