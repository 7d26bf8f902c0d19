# The Windows program, built static so that it imports only Windows system libraries.
enable_language(RC)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} --codepage=65001 -I${PROJECT_SOURCE_DIR}/res -I${PROJECT_BINARY_DIR}/generated")

set(PRODUCT_FLAGS -fno-exceptions -fno-rtti -ffunction-sections -fdata-sections)
# 32-bit Windows unwinds through records on the stack, not through tables, and nothing here throws: the DWARF unwind
# tables gcc writes by default are dead weight in the release program. 64-bit Windows needs its unwind tables.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    list(APPEND PRODUCT_FLAGS -fno-asynchronous-unwind-tables)
endif()
add_compile_definitions(WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0600 NOMINMAX)
add_link_options(-static -static-libgcc -static-libstdc++ -Wl,--gc-sections)
if(CMAKE_BUILD_TYPE STREQUAL "MinSizeRel")
    add_link_options(-s)
endif()

add_library(tempvaro_core STATIC
    ${PORTABLE_SOURCES}
    net/tcp_exchange.cpp
    platform/interface_text.cpp
    platform/program_path_win32.cpp
    platform/system_library.cpp
    time/time_client.cpp
    time/clock_tasks.cpp
    app/app_shell.cpp
    settings/autorun.cpp
    settings/settings.cpp
    update/publisher_check.cpp
    update/update_checker_win32.cpp
    update/update_task.cpp)
tempvaro_options(tempvaro_core)
target_compile_options(tempvaro_core PRIVATE ${PRODUCT_FLAGS})
target_link_libraries(tempvaro_core PUBLIC ws2_32 advapi32 shell32)

add_executable(Tempvaro WIN32 app/main.cpp app/main_dialog.cpp app/about/about_dialog.cpp res/tempvaro.rc)
tempvaro_options(Tempvaro)
target_compile_options(Tempvaro PRIVATE ${PRODUCT_FLAGS})
target_link_libraries(Tempvaro PRIVATE tempvaro_core)
set_source_files_properties(res/tempvaro.rc PROPERTIES OBJECT_DEPENDS
    "${PROJECT_SOURCE_DIR}/res/main_dialog.rc;${PROJECT_SOURCE_DIR}/res/about_dialog.rc;${PROJECT_BINARY_DIR}/generated/vendor.h;${PROJECT_SOURCE_DIR}/res/main_menu.rc;${PROJECT_SOURCE_DIR}/res/version.rc;${PROJECT_SOURCE_DIR}/res/resource.h;${PROJECT_SOURCE_DIR}/res/tempvaro.ico;${PROJECT_SOURCE_DIR}/res/tempvaro-x86.manifest;${PROJECT_SOURCE_DIR}/res/tempvaro-amd64.manifest")

if(BUILD_TESTING)
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    add_subdirectory(tests/windows)
    add_subdirectory(tests/tools)
    add_subdirectory(tests/e2e)
endif()
