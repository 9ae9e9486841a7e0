# Third-party pieces of the Windows cross build, taken from Debian's
# packages of this machine:
#   RapidJSON and the OpenCL headers: header-only (rapidjson-dev,
#     opencl-c-headers), copied into the build so that /usr/include itself
#     never reaches the cross compiler;
#   cJSON: compiled from the sources of Debian's cjson source package
#     (OXRIN_CJSON_SOURCE_DIR, unpacked by tools/wine_suite.sh);
#   GoogleTest: compiled from /usr/src/googletest (googletest package).
set(OXRIN_HOST_HEADERS ${CMAKE_BINARY_DIR}/third_party/include)
foreach(dir rapidjson CL)
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "/usr/include/${dir} is missing (rapidjson-dev, opencl-c-headers)")
  endif()
  file(COPY /usr/include/${dir} DESTINATION ${OXRIN_HOST_HEADERS})
endforeach()
set(RAPIDJSON_INCLUDE_DIRS ${OXRIN_HOST_HEADERS})

add_library(OpenCL::Headers INTERFACE IMPORTED)
set_target_properties(OpenCL::Headers PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${OXRIN_HOST_HEADERS})

set(OXRIN_CJSON_SOURCE_DIR "" CACHE PATH "Unpacked cJSON sources (cJSON.c, cJSON.h)")
if(NOT EXISTS "${OXRIN_CJSON_SOURCE_DIR}/cJSON.c")
  message(FATAL_ERROR "OXRIN_CJSON_SOURCE_DIR must name the unpacked cjson sources "
                      "(tools/wine_suite.sh fetches them with apt-get source cjson)")
endif()
file(COPY ${OXRIN_CJSON_SOURCE_DIR}/cJSON.h DESTINATION ${OXRIN_HOST_HEADERS}/cjson)
add_library(cjson STATIC ${OXRIN_CJSON_SOURCE_DIR}/cJSON.c)
# Statically linked: nothing of cJSON is exported from the DLLs.
target_compile_definitions(cjson PUBLIC CJSON_HIDE_SYMBOLS)
target_include_directories(cjson PUBLIC ${OXRIN_HOST_HEADERS})
target_compile_options(cjson PRIVATE -w)

if(OXRIN_BUILD_TESTS)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endif()
