# Tests of the image files (own format, FITS, PNG, BMP, dispatch) and the display levels.
set(_image_file_tests levels_test native_file_test fits_file_test png_file_test bmp_file_test image_file_test)
foreach(_test IN LISTS _image_file_tests)
  if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/${_test}.cpp)
    korvi_add_test(${_test} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${_test}.cpp LIBS korvi_core)
  endif()
endforeach()

# The image readers under libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer: built by
# clang in their own folder, each run on the same 5000 inputs grown from the committed seed corpus
# (a fixed seed, at most 60 s each), so the test is repeatable. Skipped
# (status 77) where clang or its fuzzing runtime is missing. Whichever of the two fuzz tests runs
# first also builds the image core with clang, which takes minutes on a loaded machine: the
# timeouts leave room for that build.
add_test(NAME image_readers_fuzz
         COMMAND ${CMAKE_SOURCE_DIR}/tests/fuzz/run_fuzzers.sh ${CMAKE_BINARY_DIR}/fuzz 60 5000)
set_tests_properties(image_readers_fuzz PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900 LABELS fuzz
                     RESOURCE_LOCK korvi_fuzz_build)
# The program's other file readers (composites, settings, palettes, filters, lists, tables) in one
# target keyed on the input's first byte, the same way; it shares the image readers' build folder,
# so the two never build it at once.
add_test(NAME data_readers_fuzz
         COMMAND ${CMAKE_SOURCE_DIR}/tests/fuzz/run_fuzzers.sh ${CMAKE_BINARY_DIR}/fuzz 120 5000 fuzz_data_files)
set_tests_properties(data_readers_fuzz PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900 LABELS fuzz
                     RESOURCE_LOCK korvi_fuzz_build)
