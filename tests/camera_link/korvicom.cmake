# Tests of the korvicom exports, through the simulated controller. The time scale makes every
# link time-out a hundredth of its real length, so failure cases that wait them out stay quick.
set(KORVICOM_TEST_DIR ${CMAKE_CURRENT_LIST_DIR})
set(KORVICOM_TEST_ENV ENV KORVI_TIME_SCALE=0.01)

korvi_add_test(korvicom_exports_test
  SOURCES ${KORVICOM_TEST_DIR}/korvicom_exports_test.cpp ${KORVICOM_TEST_DIR}/korvicom_c_header.c
  LIBS korvicom)
target_compile_definitions(korvicom_exports_test PRIVATE
  KORVI_NM="${CMAKE_NM}" KORVICOM_LIBRARY_FILE="$<TARGET_FILE:korvicom>")

foreach(unit link commands readout drive)
  korvi_add_test(korvicom_${unit}_test
    SOURCES ${KORVICOM_TEST_DIR}/korvicom_${unit}_test.cpp ${KORVICOM_TEST_DIR}/korvicom_wire.h
    LIBS korvicom korvi_sim
    ${KORVICOM_TEST_ENV})
endforeach()
