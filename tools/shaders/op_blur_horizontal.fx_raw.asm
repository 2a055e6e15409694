; Post-processing BLUR_HORIZONTAL: five taps of the source weighted 1, 4, 6, 4, 1
; over 16, one source texel apart across (c11.z = 1 / texture width).
; Alpha from the centre tap. Times the quad's vertex colour.
ps_2_0
dcl t0.xy
dcl v0
dcl_2d s0
def c30, 1, 0, 0, 0
def c31, 0.0625, 0.25, 0.375, 2
mul r5.xy, c30, c11.z
mul r6.xy, r5, c31.w
add r1.xy, t0, -r6
add r2.xy, t0, -r5
add r3.xy, t0, r5
add r4.xy, t0, r6
texld r0, t0, s0
texld r1, r1, s0
texld r2, r2, s0
texld r3, r3, s0
texld r4, r4, s0
mul r0.xyz, r0, c31.z
add r1.xyz, r1, r4
mad r0.xyz, r1, c31.x, r0
add r2.xyz, r2, r3
mad r0.xyz, r2, c31.y, r0
mul r0, r0, v0
mov oC0, r0
