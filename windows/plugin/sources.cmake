list(APPEND ZELVORA_WIN32_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/connection_state.cpp
  ${CMAKE_CURRENT_LIST_DIR}/connection_workers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/method_args.cpp
  ${CMAKE_CURRENT_LIST_DIR}/method_dispatch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/platform_thread_queue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/service_stop_retry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/status_event.cpp
  ${CMAKE_CURRENT_LIST_DIR}/status_stream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tidewire_plugin.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vpn_service_manager.cpp
)
