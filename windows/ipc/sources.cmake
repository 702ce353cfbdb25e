list(APPEND ZELVORA_PORTABLE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/request_policy.cpp
  ${CMAKE_CURRENT_LIST_DIR}/status_payload.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wire_format.cpp
)
list(APPEND ZELVORA_WIN32_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/pipe_io.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pipe_trust.cpp
  ${CMAKE_CURRENT_LIST_DIR}/send_request.cpp
  ${CMAKE_CURRENT_LIST_DIR}/service_control.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vpn_ipc_client.cpp
)
