// What mavo writes for each of a script's action buttons, from mavo's own stages:
// the statement's "btn" line and the block it leads to, as they will stand in
// mavo.qst.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct button_output {
  std::uint64_t line, column;  // of its keyword: 1-based, the column in characters, as the checker counts
  std::string btn;             // the statement as mavo writes it (UTF-8)
  std::string block;           // the block's lines, empty for a plain button (UTF-8)
};

// Every "mavo" statement of the script's own text that mavo rewrites.
void button_outputs(std::string bytes, std::vector<button_output>& out);
