list(APPEND ZELVORA_PORTABLE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/config_inspection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/config_meta.cpp
  ${CMAKE_CURRENT_LIST_DIR}/config_rewrites.cpp
  ${CMAKE_CURRENT_LIST_DIR}/json_members.cpp
  ${CMAKE_CURRENT_LIST_DIR}/json_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/text_patterns.cpp
  ${CMAKE_CURRENT_LIST_DIR}/xray_core_contract.cpp
)
list(APPEND ZELVORA_WIN32_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/vpn_config_file.cpp
)
