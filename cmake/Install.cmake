# Where an install puts each file (GNUInstallDirs, so a Debian /usr prefix gets multiarch libdir):
#   libdir/zorvex-checker/libzorvex_checker.so   the plug-in, in a folder hosts scan
#   bindir/zorvex_app_check, bindir/diag-host     finding the plug-in relative to themselves
#   includedir/zorvex-checker/zorvex_plugin.h     the C interface
#   libdir/pkgconfig/zorvex-checker.pc            Cflags and the plugindir variable
#   mandir/man1/diag-host.1.gz, zorvex_app_check.1.gz
#   datarootdir/doc/zorvex-checker/               copyright and changelog

# Compresses `source` into `output`.gz as Debian wants documentation: best, no name or time
# stored, so that every build gives the same bytes.
function(zorvex_gzip source output)
  add_custom_command(OUTPUT ${output}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${output}
    COMMAND gzip -9nf ${output}
    DEPENDS ${source} VERBATIM)
endfunction()

# Only ever loaded or linked by path, so it needs no execute bit.
install(TARGETS zorvex_checker
  LIBRARY DESTINATION ${ZORVEX_PLUGIN_INSTALL_DIR}
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(TARGETS zorvex_app_check diag_host_installed RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES include/zorvex_plugin.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zorvex-checker)

# pkg-config: everything but the prefix is known now; the prefix only when installing, since
# `cmake --install --prefix` may choose another than the one configured.
function(zorvex_pc_dir variable directory)
  if(IS_ABSOLUTE "${directory}")
    set(${variable} "${directory}" PARENT_SCOPE)
  else()
    set(${variable} "\${prefix}/${directory}" PARENT_SCOPE)
  endif()
endfunction()
zorvex_pc_dir(ZORVEX_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
zorvex_pc_dir(ZORVEX_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
set(ZORVEX_PC_PREFIX "@ZORVEX_PC_PREFIX@")
configure_file(zorvex-checker.pc.in ${PROJECT_BINARY_DIR}/zorvex-checker.pc.in @ONLY)
install(CODE "set(ZORVEX_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${PROJECT_BINARY_DIR}/zorvex-checker.pc.in\"
                 \"${PROJECT_BINARY_DIR}/zorvex-checker.pc\" @ONLY)")
install(FILES ${PROJECT_BINARY_DIR}/zorvex-checker.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

zorvex_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${PROJECT_BINARY_DIR}/changelog)
add_custom_target(zorvex_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
install(FILES packaging/copyright ${PROJECT_BINARY_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zorvex-checker)

# The systemd units, shipped but not enabled; ExecStart names the diag-host of this install.
foreach(unit zorvex-textfile.service zorvex-textfile.timer)
  install(CODE "file(READ \"${PROJECT_SOURCE_DIR}/packaging/systemd/${unit}\" unit)
    string(REPLACE \"/usr/bin/diag-host\" \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/diag-host\"
           unit \"\${unit}\")
    file(WRITE \"${PROJECT_BINARY_DIR}/${unit}\" \"\${unit}\")")
  install(FILES ${PROJECT_BINARY_DIR}/${unit} DESTINATION lib/systemd/system)
endforeach()

# The sample installation, ready to read (its installer database made from its SQL script), so
# that the installed programs can be tried without products on the machine. Needs the sqlite3
# program; left out, with a note, where it is missing.
find_program(ZORVEX_SQLITE3 sqlite3)
set(ZORVEX_SAMPLE_SOURCE ${PROJECT_SOURCE_DIR}/examples/sample-installation)
set(ZORVEX_SAMPLE_DB ${PROJECT_BINARY_DIR}/sample-installation/packagemanager.db)
if(ZORVEX_SQLITE3)
  add_custom_command(OUTPUT ${ZORVEX_SAMPLE_DB}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/sample-installation
    COMMAND ${CMAKE_COMMAND} -E remove -f ${ZORVEX_SAMPLE_DB}
    COMMAND ${ZORVEX_SQLITE3} ${ZORVEX_SAMPLE_DB}
            ".read ${ZORVEX_SAMPLE_SOURCE}/corva/zorvex-2024.2/packagemanager.sql"
    DEPENDS ${ZORVEX_SAMPLE_SOURCE}/corva/zorvex-2024.2/packagemanager.sql VERBATIM)
  add_custom_target(zorvex_sample_database ALL DEPENDS ${ZORVEX_SAMPLE_DB})
  set(ZORVEX_SAMPLE_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/zorvex-checker/sample-installation)
  install(DIRECTORY ${ZORVEX_SAMPLE_SOURCE}/ DESTINATION ${ZORVEX_SAMPLE_DIR}
    PATTERN "*.sql" EXCLUDE PATTERN available EXCLUDE)
  install(FILES ${ZORVEX_SAMPLE_DB} DESTINATION ${ZORVEX_SAMPLE_DIR}/corva/zorvex-2024.2)
else()
  message(STATUS "sqlite3 not found: the installed sample installation is left out")
endif()
