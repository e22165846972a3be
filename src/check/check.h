// One script through mavo's own stages, with every check on what they made of it.
#pragma once

#include "check/script.h"

// Checks the script whose file held `bytes` (taken over: they become the script as
// read) in dialect `mode`; the findings, silenced ones left out, end up in
// `r.findings` in the order of the script.
void check_script(script_reading& r, script_text&& bytes, check_mode mode);
