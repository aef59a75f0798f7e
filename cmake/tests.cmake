# Unit tests (beside the code they test), end-to-end tests, and for Windows the Wine fixture.

if(CMAKE_CROSSCOMPILING)
  # Debian's googletest sources, built with the cross compiler.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  find_package(GTest)
  if(NOT GTest_FOUND)
    # The demo needs no tests; the test presets fail on a build without any.
    message(WARNING "GoogleTest not found (apt-get install libgtest-dev): no tests are built")
    return()
  endif()
endif()

add_executable(qvl_tests
  src/base/numbers_test.cpp
  src/run/command_test.cpp
  src/run/run_test.cpp
  src/scanner/capture_wait_test.cpp
  src/templates/enrollment_test.cpp
  src/templates/identification_test.cpp
  src/templates/template_files_test.cpp
  src/templates/verification_test.cpp
  src/testing/fakes.cpp
  src/window/texts_test.cpp)
target_link_libraries(qvl_tests PRIVATE qvlcore GTest::gtest_main)

if(WIN32)
  include(cmake/wine.cmake)
else()
  add_test(NAME unit COMMAND qvl_tests)

  # A library that lacks an entry point, to check that the program names what is missing.
  add_library(broken_scanner SHARED e2e/broken_scanner.c)
  set_target_properties(broken_scanner PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/e2e)

  add_executable(e2e_tests e2e/e2e_test.cpp src/testing/fakes.cpp)
  target_link_libraries(e2e_tests PRIVATE qvlcore GTest::gtest_main)
  target_compile_definitions(e2e_tests PRIVATE
    QVL_BUILD_DIR="${CMAKE_BINARY_DIR}"
    QVL_BROKEN_LIBRARY="$<TARGET_FILE:broken_scanner>")
  add_dependencies(e2e_tests qvlcapture QvlScanner qvlsim broken_scanner)
  add_test(NAME e2e COMMAND e2e_tests)
endif()
