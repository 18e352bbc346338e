#pragma once

#include <QPointer>

#include <string>
#include <vector>

namespace Veltrane {

class GlImage;

/// One GLSL program built from shader sources carried inside the application
/// (looked up as the stage's base name followed by ".gl").
///
/// A program has a fragment stage, a vertex stage and a geometry stage, each
/// optional, and a text of preprocessor lines (its defines) that every stage
/// is compiled with; changing the defines recompiles and relinks every stage.
/// While bound, it takes uniforms by name and textures through setTexture(),
/// which binds each image to the next free texture unit until
/// releaseTextures().
///
/// Needs the OpenGL context current and its entry points loaded. The program
/// and shader objects are deleted in their share group, even when the program
/// is destroyed with another context current, or none.
class GlProgram {
public:
    /// Builds and links the stages whose names are given (null for none) with
    /// `defines` (null for none). Throws std::runtime_error "Missing shader"
    /// after logging "Could not load shader program <name>" at ERROR when a
    /// stage's source is not carried, and "Error creating shader program"
    /// after logging "Error linking GLSL program!" when the stages do not
    /// compile or link. Nothing is left behind when it throws.
    GlProgram(const char* fragmentName, const char* vertexName, const char* geometryName = nullptr,
              const char* defines = nullptr);
    ~GlProgram();
    GlProgram(const GlProgram&) = delete;
    GlProgram& operator=(const GlProgram&) = delete;

    void bind() const;
    /// Leaves no program in use.
    void unbind() const;

    /// Rebuilds every stage with `defines` and relinks, unless they are the
    /// current ones. A relink resets the uniforms, so set them afterwards.
    /// Throws as the constructor does.
    void setDefines(const std::string& defines);
    const std::string& defines() const { return m_defines; }

    /// Uniform setters: the program must be bound. A name that the linked
    /// program does not use is ignored. Matrices are column-major.
    void setUniformInt(const char* name, int value) const;
    void setUniformFloat(const char* name, float value) const;
    void setUniformVec3(const char* name, const float* v) const;
    void setUniformVec4(const char* name, const float* v) const;
    void setUniformMat3(const char* name, const float* m) const;
    void setUniformMat4(const char* name, const float* m) const;
    /// As above, from doubles converted to float.
    void setUniformVec3d(const char* name, const double* v) const;
    void setUniformMat4d(const char* name, const double* m) const;

    /// Binds `image` to the next free texture unit (0 after
    /// releaseTextures()) and sets the sampler `name` to that unit.
    void setTexture(const char* name, GlImage* image);
    /// setTexture() when `image` is not null; otherwise nothing, and no unit
    /// is used up.
    void setOptionalTexture(const char* name, GlImage* image);
    /// Unbinds the images of the texture setters, the last bound first, and
    /// frees their units.
    void releaseTextures();
    /// Units in use since the last releaseTextures().
    int textureCount() const { return static_cast<int>(m_textures.size()); }

    unsigned program() const { return m_program; }
    /// The shader objects, in the order fragment, vertex, geometry, of the
    /// stages that were given.
    const std::vector<unsigned>& shaders() const { return m_shaders; }

private:
    /// Compiles every stage (detaching them first unless `firstTime`) and
    /// links the program; throws when it does not link.
    void link(bool firstTime);
    void compileShader(std::size_t stage);
    int uniformLocation(const char* name) const;
    void releaseObjects();

    unsigned m_program = 0;
    std::vector<unsigned> m_shaders;
    std::vector<std::string> m_shaderNames;
    std::string m_defines;
    std::vector<GlImage*> m_textures;
    QPointer<QObject> m_owner;
};

/// `source` with `defines` put in front, or after its `#version` line when it
/// starts with one (only comments and white space may precede that line).
std::string sourceWithDefines(const std::string& source, const std::string& defines);

}  // namespace Veltrane
