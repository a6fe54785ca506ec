#include "dump.h"

int main(int argc, char** argv) { return stblc::run_dump(argc, argv); }
