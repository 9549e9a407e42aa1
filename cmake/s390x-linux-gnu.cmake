# Cross-compiling for IBM Z (s390x, big-endian) with Debian's cross toolchain
# (g++-s390x-linux-gnu) and s390x libraries from Debian's multiarch packages
# (libgmp-dev:s390x, libgtest-dev:s390x); test programs run under qemu-s390x (qemu-user):
#   cmake -S . -B build/cross/s390x-linux-gnu --toolchain cmake/s390x-linux-gnu.cmake \
#     -DSWARMTUNER_BUILD_TESTS=ON -DSWARMTUNER_BUILD_MODULE=OFF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
# Multiarch: the find commands look in lib/s390x-linux-gnu and include/s390x-linux-gnu.
set(CMAKE_LIBRARY_ARCHITECTURE s390x-linux-gnu)
# The programs run on the multiarch runtime (libc6:s390x, libstdc++6:s390x).
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x)
