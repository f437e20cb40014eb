#include "support/md5.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

namespace mb {
namespace {

using u32 = std::uint32_t;

// Word i of a 64-byte block, little-endian. The memcpy compiles to a plain
// (unaligned) load, so blocks are read straight from the caller's buffer.
inline u32 Word(const unsigned char* block, int i) {
  const unsigned char* p = block + std::ptrdiff_t{4} * i;
  if constexpr (std::endian::native == std::endian::little) {
    u32 w;
    std::memcpy(&w, p, sizeof w);
    return w;
  } else {
    return u32{p[0]} | u32{p[1]} << 8 | u32{p[2]} << 16 | u32{p[3]} << 24;
  }
}

// The four round steps in the forms with the shortest dependency on b, the
// value the previous step just produced. a + x + k is added first because
// it does not wait for b.
template <int S>
inline u32 StepF(u32 a, u32 b, u32 c, u32 d, u32 x, u32 k) {
  a = a + x + k + (((c ^ d) & b) ^ d);
  return std::rotl(a, S) + b;
}

// (b & d) | (c & ~d): the two terms never share a bit, so they can be added
// one at a time, and c & ~d does not wait for b.
template <int S>
inline u32 StepG(u32 a, u32 b, u32 c, u32 d, u32 x, u32 k) {
  a = a + x + k + (c & ~d);
  a += b & d;
  return std::rotl(a, S) + b;
}

template <int S>
inline u32 StepH(u32 a, u32 b, u32 c, u32 d, u32 x, u32 k) {
  a = a + x + k + ((c ^ d) ^ b);
  return std::rotl(a, S) + b;
}

template <int S>
inline u32 StepI(u32 a, u32 b, u32 c, u32 d, u32 x, u32 k) {
  a = a + x + k + ((b | ~d) ^ c);
  return std::rotl(a, S) + b;
}

struct Abcd {
  u32 a, b, c, d;
};

inline void RoundF(Abcd& s, const unsigned char* m) {
  u32 a = s.a, b = s.b, c = s.c, d = s.d;
  a = StepF<7>(a, b, c, d, Word(m, 0), 0xd76aa478);
  d = StepF<12>(d, a, b, c, Word(m, 1), 0xe8c7b756);
  c = StepF<17>(c, d, a, b, Word(m, 2), 0x242070db);
  b = StepF<22>(b, c, d, a, Word(m, 3), 0xc1bdceee);
  a = StepF<7>(a, b, c, d, Word(m, 4), 0xf57c0faf);
  d = StepF<12>(d, a, b, c, Word(m, 5), 0x4787c62a);
  c = StepF<17>(c, d, a, b, Word(m, 6), 0xa8304613);
  b = StepF<22>(b, c, d, a, Word(m, 7), 0xfd469501);
  a = StepF<7>(a, b, c, d, Word(m, 8), 0x698098d8);
  d = StepF<12>(d, a, b, c, Word(m, 9), 0x8b44f7af);
  c = StepF<17>(c, d, a, b, Word(m, 10), 0xffff5bb1);
  b = StepF<22>(b, c, d, a, Word(m, 11), 0x895cd7be);
  a = StepF<7>(a, b, c, d, Word(m, 12), 0x6b901122);
  d = StepF<12>(d, a, b, c, Word(m, 13), 0xfd987193);
  c = StepF<17>(c, d, a, b, Word(m, 14), 0xa679438e);
  b = StepF<22>(b, c, d, a, Word(m, 15), 0x49b40821);
  s = {a, b, c, d};
}

inline void RoundG(Abcd& s, const unsigned char* m) {
  u32 a = s.a, b = s.b, c = s.c, d = s.d;
  a = StepG<5>(a, b, c, d, Word(m, 1), 0xf61e2562);
  d = StepG<9>(d, a, b, c, Word(m, 6), 0xc040b340);
  c = StepG<14>(c, d, a, b, Word(m, 11), 0x265e5a51);
  b = StepG<20>(b, c, d, a, Word(m, 0), 0xe9b6c7aa);
  a = StepG<5>(a, b, c, d, Word(m, 5), 0xd62f105d);
  d = StepG<9>(d, a, b, c, Word(m, 10), 0x02441453);
  c = StepG<14>(c, d, a, b, Word(m, 15), 0xd8a1e681);
  b = StepG<20>(b, c, d, a, Word(m, 4), 0xe7d3fbc8);
  a = StepG<5>(a, b, c, d, Word(m, 9), 0x21e1cde6);
  d = StepG<9>(d, a, b, c, Word(m, 14), 0xc33707d6);
  c = StepG<14>(c, d, a, b, Word(m, 3), 0xf4d50d87);
  b = StepG<20>(b, c, d, a, Word(m, 8), 0x455a14ed);
  a = StepG<5>(a, b, c, d, Word(m, 13), 0xa9e3e905);
  d = StepG<9>(d, a, b, c, Word(m, 2), 0xfcefa3f8);
  c = StepG<14>(c, d, a, b, Word(m, 7), 0x676f02d9);
  b = StepG<20>(b, c, d, a, Word(m, 12), 0x8d2a4c8a);
  s = {a, b, c, d};
}

inline void RoundH(Abcd& s, const unsigned char* m) {
  u32 a = s.a, b = s.b, c = s.c, d = s.d;
  a = StepH<4>(a, b, c, d, Word(m, 5), 0xfffa3942);
  d = StepH<11>(d, a, b, c, Word(m, 8), 0x8771f681);
  c = StepH<16>(c, d, a, b, Word(m, 11), 0x6d9d6122);
  b = StepH<23>(b, c, d, a, Word(m, 14), 0xfde5380c);
  a = StepH<4>(a, b, c, d, Word(m, 1), 0xa4beea44);
  d = StepH<11>(d, a, b, c, Word(m, 4), 0x4bdecfa9);
  c = StepH<16>(c, d, a, b, Word(m, 7), 0xf6bb4b60);
  b = StepH<23>(b, c, d, a, Word(m, 10), 0xbebfbc70);
  a = StepH<4>(a, b, c, d, Word(m, 13), 0x289b7ec6);
  d = StepH<11>(d, a, b, c, Word(m, 0), 0xeaa127fa);
  c = StepH<16>(c, d, a, b, Word(m, 3), 0xd4ef3085);
  b = StepH<23>(b, c, d, a, Word(m, 6), 0x04881d05);
  a = StepH<4>(a, b, c, d, Word(m, 9), 0xd9d4d039);
  d = StepH<11>(d, a, b, c, Word(m, 12), 0xe6db99e5);
  c = StepH<16>(c, d, a, b, Word(m, 15), 0x1fa27cf8);
  b = StepH<23>(b, c, d, a, Word(m, 2), 0xc4ac5665);
  s = {a, b, c, d};
}

inline void RoundI(Abcd& s, const unsigned char* m) {
  u32 a = s.a, b = s.b, c = s.c, d = s.d;
  a = StepI<6>(a, b, c, d, Word(m, 0), 0xf4292244);
  d = StepI<10>(d, a, b, c, Word(m, 7), 0x432aff97);
  c = StepI<15>(c, d, a, b, Word(m, 14), 0xab9423a7);
  b = StepI<21>(b, c, d, a, Word(m, 5), 0xfc93a039);
  a = StepI<6>(a, b, c, d, Word(m, 12), 0x655b59c3);
  d = StepI<10>(d, a, b, c, Word(m, 3), 0x8f0ccc92);
  c = StepI<15>(c, d, a, b, Word(m, 10), 0xffeff47d);
  b = StepI<21>(b, c, d, a, Word(m, 1), 0x85845dd1);
  a = StepI<6>(a, b, c, d, Word(m, 8), 0x6fa87e4f);
  d = StepI<10>(d, a, b, c, Word(m, 15), 0xfe2ce6e0);
  c = StepI<15>(c, d, a, b, Word(m, 6), 0xa3014314);
  b = StepI<21>(b, c, d, a, Word(m, 13), 0x4e0811a1);
  a = StepI<6>(a, b, c, d, Word(m, 4), 0xf7537e82);
  d = StepI<10>(d, a, b, c, Word(m, 11), 0xbd3af235);
  c = StepI<15>(c, d, a, b, Word(m, 2), 0x2ad7d2bb);
  b = StepI<21>(b, c, d, a, Word(m, 9), 0xeb86d391);
  s = {a, b, c, d};
}

constexpr std::size_t kBlock = 64;
constexpr std::size_t kStreamBuffer = std::size_t{256} * 1024;

}  // namespace

void Md5::Reset() {
  state_ = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  pending_size_ = 0;
  total_bytes_ = 0;
}

// One call handles a whole run of blocks, so the state stays in registers.
void Md5::ProcessBlocks(const unsigned char* blocks, std::size_t count) {
  Abcd s{state_[0], state_[1], state_[2], state_[3]};
  for (; count > 0; --count, blocks += kBlock) {
    const Abcd start = s;
    RoundF(s, blocks);
    RoundG(s, blocks);
    RoundH(s, blocks);
    RoundI(s, blocks);
    s = {s.a + start.a, s.b + start.b, s.c + start.c, s.d + start.d};
  }
  state_ = {s.a, s.b, s.c, s.d};
}

void Md5::Update(const void* data, std::size_t n) {
  if (n == 0) return;  // data may be null then; memcpy must not see it
  auto in = static_cast<const unsigned char*>(data);
  total_bytes_ += n;
  if (pending_size_ > 0) {
    const std::size_t take = std::min(n, kBlock - pending_size_);
    std::memcpy(pending_.data() + pending_size_, in, take);
    pending_size_ += take;
    in += take;
    n -= take;
    if (pending_size_ < kBlock) return;
    ProcessBlocks(pending_.data(), 1);
    pending_size_ = 0;
  }
  ProcessBlocks(in, n / kBlock);
  in += n / kBlock * kBlock;
  n %= kBlock;
  if (n > 0) std::memcpy(pending_.data(), in, n);
  pending_size_ = n;
}

Md5Digest Md5::Finish() {
  // Padding: a 1 bit, zeros up to 56 bytes mod 64, then the message length
  // in bits as a 64-bit little-endian number (taken mod 2^64).
  const std::uint64_t bits = total_bytes_ * 8;
  static constexpr unsigned char kPad[kBlock] = {0x80};
  const std::size_t pad = (pending_size_ < 56 ? 56 : 120) - pending_size_;
  Update(kPad, pad);
  unsigned char length[8];
  for (int i = 0; i < 8; ++i) length[i] = static_cast<unsigned char>(bits >> (8 * i));
  Update(length, sizeof length);

  Md5Digest digest;
  for (std::size_t i = 0; i < 16; ++i) {
    digest[i] = static_cast<std::uint8_t>(state_[i / 4] >> (8 * (i % 4)));
  }
  Reset();
  return digest;
}

std::string Md5Hex(const Md5Digest& digest) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * digest.size());
  for (std::uint8_t byte : digest) {
    text += kHex[byte >> 4];
    text += kHex[byte & 0x0f];
  }
  return text;
}

std::string Md5HexOf(std::string_view bytes) {
  Md5 md5;
  md5.Update(bytes.data(), bytes.size());
  return Md5Hex(md5.Finish());
}

std::string Md5OfStream(platform::InputFile& file) {
  const auto buffer = std::make_unique_for_overwrite<char[]>(kStreamBuffer);
  Md5 md5;
  while (std::size_t got = file.Read(buffer.get(), kStreamBuffer)) {
    md5.Update(buffer.get(), got);
  }
  return Md5Hex(md5.Finish());
}

}  // namespace mb
