// show_text TABLE KEY: prints the text of KEY from the STBL file TABLE.
#include <stblc/stbl_reader.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s TABLE KEY\n", argv[0]);
    return 2;
  }
  stblc::StblReader table;
  if (!table.open(argv[1])) {
    std::fprintf(stderr, "%s: offset %zu: %s\n", argv[1], table.error().offset,
                 table.error().message.c_str());
    return 1;
  }
  const stblc::StblRecord* text = table.find_key(argv[2]);
  if (!text) {
    std::fprintf(stderr, "no key '%s'\n", argv[2]);
    return 1;
  }
  std::printf("%s\n", table.utf8(*text).c_str());
  return 0;
}
