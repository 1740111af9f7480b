#include "serial/mo_catalogue.h"

#include <cstdint>
#include <string_view>

namespace ornat {

namespace {

constexpr std::uint32_t kMagic = 0x950412deu;

struct Reader {
  const std::string& bytes;
  bool swap = false;

  bool Word(std::size_t at, std::uint32_t& out) const {
    if (at > bytes.size() || bytes.size() - at < 4) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    out = swap ? (std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
                  p[3])
               : (std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 |
                  p[0]);
    return true;
  }
  // String i of the table at `table`: its length and offset words, and the bytes they
  // name, which must lie inside the file.
  bool String(std::uint32_t table, std::uint32_t i, std::string_view& out) const {
    std::uint32_t length = 0, offset = 0;
    const std::size_t at = std::size_t{table} + std::size_t{i} * 8;
    if (!Word(at, length) || !Word(at + 4, offset)) return false;
    if (offset > bytes.size() || bytes.size() - offset < length) return false;
    out = std::string_view(bytes).substr(offset, length);
    return true;
  }
};

}  // namespace

bool MoCatalogue::Load(const std::string& bytes) {
  entries_.clear();
  Reader r{bytes};
  std::uint32_t magic = 0;
  if (!r.Word(0, magic)) return false;
  if (magic != kMagic) {
    r.swap = true;
    if (!r.Word(0, magic) || magic != kMagic) return false;
  }
  std::uint32_t revision = 0, count = 0, originals = 0, translations = 0;
  if (!r.Word(4, revision) || !r.Word(8, count) || !r.Word(12, originals) ||
      !r.Word(16, translations))
    return false;
  if ((revision >> 16) > 1) return false;
  std::map<std::string, std::string, std::less<>> entries;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string_view key, text;
    if (!r.String(originals, i, key) || !r.String(translations, i, text)) return false;
    // A plural entry holds its forms one after the other, each ended by a null.
    key = key.substr(0, key.find('\0'));
    text = text.substr(0, text.find('\0'));
    if (key.empty()) continue;  // the header
    entries.emplace(std::string(key), std::string(text));
  }
  entries_ = std::move(entries);
  return true;
}

const char* MoCatalogue::Find(const char* key) const {
  auto it = entries_.find(std::string_view(key));
  if (it == entries_.end() || it->second.empty()) return nullptr;
  return it->second.c_str();
}

}  // namespace ornat
