# What the Windows cross build needs besides the toolchain file.

# Folders that are not built for Windows (velmora_subdirectories skips them
# at every level): the M engine and mserver with their tests, the Qt windows
# and the wizard's tests.
set(VELMORA_SKIP mengine mserver dialogs wizard)

add_compile_definitions(NOMINMAX _WIN32_WINNT=0x0601)

# nlohmann_json is header-only: find_package finds a small package file that
# takes its Debian headers from a folder of their own, so the rest of the
# host's /usr/include stays out of the cross compiler's reach.
set(velmora_host_headers ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${velmora_host_headers})
if(NOT EXISTS ${velmora_host_headers}/nlohmann)
  file(CREATE_LINK /usr/include/nlohmann ${velmora_host_headers}/nlohmann SYMBOLIC)
endif()
file(WRITE ${velmora_host_headers}/nlohmann_jsonConfig.cmake "
if(NOT TARGET nlohmann_json::nlohmann_json)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${velmora_host_headers})
endif()
")
set(nlohmann_json_DIR ${velmora_host_headers} CACHE PATH "" FORCE)

# velmora_windows_tests(): GoogleTest built from Debian's sources with the
# cross compiler, and gtest_discover_tests replaced by one ctest test per
# test program, run under Wine (CMAKE_CROSSCOMPILING_EMULATOR) in the Wine
# prefix that the fixture "wine_prefix" prepares once per test run.
macro(velmora_windows_tests)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endmacro()

function(gtest_discover_tests target)
  cmake_parse_arguments(arg "" "DISCOVERY_TIMEOUT" "PROPERTIES" ${ARGN})
  add_test(NAME ${target} COMMAND ${target})
  set_tests_properties(${target} PROPERTIES FIXTURES_REQUIRED wine_prefix TIMEOUT 300)
  if(arg_PROPERTIES)
    set_tests_properties(${target} PROPERTIES ${arg_PROPERTIES})
  endif()
endfunction()
