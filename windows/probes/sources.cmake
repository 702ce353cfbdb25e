list(APPEND ZELVORA_PORTABLE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/core_traffic.cpp
  ${CMAKE_CURRENT_LIST_DIR}/probe_request.cpp
)
list(APPEND ZELVORA_WIN32_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/data_path_probe.cpp
  ${CMAKE_CURRENT_LIST_DIR}/loopback_ports.cpp
  ${CMAKE_CURRENT_LIST_DIR}/probe_stream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/server_resolve.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tls_stream.cpp
)
