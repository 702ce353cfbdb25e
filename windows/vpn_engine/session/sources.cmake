list(APPEND ZELVORA_WIN32_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/vpn_service.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vpn_service_environment.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vpn_start_sequence.cpp
)
