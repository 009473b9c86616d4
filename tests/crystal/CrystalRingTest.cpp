// The seed ring, the ring built on a previous one, and the two vector
// operations the ring builder relies on.
#include <cmath>

#include <gtest/gtest.h>

#include "crystal/CrystalRing.h"
#include "scenery/SceneNode.h"

namespace {

constexpr float kRingTolerance = 1e-5f;

void ExpectVector(const Vector3& v, float x, float y, float z, float tolerance = kRingTolerance)
{
    EXPECT_NEAR(v.x, x, tolerance);
    EXPECT_NEAR(v.y, y, tolerance);
    EXPECT_NEAR(v.z, z, tolerance);
}

// `actual` is `towards` scaled to unit length.
void ExpectUnitAlong(const Vector3& actual, Vector3 towards)
{
    Normalise(towards);
    ExpectVector(actual, towards.x, towards.y, towards.z);
}

float Length(const Vector3& v) { return std::sqrt(Dot(v, v)); }

TEST(CrystalRing, SeedRimTurnsFromPlusXTowardsMinusZAroundTheCentre)
{
    CrystalRing ring;
    const Vector3 centre = MakeVector(1.0f, 2.0f, 3.0f);
    ring.BuildRing(centre, 0.1f);
    EXPECT_EQ(ring.previous, nullptr);
    EXPECT_EQ(ring.peakSample, 0);
    EXPECT_EQ(ring.bandTag, 0);
    EXPECT_EQ(ring.radius, 0.1f);
    ExpectVector(ring.axis, 0, 1, 0);
    ExpectVector(ring.sideAxis, 0, 0, 1);
    ExpectVector(ring.centre, 1, 2, 3);
    for (int k = 0; k < 6; ++k) {
        const double angle = k * 60.0 * 3.14159265358979 / 180.0;
        SCOPED_TRACE(k);
        ExpectVector(ring.rim[k].Position(), 1.0f + 0.1f * std::cos(angle), 2.0f, 3.0f - 0.1f * std::sin(angle));
        // Unit normals pointing at the centre.
        const Vector3 n = ring.rim[k].Normal();
        EXPECT_NEAR(Length(n), 1.0f, kRingTolerance);
        ExpectVector(n, -std::cos(angle), 0, std::sin(angle));
    }
}

TEST(CrystalRing, RingOfRadiusZeroKeepsZeroNormals)
{
    CrystalRing ring;
    ring.BuildRing(MakeVector(0, 0, 0), 0.0f);
    for (const RingVertex& corner : ring.rim) ExpectVector(corner.Normal(), 0, 0, 0);
}

TEST(CrystalRing, StraightStepCarriesTheCrossSectionAlong)
{
    CrystalRing seed, next;
    seed.BuildRing(MakeVector(0, 0, 0), 0.1f);
    ASSERT_TRUE(next.BuildFromPrevious(MakeVector(0, 0.8f, 0), 1.2f, &seed, 9, 12345));
    EXPECT_EQ(next.previous, &seed);
    EXPECT_EQ(next.bandTag, 9);
    EXPECT_EQ(next.peakSample, 12345);
    ExpectVector(next.axis, 0, 1, 0);
    // Parallel axes: no turn, the previous side axis carries over.
    ExpectVector(next.sideAxis, 0, 0, 1);
    for (int k = 0; k < 6; ++k) {
        const Vector3 expected = MakeVector(0, 0.8f, 0) + 12.0f * (seed.rim[k].Position() - seed.centre);
        ExpectVector(next.rim[k].Position(), expected.x, expected.y, expected.z);
    }
    // The seed has no ring below it, so it is never turned.
    ExpectVector(seed.axis, 0, 1, 0);
}

TEST(CrystalRing, BentRingIsPerpendicularToItsAxisAndTurnsTheRingBelow)
{
    CrystalRing seed, first, second;
    seed.BuildRing(MakeVector(0, 0, 0), 0.1f);
    first.BuildFromPrevious(MakeVector(0, 1, 0), 1.2f, &seed, 1, 5000);
    second.BuildFromPrevious(MakeVector(0.5f, 2, 0), 1.2f, &first, 1, 5000);

    ExpectUnitAlong(second.axis, MakeVector(0.5f, 1, 0));
    for (const RingVertex& corner : second.rim) {
        const Vector3 offset = corner.Position() - second.centre;
        EXPECT_NEAR(Length(offset), 1.2f, kRingTolerance);
        EXPECT_NEAR(Dot(offset, second.axis), 0.0f, kRingTolerance);
        EXPECT_NEAR(Dot(corner.Normal(), offset), -1.2f, kRingTolerance);
    }
    // The ring below now points from its own previous ring to the new centre.
    ExpectUnitAlong(first.axis, MakeVector(0.5f, 2, 0));
    for (const RingVertex& corner : first.rim) {
        const Vector3 offset = corner.Position() - first.centre;
        EXPECT_NEAR(Length(offset), 1.2f, kRingTolerance);
        EXPECT_NEAR(Length(corner.Normal()), 1.0f, kRingTolerance);
    }
}

TEST(CrystalRingMath, NormaliseLeavesTheZeroVectorAlone)
{
    Vector3 zero = MakeVector(0, 0, 0);
    EXPECT_FALSE(Normalise(zero));
    ExpectVector(zero, 0, 0, 0);
    Vector3 v = MakeVector(3, 0, 4);
    EXPECT_TRUE(Normalise(v));
    ExpectVector(v, 0.6f, 0, 0.8f);
}

TEST(CrystalRingMath, AxisAngleMatrixTurnsColumnsAboutTheNormalisedAxis)
{
    // A quarter turn about +y takes +x to -z (as a column vector).
    const Matrix4 m = AxisAngleMatrix(MakeVector(0, 5, 0), 90.0f * DegreesToRadians);
    ExpectVector(RotateVector(MakeVector(1, 0, 0), m), 0, 0, -1);
    EXPECT_EQ(m._14, 0.0f);
    EXPECT_EQ(m._41, 0.0f);
    EXPECT_EQ(m._44, 1.0f);
}

}  // namespace
