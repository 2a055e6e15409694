; steps: prints the time each frame stepped the game by, one line a frame. Assembled with
; tests/data/scripts/make_scripts.sh.
header 0 0
stack 32
function "update" (float) at=@update decl="void update(float dt)"

update:
    line
    push -1             ; print(FloatText(dt))
    loadlocal 1
    func 30
    func 36
    return 1 0
