# Install rules: the program, its privileged helper and polkit action, the
# Access driver and its setup library and the odbcinst.ini entry that registers the
# driver with absolute installed paths.
# Included at the end of the top-level CMakeLists, once every target exists.
# The desktop entry, metainfo and icons are installed next to their sources
# in resources/.

if(TARGET tarnwick)
  install(TARGETS tarnwick RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# unixODBC loads the setup library by the path in Setup=, never through the
# linker's search path, so it lives with the other ODBC modules: on Debian in
# the multiarch folder beside mdbtools' driver. GNUInstallDirs only picks the
# multiarch libdir when the tree is configured for the /usr prefix, yet CPack
# always installs under /usr, so the folder is named here from the target's
# architecture instead, whatever prefix the tree was configured with.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(TARNWICK_ODBC_MODULE_DIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/odbc)
else()
  set(TARNWICK_ODBC_MODULE_DIR ${CMAKE_INSTALL_LIBDIR}/odbc)
endif()
install(TARGETS tarnwick_mdbsetup tarnwick_mdbodbc LIBRARY DESTINATION ${TARNWICK_ODBC_MODULE_DIR})

# The privileged helper and the polkit action that names it. The action's
# exec.path, the program's compiled-in path and this destination are the same
# absolute path, fixed when the tree was configured, so the destination is
# absolute: installing under another prefix (CPack's /usr included) must not
# move the helper away from where the program and polkit look for it.
cmake_path(GET TARNWICK_SYSTEM_DSN_HELPER PARENT_PATH _helper_dir)
install(TARGETS tarnwick_system_dsn RUNTIME DESTINATION ${_helper_dir})
install(FILES ${TARNWICK_POLICY} DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)

# The entry for the installed tree comes from the same template as the build
# tree's, with the build path of the setup library swapped for its installed
# one, and the same for the driver. The installed path is only known at install time: CPack installs under
# its own prefix (/usr for the Debian package, with DESTDIR set to its staging
# folder), whatever CMAKE_INSTALL_PREFIX was when the tree was configured.
set(_entry_template ${PROJECT_SOURCE_DIR}/driver_setup/odbcinst-entry.ini.in)
file(READ ${_entry_template} _entry)
foreach(_library SETUP:tarnwick_mdbsetup DRIVER:tarnwick_mdbodbc)
  string(REPLACE ":" ";" _library "${_library}")
  list(GET _library 0 _key)
  list(GET _library 1 _target)
  set(_genex "$<TARGET_FILE:${_target}>")
  string(FIND "${_entry}" "${_genex}" _at)
  if(_at EQUAL -1)
    message(FATAL_ERROR "${_entry_template} no longer names ${_target} as ${_genex}; "
                        "update cmake/Install.cmake to match")
  endif()
  string(REPLACE "${_genex}" "@TARNWICK_INSTALLED_${_key}@" _entry "${_entry}")
endforeach()
set(TARNWICK_INSTALLED_ENTRY_TEMPLATE ${CMAKE_BINARY_DIR}/install/odbcinst-entry.ini.in)
file(WRITE ${TARNWICK_INSTALLED_ENTRY_TEMPLATE} "${_entry}")

# Where the entry itself is installed; the Debian package's postinst hands it
# to `odbcinst -i -d -f`.
set(TARNWICK_ENTRY_DIR ${CMAKE_INSTALL_DATADIR}/tarnwick)
set(TARNWICK_INSTALLED_ENTRY ${CMAKE_BINARY_DIR}/install/odbcinst-entry.ini)

if(IS_ABSOLUTE "${TARNWICK_ODBC_MODULE_DIR}")
  set(_module_dir "${TARNWICK_ODBC_MODULE_DIR}")
else()
  set(_module_dir "\${CMAKE_INSTALL_PREFIX}/${TARNWICK_ODBC_MODULE_DIR}")
endif()
install(CODE "
  set(TARNWICK_MDB_DRIVER \"${TARNWICK_MDB_DRIVER}\")
  set(TARNWICK_INSTALLED_SETUP \"${_module_dir}/$<TARGET_FILE_NAME:tarnwick_mdbsetup>\")
  set(TARNWICK_INSTALLED_DRIVER \"${_module_dir}/$<TARGET_FILE_NAME:tarnwick_mdbodbc>\")
  configure_file(\"${TARNWICK_INSTALLED_ENTRY_TEMPLATE}\" \"${TARNWICK_INSTALLED_ENTRY}\" @ONLY)
")
install(FILES ${TARNWICK_INSTALLED_ENTRY} DESTINATION ${TARNWICK_ENTRY_DIR})

# A stripped install (the Debian package's) also drops the .comment and .note
# sections that plain strip keeps, as Debian's own packaging does.
set(_stripped_files "${TARNWICK_SYSTEM_DSN_HELPER}" "${TARNWICK_ODBC_MODULE_DIR}/$<TARGET_FILE_NAME:tarnwick_mdbsetup>"
                    "${TARNWICK_ODBC_MODULE_DIR}/$<TARGET_FILE_NAME:tarnwick_mdbodbc>")
if(TARGET tarnwick)
  list(APPEND _stripped_files "${CMAKE_INSTALL_BINDIR}/tarnwick")
endif()
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(file ${_stripped_files})
      if(NOT IS_ABSOLUTE \"\${file}\")
        set(file \"\${CMAKE_INSTALL_PREFIX}/\${file}\")
      endif()
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
                              \"\$ENV{DESTDIR}\${file}\" COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()
")
