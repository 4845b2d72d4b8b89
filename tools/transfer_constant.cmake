# The transfer-constant window.
target_sources(korvi_capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/transfer_constant.cpp
  ${CMAKE_CURRENT_LIST_DIR}/transfer_constant.h
)
