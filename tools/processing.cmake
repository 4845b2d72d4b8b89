# The unit every processing window shares (target, snapshot, refresh, preview, redo) and the
# processing dialog.
target_sources(korvi_capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/processing_target.cpp
  ${CMAKE_CURRENT_LIST_DIR}/processing_target.h
  ${CMAKE_CURRENT_LIST_DIR}/processing_dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/processing_dialog.h
)
