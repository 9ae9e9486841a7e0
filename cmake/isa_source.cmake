# oxrin_isa_source(SOURCE OPTION...): compiles SOURCE, one of a set of
# vector paths the program chooses among at run time from what the
# processor reports, with the instruction-set OPTIONs (e.g. -mavx2) and
# nothing else built for them.  GCC 12's own AVX-512 headers trip its
# uninitialised-use warning, which is turned off for AVX-512 sources.  (The
# Windows build's unaligned spills of wide vectors are the toolchain
# file's, cmake/mingw64.cmake, for every source.)
function(oxrin_isa_source source)
  set(options ${ARGN})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND "${ARGN}" MATCHES "avx512")
    list(APPEND options -Wno-maybe-uninitialized)
  endif()
  set_property(SOURCE ${source} APPEND PROPERTY COMPILE_OPTIONS ${options})
endfunction()
