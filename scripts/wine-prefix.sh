#!/usr/bin/env bash
# Prepares a Wine prefix for tests and the demo and starts a persistent wineserver for it.
#   wine-prefix.sh PREFIX start   create the prefix if needed, start wineserver -p
#   wine-prefix.sh PREFIX stop    end every Wine process of the prefix
set -euo pipefail
prefix=$1
action=${2:-start}
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
# Called by path: /usr/bin/wineserver is only an alternatives link.
wineserver() { /usr/lib/wine/wineserver "$@"; }

case "$action" in
  start)
    if [ ! -f "$prefix/.zelvora-ready" ]; then
      rm -rf "$prefix"
      mkdir -p "$prefix"
      "$wine" wineboot -i >/dev/null 2>&1
      wineserver -w
      "$wine" winecfg -v win10 >/dev/null 2>&1
      # A crashing program fails at once instead of waiting for the debugger.
      "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
        /v Debugger /d '' /f >/dev/null 2>&1
      wineserver -w
      touch "$prefix/.zelvora-ready"
    fi
    # The user's temp folder has letters outside every ANSI code page and blanks in its name, as
    # many users' folders do, so every test that writes a temporary file and hands its path to a
    # child program (the core's configuration, the Store scan script) meets such a path.
    temp_name="Temp Zelvora é Ж 中"
    if [ ! -f "$prefix/.zelvora-temp" ]; then
      for name in TEMP TMP; do
        "$wine" reg add 'HKCU\Environment' /v "$name" /t REG_EXPAND_SZ \
          /d "%USERPROFILE%\\$temp_name" /f >/dev/null 2>&1
      done
      touch "$prefix/.zelvora-temp"
    fi
    for user_dir in "$prefix"/drive_c/users/*/; do
      [ "$(basename "$user_dir")" = Public ] || mkdir -p "$user_dir$temp_name"
    done
    # Detached from our output, or whoever reads it would wait for the server to end.
    # Fails when a server for this prefix already runs, which is just as good.
    wineserver -p </dev/null >/dev/null 2>&1 || true
    # Start the prefix's system processes (services.exe and the services it runs) now, with no
    # output attached: otherwise the first test starts them and they keep its stderr pipe open,
    # so ctest waits on it forever.
    "$wine" wineboot </dev/null >/dev/null 2>&1 || true
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    ;;
  *)
    echo "usage: $0 PREFIX start|stop" >&2
    exit 2
    ;;
esac
