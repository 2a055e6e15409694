; hello: on its first frame says hello through the engine's print function and switches the
; scene's root off, which ends the player. Assembled with tests/data/scripts/make_scripts.sh.
header 0 0
stack 32
function "update" (float) at=@update decl="void update(float dt)"

update:
    line
    text "hello from a script"
    func 36             ; print a line
    line
    root                ; root.flags = 0: the player ends
    push prop:Node.flags
    push 0
    setprop 1
    return 1 0
