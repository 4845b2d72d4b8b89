# Tests of the acquisition scripts: the Qt-free language, and whole runs of the script window against
# the simulated camera with the process time running a hundred times faster.
korvi_add_test(script_language_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/script_language_test.cpp LIBS korvi_capture)
korvi_add_test(script_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/script_test.cpp
               LIBS korvi_capture_test_support korvi_sim GUI OWN_MAIN ENV KORVI_TIME_SCALE=0.01 TIMEOUT 600
               SERIAL ScriptTest.DisplayLeavesTheScriptWindowInFront ScriptTest.VariableNamesAreShownWhole)
# The checker and the expression evaluator under libFuzzer with the sanitizers: the same 5000 inputs
# every run (a fixed seed), grown from the committed seed scripts; skipped (status 77) without clang.
add_test(NAME script_language_fuzz
         COMMAND ${CMAKE_SOURCE_DIR}/tests/fuzz/run_fuzzers.sh ${CMAKE_BINARY_DIR}/fuzz-script 30 5000
                 fuzz_script_language)
set_tests_properties(script_language_fuzz PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300 LABELS fuzz)
