# Installs the build's desktop component into a scratch prefix and checks that
# the desktop entry, the metainfo and both icon sizes land where desktops look
# for them.
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(
  COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR} --component desktop
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${output}")
endif()

set(id io.github.tarnwick.Tarnwick)
foreach(file
    share/applications/${id}.desktop
    share/metainfo/${id}.metainfo.xml
    share/icons/hicolor/16x16/apps/${id}.png
    share/icons/hicolor/32x32/apps/${id}.png)
  if(NOT EXISTS ${WORK_DIR}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

# The icons are real PNG images of their size (width and height in the IHDR chunk).
foreach(size 16 32)
  file(READ ${WORK_DIR}/share/icons/hicolor/${size}x${size}/apps/${id}.png header LIMIT 24 HEX)
  string(SUBSTRING "${header}" 0 16 signature)
  string(SUBSTRING "${header}" 32 16 dimensions)
  math(EXPR hex_size "${size}" OUTPUT_FORMAT HEXADECIMAL)
  string(REPLACE "0x" "" hex_size "${hex_size}")
  string(LENGTH "${hex_size}" length)
  if(length EQUAL 1)
    set(hex_size "0${hex_size}")
  endif()
  set(expected "000000${hex_size}000000${hex_size}")
  if(NOT signature STREQUAL "89504e470d0a1a0a" OR NOT dimensions STREQUAL expected)
    message(FATAL_ERROR "${size}x${size} icon is no ${size}x${size} PNG: ${header}")
  endif()
endforeach()

# The installed desktop entry names the installed icon.
file(STRINGS ${WORK_DIR}/share/applications/${id}.desktop icon_line REGEX "^Icon=")
if(NOT icon_line STREQUAL "Icon=${id}")
  message(FATAL_ERROR "unexpected icon entry: ${icon_line}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
