list(APPEND ZELVORA_PORTABLE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/proxy_config_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/proxy_settings_backup.cpp
)
list(APPEND ZELVORA_WIN32_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/system_proxy.cpp
  ${CMAKE_CURRENT_LIST_DIR}/system_proxy_guard.cpp
  ${CMAKE_CURRENT_LIST_DIR}/xray_service.cpp
)
