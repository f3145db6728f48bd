// Frame buffers of the instrument state. A buffer owns its block; an empty
// buffer stands for "not allocated". Allocation never throws: a failure
// leaves the buffer empty, as the callers report it and go on.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

namespace pelu {

template <class T>
class Buffer {
public:
    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    Buffer(Buffer&&) noexcept = default;
    Buffer& operator=(Buffer&&) noexcept = default;

    // Replaces the block by `count` zeroed elements. False (and empty) when
    // the memory cannot be had or count is 0.
    bool Allocate(size_t count) {
        Free();
        if (count == 0) return false;
        data_.reset(new (std::nothrow) T[count]());
        if (!data_) return false;
        size_ = count;
        return true;
    }
    void Free() {
        data_.reset();
        size_ = 0;
    }
    // Sets the first `count` elements (at most the whole buffer) to zero.
    void Clear(size_t count) {
        if (data_) std::memset(data_.get(), 0, sizeof(T) * (count < size_ ? count : size_));
    }

    T* get() const { return data_.get(); }
    size_t size() const { return size_; }
    explicit operator bool() const { return data_ != nullptr; }

private:
    std::unique_ptr<T[]> data_;
    size_t size_ = 0;
};

// The plane the display shows: either a copy it owns (a frame or slice of a
// series) or the camera's own buffer for a single frame, which it only refers
// to. Release() frees an owned copy and forgets a reference, so the camera
// buffer can never be freed twice.
template <class T>
class Plane {
public:
    // Refers to memory owned elsewhere.
    void Refer(const T* data, size_t count) {
        owned_.Free();
        referred_ = data;
        referredSize_ = count;
    }
    // Owns a fresh zeroed copy of `count` elements; returns its memory.
    T* Own(size_t count) {
        referred_ = nullptr;
        referredSize_ = 0;
        return owned_.Allocate(count) ? owned_.get() : nullptr;
    }
    void Release() {
        owned_.Free();
        referred_ = nullptr;
        referredSize_ = 0;
    }
    const T* get() const { return owned_ ? owned_.get() : referred_; }
    // The memory it owns, to be written again; null when it refers.
    T* OwnedData() { return owned_ ? owned_.get() : nullptr; }
    size_t size() const { return owned_ ? owned_.size() : referredSize_; }
    bool owned() const { return static_cast<bool>(owned_); }
    explicit operator bool() const { return get() != nullptr; }

private:
    Buffer<T> owned_;
    const T* referred_ = nullptr;
    size_t referredSize_ = 0;
};

}  // namespace pelu
