#pragma once

#include "collision/CollisionContact.h"
#include "collision/FaceRoutines.h"

#include <span>

namespace quarn {

// The ray o + t v (v of any length) against the infinite cylinder of the disc's rim: the nearer
// crossing ahead, else the farther one (perhaps behind); -1 when parallel or missing.
float RayCylinderParameter(const SupportFace& disc, const Float3& o, const Float3& v);

// The colliders of the feature table. Each works in the frame it is given (the general route
// hands it the world frame), writes within the room of `contacts` and returns the count; d is
// the contact direction from the first feature toward the second.

// One contact at the vertex, even when it lies above the disc, edge or face (negative depth).
int CollideDiscVertex(const SupportFace& disc, const SupportFace& vertex, const Float3& d,
                      std::span<CollisionContact> contacts);
int CollideEdgeVertex(const SupportFace& edge, const SupportFace& vertex, const Float3& d,
                      std::span<CollisionContact> contacts);
int CollideFaceVertex(const SupportFace& face, const SupportFace& vertex, const Float3& d,
                      std::span<CollisionContact> contacts);
// Where the second edge crosses the plane through the first edge's start across d.
int CollideEdgeEdge(const SupportFace& first, const SupportFace& second, const Float3& d,
                    std::span<CollisionContact> contacts);
// The edge's end points below the face within its outline, and its crossings of the sides.
int CollideFaceEdge(const SupportFace& face, const SupportFace& edge, const Float3& d,
                    std::span<CollisionContact> contacts);
// Each polygon's vertices inside the other, then one polygon's edges clipped to the other.
int CollideFacePair(const SupportFace& first, const SupportFace& second, const Float3& d,
                    std::span<CollisionContact> contacts);
// A rim point on the rim side; the edge's ends within the disc's solid on the flat side.
int CollideDiscEdge(const SupportFace& disc, const SupportFace& edge, const Float3& d,
                    std::span<CollisionContact> contacts);
// The face's vertices and edges within the disc's solid, and the disc's rim points below the
// face.
int CollideFaceDisc(const SupportFace& face, const SupportFace& disc, const Float3& d,
                    std::span<CollisionContact> contacts);

} // namespace quarn
