# What goes beside the programs, and the packages: a Debian package on Linux, a ZIP for
# Windows. Every program that unprc_add_program added is in UNPRC_PROGRAMS.
get_property(programs GLOBAL PROPERTY UNPRC_PROGRAMS)
# The same list for whoever checks what the build installs (.ci/run), one name a line.
list(JOIN programs "\n" program_lines)
file(WRITE ${PROJECT_BINARY_DIR}/programs.txt "${program_lines}\n")

# Package times come from the last commit, so that the same sources give the same bytes;
# a SOURCE_DATE_EPOCH in the environment wins.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(UNPRC_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  find_package(Git QUIET)
  if(Git_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE UNPRC_SOURCE_DATE_EPOCH
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT UNPRC_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    message(STATUS "Neither SOURCE_DATE_EPOCH nor a git history: package times are the "
                   "time of packaging")
    set(UNPRC_SOURCE_DATE_EPOCH "")
  endif()
endif()
configure_file(cmake/cpack-project.cmake.in cpack-project.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/cpack-project.cmake)

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR ${UNPRC_VENDOR})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "restore scrambled .PRC files in place, keeping a backup")
set(CPACK_PACKAGE_DESCRIPTION
    "unprc reads a scrambled .PRC container, prints its key, and replaces
the file with the plain payload, keeping the scrambled original as
FILE.BAK. The swap never replaces an existing file and never rewrites
the original's bytes. mkprc, the way back, writes a plain file as a new
container that unprc restores byte for byte. prccat writes the plain
payload of containers to standard output and changes nothing.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "unprc developers <unprc-devel@example.org>")
file(READ LICENSE license)

if(WIN32)
  # For Windows users: a short README.txt and the licence, with CR LF line ends. The
  # README's list of the ZIP's files names each program with its description (lines that
  # configure_file's NEWLINE_STYLE would leave alone, so the line ends are set after).
  set(UNPRC_ZIP_PROGRAMS "")
  foreach(program IN LISTS programs)
    get_property(description TARGET ${program} PROPERTY UNPRC_DESCRIPTION)
    string(LENGTH "${program}.exe" length)
    math(EXPR padding "13 - ${length}")  # the description in the column of the others
    if(padding LESS 1)
      set(padding 1)
    endif()
    string(REPEAT " " ${padding} spaces)
    string(APPEND UNPRC_ZIP_PROGRAMS "  ${program}.exe${spaces}${description}\n")
  endforeach()
  configure_file(packaging/README.txt.in README-lf.txt @ONLY)
  file(READ ${PROJECT_BINARY_DIR}/README-lf.txt readme)
  string(REPLACE "\n" "\r\n" readme "${readme}")
  file(WRITE ${PROJECT_BINARY_DIR}/README.txt "${readme}")
  configure_file(LICENSE LICENSE.txt COPYONLY)
  file(READ ${PROJECT_BINARY_DIR}/LICENSE.txt license)
  string(REPLACE "\n" "\r\n" license "${license}")
  file(WRITE ${PROJECT_BINARY_DIR}/LICENSE.txt "${license}")
  install(FILES ${PROJECT_BINARY_DIR}/README.txt ${PROJECT_BINARY_DIR}/LICENSE.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME "windows-${CMAKE_SYSTEM_PROCESSOR}")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  # Debian's documentation folder: the licence as a machine-readable copyright file, the
  # changelog, the design document the manuals point to, and lintian's overrides, each
  # with its reason.
  set(docs ${CMAKE_INSTALL_DATAROOTDIR}/doc/${PROJECT_NAME})
  string(REGEX REPLACE "\n\n" "\n.\n" license_text "${license}")
  string(REGEX REPLACE "\n$" "" license_text "${license_text}")
  string(REPLACE "\n" "\n " UNPRC_LICENSE_TEXT " ${license_text}")
  configure_file(packaging/copyright.in copyright @ONLY)

  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(version ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
  file(STRINGS packaging/changelog.Debian changelog_top LIMIT_COUNT 1)
  if(NOT changelog_top MATCHES "^${PROJECT_NAME} \\(${version}\\) ")
    message(FATAL_ERROR "packaging/changelog.Debian does not start with version ${version}")
  endif()
  set(changelog ${PROJECT_BINARY_DIR}/changelog.Debian.gz)
  add_custom_command(OUTPUT ${changelog}
    COMMAND ${GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/changelog.Debian > ${changelog}
    DEPENDS packaging/changelog.Debian VERBATIM)
  set(design ${PROJECT_BINARY_DIR}/design.md.gz)
  add_custom_command(OUTPUT ${design}
    COMMAND ${GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/docs/design.md > ${design}
    DEPENDS docs/design.md VERBATIM)
  add_custom_target(package_docs ALL DEPENDS ${changelog} ${design})
  install(FILES ${PROJECT_BINARY_DIR}/copyright ${changelog} ${design} DESTINATION ${docs})

  set(UNPRC_STATIC_OVERRIDES "")
  if(UNPRC_STATIC)
    string(APPEND UNPRC_STATIC_OVERRIDES
           "# Linked statically on purpose: a run then starts without the dynamic loader, which\n"
           "# is a large share of the time a run takes.\n")
    foreach(program IN LISTS programs)
      string(APPEND UNPRC_STATIC_OVERRIDES
             "${PROJECT_NAME}: statically-linked-binary [usr/bin/${program}]\n")
    endforeach()
  endif()
  configure_file(packaging/lintian-overrides.in lintian-overrides @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME ${PROJECT_NAME})

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
endif()
include(CPack)
