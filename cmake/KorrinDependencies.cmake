# Finds the libraries the project builds against.
#
# yyjson 0.12: a system installation comes first; otherwise the copy that
# scripts/deps unpacks into .deps/yyjson. Debian ships yyjson only as a shared
# library, so the programs carry an RPATH to it.
# SQLite 3: the static archive when KORRIN_STATIC is on, so the engine needs
# no shared SQLite at run time.

set(KORRIN_YYJSON_PREFIX "${PROJECT_SOURCE_DIR}/.deps/yyjson/usr" CACHE PATH
    "Project-local yyjson prefix written by scripts/deps")

find_path(YYJSON_INCLUDE_DIR yyjson.h)
find_library(YYJSON_LIBRARY NAMES yyjson)
if(YYJSON_INCLUDE_DIR)
  file(STRINGS "${YYJSON_INCLUDE_DIR}/yyjson.h" _yy_minor
       REGEX "^#define YYJSON_VERSION_MINOR +[0-9]+")
  if(NOT _yy_minor MATCHES " 12$")
    unset(YYJSON_INCLUDE_DIR CACHE)
    unset(YYJSON_LIBRARY CACHE)
  endif()
endif()
if(NOT YYJSON_INCLUDE_DIR OR NOT YYJSON_LIBRARY)
  unset(YYJSON_INCLUDE_DIR CACHE)
  unset(YYJSON_LIBRARY CACHE)
  find_path(YYJSON_INCLUDE_DIR yyjson.h
            PATHS "${KORRIN_YYJSON_PREFIX}/include" NO_DEFAULT_PATH)
  find_library(YYJSON_LIBRARY NAMES yyjson
               PATHS "${KORRIN_YYJSON_PREFIX}/lib/${CMAKE_LIBRARY_ARCHITECTURE}"
                     "${KORRIN_YYJSON_PREFIX}/lib" NO_DEFAULT_PATH)
endif()
if(NOT YYJSON_INCLUDE_DIR OR NOT YYJSON_LIBRARY)
  message(FATAL_ERROR "yyjson 0.12 not found: run scripts/deps first")
endif()
add_library(yyjson::yyjson UNKNOWN IMPORTED)
set_target_properties(yyjson::yyjson PROPERTIES
  IMPORTED_LOCATION "${YYJSON_LIBRARY}"
  INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${YYJSON_INCLUDE_DIR}"
  INTERFACE_INCLUDE_DIRECTORIES "${YYJSON_INCLUDE_DIR}")
message(STATUS "yyjson: ${YYJSON_LIBRARY}")

if(KORRIN_STATIC)
  set(_saved_suffixes ${CMAKE_FIND_LIBRARY_SUFFIXES})
  set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
  find_library(SQLITE3_STATIC_LIBRARY NAMES sqlite3)
  set(CMAKE_FIND_LIBRARY_SUFFIXES ${_saved_suffixes})
endif()
find_package(SQLite3 REQUIRED)
if(KORRIN_STATIC AND SQLITE3_STATIC_LIBRARY)
  add_library(korrin_sqlite3 INTERFACE)
  target_include_directories(korrin_sqlite3 SYSTEM INTERFACE ${SQLite3_INCLUDE_DIRS})
  target_link_libraries(korrin_sqlite3 INTERFACE ${SQLITE3_STATIC_LIBRARY} m ${CMAKE_DL_LIBS})
  find_package(Threads REQUIRED)
  target_link_libraries(korrin_sqlite3 INTERFACE Threads::Threads)
  add_library(korrin::sqlite3 ALIAS korrin_sqlite3)
else()
  add_library(korrin::sqlite3 ALIAS SQLite::SQLite3)
endif()

if(KORRIN_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
