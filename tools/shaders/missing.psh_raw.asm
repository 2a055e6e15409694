; What a shader that failed to load draws. Opaque magenta, with the alpha of
; layer 0's texture times the opacity in c5.w, so the object keeps its outline; an unbound
; sampler reads opaque black, so an untextured object is plain magenta.
ps_2_0
dcl t0.xy
dcl_2d s0
def c31, 1, 0, 1, 1
texld r0, t0, s0
mul r1.w, r0.w, c5.w
mov r1.xyz, c31
mov oC0, r1
