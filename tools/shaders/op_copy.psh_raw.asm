; Post-processing COPY: the source image (s0 at t0) unchanged, times the quad's vertex colour,
; so a node's colour and opacity still tint and fade it.
ps_2_0
dcl t0.xy
dcl v0
dcl_2d s0
texld r0, t0, s0
mul r0, r0, v0
mov oC0, r0
