#include "render/GlProgram.h"

#include "core/EmbeddedSource.h"
#include "core/GlImage.h"
#include "core/GlObjectRelease.h"
#include "core/Logging.h"

#include <GL/glew.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <stdexcept>

namespace Veltrane {
namespace {

/// What drivers report for a shader that compiled cleanly.
bool isSuccessNotice(const std::string& log)
{
    static const char* const notices[] = {
        "Fragment shader was successfully compiled to run on hardware.\n",
        "Vertex shader was successfully compiled to run on hardware.\n",
        "No errors.\n",
        "No errors.",
    };
    return std::find(std::begin(notices), std::end(notices), log) != std::end(notices);
}

/// The info log of a shader or program object; empty when it holds at most
/// the terminating zero.
std::string infoLog(GLuint object, PFNGLGETSHADERIVPROC getParameter,
                    PFNGLGETSHADERINFOLOGPROC getLog)
{
    GLint length = 0;
    getParameter(object, GL_INFO_LOG_LENGTH, &length);
    if (length <= 1)
        return {};
    std::string log(static_cast<std::size_t>(length), '\0');
    GLsizei written = 0;
    getLog(object, length, &written, log.data());
    log.resize(static_cast<std::size_t>(written));
    return log;
}

/// Index just past the comments and white space that start `source` at `from`.
std::size_t skipCommentsAndSpace(const std::string& source, std::size_t from)
{
    std::size_t i = from;
    while (i < source.size()) {
        if (std::isspace(static_cast<unsigned char>(source[i]))) {
            ++i;
        } else if (source.compare(i, 2, "//") == 0) {
            i = source.find('\n', i);
            if (i == std::string::npos)
                return source.size();
        } else if (source.compare(i, 2, "/*") == 0) {
            i = source.find("*/", i + 2);
            if (i == std::string::npos)
                return source.size();
            i += 2;
        } else {
            break;
        }
    }
    return i;
}

}  // namespace

std::string sourceWithDefines(const std::string& source, const std::string& defines)
{
    if (defines.empty())
        return source;
    const std::size_t directive = skipCommentsAndSpace(source, 0);
    if (source.compare(directive, 8, "#version") != 0)
        return defines + source;
    const std::size_t lineEnd = source.find('\n', directive);
    if (lineEnd == std::string::npos)
        return source + "\n" + defines;
    return source.substr(0, lineEnd + 1) + defines + source.substr(lineEnd + 1);
}

GlProgram::GlProgram(const char* fragmentName, const char* vertexName, const char* geometryName,
                     const char* defines)
    : m_owner(currentGlOwner(GlObjectType::Program))
{
    collectReleasedGlObjects();
    m_program = glCreateProgram();
    const std::array<std::pair<const char*, GLenum>, 3> stages = {{
        {fragmentName, GL_FRAGMENT_SHADER},
        {vertexName, GL_VERTEX_SHADER},
        {geometryName, GL_GEOMETRY_SHADER},
    }};
    for (const auto& [name, type] : stages) {
        if (!name)
            continue;
        m_shaderNames.emplace_back(name);
        m_shaders.push_back(glCreateShader(type));
    }
    if (defines)
        m_defines = defines;
    try {
        link(true);
    } catch (...) {
        releaseObjects();
        throw;
    }
}

GlProgram::~GlProgram()
{
    releaseObjects();
}

void GlProgram::releaseObjects()
{
    // A shader deleted while attached goes with the program that holds it.
    for (GLuint shader : m_shaders)
        releaseGlObject(GlObjectType::Shader, shader, m_owner);
    releaseGlObject(GlObjectType::Program, m_program, m_owner);
}

void GlProgram::bind() const
{
    glUseProgram(m_program);
}

void GlProgram::unbind() const
{
    glUseProgram(0);
}

void GlProgram::setDefines(const std::string& defines)
{
    if (defines == m_defines)
        return;
    m_defines = defines;
    link(false);
}

void GlProgram::link(bool firstTime)
{
    for (std::size_t stage = 0; stage < m_shaders.size(); ++stage) {
        if (!firstTime)
            glDetachShader(m_program, m_shaders[stage]);
        compileShader(stage);
        glAttachShader(m_program, m_shaders[stage]);
    }
    glLinkProgram(m_program);
    GLint linked = GL_FALSE;
    glGetProgramiv(m_program, GL_LINK_STATUS, &linked);
    if (linked)
        return;
    VELTRANE_ERROR("Error linking GLSL program!");
    const std::string log = infoLog(m_program, glGetProgramiv, glGetProgramInfoLog);
    if (!log.empty())
        VELTRANE_INFO("Program Info Log: " << log);
    throw std::runtime_error("Error creating shader program");
}

void GlProgram::compileShader(std::size_t stage)
{
    const std::string& name = m_shaderNames[stage];
    const std::string source = embeddedSource(name + ".gl");
    if (source.empty()) {
        VELTRANE_ERROR("Could not load shader program " << name);
        throw std::runtime_error("Missing shader");
    }
    const std::string text = sourceWithDefines(source, m_defines);
    const GLchar* texts[] = {text.c_str()};
    const GLuint shader = m_shaders[stage];
    glShaderSource(shader, 1, texts, nullptr);
    glCompileShader(shader);
    GLint compiled = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (!compiled)
        VELTRANE_ERROR("Error compiling shader " << name);
    const std::string log = infoLog(shader, glGetShaderiv, glGetShaderInfoLog);
    if (!log.empty() && !isSuccessNotice(log))
        VELTRANE_INFO("Shader info log: " << log);
}

int GlProgram::uniformLocation(const char* name) const
{
    return glGetUniformLocation(m_program, name);
}

void GlProgram::setUniformInt(const char* name, int value) const
{
    glUniform1i(uniformLocation(name), value);
}

void GlProgram::setUniformFloat(const char* name, float value) const
{
    glUniform1f(uniformLocation(name), value);
}

void GlProgram::setUniformVec3(const char* name, const float* v) const
{
    glUniform3fv(uniformLocation(name), 1, v);
}

void GlProgram::setUniformVec4(const char* name, const float* v) const
{
    glUniform4fv(uniformLocation(name), 1, v);
}

void GlProgram::setUniformMat3(const char* name, const float* m) const
{
    glUniformMatrix3fv(uniformLocation(name), 1, GL_FALSE, m);
}

void GlProgram::setUniformMat4(const char* name, const float* m) const
{
    glUniformMatrix4fv(uniformLocation(name), 1, GL_FALSE, m);
}

void GlProgram::setUniformVec3d(const char* name, const double* v) const
{
    const float values[3] = {static_cast<float>(v[0]), static_cast<float>(v[1]),
                             static_cast<float>(v[2])};
    setUniformVec3(name, values);
}

void GlProgram::setUniformMat4d(const char* name, const double* m) const
{
    float values[16];
    std::transform(m, m + 16, values, [](double value) { return static_cast<float>(value); });
    setUniformMat4(name, values);
}

void GlProgram::setTexture(const char* name, GlImage* image)
{
    const int unit = textureCount();
    m_textures.push_back(image);
    image->bind(unit);
    setUniformInt(name, unit);
}

void GlProgram::setOptionalTexture(const char* name, GlImage* image)
{
    if (image)
        setTexture(name, image);
}

void GlProgram::releaseTextures()
{
    for (auto image = m_textures.rbegin(); image != m_textures.rend(); ++image)
        (*image)->unbind();
    m_textures.clear();
}

}  // namespace Veltrane
