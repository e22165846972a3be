// A plain, slow reading of the whole transformation, written independently of the
// product code: every deletion moves the rest of the text, every statement rebuilds
// the whole text, every name climbs from "[2]". Tests and the fuzz target compare the
// fast stages against it byte for byte.
#pragma once

#include <cstdint>
#include <string>

struct reference_result {
  std::string text;  // what the result file holds before its final end sentinel
  std::uint64_t count;
};

std::string reference_clean(std::string text);
reference_result reference_transform(std::string script);
