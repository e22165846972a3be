// UrqW's manifest.json beside a game: the dialect and the encoding it names, read as
// UrqW's own loader reads it. What UrqW would refuse (it then loads no game at all)
// names nothing, and the problem is kept to be said.
#pragma once

#include <string>
#include <string_view>

#include "check/findings.h"
#include "check/messages.h"

enum manifest_problem : std::uint8_t {
  MANIFEST_FINE,
  MANIFEST_NOT_JSON,      // not a JSON object
  MANIFEST_VERSION,       // "manifest_version" is not 1
  MANIFEST_MODE,          // "urq_mode" is none of UrqW's four
  MANIFEST_ENCODING,      // "game_encoding" is neither "UTF-8" nor "CP1251"
  MANIFEST_HTML_SUPPORT,  // "html_support" is not a boolean
};

struct game_manifest {
  bool has_mode = false;
  check_mode mode = MODE_URQW;
  int encoding = -1;  // -1: none named, 0: cp1251, 1: UTF-8
  manifest_problem problem = MANIFEST_FINE;
  std::string value;  // the refused value, as JSON
};

// The manifest whose file holds `bytes`.
game_manifest parse_manifest(std::string_view bytes);

// What is wrong with it, in a few words ("\"urq_mode\" \"RipURQ\" is none of ...").
std::string manifest_problem_text(const game_manifest& m, message_language language);
