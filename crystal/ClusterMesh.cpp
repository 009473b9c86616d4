// The sixteen crystals' shared buffers: writing what changed, and the one draw.
#include "crystal/ClusterMesh.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr UINT kIndexBytes = sizeof(std::uint32_t);

// Each face is the fan (0, 1, 2), (0, 2, 3) of its four corners.
void BandTriangles(std::uint32_t* out, UINT first)
{
    for (UINT face = 0; face < 6; ++face) {
        const UINT corner = first + face * 4;
        *out++ = corner;
        *out++ = corner + 1;
        *out++ = corner + 2;
        *out++ = corner;
        *out++ = corner + 2;
        *out++ = corner + 3;
    }
}

}  // namespace

bool ClusterMesh::Prepare(IDirect3DDevice9* device, CrystalBody* const bodies[Bodies])
{
    if (vertices_ && indices_) return true;
    constexpr UINT vertexBytes = Rows * RowSlots * SlotVertices * sizeof(CrystalVertex);
    constexpr UINT indexBytes = (Rows * RowSlots * SlotIndices + LidBlockIndices) * kIndexBytes;
    if (FAILED(device->CreateVertexBuffer(vertexBytes, D3DUSAGE_WRITEONLY, CrystalVertexFormat, D3DPOOL_MANAGED,
                                          vertices_.Out(), nullptr)) ||
        FAILED(device->CreateIndexBuffer(indexBytes, D3DUSAGE_WRITEONLY, D3DFMT_INDEX32, D3DPOOL_MANAGED,
                                         indices_.Out(), nullptr))) {
        vertices_.Reset();
        indices_.Reset();
        return false;
    }
    // New buffers hold nothing yet.
    for (int k = 0; k < Bodies; ++k)
        if (bodies[k] != nullptr) bodies[k]->MarkAllStale();
    for (Shown& s : written_) s = Shown{};
    lowRow_ = highRow_ = initialisedRows_ = 0;
    lidsAt_ = -1;
    return true;
}

void ClusterMesh::WriteStaleRings(CrystalBody* const bodies[Bodies])
{
    int from = Rings, to = 0;
    for (int k = 0; k < Bodies; ++k) {
        const CrystalBody* body = bodies[k];
        if (body == nullptr || !body->rings) continue;
        const int first = std::max(body->StaleFrom(), 1);
        if (first >= body->builtRings) continue;
        from = std::min(from, first);
        to = std::max(to, body->builtRings);
    }
    if (from >= to) return;
    // One lock over the rows of all the rings to write: a row or two while
    // the crystals grow in step.
    const UINT begin = RowVertex(from / RowRings);
    const UINT end = RowVertex(RowAbove(to));
    void* data = nullptr;
    if (FAILED(vertices_.Get()->Lock(begin * sizeof(CrystalVertex), (end - begin) * sizeof(CrystalVertex), &data, 0)))
        return;
    auto* slots = static_cast<CrystalVertex*>(data);
    for (int k = 0; k < Bodies; ++k) {
        CrystalBody* body = bodies[k];
        if (body == nullptr || !body->rings) continue;
        const auto matrix = static_cast<DWORD>(k);
        for (int ring = std::max(body->StaleFrom(), 1); ring < body->builtRings; ++ring) {
            CrystalVertex* slot = slots + (SlotVertex(ring, k) - begin);
            const CrystalRing& r = body->Ring(ring);
            if (!r.WriteBand(slot, matrix)) std::fill(slot, slot + CrystalRing::BandVertices, CrystalVertex{});
            r.WriteLid(slot + CrystalRing::BandVertices, matrix);
        }
        body->MarkWritten();
    }
    vertices_.Get()->Unlock();
}

void ClusterMesh::InitialiseRows(int end)
{
    end = std::min(end, Rows);
    if (end <= initialisedRows_) return;
    const UINT begin = RowIndex(initialisedRows_);
    const UINT count = RowIndex(end) - begin;
    void* data = nullptr;
    if (FAILED(indices_.Get()->Lock(begin * kIndexBytes, count * kIndexBytes, &data, 0))) return;
    auto* out = static_cast<std::uint32_t*>(data);
    // Slots lie in order in the buffer, so slot n's first vertex is n * SlotVertices.
    for (UINT slot = begin / SlotIndices; slot < (begin + count) / SlotIndices; ++slot)
        out = std::fill_n(out, SlotIndices, static_cast<std::uint32_t>(slot * SlotVertices));
    indices_.Get()->Unlock();
    initialisedRows_ = end;
}

void ClusterMesh::WriteSlot(int ring, int crystal, bool band)
{
    void* data = nullptr;
    if (FAILED(indices_.Get()->Lock(SlotIndex(ring, crystal) * kIndexBytes, SlotIndices * kIndexBytes, &data, 0)))
        return;
    auto* out = static_cast<std::uint32_t*>(data);
    if (band) BandTriangles(out, SlotVertex(ring, crystal));
    else std::fill_n(out, SlotIndices, static_cast<std::uint32_t>(SlotVertex(ring, crystal)));
    indices_.Get()->Unlock();
}

void ClusterMesh::WriteLids(const Shown (&shown)[Bodies], int row)
{
    void* data = nullptr;
    if (FAILED(indices_.Get()->Lock(RowIndex(row) * kIndexBytes, LidBlockIndices * kIndexBytes, &data, 0))) return;
    auto* out = static_cast<std::uint32_t*>(data);
    // An absent lid points at a vertex the draw covers anyway: the last row's first.
    const auto nothing = static_cast<std::uint32_t>(RowVertex(row - 1));
    for (int k = 0; k < Bodies; ++k) {
        if (shown[k].lid < 0) {
            out = std::fill_n(out, CrystalRing::LidIndices, nothing);
            continue;
        }
        const UINT centre = SlotVertex(shown[k].lid, k) + CrystalRing::BandVertices;
        for (UINT i = 0; i < 6; ++i) {
            *out++ = centre;
            *out++ = centre + 1 + i;
            *out++ = centre + 1 + (i + 1) % 6;
        }
    }
    indices_.Get()->Unlock();
}

bool ClusterMesh::Update(IDirect3DDevice9* device, CrystalBody* const bodies[Bodies])
{
    if (!Prepare(device, bodies)) return false;
    WriteStaleRings(bodies);

    Shown shown[Bodies];
    int low = Rings, high = 0;
    for (int k = 0; k < Bodies; ++k) {
        const CrystalBody* body = bodies[k];
        if (body == nullptr || !body->rings) continue;
        Shown& s = shown[k];
        s.first = body->FirstBand();
        s.end = std::min(body->shownRings, body->builtRings);
        if (s.end <= s.first) s.first = s.end = 0;
        // A crystal whose dissolving ended at once keeps its lid alone.
        s.lid = body->LidRing() < body->builtRings ? body->LidRing() : -1;
        if (s.lid >= 0) {
            low = std::min(low, s.lid);
            high = std::max(high, s.lid + 1);
        }
        low = std::min(low, s.Lowest());
        high = std::max(high, s.end);
    }
    if (high == 0) low = 0;
    const int lowRow = low / RowRings;
    const int highRow = RowAbove(high);
    InitialiseRows(highRow + 1);

    bool lidsChanged = highRow != lidsAt_;
    if (lidsChanged && lidsAt_ >= 0 && lidsAt_ < Rows) {
        // The lid block moves on: the slots it covered get their own indices back.
        for (int j = 0; j < LidBlockIndices / SlotIndices; ++j) {
            const int k = j / RowRings;
            const int ring = lidsAt_ * RowRings + j % RowRings;
            WriteSlot(ring, k, written_[k].Has(ring));
        }
        lidsAt_ = -1;
    }
    for (int k = 0; k < Bodies; ++k) {
        const Shown& was = written_[k];
        const Shown& now = shown[k];
        if (was.lid != now.lid) lidsChanged = true;
        if (was.first == now.first && was.end == now.end) continue;
        const int from = std::min(was.Lowest(), now.Lowest());
        const int to = std::max(was.end, now.end);
        for (int ring = from; ring < to; ++ring)
            if (was.Has(ring) != now.Has(ring)) WriteSlot(ring, k, now.Has(ring));
    }
    if (lidsChanged && highRow > 0) {
        WriteLids(shown, highRow);
        lidsAt_ = highRow;
    }
    for (int k = 0; k < Bodies; ++k) written_[k] = shown[k];
    lowRow_ = lowRow;
    highRow_ = highRow;
    return true;
}

void ClusterMesh::Draw(IDirect3DDevice9* device) const
{
    if (highRow_ <= lowRow_ || !vertices_ || !indices_) return;
    const UINT firstVertex = RowVertex(lowRow_);
    const UINT vertexCount = RowVertex(highRow_) - firstVertex;
    const UINT indexCount = RowIndex(highRow_) - RowIndex(lowRow_) + LidBlockIndices;
    device->SetStreamSource(0, vertices_.Get(), 0, sizeof(CrystalVertex));
    device->SetIndices(indices_.Get());
    device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, firstVertex, vertexCount, RowIndex(lowRow_), indexCount / 3);
    device->SetStreamSource(0, nullptr, 0, 0);
    device->SetIndices(nullptr);
}
