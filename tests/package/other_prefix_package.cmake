# Configures a second tree of these sources for another install prefix, builds
# its Debian package and checks that the package still puts the setup library
# in the multiarch ODBC folder under /usr, with the driver entry and the
# maintainer scripts naming it there: the package must not depend on the
# prefix a tree happens to be configured with. The System DSN helper keeps the
# path it was built for, which the polkit action names. Only the setup
# library, the helper and the documents are built, the window and the tests
# are left out.
file(REMOVE_RECURSE ${WORK_DIR})
set(tree ${WORK_DIR}/tree)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed:\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${tree} -DCMAKE_BUILD_TYPE=RelWithDebInfo
    -DCMAKE_INSTALL_PREFIX=/opt/tarnwick -DTARNWICK_UI=OFF -DBUILD_TESTING=OFF
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON)
run(${CMAKE_COMMAND} --build ${tree} --target tarnwick_mdbsetup tarnwick_mdbodbc tarnwick_system_dsn tarnwick_package_docs)
run(${CPACK_COMMAND} --config ${tree}/CPackConfig.cmake -G DEB -B ${WORK_DIR}/deb)
file(GLOB package ${WORK_DIR}/deb/*.deb)

set(setup /usr/lib/${MULTIARCH}/odbc/libtarnwick-mdbsetup.so)
run(dpkg-deb -c ${package})
string(FIND "${output}" " .${setup}\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the package has no .${setup}:\n${output}")
endif()

set(helper /opt/tarnwick/libexec/tarnwick/tarnwick-system-dsn)
string(FIND "${output}" " .${helper}\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the package has no .${helper}:\n${output}")
endif()

run(dpkg-deb -x ${package} ${WORK_DIR}/root)
file(STRINGS ${WORK_DIR}/root/usr/share/polkit-1/actions/io.github.tarnwick.Tarnwick.policy exec_line
     REGEX "exec.path")
if(NOT exec_line MATCHES ">${helper}<")
  message(FATAL_ERROR "the polkit action names another helper: ${exec_line}")
endif()
file(STRINGS ${WORK_DIR}/root/usr/share/tarnwick/odbcinst-entry.ini setup_line REGEX "^Setup=")
if(NOT setup_line STREQUAL "Setup=${setup}")
  message(FATAL_ERROR "the driver entry names another setup library: ${setup_line}")
endif()

run(dpkg-deb -e ${package} ${WORK_DIR}/control)
foreach(script postinst prerm postrm)
  file(STRINGS ${WORK_DIR}/control/${script} library_line REGEX "^setup_library=")
  if(NOT library_line STREQUAL "setup_library='${setup}'")
    message(FATAL_ERROR "${script} names another setup library: ${library_line}")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
