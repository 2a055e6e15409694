; Texture coordinates from the object-space position, (x, -y), one repeat per
; unit. c0-c3 world-view-projection, c4.x the brightness, c5 the colour with the opacity in w.
; vs_1_1 reads one constant register per instruction, hence the copies to r0.
vs_1_1
dcl_position v0
def c20, 1, -1, 0, 0
m4x4 oPos, v0, c0
mul oT0.xy, v0.xy, c20.xy
mov r0, c4
mul oD0.xyz, c5, r0.x
mov oD0.w, c5.w
