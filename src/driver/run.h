// One run of the program: the command line, the stages in order, the result file.
#pragma once

#include "common/console.h"
#include "common/pipeline.h"

// The whole program; yields the exit status and tells in `facts` how it ended.
int run(int argc, char** argv, run_facts& facts);
