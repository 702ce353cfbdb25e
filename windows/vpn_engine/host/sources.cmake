list(APPEND ZELVORA_PORTABLE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/ipv4_text.cpp
)
list(APPEND ZELVORA_WIN32_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/adapter_driver_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/command_runner_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/host_network_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/host_seams_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/windows_filtering_engine.cpp
)
