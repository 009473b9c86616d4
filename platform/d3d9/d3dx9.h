// Stand-ins for the D3DX 9 utility functions the installation calls, one
// header per job: vectors and matrices, textures from files, the sprite.
// The .x mesh and its loader are in d3dx9mesh.h.
//
// Everything here is written against the IDirect3DDevice9 interface, so it
// works on the OpenGL device and on the recording device alike.
#pragma once

#include "platform/d3d9/D3dxMath.h"
#include "platform/d3d9/D3dxSprite.h"
#include "platform/d3d9/D3dxTexture.h"
