list(APPEND ZELVORA_PORTABLE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/proxy_sharing_firewall.cpp
  ${CMAKE_CURRENT_LIST_DIR}/route_checks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tunnel_adapter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tunnel_routes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wintun_holder.cpp
)
list(APPEND ZELVORA_WIN32_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/wintun_holder_win32.cpp
)
