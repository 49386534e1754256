# 32-bit x86 Linux programs, built by the system's gcc and g++ with -m32 (Debian's
# g++-multilib); C for GoogleTest's own build. cmake/emulator.cmake decides whether the
# tests run them directly or under qemu-i386.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
# Linked statically, the test programs too: qemu then needs no 32-bit loader or libraries.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -static")
