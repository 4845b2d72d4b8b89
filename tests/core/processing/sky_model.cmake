korvi_add_test(sky_model_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/sky_model_test.cpp LIBS korvi_core)
target_include_directories(sky_model_test PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
