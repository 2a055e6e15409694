#pragma once

#include "physics/ActiveSetLCP.h"
#include "physics/BodyBlockMatrix.h"

#include <cstdint>

namespace quarn {

class ScratchArena;
struct IslandSystem;

// An island's exact-step rows as the active sets solve them over its bodies (BodyBlockMatrix)
// rather than over the rows: the same problem and answer, with each solve's factor sized by the
// bodies. Everything lives in the caller's scratch scope, and the system must outlive it.
class IslandBodySpace : public ActiveSetMatrix {
public:
    // Sets the matrix up over the system's rows, the bodies in the order of `rank` (a place per
    // island body). False when the rows' own matrix must do: a row without cfm, or a body that
    // moves whose inertia has no inverse.
    bool Build(const IslandSystem& system, int32_t nb, float h, const int32_t* rank,
               ScratchArena& scratch);
    // The multiply-adds of one solve of every row.
    int64_t SolveWork() const;

    int32_t Rows() const override { return m_; }
    double Diagonal(int32_t i) const override { return diagonal_[i]; }
    void Multiply(const double* x, double* out) const override;
    int64_t ProductWork() const override;
    int64_t TakeRows(const int32_t* rows, int32_t count, ScratchArena& scratch) override;
    bool SolveTaken(double* rhs, ScratchArena& scratch) override;

private:
    // Row r's side s (0 the first body, 1 the second) as the matrix takes it, JM the side's
    // J M^-1.
    BodyBlockMatrix::Side SideOf(int32_t r, int32_t s) const;
    const float* JMOf(int32_t r, int32_t s) const { return jm_ + offset_[2 * r + s]; }
    // Factors K for the rows taken, anew or by changing the last factor row by row.
    bool FactorTaken(ScratchArena& scratch);
    // rhs := A_FF^-1 rhs for the rows taken, through the factor of K.
    void SolveTakenOnce(double* rhs, ScratchArena& scratch) const;
    // out = A x over the rows named (every row, in order, when rows is null).
    void MultiplyRows(const int32_t* rows, int32_t count, const double* x, double* out) const;

    int32_t m_ = 0;
    int32_t places_ = 0;
    const float* j_ = nullptr;
    const float* jm_ = nullptr;
    int32_t* offset_ = nullptr; // per row and side: where its eight floats lie in J and JM
    int32_t* place_ = nullptr;  // per row and side: its body's place, -1 for none
    double* cfm_ = nullptr;     // per row, over h
    double* diagonal_ = nullptr;
    float* mass_ = nullptr; // per place
    Matrix3* inertia_ = nullptr;
    double* velocity_ = nullptr; // a product's M^-1 J^T x, six a place
    // K as the last solve left it factored: the rows in it, and whether the next solve changes
    // it row by row (BodyBlockMatrix::Update) rather than factoring anew.
    BodyBlockMatrix k_;
    bool* inFactor_ = nullptr;
    bool factored_ = false;
    bool updating_ = false;
    double* room_ = nullptr; // for Update
    const int32_t* taken_ = nullptr;
    int32_t takenCount_ = 0;
};

} // namespace quarn
