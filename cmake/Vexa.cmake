# Shared build settings of both presets.

set(VEXA_WARNINGS -Wall -Wextra -Wshadow)

set(VEXA_SANITIZE "" CACHE STRING "Sanitizers for the native build (for example address;undefined)")
if(VEXA_SANITIZE AND NOT WIN32)
  list(JOIN VEXA_SANITIZE "," _vexa_san)
  add_compile_options(-fsanitize=${_vexa_san} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=${_vexa_san})
endif()

# Quillet keeps GBK text: its literals are GBK bytes whatever the build machine's locale.
set(VEXA_GBK_FLAGS -finput-charset=UTF-8 -fexec-charset=GBK)

if(WIN32)
  # Tests of the Windows build run through the Wine bench (scripts/wine-bench),
  # with the Wine loader of the build's processor.
  set(VEXA_WINE_STATE "${CMAKE_BINARY_DIR}/wine")
  file(WRITE "${CMAKE_BINARY_DIR}/wine-run"
    "#!/bin/sh\nexec env VEXA_WINE_ARCH=${CMAKE_SYSTEM_PROCESSOR} \"${CMAKE_SOURCE_DIR}/scripts/wine-bench\" run \"${VEXA_WINE_STATE}\" \"$@\"\n")
  file(CHMOD "${CMAKE_BINARY_DIR}/wine-run" PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_BINARY_DIR}/wine-run")
endif()

# vexa_target_defaults(target): warnings and, for Windows, the 32-bit system libraries.
function(vexa_target_defaults target)
  target_compile_options(${target} PRIVATE ${VEXA_WARNINGS})
  if(WIN32)
    target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  endif()
endfunction()

# vexa_gbk(target): compile the target's sources with GBK literals.
# clang has no GBK execution character set; it builds only the fuzzing harnesses,
# which exercise the readers and never compare texts.
function(vexa_gbk target)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(${target} PRIVATE ${VEXA_GBK_FLAGS})
  endif()
endfunction()
