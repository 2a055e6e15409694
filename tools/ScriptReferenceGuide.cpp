#include "tools/ScriptReferenceGuide.h"

namespace quarn {

const char* const ScriptRunCycleGuide =
    R"GUIDE(A `Script` node runs one program. Its property `scriptfile` names the program's source,
`NAME.script`; the engine runs the compiled files beside it, `NAME.bin` and `NAME.sym`, which
`quarn-tool script asm NAME.asm NAME` writes from the assembler's text form (the source file
itself may be missing; when it is there and newer than `NAME.bin`, the program has no code).
The program's public variables become properties of the node: a scene file sets them after
`scriptfile`, in the same object block, and each starts from its `default=` value. A public
variable of a class (`var "levels" DataBase kind=2`) takes only a node of that class or of a
class below it: given a node of another class, it stays none and the log says so ("Script
'game': levels is a DataBase, given TextPlate obj7 (Title)"), as `quarn-tool scene` and
`render` print it.

What the engine calls, and when:

- When the scene loads, each `Script` node loads its program and sets its variables.
- When the game starts (the player's start scene, or Play in the editor), every program's
  `quarn_start()` runs, then every program's `start()`.
- Every frame the scene's nodes are updated in tree order: a node before its children,
  children in the order the scene gives them. A `Script` node first resumes its own code that
  slept (`sleep`, `sleepframe`) once the time has passed, running it until it sleeps or returns
  again; then it calls `update(float dt)`, dt being the frame's step in seconds (a program's
  `update` may also take `(float dt, int mode)`, mode 1 while the game runs). A node made
  during the frame (by a scene a script loads, a copy, a node made by its class name) is first
  updated in the next frame.
- Each step of a physics world (`PhysicsMaster`), `integrate()` runs in every program that has
  it, before the bodies move. After they moved, the world calls `collision`, `trig` and `probe`
  in the programs of the nodes it and its volumes name as `witness`, and the port functions its
  volumes' `signalenter` and `signalleave` name (the reference's "Hearing collisions" tells
  when).
- When the game stops (Stop in the editor), `quarn_stop()` runs.
- While the game is stopped or paused, only an `update(float dt, int mode)` of two parameters
  is called, with mode 2, and code that sleeps waits.
- An event sent to the node's input port N (through a link `ID-N` in the scene from an
  `InputCode`, a signal receiver or another node's output) calls the program's Nth function
  marked `port` (counting from 0) with (entity sender, entity argument, float value). A port
  function declares those parameters or the first of them (`(entity, entity)` takes the
  sender and the argument); `quarn-tool script asm` refuses any other form.
- Writing one of the node's public variables from outside (a scene link, another script, the
  editor) calls `property_changed()` when the program has it.

These functions all run to their end at once unless they sleep: `sleep` (with the seconds on
the stack) and `sleepframe` suspend the code and the node resumes it in a later frame, so a
`start()` that loops with `sleepframe` runs alongside the frames. A runtime error (an entity
that is none, an index out of range, a command the machine does not know) shows a dialog
naming the program, the file and line of the failing command (`game.asm:28` for a program
`quarn-tool script asm game.asm game` wrote) and the calls that led there, and stops that
node's program; headless runs answer the dialog and go on with the other nodes.
)GUIDE";

const char* const ScriptAssemblerGuide =
    R"GUIDE(No compiler for the script language comes with the engine: programs are written in the
assembler's text form and assembled with `quarn-tool script asm NAME.asm NAME`, which writes
`NAME.bin` and `NAME.sym`; `quarn-tool script dis NAME.script` prints a program back in this
form, and `quarn-tool script run NAME.script --frames N` runs it on a Script node of its own.

One statement a line; `;` starts a comment. Texts are double-quoted, with the escapes `\n` (a
line break), `\t` (a tab), `\"`, `\\` and `\xHH` (the byte of two hexadecimal digits); numbers
are decimal or `0x` hexadecimal, negative, or floats when they have a `.`.

| Statement | Meaning |
|---|---|
| `header W W` | two words the loader keeps; write `header 0 0` |
| `stack N` | the size of the value stack in words, and of the call stack in calls (64 is plenty for a small program): the most they may take, as a run takes only as deep as it reaches |
| `var "name" TYPE [kind=2] [decl="... default=VALUE"] [hint="signal"]` | a variable of the program, in the order given; `kind=2` makes it public (a property of the node), `default=` in its declaration gives its first value, and a public entity marked `hint="signal"` is an output port |
| `function "name" (TYPE, ...)[:TYPE] at=@label [port] [state] [export]` | a function: its parameters, its result, where its code starts; `port` makes it an input port |
| `local "name" TYPE first=@a last=@b` | a local variable, for the debugger and error reports |
| `include "name"`, `fixup "name" word=@a hash=@b` | calls into another program (see `extcall`) |
| `label:` | names the code offset of what follows |
| `line` | a mark: the next line starts here; a program without source lines (assembled before they were kept, or given an empty `sourcelines`) counts its lines by these marks |
| `source "name"` | the file the program was written in; without it `script asm` keeps the name of the file it reads |
| `sourcelines OFFSET:LINE...` | the source lines as they stand: the code from OFFSET on was written on LINE (`script dis` writes them; without them each command keeps the line it is on) |
| `members OFFSET:CLASS...` | the class whose member the `getprop`, `setprop` or `method` command at OFFSET names (`script dis` writes them; without them `script asm` records those its type check finds, and an empty `members` records none) |
| `MNEMONIC OPERAND...` | a command (see Commands) |
| `word VALUE...` | raw code words |

Names are told apart without case, by their first 31 characters (the loader keeps no more):
the program's variables and functions share one set of names, so no two may have one, nor two
locals visible over the same code, and a public variable cannot take the name of a property
every Script node has (`name`, `parent`, `prev`, `flags`, `scriptfile`), nor a name a scene
file cannot hold as a property's (one that is not a letter or `_` followed by letters, digits
and `_`: `high score`, `x-pos`). `script asm` refuses such a program, naming both lines
(`game.asm:12: "status" is declared twice: a public variable on line 5 and a public variable
on line 12`); a program whose symbol file names two public variables alike, or one so, is not
loaded, and the log says why, so a scene never holds a value under one name twice or loses one
at its next load. A local may have a global's name.

A program keeps the name of its source and the line of each command: runtime errors, the
reports of engine functions and the debugger name `game.asm:28`, and the debugger shows the
file when it lies beside the script file and steps through it a line at a time.

TYPE is a value type (`int`, `float`, `float3`, ...), a class name (`Node`, `Sprite`, ...:
an entity of that class) or a number. A variable's offset, the word that `load` and `store`
take, is the sum of the sizes of the variables before it: the first is at 0, a `float3` takes
three words. Operands may be written `prop:Class.name` (the number of a property, as `getprop`
and `setprop` take it), `method:Class.name` (the number of a method, for `method`),
`hash:name` (a program's name hash) and `@label` (a code offset); jumps take a label's name.
A property or method number counts in the chain of one class, so `script asm` keeps, with
each `getprop`, `setprop` and `method`, the class that lists the member it checked there: the
machine then refuses the number on a node of a class without that member ("Entity is
TextPlate, does not have function awb", "Entity is Sprite, does not have property text")
instead of reaching that class's own member of the same number.

An array is a variable of the type `array`: `var "grid" array elem=float3 count=4` takes
four `float3` elements, twelve words from its offset (`count=` on a variable of any other type
is refused, naming this form). `elemaddr SIZE STRIDE` turns the array's offset and an index
into the offset of that element, SIZE being the count and STRIDE the words of an element, and
checks the index: one below 0, or at or past the count, is the runtime error "Trying to access
index '4' on array of size '4'". `load` and `store` then read and write the element:

```
var "grid" array elem=float3 count=4    ; offsets 0 to 11
var "next" int                          ; offset 12
...
    push 0                  ; grid's offset
    push 2                  ; the index
    elemaddr 4 3            ; grid[2]'s offset: 6
    push 1.0
    push 2.0
    push 3.0
    store 3                 ; grid[2] = (1, 2, 3)
    push 0
    push 2
    elemaddr 4 3
    load 3                  ; grid[2]
```

`index SIZE WIDTH` takes element i of an array that lies whole on the stack (as `push 0` then
`load 12` pushes grid), with the same check.

A function's arguments lie below its frame: with `(float dt)`, `push -1` then `loadlocal 1`
reads dt. Its locals are the words it pushes itself, from offset 0 up. It ends with
`return L R`, L being its argument and local words and R its result words, which the return
moves down over them.

`quarn-tool script asm` follows the types of the values on the stack through each
function, from its parameters on, and refuses a program, naming the line, the call, the
argument and both types (`game.asm:28: method KeyboardInterface.arp (IsDown): argument 1 is
int, given float`), where

- an operator, engine function, method or `call`ed function gets an argument of another type,
  or a method another number of argument words than it takes;
- `store`, `setprop`, or `storelocal` into an argument or a declared `local`, gets a value of
  another type than the variable or property holds (a word stored into part of a vector, of
  its component's type), or `setprop` another number of words;
- `return` gives another result than the function declares, or drops other than its
  arguments and locals;
- a command takes more words than the function has on the stack; the entity of `getprop`,
  `setprop`, `method`, `extcall`, `extgoto`, `extload` or `extstore` is no entity, or of a
  class that cannot have the property; a jump's condition is no int, bool or entity; an
  offset or index is no int; `sleep` is given no float; `tofloat` no int.

Alike are `int`, `bool` and `char`; an entity and any class, and a class and the classes
above and below it; the literal 0 and any entity (none); a vector and as many single values
of its component (three floats make a `float3`), and each word of a vector and a single value
of its component, whichever word it is and however it was read: `push 4` then `load 1` reads
the y of a `float3` variable at offset 3 as a float, as do `loadlocal` of a word inside a
vector in the frame and `load` from an `elemaddr` address inside an array's vector elements.
The words of a `string64` must line up. A report names a word of a larger value as such
(`operand 1 is int, given one word of float3`; `store 1: word 1 of "where" is float, given
int`, the words of a value counting from 0 as offsets do). A literal is an int unless it is
written with a `.`. The types come from the
parameters, literals, `text`, variables read and written with a literal offset (array
elements through `elemaddr`), the function's own words on the stack, properties and methods
named by `prop:` and `method:` or by the entity's class, and the results of what is called.

Not checked: a word where paths with different types meet (either type then passes);
the rest of a path after an `extcall` with arguments (the other program's results are not
known here), a `call` or `goto` to code without a `function` record, a property or method
whose number names nothing, or a command the machine does not know; the variables of other
scripts; stacks deeper than 1024 words.

A worked program: while the right arrow key is held, it moves the node in its public variable
`sprite` to the right, `speed` pixels a second, reading the key through the `KeyboardInterface`
node in its public variable `keys`.

```
; mover: moves "sprite" right while the right arrow key is held.
header 0 0
stack 64
var "sprite" Node kind=2                    ; offset 0; the scene sets it: sprite = ID
var "keys" KeyboardInterface kind=2         ; offset 1
var "speed" float kind=2 decl="public float speed default=200.0" ; offset 2
function "update" (float) at=@update

update:                         ; update(float dt)
    line
    push 1
    load 1                      ; keys
    push 62                     ; the key code of "Right"
    method method:KeyboardInterface.{m:KeyboardInterface.IsDown} 1 ; keys.IsDown(62)
    jumpifnot done
    line
    push 0
    load 1                      ; sprite, the entity setprop writes
    push prop:Pivot.pos         ; and the property
    push 0
    load 1
    push prop:Pivot.pos
    getprop                     ; sprite.pos: three words
    push 2
    load 1                      ; speed
    push -1
    loadlocal 1                 ; dt
    op float "*(float):float"   ; speed * dt
    push 0.0
    push 0.0                    ; (speed * dt, 0, 0)
    op float3 "+(float3):float3"
    setprop 3                   ; sprite.pos = sprite.pos + (speed * dt, 0, 0)
done:
    return 1 0                  ; drops dt
```

In a scene, the node that runs it names the two nodes by their ids:

```
obj5 {
	class = "Script"
	name = "Mover"
	parent = 1
	scriptfile = "mover.script"
	sprite = 3
	keys = 4
}
```
)GUIDE";

const char* const ScriptCommandsGuide =
    R"GUIDE(A command is one code word, its number, followed by its operand words. In the table, the
stack before and after the command lists its values from lower to upper, the last being the
top; `v` is a value of as many words as its type takes, `e` an entity (one word, its id; 0 is
none). Every command also raises "Invalid command - maybe you need to recompile all scripts"
when the stack holds fewer words than it takes or an operand points outside the program, and
"Stack overflow" when the stack would grow past the program's `stack` size. A run of
100,000,000 commands without a pause ends with "Infinite loop detected (100million'th
instruction reached)". A script that calls another through the engine (a method, `CallMethod`
and its kin, an event, a signal, a `property_changed`, an `extcall` that runs in the other's own
context) runs it nested in its own run and on the same count: the run that reaches the limit
reports it, and every run it was nested in ends with it, unreported. Runs nest at most 200 deep:
the call that would go deeper is the runtime error "Calls between scripts nest deeper than 200",
which ends the runs it was nested in too. Work on texts counts towards the limit: reading or
making a text (in an engine function or operator, a property read, a method's text result)
counts one command for every 16 bytes of it, and handing a text to the engine, which may keep it
(a text property written, a method's text argument, a text window's text, a node's copy by the
size of its scene text), one command for every byte, so what one run piles up in nodes stays
near 100,000,000 bytes. So does the engine's work a script asks for: each node of the scene
visited (`CallMethodInTree`, `ForEachOfClass`, `Start`, a node's searches and child look-ups, a
ray pick) 32 commands, each byte inflated from a packed file or read from a scene file one,
memory a grid or the data array fills one for every 16 bytes, each file written 65,536
commands (its syncs to the disk) and one for every byte, and a page fetch 6,250,000 commands
for each second it waits for its server (so a run waits some 16 seconds in all). A text longer
than 64 MiB neither reaches a program nor leaves it: it is a runtime error that names the
function or operator, or the class and the property or method (as in "Node.name: a text of
67108865 bytes is longer than the 64 MiB a script's text may have"). The game holds at most its
memory budget, half the
machine's memory: a call that leaves the game holding more than it held and more than the
budget is a runtime error naming it ("Node.name: the game holds 6145 MiB, more than its memory
budget of 6144 MiB"), which ends the runs it was nested in, and a grid or data array the budget
cannot hold is refused before it is made. So are a program's stacks and variables: the value
stack and the call stack are taken as deep as a run reaches, and one the budget cannot hold is
the runtime error "Value stack: 1 MiB more would take the game past its memory budget of 6144
MiB (it holds 6144 MiB)" (or "Call stack: ..."); a node whose variables, or the first words of
its stack, the budget cannot hold does not run, and the log names it ("Script node 'enemy' (id
12) is not run: the variables of enemy: 4 MiB more would take the game past its memory budget
of 6144 MiB (it holds 6142 MiB)").
)GUIDE";

const char* const ScriptValueTypesGuide =
    R"GUIDE(Every value is a whole number of 32-bit words on the stack. An `int` is a signed word
(arithmetic wraps), a `bool` a word 0 or 1, a `float` a single-precision word; an entity, or a
reference to a class's object, is the entity's id (0 is none); a `string` is one word naming a
text (texts that operators and functions make last until 64 KiB of newer ones have been made).
The vectors take a word per component.

The `op` command calls an entry of a type's list: `op TYPE "SIGNATURE"`, as in
`op int "+(int):int"`, or the number `(type id << 16) | entry`, both given below. The entry
takes the value of its own type from the stack and, above it, its parameters (for `+(int):int`:
the left operand, then the right one), and leaves its result in their place. Kind 0 entries are
operators, kind 1 methods of the value, kind 2 conversions. `++()` and `--()` leave the value
changed by one. Comparisons of texts ignore letter case; an int divided by 0 is 0 (and reported
as an invalid parameter).
)GUIDE";

const char* const ScriptOtherNodesGuide =
    R"GUIDE(A script holds other nodes as entities: one word, the node's id. Its own node is `self`,
its parent `parent` and the scene's root `root` (three commands). From there:

- **By id, set in the scene.** A public variable of an entity or class type (`var "door" Node
  kind=2`) is set in the scene file to the other node's object number (`door = 7`); the loader
  renumbers it with the node, so it keeps naming that node in every copy of the scene. This is
  the plain way: the scene says which node the script works on.
- **By name.** `method:Node.{m:Node.FindByName}` on a node searches it and everything below it,
  depth first, for the first node of exactly that name (push `root`, then the name with
  `text`, then call the method with one argument word); `method:Node.{m:Node.FindChildByName}`
  searches only its children, ignoring letter case. Both give 0 when there is none.
  `method:Node.{m:Node.FindByClassName}` finds the first node of a class.
- **Through the tree.** The `Node` methods `{m:Node.GetFirstChild}` (the first child),
  `{m:Node.GetNext}` (the next sibling), `{m:Node.GetChild}` (a child by index) and
  `{m:Node.GetChildCount}` (how many), and the property `parent`, walk it.
- **By calling its methods.** `method N A` calls method N of the entity below the A argument
  words; the class tables below give every method's number and arguments. A method of a base
  class (`Node`, `Pivot`) works on every class below it. Properties are read with `getprop`
  and written with `setprop`, by their number in the class's list.
- **Another script.** Its public variables are properties of its node, numbered after the
  `Script` class's own (the first is property 5). Engine function {f:CallMethod} (CallMethod)
  calls a function of its program by name, without arguments; {f:SendEventToPort}
  (SendEventToPort) sends an event to one of its input ports, with a value; {f:ScriptByName}
  (ScriptByName) finds the node that runs a program of a given name.
- **By events and signals.** A node's outputs (an `InputCode`'s "on" and "off", a
  `SoundEmitter`'s "done", a script's public entity variables marked `hint="signal"`) are
  links in the scene (`witness_on = 5` names node 5's input port 0, `witness_on = 5-1` its
  port 1) that call the receiving script's port functions. Function {f:FireSignal} (FireSignal) sends a named signal to every
  `SignalReceiver` of that `signalname`, which passes it to its witnesses; functions
  {f:SendEvent}, {f:SendEventFrom} and {f:SendEventToPort} send an event straight to a node.

An entity that is none, or names a node that has been deleted, stops the program with
"Entity is none" when a command uses it: test it first (`op entity "ToBool():bool"`, or engine
function {f:IsAlive}, IsAlive).
)GUIDE";

const char* const ScriptClassesGuide =
    R"GUIDE(Each class below lists what it adds to its base class; an object of the class also has
everything of its bases. The number in the first column is what `getprop`, `setprop` and
`method` take (the assembler's `prop:Class.name` and `method:Class.name` write it): the base
classes' properties and methods come first. Methods named with three letters have names the
engine generates in registration order, fixed for every compiled program; the label beside
each is only a reading aid. A method's use says who calls it: "script" methods are for
programs; "editor" ones are the editor's commands; "signal" ones answer the engine's signals.
A property's values are a bit field's bits or an enumeration's values, to be added or chosen;
other properties show the editor's hint: a range (lowest, highest, ..., step), the kind of file
it names, or "signal" for an output linked to another node's input port.
)GUIDE";

const char* const ScriptCollisionsGuide =
    R"GUIDE(A physics world (`PhysicsMaster`) tells scripts about collision volumes that touch in two
ways, and a script may also ask a body for its contacts. Both ways run inside the world's step,
after the bodies moved: first the functions that witnesses hear, in the order the pairs were
found, then the enter and leave links. With the world's `method` OFF it still finds touches each
frame: the links are called, while the functions wait until another method is chosen.

**Enter and leave: a volume's `signalenter` and `signalleave`.** These are outputs, linked like
any other (`signalenter = 9` names node 9's input port 0, `9-1` its port 1). When two volumes
start touching, the port function the link names is called once with (entity sender, entity
argument, float value) = (the volume whose link it is, the volume it touches, 1.0); in the first
step they no longer touch, `signalleave` is called so with 0.0 (the other volume is none when it
was deleted). The world follows only these pairs:

- two volumes that both have `trigger` (4) in `collflags`, one of them or both under a rigid
  body;
- a volume with `probe` (8) in `collflags` and any other: a probe feels without pushing, so
  bodies pass through it.

and it calls a volume's link only when the volume accepts the other: its `collmask` is not 0 and
the other's `collflags` masked by it equal its `colltest` masked so. Two volumes that are only
solid never call it, nor does a trigger that meets a volume without `trigger`.

**Every step: a `witness`.** The world calls a function by its name in the programs of a node
and of the nodes below it, in the step two volumes start touching and in every step after while
they touch:

| Function | Called on | Parameters, in order |
|---|---|---|
| `collision` | the world's `witness` and the first volume's `witness` (the second's when the first has none), and the nodes below each | `(CollisionVolume a, CollisionVolume b, float3 point, float3 normal, float normalspeed, float tangentspeed, float area)` |
| `trig` | the `witness` of each volume, and the nodes below each | `(CollisionVolume a, CollisionVolume b)` |
| `probe` | the probe's `witness`, and the nodes below it | `(CollisionVolume probe, CollisionVolume other, float depth, float3 point, float3 normal)` |

`collision` comes for every touching pair of which at least one volume belongs to a rigid body
and neither is a probe, `trig` for two triggers, `probe` for a probe and any volume. A `witness`
is no link: it calls no port function, only a function of that name, and one with fewer
parameters takes the first numbers. The numbers, which `quarn-tool simulate --events`
prints as `event KIND a b` followed by the rest in the same order:

| Number | Meaning |
|---|---|
| a, b | the two volumes (`CollisionVolume` method `{m:CollisionVolume.GetBody}` gives a volume's body) |
| point | the mean of the contact points in the world, each weighted by its depth |
| normal | the first contact's normal, a unit vector from b into a (for `probe`, from the probe into the other) |
| normalspeed | the velocity of a's body at the point less b's (none for a volume without a body), along the normal: negative while they close in |
| tangentspeed | the length of the rest of that velocity: how fast they slide |
| area | the area of the polygon the contact points span, 0 for fewer than three points |
| depth | how deep the two overlap: the contacts' depths, each weighted by itself |

So `event collision 13 11 0.3 -2.384 14 0 1 0 -10.04 0 1` is volume 13 meeting volume 11 at
(0.3, -2.384, 14), the normal straight up, closing in at 10.04 m/s, not sliding, over one square
unit.

**Asking a body.** `RigidBody` method `{m:RigidBody.CollectContacts}` gathers the body's contacts
of the world's last step for the four methods after it. A body moved through `pos` or `orient`,
or stopped by `{m:RigidBody.ResetMotion}`, has none until the next step finds where it touches
now.

A worked example, `examples/catch/`, which the build lays out ready to run in
`build/*/examples/catch/`: a crate falls onto a basket; the script counts the catches, keeps the
speed of the last landing and puts the crate back on top. What is set on which node of
`catch.scene`:

- `Basket`, a `MockupBox` standing still: `collflags = 21` (solid 1, trigger 4 and static 16),
  `collmask = 4` and `colltest = 4` (it accepts volumes with `trigger`), and `signalenter = 10`,
  node 10's port 0.
- `Crate`, a `RigidBody`, and below it its shape, a `MockupBox` with `collflags = 5` (solid and
  trigger) and `collmask = 1` and `colltest = 1` (it collides with solid volumes).
- `World`, the `PhysicsMaster`: `witness = 10`.
- `Catcher`, the `Script` node 10: `scriptfile = "catcher.script"`, `crate = 8` and
  `counter = 4`, the `TextPlate` that shows the count.

The program, `catcher.asm`:

```
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
```

In the step the crate lands, `collision` is called with the landing's numbers, then `caught`
once. `caught` puts the crate back, so the two stop touching at once and the basket's next touch
is the next catch; a crate left to rest there would call `collision` every step and `caught`
never again.
)GUIDE";

} // namespace quarn
