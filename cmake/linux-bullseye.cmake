# Builds the Linux helper against a Debian 11 root (tools/bullseye-root.sh)
# with this machine's GCC 12, so that the binary starts on every system with
# glibc 2.31 or later while the code keeps C++20 and GCC 12's library: the
# C library, the XCB archives and their headers come from the root; the C++
# runtime is GCC 12's, linked in statically (its libgcc_s part is the
# root's, which every glibc system has).
#
#   cmake -S . -B build-linux-x64 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-bullseye.cmake \
#         -DKESTROVE_LINUX_ARCH=x86_64 -DKESTROVE_BULLSEYE_ROOT=/path/to/root
#
# KESTROVE_LINUX_ARCH is x86_64 (the default) or aarch64, which uses
# Debian's aarch64-linux-gnu cross compiler. The root defaults to
# $KESTROVE_BULLSEYE_ROOT.

if(NOT KESTROVE_LINUX_ARCH)
  set(KESTROVE_LINUX_ARCH x86_64)
endif()
if(NOT KESTROVE_LINUX_ARCH MATCHES "^(x86_64|aarch64)$")
  message(FATAL_ERROR "KESTROVE_LINUX_ARCH must be x86_64 or aarch64, not ${KESTROVE_LINUX_ARCH}")
endif()
if(NOT KESTROVE_BULLSEYE_ROOT AND DEFINED ENV{KESTROVE_BULLSEYE_ROOT})
  set(KESTROVE_BULLSEYE_ROOT "$ENV{KESTROVE_BULLSEYE_ROOT}")
endif()
if(NOT EXISTS "${KESTROVE_BULLSEYE_ROOT}/usr/include/features.h")
  message(FATAL_ERROR "No Debian 11 root with libc6-dev at '${KESTROVE_BULLSEYE_ROOT}' (tools/bullseye-root.sh makes one)")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KESTROVE_LINUX_ARCH KESTROVE_BULLSEYE_ROOT)

set(_kestrove_triple ${KESTROVE_LINUX_ARCH}-linux-gnu)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${KESTROVE_LINUX_ARCH})
set(CMAKE_SYSROOT "${KESTROVE_BULLSEYE_ROOT}")
cmake_host_system_information(RESULT _kestrove_host QUERY OS_PLATFORM)
if(_kestrove_host STREQUAL KESTROVE_LINUX_ARCH)
  find_program(CMAKE_C_COMPILER NAMES gcc-12 gcc REQUIRED)
  find_program(CMAKE_CXX_COMPILER NAMES g++-12 g++ REQUIRED)
else()
  find_program(CMAKE_C_COMPILER NAMES ${_kestrove_triple}-gcc-12 ${_kestrove_triple}-gcc REQUIRED)
  find_program(CMAKE_CXX_COMPILER NAMES ${_kestrove_triple}-g++-12 ${_kestrove_triple}-g++ REQUIRED)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${KESTROVE_LINUX_ARCH}-static -L "${KESTROVE_BULLSEYE_ROOT}")
endif()

# A cross compiler also searches its own target directory
# (/usr/TRIPLE/include and lib, this machine's newer C library for that
# architecture) before the sysroot. Its header search is given again
# without that directory, in the same order, and the root's start files and
# libraries come first at link time.
function(_kestrove_system_includes lang out)
  execute_process(COMMAND ${CMAKE_${lang}_COMPILER} --sysroot=${KESTROVE_BULLSEYE_ROOT} -x ${ARGN} -E -v -
                  INPUT_FILE /dev/null OUTPUT_QUIET ERROR_VARIABLE _verbose RESULT_VARIABLE _status)
  if(NOT _status EQUAL 0)
    message(FATAL_ERROR "${CMAKE_${lang}_COMPILER} does not run: ${_verbose}")
  endif()
  string(REGEX REPLACE ".*#include <...> search starts here:\n(.*)End of search list.*" "\\1" _dirs "${_verbose}")
  string(REGEX REPLACE "\n" ";" _dirs "${_dirs}")
  set(_flags "")
  set(_dropped OFF)
  foreach(_dir IN LISTS _dirs)
    string(STRIP "${_dir}" _dir)
    if(_dir STREQUAL "")
      continue()
    endif()
    get_filename_component(_real "${_dir}" REALPATH)
    if(_real STREQUAL "/usr/${_kestrove_triple}/include")
      set(_dropped ON)
    else()
      string(APPEND _flags " -isystem ${_real}")
    endif()
  endforeach()
  if(_dropped)
    set(${out} "-nostdinc${_flags}" PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()
_kestrove_system_includes(C _kestrove_c_includes c)
_kestrove_system_includes(CXX _kestrove_cxx_includes c++)
set(CMAKE_C_FLAGS_INIT "${_kestrove_c_includes}")
set(CMAKE_CXX_FLAGS_INIT "${_kestrove_cxx_includes}")
if(KESTROVE_LINUX_ARCH STREQUAL "aarch64")
  # GCC notes an ABI change of GCC 10 that concerns nothing the helper exports.
  string(APPEND CMAKE_CXX_FLAGS_INIT " -Wno-psabi")
endif()
set(_kestrove_root_libs "${KESTROVE_BULLSEYE_ROOT}/usr/lib/${_kestrove_triple}")
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-B${_kestrove_root_libs}/ -L${KESTROVE_BULLSEYE_ROOT}/lib/${_kestrove_triple} -L${_kestrove_root_libs}")

# The C++ runtime of this compiler, in the binary; libgcc stays shared
# because GCC 12's static unwinder calls _dl_find_object (glibc 2.35).
set(KESTROVE_STATIC_LIBGCC OFF)
# GCC 12's libstdc++ needs __libc_single_threaded (glibc 2.32) and arc4random
# (2.36); the helper supplies them (src/platform/posix/old_glibc_compat.c).
set(KESTROVE_OLD_GLIBC ON)

# Libraries and headers from the root only, programs from this machine.
set(CMAKE_FIND_ROOT_PATH "${KESTROVE_BULLSEYE_ROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_LIBRARY_ARCHITECTURE ${_kestrove_triple})

# pkg-config reads the root's .pc files and prefixes their paths with it.
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${KESTROVE_BULLSEYE_ROOT}")
set(ENV{PKG_CONFIG_LIBDIR}
    "${KESTROVE_BULLSEYE_ROOT}/usr/lib/${_kestrove_triple}/pkgconfig:${KESTROVE_BULLSEYE_ROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
