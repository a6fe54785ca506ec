// stbldump: shows what an STBL file holds, checks it, or looks texts up.
// The only place of the tool that prints or picks an exit status.

#ifndef STBLC_DUMP_DUMP_H_
#define STBLC_DUMP_DUMP_H_

namespace stblc {

// 0 on success, 1 on a bad file, a missing key or a bad call.
int run_dump(int argc, const char* const* argv);

}  // namespace stblc

#endif  // STBLC_DUMP_DUMP_H_
