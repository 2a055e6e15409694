; The vertices of a shadow volume: each a position (v0) and a world-space extrusion offset in the
; normal slot (v1). The device mesh feeds the world matrix to c0-c3 and the biased view-projection
; to c4-c7 in volume passes; the offset is added after the world matrix, so a turned or scaled
; node extrudes along the light as given. White, so the alpha test passes; no pixel program: the
; volume only counts into the stencil buffer.
vs_1_1
dcl_position v0
dcl_normal v1
def c20, 1, 1, 1, 1
m4x4 r0, v0, c0
add r0.xyz, r0, v1
m4x4 oPos, r0, c4
mov oD0, c20
