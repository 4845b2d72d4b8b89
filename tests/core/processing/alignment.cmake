# Alignment of composite layers onto layer 1.
korvi_add_test(alignment_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/alignment_test.cpp LIBS korvi_core)
