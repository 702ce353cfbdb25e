list(APPEND ZELVORA_PORTABLE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/config_injection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/core_dns_hosts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/routing_rules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/server_name_pin.cpp
)
list(APPEND ZELVORA_WIN32_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/blocked_apps_argument.cpp
  ${CMAKE_CURRENT_LIST_DIR}/store_app_listing.cpp
)
