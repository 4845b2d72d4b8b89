# Batch processing: the window and its Qt-free output naming.
target_sources(korvi_capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/batch_naming.cpp
  ${CMAKE_CURRENT_LIST_DIR}/batch_naming.h
  ${CMAKE_CURRENT_LIST_DIR}/multi_process.cpp
  ${CMAKE_CURRENT_LIST_DIR}/multi_process.h
)
target_include_directories(korvi_capture PUBLIC ${CMAKE_CURRENT_LIST_DIR})
