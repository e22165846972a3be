// The texts of the findings, in English and in Russian. The check names stay
// English in both: they are the handles by which findings are silenced.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "check/findings.h"

enum message_language : std::uint8_t { LANGUAGE_EN, LANGUAGE_RU };

struct message_text {
  const char* message;  // what goes wrong, as the player sees it
  const char* note;     // what to write instead
};

// The texts of a finding's check and variant.
const message_text& message_for(const finding& f, message_language language);

// The note of a finding: its check's, or for a name that leads nowhere, with
// `suggested` (a close location is its "%2"), "did you mean".
const char* note_for(const finding& f, bool suggested, message_language language);

// `form` with "%1" and "%2" replaced by the finding's texts, "%3" and "%4" by its
// counts, and "%L" by `other_line`; the texts arrive already in the output's encoding.
std::string fill_message(std::string_view form, const std::string (&text)[2], const finding& f,
                         std::uint64_t other_line);
// The same, appended to `out`.
void fill_message_into(std::string_view form, const std::string (&text)[2], const finding& f,
                       std::uint64_t other_line, std::string& out);
