# The libFuzzer targets: one drives an effect instance's dispatcher,
# setParameter and processReplacing from arbitrary bytes; the other restores
# a stored bank of programs and values into two instances as hosts do. Included at the end
# of the root CMakeLists.txt by cmake/Hardening.cmake in the fuzz preset
# (clang, ASan + UBSan).
add_executable(z5r_fuzz ${CMAKE_CURRENT_LIST_DIR}/fuzz_plugin.cpp ${PROJECT_SOURCE_DIR}/plugin/NoEditor.cpp)
target_link_libraries(z5r_fuzz PRIVATE z5r_core)
target_link_options(z5r_fuzz PRIVATE -fsanitize=fuzzer)
set_target_properties(z5r_fuzz PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# The stored-state reader: a bank of programs and values restored as hosts do.
add_executable(z5r_fuzz_state ${CMAKE_CURRENT_LIST_DIR}/fuzz_state.cpp ${PROJECT_SOURCE_DIR}/plugin/NoEditor.cpp)
target_link_libraries(z5r_fuzz_state PRIVATE z5r_core)
target_link_options(z5r_fuzz_state PRIVATE -fsanitize=fuzzer)
set_target_properties(z5r_fuzz_state PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# A bounded run from the committed corpus (Z5R_FUZZ_SECONDS, default 60).
set(Z5R_FUZZ_SECONDS 60 CACHE STRING "How long the fuzz.run test fuzzes, in seconds")
add_test(NAME fuzz.run
    COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/run-fuzz.sh $<TARGET_FILE:z5r_fuzz> ${Z5R_FUZZ_SECONDS}
            ${CMAKE_CURRENT_LIST_DIR}/corpus ${CMAKE_BINARY_DIR}/fuzz-out)
set_tests_properties(fuzz.run PROPERTIES TIMEOUT 600)
add_test(NAME fuzz.state-run
    COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/run-fuzz.sh $<TARGET_FILE:z5r_fuzz_state> ${Z5R_FUZZ_SECONDS}
            ${CMAKE_CURRENT_LIST_DIR}/corpus-state ${CMAKE_BINARY_DIR}/fuzz-state-out)
set_tests_properties(fuzz.state-run PROPERTIES TIMEOUT 600)

# The instance blob as the VST3 and CLAP faces read it from a host's stream.
add_executable(z5r_fuzz_format_state ${CMAKE_CURRENT_LIST_DIR}/fuzz_format_state.cpp
               ${PROJECT_SOURCE_DIR}/clap/ClapEditorNone.cpp)
target_link_libraries(z5r_fuzz_format_state PRIVATE z5r_vst3 z5r_clap_core)
target_link_options(z5r_fuzz_format_state PRIVATE -fsanitize=fuzzer)
set_target_properties(z5r_fuzz_format_state PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_test(NAME fuzz.format-state-run
    COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/run-fuzz.sh $<TARGET_FILE:z5r_fuzz_format_state> ${Z5R_FUZZ_SECONDS}
            ${CMAKE_CURRENT_LIST_DIR}/corpus-format-state ${CMAKE_BINARY_DIR}/fuzz-format-state-out)
set_tests_properties(fuzz.format-state-run PROPERTIES TIMEOUT 600)
