#include "unzip/zip_crc32.h"

#include <zlib.h>

#include <algorithm>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TARVO_CRC32_FOLDING 1
#endif

namespace tarvo {

namespace {

// zlib takes lengths of 32 bits.
constexpr std::size_t kZlibChunk = std::size_t{1} << 30;

std::uint32_t ZlibCrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const std::size_t n = std::min(size, kZlibChunk);
    crc = static_cast<std::uint32_t>(crc32(crc, data, static_cast<uInt>(n)));
    data += n;
    size -= n;
  }
  return crc;
}

#ifdef TARVO_CRC32_FOLDING

// Folding (the bytes are taken 64 at a time in four lanes of 128 bits, each lane multiplied
// forward over the distance to the next block and added to it, then the lanes into one and the
// last 128 bits reduced to 32 by Barrett's method) works in the bit-reflected form of the
// polynomial, as the CRC itself does. Its constants follow from the polynomial.
constexpr std::uint64_t kPolynomial = 0x104C11DB7;  // x^32 + x^26 + ... + 1

constexpr std::uint64_t Reflect(std::uint64_t value, int bits) {
  std::uint64_t reflected = 0;
  for (int i = 0; i < bits; ++i) {
    if ((value >> i) & 1) reflected |= std::uint64_t{1} << (bits - 1 - i);
  }
  return reflected;
}

// x^n mod P, reflected, as the multiplier that moves a lane forward by n - 32 bits.
constexpr std::uint64_t Distance(int n) {
  std::uint64_t remainder = 1;
  for (int i = 0; i < n; ++i) {
    remainder <<= 1;
    if ((remainder >> 32) & 1) remainder ^= kPolynomial;
  }
  return Reflect(remainder, 32) << 1;
}

// floor(x^64 / P), reflected: Barrett's multiplier.
constexpr std::uint64_t BarrettQuotient() {
  std::uint64_t quotient = 0, remainder = 0;
  for (int bit = 64; bit >= 0; --bit) {
    remainder = (remainder << 1) | (bit == 64 ? 1 : 0);
    quotient <<= 1;
    if ((remainder >> 32) & 1) {
      remainder ^= kPolynomial;
      quotient |= 1;
    }
  }
  return Reflect(quotient, 33);
}

constexpr std::uint64_t kOver512High = Distance(4 * 128 + 32);
constexpr std::uint64_t kOver512Low = Distance(4 * 128 - 32);
constexpr std::uint64_t kOver128High = Distance(128 + 32);
constexpr std::uint64_t kOver128Low = Distance(128 - 32);
constexpr std::uint64_t kOver64 = Distance(64);
constexpr std::uint64_t kBarrett = BarrettQuotient();
constexpr std::uint64_t kReflectedPolynomial = Reflect(kPolynomial, 33);
static_assert(kOver512High == 0x154442BD4 && kOver512Low == 0x1C6E41596);
static_assert(kOver128High == 0x1751997D0 && kOver128Low == 0x0CCAA009E);
static_assert(kOver64 == 0x163CD6124 && kBarrett == 0x1F7011641);

[[gnu::target("pclmul,sse4.1")]] inline __m128i Load(const std::uint8_t* bytes) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

// `lane` moved forward over the distance of `multipliers`, added to `next`.
[[gnu::target("pclmul,sse4.1")]] inline __m128i Fold(__m128i lane, __m128i multipliers,
                                                     __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(lane, multipliers, 0x00),
                                     _mm_clmulepi64_si128(lane, multipliers, 0x11)),
                       next);
}

// The CRC register (not inverted) after `size` bytes, at least 64 and a multiple of 16.
[[gnu::target("pclmul,sse4.1")]] std::uint32_t FoldCrc32(std::uint32_t crc,
                                                         const std::uint8_t* data,
                                                         std::size_t size) {
  const __m128i over512 =
      _mm_set_epi64x(static_cast<long long>(kOver512Low), static_cast<long long>(kOver512High));
  const __m128i over128 =
      _mm_set_epi64x(static_cast<long long>(kOver128Low), static_cast<long long>(kOver128High));
  __m128i lane0 = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i lane1 = Load(data + 16);
  __m128i lane2 = Load(data + 32);
  __m128i lane3 = Load(data + 48);
  data += 64;
  size -= 64;
  for (; size >= 64; data += 64, size -= 64) {
    lane0 = Fold(lane0, over512, Load(data));
    lane1 = Fold(lane1, over512, Load(data + 16));
    lane2 = Fold(lane2, over512, Load(data + 32));
    lane3 = Fold(lane3, over512, Load(data + 48));
  }
  __m128i x = Fold(lane0, over128, lane1);
  x = Fold(x, over128, lane2);
  x = Fold(x, over128, lane3);
  for (; size >= 16; data += 16, size -= 16) x = Fold(x, over128, Load(data));

  // 128 bits to 64, with the 32 zero bits a CRC appends; then to 32 bits and Barrett's
  // reduction.
  const __m128i low32 = _mm_setr_epi32(-1, 0, 0, 0);
  x = _mm_xor_si128(_mm_srli_si128(x, 8), _mm_clmulepi64_si128(x, over128, 0x10));
  x = _mm_xor_si128(_mm_srli_si128(x, 4),
                    _mm_clmulepi64_si128(_mm_and_si128(x, low32),
                                         _mm_set_epi64x(0, static_cast<long long>(kOver64)), 0x00));
  const __m128i barrett = _mm_set_epi64x(static_cast<long long>(kBarrett),
                                         static_cast<long long>(kReflectedPolynomial));
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, low32), barrett, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), barrett, 0x00);
  return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
}

bool CanFold() {
  static const bool can = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  }();
  return can;
}

// Below this, setting the folding up costs more than it saves.
constexpr std::size_t kFoldFrom = 256;

#endif

}  // namespace

std::uint32_t ZipCrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
#ifdef TARVO_CRC32_FOLDING
  if (size >= kFoldFrom && CanFold()) {
    const std::size_t folded = size & ~std::size_t{15};
    crc = ~FoldCrc32(~crc, data, folded);
    data += folded;
    size -= folded;
  }
#endif
  return ZlibCrc32(crc, data, size);
}

}  // namespace tarvo
