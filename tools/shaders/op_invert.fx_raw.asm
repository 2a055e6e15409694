; Post-processing INVERT: one minus the source colour; alpha from the source. Times the quad's
; vertex colour.
ps_2_0
dcl t0.xy
dcl v0
dcl_2d s0
def c31, 1, 0, 0, 0
texld r0, t0, s0
add r0.xyz, c31.x, -r0
mul r0, r0, v0
mov oC0, r0
