# unprc_add_program(NAME SOURCE DESCRIPTION): one command-line program of the project. Builds
# NAME from SOURCE with the message table, links it statically where that works, gives a
# Windows build a version resource, and installs the program (stripped) with its manual
# page, made from man/NAME.1.in with the project's version as man/NAME.1 in the build
# folder. The package steps (lintian overrides, the ZIP's README.txt, the list of programs
# the build writes for CI) take every program added here from the UNPRC_PROGRAMS global
# property, and its DESCRIPTION from the target's UNPRC_DESCRIPTION property.
function(unprc_add_program name source description)
  # The platform's entry point (cli/entry_*.cc) readies the process and calls the
  # program's cli::Run.
  if(WIN32)
    add_executable(${name} ${source} ${PROJECT_SOURCE_DIR}/cli/entry_windows.cc)
    # The wide entry point, wmain, takes the arguments as the system holds them.
    target_link_options(${name} PRIVATE -municode)
  else()
    add_executable(${name} ${source} ${PROJECT_SOURCE_DIR}/cli/entry_posix.cc)
  endif()
  target_link_libraries(${name} PRIVATE cli prc)
  if(UNPRC_STATIC)
    target_link_options(${name} PRIVATE -static)
  endif()
  if(WIN32)
    set(UNPRC_PROGRAM ${name})
    set(UNPRC_PROGRAM_DESCRIPTION "${description}")
    configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${name}.rc @ONLY)
    target_sources(${name} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${name}.rc)
    set(destination .)  # a Windows ZIP holds the .exe at its top
  else()
    set(destination ${CMAKE_INSTALL_BINDIR})
    set(page ${PROJECT_BINARY_DIR}/man/${name}.1)
    configure_file(${PROJECT_SOURCE_DIR}/man/${name}.1.in ${page} @ONLY)
    set(manual ${CMAKE_CURRENT_BINARY_DIR}/${name}.1.gz)
    add_custom_command(OUTPUT ${manual}
      COMMAND ${GZIP} -9 -n -c ${page} > ${manual}
      DEPENDS ${page} VERBATIM)
    add_custom_target(${name}_manual ALL DEPENDS ${manual})
    install(FILES ${manual} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
  install(TARGETS ${name} RUNTIME DESTINATION ${destination})
  # Installed without symbols, the compiler's notes or the linker's, for cmake --install
  # and the packages alike.
  install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-all
      --remove-section=.comment --remove-section=.note
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}/$<TARGET_FILE_NAME:${name}>\"
      COMMAND_ERROR_IS_FATAL ANY)")
  set_property(TARGET ${name} PROPERTY UNPRC_DESCRIPTION "${description}")
  set_property(GLOBAL APPEND PROPERTY UNPRC_PROGRAMS ${name})
endfunction()
