#include "gif/lzw_encoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

namespace velmora::gif {
namespace {

constexpr std::int32_t kClearCode = 256;
constexpr std::int32_t kEndCode = 257;
constexpr std::int32_t kFirstFreeCode = 258;
constexpr std::int32_t kCodeLimit = 4096;  // 12-bit codes
constexpr std::int32_t kInitialCodeSize = 9;
constexpr std::int32_t kMaxCodeBits = 12;
constexpr std::int32_t kHashSize = 5003;  // a prime, so a probe sequence visits every slot

// The hash spreads a colour index over the prefix code's bits: shift the 8-bit index left by as
// many bits as 8 minus the number of doublings that take the table size to 2^16 (four), so the
// slot of (c, prefix) is (c * 16) XOR prefix, always below 4096.
constexpr std::int32_t HashMultiplier() {
  std::int32_t doublings = 0;
  for (std::int32_t size = kHashSize; size < 65536; size *= 2) ++doublings;
  return std::int32_t{1} << (8 - doublings);
}
constexpr std::uint32_t kHashMultiplier = HashMultiplier();
static_assert(kHashMultiplier == 16);

// The string table: 5003 slots, keys (c * 4096 + prefix, -1 for an empty slot) in one array and
// their codes in another. The keys take 20012 bytes, emptied by one fill of 0xFF bytes; a code is
// only read behind a matching key, so the codes are never cleared. Both arrays stay in the
// first-level cache, and the code array being 16-bit lets a hit feed the next slot computation
// straight from one load.
class StringTable {
 public:
  StringTable() { Clear(); }
  void Clear() { std::memset(keys_.data(), 0xFF, sizeof keys_); }

  // Looks up `key` starting at its home `slot`. On a hit returns true and sets `code`; on a miss
  // returns false with `slot` where the string is to be stored.
  //
  // Quirk kept on purpose (key-0 ends a probe): the first look treats every key >= 0 as
  // occupied, but while probing only a key above 0 keeps the search going. The string "index 0
  // followed by index 0" has key 0, so a slot holding it stops a probe chain like an empty slot,
  // and the new string then overwrites it. Files written by this encoder have always had this
  // shape; fixing it would change their bytes.
  bool Find(std::int32_t key, std::uint32_t& slot, std::uint32_t& code) const {
    const std::int32_t home = keys_[slot];
    if (home == key) [[likely]] {
      code = codes_[slot];
      return true;
    }
    if (home < 0) return false;
    return Probe(key, slot, code);
  }

  void Store(std::uint32_t slot, std::int32_t key, std::int32_t code) {
    keys_[slot] = key;
    codes_[slot] = static_cast<std::uint16_t>(code);
  }

  // Stores a string known not to be in the table where a lookup would place it.
  void Add(std::int32_t key, std::int32_t code) {
    const auto c = static_cast<std::uint32_t>(key) >> kMaxCodeBits;
    const auto prefix = static_cast<std::uint32_t>(key) & ((1u << kMaxCodeBits) - 1);
    std::uint32_t slot = (c * kHashMultiplier) ^ prefix;
    std::uint32_t found = 0;
    Find(key, slot, found);
    Store(slot, key, code);
  }

 private:
  // The secondary step is fixed by the home slot; as 5003 is prime, the chain visits every slot
  // before it repeats, and the table never holds more than 3839 strings, so it always ends.
  bool Probe(std::int32_t key, std::uint32_t& slot, std::uint32_t& code) const {
    const auto home = static_cast<std::int32_t>(slot);
    const std::int32_t step = home == 0 ? 1 : kHashSize - home;
    std::int32_t at = home;
    for (;;) {
      at -= step;
      if (at < 0) at += kHashSize;
      const std::int32_t k = keys_[static_cast<std::uint32_t>(at)];
      if (k == key) {
        code = codes_[static_cast<std::uint32_t>(at)];
        slot = static_cast<std::uint32_t>(at);
        return true;
      }
      if (k <= 0) {
        slot = static_cast<std::uint32_t>(at);
        return false;
      }
    }
  }

  std::array<std::int32_t, kHashSize> keys_;
  std::array<std::uint16_t, kHashSize> codes_;
};

// Packs codes least significant bit first into a buffer sized beforehand for the worst case plus
// eight bytes, so nothing is checked per byte: each code stores the whole 64-bit accumulator and
// moves on by the bytes completed.
class BitWriter {
 public:
  explicit BitWriter(std::uint8_t* out) : begin_(out), out_(out) {}

  void Put(std::uint32_t code, std::int32_t width) {
    bits_ |= static_cast<std::uint64_t>(code) << count_;
    count_ += width;
    StoreLittleEndian(bits_);
    const std::int32_t bytes = count_ >> 3;
    out_ += bytes;
    bits_ >>= bytes * 8;
    count_ &= 7;
  }

  // Writes the remaining bits, the last byte zero-padded; returns the number of data bytes.
  std::size_t Finish() {
    if (count_ > 0) *out_++ = static_cast<std::uint8_t>(bits_);
    count_ = 0;
    bits_ = 0;
    return static_cast<std::size_t>(out_ - begin_);
  }

 private:
  void StoreLittleEndian(std::uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(out_, &v, sizeof v);
    } else {
      for (int i = 0; i < 8; ++i) out_[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
  }

  std::uint8_t* begin_;
  std::uint8_t* out_;
  std::uint64_t bits_ = 0;
  std::int32_t count_ = 0;
};

// The next pixel to compress: `p` in the row `row` (from the top) that ends at `end`.
struct PixelCursor {
  const std::uint8_t* p;
  const std::uint8_t* end;
  std::int32_t row;

  // At the end of a row: moves `p` and `end` to the next one; false after the last row.
  bool NextRow(const IndexRowsView& rows, const std::uint8_t*& next, const std::uint8_t*& rowEnd) {
    if (row + 1 >= rows.height) return false;
    ++row;
    next = rows.topRow + row * rows.rowStride;
    rowEnd = next + rows.width;
    return true;
  }
  bool Done(const IndexRowsView& rows) const { return p == end && row + 1 >= rows.height; }
};

constexpr std::int32_t kMaxStrings = kCodeLimit - kFirstFreeCode;  // codes 258 .. 4095

// The strings stored since the last clear as a plain map from (prefix, index) to code, open
// addressed with linear probing. A word holds the key (prefix * 256 + index, 20 bits) above the
// code (12 bits). With eight slots per string a segment can hold, nearly every lookup ends at its
// first slot: a probe is a mispredicted branch, which is what makes the 5003-slot table slow once
// it fills up. The home slot spreads the index with a multiplier and xors in the prefix doubled:
// the multiply does not wait for the previous lookup, and the prefix, which does, costs one shift
// and one xor. `placed` remembers where each code went, so a clear empties just those slots
// instead of all 128 KB.
class StringMap {
 public:
  static constexpr std::uint32_t kBits = 15;
  static constexpr std::uint32_t kMask = (1u << kBits) - 1;
  // A prefix of 257 (the end code) never occurs, so the empty word can never match a key.
  static constexpr std::uint32_t kEmpty = 0x10101010;

  // The slots are emptied by the first Prepare, so that a thread that only compresses frames
  // small enough for the 5003-slot table never writes (or, in a fresh process, maps) them.
  void Prepare() {
    if (prepared_) return;
    std::memset(slots_.data(), kEmpty & 0xFF, sizeof slots_);
    prepared_ = true;
  }

  // Both halves are already below 2^15 (a prefix is below 4096). The mask is redundant, yet
  // frames ran up to 1.7 times slower without it (same probes; a scheduling effect, it seems).
  static std::uint32_t Home(std::uint32_t prefix, std::uint32_t c) {
    return (((c * 0x9E3779B1u) >> (32 - kBits)) ^ (prefix << 1)) & kMask;
  }
  static std::uint32_t Word(std::uint32_t prefix, std::uint32_t c, std::uint32_t code) {
    return (((prefix << 8) | c) << kMaxCodeBits) | code;
  }

  std::uint32_t* Slots() { return slots_.data(); }
  std::uint16_t* Placed() { return placed_.data(); }

  // The key in the 5003-slot table (index * 4096 + prefix) of code 258 + i.
  std::int32_t TableKey(std::int32_t i) const {
    const std::uint32_t prefixAndIndex =
        slots_[placed_[static_cast<std::size_t>(i)]] >> kMaxCodeBits;
    return static_cast<std::int32_t>(((prefixAndIndex & 0xFFu) << kMaxCodeBits) |
                                     (prefixAndIndex >> 8));
  }

  // Empties the slots of codes 258 .. 258 + count - 1.
  void Forget(std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) slots_[placed_[static_cast<std::size_t>(i)]] = kEmpty;
  }

 private:
  std::array<std::uint32_t, std::size_t{1} << kBits> slots_;
  std::array<std::uint16_t, kMaxStrings> placed_;
  bool prepared_ = false;
};

// Where the compressor stands between two runs: the codes written so far, the pending prefix,
// the code size and the next code.
struct LzwState {
  BitWriter writer;
  std::uint32_t prefix;
  std::int32_t codeSize = kInitialCodeSize;
  std::int32_t maxCode = (1 << kInitialCodeSize) - 1;
  std::int32_t nextCode = kFirstFreeCode;
  std::int32_t mapStrings = 0;  // strings in the map, counted when the table took over
  bool slotZeroTaken = false;   // a string with home slot 0 was stored since the last clear
  bool onTable = false;         // the 5003-slot table decides until the next clear
};

// Kept per thread and handed back empty after every frame, so that a frame costs no allocation
// and no 128 KB fill of the map.
struct Dictionaries {
  StringMap map;
  StringTable table;
};

// Why the 5003-slot table can mostly be left out. The only way a string leaves that table before
// a clear is a probe chain stopping at a slot holding key 0 (the string "index 0, index 0") and
// overwriting it. Key 0 has home slot 0. A chain from home h != 0 visits h, 2h, 3h, ... modulo
// 5003, which never reaches 0 (5003 is prime and no chain is 5003 long); a chain from home 0
// looks at slot 0 only as its home, where key 0 counts as occupied. So key 0 sitting in slot 0
// is never overwritten, and slot 0 holds the first home-0 string stored since the clear. Until
// key 0 is stored while slot 0 already holds another home-0 string, the table is an exact map:
// a lookup hits if and only if the string was stored, and where it sits does not matter. The
// compressor therefore runs on the plain map and only rebuilds the real table, by replaying
// the segment's strings in code order, at the moment key 0 would land elsewhere than slot 0.
// From then until the next clear it runs on the table itself.

// Builds the 5003-slot table as it stands after this segment's strings, by storing them again in
// the order they were made, then stores key 0 as code `code`.
void TakeOverWithTable(Dictionaries& dict, std::int32_t code) {
  StringTable& table = dict.table;
  table.Clear();
  for (std::int32_t made = kFirstFreeCode; made < code; ++made)
    table.Add(dict.map.TableKey(made - kFirstFreeCode), made);
  table.Add(0, code);
}

// Compresses from `at` on, across rows, on the plain map, until the frame ends or a new string
// makes the table take over; `at` then stands just after that string's last pixel.
void RunOnMap(const IndexRowsView& rows, PixelCursor& at, LzwState& state, Dictionaries& dict) {
  LzwState s = state;
  const std::uint8_t* p = at.p;
  const std::uint8_t* end = at.end;
  std::uint32_t* const slots = dict.map.Slots();
  std::uint16_t* const placed = dict.map.Placed();
  std::uint32_t prefix = s.prefix;
  for (;; ++p) {
    if (p == end && !at.NextRow(rows, p, end)) break;
    const std::uint32_t c = *p;
    const std::uint32_t key = (prefix << 8) | c;
    std::uint32_t slot = StringMap::Home(prefix, c);
    std::uint32_t word = slots[slot];
    while ((word >> kMaxCodeBits) != key) {
      if (word == StringMap::kEmpty) break;
      slot = (slot + 1) & StringMap::kMask;
      word = slots[slot];
    }
    const bool hit = word != StringMap::kEmpty;
    if (hit) {
      prefix = word & 0xFFFu;
      continue;
    }

    s.writer.Put(prefix, s.codeSize);
    if (s.nextCode == kCodeLimit) {
      // Code 4095 is used up: instead of an entry, a clear code at the full 12 bits, and the
      // next new string gets 258 again.
      s.writer.Put(kClearCode, s.codeSize);
      dict.map.Forget(kMaxStrings);
      s.slotZeroTaken = false;
      s.codeSize = kInitialCodeSize;
      s.maxCode = (1 << s.codeSize) - 1;
      s.nextCode = kFirstFreeCode;
      prefix = c;
      continue;
    }
    if (((c * kHashMultiplier) ^ prefix) == 0) [[unlikely]] {
      if (prefix == 0 && s.slotZeroTaken) {
        TakeOverWithTable(dict, s.nextCode);
        s.mapStrings = s.nextCode - kFirstFreeCode;
        s.onTable = true;
      }
      s.slotZeroTaken = true;
    }
    if (!s.onTable) {
      slots[slot] = StringMap::Word(prefix, c, static_cast<std::uint32_t>(s.nextCode));
      placed[s.nextCode - kFirstFreeCode] = static_cast<std::uint16_t>(slot);
    }
    if (s.nextCode > s.maxCode) {
      // The code just given is 2^k: later codes need one bit more.
      ++s.codeSize;
      s.maxCode = (1 << s.codeSize) - 1;
    }
    ++s.nextCode;
    prefix = c;
    if (s.onTable) {
      ++p;
      break;
    }
  }
  at.p = p;
  at.end = end;
  s.prefix = prefix;
  state = s;
}

// Compresses from `at` on, across rows, on the 5003-slot table, until the frame ends or a clear
// hands the segment back to the plain map; `at` then stands just after the clearing pixel.
void RunOnTable(const IndexRowsView& rows, PixelCursor& at, LzwState& state, Dictionaries& dict) {
  LzwState s = state;
  const std::uint8_t* p = at.p;
  const std::uint8_t* end = at.end;
  StringTable& table = dict.table;
  std::uint32_t prefix = s.prefix;
  for (;; ++p) {
    if (p == end && !at.NextRow(rows, p, end)) break;
    const std::uint32_t c = *p;
    const auto key = static_cast<std::int32_t>((c << kMaxCodeBits) | prefix);
    std::uint32_t slot = (c * kHashMultiplier) ^ prefix;
    if (table.Find(key, slot, prefix)) continue;

    s.writer.Put(prefix, s.codeSize);
    prefix = c;
    if (s.nextCode == kCodeLimit) {
      s.writer.Put(kClearCode, s.codeSize);
      dict.map.Forget(s.mapStrings);
      s.slotZeroTaken = false;
      s.onTable = false;
      s.codeSize = kInitialCodeSize;
      s.maxCode = (1 << s.codeSize) - 1;
      s.nextCode = kFirstFreeCode;
      ++p;
      break;
    }
    table.Store(slot, key, s.nextCode);
    if (s.nextCode > s.maxCode) {
      ++s.codeSize;
      s.maxCode = (1 << s.codeSize) - 1;
    }
    ++s.nextCode;
  }
  at.p = p;
  at.end = end;
  s.prefix = prefix;
  state = s;
}

}  // namespace

// At most one code per pixel, one clear per 3839 codes, the first clear, the last prefix and the
// end code, each at most 12 bits; and the 8 bytes the bit writer stores past its last byte.
std::size_t MaxLzwBytes(std::uint64_t pixels) {
  const std::uint64_t codes = pixels + pixels / (kCodeLimit - kFirstFreeCode) + 4;
  return static_cast<std::size_t>((codes * kMaxCodeBits + 7) / 8 + 8);
}

std::size_t CompressLzw(const IndexRowsView& rows, std::uint8_t* out) {
  // Not value-initialised: that would zero both tables before their own filling.
  thread_local std::unique_ptr<Dictionaries> dictionaries;
  if (!dictionaries) dictionaries = std::make_unique_for_overwrite<Dictionaries>();
  Dictionaries& dict = *dictionaries;

  const auto pixels =
      static_cast<std::uint64_t>(rows.width) * static_cast<std::uint64_t>(rows.height);
  LzwState s{BitWriter(out), rows.topRow[0]};
  s.writer.Put(kClearCode, s.codeSize);
  if (pixels <= kMaxStrings) {
    // Such a frame never reaches a clear and leaves the 5003-slot table sparse, so it seldom
    // probes; the table is then quicker than the map (measured on frames of a few hundred to a
    // few thousand pixels: a lookup is one xor into 30 KB that stay in the first-level cache).
    dict.table.Clear();
    s.onTable = true;
  } else {
    dict.map.Prepare();
  }
  // The top-left pixel started the first string.
  PixelCursor at{rows.topRow + 1, rows.topRow + rows.width, 0};
  while (!at.Done(rows)) {
    if (s.onTable) {
      RunOnTable(rows, at, s, dict);
    } else {
      RunOnMap(rows, at, s, dict);
    }
  }
  s.writer.Put(s.prefix, s.codeSize);
  s.writer.Put(kEndCode, s.codeSize);
  dict.map.Forget(s.onTable ? s.mapStrings : s.nextCode - kFirstFreeCode);
  return s.writer.Finish();
}

}  // namespace velmora::gif
