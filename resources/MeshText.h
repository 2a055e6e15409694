#pragma once

namespace quarn {

class Mesh;

// The mesh's own text format: four header lines taken by position (vertex count, index count,
// vertex format words, index format words), then a count line and one line per element for
// each channel the format names (points, normals, uvs, colours, weights), the triangles (a
// list, or a strip), and the per-triangle flags when the index format names "triangleflags".
// Numbers are "%d" and "%f", the fields of a line separated by single blanks.

// Replaces the mesh's content. A header that is too small, names more than 65536 vertices or
// more vertices or indices than the file has bytes logs "Error: Invalid mesh file '%s'" and
// leaves the mesh alone (false). A file that ends early reads zeros.
bool ReadMeshText(Mesh& mesh, const char* path);

// Always writes points, normals and uvs. The file is replaced only once it is written whole;
// false when it could not be.
bool WriteMeshText(const Mesh& mesh, const char* path);

} // namespace quarn
