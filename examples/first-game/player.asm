; player: moves the gem with the arrow keys and counts the arrow presses on a text plate.
; The build assembles it into player.bin and player.sym, as
;   quarn-tool script asm player.asm player
; does; the scene's "Player" node runs it (scriptfile = "player.script").
; docs/scripting.md lists every command, method and key code used here.

header 0 0
stack 64

; Public variables (kind=2) are properties of the Script node: the scene sets the first three
; to the ids of the nodes the script works on. Each takes the next free word: the numbers on
; the right are the offsets that load and store use.
var "sprite" Sprite kind=2                                        ; 0: the gem
var "keys" KeyboardInterface kind=2                               ; 1: reads the keyboard
var "counter" TextPlate kind=2                                    ; 2: shows the presses
var "speed" float kind=2 decl="public float speed default=300.0"  ; 3: pixels a second
var "presses" int kind=2 decl="public int presses default=0"      ; 4

function "update" (float) at=@update
function "axis" (int, int):float at=@axis

; update(float dt): the engine calls it every frame with the frame's step in seconds, dt, at
; frame offset -1.
update:
    line
    push 1
    load 1                          ; keys
    method method:KeyboardInterface.art 0 ; GetLastPressedKey(): local 0, the key pressed now
    line
    push 0
    loadlocal 1
    push 61                         ; "Left" (61) to "Down" (64) are the arrow keys
    op int ">=(int):bool"
    push 0
    loadlocal 1
    push 64
    op int "<=(int):bool"
    op bool "&&(bool):bool"
    jumpifnot move
    line
    push 4                          ; presses = presses + 1
    push 4
    load 1
    push 1
    op int "+(int):int"
    store 1
    line
    push 2
    load 1                          ; counter.text = "Arrow presses: " + presses
    push prop:TextPlate.text
    text "Arrow presses: "
    push 4
    load 1
    op string "+(int):string"
    setprop 1
move:
    line
    push 0
    load 1                          ; sprite.pos = sprite.pos + (x, y, 0) * (speed * dt)
    push prop:Pivot.pos
    push 0
    load 1
    push prop:Pivot.pos
    getprop
    push 61
    push 62
    call @axis                      ; x: Left and Right
    push 63
    push 64
    call @axis                      ; y: Up and Down (screen y grows downward)
    push 0.0
    push 3
    load 1                          ; speed
    push -1
    loadlocal 1                     ; dt
    op float "*(float):float"
    op float3 "*(float):float3"
    op float3 "+(float3):float3"
    setprop 3
    line
    return 2 0                      ; drops dt and the local

; axis(int minus, int plus): -1.0 while the key "minus" is held, 1.0 while "plus" is, else 0.0
; (both: 0.0). The arguments lie at -2 and -1; the result is local 0.
axis:
    line
    push 0.0
    push 1
    load 1
    push -2
    loadlocal 1
    method method:KeyboardInterface.arp 1 ; keys.IsDown(minus)
    jumpifnot plus
    push 0
    push -1.0
    storelocal 1
plus:
    line
    push 1
    load 1
    push -1
    loadlocal 1
    method method:KeyboardInterface.arp 1 ; keys.IsDown(plus)
    jumpifnot done
    push 0
    push 0
    loadlocal 1
    push 1.0
    op float "+(float):float"
    storelocal 1
done:
    line
    push 0
    loadlocal 1
    return 3 1                      ; drops minus, plus and the local; leaves the result
