; copies: says so on its first frame and never ends that frame: it copies "data.bin" of its game
; into "user://copy.bin" again and again. Assembled with tests/data/scripts/make_scripts.sh.
header 0 0
stack 32
function "update" (float) at=@update decl="void update(float dt)"

update:
    line
    text "copying"
    func 36             ; print a line
copy:
    line
    text "data.bin"     ; CopyFile("data.bin", "user://copy.bin")
    text "user://copy.bin"
    func 92
    jump copy
