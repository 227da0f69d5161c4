# What `cmake --install` puts where, and the packages `cpack` makes of it:
# on Linux a Debian package "kestrune" (the command line, the simulator, their
# manual pages and bash, zsh and fish completion under /usr), for Windows a zip per
# architecture (the dialog, the debug viewer and the command line).

if(WIN32)
  # The dialog program and its viewer go to Kestrune/ (ui/CMakeLists.txt),
  # where the trace sink looks for \Kestrune\DbgView.exe. The command line
  # goes below it: "kestrune.exe" and "Kestrune.exe" are one name to Windows.
  if(TARGET kestrune)
    install(TARGETS kestrune RUNTIME DESTINATION Kestrune/cli)
  endif()
  install(FILES README.md DESTINATION Kestrune)
else()
  include(GNUInstallDirs)
  install(TARGETS kestrune RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(TARGET kestrune-sim)
    install(TARGETS kestrune-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  # The completion scripts, written by the program itself from its option
  # table, so they cannot drift from what it accepts.
  set(completion_dir "${CMAKE_BINARY_DIR}/completion")
  set(completions)
  foreach(shell_file bash:kestrune zsh:_kestrune fish:kestrune.fish)
    string(REPLACE ":" ";" shell_file "${shell_file}")
    list(GET shell_file 0 shell)
    list(GET shell_file 1 file)
    add_custom_command(
      OUTPUT "${completion_dir}/${shell}/${file}"
      COMMAND "${CMAKE_COMMAND}" -E make_directory "${completion_dir}/${shell}"
      COMMAND sh -c "\"$1\" completion $2 > \"$3\"" sh $<TARGET_FILE:kestrune> ${shell}
              "${completion_dir}/${shell}/${file}"
      DEPENDS kestrune
      COMMENT "The ${shell} completion of kestrune"
      VERBATIM)
    list(APPEND completions "${completion_dir}/${shell}/${file}")
  endforeach()
  add_custom_target(kestrune_completions ALL DEPENDS ${completions})
  install(FILES "${completion_dir}/bash/kestrune"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  install(FILES "${completion_dir}/zsh/_kestrune"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
  install(FILES "${completion_dir}/fish/kestrune.fish"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)

  # Manual pages made by help2man from the programs' own --help and
  # --version, so they say what the programs say; one more for each
  # subcommand of kestrune (kestrune-call(1), ...), from `kestrune SUBCOMMAND
  # --help` through a small script of that name.
  find_program(KESTRUNE_HELP2MAN help2man)
  if(KESTRUNE_HELP2MAN)
    set(man_dir "${CMAKE_BINARY_DIR}/man")
    set(man_pages)
    set(pages kestrune kestrune-sim)
    foreach(subcommand list call sample credentials demo doctor configure help completion)
      list(APPEND pages "kestrune-${subcommand}")
    endforeach()
    foreach(page ${pages})
      set(version_option)
      set(program_file "${man_dir}/bin/${page}")
      if(page STREQUAL "kestrune")
        if(NOT TARGET kestrune)
          continue()
        endif()
        set(summary "client for the Aliyun RPC OpenAPI (ECS, IoT, API Gateway)")
        set(program_file $<TARGET_FILE:kestrune>)
        set(program_target kestrune)
      elseif(page STREQUAL "kestrune-sim")
        if(NOT TARGET kestrune-sim)
          continue()
        endif()
        set(summary "local simulator of the Aliyun ECS, IoT and API Gateway RPC APIs")
        # The simulator has no --version of its own.
        set(version_option "--version-string=${PROJECT_VERSION}")
        set(program_file $<TARGET_FILE:kestrune-sim>)
        set(program_target kestrune-sim)
      else()
        string(REPLACE "kestrune-" "" subcommand "${page}")
        set(summary "the ${subcommand} subcommand of kestrune")
        # The page's name is the first word of the version line.
        set(version_option "--version-string=${page} ${PROJECT_VERSION}")
        file(GENERATE OUTPUT "${program_file}"
             CONTENT "#!/bin/sh\nexec '$<TARGET_FILE:kestrune>' ${subcommand} \"$@\"\n"
             FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                              WORLD_READ WORLD_EXECUTE)
        set(program_target kestrune)
      endif()
      add_custom_command(
        OUTPUT "${man_dir}/${page}.1.gz"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${man_dir}"
        COMMAND "${KESTRUNE_HELP2MAN}" --no-info --section=1 "--name=${summary}"
                ${version_option} "--output=${man_dir}/${page}.1" "${program_file}"
        COMMAND gzip -9nf "${man_dir}/${page}.1"
        DEPENDS ${program_target}
        COMMENT "Manual page of ${page}"
        VERBATIM)
      list(APPEND man_pages "${man_dir}/${page}.1.gz")
    endforeach()
    add_custom_target(kestrune_man_pages ALL DEPENDS ${man_pages})
    install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  else()
    message(STATUS "help2man not found: no manual pages")
  endif()
endif()

set(CPACK_PACKAGE_NAME kestrune)
set(CPACK_PACKAGE_VENDOR "Kestrune")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Client for the Aliyun RPC OpenAPI (ECS, IoT, API Gateway) and a local simulator")
set(CPACK_PACKAGE_DESCRIPTION_FILE "${CMAKE_SOURCE_DIR}/packaging/description.txt")
set(CPACK_PACKAGE_CONTACT "Kestrune maintainers <maintainers@kestrune.invalid>")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/packages")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(CPACK_PACKAGE_FILE_NAME "kestrune-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME}")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The simulator links OpenSSL and the C++ library; dpkg-shlibdeps names
  # the packages that hold them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
