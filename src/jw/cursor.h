// A bounded cursor over a file image held in memory.  Every read of the
// drawing readers goes through it: a read asks for n bytes and is told how
// many it got, so a short delivery can only happen at the end of the image.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace tarnwick {

// Little-endian loads and stores, byte by byte; compilers turn them into
// single moves.
template <class T>
inline T LoadLE(const uint8_t* p) {
  static_assert(std::is_arithmetic_v<T>);
  if constexpr (std::is_floating_point_v<T>) {
    static_assert(sizeof(T) == 8);
    return std::bit_cast<T>(LoadLE<uint64_t>(p));
  } else {
    using U = std::make_unsigned_t<T>;
    U v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v |= static_cast<U>(static_cast<U>(p[i]) << (8 * i));
    return static_cast<T>(v);
  }
}

template <class T>
inline void StoreLE(uint8_t* p, T x) {
  static_assert(std::is_arithmetic_v<T>);
  if constexpr (std::is_floating_point_v<T>) {
    StoreLE<uint64_t>(p, std::bit_cast<uint64_t>(x));
  } else {
    using U = std::make_unsigned_t<T>;
    U v = static_cast<U>(x);
    for (size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  }
}

class ByteCursor {
 public:
  ByteCursor(const uint8_t* data, size_t size) : begin_(data), p_(data), end_(data + size) {}

  size_t remaining() const { return static_cast<size_t>(end_ - p_); }
  size_t position() const { return static_cast<size_t>(p_ - begin_); }
  size_t size() const { return static_cast<size_t>(end_ - begin_); }
  bool atEnd() const { return p_ == end_; }
  const uint8_t* peek() const { return p_; }

  // Consumes up to n bytes and returns how many were consumed.
  size_t advance(size_t n) {
    size_t k = n < remaining() ? n : remaining();
    p_ += k;
    return k;
  }

  // Copies up to n bytes into dst; returns how many were delivered.
  size_t read(void* dst, size_t n) {
    size_t k = n < remaining() ? n : remaining();
    if (k) std::memcpy(dst, p_, k);
    p_ += k;
    return k;
  }

  // Reads one number.  A short delivery overwrites only the bytes that came;
  // the rest of x keeps what it held.  Returns the bytes delivered.
  template <class T>
  [[gnu::always_inline]] size_t num(T& x) {
    if (remaining() >= sizeof(T)) [[likely]] {
      x = LoadLE<T>(p_);
      p_ += sizeof(T);
      return sizeof(T);
    }
    return numAtEnd(x);
  }

 private:
  // The end of the image inside a number: the bytes that came replace the
  // low bytes of x.
  template <class T>
  [[gnu::noinline]] size_t numAtEnd(T& x) {
    uint8_t img[sizeof(T)];
    StoreLE<T>(img, x);
    size_t k = read(img, sizeof(T));
    x = LoadLE<T>(img);
    return k;
  }

  const uint8_t* begin_;
  const uint8_t* p_;
  const uint8_t* end_;
};

}  // namespace tarnwick
