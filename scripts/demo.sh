#!/usr/bin/env bash
# Shows the plug-in at work: the channel console plays the Flutter app and drives the real
# plug-in DLL under Wine, first on its own, then connecting through the tunnel service.
#   scripts/demo.sh [--log]     --log also shows the plug-in's own log lines
set -euo pipefail
cd "$(dirname "$0")/.."
root=${BUILD_ROOT:-build}
build="$root/windows"

scripts/install-deps.sh
echo "Building the plug-in, the SDK stand-in, the console and the reference service..."
cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target zelvora_vless_windows_plugin channel_console \
  zelvora_tunnel_service tunnel_service_ctl core_standin_xray core_standin_tun2socks \
  zelvora_vless_windows_plugin_simulated >/dev/null

prefix="$PWD/$build/wineprefix"
# The app folder of the build (ZELVORA_APP_DIR in CMakeLists.txt): programs and DLLs side by side.
bin="$PWD/$build/bin/Zelvora App é Ж 中"
run() { scripts/wine-run.sh "$prefix" "$@"; }
work=$(mktemp -d)
cleanup() {
  run "$bin/tunnel_service_ctl.exe" delete >/dev/null 2>&1 || true
  [ -n "${web_pid:-}" ] && kill "$web_pid" 2>/dev/null
  [ -n "${server_pid:-}" ] && kill "$server_pid" 2>/dev/null
  [ -n "${vpn_server_pid:-}" ] && kill "$vpn_server_pid" 2>/dev/null
  rm -rf "$work" "${demo_program_dir:-}"
  scripts/wine-prefix.sh "$prefix" stop
}
trap cleanup EXIT
scripts/wine-prefix.sh "$prefix" start
run "$bin/tunnel_service_ctl.exe" delete >/dev/null 2>&1 || true

session() {
  python3 scripts/console_session.py "tools/channel_console/demo/$1" "${@:2}" -- \
    scripts/wine-run.sh "$prefix" "$bin/channel_console.exe"
}
# The console looks for the core in an "xray" folder beside its working folder; the stand-in
# core (a counting SOCKS relay) lives there. The first argument is the script's path.
session_with_core() {
  local here=$PWD
  (cd "$bin/Zelvora Stand-ins é Ж 中" && python3 "$here/scripts/console_session.py" \
    "$1" "${@:2}" -- \
    "$here/scripts/wine-run.sh" "$prefix" "$bin/channel_console.exe")
}
# The same with the plug-in's test build, whose engine works on the simulated home machine.
session_simulated() {
  local here=$PWD
  (cd "$bin/Zelvora Stand-ins é Ж 中" && python3 "$here/scripts/console_session.py" \
    "$here/tools/channel_console/demo/$1" "${@:2}" -- \
    "$here/scripts/wine-run.sh" "$prefix" "$bin/channel_console.exe" \
    --plugin "$bin/zelvora_vless_windows_plugin_simulated.dll")
}

echo
echo "######## 1. The plug-in on its own (no tunnel service installed)"
session plugin_basics.jsonl "$@"

echo
echo "######## 2. Connecting through the tunnel service"
run "$bin/tunnel_service_ctl.exe" install >/dev/null
run "$bin/tunnel_service_ctl.exe" behaviour "delay_ms=300" >/dev/null
echo "   (reference service \"ZelvoraTunnel\" installed in the Wine prefix)"
session service_session.jsonl "$@"

echo
echo "######## 3. Installed programs for per-app bypass"
demo_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZelvoraDemoApp'
# Another vendor's program, installed where such programs live (a program inside the app's own
# folder counts as the app's and is never listed).
demo_program_dir="$prefix/drive_c/Program Files/Démo Downloader"
mkdir -p "$demo_program_dir"
cp "$bin/tunnel_service_ctl.exe" "$demo_program_dir/downloader.exe"
demo_exe='C:\Program Files\Démo Downloader\downloader.exe'
run reg add "$demo_key" /v DisplayName /d "Demo Downloader (64-bit)" /f >/dev/null 2>&1
run reg add "$demo_key" /v DisplayVersion /d "2.4.1" /f >/dev/null 2>&1
run reg add "$demo_key" /v DisplayIcon /d "$demo_exe,0" /f >/dev/null 2>&1
session installed_apps.jsonl "$@"
run reg delete "$demo_key" /f >/dev/null 2>&1 || true

echo
echo "######## 4. Proxy-only mode in process (no tunnel service; the core is a test stand-in)"
run "$bin/tunnel_service_ctl.exe" delete >/dev/null 2>&1 || true
python3 -m http.server 18080 --bind 127.0.0.1 >/dev/null 2>&1 &
web_pid=$!
echo "   (a local web page on 127.0.0.1:18080 is the delay target)"
# The configuration's VPN server: a loopback stand-in on a port the system picks.
python3 tools/channel_console/demo/server_standin.py >"$work/server_port" &
server_pid=$!
for _ in $(seq 50); do [ -s "$work/server_port" ] && break; sleep 0.1; done
server_port=$(head -n1 "$work/server_port")
echo "   (the configuration's VPN server is a stand-in on 127.0.0.1:$server_port)"
sed "s/SERVER_PORT/$server_port/" tools/channel_console/demo/proxy_only.jsonl >"$work/proxy_only.jsonl"
session_with_core "$work/proxy_only.jsonl" "$@"

echo
echo "######## 5. A whole VPN session in process, on a simulated home machine"
echo "   (the plug-in's test build: the same code, its engine's routes, DNS and firewall go to a"
echo "    simulated Windows host; the core and tun2socks are stand-ins; 127.0.0.2:18443 plays the"
echo "    VPN server)"
python3 tools/channel_console/demo/server_standin.py 127.0.0.2 18443 >/dev/null &
vpn_server_pid=$!
session_simulated vpn_in_process.jsonl "$@"

echo
echo "The plug-in's log: $prefix/drive_c/ProgramData/Zelvora/logs/tunnel.log"
