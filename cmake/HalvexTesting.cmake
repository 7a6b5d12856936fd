# Tests are Windows programs; ctest runs them under Wine through the emulator
# wrapper, in the prefix of HALVEX_WINE_BUILD_DIR (scripts/test.sh prepares it and
# trusts that build's test CA; the clang build borrows the GCC build's).
set(HALVEX_WINE_BUILD_DIR ${CMAKE_BINARY_DIR} CACHE PATH
    "Build folder whose Wine prefix and test certificates the tests use")
if(CMAKE_CROSSCOMPILING)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh
        ${HALVEX_WINE_BUILD_DIR})
endif()
set(HALVEX_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
# The clang build of every full test run (scripts/clang-check.sh) sets this: unoptimised,
# the test programs and GoogleTest compile in half the time. The product's libraries keep
# the build type's flags.
option(HALVEX_TESTS_UNOPTIMISED "Build the test programs and GoogleTest without optimisation" OFF)
if(EXISTS ${HALVEX_GTEST_SOURCE_DIR}/CMakeLists.txt)
    add_subdirectory(${HALVEX_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    if(HALVEX_TESTS_UNOPTIMISED)
        target_compile_options(gtest PRIVATE -O0)
        target_compile_options(gtest_main PRIVATE -O0)
    endif()
else()
    find_package(GTest CONFIG REQUIRED)
endif()

# Debian's interpreter, the one its python3-pil and python3-cryptography are installed for.
set(HALVEX_PYTHON /usr/bin/python3)

# Ports of the two stand-in vendor servers: one shared by the downloader tests, one
# compiled into the installer for the end-to-end runs. Picked free at first configure.
function(halvex_pick_port var)
    if(NOT DEFINED ${var})
        execute_process(COMMAND python3 -c
            "import socket;s=socket.socket();s.bind(('127.0.0.1',0));print(s.getsockname()[1])"
            OUTPUT_VARIABLE port OUTPUT_STRIP_TRAILING_WHITESPACE)
        set(${var} ${port} CACHE STRING "Port of a stand-in vendor server for tests")
    endif()
endfunction()
halvex_pick_port(HALVEX_NET_TEST_PORT)

set(HALVEX_TEST_ENV
    "HALVEX_TEST_ORIGIN=https://127.0.0.1:${HALVEX_NET_TEST_PORT}"
    "HALVEX_TEST_SERVER_LOG=${CMAKE_BINARY_DIR}/test-server/requests.log")

# halvex_add_gtest(name SOURCES ... [LIBS ...] [SERVER] [GUI] [RESOURCE_LOCK ...])
function(halvex_add_gtest name)
    cmake_parse_arguments(T "SERVER" "" "SOURCES;LIBS;RESOURCE_LOCK" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    halvex_target(${name})
    if(HALVEX_TESTS_UNOPTIMISED)
        target_compile_options(${name} PRIVATE -O0)
    endif()
    target_link_libraries(${name} PRIVATE ${T_LIBS} halvex_test_support GTest::gtest_main)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300 ENVIRONMENT "${HALVEX_TEST_ENV}")
    if(T_SERVER)
        set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED vendor_server)
        # Downloads follow the user's proxy settings, which some end-to-end tests change.
        list(APPEND T_RESOURCE_LOCK user_proxy_settings)
    endif()
    if(T_RESOURCE_LOCK)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_RESOURCE_LOCK}")
    endif()
endfunction()
