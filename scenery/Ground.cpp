// The ground square and its texture.
#include "scenery/Ground.h"

#include <filesystem>

bool Ground::Create(IDirect3DDevice9* device, const std::string& dataFolder)
{
    // Nothing shows the ground, so a missing picture only leaves it untextured.
    LoadFromFile(device, (std::filesystem::path(dataFolder) / "ground.bmp").string().c_str());
    corners[0] = GroundVertex{-100.0f, 0.0f, -100.0f, 0xFFFFFFFFu, 0.0f, 1.0f};
    corners[1] = GroundVertex{100.0f, 0.0f, -100.0f, 0xFFFFFFFFu, 1.0f, 1.0f};
    corners[2] = GroundVertex{100.0f, 0.0f, 100.0f, 0xFFFFFFFFu, 1.0f, 0.0f};
    corners[3] = GroundVertex{-100.0f, 0.0f, 100.0f, 0xFFFFFFFFu, 0.0f, 0.0f};
    return true;
}
