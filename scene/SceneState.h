// The view state that the three scene events share: the model rotation
// turned by the arrow keys and the white flash that follows a crystal's
// request. Process-wide because whichever event is current continues it.
// Only the message-loop thread touches it.
#pragma once

#include "platform/d3d9/d3d9.h"

// Rotation about the vertical axis handed to the crystal cluster.
extern D3DMATRIX ModelRotation;
// The angle in degrees that ModelRotation is built from, kept in [0, 360].
extern float RotationAngle;
// Alpha 0..255 of the white full-screen flash.
extern int FlashAlpha;

namespace scene {
// Rotation about Y by the given degrees (row-vector convention).
D3DMATRIX RotationAboutY(float degrees);
}  // namespace scene

void ResetModelRotation();

// One step of the keyboard steering: left turns +2 degrees, right -2, and the
// model always drifts -0.5 degrees. The matrix is built before the drift.
void TurnModel(bool leftHeld, bool rightHeld);

// One frame of the flash: a request lights it fully. Returns the alpha to
// draw this frame (0: nothing) and lets it decay by 8 for the next frame.
int NextFlashAlpha(bool requested);
