# Builds for 64-bit ARM Linux with Debian's cross compiler (g++-aarch64-linux-gnu). The
# interpreter that runs the build is the host's; the target interpreter's headers and module
# suffix come from the caller (Python_INCLUDE_DIR, SKBUILD_SOABI): see scripts/aarch64.sh.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
