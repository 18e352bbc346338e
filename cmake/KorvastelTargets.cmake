# Helpers that give every folder the same shape: one static library made of the
# folder's sources, and one GoogleTest executable made of its tests/ folder.
#
# Sources are globbed so that adding a file to a folder needs no CMake edit.

# korvastel_library(<name> [PUBLIC <targets>...] [PRIVATE <targets>...])
# PUBLIC: what the folder's headers include, so every user of the library
# needs it too. PRIVATE: what only its sources use; a static library still
# hands these on to the final link, but not their headers or compile flags.
function(korvastel_library name)
  cmake_parse_arguments(ARG "" "" "PUBLIC;PRIVATE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(NOT sources)
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
endfunction()

# korvastel_tests(<name> [OWN_MAIN] [USES_OPENCL] [WARMS_OPENCL_CACHE <filter>]
#                  [LINKS <targets>...])
# Builds tests/*.cpp of the current folder into <name>_tests and registers each
# test case with CTest. OWN_MAIN: one of the files defines main() itself (for
# instance to create a QApplication first).
#
# pocl's program cache cannot take several processes compiling the same
# program at once: one may read the entry another is still writing, and pocl
# aborts. Tests run as parallel processes, so the programs are compiled first,
# one process at a time, and the OpenCL tests wait for that.
# WARMS_OPENCL_CACHE: the test cases (a GoogleTest filter) that build this
# folder's programs in every variant; they run before every USES_OPENCL test.
function(korvastel_tests name)
  if(NOT KORVASTEL_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "OWN_MAIN;USES_OPENCL" "WARMS_OPENCL_CACHE" "LINKS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.h)
  if(NOT sources OR NOT TARGET ${name})
    return()
  endif()
  add_executable(${name}_tests ${sources})
  if(ARG_OWN_MAIN)
    target_link_libraries(${name}_tests PRIVATE GTest::gtest GTest::gmock)
  else()
    target_link_libraries(${name}_tests PRIVATE GTest::gtest_main GTest::gmock)
  endif()
  target_link_libraries(${name}_tests PRIVATE ${ARG_LINKS})
  if(KORVASTEL_SANITIZE)
    target_link_libraries(${name}_tests PRIVATE testsupport_leak_check)
  endif()
  target_compile_definitions(${name}_tests PRIVATE
    KORVASTEL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  # Each property holds one setting: test discovery splits a list value apart.
  # Idle OpenMP threads sleep: test processes run side by side.
  set(properties
    TIMEOUT 600
    ENVIRONMENT "QT_XCB_GL_INTEGRATION=xcb_glx"
    ENVIRONMENT_MODIFICATION "OMP_WAIT_POLICY=set:passive")
  if(ARG_WARMS_OPENCL_CACHE)
    add_test(NAME ${name}.OpenClProgramCache
      COMMAND ${name}_tests --gtest_filter=${ARG_WARMS_OPENCL_CACHE}
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    set_tests_properties(${name}.OpenClProgramCache PROPERTIES ${properties}
      FIXTURES_SETUP OpenClProgramCache
      RESOURCE_LOCK OpenClProgramCache)
  endif()
  if(ARG_USES_OPENCL)
    list(APPEND properties FIXTURES_REQUIRED OpenClProgramCache)
  endif()
  gtest_discover_tests(${name}_tests
    DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES ${properties})
endfunction()

# korvastel_benchmark(<source> [LINKS <targets>...])
# One Google Benchmark executable named after the source file.
function(korvastel_benchmark source)
  if(NOT KORVASTEL_BUILD_BENCHMARKS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "LINKS" ${ARGN})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE benchmark::benchmark ${ARG_LINKS})
endfunction()
