// The pictures of the installation's data folder, each drawn from scratch
// by a function of its own. All are deterministic.
#pragma once

#include "tools/datagen/Canvas.h"

namespace datagen {

Canvas MakeTitle();          // 256x256, the name over a small crystal cluster, transparent
Canvas MakeCopyright();      // 256x64, the copyright line, transparent
Canvas MakeSphereMap();      // 256x256 sphere map of a bright studio sky with sharp lights
Canvas MakeWarmLight();      // 64x64 warm soft glow on black (drawn additively)
Canvas MakeCoolLight();      // 64x64 cooler, smaller glow on black
Canvas MakeGround();         // 256x256 seamlessly tiling stone floor
Canvas MakeLogoTexture();    // 128x128 crystalline texture of the logo gem

}  // namespace datagen
