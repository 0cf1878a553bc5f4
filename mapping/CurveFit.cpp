#include "mapping/CurveFit.h"

#include <cmath>
#include <utility>

void matrix::SwapRows(std::size_t a, std::size_t b)
{
    if (a == b)
        return;
    for (std::size_t c = 0; c < columns_; ++c)
        std::swap((*this)[a][c], (*this)[b][c]);
}

void matrix::SwapColumns(std::size_t a, std::size_t b)
{
    if (a == b)
        return;
    for (std::size_t r = 0; r < rows_; ++r)
        std::swap((*this)[r][a], (*this)[r][b]);
}

void GaussJordan(matrix& a, std::span<double> b)
{
    const std::size_t n = a.Rows();
    if (a.Columns() != n || b.size() < n)
        throw std::invalid_argument("GaussJordan: the matrix is not square or the right-hand side is too short");

    // usage[k] counts how often column k served as pivot; a count above 1 only arises after a
    // step that found nothing to pivot on and fell back on the previous position.
    std::vector<int> usage(n, 0);
    std::vector<std::size_t> pivotRow(n, 0), pivotColumn(n, 0);
    std::size_t row = 0, column = 0;
    bool lastStepFoundNoPivot = false;

    for (std::size_t step = 0; step < n; ++step) {
        double best = 0.0;
        bool found = false;
        for (std::size_t j = 0; j < n; ++j) {
            if (usage[j] == 1)
                continue;
            for (std::size_t k = 0; k < n; ++k) {
                if (usage[k] == 0) {
                    // Strictly larger only: a NaN or an all-zero remainder never becomes a pivot.
                    if (std::fabs(a[j][k]) > best) {
                        best = std::fabs(a[j][k]);
                        row = j;
                        column = k;
                        found = true;
                    }
                } else if (usage[k] > 1) {
                    throw EMathError("Error in GaussJordan2: matrix is singular");
                }
            }
        }
        ++usage[column];
        lastStepFoundNoPivot = !found;
        if (!found)
            continue; // nothing sound to eliminate with; the next search or the final check reports it

        if (row != column) {
            a.SwapRows(row, column);
            std::swap(b[row], b[column]);
        }
        pivotRow[step] = row;
        pivotColumn[step] = column;

        const double inverse = 1.0 / a[column][column];
        a[column][column] = 1.0;
        for (std::size_t c = 0; c < n; ++c)
            a[column][c] *= inverse;
        b[column] *= inverse;

        for (std::size_t other = 0; other < n; ++other) {
            if (other == column)
                continue;
            const double factor = a[other][column];
            a[other][column] = 0.0;
            for (std::size_t c = 0; c < n; ++c)
                a[other][c] -= a[column][c] * factor;
            b[other] -= b[column] * factor;
        }
    }

    for (std::size_t k = 0; k < n; ++k)
        if (usage[k] == 0)
            throw EMathError("Error in GaussJordan: matrix is singular");
    // A 1 x 1 zero matrix uses its only column once without ever finding a pivot.
    if (lastStepFoundNoPivot)
        throw EMathError("Error in GaussJordan: matrix is singular");

    for (std::size_t step = n; step-- > 0;)
        if (pivotRow[step] != pivotColumn[step])
            a.SwapColumns(pivotRow[step], pivotColumn[step]);
}

void PolyFit(std::span<const double> x, std::span<const double> y, std::span<double> coefficients, double& correlation,
             int points, int terms)
{
    if (terms < 1)
        throw EMathError("PolyFit called with less than one term");
    if (points < 2)
        throw EMathError("PolyFit called with less than two points");
    const auto n = static_cast<std::size_t>(points);
    const auto m = static_cast<std::size_t>(terms);
    if (x.size() < n || y.size() < n || coefficients.size() < m)
        throw std::invalid_argument("PolyFit: fewer values than points or terms");

    matrix design(n, m);
    for (std::size_t i = 0; i < n; ++i) {
        design[i][0] = 1.0;
        for (std::size_t j = 1; j < m; ++j)
            design[i][j] = design[i][j - 1] * x[i];
    }

    matrix normal(m, m);
    std::vector<double> solution(m, 0.0);
    for (std::size_t j = 0; j < m; ++j) {
        for (std::size_t k = 0; k <= j; ++k) {
            double sum = 0.0;
            for (std::size_t i = 0; i < n; ++i)
                sum += design[i][j] * design[i][k];
            normal[j][k] = sum;
            normal[k][j] = sum;
        }
        double sum = 0.0;
        for (std::size_t i = 0; i < n; ++i)
            sum += design[i][j] * y[i];
        solution[j] = sum;
    }

    GaussJordan(normal, solution);
    for (std::size_t j = 0; j < m; ++j)
        coefficients[j] = solution[j];

    double sse = 0.0, sumY = 0.0, sumY2 = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        double fitted = 0.0;
        for (std::size_t j = 0; j < m; ++j)
            fitted += solution[j] * design[i][j];
        sse += (fitted - y[i]) * (fitted - y[i]);
        sumY += y[i];
        sumY2 += y[i] * y[i];
    }
    const double sst = sumY2 - sumY * sumY / static_cast<double>(n);
    // A total below zero can only be cancellation in nearly constant data: count it as none.
    const double q = (sst == 0.0 || sst < 0.0) ? 0.0 : sse / sst;
    correlation = q >= 1.0 ? 0.0 : std::sqrt(1.0 - q);
}
