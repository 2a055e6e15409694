; Post-processing GLOW: the source colour plus the extra texture's (s1 at t1) times the node's
; value (c4.z), clamped to [0, 1]; an unbound s1 reads black. Alpha from the source. Times the
; quad's vertex colour.
ps_2_0
dcl t0.xy
dcl t1.xy
dcl v0
dcl_2d s0
dcl_2d s1
texld r0, t0, s0
texld r1, t1, s1
mad_sat r0.xyz, r1, c4.z, r0
mul r0, r0, v0
mov oC0, r0
