# The Windows program, built static so that it imports only Windows system libraries.
enable_language(RC)
# Include folders come from the target, which CMake quotes: a source path with a blank must build too.
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} --codepage=65001")

# No exceptions; and the system's own printf, which formats the few integers and texts we print, instead of MinGW's
# 25 KB of C99 printf.
set(PRODUCT_FLAGS -fno-exceptions -fno-rtti -ffunction-sections -fdata-sections -D__USE_MINGW_ANSI_STDIO=0)
# Nothing throws, so the 32-bit program needs no unwind tables, which are a sixth of its size. On x86-64 Windows
# itself unwinds through them, so that build keeps them.
# Link-time optimisation across the files takes another 2 KB off the release program; every program that links our
# code then needs it at its link too.
# MinGW keeps a frame pointer in every 32-bit function; nothing here walks frames, and without it the code is a
# thirtieth smaller.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # Data aligned only as the ABI needs: GCC would put every array of 32 bytes or more on a 32-byte boundary.
    list(APPEND PRODUCT_FLAGS -fno-asynchronous-unwind-tables -fomit-frame-pointer -flto -malign-data=abi)
    add_link_options(-flto)
endif()
# Windows 7 is the oldest supported: the image says so, and older Windows refuse to start it.
add_compile_definitions(WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601 NOMINMAX)
add_link_options(-static -static-libgcc -static-libstdc++ -Wl,--gc-sections -Wl,--no-insert-timestamp
    -Wl,--major-os-version,6,--minor-os-version,1,--major-subsystem-version,6,--minor-subsystem-version,1)
if(CMAKE_BUILD_TYPE STREQUAL "MinSizeRel")
    add_link_options(-s)
endif()

add_library(tempvaro_core STATIC
    ${PORTABLE_SOURCES}
    net/host_lookup.cpp
    net/socket_support.cpp
    net/tcp_exchange.cpp
    net/udp_exchange.cpp
    platform/interface_text.cpp
    platform/standard_output.cpp
    platform/program_path_win32.cpp
    platform/system_library.cpp
    platform/window_dpi.cpp
    time/clock_lock.cpp
    time/address_memory.cpp
    time/time_client.cpp
    time/time_fetch.cpp
    time/web_fetch.cpp
    app/app_shell.cpp
    app/clock_tasks.cpp
    app/command_run.cpp
    app/settings_boxes.cpp
    app/start_task.cpp
    settings/logon_start.cpp
    settings/program_guard.cpp
    settings/settings.cpp
    update/publisher_check.cpp
    update/update_checker_win32.cpp
    update/update_task.cpp)
tempvaro_options(tempvaro_core)
target_compile_options(tempvaro_core PRIVATE ${PRODUCT_FLAGS})
# taskschd is MinGW's static library of the Task Scheduler's interface ids, not an import library.
target_link_libraries(tempvaro_core PUBLIC ws2_32 advapi32 shell32 ole32 oleaut32 taskschd)

add_executable(Tempvaro WIN32 app/main.cpp app/main_dialog.cpp app/about/about_dialog.cpp
    app/time_servers_dialog.cpp res/tempvaro.rc)
tempvaro_options(Tempvaro)
target_compile_options(Tempvaro PRIVATE ${PRODUCT_FLAGS})
target_link_libraries(Tempvaro PRIVATE tempvaro_core)
# The program starts at its own entry (app/main.cpp, under the name ld starts a GUI program at), without the C
# run-time's start-up code, its sections and its imports.
target_link_options(Tempvaro PRIVATE -nostartfiles)
set_source_files_properties(res/tempvaro.rc PROPERTIES OBJECT_DEPENDS
    "${PROJECT_SOURCE_DIR}/res/main_dialog.rc;${PROJECT_SOURCE_DIR}/res/about_dialog.rc;${PROJECT_SOURCE_DIR}/res/time_servers_dialog.rc;${PROJECT_BINARY_DIR}/generated/vendor.h;${PROJECT_BINARY_DIR}/generated/version.h;${PROJECT_SOURCE_DIR}/res/main_menu.rc;${PROJECT_SOURCE_DIR}/res/version.rc;${PROJECT_SOURCE_DIR}/res/resource.h;${PROJECT_SOURCE_DIR}/res/tempvaro.ico;${PROJECT_SOURCE_DIR}/res/tempvaro-x86.manifest;${PROJECT_SOURCE_DIR}/res/tempvaro-amd64.manifest")

# The release build carries the end-to-end tests' helper programs too, so that they drive it in its own word size.
option(TEMPVARO_TEST_TOOLS "Build the end-to-end tests' helper programs" OFF)
if(BUILD_TESTING OR TEMPVARO_TEST_TOOLS)
    add_subdirectory(tests/tools)
endif()
if(BUILD_TESTING)
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    add_subdirectory(tests/windows)
    add_subdirectory(tests/e2e)
endif()
