# Cross-compiles the helper for arm64 macOS 12 from Linux with Debian's
# clang-14 and ld64.lld against an unpacked macOS SDK.
#
#   cmake -S . -B build-macos -DCMAKE_TOOLCHAIN_FILE=cmake/macos-cross.cmake \
#         -DKESTROVE_MACOS_SDK=/path/to/sdk/root
#
# The SDK defaults to $KESTROVE_MACOS_SDK, else /work/sdk/macos12/root.
# -DKESTROVE_MACOS_ARCH=x86_64 builds the Intel slice instead of arm64;
# tools/macos-cross-build.sh builds both and joins them into one binary.

if(NOT KESTROVE_MACOS_ARCH)
  set(KESTROVE_MACOS_ARCH arm64)
endif()
if(NOT KESTROVE_MACOS_ARCH MATCHES "^(arm64|x86_64)$")
  message(FATAL_ERROR "KESTROVE_MACOS_ARCH must be arm64 or x86_64, not ${KESTROVE_MACOS_ARCH}")
endif()

set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR ${KESTROVE_MACOS_ARCH})
# Darwin 21 is macOS 12.
set(CMAKE_SYSTEM_VERSION 21.0)

if(NOT KESTROVE_MACOS_SDK)
  if(DEFINED ENV{KESTROVE_MACOS_SDK})
    set(KESTROVE_MACOS_SDK "$ENV{KESTROVE_MACOS_SDK}")
  else()
    set(KESTROVE_MACOS_SDK "/work/sdk/macos12/root")
  endif()
endif()
if(NOT EXISTS "${KESTROVE_MACOS_SDK}/SDKSettings.json")
  message(FATAL_ERROR "No macOS SDK at ${KESTROVE_MACOS_SDK} (set KESTROVE_MACOS_SDK)")
endif()
# try_compile projects configure with this file again; hand the SDK on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KESTROVE_MACOS_SDK KESTROVE_MACOS_ARCH)

set(_kestrove_triple ${KESTROVE_MACOS_ARCH}-apple-macos12)
find_program(KESTROVE_CLANG NAMES clang-14 clang REQUIRED)
find_program(KESTROVE_CLANGXX NAMES clang++-14 clang++ REQUIRED)
find_program(CMAKE_AR NAMES llvm-ar-14 llvm-ar REQUIRED)
find_program(CMAKE_RANLIB NAMES llvm-ranlib-14 llvm-ranlib REQUIRED)
find_program(CMAKE_INSTALL_NAME_TOOL NAMES llvm-install-name-tool-14 llvm-install-name-tool REQUIRED)
find_program(KESTROVE_LD64 NAMES ld64.lld-14 ld64.lld REQUIRED)  # only to fail early when missing

set(CMAKE_C_COMPILER "${KESTROVE_CLANG}")
set(CMAKE_CXX_COMPILER "${KESTROVE_CLANGXX}")
set(CMAKE_OBJC_COMPILER "${KESTROVE_CLANG}")
set(CMAKE_OBJCXX_COMPILER "${KESTROVE_CLANGXX}")
foreach(lang C CXX OBJC OBJCXX)
  set(CMAKE_${lang}_COMPILER_TARGET ${_kestrove_triple})
endforeach()

set(CMAKE_OSX_SYSROOT "${KESTROVE_MACOS_SDK}" CACHE PATH "macOS SDK root")
set(CMAKE_OSX_ARCHITECTURES ${KESTROVE_MACOS_ARCH} CACHE STRING "")
set(CMAKE_OSX_DEPLOYMENT_TARGET 12.0 CACHE STRING "")

set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
set(CMAKE_OBJCXX_FLAGS_INIT "-stdlib=libc++")
# -fuse-ld=lld (not --ld-path) so that clang knows to pass lld the
# -platform_version it requires; clang finds ld64.lld next to itself.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-fuse-ld=lld")
if(KESTROVE_MACOS_ARCH STREQUAL "x86_64")
  # lld signs only arm64 by default; both slices of the universal binary are
  # signed alike so that codesign can verify it whole.
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -Wl,-adhoc_codesign")
endif()

# Look for libraries and headers in the SDK only, programs on the host.
set(CMAKE_FIND_ROOT_PATH "${KESTROVE_MACOS_SDK}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_FRAMEWORK FIRST)
