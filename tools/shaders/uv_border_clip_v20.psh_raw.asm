; Layer 0's texture times the diffuse colour, drawn only where
; texture coordinate 0 lies in [0, 1]: texkill drops the pixel when u, v, 1 - u or 1 - v is
; negative.
ps_2_0
dcl t0.xy
dcl v0
dcl_2d s0
def c31, 1, 0, 0, 0
mov r1.xy, t0
add r1.zw, c31.x, -t0.xyxy
texkill r1
texld r0, t0, s0
mul r0, r0, v0
mov oC0, r0
