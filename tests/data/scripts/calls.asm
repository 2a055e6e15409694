; calls: counts its frames, keeps the sum "add" was last asked for, and has a function that
; fails. Assembled with tests/data/scripts/make_scripts.sh.
header 0 0
stack 64
var "total" int kind=2 decl="public int total default=5"
var "frames" int kind=2 decl="public int frames"
var "greeting" string kind=2 decl="public string greeting default=hello"
function "update" (float) at=@update decl="void update(float dt)"
function "add" (int, int):int at=@add decl="int add(int a, int b)"
function "broken" () at=@broken decl="void broken()"

update:
    line
    push 1              ; frames += 1
    push 1
    load 1
    push 1
    op int "+(int):int"
    store 1
    line
    return 1 0
add:
    line
    push 0              ; total = a + b
    push -2
    loadlocal 1
    push -1
    loadlocal 1
    op int "+(int):int"
    store 1
    line
    push 0              ; return total
    load 1
    return 2 1
broken:
    line
    word 99             ; no such command
