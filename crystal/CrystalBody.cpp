// Ring counters, growth steps, the grow/dissolve animation with its sparks,
// and the drawing of one crystal body.
#include "crystal/CrystalBody.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "crystal/World.h"
#include "scenery/LightSet.h"

namespace {

// A full four-component row vector times a matrix.
void TransformRow(float v[4], const Matrix4& m)
{
    float r[4];
    for (int j = 0; j < 4; ++j) r[j] = v[0] * m.m[0][j] + v[1] * m.m[1][j] + v[2] * m.m[2][j] + v[3] * m.m[3][j];
    for (int j = 0; j < 4; ++j) v[j] = r[j];
}

}  // namespace

bool CrystalBody::Create(World* worldLink)
{
    world = worldLink;
    rings = std::make_unique<CrystalRing[]>(RingCapacity);
    ResetShape(0.1f);
    return true;
}

int CrystalBody::ResetShape(float radius)
{
    builtRings = targetRings = consumedRings = shownRings = 0;
    capVisible = true;
    staleFrom_ = 0;
    if (rings) rings[0].BuildRing(MakeVector(0.0f, 0.0f, 0.0f), radius);
    builtRings += 1;
    return builtRings;
}

bool CrystalBody::GrowStep(float step, float tilt, float turn, float radius, int tag, int peak)
{
    const int n = builtRings;
    if (!rings || n < 1 || n >= RingCapacity) return false;
    const CrystalRing& top = rings[n - 1];

    Vector3 direction = top.axis;
    Normalise(direction);
    const Vector3 s = step * direction;

    Vector3 side = top.rim[0].Position() - top.centre;
    Normalise(side);
    side = RotateVector(side, AxisAngleMatrix(top.axis, turn * DegreesToRadians));

    // NOTE: used as a row vector the matrix turns s by -tilt about the side,
    // which leans the step away from the axis towards that side.
    const Matrix4 lean = AxisAngleMatrix(side, tilt * DegreesToRadians);
    float offset[4] = {s.x, s.y, s.z, 1.0f};
    TransformRow(offset, lean);
    return AppendRing(offset, radius, tag, peak);
}

bool CrystalBody::AppendRing(const float offset[4], float radius, int tag, int peak)
{
    const int n = builtRings;
    if (!rings || n < 1 || n >= RingCapacity) return false;
    const Vector3 centre = rings[n - 1].centre + MakeVector(offset[0], offset[1], offset[2]);
    rings[n].BuildFromPrevious(centre, radius, &rings[n - 1], tag, peak);
    // The new ring bends the one below it, so both bands change.
    if (n - 1 < staleFrom_) staleFrom_ = n - 1;
    builtRings = n + 1;
    targetRings = n + 1;
    shownRings = n + 1;
    return true;
}

void CrystalBody::PlaceInWorld(IDirect3DDevice9* device, const Matrix4& matrix)
{
    Matrix4 translation = MatrixIdentity();
    translation._41 = position.x;
    translation._42 = position.y;
    translation._43 = position.z;
    worldMatrix = MatrixMultiply(MatrixMultiply(matrix, translation), QuaternionToMatrix(orientation));
    device->SetTransform(D3DTS_WORLD, &worldMatrix);
}

bool CrystalBody::Animate(IDirect3DDevice9* device, const Matrix4& matrix, std::int32_t factor)
{
    PlaceInWorld(device, matrix);
    if (factor > 0) {
        shownRings += factor;
        if (shownRings >= targetRings) {
            shownRings = targetRings;
            return false;
        }
        return true;
    }
    if (factor == 0) return true;

    consumedRings += -factor;
    if (consumedRings >= shownRings) {
        consumedRings = shownRings;
        return false;
    }
    const int k = consumedRings < targetRings ? consumedRings : targetRings - 1;
    EmitSparks(device, rings[k].centre);
    capVisible = false;
    return true;
}

void CrystalBody::EmitSparks(IDirect3DDevice9* device, const Vector3& centre)
{
    D3DMATRIX view, projection;
    device->GetTransform(D3DTS_VIEW, &view);
    device->GetTransform(D3DTS_PROJECTION, &projection);
    const int halfWidth = world->LogicalWidth() / 2;
    const int halfHeight = world->LogicalHeight() / 2;
    Matrix4 screen = MatrixIdentity();
    screen._11 = static_cast<float>(halfWidth);
    screen._22 = static_cast<float>(-halfHeight);
    screen._41 = static_cast<float>(halfWidth);
    screen._42 = static_cast<float>(halfHeight);

    float q[4] = {centre.x, centre.y, centre.z, 1.0f};
    TransformRow(q, worldMatrix);
    TransformRow(q, view);
    TransformRow(q, projection);
    TransformRow(q, screen);
    const float sx = q[0] / q[3];
    const float sy = q[1] / q[3];

    LightSet* lights = world->lights.get();
    for (int spark = 0; spark < 4; ++spark) {
        // The five draws per spark come in this order; a seeded run repeats them.
        const float a1 = static_cast<float>(std::rand() % 360) * DegreesToRadians;
        const int m1 = std::rand() % 16 - 8;
        const float x = sx + static_cast<float>(m1) * std::sin(a1);
        const float a2 = static_cast<float>(std::rand() % 360) * DegreesToRadians;
        const int m2 = std::rand() % 16 - 8;
        const float y = sy + static_cast<float>(m2) * std::cos(a2);
        const int life = 512 + std::rand() % 12;

        float dx = static_cast<float>(halfWidth) - x;
        float dy = static_cast<float>(halfHeight) - y;
        const float length = std::sqrt(dx * dx + dy * dy);
        if (length == 0.0f) {
            dx = dy = 0.0f;
        } else {
            dx /= length;
            dy /= length;
        }
        if (lights != nullptr) lights->Emit(SparkRecord{x, y, 4.0f, life, life, dx, dy});
    }
}

bool CrystalBody::PrepareBuffers(IDirect3DDevice9* device)
{
    if (bandVertices_ && bandIndices_) return true;
    constexpr UINT vertexBytes = RingCapacity * CrystalRing::BandVertices * sizeof(CrystalVertex);
    constexpr UINT indexBytes = RingCapacity * CrystalRing::BandIndices * sizeof(std::uint16_t);
    static_assert(RingCapacity * CrystalRing::BandVertices <= 65536, "16-bit indices reach every corner");
    if (FAILED(device->CreateVertexBuffer(vertexBytes, D3DUSAGE_WRITEONLY, CrystalVertexFormat, D3DPOOL_MANAGED,
                                          bandVertices_.Out(), nullptr)) ||
        FAILED(device->CreateIndexBuffer(indexBytes, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED,
                                         bandIndices_.Out(), nullptr))) {
        bandVertices_.Reset();
        bandIndices_.Reset();
        return false;
    }
    indexedRings_ = 0;
    staleFrom_ = 0;
    return true;
}

void CrystalBody::IndexRings(int count)
{
    if (count <= indexedRings_) return;
    constexpr UINT ringBytes = CrystalRing::BandIndices * sizeof(std::uint16_t);
    void* data = nullptr;
    if (FAILED(bandIndices_.Get()->Lock(static_cast<UINT>(indexedRings_) * ringBytes,
                                        static_cast<UINT>(count - indexedRings_) * ringBytes, &data, 0)))
        return;
    // Each face is the fan (0, 1, 2), (0, 2, 3) of its four corners.
    auto* index = static_cast<std::uint16_t*>(data);
    for (int face = indexedRings_ * 6; face < count * 6; ++face) {
        const auto corner = static_cast<std::uint16_t>(face * 4);
        *index++ = corner;
        *index++ = static_cast<std::uint16_t>(corner + 1);
        *index++ = static_cast<std::uint16_t>(corner + 2);
        *index++ = corner;
        *index++ = static_cast<std::uint16_t>(corner + 2);
        *index++ = static_cast<std::uint16_t>(corner + 3);
    }
    bandIndices_.Get()->Unlock();
    indexedRings_ = count;
}

void CrystalBody::WriteStaleBands()
{
    const int first = staleFrom_ < 1 ? 1 : staleFrom_;
    if (first >= builtRings) {
        staleFrom_ = builtRings;
        return;
    }
    constexpr UINT ringBytes = CrystalRing::BandVertices * sizeof(CrystalVertex);
    void* data = nullptr;
    if (FAILED(bandVertices_.Get()->Lock(static_cast<UINT>(first) * ringBytes,
                                         static_cast<UINT>(builtRings - first) * ringBytes, &data, 0)))
        return;
    auto* out = static_cast<CrystalVertex*>(data);
    for (int i = first; i < builtRings; ++i, out += CrystalRing::BandVertices)
        if (!rings[i].WriteBand(out)) std::fill(out, out + CrystalRing::BandVertices, CrystalVertex{});
    bandVertices_.Get()->Unlock();
    staleFrom_ = builtRings;
}

void CrystalBody::Draw(IDirect3DDevice9* device, const Matrix4& matrix)
{
    PlaceInWorld(device, matrix);
    D3DMATERIAL9 material{};
    material.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Ambient = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Specular = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Emissive = {0.0f, 0.0f, 0.0f, 0.0f};
    material.Power = 10.0f;
    device->SetMaterial(&material);
    device->SetRenderState(D3DRS_SPECULARMATERIALSOURCE, D3DMCS_MATERIAL);
    device->SetFVF(CrystalVertexFormat);
    // The mirrored crystals wind the other way round; both must show.
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    if (!rings) return;

    // Sphere-map coordinates: the camera-space normal turned back by the
    // view, then x and -y mapped from [-1, 1] to [0, 1]; that is the face
    // normal turned by the world matrix alone.
    D3DMATRIX view;
    device->GetTransform(D3DTS_VIEW, &view);
    Matrix4 viewTurn = MatrixIdentity();
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) viewTurn.m[r][c] = view.m[r][c];
    Matrix4 toMap = MatrixIdentity();
    toMap._11 = 0.5f;
    toMap._22 = -0.5f;
    toMap._33 = 0.0f;
    toMap._41 = 0.5f;
    toMap._42 = 0.5f;
    const Matrix4 sphereMap = MatrixMultiply(MatrixInverseAffine(viewTurn), toMap);
    device->SetTransform(D3DTS_TEXTURE0, &sphereMap);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);

    const int first = consumedRings < 1 ? 1 : consumedRings;
    if (shownRings > first && PrepareBuffers(device)) {
        if (staleFrom_ < builtRings) WriteStaleBands();
        // Indices follow the rings as they are first built, so that no frame sends them all.
        IndexRings(shownRings);
        const UINT ringCount = static_cast<UINT>(shownRings - first);
        device->SetStreamSource(0, bandVertices_.Get(), 0, sizeof(CrystalVertex));
        device->SetIndices(bandIndices_.Get());
        device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, static_cast<UINT>(first) * CrystalRing::BandVertices,
                                     ringCount * CrystalRing::BandVertices,
                                     static_cast<UINT>(first) * CrystalRing::BandIndices, ringCount * 12);
        device->SetStreamSource(0, nullptr, 0, 0);
        device->SetIndices(nullptr);
    }
    if (shownRings - 1 > 1 && capVisible) rings[shownRings - 1].DrawCap(device);

    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
}
