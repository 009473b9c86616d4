// One texture for all the pictures received from the peer: each picture
// slot owns a cell of it, so every picture in flight is drawn from the same
// texture and the whole pool goes out as one draw.
//
// A cell is the 128x128 picture inside a frame one texel wide that repeats
// the picture's edge. Linear filtering at a picture's border then reads the
// picture's own edge texels, as clamped addressing did when each picture had
// a texture of its own, and never a texel of a neighbouring cell.
#pragma once

#include <cstdint>

#include "common/NonCopyable.h"
#include "platform/d3d9/d3d9.h"
#include "scenery/TextureHolder.h"

class PictureAtlas : NonCopyable {
public:
    static constexpr int kPictureSide = 128;
    static constexpr int kCellSide = kPictureSide + 2;  // the picture and its frame
    static constexpr int kColumns = 8;

    PictureAtlas() = default;

    // A black texture with room for `cells` pictures, kColumns to a row.
    bool Create(HDC deviceContext, IDirect3DDevice9* device, int cells);
    // Writes a 128x128 RGB picture (rows top first) into a cell, frame
    // included, and sends only that cell's texels to the texture.
    bool Store(IDirect3DDevice9* device, int cell, const std::uint8_t* pixels);
    // Where the picture of a cell lies in the texture: its top `rows` rows.
    RECT PictureRect(int cell, int rows = kPictureSide) const;

    int Cells() const { return cells_; }
    TextureHolder& Holder() { return holder_; }
    IDirect3DTexture9* Texture() const { return holder_.texture; }

private:
    // Top-left texel of a cell's frame.
    int CellX(int cell) const { return (cell % kColumns) * kCellSide; }
    int CellY(int cell) const { return (cell / kColumns) * kCellSide; }

    TextureHolder holder_;
    int cells_ = 0;
};
