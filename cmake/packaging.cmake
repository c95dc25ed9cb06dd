# What ships besides the binary: the macOS identity (an Info.plist linked
# into the executable), the manual page, README, the licence and the
# changelog, and the Debian package (CPack). tools/package.sh drives it.

include(GNUInstallDirs)

set(KESTROVE_BUNDLE_ID org.kestrove.helper)
set(KESTROVE_MAINTAINER "kestrove maintainers <maintainers@kestrove.org>")

# "Copyright (c) YEAR HOLDER" from LICENSE, the one place it is written.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE _kestrove_copyright_line REGEX "^Copyright " LIMIT_COUNT 1)
if(NOT _kestrove_copyright_line MATCHES "^Copyright \\(c\\) (.+)$")
  message(FATAL_ERROR "LICENSE has no line \"Copyright (c) YEAR HOLDER\"")
endif()
set(KESTROVE_COPYRIGHT "${_kestrove_copyright_line}")
set(KESTROVE_COPYRIGHT_HOLDERS "${CMAKE_MATCH_1}")

# The release date is the one CHANGELOG.md gives this version; a version
# without an entry there fails here rather than ship undocumented.
file(READ ${PROJECT_SOURCE_DIR}/CHANGELOG.md _kestrove_changelog)
string(REGEX MATCHALL "\n## \\[[^]\n]+\\] - [0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]" _kestrove_releases
       "${_kestrove_changelog}")
set(KESTROVE_RELEASE_DATE "")
string(REPLACE "." "\\." _kestrove_version_pattern "${PROJECT_VERSION}")
foreach(_heading IN LISTS _kestrove_releases)
  if(_heading MATCHES "\\[${_kestrove_version_pattern}\\] - (.*)$")
    set(KESTROVE_RELEASE_DATE "${CMAKE_MATCH_1}")
  endif()
endforeach()
if(NOT KESTROVE_RELEASE_DATE)
  message(FATAL_ERROR "CHANGELOG.md has no heading \"## [${PROJECT_VERSION}] - YYYY-MM-DD\"")
endif()

# The macOS identity, read by codesign and the privacy settings.
configure_file(${PROJECT_SOURCE_DIR}/packaging/Info.plist.in ${PROJECT_BINARY_DIR}/Info.plist @ONLY)
if(APPLE)
  target_link_options(kestrove PRIVATE "LINKER:-sectcreate,__TEXT,__info_plist,${PROJECT_BINARY_DIR}/Info.plist")
  set_property(TARGET kestrove APPEND PROPERTY LINK_DEPENDS ${PROJECT_BINARY_DIR}/Info.plist)
endif()

configure_file(${PROJECT_SOURCE_DIR}/docs/kestrove.1.in ${PROJECT_BINARY_DIR}/kestrove.1 @ONLY)

# Debian's machine-readable copyright file, with the licence text of LICENSE.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE _kestrove_license)
string(FIND "${_kestrove_license}" "Permission is hereby granted" _at)
if(_at LESS 0)
  message(FATAL_ERROR "LICENSE does not hold the MIT licence text")
endif()
string(SUBSTRING "${_kestrove_license}" ${_at} -1 _kestrove_license)
string(STRIP "${_kestrove_license}" _kestrove_license)
string(REGEX REPLACE "\n\n+" "\n.\n" _kestrove_license "${_kestrove_license}")
string(REGEX REPLACE "\n" "\n " _kestrove_license " ${_kestrove_license}")
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/debian/copyright @ONLY CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: kestrove

Files: *
Copyright: @KESTROVE_COPYRIGHT_HOLDERS@
License: Expat

License: Expat
@_kestrove_license@
")

# Debian's changelog of a native package, one entry per CHANGELOG.md release.
function(kestrove_rfc2822_date out iso)
  string(REGEX MATCH "^([0-9]+)-0*([0-9]+)-0*([0-9]+)$" _ "${iso}")
  set(y ${CMAKE_MATCH_1})
  set(m ${CMAKE_MATCH_2})
  set(d ${CMAKE_MATCH_3})
  # Sakamoto's weekday formula; 0 is Sunday.
  set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  math(EXPR index "${m} - 1")
  list(GET offsets ${index} offset)
  set(year ${y})
  if(m LESS 3)
    math(EXPR year "${y} - 1")
  endif()
  math(EXPR weekday "(${year} + ${year} / 4 - ${year} / 100 + ${year} / 400 + ${offset} + ${d}) % 7")
  set(days Sun Mon Tue Wed Thu Fri Sat)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET days ${weekday} day_name)
  list(GET months ${index} month_name)
  if(d LESS 10)
    set(d "0${d}")
  endif()
  set(${out} "${day_name}, ${d} ${month_name} ${y} 00:00:00 +0000" PARENT_SCOPE)
endfunction()

set(_kestrove_debian_changelog "")
foreach(_heading IN LISTS _kestrove_releases)
  string(REGEX MATCH "\\[([^]]+)\\] - (.*)$" _ "${_heading}")
  set(_version "${CMAKE_MATCH_1}")
  set(_date "${CMAKE_MATCH_2}")
  string(FIND "${_kestrove_changelog}" "${_heading}" _start)
  string(LENGTH "${_heading}" _length)
  math(EXPR _start "${_start} + ${_length}")
  string(SUBSTRING "${_kestrove_changelog}" ${_start} -1 _body)
  string(FIND "${_body}" "\n## " _end)
  if(_end GREATER_EQUAL 0)
    string(SUBSTRING "${_body}" 0 ${_end} _body)
  endif()
  # Markdown list items become changelog items; other text is indented.
  string(REGEX REPLACE "\n  " "\n    " _body "${_body}")
  string(REGEX REPLACE "\n- " "\n  * " _body "${_body}")
  string(REGEX REPLACE "\n#+ *" "\n" _body "${_body}")
  string(REGEX REPLACE "\n([^ \n])" "\n  \\1" _body "${_body}")
  string(REGEX REPLACE "\n\n+" "\n" _body "${_body}")
  string(STRIP "${_body}" _body)
  kestrove_rfc2822_date(_when "${_date}")
  string(APPEND _kestrove_debian_changelog
         "kestrove (${_version}) unstable; urgency=medium\n\n  ${_body}\n\n -- ${KESTROVE_MAINTAINER}  ${_when}\n\n")
endforeach()
string(STRIP "${_kestrove_debian_changelog}" _kestrove_debian_changelog)
file(WRITE ${PROJECT_BINARY_DIR}/debian/changelog.new "${_kestrove_debian_changelog}\n")
configure_file(${PROJECT_BINARY_DIR}/debian/changelog.new ${PROJECT_BINARY_DIR}/debian/changelog COPYONLY)

# Debian wants manual pages and changelogs compressed with gzip -9n.
set(_kestrove_gz ${PROJECT_BINARY_DIR}/gz)
if(NOT APPLE)
  find_program(KESTROVE_GZIP gzip REQUIRED)
  set(_kestrove_compressed)
  foreach(_source ${PROJECT_BINARY_DIR}/kestrove.1 ${PROJECT_BINARY_DIR}/debian/changelog)
    get_filename_component(_name ${_source} NAME)
    add_custom_command(OUTPUT ${_kestrove_gz}/${_name}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${_source} ${_kestrove_gz}/${_name}
      COMMAND ${KESTROVE_GZIP} -9nf ${_kestrove_gz}/${_name}
      DEPENDS ${_source}
      VERBATIM)
    list(APPEND _kestrove_compressed ${_kestrove_gz}/${_name}.gz)
  endforeach()
  add_custom_target(kestrove_compressed_docs ALL DEPENDS ${_kestrove_compressed})
endif()

if(APPLE)
  install(FILES ${PROJECT_BINARY_DIR}/kestrove.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md LICENSE CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
else()
  install(FILES ${_kestrove_gz}/kestrove.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md ${PROJECT_BINARY_DIR}/debian/copyright ${_kestrove_gz}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME kestrove)
set(CPACK_PACKAGE_VENDOR "${KESTROVE_COPYRIGHT_HOLDERS}")
set(CPACK_PACKAGE_CONTACT "${KESTROVE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "helper to inspect and arrange another application's windows")
set(CPACK_PACKAGE_DESCRIPTION
    "kestrove lets a controlling program inspect and arrange the windows of
another application. It has no user interface: it answers each command with
one JSON object per line on standard output. It lists an application's
windows, places a window so that its content area covers a requested
rectangle, reports the displays, and in loop mode streams window events and
reports a long hold of the Escape key.

This build drives X11 desktops with an EWMH window manager.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
if(NOT APPLE)
  set(CPACK_GENERATOR DEB)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
