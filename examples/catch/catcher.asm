; catcher: counts the crates the basket catches, keeps the speed of the last landing and puts
; each crate back on top. The basket's signalenter names this node, so its first port function,
; caught, is called once each time a volume starts touching the basket; the world's witness
; names it too, so collision is called every step for every pair that touches.
header 0 0
stack 64
var "crate" RigidBody kind=2                                         ; 0
var "counter" TextPlate kind=2                                       ; 1
var "top" float3 kind=2 decl="public float3 top default=0.0,2.0,10.0" ; 2: three words
var "catches" int kind=2 decl="public int catches default=0"         ; 5
var "landing" float kind=2                                           ; 6
function "caught" (entity, entity, float) at=@caught port
function "collision" (CollisionVolume, CollisionVolume, float3, float3, float, float, float) at=@collision

; collision(a, b, point, normal, normal speed, tangent speed, area): the event's numbers in
; order, the normal speed at -3. It is negative while the two close in.
collision:
    line
    push 6                          ; landing = -(normal speed)
    push -3
    loadlocal 1
    op float "-():float"
    store 1
    return 11 0                     ; drops the eleven argument words

; caught(entity basket, entity other, float value): the volume whose signalenter names this
; node (at -3), the volume that touched it (-2) and 1.0 (-1).
caught:
    line
    push 5                          ; catches = catches + 1
    push 5
    load 1
    push 1
    op int "+(int):int"
    store 1
    line
    push 1
    load 1                          ; counter.text = "Catches: " + catches
    push prop:TextPlate.text
    text "Catches: "
    push 5
    load 1
    op string "+(int):string"
    setprop 1
    line
    push 0
    load 1                          ; crate.pos = top
    push prop:Pivot.pos
    push 2
    load 3
    setprop 3
    line
    push 0
    load 1
    method method:RigidBody.amk 0   ; crate.ResetMotion(): it falls again from rest
    return 3 0                      ; drops the three arguments
