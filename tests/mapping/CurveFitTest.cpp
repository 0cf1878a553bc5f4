#include "mapping/CurveFit.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string ThrownMessage(auto&& call)
{
    try {
        call();
    } catch (const EMathError& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

struct PolynomialCase {
    const char* name;
    std::vector<double> coefficients; // constant first
    std::vector<double> x;
    int terms;
};

class PolyFitKnownPolynomial : public ::testing::TestWithParam<PolynomialCase> {};

TEST_P(PolyFitKnownPolynomial, RecoversCoefficientsWithPerfectCorrelation)
{
    const auto& c = GetParam();
    std::vector<double> y;
    for (double x : c.x) {
        double v = 0.0;
        for (std::size_t j = c.coefficients.size(); j-- > 0;)
            v = v * x + c.coefficients[j];
        y.push_back(v);
    }
    std::vector<double> fitted(c.terms, -99.0);
    double correlation = -1.0;
    PolyFit(c.x, y, fitted, correlation, static_cast<int>(c.x.size()), c.terms);
    for (std::size_t j = 0; j < fitted.size(); ++j) {
        const double expected = j < c.coefficients.size() ? c.coefficients[j] : 0.0;
        EXPECT_NEAR(fitted[j], expected, 1e-6 * (1.0 + std::fabs(expected))) << "coefficient " << j;
    }
    EXPECT_NEAR(correlation, 1.0, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Polynomials, PolyFitKnownPolynomial,
    ::testing::Values(PolynomialCase{"line", {3.0, 2.0}, {0, 1, 2, 3, 4}, 2},
                      PolynomialCase{"parabola", {1.0, -2.0, 0.5}, {-3, -1, 0, 2, 5, 7}, 3},
                      PolynomialCase{"line_with_quadratic_term", {-7.0, 0.25}, {1, 2, 3, 4, 5, 6}, 3},
                      PolynomialCase{"cubic", {0.5, 0.0, -1.0, 0.125}, {-4, -2, -1, 0, 1, 3, 4, 6}, 4},
                      // Pixel rows as the diagnostics feed them: large x, slope near one.
                      PolynomialCase{"pixel_rows", {12.0, 1.0, 1e-6}, {352, 452, 552, 652, 752, 852, 952, 1052,
                                                                         1152, 1252, 1352},
                                     3},
                      PolynomialCase{"exactly_determined", {2.0, 1.0, -1.0}, {0, 1, 2}, 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PolyFit, StraightLinePrintsCorrelationOne)
{
    const std::array<double, 4> x{10, 20, 30, 40};
    const std::array<double, 4> y{15, 25, 35, 45};
    std::array<double, 3> c{};
    double correlation = 0.0;
    PolyFit(x, y, c, correlation, 4, 3);
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", correlation);
    EXPECT_STREQ(text, "1.000");
    EXPECT_NEAR(c[0], 5.0, 1e-9);
    EXPECT_NEAR(c[1], 1.0, 1e-9);
}

TEST(PolyFit, ConstantValuesGiveCorrelationOne)
{
    const std::array<double, 3> x{1, 2, 3};
    const std::array<double, 3> y{5, 5, 5};
    std::array<double, 2> c{};
    double correlation = 0.0;
    PolyFit(x, y, c, correlation, 3, 2);
    EXPECT_EQ(correlation, 1.0);
    EXPECT_NEAR(c[0], 5.0, 1e-12);
    EXPECT_NEAR(c[1], 0.0, 1e-12);
}

TEST(PolyFit, UncorrelatedDataGivesLowCorrelation)
{
    // A symmetric V has no linear trend at all: the straight line explains nothing.
    const std::array<double, 5> x{-2, -1, 0, 1, 2};
    const std::array<double, 5> y{2, 1, 0, 1, 2};
    std::array<double, 2> c{};
    double correlation = 0.5;
    PolyFit(x, y, c, correlation, 5, 2);
    EXPECT_EQ(correlation, 0.0);
    EXPECT_NEAR(c[0], 1.2, 1e-12);
}

TEST(PolyFit, NoisyLineHasCorrelationBelowOne)
{
    const std::array<double, 5> x{0, 1, 2, 3, 4};
    const std::array<double, 5> y{0.1, 0.9, 2.2, 2.8, 4.1};
    std::array<double, 2> c{};
    double correlation = 0.0;
    PolyFit(x, y, c, correlation, 5, 2);
    EXPECT_GT(correlation, 0.98);
    EXPECT_LT(correlation, 1.0);
}

TEST(PolyFit, OnlyTheFirstPointsTakePart)
{
    // The diagnostics list 21 samples but fit the first 11; the rest must not leak in.
    const std::array<double, 4> x{0, 1, 2, 100};
    const std::array<double, 4> y{1, 3, 5, -1000};
    std::array<double, 2> c{};
    double correlation = 0.0;
    PolyFit(x, y, c, correlation, 3, 2);
    EXPECT_NEAR(c[0], 1.0, 1e-12);
    EXPECT_NEAR(c[1], 2.0, 1e-12);
}

TEST(PolyFit, RefusesTooFewPointsOrTerms)
{
    const std::array<double, 3> x{1, 2, 3};
    const std::array<double, 3> y{1, 2, 3};
    std::array<double, 3> c{};
    double correlation = 0.0;
    EXPECT_EQ(ThrownMessage([&] { PolyFit(x, y, c, correlation, 1, 3); }), "PolyFit called with less than two points");
    EXPECT_EQ(ThrownMessage([&] { PolyFit(x, y, c, correlation, 3, 0); }), "PolyFit called with less than one term");
    // The term count is checked first.
    EXPECT_EQ(ThrownMessage([&] { PolyFit(x, y, c, correlation, 0, 0); }), "PolyFit called with less than one term");
    EXPECT_EQ(ThrownMessage([&] { PolyFit(x, y, c, correlation, -5, 3); }), "PolyFit called with less than two points");
}

TEST(PolyFit, RefusesCountsBeyondTheArrays)
{
    const std::array<double, 3> x{1, 2, 3};
    const std::array<double, 3> y{1, 2, 3};
    std::array<double, 2> c{};
    double correlation = 0.0;
    EXPECT_THROW(PolyFit(x, y, c, correlation, 4, 2), std::invalid_argument);
    EXPECT_THROW(PolyFit(x, y, c, correlation, 3, 3), std::invalid_argument);
}

TEST(PolyFit, CoincidentXValuesAreSingular)
{
    // Every sample at the same x: the quadratic's normal equations have rank one.
    const std::array<double, 4> x{2, 2, 2, 2}; // powers of two keep the elimination exact
    const std::array<double, 4> y{1, 2, 3, 4};
    std::array<double, 3> c{};
    double correlation = 0.0;
    EXPECT_EQ(ThrownMessage([&] { PolyFit(x, y, c, correlation, 4, 3); }), "Error in GaussJordan2: matrix is singular");
    // With two terms the rank deficit shows only in the last step.
    EXPECT_EQ(ThrownMessage([&] { PolyFit(x, y, c, correlation, 4, 2); }), "Error in GaussJordan: matrix is singular");
}

TEST(GaussJordan, SolvesAndInverts)
{
    matrix a(3, 3);
    const double values[3][3] = {{2, 1, -1}, {-3, -1, 2}, {-2, 1, 2}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            a[r][c] = values[r][c];
    std::array<double, 3> b{8, -11, -3};
    GaussJordan(a, b);
    EXPECT_NEAR(b[0], 2.0, 1e-12);
    EXPECT_NEAR(b[1], 3.0, 1e-12);
    EXPECT_NEAR(b[2], -1.0, 1e-12);
    // a now holds the inverse: original x inverse = identity.
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            double sum = 0.0;
            for (int k = 0; k < 3; ++k)
                sum += values[r][k] * a[k][c];
            EXPECT_NEAR(sum, r == c ? 1.0 : 0.0, 1e-12) << r << "," << c;
        }
}

TEST(GaussJordan, PivotsPastAZeroDiagonal)
{
    matrix a(2, 2);
    a[0][0] = 0;
    a[0][1] = 1;
    a[1][0] = 1;
    a[1][1] = 0;
    std::array<double, 2> b{4, 9};
    GaussJordan(a, b);
    EXPECT_DOUBLE_EQ(b[0], 9.0);
    EXPECT_DOUBLE_EQ(b[1], 4.0);
    EXPECT_DOUBLE_EQ(a[0][1], 1.0);
    EXPECT_DOUBLE_EQ(a[1][0], 1.0);
}

struct SingularCase {
    const char* name;
    std::vector<std::vector<double>> rows;
    const char* message;
};

class GaussJordanSingular : public ::testing::TestWithParam<SingularCase> {};

TEST_P(GaussJordanSingular, RaisesTheStepsMessage)
{
    const auto& c = GetParam();
    matrix a(c.rows.size(), c.rows.size());
    for (std::size_t r = 0; r < c.rows.size(); ++r)
        for (std::size_t k = 0; k < c.rows.size(); ++k)
            a[r][k] = c.rows[r][k];
    std::vector<double> b(c.rows.size(), 1.0);
    EXPECT_EQ(ThrownMessage([&] { GaussJordan(a, b); }), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Matrices, GaussJordanSingular,
    ::testing::Values(
        // The deficit shows in the last step: the final check names it.
        SingularCase{"rank_one_2x2", {{1, 2}, {2, 4}}, "Error in GaussJordan: matrix is singular"},
        SingularCase{"zero_2x2", {{0, 0}, {0, 0}}, "Error in GaussJordan: matrix is singular"},
        SingularCase{"zero_1x1", {{0}}, "Error in GaussJordan: matrix is singular"},
        SingularCase{"rank_two_3x3", {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, "Error in GaussJordan: matrix is singular"},
        // A step before the last finds nothing: the next search reports it.
        SingularCase{"rank_one_3x3", {{1, 2, 3}, {2, 4, 6}, {3, 6, 9}}, "Error in GaussJordan2: matrix is singular"},
        SingularCase{"zero_3x3", {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}, "Error in GaussJordan2: matrix is singular"},
        SingularCase{"nan_3x3", {{NAN, NAN, NAN}, {NAN, NAN, NAN}, {NAN, NAN, NAN}},
                     "Error in GaussJordan2: matrix is singular"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GaussJordan, RefusesMismatchedShapes)
{
    matrix a(2, 3);
    std::array<double, 2> b{};
    EXPECT_THROW(GaussJordan(a, b), std::invalid_argument);
    matrix square(3, 3);
    EXPECT_THROW(GaussJordan(square, b), std::invalid_argument);
}

} // namespace
