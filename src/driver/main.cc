// mavo: rewrites the action buttons of a qst script into plain buttons and blocks.
#include "driver/run.h"

int main(int argc, char** argv) {
  install_memory_rule();
  return run(argc, argv);
}
