// Index-ranged arrays.
//
// Every numerical routine here works on arrays addressed with the index
// ranges of the mathematics it implements: parameters 1..n, simplex vertices
// 1..n+1, latent states 1..6p, observation rows from 0.  A handle is indexed
// directly with those indices: for a vector allocated over first..last,
// v[first] is its first element and v[last] its last.
//
// The classic way to get such indexing is to move the block address back by
// `first` elements, which leaves a pointer outside its block; in C++ merely
// forming that pointer is undefined behaviour.  These handles therefore keep
// the address of element `first` (always inside the block) together with the
// range, and subtract `first` at each access.  Indexing is checked with
// assert() in debug and sanitizer builds and costs one subtraction otherwise.
//
// Layouts (what is allocated, and what each release frees):
//   vector, ivector, dvector    one block of last-first+1 elements
//   cvector                     one block of last-first+2 bytes; the first
//                               byte is a spare that is never used
//   matrix, imatrix, dmatrix    a row-pointer array plus one separate block
//                               per row (rows are not contiguous)
//   submatrix, convert_matrix   a row-pointer array only, pointing into
//                               storage owned by someone else
//   d3tensor                    three blocks (layer pointers, row pointers,
//                               elements), each with one spare slot ahead of
//                               its first used slot; all elements lie in the
//                               one element block in row-major order
//
// Allocators never return a failure: a refused request (a negative count, a
// count that overflows int or size_t when multiplied out, or a refusal by
// malloc) ends the process through fatal_numeric_error with the allocator's
// message.  Elements are not initialised.  Every release takes the handle
// and the same ranges as the allocation.
#pragma once

#include <cassert>
#include <cstddef>

template <typename T>
struct RangedVector {
  T* origin = nullptr;  // address of element `first`, inside the block
  int first = 0;
  int last = -1;

  T& operator[](int i) const {
    assert(first <= i && i <= last);
    return origin[static_cast<std::ptrdiff_t>(i) - first];
  }
};

// A matrix is a row-pointer array: rows[i - first_row] is the address of
// element (i, first_col).  m[i] is row i as a vector over first_col..last_col,
// so m[i][j] is element (i, j).
template <typename T>
struct RangedMatrix {
  T** rows = nullptr;
  int first_row = 0;
  int last_row = -1;
  int first_col = 0;
  int last_col = -1;

  RangedVector<T> operator[](int i) const {
    assert(first_row <= i && i <= last_row);
    return {rows[static_cast<std::ptrdiff_t>(i) - first_row], first_col, last_col};
  }
};

// A three-index tensor: t[i] is layer i as a matrix over columns and depths,
// so t[i][j][k] is element (i, j, k).  Slot 0 of each of the three blocks is
// the spare; the handle remembers the blocks so that release needs no slot.
struct DoubleTensor {
  double*** layers = nullptr;  // layer block: layers[1 + i - first_row]
  double** row_block = nullptr;
  double* element_block = nullptr;
  int first_row = 0;
  int last_row = -1;
  int first_col = 0;
  int last_col = -1;
  int first_depth = 0;
  int last_depth = -1;

  RangedMatrix<double> operator[](int i) const {
    assert(first_row <= i && i <= last_row);
    return {layers[1 + (static_cast<std::ptrdiff_t>(i) - first_row)], first_col, last_col,
            first_depth, last_depth};
  }
};

using FloatVector = RangedVector<float>;
using IntVector = RangedVector<int>;
using DoubleVector = RangedVector<double>;
using ByteVector = RangedVector<unsigned char>;
using FloatMatrix = RangedMatrix<float>;
using IntMatrix = RangedMatrix<int>;
using DoubleMatrix = RangedMatrix<double>;

FloatVector vector(int first, int last);
IntVector ivector(int first, int last);
DoubleVector dvector(int first, int last);
ByteVector cvector(int first, int last);

void release_vector(FloatVector v, int first, int last);
void release_ivector(IntVector v, int first, int last);
void release_dvector(DoubleVector v, int first, int last);
void release_cvector(ByteVector v, int first, int last);

FloatMatrix matrix(int first_row, int last_row, int first_col, int last_col);
IntMatrix imatrix(int first_row, int last_row, int first_col, int last_col);
DoubleMatrix dmatrix(int first_row, int last_row, int first_col, int last_col);

void release_matrix(FloatMatrix m, int first_row, int last_row, int first_col, int last_col);
void release_imatrix(IntMatrix m, int first_row, int last_row, int first_col, int last_col);
void release_dmatrix(DoubleMatrix m, int first_row, int last_row, int first_col, int last_col);

// A view of rows old_first_row..old_last_row and columns from old_first_col
// of the float matrix a, re-indexed so that b[new_first_row][new_first_col]
// is a[old_first_row][old_first_col].  No element is copied.
FloatMatrix submatrix(FloatMatrix a, int old_first_row, int old_last_row, int old_first_col,
                      int old_last_col, int new_first_row, int new_first_col);
void release_submatrix(FloatMatrix b, int first_row, int last_row, int first_col, int last_col);

// A matrix view of rows x columns floats stored row after row from `a`.
FloatMatrix convert_matrix(float* a, int first_row, int last_row, int first_col, int last_col);
void release_convert_matrix(FloatMatrix b, int first_row, int last_row, int first_col,
                            int last_col);

DoubleTensor d3tensor(int first_row, int last_row, int first_col, int last_col, int first_depth,
                      int last_depth);
void release_d3tensor(DoubleTensor t, int first_row, int last_row, int first_col, int last_col,
                      int first_depth, int last_depth);
