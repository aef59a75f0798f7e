# Windows tests. The x86_64 build runs them under Wine on an Xvfb display that a ctest fixture
# starts once; this kernel cannot run 32-bit programs, so the win32 build is only inspected.

set(QVL_INSPECT ${PROJECT_SOURCE_DIR}/e2e/inspect_binaries.sh)
add_test(NAME inspect_binaries
  COMMAND ${QVL_INSPECT} ${CMAKE_OBJDUMP} $<TARGET_FILE:qvlcapture> $<TARGET_FILE:QvlScanner>)

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  return()
endif()

set(QVL_WINE_STATE ${CMAKE_BINARY_DIR}/wine)
add_test(NAME wine_start COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine/start.sh ${QVL_WINE_STATE})
add_test(NAME wine_stop COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine/stop.sh ${QVL_WINE_STATE})
set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)

add_executable(focus_caller WIN32 e2e/focus_caller.cpp)
target_link_options(focus_caller PRIVATE -municode)

add_executable(close_box_finder WIN32 e2e/close_box_finder.cpp)
target_link_options(close_box_finder PRIVATE -municode)
add_executable(sample_caller docs/samples/caller.c)
set_target_properties(sample_caller PROPERTIES OUTPUT_NAME caller)

add_test(NAME unit COMMAND qvl_tests)
set(QVL_WINE_TESTS unit)
foreach(case captured timeout closed closed_slow close_box missing_library verify identify long_template
        unicode_folder picture_96 picture_144 focus sample_c sample_cmd fault_process
        fault_match token_bytes)
  add_test(NAME wine_e2e_${case}
    COMMAND ${PROJECT_SOURCE_DIR}/e2e/wine_e2e.sh ${case} ${CMAKE_BINARY_DIR})
  list(APPEND QVL_WINE_TESTS wine_e2e_${case})
endforeach()
set_tests_properties(${QVL_WINE_TESTS} PROPERTIES
  FIXTURES_REQUIRED wine
  ENVIRONMENT QVL_WINE_STATE=${QVL_WINE_STATE}
  TIMEOUT 120)
