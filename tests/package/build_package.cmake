# Builds the Debian package of this build tree into OUTPUT_DIR, replacing any
# earlier one, so the package tests always look at a fresh package.
#
# It is built under umask 0002, the umask Debian gives its users, whoever runs
# the tests: the package's modes must not depend on who built it, and a
# group-writable folder in it is what the tests are to catch.
file(REMOVE_RECURSE ${OUTPUT_DIR})
execute_process(
  COMMAND sh -c "umask 0002 && exec \"$@\"" cpack
          ${CPACK_COMMAND} --config ${CPACK_CONFIG} -G DEB -B ${OUTPUT_DIR}
  COMMAND_ERROR_IS_FATAL ANY)
file(GLOB packages ${OUTPUT_DIR}/*.deb)
list(LENGTH packages count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one package in ${OUTPUT_DIR}, found: ${packages}")
endif()
