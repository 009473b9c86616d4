// Ring construction (seed and bend) and the band and lid drawing.
#include "crystal/CrystalRing.h"

#include <cmath>

#include "scenery/SceneNode.h"

namespace {

// acos results to degrees, the factor the ring builder uses.
constexpr float RadiansToDegrees = 57.29579f;
constexpr D3DCOLOR White = 0xFFFFFFFFu;

// The texture coordinates are made by the device from the normal.
CrystalVertex MakeVertex(const Vector3& p, const Vector3& n, DWORD matrix)
{
    return CrystalVertex{p.x, p.y, p.z, matrix, n.x, n.y, n.z, White};
}

// The rotation that turns `from` onto `to` about their common normal, or the
// identity about `fallbackAxis` when they are (nearly) parallel or rounding
// pushed the cosine out of range. Returns the axis used.
Vector3 BendRotation(const Vector3& from, const Vector3& to, const Vector3& fallbackAxis, Matrix4& rotation)
{
    const float cosine = Dot(from, to);
    Vector3 k = Cross(to, from);
    Normalise(k);
    float degrees = 0.0f;
    const bool turns = std::fabs(k.x) >= 0.001f || std::fabs(k.y) >= 0.001f || std::fabs(k.z) >= 0.001f;
    if (turns && cosine >= -1.0f && cosine <= 1.0f) {
        degrees = std::acos(cosine) * RadiansToDegrees;
    } else {
        k = fallbackAxis;
    }
    rotation = AxisAngleMatrix(k, -degrees * DegreesToRadians);
    return k;
}

}  // namespace

void RingVertex::SetPosition(const Vector3& v)
{
    position[0] = v.x;
    position[1] = v.y;
    position[2] = v.z;
}

void RingVertex::SetNormal(const Vector3& v)
{
    normal[0] = v.x;
    normal[1] = v.y;
    normal[2] = v.z;
}

bool Normalise(Vector3& v)
{
    const float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (length == 0.0f) return false;
    v.x /= length;
    v.y /= length;
    v.z /= length;
    return true;
}

Matrix4 AxisAngleMatrix(const Vector3& axis, float radians)
{
    const float c = std::cos(radians);
    const float s = std::sin(radians);
    const float t = 1.0f - c;
    float ax = axis.x, ay = axis.y, az = axis.z;
    const float length = std::sqrt(ax * ax + ay * ay + az * az);
    if (length != 0.0f) {
        ax /= length;
        ay /= length;
        az /= length;
    }
    Matrix4 m = MatrixIdentity();
    m._11 = c + t * ax * ax;
    m._12 = t * ax * ay - s * az;
    m._13 = t * ax * az + s * ay;
    m._21 = t * ax * ay + s * az;
    m._22 = c + t * ay * ay;
    m._23 = t * ay * az - s * ax;
    m._31 = t * ax * az - s * ay;
    m._32 = t * ay * az + s * ax;
    m._33 = c + t * az * az;
    return m;
}

void CrystalRing::BuildRing(Vector3 centreIn, float radiusIn)
{
    centre = centreIn;
    radius = radiusIn;
    sideAxis = MakeVector(0.0f, 0.0f, 1.0f);
    previous = nullptr;
    axis = MakeVector(0.0f, 1.0f, 0.0f);
    for (int k = 0; k < 6; ++k) {
        const Matrix4 turn = AxisAngleMatrix(MakeVector(0.0f, 1.0f, 0.0f), static_cast<float>(k * 60) * DegreesToRadians);
        rim[k] = RingVertex{};
        rim[k].SetPosition(centre + RotateVector(MakeVector(radiusIn, 0.0f, 0.0f), turn));
    }
    for (int k = 0; k < 6; ++k) {
        Vector3 inward = centre - rim[k].Position();
        Normalise(inward);
        rim[k].SetNormal(inward);
    }
}

bool CrystalRing::BuildFromPrevious(Vector3 centreIn, float radiusIn, CrystalRing* previousRing, int tag, int peak)
{
    CrystalRing& p = *previousRing;
    bandTag = tag;
    peakSample = peak;
    radius = radiusIn;
    centre = centreIn;
    previous = previousRing;

    axis = centre - p.centre;
    Normalise(axis);
    Matrix4 bend;
    sideAxis = BendRotation(p.axis, axis, p.sideAxis, bend);
    for (int i = 0; i < 6; ++i) {
        Vector3 q = p.rim[i].Position() - p.centre;
        Normalise(q);
        rim[i] = RingVertex{};
        rim[i].SetPosition(centre + RotateVector(radiusIn * q, bend));
    }
    for (int i = 0; i < 6; ++i) {
        Vector3 inward = centre - rim[i].Position();
        Normalise(inward);
        rim[i].SetNormal(inward);
    }

    // The ring below leans into the bend so that the crystal curves smoothly.
    if (p.previous != nullptr) {
        const CrystalRing& q = *p.previous;
        p.axis = centre - q.centre;
        Normalise(p.axis);
        Matrix4 follow;
        p.sideAxis = BendRotation(p.axis, axis, q.sideAxis, follow);
        for (int i = 0; i < 6; ++i) {
            Vector3 offset = p.rim[i].Position() - p.centre;
            Normalise(offset);
            const Vector3 moved = p.centre + RotateVector(p.radius * offset, follow);
            p.rim[i] = RingVertex{};
            p.rim[i].SetPosition(moved);
        }
        for (int i = 0; i < 6; ++i) {
            Vector3 inward = p.centre - p.rim[i].Position();
            Normalise(inward);
            p.rim[i].SetNormal(inward);
        }
    }
    return true;
}

bool CrystalRing::WriteBand(CrystalVertex out[BandVertices], DWORD matrix) const
{
    if (previous == nullptr) return false;
    const CrystalRing& p = *previous;
    for (int i = 0; i < 6; ++i) {
        const int j = (i + 1) % 6;
        const Vector3 n = 0.25f * (rim[i].Normal() + rim[j].Normal() + p.rim[j].Normal() + p.rim[i].Normal());
        CrystalVertex* face = out + i * 4;
        face[0] = MakeVertex(rim[i].Position(), n, matrix);
        face[1] = MakeVertex(rim[j].Position(), n, matrix);
        face[2] = MakeVertex(p.rim[j].Position(), n, matrix);
        face[3] = MakeVertex(p.rim[i].Position(), n, matrix);
    }
    return true;
}

void CrystalRing::WriteLid(CrystalVertex out[LidVertices], DWORD matrix) const
{
    out[0] = MakeVertex(centre, axis, matrix);
    for (int k = 0; k < 6; ++k) out[k + 1] = MakeVertex(rim[k].Position(), axis, matrix);
}
