# A build for another processor on Linux, such as the 32-bit x86 one: where this machine's
# kernel runs such programs (a 64-bit x86 kernel built with 32-bit support) the tests run
# them directly; where it refuses them they run under qemu's user-mode emulator. Setting
# CMAKE_CROSSCOMPILING_EMULATOR when configuring makes the choice instead.
if(DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  return()
endif()
set(probe_dir ${CMAKE_BINARY_DIR}/CMakeFiles/run-probe)
file(WRITE ${probe_dir}/probe.cc "int main() { return 0; }\n")
try_compile(probe_built ${probe_dir}/build ${probe_dir}/probe.cc LINK_OPTIONS -static
            COPY_FILE ${probe_dir}/probe OUTPUT_VARIABLE probe_log)
if(NOT probe_built)
  message(FATAL_ERROR "cannot build a ${CMAKE_SYSTEM_PROCESSOR} program:\n${probe_log}")
endif()
execute_process(COMMAND ${probe_dir}/probe RESULT_VARIABLE probe_status OUTPUT_QUIET ERROR_QUIET)
if(probe_status STREQUAL "0")
  message(STATUS "This kernel runs ${CMAKE_SYSTEM_PROCESSOR} programs: the tests run them directly")
  return()
endif()
# qemu names every 32-bit x86 processor i386.
string(REGEX REPLACE "^i[3-6]86$" "i386" qemu_arch ${CMAKE_SYSTEM_PROCESSOR})
find_program(QEMU_USER NAMES qemu-${qemu_arch}-static qemu-${qemu_arch})
if(NOT QEMU_USER)
  message(FATAL_ERROR "This kernel does not run ${CMAKE_SYSTEM_PROCESSOR} programs "
                      "(${probe_status}), and qemu's user-mode emulator for it is not installed")
endif()
message(STATUS "This kernel does not run ${CMAKE_SYSTEM_PROCESSOR} programs (${probe_status}): "
               "the tests run them under ${QEMU_USER}")
set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_USER})
