; The vertices of a shadow volume, each a position (v0) and its
; extrusion offset, which the volume's vertex format carries in the normal slot (v1). The moved
; position goes through the world-view-projection matrix in c0-c3. No pixel program: the volume
; only counts into the stencil buffer.
vs_1_1
dcl_position v0
dcl_normal v1
add r0.xyz, v0, v1
mov r0.w, v0.w
m4x4 oPos, r0, c0
