; counter: counts the frames it runs and says so every tenth.
; Assembled with tests/data/scripts/make_scripts.sh.
header 0 0
stack 256
var "frames" int kind=2 decl="public int frames default=0"
var "step" int kind=2 decl="public int step default=1"
var "done" entity kind=2 hint="signal"
function "update" (float) at=@update decl="void update(float dt)"
function "reset" () at=@reset port decl="void reset()"
local "dt" float offset=-1 first=@update last=@update_end

update:
    push 0              ; frames += step
    push 0
    load 1
    push 1
    load 1
    op int "+(int):int"
    store 1
    line
    push 0              ; every tenth frame: a message
    load 1
    push 10
    op int "%(int):int"
    push 0
    op int "==(int):bool"
    jumpifnot quiet
    line
    text "ten more frames"
    func 36             ; print a line
quiet:
    line
    return 1 0
update_end:
reset:
    line
    push 0
    push 0
    store 1
    return 0 0
