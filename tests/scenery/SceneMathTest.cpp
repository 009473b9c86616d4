// The scene node's moves and turns and the matrix toolkit.
#include <cmath>

#include <gtest/gtest.h>

#include "scenery/SceneNode.h"

namespace {

class Node : public SceneNode {
public:
    void Update(IDirect3DDevice9*, const Matrix4&) override {}
};

constexpr float kTolerance = 1e-6f;
const float kSin45 = std::sin(0.785398163f);

void ExpectVector(const Vector3& v, float x, float y, float z)
{
    EXPECT_NEAR(v.x, x, kTolerance);
    EXPECT_NEAR(v.y, y, kTolerance);
    EXPECT_NEAR(v.z, z, kTolerance);
}

void ExpectQuaternion(const Quaternion& q, float x, float y, float z, float w)
{
    EXPECT_NEAR(q.x, x, kTolerance);
    EXPECT_NEAR(q.y, y, kTolerance);
    EXPECT_NEAR(q.z, z, kTolerance);
    EXPECT_NEAR(q.w, w, kTolerance);
}

void ExpectMatrix(const Matrix4& actual, const Matrix4& expected, float tolerance = kTolerance)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(actual.m[r][c], expected.m[r][c], tolerance) << "row " << r << " column " << c;
}

TEST(SceneNode, StartsAtTheOriginWithTheIdentity)
{
    Node node;
    EXPECT_TRUE(node.name.empty());
    ExpectVector(node.position, 0, 0, 0);
    ExpectQuaternion(node.orientation, 0, 0, 0, 1);
    ExpectQuaternion(node.previousOrientation, 0, 0, 0, 1);
}

TEST(SceneNode, TurnAboutTheVerticalThenMoveAlongOwnX)
{
    Node node;
    node.Turn(false, 90.0f);
    ExpectQuaternion(node.orientation, 0, kSin45, 0, kSin45);
    ExpectQuaternion(node.previousOrientation, 0, 0, 0, 1);
    node.Move(1.0f, 0.0f, 0.0f);
    ExpectVector(node.position, 0, 0, -1);
}

TEST(SceneNode, TurnAboutTheHorizontalThenMoveAlongOwnY)
{
    Node node;
    node.Turn(true, 90.0f);
    ExpectQuaternion(node.orientation, kSin45, 0, 0, kSin45);
    node.Move(0.0f, 1.0f, 0.0f);
    ExpectVector(node.position, 0, 0, 1);
}

TEST(SceneNode, TurnsAccumulateAndRememberThePreviousOrientation)
{
    Node node;
    node.Turn(false, 30.0f);
    const Quaternion afterFirst = node.orientation;
    node.Turn(false, 60.0f);
    ExpectQuaternion(node.previousOrientation, afterFirst.x, afterFirst.y, afterFirst.z, afterFirst.w);
    ExpectQuaternion(node.orientation, 0, kSin45, 0, kSin45);
    // Moves are relative: a second move adds to the first.
    node.Move(0.0f, 2.0f, 0.0f);
    node.Move(0.0f, 0.0f, 1.0f);
    ExpectVector(node.position, 1, 2, 0);
}

TEST(SceneNode, ManyTurnsAreNotRenormalised)
{
    Node node;
    for (int i = 0; i < 100000; ++i) node.Turn(false, 0.7f);
    const Quaternion& q = node.orientation;
    const float length = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
    EXPECT_NE(length, 1.0f);
    EXPECT_NEAR(length, 1.0f, 1e-2f);
}

TEST(MatrixToolkit, InverseOfATranslationIsTheOppositeTranslation)
{
    Matrix4 translation = MatrixIdentity();
    translation._41 = 2.0f;
    translation._42 = 3.0f;
    translation._43 = 4.0f;
    Matrix4 expected = MatrixIdentity();
    expected._41 = -2.0f;
    expected._42 = -3.0f;
    expected._43 = -4.0f;
    ExpectMatrix(MatrixInverseAffine(translation), expected);
}

TEST(MatrixToolkit, InverseOfAnAffineMatrixUndoesIt)
{
    Matrix4 m = QuaternionToMatrix(QuaternionFromAxisAngle(MakeVector(0.6f, 0.0f, 0.8f), 1.1f));
    m._11 *= 2.0f;  // a scale as well as a turn
    m._41 = -5.0f;
    m._42 = 0.5f;
    m._43 = 7.0f;
    ExpectMatrix(MultiplyMatrices(m, MatrixInverseAffine(m)), MatrixIdentity(), 1e-5f);
    ExpectMatrix(MultiplyMatrices(MatrixInverseAffine(m), m), MatrixIdentity(), 1e-5f);
}

TEST(MatrixToolkit, MultiplyIsRowTimesColumn)
{
    Matrix4 a = MatrixZero(), b = MatrixZero();
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            a.m[r][c] = static_cast<float>(r * 4 + c);
            b.m[r][c] = static_cast<float>((r == c) ? 2 : 0) + (r == 0 && c == 3 ? 1.0f : 0.0f);
        }
    const Matrix4 product = MultiplyMatrices(a, b);
    // Column 3 of b is (1, 0, 0, 2): product(i, 3) = a(i, 0) + 2 a(i, 3).
    for (int r = 0; r < 4; ++r) {
        EXPECT_EQ(product.m[r][0], 2.0f * a.m[r][0]);
        EXPECT_EQ(product.m[r][3], a.m[r][0] + 2.0f * a.m[r][3]);
    }
    Matrix4 copy = MatrixZero();
    MatrixCopy(copy, product);
    ExpectMatrix(copy, product, 0.0f);
}

TEST(MatrixToolkit, QuaternionMatrixTurnsColumnVectors)
{
    // A quarter turn about z takes x to y for a column vector.
    const Quaternion q = QuaternionFromAxisAngle(MakeVector(0, 0, 1), 1.5707963f);
    ExpectVector(RotateVector(MakeVector(1, 0, 0), QuaternionToMatrix(q)), 0, 1, 0);
    // The axis is used as given: a longer axis gives a longer vector part.
    const Quaternion unscaled = QuaternionFromAxisAngle(MakeVector(0, 0, 2), 1.5707963f);
    EXPECT_NEAR(unscaled.z, 2.0f * q.z, kTolerance);
}

TEST(MatrixToolkit, HamiltonProductComposesRotations)
{
    const Quaternion a = QuaternionFromAxisAngle(MakeVector(1, 0, 0), 0.4f);
    const Quaternion b = QuaternionFromAxisAngle(MakeVector(0, 1, 0), 1.3f);
    // Turning by b then a (column vectors) is the product a (x) b.
    const Vector3 v = MakeVector(0.3f, -0.2f, 0.9f);
    const Vector3 stepwise = RotateVector(RotateVector(v, QuaternionToMatrix(b)), QuaternionToMatrix(a));
    const Vector3 composed = RotateVector(v, QuaternionToMatrix(QuaternionMultiply(a, b)));
    ExpectVector(composed, stepwise.x, stepwise.y, stepwise.z);
    ExpectQuaternion(QuaternionMultiply(QuaternionIdentity(), a), a.x, a.y, a.z, a.w);
}

TEST(MatrixToolkit, DotAndCross)
{
    const Vector3 x = MakeVector(1, 0, 0), y = MakeVector(0, 1, 0);
    ExpectVector(Cross(x, y), 0, 0, 1);
    ExpectVector(Cross(y, x), 0, 0, -1);
    EXPECT_EQ(Dot(MakeVector(1, 2, 3), MakeVector(4, -5, 6)), 12.0f);
}

}  // namespace
