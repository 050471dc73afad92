# Cross build for 32-bit ARM (armhf: ARMv7, hard float) with Debian's cross
# compiler and multiarch packages (libxerces-c-dev:armhf, libgtest-dev:armhf
# in /usr/lib/arm-linux-gnueabihf). Test programs run under qemu-user.
#
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
#
# qemu is pointed at the multiarch root (-L /): the libraries there are the
# ones the programs were linked against. The cross compiler's own copy of the
# C library (/usr/arm-linux-gnueabihf) may be of another patch level, and
# forked children of programs loaded with it crash.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

# Multiarch: the armhf libraries and their CMake packages are found under
# /usr/lib/arm-linux-gnueabihf through CMAKE_LIBRARY_ARCHITECTURE; headers
# are shared with the host in /usr/include.

find_program(QAL3_QEMU_ARM NAMES qemu-arm qemu-arm-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QAL3_QEMU_ARM} -L /)
