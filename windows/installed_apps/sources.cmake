list(APPEND ZELVORA_WIN32_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/catalogue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/catalogue_workers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_picker.cpp
)
