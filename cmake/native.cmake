# The portable logic built with the host compiler under the address and undefined-behaviour sanitizers.
set(SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(${SANITIZE})
add_link_options(${SANITIZE})

add_library(tempvaro_portable STATIC ${PORTABLE_SOURCES})
tempvaro_options(tempvaro_portable)

if(BUILD_TESTING)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    add_subdirectory(tests/native)
endif()
