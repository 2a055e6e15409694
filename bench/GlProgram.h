#pragma once

// OpenGL entry points past 1.1 that OSMesa hands out by name, and a linked GLSL program; either
// failing ends the benchmark.

#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/osmesa.h>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace quarn::bench {

template <typename Function>
Function GlFunction(const char* name) {
    auto function = reinterpret_cast<Function>(OSMesaGetProcAddress(name));
    if (function == nullptr) {
        std::fprintf(stderr, "OSMesa has no %s\n", name);
        std::exit(1);
    }
    return function;
}

// The program of the two shaders, in use when it returns.
inline GLuint UseNewProgram(const char* vertex, const char* fragment) {
    const auto createShader = GlFunction<PFNGLCREATESHADERPROC>("glCreateShader");
    const auto shaderSource = GlFunction<PFNGLSHADERSOURCEPROC>("glShaderSource");
    const auto compileShader = GlFunction<PFNGLCOMPILESHADERPROC>("glCompileShader");
    const auto getShader = GlFunction<PFNGLGETSHADERIVPROC>("glGetShaderiv");
    const auto createProgram = GlFunction<PFNGLCREATEPROGRAMPROC>("glCreateProgram");
    const auto attachShader = GlFunction<PFNGLATTACHSHADERPROC>("glAttachShader");
    const auto linkProgram = GlFunction<PFNGLLINKPROGRAMPROC>("glLinkProgram");
    const auto getProgram = GlFunction<PFNGLGETPROGRAMIVPROC>("glGetProgramiv");
    const auto useProgram = GlFunction<PFNGLUSEPROGRAMPROC>("glUseProgram");
    const GLuint program = createProgram();
    for (const auto& [type, source] :
         {std::pair{GL_VERTEX_SHADER, vertex}, std::pair{GL_FRAGMENT_SHADER, fragment}}) {
        const GLuint shader = createShader(type);
        shaderSource(shader, 1, &source, nullptr);
        compileShader(shader);
        GLint compiled = 0;
        getShader(shader, GL_COMPILE_STATUS, &compiled);
        if (!compiled) {
            std::fprintf(stderr, "the peer's shader does not compile\n");
            std::exit(1);
        }
        attachShader(program, shader);
    }
    linkProgram(program);
    GLint linked = 0;
    getProgram(program, GL_LINK_STATUS, &linked);
    if (!linked) {
        std::fprintf(stderr, "the peer's program does not link\n");
        std::exit(1);
    }
    useProgram(program);
    return program;
}

} // namespace quarn::bench
