; spin: says so on its first frame and never ends that frame: each step asks for 2,147,483,647
; octaves of noise, so the step limit lies ages away. Assembled with
; tests/data/scripts/make_scripts.sh.
header 0 0
stack 32
function "update" (float) at=@update decl="void update(float dt)"

update:
    line
    text "spinning"
    func 36             ; print a line
spin:
    line
    push 0.0            ; Fractal(0, 2147483647, 0)
    push 2147483647
    push 0.0
    func 17
    drop 1
    jump spin
