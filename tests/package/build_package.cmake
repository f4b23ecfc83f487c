# Builds the Debian package of this build tree into OUTPUT_DIR, replacing any
# earlier one, so the package tests always look at a fresh package.
file(REMOVE_RECURSE ${OUTPUT_DIR})
execute_process(
  COMMAND ${CPACK_COMMAND} --config ${CPACK_CONFIG} -G DEB -B ${OUTPUT_DIR}
  COMMAND_ERROR_IS_FATAL ANY)
file(GLOB packages ${OUTPUT_DIR}/*.deb)
list(LENGTH packages count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one package in ${OUTPUT_DIR}, found: ${packages}")
endif()
