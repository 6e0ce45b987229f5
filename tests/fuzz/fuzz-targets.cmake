# The libFuzzer programs, gathered under the target korrin_fuzz. Needs clang
# and a build whose code is compiled with -fsanitize=fuzzer-no-link (the fuzz
# preset), so that the libraries under test report coverage.
if(TARGET korrin_fuzz)
  return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(WARNING "KORRIN_FUZZ needs clang; the fuzz targets are not built")
  return()
endif()
# clang warns about things g++ accepts; a fuzz build must not stop on a
# warning the ordinary build does not have.
target_compile_options(korrin_warnings INTERFACE -Wno-error)

add_custom_target(korrin_fuzz)
foreach(_t IN ITEMS query route body documents search)
  add_executable(fuzz_${_t} ${CMAKE_CURRENT_LIST_DIR}/fuzz_${_t}.cpp)
  set_target_properties(fuzz_${_t} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/fuzz)
  target_link_options(fuzz_${_t} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_${_t} PRIVATE
    korrin::kr_common korrin::qv_cgi korrin::core yyjson::yyjson korrin::warnings)
  add_dependencies(korrin_fuzz fuzz_${_t})
endforeach()
