# Windows tests under Wine, on an Xvfb display with a persistent Wine server that a ctest fixture
# starts once per prefix: a 64-bit Windows for both builds (where 32-bit programs run too, the
# common case), and for the 32-bit build also a 32-bit Windows 7, the oldest system it supports.

set(QVL_INSPECT ${PROJECT_SOURCE_DIR}/e2e/inspect_binaries.sh)
add_test(NAME inspect_binaries
  COMMAND ${QVL_INSPECT} ${CMAKE_OBJDUMP} $<TARGET_FILE:qvlcapture> ${PROJECT_VERSION})

# The Wine loader of this build, and the compiler of the other one, which makes a library of
# the other bitness for the wrong-library case.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(loader /usr/lib/wine/wine)
  set(other_compiler x86_64-w64-mingw32-gcc-posix)
else()
  set(loader /usr/lib/wine/wine64)
  set(other_compiler i686-w64-mingw32-gcc-posix)
endif()
set(other_library ${CMAKE_BINARY_DIR}/e2e/other_bits/QvlScanner.dll)
add_custom_command(OUTPUT ${other_library}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/e2e/other_bits
  COMMAND ${other_compiler} -shared -o ${other_library} ${PROJECT_SOURCE_DIR}/e2e/broken_scanner.c
  DEPENDS e2e/broken_scanner.c)

foreach(helper caller window_probe)
  add_executable(${helper} WIN32 e2e/${helper}.cpp)
  target_link_options(${helper} PRIVATE -municode)
endforeach()
add_executable(hold_file e2e/hold_file.cpp)
target_link_options(hold_file PRIVATE -municode)
add_executable(sample_caller docs/samples/caller.c)
add_executable(sample_add_record docs/samples/add_record.c)
add_custom_target(e2e_programs ALL
  DEPENDS ${QVL_E2E_TARGETS} ${other_library} caller window_probe hold_file sample_caller
  sample_add_record)

# <name>_start and <name>_stop around the tests that need the prefix <name>, and the unit tests
# run there too.
function(qvl_wine_fixture name loader arch)
  set(state ${CMAKE_BINARY_DIR}/${name})
  add_test(NAME ${name}_start
    COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine/start.sh ${state} ${loader} ${arch})
  add_test(NAME ${name}_stop COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine/stop.sh ${state})
  set_tests_properties(${name}_start PROPERTIES FIXTURES_SETUP ${name})
  set_tests_properties(${name}_stop PROPERTIES FIXTURES_CLEANUP ${name})
  add_test(NAME ${name}_unit COMMAND qvl_tests)
  # One display, one Wine server and one prefix serve them all, and a message box of one case
  # would be answered by another's: they never overlap, whatever -j says.
  set_tests_properties(${name}_unit ${ARGN} PROPERTIES
    FIXTURES_REQUIRED ${name} ENVIRONMENT QVL_WINE_STATE=${state} SKIP_RETURN_CODE 77
    RESOURCE_LOCK ${name})
endfunction()

qvl_add_e2e_cases(windows wine_)
qvl_wine_fixture(wine ${loader} win64 ${QVL_E2E_TESTS})
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  qvl_add_e2e_cases(win7 win7_)
  qvl_wine_fixture(win7 ${loader} win32 ${QVL_E2E_TESTS})
endif()

# Two builds of one commit, in two folders, make the same package.
add_test(NAME reproducible_package COMMAND ${PROJECT_SOURCE_DIR}/e2e/reproducible.sh
  ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR} ${CMAKE_TOOLCHAIN_FILE})
set_tests_properties(reproducible_package PROPERTIES TIMEOUT 900)
