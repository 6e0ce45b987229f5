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

# Every request is a new process: a dynamically linked libstdc++ alone costs
# about half a millisecond of relocation work at each start.
if(KORRIN_STATIC)
  add_link_options(-static-libstdc++ -static-libgcc -Wl,-O1 -Wl,--as-needed
                   -Wl,--hash-style=gnu)
endif()
