; sounding: plays the sound of its public variable "sound" in its first frame, counts the frames
; that find it playing, from that first one on, then prints "played for N frames" and switches
; the scene's root off, which ends the player. Assembled with tests/data/scripts/make_scripts.sh.
header 0 0
stack 32
var "sound" SoundEmitter kind=2
var "started" bool
var "frames" int
function "update" (float) at=@update decl="void update(float dt)"

update:
    line
    push 1
    load 1
    jumpif playing
    push 0              ; sound.Play()
    load 1
    method method:SoundEmitter.ahw 0
    push 1              ; started = true
    push 1
    store 1
playing:
    line
    push 0              ; if (sound.IsPlaying()) frames = frames + 1
    load 1
    method method:SoundEmitter.ahz 0
    jumpifnot ended
    push 2
    push 2
    load 1
    push 1
    op int "+(int):int"
    store 1
    return 1 0
ended:
    line
    text "played for "     ; print("played for " + frames + " frames")
    push 2
    load 1
    op string "+(int):string"
    text " frames"
    op string "+(string):string"
    func 36
    line
    root                ; root.flags = 0: the player ends
    push prop:Node.flags
    push 0
    setprop 1
    return 1 0
