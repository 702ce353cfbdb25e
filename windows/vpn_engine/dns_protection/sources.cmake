list(APPEND ZELVORA_PORTABLE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/adapter_dns_settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dns_backup_format.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dns_guard.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dns_guard_filters.cpp
  ${CMAKE_CURRENT_LIST_DIR}/name_resolution_backup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/netsh_text_rules.cpp
)
list(APPEND ZELVORA_WIN32_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/dns_backup_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dns_leak_protection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/name_resolution_policy.cpp
)
