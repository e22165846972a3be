#include "check/run.h"

#include <cstdio>

int check_run(int argc, char** argv) {
  (void)argc;
  (void)argv;
  std::fputs("mavo-check: not built yet\n", stderr);
  return CHECK_TROUBLE;
}
