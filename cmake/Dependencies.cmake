# Every third-party package the project builds against, found once here so that
# each folder's target only names what it links.

find_package(Qt5 5.15 REQUIRED COMPONENTS Core Gui Widgets OpenGL Network Concurrent Svg LinguistTools)
find_package(OpenGL REQUIRED COMPONENTS OpenGL GLX)
find_package(GLEW REQUIRED)
find_package(OpenCL REQUIRED)
find_package(OpenMP REQUIRED COMPONENTS CXX)
find_package(Boost 1.74 REQUIRED COMPONENTS thread filesystem system chrono date_time)
find_package(Eigen3 3.3 REQUIRED NO_MODULE)
find_package(ZLIB REQUIRED)
find_package(PNG REQUIRED)
find_package(log4cxx REQUIRED)
find_package(OpenMesh REQUIRED)
find_package(Threads REQUIRED)

# OpenNI 2 ships neither a CMake package nor a pkg-config file on Debian.
find_path(OPENNI2_INCLUDE_DIR OpenNI.h PATH_SUFFIXES openni2 REQUIRED)
find_library(OPENNI2_LIBRARY OpenNI2 REQUIRED)
add_library(OpenNI2::OpenNI2 UNKNOWN IMPORTED)
set_target_properties(OpenNI2::OpenNI2 PROPERTIES
  IMPORTED_LOCATION ${OPENNI2_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${OPENNI2_INCLUDE_DIR})

# FLANN's pkg-config file pulls in HDF5; the C++ interface is headers only,
# whose index saving and loading call LZ4.
find_path(FLANN_INCLUDE_DIR flann/flann.hpp REQUIRED)
find_library(LZ4_LIBRARY lz4 REQUIRED)
add_library(FLANN::FLANN INTERFACE IMPORTED)
set_target_properties(FLANN::FLANN PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${FLANN_INCLUDE_DIR}
  INTERFACE_LINK_LIBRARIES ${LZ4_LIBRARY})

# OpenMesh's package config defines plain library names.
add_library(OpenMesh::OpenMesh INTERFACE IMPORTED)
set_target_properties(OpenMesh::OpenMesh PROPERTIES
  INTERFACE_LINK_LIBRARIES "OpenMeshCore;OpenMeshTools"
  INTERFACE_COMPILE_DEFINITIONS "_USE_MATH_DEFINES")

# The test-support library, which benchmarks share, builds on GoogleTest too.
if(KORVASTEL_BUILD_TESTS OR KORVASTEL_BUILD_BENCHMARKS)
  find_package(GTest REQUIRED)
  find_package(Qt5 5.15 REQUIRED COMPONENTS Test)
  include(GoogleTest)
endif()
if(KORVASTEL_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()
