# korrin_add_test(NAME name SOURCES a.cpp ... LIBS lib ...)
# declares a GoogleTest program and registers each of its tests with ctest.
include(GoogleTest)

function(korrin_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main
                        korrin::warnings)
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "KORRIN_BUILD_DIR=${PROJECT_BINARY_DIR}")
endfunction()

# The one lookup of python3 (Python3_EXECUTABLE) and lighttpd for every test
# folder. Tests that drive the programs through lighttpd need both
# (scripts/deps installs them). The test build refuses to go on without
# them, so those suites never vanish unnoticed; another build skips them.
find_package(Python3 COMPONENTS Interpreter)
find_program(KORRIN_LIGHTTPD lighttpd)
if(Python3_Interpreter_FOUND AND KORRIN_LIGHTTPD)
  set(KORRIN_SERVED_TESTS ON)
elseif(KORRIN_SANITIZE)
  message(FATAL_ERROR "python3 or lighttpd missing: run scripts/deps")
else()
  set(KORRIN_SERVED_TESTS OFF)
  message(STATUS "python3 or lighttpd missing: tests through lighttpd are skipped")
endif()
