; Post-processing HIGHPASS: what the source colour has above the node's value (c4.z), clamped
; to [0, 1]; alpha from the source. Times the quad's vertex colour.
ps_2_0
dcl t0.xy
dcl v0
dcl_2d s0
texld r0, t0, s0
add_sat r0.xyz, r0, -c4.z
mul r0, r0, v0
mov oC0, r0
