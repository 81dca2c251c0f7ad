#include "platform/d3d9/glprogram.h"

namespace {

std::string InfoLog(GLuint object, bool program) {
    GLint length = 0;
    if (program) glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
    else glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    std::string log(static_cast<size_t>(length > 0 ? length : 1), '\0');
    if (program) glGetProgramInfoLog(object, length, nullptr, log.data());
    else glGetShaderInfoLog(object, length, nullptr, log.data());
    return log.c_str();
}

GLuint CompileStage(GLenum type, const char* prelude, const char* body, std::string* errors) {
    GLuint shader = glCreateShader(type);
    const char* sources[2] = {prelude, body};
    glShaderSource(shader, 2, sources, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        if (errors)
            *errors += (type == GL_VERTEX_SHADER ? "vertex stage: " : "fragment stage: ") + InfoLog(shader, false);
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

}  // namespace

GLuint D3D9_BuildProgram(const char* vertexPrelude, const char* vertexBody, const char* fragmentPrelude,
                         const char* fragmentBody, std::string* errors, bool retrievable) {
    GLuint v = CompileStage(GL_VERTEX_SHADER, vertexPrelude, vertexBody, errors);
    GLuint f = CompileStage(GL_FRAGMENT_SHADER, fragmentPrelude, fragmentBody, errors);
    if (!v || !f) {
        if (v) glDeleteShader(v);
        if (f) glDeleteShader(f);
        return 0;
    }
    GLuint program = glCreateProgram();
    if (retrievable) glProgramParameteri(program, GL_PROGRAM_BINARY_RETRIEVABLE_HINT, GL_TRUE);
    glAttachShader(program, v);
    glAttachShader(program, f);
    glLinkProgram(program);
    glDeleteShader(v);
    glDeleteShader(f);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        if (errors) *errors += "link: " + InfoLog(program, true);
        glDeleteProgram(program);
        return 0;
    }
    return program;
}
