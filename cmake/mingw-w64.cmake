# Cross build for Windows with Debian's mingw-w64, for the CMAKE_SYSTEM_PROCESSOR that the
# including toolchain file sets; tests run the .exe under wine where it is installed (the
# build itself does not need it).
set(CMAKE_SYSTEM_NAME Windows)
set(triple ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_CXX_COMPILER ${triple}-g++-win32)
# GoogleTest, built from its sources for the unit tests, enables C as well.
set(CMAKE_C_COMPILER ${triple}-gcc-win32)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  # Debian keeps the 64-bit loader off PATH; calling it directly also sidesteps the `wine`
  # wrapper, which tries the 32-bit loader first when one is installed.
  find_program(WINE64 wine64 PATHS /usr/lib/wine)
  set(wine ${WINE64})
else()
  find_program(WINE wine)
  set(wine ${WINE})
endif()
if(wine)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${wine})
endif()
