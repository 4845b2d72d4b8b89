# Image core records: the image record and pixel matrices, the palette, the settings record, the
# line-per-value files with the number, date and name texts, and the user-interface hooks.
target_sources(korvi_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/file_names.cpp
  ${CMAKE_CURRENT_LIST_DIR}/image_data.cpp
  ${CMAKE_CURRENT_LIST_DIR}/image_data_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/line_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/palette.cpp
  ${CMAKE_CURRENT_LIST_DIR}/palette_curves.cpp
  ${CMAKE_CURRENT_LIST_DIR}/palette_curves.h
  ${CMAKE_CURRENT_LIST_DIR}/pixel_memory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/text_format.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ui_hooks.cpp
)
