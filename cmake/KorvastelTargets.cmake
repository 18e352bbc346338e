# Helpers that give every folder the same shape: one static library made of the
# folder's sources, and one GoogleTest executable made of its tests/ folder.
#
# Sources are globbed so that adding a file to a folder needs no CMake edit.

# korvastel_library(<name> [LINKS <targets>...])
function(korvastel_library name)
  cmake_parse_arguments(ARG "" "" "LINKS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(NOT sources)
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LINKS})
endfunction()

# korvastel_tests(<name> [OWN_MAIN] [LINKS <targets>...])
# Builds tests/*.cpp of the current folder into <name>_tests and registers each
# test case with CTest. OWN_MAIN: one of the files defines main() itself (for
# instance to create a QApplication first).
function(korvastel_tests name)
  if(NOT KORVASTEL_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "OWN_MAIN" "" "LINKS" ${ARGN})
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
  target_compile_definitions(${name}_tests PRIVATE
    KORVASTEL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(${name}_tests
    DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES
      TIMEOUT 600
      # Each property holds one setting: test discovery splits a list value
      # apart. Idle OpenMP threads sleep: test processes run side by side.
      ENVIRONMENT "QT_XCB_GL_INTEGRATION=xcb_glx"
      ENVIRONMENT_MODIFICATION "OMP_WAIT_POLICY=set:passive")
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
