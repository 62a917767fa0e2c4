# Sanitizer and fuzzing builds, chosen by preset (see CMakePresets.json):
#   Z5R_SANITIZE=address,undefined   AddressSanitizer + UndefinedBehaviorSanitizer
#   Z5R_SANITIZE=thread              ThreadSanitizer
#   Z5R_FUZZ=ON                      the libFuzzer target in fuzz/ (clang), with
#                                    AddressSanitizer and UndefinedBehaviorSanitizer
# Included by the root CMakeLists.txt before any target is made, so the flags
# reach every target: core, plug-in, tests and validator.

set(Z5R_SANITIZE "" CACHE STRING "Sanitizers for every target: address,undefined or thread (empty: none)")
option(Z5R_FUZZ "Build the libFuzzer target fuzz/z5r_fuzz (needs clang)" OFF)

if(Z5R_SANITIZE AND Z5R_FUZZ)
    message(FATAL_ERROR "Z5R_SANITIZE and Z5R_FUZZ are separate builds")
endif()

if(Z5R_SANITIZE)
    if(CMAKE_CROSSCOMPILING)
        message(FATAL_ERROR "Sanitizer builds are native (Linux) builds")
    endif()
    add_compile_options(-fsanitize=${Z5R_SANITIZE} -fno-omit-frame-pointer)
    add_link_options(-fsanitize=${Z5R_SANITIZE})
    if(Z5R_SANITIZE MATCHES "undefined")
        # Stop at the first report; also catch float-to-integer overflow,
        # which -fsanitize=undefined leaves out.
        add_compile_options(-fno-sanitize-recover=all -fsanitize=float-cast-overflow)
        add_link_options(-fsanitize=float-cast-overflow)
    endif()
endif()

if(Z5R_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "The fuzzing build needs clang (libFuzzer)")
    endif()
    # Coverage and sanitizers everywhere; the fuzzer target adds libFuzzer's main.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                        -fsanitize=float-cast-overflow -fno-omit-frame-pointer
                        -fsanitize-coverage-ignorelist=${CMAKE_SOURCE_DIR}/fuzz/coverage-ignore.txt)
    add_link_options(-fsanitize=address,undefined)
    # After the root has made its targets, add the fuzzer beside them.
    cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL include ${CMAKE_SOURCE_DIR}/fuzz/fuzz.cmake)
endif()
