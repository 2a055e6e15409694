; One texture over a terrain, its coordinates the world-space x
; and z (the world matrix in c7-c10), one repeat per unit. The colour c5 times the brightness
; (c4.x) is shaded by 0.5 + 0.5 * the y of the normalised world normal; the opacity is c5.w.
vs_1_1
dcl_position v0
dcl_normal v1
def c20, 0.5, 0.5, 1e-20, 0
m4x4 oPos, v0, c0
m4x4 r0, v0, c7
mov oT0.xy, r0.xz
m3x3 r1.xyz, v1, c7
dp3 r2.x, r1, r1
max r2.x, r2.x, c20.z
rsq r2.x, r2.x
mul r1.y, r1.y, r2.x
mad r2.y, r1.y, c20.x, c20.y
mov r3, c4
mul r2.y, r2.y, r3.x
mul oD0.xyz, c5, r2.y
mov oD0.w, c5.w
