# The formatting check: clang-format --dry-run --Werror over every tracked C++ source, listed by
# git when the test runs. Skipped (status 77) with a message where clang-format or git is missing.
find_program(KORVI_CLANG_FORMAT NAMES clang-format)
if(NOT KORVI_CLANG_FORMAT)
  set(KORVI_CLANG_FORMAT clang-format) # reported as missing by the check itself
endif()
add_test(NAME source_formatting
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/check_format.sh ${CMAKE_SOURCE_DIR} ${KORVI_CLANG_FORMAT})
set_tests_properties(source_formatting PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300 LABELS format)
