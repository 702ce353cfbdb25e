list(APPEND ZELVORA_PORTABLE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/protected_path.cpp
  ${CMAKE_CURRENT_LIST_DIR}/text_encoding.cpp
)
list(APPEND ZELVORA_WIN32_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/elevation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_owner.cpp
  ${CMAKE_CURRENT_LIST_DIR}/program_path.cpp
  ${CMAKE_CURRENT_LIST_DIR}/protected_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/trusted_state_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zelvora_data_files.cpp
)
