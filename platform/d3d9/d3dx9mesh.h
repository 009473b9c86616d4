// Stand-ins for the D3DX 9 mesh services the logo needs: the mesh object
// (D3dxMesh.h) and the .x file loader (XMeshLoader.h).
#pragma once

#include "platform/d3d9/D3dxMesh.h"
#include "platform/d3d9/XMeshLoader.h"
