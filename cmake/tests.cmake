# Unit tests (beside the code they test) and the end-to-end cases of e2e/e2e.sh, which run on
# every build: natively on Linux, under Wine for Windows.

if(CMAKE_CROSSCOMPILING)
  # Debian's googletest sources, built with the cross compiler.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  find_package(GTest)
  if(NOT GTest_FOUND)
    message(WARNING "GoogleTest not found (apt-get install libgtest-dev): no tests are built")
    return()
  endif()
endif()

add_executable(qvl_tests
  src/base/fault_test.cpp
  src/base/file_test.cpp
  src/base/messages_test.cpp
  src/base/numbers_test.cpp
  src/run/command_test.cpp
  src/run/run_test.cpp
  src/scanner/binary_kind_test.cpp
  src/scanner/capture_wait_test.cpp
  src/templates/enrollment_test.cpp
  src/templates/verification_test.cpp
  src/testing/fakes.cpp
  src/window/texts_test.cpp)
if(WIN32)
  target_sources(qvl_tests PRIVATE src/base/os-win32_test.cpp src/window/status_window-win32_test.cpp)
else()
  target_sources(qvl_tests PRIVATE src/base/os-posix_test.cpp)
endif()
target_link_libraries(qvl_tests PRIVATE qvlcore GTest::gtest_main)
if(QVL_BRIDGE)
  target_sources(qvl_tests PRIVATE src/bridge/base64_test.cpp src/bridge/bridge_test.cpp
    src/bridge/peer_test.cpp)
  target_link_libraries(qvl_tests PRIVATE qvlbridge_core)
endif()

# Scanner libraries that cannot serve, in e2e/: one lacks an entry point, one needs a library
# that is never placed beside it.
add_library(qvl_dependency SHARED e2e/dependency.c)
add_library(broken_scanner SHARED e2e/broken_scanner.c)
add_library(needs_dependency SHARED e2e/broken_scanner.c)
target_compile_definitions(needs_dependency PRIVATE QVL_NEEDS_DEPENDENCY)
target_link_libraries(needs_dependency PRIVATE qvl_dependency)
set_target_properties(qvl_dependency broken_scanner needs_dependency PROPERTIES
  PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/e2e
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/e2e SKIP_BUILD_RPATH ON)
target_compile_options(broken_scanner PRIVATE -Wno-unused-parameter)
target_compile_options(needs_dependency PRIVATE -Wno-unused-parameter)
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_link_options(broken_scanner PRIVATE -Wl,--kill-at)
  target_link_options(needs_dependency PRIVATE -Wl,--kill-at)
endif()
set(QVL_E2E_TARGETS qvlcapture QvlScanner qvlsim broken_scanner needs_dependency)
if(QVL_BRIDGE)
  list(APPEND QVL_E2E_TARGETS qvlbridge)
endif()

# The end-to-end cases for this kind of build, as e2e.sh lists them.
function(qvl_add_e2e_cases kind prefix)
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/e2e/e2e.sh list ${kind}
    OUTPUT_VARIABLE cases OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE "\n" ";" cases "${cases}")
  set(tests)
  foreach(case IN LISTS cases)
    add_test(NAME ${prefix}${case} COMMAND ${PROJECT_SOURCE_DIR}/e2e/e2e.sh ${case} ${CMAKE_BINARY_DIR})
    list(APPEND tests ${prefix}${case})
  endforeach()
  set_tests_properties(${tests} PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77)
  set(QVL_E2E_TESTS ${tests} PARENT_SCOPE)
endfunction()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/e2e/e2e.sh)

if(WIN32)
  include(cmake/wine.cmake)
else()
  add_test(NAME unit COMMAND qvl_tests)
  add_custom_target(e2e_programs ALL DEPENDS ${QVL_E2E_TARGETS})
  qvl_add_e2e_cases(linux e2e_)
endif()
