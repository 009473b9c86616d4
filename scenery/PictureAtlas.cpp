// The cells of the incoming pictures' shared texture.
#include "scenery/PictureAtlas.h"

#include <algorithm>
#include <cstring>

bool PictureAtlas::Create(HDC deviceContext, IDirect3DDevice9* device, int cells)
{
    if (cells <= 0) return false;
    const int rows = (cells + kColumns - 1) / kColumns;
    const int columns = std::min(cells, kColumns);
    if (!holder_.CreateDynamic(deviceContext, device, columns * kCellSide, rows * kCellSide)) return false;
    cells_ = cells;
    return true;
}

bool PictureAtlas::Store(IDirect3DDevice9* device, int cell, const std::uint8_t* pixels)
{
    PixelStore* store = holder_.pixelStore.get();
    if (cell < 0 || cell >= cells_ || pixels == nullptr || store == nullptr) return false;
    const int left = CellX(cell), top = CellY(cell);
    const std::size_t rowBytes = static_cast<std::size_t>(kPictureSide) * 3;
    // Row -1 and row 128 of the frame repeat the picture's first and last rows;
    // column -1 and column 128 its first and last columns.
    for (int r = -1; r <= kPictureSide; ++r) {
        const int sourceRow = std::clamp(r, 0, kPictureSide - 1);
        const std::uint8_t* source = pixels + static_cast<std::size_t>(sourceRow) * rowBytes;
        std::uint8_t* target =
            store->colour.data() + (static_cast<std::size_t>(top + 1 + r) * store->width + left) * 3;
        std::memcpy(target, source, 3);
        std::memcpy(target + 3, source, rowBytes);
        std::memcpy(target + 3 + rowBytes, source + rowBytes - 3, 3);
    }
    return holder_.Upload(device, left, top, kCellSide, kCellSide);
}

RECT PictureAtlas::PictureRect(int cell, int rows) const
{
    const LONG left = CellX(cell) + 1, top = CellY(cell) + 1;
    return RECT{left, top, left + kPictureSide, top + rows};
}
