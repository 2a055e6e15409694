// The physics peers of the world benchmark: the box pile and the random walk of boxes, read
// from the same scene files as the engine's side, run in two physics engines shipped as
// WebAssembly for Node. Only the peers' step calls are timed. The process stays up and runs one
// round at a time as its caller asks on stdin, so that the caller can time its own round right
// after on the same machine state:
//   pile RUN            each peer's pile, run RUN
//   walk COUNT RUN      each peer's walk of COUNT boxes, run RUN
// It answers one line per result on stdout, and "done" after each request ("ready" once the
// peers are loaded):
//   settings PEER TEXT
//   pile PEER RUN MEAN_ALL MEDIAN_ALL MEAN_LAST MEDIAN_LAST PENETRATION HIGHEST BELOW
//   walk PEER COUNT RUN MS_PER_STEP TOUCHING_PAIRS
// or "error TEXT" when something is missing. Usage: node physics-peers.mjs SCENES MODULES
import { readFileSync } from 'node:fs';
import { createInterface } from 'node:readline';
import { createRequire } from 'node:module';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';
import { performance } from 'node:perf_hooks';

const [scenesDir, modulesDir] = process.argv.slice(2);
if (!scenesDir || !modulesDir) {
    console.log('error usage: node physics-peers.mjs SCENES MODULES');
    process.exit(1);
}

function readScene(name) {
    const values = {};
    for (const line of readFileSync(join(scenesDir, name), 'utf8').split('\n')) {
        const words = line.replace(/#.*/, '').trim().split(/\s+/).filter((w) => w !== '');
        if (words.length > 1) {
            values[words[0]] = words.slice(1).map(Number);
        }
    }
    return values;
}

async function load(name) {
    const require = createRequire(join(resolve(modulesDir), 'package.json'));
    let path;
    try {
        path = require.resolve(name);
    } catch {
        console.log(`error the package ${name} is not installed in ${modulesDir}`);
        process.exit(1);
    }
    return (await import(pathToFileURL(path).href)).default;
}

const median = (values) => {
    const sorted = [...values].sort((a, b) => a - b);
    return sorted[Math.floor(sorted.length / 2)];
};
const mean = (values) => values.reduce((sum, v) => sum + v, 0) / values.length;

// Box (i, j, k) of the pile, as its scene file says.
function pileBoxes(scene) {
    const [nx, ny, nz] = scene.lattice;
    const size = scene.box[0];
    const pitch = size + scene.gap[0];
    const boxes = [];
    for (let j = 0; j < ny; ++j) {
        for (let i = 0; i < nx; ++i) {
            for (let k = 0; k < nz; ++k) {
                boxes.push([(i - (nx - 1) / 2) * pitch, scene.lift[0] + size / 2 + j * pitch,
                    (k - (nz - 1) / 2) * pitch]);
            }
        }
    }
    return boxes;
}

// How the pile ended: the deepest box corner below the plane, the highest box centre and the
// boxes whose centre fell below the plane. q is x y z w.
function endState(poses, half) {
    let penetration = 0;
    let highest = -Infinity;
    let below = 0;
    for (const [p, q] of poses) {
        const [x, y, z, w] = q;
        const extent = half * (Math.abs(2 * (x * y + w * z)) + Math.abs(1 - 2 * (x * x + z * z)) +
            Math.abs(2 * (y * z - w * x)));
        penetration = Math.max(penetration, extent - p[1]);
        highest = Math.max(highest, p[1]);
        below += p[1] < 0 ? 1 : 0;
    }
    return [penetration, highest, below];
}

// Times `steps` calls of step after `warmup` untimed ones, in ms per call.
function timeSteps(scene, step, before) {
    for (let s = 0; s < scene.warmup[0]; ++s) {
        before?.();
        step();
    }
    const times = [];
    for (let s = 0; s < scene.steps[0]; ++s) {
        before?.();
        const start = performance.now();
        step();
        times.push(performance.now() - start);
    }
    return times;
}

function reportPile(peer, run, times, scene, poses) {
    const last = times.slice(times.length - scene.last[0]);
    const state = endState(poses, scene.box[0] / 2);
    console.log(`pile ${peer} ${run} ${mean(times)} ${median(times)} ${mean(last)} ${median(last)} ` +
        `${state[0]} ${state[1]} ${state[2]}`);
}

// The walk of the boxes, in single precision as the engine's benchmark computes it.
class Walk {
    constructor(count, scene) {
        const f = Math.fround;
        this.state = scene.seed[0] >>> 0;
        this.side = f(Math.cbrt(f(f(count * 27) / f(2 * f(scene.pairs_per_box[0])))));
        const span = f(2 * f(scene.max_step[0]));
        this.boxes = [];
        for (let i = 0; i < count; ++i) {
            const position = [f(this.next() * this.side), f(this.next() * this.side),
                f(this.next() * this.side)];
            let axis = [f(this.next() - 0.5), f(this.next() - 0.5), f(this.next() - 0.5)];
            const length = f(Math.sqrt(f(f(f(axis[0] * axis[0]) + f(axis[1] * axis[1])) +
                f(axis[2] * axis[2]))));
            axis = length > 1e-6 ? axis.map((a) => f(a / length)) : [0, 0, 1];
            const half = f(f(this.next() * f(6.2831853)) * 0.5);
            const sine = f(Math.sin(half));
            const rotation = [f(axis[0] * sine), f(axis[1] * sine), f(axis[2] * sine),
                f(Math.cos(half))];
            const velocity = [f(f(this.next() - 0.5) * span), f(f(this.next() - 0.5) * span),
                f(f(this.next() - 0.5) * span)];
            this.boxes.push({ position, rotation, velocity });
        }
    }
    next() {
        this.state = (Math.imul(this.state, 1664525) + 1013904223) >>> 0;
        return Math.fround((this.state >>> 8) * (1 / 16777216));
    }
    step() {
        const f = Math.fround;
        for (const box of this.boxes) {
            for (let a = 0; a < 3; ++a) {
                box.position[a] = f(box.position[a] + box.velocity[a]);
                if (box.position[a] < 0 || box.position[a] > this.side) {
                    box.velocity[a] = -box.velocity[a];
                    box.position[a] = f(box.position[a] + f(2 * box.velocity[a]));
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------

async function loadJolt(pile, walk) {
    const Jolt = await (await load('jolt-physics'))();
    const STILL = 0;
    const MOVING = 1;
    const make = (bodies) => {
        const settings = new Jolt.JoltSettings();
        settings.mMaxBodies = bodies + 16;
        settings.mMaxBodyPairs = 65536;
        settings.mMaxContactConstraints = 10240; // its temporary allocator holds no more
        const pairs = new Jolt.ObjectLayerPairFilterTable(2);
        pairs.EnableCollision(STILL, MOVING);
        pairs.EnableCollision(MOVING, MOVING);
        const layers = new Jolt.BroadPhaseLayerInterfaceTable(2, 2);
        layers.MapObjectToBroadPhaseLayer(STILL, new Jolt.BroadPhaseLayer(0));
        layers.MapObjectToBroadPhaseLayer(MOVING, new Jolt.BroadPhaseLayer(1));
        settings.mObjectLayerPairFilter = pairs;
        settings.mBroadPhaseLayerInterface = layers;
        settings.mObjectVsBroadPhaseLayerFilter =
            new Jolt.ObjectVsBroadPhaseLayerFilterTable(layers, 2, pairs, 2);
        const jolt = new Jolt.JoltInterface(settings);
        Jolt.destroy(settings);
        return jolt;
    };
    const boxShape = (half) => new Jolt.BoxShape(new Jolt.Vec3(half, half, half), 0);
    const addBox = (system, shape, position, rotation, motion, layer, configure) => {
        const creation = new Jolt.BodyCreationSettings(shape,
            new Jolt.RVec3(position[0], position[1], position[2]),
            new Jolt.Quat(rotation[0], rotation[1], rotation[2], rotation[3]), motion, layer);
        creation.mFriction = pile.friction[0];
        creation.mRestitution = pile.restitution[0];
        creation.mLinearDamping = 0;
        creation.mAngularDamping = 0;
        creation.mAllowSleeping = false;
        configure?.(creation);
        const body = system.GetBodyInterface().CreateBody(creation);
        system.GetBodyInterface().AddBody(body.GetID(), Jolt.EActivation_Activate);
        Jolt.destroy(creation);
        return body;
    };

    {
        const jolt = make(1);
        const physics = jolt.GetPhysicsSystem().GetPhysicsSettings();
        console.log(`settings jolt ${physics.mNumVelocitySteps} velocity and ` +
            `${physics.mNumPositionSteps} position iterations (its defaults)`);
        Jolt.destroy(jolt);
    }

    const boxes = pileBoxes(pile);
    const half = pile.box[0] / 2;
    const runPile = (run) => {
        const jolt = make(boxes.length + 1);
        const system = jolt.GetPhysicsSystem();
        system.SetGravity(new Jolt.Vec3(0, -pile.gravity[0], 0));
        const ground = new Jolt.BoxShape(new Jolt.Vec3(1000, 1, 1000), 0);
        addBox(system, ground, [0, -1, 0], [0, 0, 0, 1], Jolt.EMotionType_Static, STILL);
        const shape = boxShape(half);
        const bodies = boxes.map((p) => addBox(system, shape, p, [0, 0, 0, 1],
            Jolt.EMotionType_Dynamic, MOVING));
        system.OptimizeBroadPhase();
        const dt = pile.timestep[0];
        const times = timeSteps(pile, () => jolt.Step(dt, 1));
        reportPile('jolt', run, times, pile, bodies.map((body) => {
            const p = body.GetPosition();
            const q = body.GetRotation();
            return [[p.GetX(), p.GetY(), p.GetZ()], [q.GetX(), q.GetY(), q.GetZ(), q.GetW()]];
        }));
        Jolt.destroy(jolt);
    };

    const runWalk = (count, run) => {
        const boxesWalk = new Walk(count, walk);
        const jolt = make(count);
        const system = jolt.GetPhysicsSystem();
        system.SetGravity(new Jolt.Vec3(0, 0, 0));
        const bodyInterface = system.GetBodyInterface();
        const shape = boxShape(walk.box[0] / 2);
        const ids = boxesWalk.boxes.map((box) => addBox(system, shape, box.position,
            box.rotation, Jolt.EMotionType_Kinematic, MOVING,
            (creation) => { creation.mCollideKinematicVsNonDynamic = true; }).GetID());
        system.OptimizeBroadPhase();
        const place = new Jolt.RVec3();
        const move = () => {
            boxesWalk.step();
            boxesWalk.boxes.forEach((box, i) => {
                place.Set(box.position[0], box.position[1], box.position[2]);
                bodyInterface.SetPosition(ids[i], place, Jolt.EActivation_Activate);
            });
        };
        const times = timeSteps(walk, () => jolt.Step(0.01, 1), move);
        // The touching pairs of one more step.
        let touching = 0;
        const listener = new Jolt.ContactListenerJS();
        listener.OnContactValidate = () => Jolt.ValidateResult_AcceptAllContactsForThisBodyPair;
        // Speculative contacts (shapes still apart) do not count.
        const touch = (body1, body2, manifold) => {
            touching += Jolt.wrapPointer(manifold, Jolt.ContactManifold).mPenetrationDepth >= 0
                ? 1 : 0;
        };
        listener.OnContactAdded = touch;
        listener.OnContactPersisted = touch;
        listener.OnContactRemoved = () => {};
        system.SetContactListener(listener);
        move();
        jolt.Step(0.01, 1);
        console.log(`walk jolt ${count} ${run} ${mean(times)} ${touching}`);
        Jolt.destroy(place);
        Jolt.destroy(jolt);
    };
    return { runPile, runWalk };
}

async function loadRapier(pile, walk) {
    const RAPIER = await load('@dimforge/rapier3d-compat');
    await RAPIER.init();
    {
        const world = new RAPIER.World({ x: 0, y: 0, z: 0 });
        console.log(`settings rapier ${world.integrationParameters.numSolverIterations} solver ` +
            `iterations (its default)`);
        world.free();
    }

    const boxes = pileBoxes(pile);
    const half = pile.box[0] / 2;
    const runPile = (run) => {
        const world = new RAPIER.World({ x: 0, y: -pile.gravity[0], z: 0 });
        world.timestep = pile.timestep[0];
        const ground = world.createRigidBody(RAPIER.RigidBodyDesc.fixed().setTranslation(0, -1, 0));
        world.createCollider(RAPIER.ColliderDesc.cuboid(1000, 1, 1000)
            .setFriction(pile.friction[0]).setRestitution(pile.restitution[0]), ground);
        const bodies = boxes.map((p) => {
            const body = world.createRigidBody(RAPIER.RigidBodyDesc.dynamic()
                .setTranslation(p[0], p[1], p[2]).setCanSleep(false)
                .setLinearDamping(0).setAngularDamping(0));
            world.createCollider(RAPIER.ColliderDesc.cuboid(half, half, half)
                .setFriction(pile.friction[0]).setRestitution(pile.restitution[0]), body);
            return body;
        });
        const times = timeSteps(pile, () => world.step());
        reportPile('rapier', run, times, pile, bodies.map((body) => {
            const p = body.translation();
            const q = body.rotation();
            return [[p.x, p.y, p.z], [q.x, q.y, q.z, q.w]];
        }));
        world.free();
    };

    const runWalk = (count, run) => {
        const boxesWalk = new Walk(count, walk);
        const world = new RAPIER.World({ x: 0, y: 0, z: 0 });
        world.timestep = 0.01;
        const h = walk.box[0] / 2;
        const colliders = [];
        const bodies = boxesWalk.boxes.map((box) => {
            const [x, y, z, w] = box.rotation;
            const body = world.createRigidBody(RAPIER.RigidBodyDesc.kinematicPositionBased()
                .setTranslation(box.position[0], box.position[1], box.position[2])
                .setRotation({ x, y, z, w }).setCanSleep(false));
            colliders.push(world.createCollider(RAPIER.ColliderDesc.cuboid(h, h, h)
                .setActiveCollisionTypes(RAPIER.ActiveCollisionTypes.DEFAULT |
                    RAPIER.ActiveCollisionTypes.KINEMATIC_KINEMATIC), body));
            return body;
        });
        const move = () => {
            boxesWalk.step();
            boxesWalk.boxes.forEach((box, i) => {
                bodies[i].setTranslation({ x: box.position[0], y: box.position[1],
                    z: box.position[2] }, true);
            });
        };
        const times = timeSteps(walk, () => world.step(), move);
        move();
        world.step();
        // Pairs with a contact point at or inside touching distance, each counted once.
        let touching = 0;
        for (const collider of colliders) {
            world.contactPairsWith(collider, (other) => {
                if (other.handle <= collider.handle) {
                    return;
                }
                let touches = false;
                world.contactPair(collider, other, (manifold) => {
                    for (let i = 0; i < manifold.numContacts(); ++i) {
                        touches ||= manifold.contactDist(i) <= 0;
                    }
                });
                touching += touches ? 1 : 0;
            });
        }
        console.log(`walk rapier ${count} ${run} ${mean(times)} ${touching}`);
        world.free();
    };
    return { runPile, runWalk };
}

const pile = readScene('pile.scene.txt');
const walk = readScene('walk.scene.txt');
const peers = [await loadJolt(pile, walk), await loadRapier(pile, walk)];
console.log('ready');
for await (const line of createInterface({ input: process.stdin })) {
    const [kind, ...numbers] = line.trim().split(/\s+/);
    const [a, b] = numbers.map(Number);
    if (kind === 'pile' && Number.isInteger(a)) {
        peers.forEach((peer) => peer.runPile(a));
    } else if (kind === 'walk' && Number.isInteger(a) && Number.isInteger(b)) {
        peers.forEach((peer) => peer.runWalk(a, b));
    } else {
        console.log(`error the request "${line}" is neither "pile RUN" nor "walk COUNT RUN"`);
    }
    console.log('done');
}
