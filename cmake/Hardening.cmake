# Debian's hardening flags for every target (stack protector, fortified libc
# calls, read-only relocations bound at start-up, position-independent
# executables), so what we ship passes hardening-check and lintian. Taken from
# dpkg-buildflags where it exists, so a newer Debian release brings its own
# additions (stack clash protection, CET, ...); a fixed equivalent elsewhere.
# The sanitized and fuzzing builds instrument the code themselves and are
# never shipped, so they stay without.
option(TARNWICK_HARDENING "Build with Debian's hardening flags (from dpkg-buildflags where available)" ON)
set(TARNWICK_HARDENING_CF_PROTECTION OFF)
set(TARNWICK_HARDENING_BRANCH_PROTECTION OFF)
set(TARNWICK_HARDENED OFF)
if(NOT TARNWICK_HARDENING OR TARNWICK_SANITIZE OR TARNWICK_FUZZ)
  return()
endif()
set(TARNWICK_HARDENED ON)

find_program(TARNWICK_DPKG_BUILDFLAGS dpkg-buildflags)

# One flag variable of dpkg-buildflags as a list, without what is not
# hardening: the optimisation and debug levels belong to CMAKE_BUILD_TYPE, and
# the prefix maps would hide the sources from a debugger.
function(tarnwick_dpkg_buildflags variable name)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${TARNWICK_DPKG_BUILDFLAGS} --get ${name}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags EXCLUDE REGEX "^-(O.*|g.*|ffile-prefix-map=.*|fdebug-prefix-map=.*|fmacro-prefix-map=.*)$")
  set(${variable} ${flags} PARENT_SCOPE)
endfunction()

if(TARNWICK_DPKG_BUILDFLAGS)
  tarnwick_dpkg_buildflags(_cpp_flags CPPFLAGS)
  tarnwick_dpkg_buildflags(_c_flags CFLAGS)
  tarnwick_dpkg_buildflags(_cxx_flags CXXFLAGS)
  tarnwick_dpkg_buildflags(_link_flags LDFLAGS)
else()
  set(_cpp_flags -D_FORTIFY_SOURCE=2)
  set(_c_flags -fstack-protector-strong -Wformat -Werror=format-security)
  set(_cxx_flags ${_c_flags})
  set(_link_flags -Wl,-z,relro -Wl,-z,now)
endif()

# Debian 13's dpkg-buildflags adds stack clash protection; Debian 12's does
# not, though its compiler has it, so it is added wherever the compiler takes
# it.
include(CheckCompilerFlag)
if(NOT "-fstack-clash-protection" IN_LIST _cxx_flags)
  check_compiler_flag(CXX -fstack-clash-protection TARNWICK_HAS_STACK_CLASH_PROTECTION)
  if(TARNWICK_HAS_STACK_CLASH_PROTECTION)
    list(APPEND _c_flags -fstack-clash-protection)
    list(APPEND _cxx_flags -fstack-clash-protection)
  endif()
endif()

# Control flow protection only takes effect when every object of a program
# carries it, the C runtime's start files included; those of Debian 12 and 13
# do not, so there no program has it, whatever dpkg-buildflags asks for. The
# package test requires it only where a program built with the flag has it.
if("-fcf-protection" IN_LIST _cxx_flags)
  set(_probe_dir ${CMAKE_BINARY_DIR}/CMakeFiles/cf-protection-probe)
  file(WRITE ${_probe_dir}/probe.cpp "int main() { return 0; }\n")
  try_compile(_probe_built SOURCES ${_probe_dir}/probe.cpp
    COMPILE_DEFINITIONS -fcf-protection COPY_FILE ${_probe_dir}/probe)
  if(_probe_built)
    execute_process(COMMAND ${CMAKE_READELF} -n ${_probe_dir}/probe OUTPUT_VARIABLE _probe_notes ERROR_QUIET)
    if(_probe_notes MATCHES "IBT")
      set(TARNWICK_HARDENING_CF_PROTECTION ON)
    endif()
  endif()
endif()

# Branch protection (BTI and pointer authentication) is an AArch64 feature,
# which dpkg-buildflags asks for only there; elsewhere no program has it.
if(_cxx_flags MATCHES "-mbranch-protection=")
  set(TARNWICK_HARDENING_BRANCH_PROTECTION ON)
endif()

# glibc's fortified calls need the optimiser (and warn without it), so a
# build type that does not optimise leaves _FORTIFY_SOURCE out.
set(_optimised "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
foreach(flag IN LISTS _cpp_flags)
  if(flag MATCHES "^-D_FORTIFY_SOURCE")
    add_compile_options("$<${_optimised}:${flag}>")
  else()
    add_compile_options("${flag}")
  endif()
endforeach()
foreach(flag IN LISTS _c_flags)
  add_compile_options("$<$<COMPILE_LANGUAGE:C>:${flag}>")
endforeach()
foreach(flag IN LISTS _cxx_flags)
  add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:${flag}>")
endforeach()
add_link_options(${_link_flags})

# Executables are linked as PIE wherever the toolchain supports it, not only
# where the compiler happens to default to it (CMAKE_POSITION_INDEPENDENT_CODE
# then adds -pie to the link).
include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)
