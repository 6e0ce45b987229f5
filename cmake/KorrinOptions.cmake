# Compiler and linker settings shared by every target of the project.
# Warnings apply to our own targets only (link korrin::warnings), never to
# third-party headers pulled in as SYSTEM.

add_library(korrin_warnings INTERFACE)
add_library(korrin::warnings ALIAS korrin_warnings)
target_compile_options(korrin_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wformat=2 -Wcast-qual -Wnull-dereference
  -Werror)

if(KORRIN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# Every request is a new process, so start-up is part of every request's
# cost: a dynamically linked libstdc++ alone costs about half a millisecond of
# relocation work at each start, and a position-independent executable pays
# for thousands of relocations and page faults more. yyjson stays a shared
# library only because Debian ships no static archive of it.
if(KORRIN_STATIC)
  set(CMAKE_POSITION_INDEPENDENT_CODE OFF)
  add_compile_options(-fno-pie -ffunction-sections -fdata-sections)
  add_link_options(-no-pie -static-libstdc++ -static-libgcc -Wl,-O1
                   -Wl,--as-needed -Wl,--gc-sections -Wl,--hash-style=gnu)
endif()
