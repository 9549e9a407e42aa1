# Cross-compiling for 64-bit Arm Linux with Debian's cross toolchain (g++-aarch64-linux-gnu)
# and arm64 libraries from Debian's multiarch packages (libgmp-dev:arm64, libgtest-dev:arm64).
# Test programs run under qemu-aarch64 (qemu-user), so ctest works as on the build machine:
#   cmake -S . -B build/cross/aarch64-linux-gnu --toolchain cmake/aarch64-linux-gnu.cmake \
#     -DSWARMTUNER_BUILD_TESTS=ON -DSWARMTUNER_BUILD_MODULE=OFF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Multiarch: the find commands look in lib/aarch64-linux-gnu and include/aarch64-linux-gnu.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# The programs run on the multiarch runtime (libc6:arm64, libstdc++6:arm64, whose loader is
# /lib/ld-linux-aarch64.so.1), not on the cross toolchain's copy under /usr/aarch64-linux-gnu:
# a loader from one with a libc from the other hangs in the first pthread_create.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
