list(APPEND ZELVORA_PORTABLE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/collapse.cpp
  ${CMAKE_CURRENT_LIST_DIR}/entry_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_facts_cache.cpp
  ${CMAKE_CURRENT_LIST_DIR}/icon_pixels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/name_rules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/path_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/store_rules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uninstall_rules.cpp
)
list(APPEND ZELVORA_WIN32_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/catalogue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/catalogue_workers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/exe_locator.cpp
  ${CMAKE_CURRENT_LIST_DIR}/exe_version.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_picker.cpp
  ${CMAKE_CURRENT_LIST_DIR}/icon_png.cpp
  ${CMAKE_CURRENT_LIST_DIR}/install_folder_walk.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registry_values.cpp
  ${CMAKE_CURRENT_LIST_DIR}/session_user.cpp
  ${CMAKE_CURRENT_LIST_DIR}/store_scan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/store_script_run.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uninstall_scan.cpp
)
