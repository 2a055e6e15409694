#pragma once

// Baked light kept as one colour per mesh vertex, the way models carry their lightmaps: a
// colour buffer (a vertex buffer of packed ARGB colours, drawn as a second vertex stream) and a
// working copy of the same colours as floats, with the tools that make, fill, bake, save and
// load them. The file is text: "vertexcount = <n>", then one line per vertex holding a tab and
// the packed colour in upper-case hexadecimal.

#include "core/math/Vector.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace quarn {

class IndexBuffer;
class Pivot;
class VertexBuffer;

// Empty float colours count as none. With a buffer of at least `count` vertices and no float
// colours, the float colours are read from the buffer (true). Otherwise a buffer of fewer
// vertices is dropped with the float colours, and whatever is missing is made anew for `count`
// vertices (false: the colours are not set yet). Without a render device no buffer is made.
bool PrepareVertexColourBuffers(std::vector<Float4>& colours, std::unique_ptr<VertexBuffer>& buffer,
                                uint32_t count);

// Every vertex gets the colour, packed channel by channel as trunc(c x 255) clamped to 0..255;
// float colours are made for the buffer's vertices when there are none. Nothing without a buffer.
void FillVertexColours(std::vector<Float4>& colours, VertexBuffer* buffer, float r, float g,
                       float b, float a);

// Bakes the light falling on every vertex of `vertices` (the model's own, in its local space)
// into the buffer and the float colours: the mean of the samples taken at each corner of each
// triangle of `indices`, times `brightness`, with alpha 1. Samples are taken only while light-bake
// settings with a sampler are installed; a vertex without one accepted sample is black.
// Vertices beyond the buffer or the float colours are left out, as are triangles that name a
// vertex `vertices` lacks.
void ComputeVertexLighting(Pivot& model, std::vector<Float4>& colours, VertexBuffer* buffer,
                           VertexBuffer* vertices, IndexBuffer* indices, float brightness);

// Writes the file, creating missing folders; each vertex from its float colour where `colours`
// has one, else from the buffer. The file is replaced whole or not at all; false when it could
// not be written.
bool SaveVertexColourFile(const char* path, VertexBuffer& buffer, std::span<const Float4> colours);

// Reads the file into the first `count` vertices of the buffer, which is made anew when it is
// missing or smaller. Comment lines ('#') may come before the header. Vertices the file has no
// line for become opaque white, as do all of them when the file does not open. Answers whether
// it opened; `fileCount` (when given) receives the header's vertex count, 0 when it did not.
bool LoadVertexColourFile(const char* path, std::unique_ptr<VertexBuffer>& buffer, uint32_t count,
                          int32_t* fileCount = nullptr);

} // namespace quarn
