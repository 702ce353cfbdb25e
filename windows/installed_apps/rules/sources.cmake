list(APPEND ZELVORA_PORTABLE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/collapse.cpp
  ${CMAKE_CURRENT_LIST_DIR}/entry_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/name_rules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/path_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/store_rules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uninstall_rules.cpp
)
