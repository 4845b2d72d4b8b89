# korvi_capture: the program's windows (a library, so tests can drive them); korvi: the program.
add_library(korvi_capture STATIC
  default_data.cpp default_data.h
  edit_target.h
  file_dialogs.cpp file_dialogs.h
  korvi_application.cpp korvi_application.h
  main_window.cpp main_window_files.cpp main_window_display.cpp main_window_processing.cpp
  main_window.h
  program_windows.cpp program_windows.h
  progress_window.cpp progress_window.h
  sensor_window.cpp sensor_window.h
)
target_include_directories(korvi_capture PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(korvi_capture PUBLIC korvi_core korvi_core_gui korvicom Qt6::Widgets Qt6::OpenGL
                                           Qt6::OpenGLWidgets)

add_executable(korvi main.cpp)
target_link_libraries(korvi PRIVATE korvi_capture)

# Writes the data the program ships (default settings, palettes, palette-bar frame) into a folder
# that holds Settings/, Palettes/ and Bitmaps/: korvi_make_data <folder>.
add_executable(korvi_make_data make_data.cpp)
target_link_libraries(korvi_make_data PRIVATE korvi_capture)
include(${CMAKE_CURRENT_SOURCE_DIR}/camera.cmake)
include(${CMAKE_CURRENT_SOURCE_DIR}/acquisition.cmake)
