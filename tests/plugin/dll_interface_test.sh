#!/usr/bin/env bash
# The shipped DLL as a Flutter app loads it: it exports the registration functions, takes the
# embedder API from flutter_windows.dll, and answers through the channel console.
#   dll_interface_test.sh BIN_DIR WINEPREFIX SOURCE_DIR
set -uo pipefail
bin=$1 prefix=$2 src=$3
dll="$bin/zelvora_vless_windows_plugin.dll"
failures=0
check() {  # check NAME COMMAND...
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}

headers=$(x86_64-w64-mingw32-objdump -p "$dll")
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers")
check "exports the C registration function" grep -qw 'TidewirePluginRegisterWithRegistrar' <<<"$exports"
check "exports the C++ overload" grep -q '_Z35TidewirePluginRegisterWithRegistrarPN7flutter15PluginRegistrarE' <<<"$exports"
embedder_imports=$(sed -n '/DLL Name: flutter_windows.dll/,/^$/p' <<<"$headers")
for fn in FlutterDesktopMessengerSend FlutterDesktopMessengerSetCallback \
  FlutterDesktopPluginRegistrarGetMessenger FlutterDesktopPluginRegistrarGetView \
  FlutterDesktopPluginRegistrarRegisterTopLevelWindowProcDelegate FlutterDesktopViewGetHWND; do
  check "imports $fn from flutter_windows.dll" grep -qw "$fn" <<<"$embedder_imports"
done
no_mingw_runtime() { ! grep -qiE 'DLL Name: (libstdc|libgcc|libwinpthread)' <<<"$headers"; }
check "needs no MinGW runtime DLL" no_mingw_runtime

transcript=$(python3 "$src/scripts/console_session.py" \
  "$src/tools/channel_console/demo/plugin_basics.jsonl" -- \
  "$src/scripts/wine-run.sh" "$prefix" "$bin/channel_console.exe" 2>&1)
echo "$transcript"
for line in 'plug-in registered (with a view)' \
  'status: DISCONNECTED   0 s connected   up +0 = 0   down +0 = 0' \
  '<- initializeVless: false' \
  '<- getCoreVersion: "Unknown"' \
  '<- startVless: error INVALID_ARGUMENTS: Missing remark or config' \
  '<- noSuchMethod: notImplemented' \
  'plug-in destroyed; console closed'; do
  check "console shows: $line" grep -qF -- "$line" <<<"$transcript"
done

echo "$failures failed"
[ "$failures" -eq 0 ]
