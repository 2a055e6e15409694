; saves: says so on its first frame and never ends that frame: it saves the scene to
; "user://save.scene" again and again. Assembled with tests/data/scripts/make_scripts.sh.
header 0 0
stack 32
function "update" (float) at=@update decl="void update(float dt)"

update:
    line
    text "saving"
    func 36             ; print a line
save:
    line
    text "user://save.scene" ; SaveScene("user://save.scene", root, false, false)
    root
    push 0
    push 0
    func 72
    jump save
