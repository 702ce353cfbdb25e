# Every source of the plug-in, split into portable code (no Win32, no Flutter: it also builds
# natively) and the Windows side. Each subsystem lists its own files.
set(ZELVORA_PORTABLE_SOURCES "")
set(ZELVORA_WIN32_SOURCES "")
foreach(folder common tunnel_log config_text processes probes ipc plugin
               vpn_engine/host vpn_engine/adapter_routes vpn_engine/dns_protection
               vpn_engine/injection vpn_engine/session proxy_mode
               installed_apps installed_apps/rules installed_apps/scan
               installed_apps/file_facts)
  include("${CMAKE_CURRENT_LIST_DIR}/${folder}/sources.cmake")
endforeach()
