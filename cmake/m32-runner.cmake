# How the test programs of a 32-bit build run. Many x86-64 kernels (virtual machines, containers)
# are built without IA-32 emulation and refuse every 32-bit program with "Exec format error". A
# trivial 32-bit program is tried once, at the first configuration; where it cannot run, CTest
# starts the test programs under qemu-i386 (Debian's qemu-user) instead. `make test` prints the
# answer, which is also kept in m32-runner.txt of the build folder.
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
  return()
endif()
try_run(QUOB_M32_PROBE_RUN QUOB_M32_PROBE_COMPILES
        SOURCE_FROM_CONTENT m32_probe.c "int main(void) { return 0; }")
if(NOT QUOB_M32_PROBE_COMPILES)
  message(FATAL_ERROR "The 32-bit toolchain cannot build a trivial program: "
                      "gcc-multilib and g++-multilib are needed (scripts/install-deps).")
endif()
if(QUOB_M32_PROBE_RUN STREQUAL "0")
  set(QUOB_M32_RUNNER "natively")
else()
  find_program(QEMU_I386 qemu-i386)
  if(NOT QEMU_I386)
    message(FATAL_ERROR "This kernel cannot run 32-bit programs, and qemu-i386 is missing to "
                        "emulate them: install qemu-user (scripts/install-deps).")
  endif()
  # -L /: the emulated programs load the host's own i386 loader and libraries (multiarch).
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_I386} -L /)
  set(QUOB_M32_RUNNER "emulated by qemu-i386 (this kernel cannot run 32-bit programs)")
endif()
message(STATUS "32-bit test programs run ${QUOB_M32_RUNNER}")
file(WRITE ${CMAKE_BINARY_DIR}/m32-runner.txt "${QUOB_M32_RUNNER}\n")
