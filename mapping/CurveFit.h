#pragma once
// Polynomial least squares for the geolocation diagnostics: the normal equations are solved
// by Gauss-Jordan elimination with full pivoting.

#include <cstddef>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

// The arithmetic error of the fitting code; its messages are fixed English texts.
class EMathError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A dense row-major matrix of 64-bit floats; m[r][c] addresses row r, column c.
class matrix {
public:
    matrix() = default;
    matrix(std::size_t rows, std::size_t columns) : rows_(rows), columns_(columns), cells_(rows * columns, 0.0) {}

    std::size_t Rows() const { return rows_; }
    std::size_t Columns() const { return columns_; }

    double* operator[](std::size_t row) { return cells_.data() + row * columns_; }
    const double* operator[](std::size_t row) const { return cells_.data() + row * columns_; }

    void SwapRows(std::size_t a, std::size_t b);
    void SwapColumns(std::size_t a, std::size_t b);

private:
    std::size_t rows_ = 0;
    std::size_t columns_ = 0;
    std::vector<double> cells_;
};

// Solves a x = b for the square matrix a in place: on return b holds the solution and a its
// inverse. Raises EMathError "Error in GaussJordan2: matrix is singular" or
// "Error in GaussJordan: matrix is singular" for a singular matrix, and std::invalid_argument
// when a is not square or b is shorter than a's order.
void GaussJordan(matrix& a, std::span<double> b);

// Least-squares polynomial through the first `points` pairs (x, y) with `terms` coefficients,
// constant first, written to coefficients[0 .. terms-1]. correlation receives the square root
// of the explained share of the variance (1 for a perfect fit, 0 for none).
// Raises EMathError "PolyFit called with less than one term" / "... less than two points",
// the solver's errors, and std::invalid_argument when the arrays are shorter than the counts.
void PolyFit(std::span<const double> x, std::span<const double> y, std::span<double> coefficients, double& correlation,
             int points, int terms);
