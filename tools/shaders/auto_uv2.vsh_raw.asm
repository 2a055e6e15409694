; As auto_uv, with the vertex's own texture coordinates kept in set 0 and the
; generated ones, (x, -y) of the object-space position, in set 1.
vs_1_1
dcl_position v0
dcl_texcoord v1
def c20, 1, -1, 0, 0
m4x4 oPos, v0, c0
mov oT0.xy, v1.xy
mul oT1.xy, v0.xy, c20.xy
mov r0, c4
mul oD0.xyz, c5, r0.x
mov oD0.w, c5.w
