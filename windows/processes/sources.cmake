list(APPEND ZELVORA_PORTABLE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/child_output.cpp
  ${CMAKE_CURRENT_LIST_DIR}/component_rules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hidden_command_line.cpp
)
list(APPEND ZELVORA_WIN32_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/child_launch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/child_process.cpp
  ${CMAKE_CURRENT_LIST_DIR}/components.cpp
  ${CMAKE_CURRENT_LIST_DIR}/core_launch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hidden_command.cpp
  ${CMAKE_CURRENT_LIST_DIR}/orphan_cleanup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/output_pump.cpp
  ${CMAKE_CURRENT_LIST_DIR}/process_end.cpp
  ${CMAKE_CURRENT_LIST_DIR}/process_launch.cpp
)
