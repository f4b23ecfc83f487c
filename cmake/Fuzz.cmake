# A fuzzing build (clang only): everything is compiled with libFuzzer's
# coverage instrumentation and AddressSanitizer + UndefinedBehaviorSanitizer,
# and fuzz/ adds the harnesses. Included before the libraries are defined so
# the code under test is instrumented too.
option(TARNWICK_FUZZ "Build the libFuzzer harnesses (needs clang)" OFF)
if(TARNWICK_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TARNWICK_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
