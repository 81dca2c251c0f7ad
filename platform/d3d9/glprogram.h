// Compiling and linking the GL programs of the Direct3D stand-in: the present
// pass, the built-in draw program and the effects' programs.
#pragma once

#include <epoxy/gl.h>

#include <string>

// Compiles a vertex and a fragment stage, each its prelude (may be "") followed
// by its body, and links them. Returns 0 when a stage or the link fails; the
// compiler's or linker's words are appended to *errors when errors is given.
// retrievable asks the driver to keep the linked binary for the program cache.
GLuint D3D9_BuildProgram(const char* vertexPrelude, const char* vertexBody, const char* fragmentPrelude,
                         const char* fragmentBody, std::string* errors = nullptr, bool retrievable = false);
