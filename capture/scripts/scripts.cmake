# The acquisition scripts: the Qt-free language (splitter, checker, values), the script window and
# the script thread.
target_sources(korvi_capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/script_language.cpp ${CMAKE_CURRENT_LIST_DIR}/script_language.h
  ${CMAKE_CURRENT_LIST_DIR}/script_window.cpp ${CMAKE_CURRENT_LIST_DIR}/script_window.h
  ${CMAKE_CURRENT_LIST_DIR}/script_thread.cpp ${CMAKE_CURRENT_LIST_DIR}/script_thread.h
)
target_include_directories(korvi_capture PUBLIC ${CMAKE_CURRENT_LIST_DIR})
