# Worker-thread helpers shared by the acquisition, guide and script threads.
target_sources(korvi_core_gui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/camera_lock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/camera_lock.h
  ${CMAKE_CURRENT_LIST_DIR}/worker_thread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/worker_thread.h
  ${CMAKE_CURRENT_LIST_DIR}/tsan_handoff.h
)
