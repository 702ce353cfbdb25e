list(APPEND ZELVORA_WIN32_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/exe_locator.cpp
  ${CMAKE_CURRENT_LIST_DIR}/install_folder_walk.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registry_values.cpp
  ${CMAKE_CURRENT_LIST_DIR}/session_user.cpp
  ${CMAKE_CURRENT_LIST_DIR}/store_scan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/store_script_run.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uninstall_scan.cpp
)
