# Composite records and their files.
korvi_add_test(composite_files_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/composite_files_test.cpp LIBS korvi_core)
target_include_directories(composite_files_test PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
# The CPU compositor: blends against their formulas.
korvi_add_test(compositor_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/compositor_test.cpp LIBS korvi_core)
target_include_directories(compositor_test PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
# Quick equalization of a layer.
korvi_add_test(quick_equalization_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/quick_equalization_test.cpp LIBS korvi_core)
target_include_directories(quick_equalization_test PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
