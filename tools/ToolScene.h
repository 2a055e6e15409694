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

// Loads SCENE as the "scene" command does, with every class registered. What the engine notes
// while loading, and afterwards, goes to stderr as "quarn-tool: warning: ...". Null, with
// `reason` set, when the scene cannot be opened or holds no node. For a game's run (`asGame`),
// SCENE itself is the user's to name, but it runs as its own game (SceneGame), whatever folder
// the tool runs in: what it names and what its scripts open stay inside that game for the rest
// of the run, as in the player.
Node* LoadToolScene(const std::string& scene, std::string& reason, bool asGame = false);

} // namespace quarn
