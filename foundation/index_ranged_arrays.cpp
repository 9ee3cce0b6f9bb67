#include "foundation/index_ranged_arrays.hpp"

#include <cstdint>
#include <cstdlib>

#include "foundation/fatal_error.hpp"

namespace {

// Element counts are formed in int arithmetic, as the index ranges are ints.
// A count that is negative or does not fit an int is a refused request.
int element_count(int first, int last, int spare, const char* message) {
  const long long count = static_cast<long long>(last) - first + 1 + spare;
  if (count < 0 || count > INT32_MAX) fatal_numeric_error(message);
  return static_cast<int>(count);
}

int checked_product(int a, int b, const char* message) {
  int product = 0;
  if (__builtin_mul_overflow(a, b, &product)) fatal_numeric_error(message);
  return product;
}

// One block of `count` elements of `size` bytes.  A request for no elements
// is legitimate; it still gets a (one-byte) block so that the handle is a
// real address and release is uniform.
void* allocate_block(int count, std::size_t size, const char* message) {
  if (count < 0) fatal_numeric_error(message);
  std::size_t bytes = 0;
  if (__builtin_mul_overflow(static_cast<std::size_t>(count), size, &bytes) ||
      bytes > static_cast<std::size_t>(PTRDIFF_MAX)) {
    fatal_numeric_error(message);
  }
  void* block = std::malloc(bytes == 0 ? 1 : bytes);
  if (block == nullptr) fatal_numeric_error(message);
  return block;
}

template <typename T>
RangedVector<T> allocate_vector(int first, int last, const char* message) {
  const int count = element_count(first, last, 0, message);
  return {static_cast<T*>(allocate_block(count, sizeof(T), message)), first, last};
}

template <typename T>
void release_vector_block(RangedVector<T> v, [[maybe_unused]] int first,
                          [[maybe_unused]] int last) {
  assert(v.first == first && v.last == last);
  std::free(v.origin);
}

template <typename T>
RangedMatrix<T> allocate_matrix(int first_row, int last_row, int first_col, int last_col,
                                const char* row_message, const char* element_message) {
  const int row_count = element_count(first_row, last_row, 0, row_message);
  auto** rows = static_cast<T**>(allocate_block(row_count, sizeof(T*), row_message));
  const int col_count = element_count(first_col, last_col, 0, element_message);
  for (int r = 0; r < row_count; ++r) {
    // No earlier row is released on failure: the process ends.
    rows[r] = static_cast<T*>(allocate_block(col_count, sizeof(T), element_message));
  }
  return {rows, first_row, last_row, first_col, last_col};
}

template <typename T>
void release_matrix_blocks(RangedMatrix<T> m, int first_row, [[maybe_unused]] int last_row,
                           [[maybe_unused]] int first_col, [[maybe_unused]] int last_col) {
  assert(m.first_row == first_row && m.last_row == last_row && m.first_col == first_col &&
         m.last_col == last_col);
  for (int i = m.last_row; i >= first_row; --i) {
    std::free(m.rows[static_cast<std::ptrdiff_t>(i) - first_row]);
  }
  std::free(m.rows);
}

}  // namespace

FloatVector vector(int first, int last) {
  return allocate_vector<float>(first, last, "allocation failure in vector()");
}

IntVector ivector(int first, int last) {
  return allocate_vector<int>(first, last, "allocation failure in ivector()");
}

DoubleVector dvector(int first, int last) {
  return allocate_vector<double>(first, last, "allocation failure in dvector()");
}

ByteVector cvector(int first, int last) {
  const char* message = "allocation failure in cvector()";
  const int count = element_count(first, last, 1, message);
  auto* block = static_cast<unsigned char*>(allocate_block(count, 1, message));
  // The first byte is the spare; element `first` is the second byte.
  return {block + 1, first, last};
}

void release_vector(FloatVector v, int first, int last) { release_vector_block(v, first, last); }

void release_ivector(IntVector v, int first, int last) { release_vector_block(v, first, last); }

void release_dvector(DoubleVector v, int first, int last) { release_vector_block(v, first, last); }

void release_cvector(ByteVector v, [[maybe_unused]] int first, [[maybe_unused]] int last) {
  assert(v.first == first && v.last == last);
  std::free(v.origin - 1);
}

FloatMatrix matrix(int first_row, int last_row, int first_col, int last_col) {
  return allocate_matrix<float>(first_row, last_row, first_col, last_col,
                                "allocation failure 1 in matrix()",
                                "allocation failure 2 in matrix()");
}

IntMatrix imatrix(int first_row, int last_row, int first_col, int last_col) {
  return allocate_matrix<int>(first_row, last_row, first_col, last_col,
                              "allocation failure 1 in imatrix()",
                              "allocation failure 2 in imatrix()");
}

DoubleMatrix dmatrix(int first_row, int last_row, int first_col, int last_col) {
  return allocate_matrix<double>(first_row, last_row, first_col, last_col,
                                 "allocation failure 1 in dmatrix()",
                                 "allocation failure 2 in dmatrix()");
}

void release_matrix(FloatMatrix m, int first_row, int last_row, int first_col, int last_col) {
  release_matrix_blocks(m, first_row, last_row, first_col, last_col);
}

void release_imatrix(IntMatrix m, int first_row, int last_row, int first_col, int last_col) {
  release_matrix_blocks(m, first_row, last_row, first_col, last_col);
}

void release_dmatrix(DoubleMatrix m, int first_row, int last_row, int first_col, int last_col) {
  release_matrix_blocks(m, first_row, last_row, first_col, last_col);
}

FloatMatrix submatrix(FloatMatrix a, int old_first_row, int old_last_row, int old_first_col,
                      int old_last_col, int new_first_row, int new_first_col) {
  const char* message = "allocation failure in submatrix()";
  const int row_count = element_count(old_first_row, old_last_row, 0, message);
  auto** rows = static_cast<float**>(allocate_block(row_count, sizeof(float*), message));
  for (int r = 0; r < row_count; ++r) {
    // Row r of the view starts at element (old_first_row + r, old_first_col) of a.
    rows[r] = &a[old_first_row + r][old_first_col];
  }
  return {rows, new_first_row, new_first_row + row_count - 1, new_first_col,
          new_first_col + (old_last_col - old_first_col)};
}

void release_submatrix(FloatMatrix b, [[maybe_unused]] int first_row, [[maybe_unused]] int last_row,
                       [[maybe_unused]] int first_col, [[maybe_unused]] int last_col) {
  assert(b.first_row == first_row && b.last_row == last_row);
  std::free(b.rows);
}

FloatMatrix convert_matrix(float* a, int first_row, int last_row, int first_col, int last_col) {
  const char* message = "allocation failure in convert_matrix()";
  const int row_count = element_count(first_row, last_row, 0, message);
  const int col_count = element_count(first_col, last_col, 0, message);
  auto** rows = static_cast<float**>(allocate_block(row_count, sizeof(float*), message));
  for (int r = 0; r < row_count; ++r) {
    rows[r] = a + static_cast<std::ptrdiff_t>(r) * col_count;
  }
  return {rows, first_row, last_row, first_col, last_col};
}

void release_convert_matrix(FloatMatrix b, [[maybe_unused]] int first_row,
                            [[maybe_unused]] int last_row, [[maybe_unused]] int first_col,
                            [[maybe_unused]] int last_col) {
  assert(b.first_row == first_row && b.last_row == last_row);
  std::free(b.rows);
}

DoubleTensor d3tensor(int first_row, int last_row, int first_col, int last_col, int first_depth,
                      int last_depth) {
  const char* message1 = "allocation failure in 1 in d3tensor()";
  const char* message2 = "allocation failure 2 in d3tensor()";
  const char* message3 = "allocation failure 3 in d3tensor()";
  const int rows = element_count(first_row, last_row, 0, message1);
  const int columns = element_count(first_col, last_col, 0, message2);
  const int depths = element_count(first_depth, last_depth, 0, message3);

  // Each block has one spare slot ahead of its first used slot.
  auto*** layers = static_cast<double***>(
      allocate_block(element_count(0, rows, 0, message1), sizeof(double**), message1));
  const int pointer_count = checked_product(rows, columns, message2);
  auto** pointers = static_cast<double**>(
      allocate_block(element_count(0, pointer_count, 0, message2), sizeof(double*), message2));
  const int element_total = checked_product(pointer_count, depths, message3);
  auto* elements = static_cast<double*>(
      allocate_block(element_count(0, element_total, 0, message3), sizeof(double), message3));

  // Element (i, j, k) sits at ((i - first_row) * columns + (j - first_col)) * depths
  // + (k - first_depth) after the spare element.
  for (int i = 0; i < rows; ++i) {
    layers[1 + i] = pointers + 1 + static_cast<std::ptrdiff_t>(i) * columns;
    for (int j = 0; j < columns; ++j) {
      const std::ptrdiff_t row_index = static_cast<std::ptrdiff_t>(i) * columns + j;
      pointers[1 + row_index] = elements + 1 + row_index * depths;
    }
  }
  return {layers,    pointers, elements,    first_row, last_row,
          first_col, last_col, first_depth, last_depth};
}

void release_d3tensor(DoubleTensor t, [[maybe_unused]] int first_row, [[maybe_unused]] int last_row,
                      [[maybe_unused]] int first_col, [[maybe_unused]] int last_col,
                      [[maybe_unused]] int first_depth, [[maybe_unused]] int last_depth) {
  assert(t.first_row == first_row && t.first_col == first_col && t.first_depth == first_depth);
  std::free(t.element_block);
  std::free(t.row_block);
  std::free(t.layers);
}
