// What the world needs from the program that owns it: the data folder, the
// graphics device its content is made on, and the player a stored voice is
// loaded into.
//
// It sits beside the world, below the other folders that use it (the scene
// host in scene/, the Application in app/), so that no folder has to reach
// up for it. The scene's own host (scene/SceneHost.h) extends it.
#pragma once

#include <string>

class RenderDevice;
class MusicPlayer;

class WorldHost {
public:
    virtual ~WorldHost() = default;

    // The folder of the data files (the `--data` option; "data" by default).
    virtual const std::string& DataFolder() const = 0;
    virtual RenderDevice& Renderer() = 0;
    // The player the stored voice is loaded into; null where there is none
    // (tests), and the voice is then only written.
    virtual MusicPlayer* GetMusicPlayer() { return nullptr; }
};
