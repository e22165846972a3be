#include "check/manifest.h"

#include <nlohmann/json.hpp>

namespace {

// Whether UrqW's JavaScript takes the member for set: neither missing nor null,
// false, 0 or "".
bool is_set(const nlohmann::json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || it->is_null()) return false;
  if (it->is_boolean()) return it->get<bool>();
  if (it->is_number()) return it->get<double>() != 0;
  if (it->is_string()) return !it->get<std::string>().empty();
  return true;
}

}  // namespace

game_manifest parse_manifest(std::string_view bytes) {
  game_manifest m;
  const nlohmann::json manifest = nlohmann::json::parse(bytes, nullptr, false);
  if (!manifest.is_object()) {
    m.problem = MANIFEST_NOT_JSON;
    return m;
  }
  const auto version = manifest.find("manifest_version");
  const auto mode = is_set(manifest, "urq_mode") ? manifest.find("urq_mode") : manifest.end();
  const auto encoding = is_set(manifest, "game_encoding") ? manifest.find("game_encoding") : manifest.end();
  const auto html = manifest.find("html_support");
  // In the order UrqW's loader looks at them: the first refusal ends the reading.
  if (version == manifest.end() || *version != 1) {
    m.problem = MANIFEST_VERSION;
  } else if (encoding != manifest.end() && *encoding != "UTF-8" && *encoding != "CP1251") {
    m.problem = MANIFEST_ENCODING;
    m.value = encoding->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  } else if (mode != manifest.end()) {
    const std::string name = mode->is_string() ? mode->get<std::string>() : std::string();
    for (int i = 0; i < 4; ++i) {
      if (name == MODE_NAMES[i]) {
        m.has_mode = true;
        m.mode = static_cast<check_mode>(i);
      }
    }
    if (!m.has_mode) {
      m.problem = MANIFEST_MODE;
      m.value = mode->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
  }
  if (m.problem == MANIFEST_FINE && html != manifest.end() && !html->is_boolean()) m.problem = MANIFEST_HTML_SUPPORT;
  if (m.problem != MANIFEST_FINE) {
    m.has_mode = false;
    m.mode = MODE_URQW;
    return m;
  }
  if (encoding != manifest.end()) m.encoding = *encoding == "UTF-8" ? 1 : 0;
  return m;
}

std::string manifest_problem_text(const game_manifest& m, message_language language) {
  const bool ru = language == LANGUAGE_RU;
  switch (m.problem) {
    case MANIFEST_FINE:
      return std::string();
    case MANIFEST_NOT_JSON:
      return ru ? "это не JSON-объект" : "not a valid JSON object";
    case MANIFEST_VERSION:
      return ru ? "\"manifest_version\" не равен 1" : "\"manifest_version\" is not 1";
    case MANIFEST_MODE:
      return ru ? "\"urq_mode\" " + m.value + " не из urqw, ripurq, dosurq, akurq"
                : "\"urq_mode\" " + m.value + " is none of urqw, ripurq, dosurq, akurq";
    case MANIFEST_ENCODING:
      return ru ? "\"game_encoding\" " + m.value + " — не \"UTF-8\" и не \"CP1251\""
                : "\"game_encoding\" " + m.value + " is neither \"UTF-8\" nor \"CP1251\"";
    case MANIFEST_HTML_SUPPORT:
      return ru ? "\"html_support\" — не true и не false" : "\"html_support\" is neither true nor false";
  }
  return std::string();
}
