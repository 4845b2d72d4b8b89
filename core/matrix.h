#pragma once
// Pixel matrices: rows x columns elements in ONE contiguous block in row order, with a table of
// row pointers into it. Because the rows follow each other without gaps, row 0 (Data()) is also
// the whole matrix as one run of rows*columns elements: the frame readout writes a whole frame
// through it and the display hands it to OpenGL in one call. Every matrix keeps this contiguity.
//
// Matrices own their storage, move but do not copy implicitly (CopyFrom copies). New elements are
// left uninitialised: they are about to be overwritten by a readout, a file or a filter. The element
// block comes from the pixel-block path (pixel_memory.h): large blocks are huge-page advised.
#include "pixel_memory.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

template <typename T> class Matrix
{
public:
    using value_type = T;

    Matrix() = default;
    Matrix(int rows, int columns) { Allocate(rows, columns); }
    Matrix(Matrix &&other) noexcept { swap(other); }
    Matrix &operator=(Matrix &&other) noexcept
    {
        if (this != &other) {
            Free();
            swap(other);
        }
        return *this;
    }
    Matrix(const Matrix &) = delete;
    Matrix &operator=(const Matrix &) = delete;

    // Replaces the storage with rows x columns uninitialised elements (nothing for a zero size).
    void Allocate(int rows, int columns)
    {
        Free();
        if (rows <= 0 || columns <= 0)
            return;
        const std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns);
        table_ = std::make_unique<T *[]>(static_cast<std::size_t>(rows) + 1); // last slot stays null
        block_ = PixelAllocator<T>().allocate(count);
        capacity_ = count;
        for (int r = 0; r < rows; ++r)
            table_[r] = block_ + static_cast<std::size_t>(r) * static_cast<std::size_t>(columns);
        rows_ = rows;
        columns_ = columns;
    }
    // Gives the matrix the shape rows x columns within its present block, which must hold that many
    // elements (Capacity()): element k of the block stays where it is and is now element k of the
    // new row order. The block keeps its size until the matrix is freed.
    void Reshape(int rows, int columns)
    {
        if (rows <= 0 || columns <= 0 ||
            static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns) > capacity_)
            return;
        if (rows != rows_)
            table_ = std::make_unique<T *[]>(static_cast<std::size_t>(rows) + 1);
        for (int r = 0; r < rows; ++r)
            table_[r] = block_ + static_cast<std::size_t>(r) * static_cast<std::size_t>(columns);
        table_[rows] = nullptr;
        rows_ = rows;
        columns_ = columns;
    }
    void Free()
    {
        table_.reset();
        if (block_)
            PixelAllocator<T>().deallocate(block_, capacity_);
        block_ = nullptr;
        capacity_ = 0;
        rows_ = columns_ = 0;
    }
    ~Matrix() { Free(); }
    // Sets every element to value.
    void Fill(T value)
    {
        for (std::size_t i = 0, n = Size(); i < n; ++i)
            block_[i] = value;
    }
    // Makes this an element-for-element copy of other (same shape).
    void CopyFrom(const Matrix &other)
    {
        if (this == &other)
            return;
        if (rows_ != other.rows_ || columns_ != other.columns_)
            Allocate(other.rows_, other.columns_);
        if (other.Size() != 0)
            std::memcpy(block_, other.block_, other.Size() * sizeof(T));
    }

    T *operator[](int row) { return table_[row]; }
    const T *operator[](int row) const { return table_[row]; }
    // Row 0: the whole matrix in row order (nullptr when empty).
    T *Data() { return block_; }
    const T *Data() const { return block_; }
    // The row-pointer table: Rows() + 1 slots, the last one null.
    T **RowTable() { return table_.get(); }
    T *const *RowTable() const { return table_.get(); }

    int Rows() const { return rows_; }
    int Columns() const { return columns_; }
    std::size_t Size() const { return static_cast<std::size_t>(rows_) * static_cast<std::size_t>(columns_); }
    bool IsEmpty() const { return rows_ == 0; }
    // Elements the block holds: Size(), or more after a Reshape to a smaller shape.
    std::size_t Capacity() const { return capacity_; }

    void swap(Matrix &other) noexcept
    {
        std::swap(block_, other.block_);
        std::swap(capacity_, other.capacity_);
        table_.swap(other.table_);
        std::swap(rows_, other.rows_);
        std::swap(columns_, other.columns_);
    }

private:
    T *block_ = nullptr; // capacity_ (at least rows_ * columns_) elements from PixelAllocator
    std::size_t capacity_ = 0;
    std::unique_ptr<T *[]> table_;
    int rows_ = 0;
    int columns_ = 0;
};

using ByteMatrix = Matrix<std::uint8_t>;
using UShortMatrix = Matrix<std::uint16_t>; // the pixel type
using UIntMatrix = Matrix<std::uint32_t>;
using FloatMatrix = Matrix<float>;

// The allocate/free pairs by element type.
inline ByteMatrix AllocByteMatrix(int rows, int columns)
{
    return ByteMatrix(rows, columns);
}
inline UShortMatrix AllocUShortMatrix(int rows, int columns)
{
    return UShortMatrix(rows, columns);
}
inline UIntMatrix AllocUIntMatrix(int rows, int columns)
{
    return UIntMatrix(rows, columns);
}
inline FloatMatrix AllocFloatMatrix(int rows, int columns)
{
    return FloatMatrix(rows, columns);
}
inline void FreeByteMatrix(ByteMatrix &m)
{
    m.Free();
}
inline void FreeUShortMatrix(UShortMatrix &m)
{
    m.Free();
}
inline void FreeUIntMatrix(UIntMatrix &m)
{
    m.Free();
}
inline void FreeFloatMatrix(FloatMatrix &m)
{
    m.Free();
}

// One-dimensional vectors of exactly n elements (zeroed), e.g. 65536-bin histograms.
using ByteVector = std::vector<std::uint8_t>;
using UShortVector = std::vector<std::uint16_t>;
using UIntVector = std::vector<std::uint32_t>;
using FloatVector = std::vector<float>;
inline ByteVector AllocByteVector(std::size_t n)
{
    return ByteVector(n);
}
inline UShortVector AllocUShortVector(std::size_t n)
{
    return UShortVector(n);
}
inline UIntVector AllocUIntVector(std::size_t n)
{
    return UIntVector(n);
}
inline FloatVector AllocFloatVector(std::size_t n)
{
    return FloatVector(n);
}
inline void FreeByteVector(ByteVector &v)
{
    ByteVector().swap(v);
}
inline void FreeUShortVector(UShortVector &v)
{
    UShortVector().swap(v);
}
inline void FreeUIntVector(UIntVector &v)
{
    UIntVector().swap(v);
}
inline void FreeFloatVector(FloatVector &v)
{
    FloatVector().swap(v);
}

// Copies the top-left columns x rows elements of source into destination. Both must hold at least
// that many rows and columns; false (nothing copied) otherwise.
inline bool CopyUShortMatrix(const UShortMatrix &source, UShortMatrix &destination, int columns, int rows)
{
    if (columns <= 0 || rows <= 0)
        return true;
    if (source.Rows() < rows || source.Columns() < columns || destination.Rows() < rows ||
        destination.Columns() < columns)
        return false;
    if (source.Columns() == columns && destination.Columns() == columns) { // whole rows: one block
        std::memcpy(destination.Data(), source.Data(),
                    static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows) *
                        sizeof(std::uint16_t));
        return true;
    }
    for (int r = 0; r < rows; ++r)
        std::memcpy(destination[r], source[r], static_cast<std::size_t>(columns) * sizeof(std::uint16_t));
    return true;
}
