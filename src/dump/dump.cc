#include "dump.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "scan_source.h"
#include "stbl_reader.h"
#include "string_table.h"

namespace stblc {
namespace {

constexpr char kUsage[] =
    "usage: stbldump [--json | --check] FILE [KEY...] [--keys SOURCE...]\n";
constexpr char kHelp[] =
    "\n"
    "Shows the entries of an STBL string table: each key hash, length and\n"
    "text, in file order. With KEYs, prints the text of each key instead.\n"
    "\n"
    "  --json    the same as a JSON document\n"
    "  --check   only validate the file; print nothing when it is sound\n"
    "  --keys    label each hash with its key, found by scanning the tagged\n"
    "            SOURCE files (hashes no source explains show as ?)\n"
    "\n"
    "Exit status: 0 on success; 1 for a bad file, a missing key or a bad "
    "call.\n";

struct Options {
  bool json = false;
  bool check = false;
  const char* file = nullptr;
  std::vector<const char*> keys;
  std::vector<const char*> sources;
  bool keys_given = false;
};

enum class Parsed { kRun, kHelp, kVersion, kBad };

Parsed parse(int argc, const char* const* argv, Options* options) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) return Parsed::kHelp;
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    return Parsed::kVersion;
  }
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (options->keys_given) {
      options->sources.push_back(argv[i]);
    } else if (!options_end && arg == "--json") {
      options->json = true;
    } else if (!options_end && arg == "--check") {
      options->check = true;
    } else if (!options_end && arg == "--keys") {
      options->keys_given = true;
    } else if (!options_end && arg == "--") {
      options_end = true;
    } else if (!options_end && arg.starts_with("--")) {
      return Parsed::kBad;
    } else if (!options->file) {
      options->file = argv[i];
    } else {
      options->keys.push_back(argv[i]);
    }
  }
  const bool ok = options->file && !(options->json && options->check) &&
                  !(options->keys_given && options->sources.empty());
  return ok ? Parsed::kRun : Parsed::kBad;
}

// Quoted, with the escapes of JSON, so that line breaks, controls and
// quotes in texts and keys stay on one line and can be read back.
std::string quoted(std::string_view utf8) {
  std::string out = "\"";
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\t':
        out += "\\t";
        continue;
    }
    // C1 controls, U+0080 to U+009F, arrive as C2 80 to C2 9F.
    const bool c1 = c == 0xC2 && i + 1 < utf8.size() &&
                    static_cast<unsigned char>(utf8[i + 1]) < 0xA0;
    if (c < 0x20 || c == 0x7F || c1) {
      const unsigned code = c1 ? static_cast<unsigned char>(utf8[++i]) : c;
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", code);
      out += escape;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out + "\"";
}

std::string hash_text(uint64_t key_hash) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIX64, key_hash);
  return text;
}

// Keys by hash, from scanning the sources; false after printing an error.
bool learn_keys(const std::vector<const char*>& sources,
                std::unordered_map<uint64_t, std::string>* keys) {
  for (const char* source : sources) {
    StringTable scratch;
    ScanContext context;
    context.on_key = [keys](std::string_view key, uint64_t key_hash) {
      keys->try_emplace(key_hash, key);
    };
    const SourceScan scan = scan_source(scratch, source, context);
    if (scan.read_status != ReadStatus::kRead) {
      std::fprintf(stderr, "stbldump: cannot read '%s': %s\n", source,
                   std::strerror(scan.read_error));
      return false;
    }
    if (const auto& error = scan.result.error) {
      std::string message = scan_error_message(*error);
      message.pop_back();
      std::fprintf(stderr, "stbldump: %s:%" PRIu64 ":%" PRIu64 ": %s\n", source,
                   error->where.line, error->where.column, message.c_str());
      return false;
    }
  }
  return true;
}

int look_up(const StblReader& reader, const Options& options) {
  int status = 0;
  std::string json = "{";
  for (const char* key : options.keys) {
    const StblRecord* record = reader.find_key(key);
    if (!record) {
      std::fprintf(stderr, "stbldump: no key '%s' in '%s'\n", key,
                   options.file);
      status = 1;
    }
    if (options.json) {
      if (json.size() > 1) json += ",";
      json += "\n  " + quoted(key) + ": " +
              (record ? quoted(reader.utf8(*record)) : "null");
    } else if (record) {
      std::printf("%s\n", reader.utf8(*record).c_str());
    }
  }
  if (options.json) std::printf("%s\n}\n", json.c_str());
  return status;
}

void list(const StblReader& reader, const Options& options,
          const std::unordered_map<uint64_t, std::string>& keys) {
  auto key_of = [&](uint64_t key_hash) -> std::string {
    const auto it = keys.find(key_hash);
    if (it != keys.end()) return quoted(it->second);
    return options.json ? "null" : "?";
  };
  if (options.json) {
    std::printf(
        "{\n  \"version\": %u,\n  \"entry_count\": %u,\n"
        "  \"file_size\": %zu,\n  \"entries\": [",
        reader.version(), reader.entry_count(), reader.file_size());
    const char* separator = "\n";
    for (const StblRecord& r : reader.records()) {
      std::string line = "    {\"key_hash\": \"" + hash_text(r.key_hash) +
                         "\", \"length\": " + std::to_string(r.length);
      if (options.keys_given) line += ", \"key\": " + key_of(r.key_hash);
      line += ", \"text\": " + quoted(reader.utf8(r)) + "}";
      std::printf("%s%s", separator, line.c_str());
      separator = ",\n";
    }
    std::printf("\n  ]\n}\n");
    return;
  }
  std::printf("STBL version %u, %u entries, %zu bytes\n", reader.version(),
              reader.entry_count(), reader.file_size());
  for (const StblRecord& r : reader.records()) {
    std::string line = hash_text(r.key_hash) + " " + std::to_string(r.length);
    if (options.keys_given) line += " " + key_of(r.key_hash);
    line += " " + quoted(reader.utf8(r));
    std::printf("%s\n", line.c_str());
  }
}

}  // namespace

int run_dump(int argc, const char* const* argv) {
  Options options;
  switch (parse(argc, argv, &options)) {
    case Parsed::kHelp:
      std::printf("%s%s", kUsage, kHelp);
      return 0;
    case Parsed::kVersion:
      std::printf("stbldump " STBLC_VERSION "\n");
      return 0;
    case Parsed::kBad:
      std::fprintf(stderr, "%s", kUsage);
      return 1;
    case Parsed::kRun:
      break;
  }

  StblReader reader;
  const bool valid = reader.open(options.file);
  for (const StblIssue& warning : reader.warnings()) {
    std::fprintf(stderr, "stbldump: %s: warning: offset %zu: %s\n",
                 options.file, warning.offset, warning.message.c_str());
  }
  if (!valid) {
    std::fprintf(stderr, "stbldump: %s: offset %zu: %s\n", options.file,
                 reader.error().offset, reader.error().message.c_str());
    return 1;
  }
  if (options.check) return 0;
  if (!options.keys.empty()) return look_up(reader, options);

  std::unordered_map<uint64_t, std::string> keys;
  if (!learn_keys(options.sources, &keys)) return 1;
  list(reader, options, keys);
  return 0;
}

}  // namespace stblc
