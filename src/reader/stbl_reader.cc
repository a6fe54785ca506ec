#include "stbl_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "hash_index.h"
#include "hash_key.h"
#include "little_endian.h"
#include "stbl_format.h"

namespace stblc {

struct StblReader::Impl {
  ~Impl() { unmap(); }
  void unmap() {
    if (mapping) munmap(mapping, mapping_size);
    mapping = nullptr;
  }

  // The file's bytes: a view of a mapping, of `buffer`, or of the caller's.
  std::span<const uint8_t> bytes;
  void* mapping = nullptr;
  size_t mapping_size = 0;
  std::vector<uint8_t> buffer;

  uint8_t version = 0;
  std::vector<StblRecord> records;
  HashIndex index;  // key hash to position in records
  StblIssue error;
  std::vector<StblIssue> warnings;

  auto hash_at_fn() const {
    return [this](uint32_t position) { return records[position].key_hash; };
  }
  bool fail(size_t offset, std::string message) {
    error = StblIssue{offset, std::move(message)};
    records.clear();
    return false;
  }
  bool validate();
};

namespace {

std::string number(uint64_t n) { return std::to_string(n); }

std::string hex(uint64_t n) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out = "0x";
  for (int shift = 60; shift >= 0; shift -= 4)
    out += kDigits[(n >> shift) & 15];
  return out;
}

bool all_zero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (p[i]) return false;
  }
  return true;
}

}  // namespace

bool StblReader::Impl::validate() {
  const uint8_t* data = bytes.data();
  const size_t size = bytes.size();
  error = {};
  warnings.clear();
  records.clear();
  index = HashIndex();

  if (size < sizeof stbl::kMagic ||
      std::memcmp(data + stbl::kMagicOffset, stbl::kMagic,
                  sizeof stbl::kMagic) != 0) {
    return fail(stbl::kMagicOffset,
                "not an STBL file: the magic is not \"STBL\"");
  }
  if (size < stbl::kHeaderSize) {
    return fail(size, "the header is cut short: " + number(size) +
                          " bytes of " + number(stbl::kHeaderSize));
  }
  version = data[stbl::kVersionOffset];
  if (version != stbl::kVersion) {
    return fail(stbl::kVersionOffset,
                "version " + number(version) + " is not supported (only 2)");
  }
  if (!all_zero(data + stbl::kReservedAOffset, stbl::kReservedASize)) {
    warnings.push_back({stbl::kReservedAOffset, "reserved bytes are not zero"});
  }
  if (!all_zero(data + stbl::kReservedBOffset, stbl::kReservedBSize)) {
    warnings.push_back({stbl::kReservedBOffset, "reserved bytes are not zero"});
  }

  const uint32_t count = get_u32le(data + stbl::kEntryCountOffset);
  // Every record takes at least its 12-byte head: a count that the file
  // cannot hold is refused before anything is allocated for it.
  const size_t room = (size - stbl::kHeaderSize) / stbl::kRecordHeaderSize;
  if (count > room) {
    return fail(stbl::kEntryCountOffset,
                "entry count " + number(count) + " needs at least " +
                    number(stbl::kHeaderSize +
                           uint64_t{count} * stbl::kRecordHeaderSize) +
                    " bytes, the file has " + number(size));
  }
  records.reserve(count);

  size_t offset = stbl::kHeaderSize;
  for (uint32_t i = 0; i < count; ++i) {
    const std::string which = "record " + number(i) + ": ";
    if (size - offset < stbl::kRecordHeaderSize) {
      return fail(offset, which + "its head runs past the end of the file");
    }
    const uint64_t key_hash =
        get_u64le(data + offset + stbl::kRecordKeyHashOffset);
    const uint32_t length =
        get_u32le(data + offset + stbl::kRecordLengthOffset);
    const size_t units_offset = offset + stbl::kRecordUnitsOffset;
    if ((size - units_offset) / stbl::kUnitSize < length) {
      return fail(offset + stbl::kRecordLengthOffset,
                  which + "length " + number(length) + " (" +
                      number(uint64_t{length} * stbl::kUnitSize) +
                      " bytes) runs past the end of the file");
    }
    const uint32_t earlier = index.find(key_hash, hash_at_fn());
    if (earlier != HashIndex::kAbsent) {
      return fail(offset, which + "key hash " + hex(key_hash) +
                              " appears again (first in record " +
                              number(earlier) + ")");
    }
    records.push_back(StblRecord{key_hash, length, units_offset});
    index.insert(key_hash, i, records.size(), hash_at_fn());
    offset = units_offset + size_t{length} * stbl::kUnitSize;
  }
  if (offset != size) {
    return fail(offset,
                number(size - offset) + " bytes follow the last record");
  }
  return true;
}

StblReader::StblReader() : impl_(std::make_unique<Impl>()) {}
StblReader::~StblReader() = default;
StblReader::StblReader(StblReader&&) noexcept = default;
StblReader& StblReader::operator=(StblReader&&) noexcept = default;

bool StblReader::parse(std::span<const uint8_t> bytes) {
  impl_ = std::make_unique<Impl>();
  impl_->bytes = bytes;
  return impl_->validate();
}

bool StblReader::open(const std::string& path) {
  impl_ = std::make_unique<Impl>();
  Impl& impl = *impl_;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    const int error = fd < 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : errno;
    if (fd >= 0) close(fd);
    return impl.fail(0, std::string("cannot open: ") + std::strerror(error));
  }
  if (S_ISREG(st.st_mode) && st.st_size > 0) {
    void* p = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ,
                   MAP_PRIVATE, fd, 0);
    if (p != MAP_FAILED) {
      impl.mapping = p;
      impl.mapping_size = static_cast<size_t>(st.st_size);
      impl.bytes = {static_cast<const uint8_t*>(p), impl.mapping_size};
    }
  }
  if (!impl.mapping) {
    // Not mappable (a pipe, an empty or special file): read it once.
    uint8_t chunk[1 << 16];
    for (;;) {
      const ssize_t n = read(fd, chunk, sizeof chunk);
      if (n == 0) break;
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        const int error = errno;
        close(fd);
        return impl.fail(0,
                         std::string("cannot read: ") + std::strerror(error));
      }
      impl.buffer.insert(impl.buffer.end(), chunk, chunk + n);
    }
    impl.bytes = impl.buffer;
  }
  close(fd);
  return impl.validate();
}

const StblIssue& StblReader::error() const { return impl_->error; }
const std::vector<StblIssue>& StblReader::warnings() const {
  return impl_->warnings;
}
uint8_t StblReader::version() const { return impl_->version; }
uint32_t StblReader::entry_count() const {
  return static_cast<uint32_t>(impl_->records.size());
}
size_t StblReader::file_size() const { return impl_->bytes.size(); }
std::span<const StblRecord> StblReader::records() const {
  return impl_->records;
}

const StblRecord* StblReader::find(uint64_t key_hash) const {
  const uint32_t position = impl_->index.find(key_hash, impl_->hash_at_fn());
  return position == HashIndex::kAbsent ? nullptr : &impl_->records[position];
}

const StblRecord* StblReader::find_key(std::string_view key) const {
  return find(hash_key(key));
}

std::u16string StblReader::utf16(const StblRecord& record) const {
  std::u16string units(record.length, u'\0');
  const uint8_t* p = impl_->bytes.data() + record.units_offset;
  for (size_t i = 0; i < record.length; ++i) {
    units[i] = static_cast<char16_t>(get_u16le(p + stbl::kUnitSize * i));
  }
  return units;
}

std::string StblReader::utf8(const StblRecord& record) const {
  std::string out;
  out.reserve(record.length);
  const uint8_t* p = impl_->bytes.data() + record.units_offset;
  for (size_t i = 0; i < record.length; ++i) {
    const char32_t unit = get_u16le(p + stbl::kUnitSize * i);
    char32_t cp = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < record.length) {
      const char32_t low = get_u16le(p + stbl::kUnitSize * (i + 1));
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;  // unpaired
    append_utf8(cp, &out);
  }
  return out;
}

void append_utf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace stblc
