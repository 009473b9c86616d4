// Ring counters, growth steps, and the grow/dissolve animation with its sparks.
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

const Matrix4& CrystalBody::Place(const Matrix4& matrix)
{
    Matrix4 translation = MatrixIdentity();
    translation._41 = position.x;
    translation._42 = position.y;
    translation._43 = position.z;
    worldMatrix = MultiplyMatrices(MultiplyMatrices(matrix, translation), QuaternionToMatrix(orientation));
    return worldMatrix;
}

void CrystalBody::PlaceInWorld(IDirect3DDevice9* device, const Matrix4& matrix)
{
    device->SetTransform(D3DTS_WORLD, &Place(matrix));
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
