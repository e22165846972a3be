// One script through mavo's own stages, with every check on what they made of it.
#pragma once

#include "check/script.h"

// Checks the script whose file held `bytes` (taken over: they become the script as
// read) in dialect `mode`; the findings, silenced ones left out, end up in
// `r.findings` in the order of the script.
void check_script(script_reading& r, script_text&& bytes, check_mode mode);

// The locations of the script whose file held `bytes`, read as `check_script` reads
// it, appended to `out` as those of the game's file `file`.
void read_game_locations(script_text&& bytes, std::uint32_t file, std::vector<game_location>& out);
