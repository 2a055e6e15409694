#pragma once

namespace quarn {

class Mesh;

// Reads a Wavefront OBJ file into the mesh: positions, texture coordinates and normals (z
// negated, v flipped to 1 - v), faces as triangle fans, one vertex per distinct corner
// (position, texture, normal reference), and "g" and "o" names, each triangle's flags word
// holding the number of such lines before it. Materials and smoothing groups are skipped. A
// file with more than 65536 distinct corners logs "Error: Invalid mesh file '%s'", and one with
// a coordinate that is missing or not a number as strtod reads it (in the C locale) logs the
// text and its line; either leaves the mesh alone (false).
bool ReadObj(Mesh& mesh, const char* path);

} // namespace quarn
