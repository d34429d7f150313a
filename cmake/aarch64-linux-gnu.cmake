# Cross-build for 64-bit ARM Linux (Debian: g++-aarch64-linux-gnu).  The
# engine and its tests run on this machine under qemu-user
# (Debian: qemu-user).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
find_program(ORVANE_QEMU qemu-aarch64)
if(ORVANE_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORVANE_QEMU} -L /usr/aarch64-linux-gnu)
endif()
