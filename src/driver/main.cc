#include "run.h"

int main(int argc, char** argv) {
  return static_cast<int>(stblc::run(argc, argv));
}
