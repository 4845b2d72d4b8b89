# Composite records and their files.
target_sources(korvi_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/cf_settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cf_settings.h
  ${CMAKE_CURRENT_LIST_DIR}/composite_image.cpp
  ${CMAKE_CURRENT_LIST_DIR}/composite_image.h
  ${CMAKE_CURRENT_LIST_DIR}/compositor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/compositor.h
  ${CMAKE_CURRENT_LIST_DIR}/palette_block.cpp
  ${CMAKE_CURRENT_LIST_DIR}/palette_block.h
  ${CMAKE_CURRENT_LIST_DIR}/quick_equalization.cpp
  ${CMAKE_CURRENT_LIST_DIR}/quick_equalization.h
)
