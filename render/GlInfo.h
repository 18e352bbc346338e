#pragma once

namespace Veltrane {

/// Loads the OpenGL entry points (GLEW) and logs the OpenGL version, the
/// renderer and the GPU memory. With OpenGL 2.1 enables the vertex and
/// texture-coordinate client arrays and returns true; otherwise logs
/// "OpenGL 2.1 not available" at ERROR and returns false. Needs a current
/// context; throws std::runtime_error when the memory queries raise an
/// OpenGL error.
bool logGlInfo();

/// Logs the free GPU memory that the NVIDIA or ATI memory-info extensions
/// report; logs nothing on a driver with neither. Throws std::runtime_error
/// when the queries raise an OpenGL error.
void logGpuMemory();

}  // namespace Veltrane
