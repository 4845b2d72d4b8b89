# Sub-frame tables: a rectangle of an image as comma-separated text.
target_sources(korvi_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/subframe_table_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/subframe_table_file.h
)
