#pragma once

#include <memory>
#include <string>

namespace quarn {

class GpuRenderDevice;
class Node;

// The player's software render device, without a window. Meshes (collision meshes among them)
// keep their data in device buffers, so a command makes one before it loads what uses them.
// Null, with `reason` set, when it cannot be made.
std::unique_ptr<GpuRenderDevice> MakeToolDevice(std::string& reason);

// Registers every class as the player does: its default font registers "Texture" before the
// rest, which gives the classes ahead of it in the start-up order other generated method names
// than a plain registration would. Programs name methods by those names.
void RegisterPlayerClasses();

// Enters the game SCENE belongs to (SceneGame), whatever folder the tool runs in: its settings,
// base folder and user://, and the reach its scripts are held to while they run, which a load
// starts already (a public variable's property_changed). The base folder moves to the game's,
// so the other paths the user named from the current folder are made native before it.
void EnterToolSceneGame(const std::string& scene);

// Loads SCENE as the "scene" command does, with every class registered, as its own game
// (EnterToolSceneGame). What the engine notes while loading, and afterwards, goes to stderr as
// "quarn-tool: warning: ...". Null, with `reason` set, when the scene cannot be opened or holds
// no node. For a game's run (`asGame`), SCENE itself is the user's to name, but what it names
// and what its scripts open stay inside its game for the rest of the run, as in the player;
// otherwise the tool keeps the user's reach for its own work.
Node* LoadToolScene(const std::string& scene, std::string& reason, bool asGame = false);

} // namespace quarn
