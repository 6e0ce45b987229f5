# Included by the fuzz preset (CMAKE_PROJECT_INCLUDE) right after project():
# the fuzz build needs only the libraries and the fuzz targets, not the rest
# of the test suite (which the preset turns off), so the targets are declared
# once the top-level file has declared the libraries. (A deferred call reads
# its variables when it runs, hence the path is spelled out now.)
cmake_language(EVAL CODE "
  cmake_language(DEFER DIRECTORY [[${CMAKE_SOURCE_DIR}]]
    CALL include [[${CMAKE_CURRENT_LIST_DIR}/fuzz-targets.cmake]])")
