# The portable logic built with the host compiler under the address and undefined-behaviour sanitizers.
set(SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(${SANITIZE})
add_link_options(${SANITIZE})

if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # clang stores texts only in UTF-8, so the fuzz build takes the sources without interface texts; the rest is
    # instrumented for the fuzzer's coverage.
    list(FILTER PORTABLE_SOURCES EXCLUDE REGEX "clock_report")
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()
add_library(tempvaro_portable STATIC ${PORTABLE_SOURCES})
tempvaro_options(tempvaro_portable)

# The fuzz target needs clang's libFuzzer; it is built by the fuzz preset.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_subdirectory(tests/fuzz)
    return()
endif()

if(BUILD_TESTING)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    add_subdirectory(tests/native)
endif()
