# Every source of the plug-in, split into portable code (no Win32, no Flutter: it also builds
# natively) and the Windows side. Each subsystem lists its own files.
set(ZELVORA_PORTABLE_SOURCES "")
set(ZELVORA_WIN32_SOURCES "")
foreach(subsystem common tunnel_log ipc plugin vpn_engine proxy_mode installed_apps)
  include("${CMAKE_CURRENT_LIST_DIR}/${subsystem}/sources.cmake")
endforeach()
