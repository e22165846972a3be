#include "lsp/server.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "check/charset.h"
#include "check/check.h"
#include "check/manifest.h"
#include "check/report.h"
#include "common/files.h"
#include "common/pipeline.h"
#include "lsp/encoding.h"
#include "lsp/expansion.h"
#include "lsp/message.h"
#include "lsp/position.h"
#include "lsp/scan.h"
#include "lsp/stream.h"

using json = nlohmann::json;

namespace {

// The protocol's error codes.
constexpr int PARSE_ERROR = -32700;
constexpr int INVALID_REQUEST = -32600;
constexpr int METHOD_NOT_FOUND = -32601;
constexpr int INVALID_PARAMS = -32602;
constexpr int SERVER_NOT_INITIALIZED = -32002;
constexpr int REQUEST_CANCELLED = -32800;
constexpr int REQUEST_FAILED = -32803;

constexpr const char* SOURCE = "mavo-check";

struct document {
  std::string uri;
  std::string path;    // UTF-8
  std::string folder;  // up to and with its last separator
  std::string text;    // UTF-8, as the editor holds it
  std::vector<std::size_t> starts;
  std::int64_t version = 0;
  bool file_is_utf8 = true;       // how its file on disk reads (when it has one)
  bool stale = true;              // its diagnostics are to be published again
  std::vector<std::string> locations;  // its location names as its game last saw them
  std::vector<report_item> items;      // the findings last published
  script_outline outline;
  bool outline_stale = true;
};

// The locations of a game's file that no editor has open, kept while the file
// keeps its time and size.
struct disk_file {
  std::string path;
  std::filesystem::file_time_type time;
  std::uintmax_t size = 0;
  std::vector<game_location> locations;  // as file 0
};

struct server {
  std::deque<document> documents;
  std::vector<disk_file> disk;
  position_units units = UNITS_UTF16;
  bool initialized = false;
  bool shut_down = false;
  bool exited = false;
  bool mode_set = false;
  bool all = false;  // the setting mavoCheck.all: also the findings about mavo's own reading
  check_mode mode = MODE_URQW;
  message_language language = LANGUAGE_EN;
  std::deque<json> queue;  // messages read and not yet handled
  std::vector<std::string> manifests_told;  // folders whose refused manifest.json was said
};

// ---- json, without exceptions ----

const json* member(const json& j, const char* key) {
  if (!j.is_object()) return nullptr;
  const auto it = j.find(key);
  return it == j.end() ? nullptr : &*it;
}

std::string string_at(const json& j, const char* key) {
  const json* m = member(j, key);
  return m != nullptr && m->is_string() ? m->get<std::string>() : std::string();
}

bool number_at(const json& j, const char* key, std::int64_t& out) {
  const json* m = member(j, key);
  if (m == nullptr || !m->is_number_integer()) return false;
  out = m->get<std::int64_t>();
  return true;
}

std::string dump(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

// A string as JSON: text that is not UTF-8 through the library, which writes
// U+FFFD for what it cannot take.
void append_string(std::string_view text, std::string& out) {
  if (!is_utf8(text)) {
    out += json(text).dump(-1, ' ', false, json::error_handler_t::replace);
    return;
  }
  constexpr const char* HEX = "0123456789abcdef";
  out += '"';
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20) {
      out += "\\u00";
      out += HEX[b >> 4];
      out += HEX[b & 15];
    } else {
      out += c;
    }
  }
  out += '"';
}

void append_range(text_position a, text_position b, std::string& out) {
  out += R"({"start":{"line":)";
  out += std::to_string(a.line);
  out += R"(,"character":)";
  out += std::to_string(a.character);
  out += R"(},"end":{"line":)";
  out += std::to_string(b.line);
  out += R"(,"character":)";
  out += std::to_string(b.character);
  out += "}}";
}

void send(const json& message) { write_message(message_frame(dump(message))); }

void respond(const json& id, json result) {
  send(json{{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}});
}

void respond_error(const json& id, int code, std::string_view text) {
  send(json{{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", text}}}});
}

void notify(const char* method, json params) {
  send(json{{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}});
}

// ---- paths ----

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The path of a file: URI, UTF-8; "" for another scheme.
std::string path_of_uri(std::string_view uri) {
  if (uri.substr(0, 7) != "file://") return std::string();
  uri.remove_prefix(7);
  const std::size_t slash = uri.find('/');
  if (slash == std::string_view::npos) return std::string();
  uri.remove_prefix(slash);  // the authority, "" or "localhost"
  std::string path;
  for (std::size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] == '%' && i + 2 < uri.size() && hex_value(uri[i + 1]) >= 0 && hex_value(uri[i + 2]) >= 0) {
      path += static_cast<char>(hex_value(uri[i + 1]) * 16 + hex_value(uri[i + 2]));
      i += 2;
    } else {
      path += uri[i];
    }
  }
#ifdef _WIN32
  // "/c:/x" is "c:/x".
  if (path.size() >= 3 && path[0] == '/' && path[2] == ':') path.erase(0, 1);
#endif
  return path;
}

std::string uri_of_path(std::string_view path) {
  std::string uri = "file://";
  std::string p(path);
#ifdef _WIN32
  std::replace(p.begin(), p.end(), '\\', '/');
  if (!p.empty() && p[0] != '/') uri += '/';
#endif
  constexpr const char* HEX = "0123456789ABCDEF";
  for (const char c : p) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || std::strchr("-._~/", c) != nullptr) {
      uri += c;
    } else {
      uri += '%';
      uri += HEX[b >> 4];
      uri += HEX[b & 15];
    }
  }
  return uri;
}

std::string folder_of(std::string_view path) {
  const std::size_t slash = path.find_last_of(
#ifdef _WIN32
      "/\\"
#else
      "/"
#endif
  );
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::filesystem::path fs_path(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// Two paths of one file: on Windows letter case does not tell them apart, nor do
// the two separators.
bool same_path(std::string_view a, std::string_view b) {
#ifdef _WIN32
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i] == '\\' ? '/' : a[i], y = b[i] == '\\' ? '/' : b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
#else
  return a == b;
#endif
}

bool read_file(const std::string& path, std::string& bytes) {
  std::FILE* file = open_script(path.c_str());
  if (file == nullptr) return false;
  bytes.clear();
  char chunk[64 * 1024];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.append(chunk, got);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

bool has_qst_extension(std::string_view name) {
  if (name.size() < 4) return false;
  const std::string_view ext = name.substr(name.size() - 4);
  return ext[0] == '.' && (ext[1] | 0x20) == 'q' && (ext[2] | 0x20) == 's' && (ext[3] | 0x20) == 't';
}

// ---- the game ----

// What the folder's manifest.json says: the dialect and the encoding.
struct manifest_info {
  bool has_mode = false;
  check_mode mode = MODE_URQW;
  int encoding = -1;  // -1 none, 0 cp1251, 1 UTF-8
  game_manifest read;  // as read, with what UrqW would refuse
};

// As the command line reads it: a manifest that UrqW would refuse names nothing.
manifest_info read_manifest(const std::string& folder) {
  manifest_info info;
  std::string bytes;
  // A document without a file (an editor's new, unsaved one) has no folder.
  if (folder.empty() || !read_file(folder + "manifest.json", bytes)) return info;
  info.read = parse_manifest(bytes);
  info.has_mode = info.read.has_mode;
  info.mode = info.read.mode;
  info.encoding = info.read.encoding;
  return info;
}

document* find_document(server& s, std::string_view uri) {
  for (document& d : s.documents)
    if (d.uri == uri) return &d;
  return nullptr;
}

// The open document that a request's "textDocument" names, or null.
document* params_document(server& s, const json& params) {
  const json* td = member(params, "textDocument");
  return td == nullptr ? nullptr : find_document(s, string_at(*td, "uri"));
}

document* document_at_path(server& s, std::string_view path) {
  for (document& d : s.documents)
    if (!d.path.empty() && same_path(d.path, path)) return &d;
  return nullptr;
}

// The bytes the checker reads of an open document: its text in the game's encoding.
std::string document_bytes(const document& d, const manifest_info& m) {
  const bool utf8 = m.encoding >= 0 ? m.encoding == 1 : d.file_is_utf8;
  return utf8 ? d.text : utf8_to_cp1251(d.text);
}

// The files of a document's game: the .qst files of its folder, and the document
// itself, in the order of their names.
std::vector<std::string> game_paths(server& s, const document& d) {
  std::vector<std::string> paths;
  if (d.path.empty()) return paths;
  std::error_code error;
  const std::filesystem::path folder = fs_path(d.folder.empty() ? "." : d.folder);
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::u8string name = it->path().filename().u8string();
    const std::string n(name.begin(), name.end());
    if (has_qst_extension(n) && it->is_regular_file(error)) paths.push_back(d.folder + n);
  }
  for (const document& o : s.documents)
    if (!o.path.empty() && same_path(o.folder, d.folder) &&
        std::none_of(paths.begin(), paths.end(), [&](const std::string& p) { return same_path(p, o.path); }))
      paths.push_back(o.path);
  std::sort(paths.begin(), paths.end());
  return paths;
}

// Another game file's text as the editor would show it: the open document's, else
// the file's read as UTF-8 when it is that, else as cp1251.
bool game_file_text(server& s, const std::string& path, std::string& text) {
  if (const document* d = document_at_path(s, path)) {
    text = d->text;
    return true;
  }
  std::string bytes;
  if (!read_file(path, bytes)) return false;
  text = is_utf8(bytes) ? std::move(bytes) : cp1251_to_utf8(bytes);
  return true;
}

// The locations of a closed file of a game, read again only when it has changed;
// false when it cannot be read.
bool disk_locations(server& s, const std::string& path, std::uint32_t file, std::vector<game_location>& out) {
  std::error_code error;
  const std::filesystem::path p = fs_path(path);
  const auto time = std::filesystem::last_write_time(p, error);
  const std::uintmax_t size = error ? 0 : std::filesystem::file_size(p, error);
  disk_file* cached = nullptr;
  for (disk_file& f : s.disk)
    if (f.path == path) cached = &f;
  if (error || cached == nullptr || cached->time != time || cached->size != size) {
    std::string bytes;
    if (!read_file(path, bytes)) return false;
    if (cached == nullptr) {
      s.disk.emplace_back();
      cached = &s.disk.back();
      cached->path = path;
    }
    cached->time = time;
    cached->size = error ? static_cast<std::uintmax_t>(-1) : size;  // unknown: read again next time
    cached->locations.clear();
    read_game_locations(std::move(bytes), 0, cached->locations);
  }
  for (game_location g : cached->locations) {
    g.file = file;
    out.push_back(std::move(g));
  }
  return true;
}

// ---- diagnostics ----

json range_json(text_position a, text_position b) {
  return {{"start", {{"line", a.line}, {"character", a.character}}},
          {"end", {{"line", b.line}, {"character", b.character}}}};
}

json span_json(const document& d, std::size_t begin, std::size_t end, position_units units) {
  return range_json(position_of(d.text, d.starts, begin, units), position_of(d.text, d.starts, end, units));
}

// The range of a finding: from its column to its end column, at least one
// character where the line has one.
json item_range(const server& s, const document& d, const report_item& item) {
  const text_position a = position_of_column(d.text, d.starts, item.line, item.column, s.units);
  const std::uint64_t end_column = std::max(item.end_column, item.column + 1);
  const text_position b = position_of_column(d.text, d.starts, item.line, end_column, s.units);
  return range_json(a, b);
}

// Another file of the game that a note points to, with its text as the editor
// shows it, read once a publication.
struct other_text {
  std::string path, uri, text;
  std::vector<std::size_t> starts;
};

const other_text* other_file(server& s, std::deque<other_text>& others, const std::string& path) {
  for (const other_text& o : others)
    if (o.path == path) return &o;
  other_text o;
  o.path = path;
  if (!game_file_text(s, path, o.text)) return nullptr;
  const document* open = document_at_path(s, path);
  o.uri = open != nullptr ? open->uri : uri_of_path(path);
  find_line_starts(o.text, o.starts);
  others.push_back(std::move(o));
  return &others.back();
}

// Checks one document in its game and publishes what the checker finds.
void publish(server& s, document& d) {
  d.stale = false;
  const manifest_info m = read_manifest(d.folder);
  // A manifest.json that UrqW would refuse is said once for its folder, as the
  // command line says it.
  if (m.read.problem != MANIFEST_FINE &&
      std::find(s.manifests_told.begin(), s.manifests_told.end(), d.folder) == s.manifests_told.end()) {
    s.manifests_told.push_back(d.folder);
    const std::string mode = MODE_NAMES[s.mode];
    const bool ru = s.language == LANGUAGE_RU;
    notify("window/showMessage",
           {{"type", 2},
            {"message", d.folder + "manifest.json: " + manifest_problem_text(m.read, s.language) +
                            (ru ? ": UrqW не загрузит такую игру; проверено в режиме " + mode
                                : ": UrqW refuses to load such a game; checked in " + mode + " mode")}});
  }
  const std::vector<std::string> paths = game_paths(s, d);
  std::vector<game_location> game;
  std::uint32_t self = 0;
  if (paths.size() >= 2) {
    for (std::size_t i = 0; i < paths.size(); ++i) {
      const auto file = static_cast<std::uint32_t>(i);
      if (same_path(paths[i], d.path)) {
        self = file;
        read_game_locations(document_bytes(d, m), file, game);
      } else if (const document* o = document_at_path(s, paths[i])) {
        read_game_locations(document_bytes(*o, m), file, game);
      } else {
        disk_locations(s, paths[i], file, game);
      }
    }
    std::sort(game.begin(), game.end(), [](const game_location& a, const game_location& b) {
      return a.name != b.name ? a.name < b.name : a.file < b.file;
    });
  }
  // How the findings name the game's files, as the command line has them.
  std::vector<game_file_name> names;
  for (const std::string& path : paths) {
    const std::string base = path.substr(folder_of(path).size());
    game_file_name name;
    name.path = path;
    name.loaded_first = !base.empty() && base[0] == '_';
    name.is_mavo_result = fold_case(base, false) == RESULT_FILE;
    names.push_back(std::move(name));
  }
  script_reading reading;
  reading.show_all = s.all;
  if (paths.size() >= 2) {
    reading.game = &game;
    reading.game_file = self;
    reading.game_files = &names;
  }
  const check_mode mode = m.has_mode ? m.mode : s.mode;
  check_script(reading, document_bytes(d, m), mode);
  d.items.clear();
  report_findings(reading, d.path, s.language, d.items);

  // Written straight out rather than built as a JSON tree: a script may have
  // thousands of findings, and each change publishes them all.
  std::string out = R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"uri":)";
  append_string(d.uri, out);
  out += R"(,"version":)";
  out += std::to_string(d.version);
  out += R"(,"diagnostics":[)";
  bool first = true;
  std::deque<other_text> others;
  for (const report_item& item : d.items) {
    out += first ? "{" : ",{";
    first = false;
    out += R"("range":)";
    const text_position a = position_of_column(d.text, d.starts, item.line, item.column, s.units);
    const std::uint64_t end_column = std::max(item.end_column, item.column + 1);
    append_range(a, position_of_column(d.text, d.starts, item.line, end_column, s.units), out);
    out += item.severity == SEVERITY_ERROR ? R"(,"severity":1,"code":)" : R"(,"severity":2,"code":)";
    append_string(CHECK_NAMES[item.id], out);
    out += R"(,"source":"mavo-check","message":)";
    append_string(item.message, out);
    if (!item.notes.empty()) {
      out += R"(,"relatedInformation":[)";
      for (std::size_t i = 0; i < item.notes.size(); ++i) {
        const report_note& note = item.notes[i];
        out += i == 0 ? R"({"location":{"uri":)" : R"(,{"location":{"uri":)";
        const other_text* other = note.file.empty() ? nullptr : other_file(s, others, note.file);
        append_string(other != nullptr ? other->uri : d.uri, out);
        out += R"(,"range":)";
        const std::string& text = other != nullptr ? other->text : d.text;
        const std::vector<std::size_t>& starts = other != nullptr ? other->starts : d.starts;
        append_range(position_of_column(text, starts, note.line, note.column, s.units),
                     position_of_column(text, starts, note.line, note.column + 1, s.units), out);
        out += R"(},"message":)";
        append_string(note.message, out);
        out += '}';
      }
      out += ']';
    }
    out += '}';
  }
  out += "]}}";
  write_message(message_frame(out));
}

// The names of a document's locations, as its game's other files see them.
std::vector<std::string> own_locations(const document& d) {
  std::vector<game_location> game;
  read_game_locations(document_bytes(d, read_manifest(d.folder)), 0, game);
  std::vector<std::string> names;
  for (game_location& g : game) names.push_back(std::move(g.name));
  std::sort(names.begin(), names.end());
  return names;
}

// Publishes the findings of every document changed since they were last published,
// and of the game's other open documents when a change gave or took a location;
// each once.
void publish_stale(server& s) {
  for (document& d : s.documents) {
    if (!d.stale || d.path.empty()) continue;
    std::vector<std::string> now = own_locations(d);
    if (now == d.locations) continue;
    d.locations = std::move(now);
    for (document& o : s.documents)
      if (&o != &d && !o.path.empty() && same_path(o.folder, d.folder)) o.stale = true;
  }
  for (document& d : s.documents)
    if (d.stale) publish(s, d);
}

// ---- the features: the game's locations and jumps ----

struct game_script {
  std::string uri;
  std::string text;
  std::vector<std::size_t> starts;
  script_outline outline;
  bool open = false;
};

const script_outline& outline_of(document& d) {
  if (d.outline_stale) {
    scan_script(d.text, d.outline);
    d.outline_stale = false;
  }
  return d.outline;
}

// Every script of the document's game, the document first.
std::vector<game_script> game_scripts(server& s, document& d) {
  std::vector<game_script> out;
  game_script self;
  self.uri = d.uri;
  self.text = d.text;
  self.starts = d.starts;
  self.outline = outline_of(d);
  self.open = true;
  out.push_back(std::move(self));
  for (const std::string& path : game_paths(s, d)) {
    if (same_path(path, d.path)) continue;
    game_script g;
    if (document* o = document_at_path(s, path)) {
      g.uri = o->uri;
      g.text = o->text;
      g.outline = outline_of(*o);
      g.open = true;
    } else {
      if (!game_file_text(s, path, g.text)) continue;
      g.uri = uri_of_path(path);
      scan_script(g.text, g.outline);
    }
    find_line_starts(g.text, g.starts);
    out.push_back(std::move(g));
  }
  return out;
}

json script_range(const game_script& g, std::size_t begin, std::size_t end, position_units units) {
  return range_json(position_of(g.text, g.starts, begin, units), position_of(g.text, g.starts, end, units));
}

// The folded name under the cursor (a location's or a jump's), with the range of
// its bytes; false when there is none.
bool name_under(document& d, std::size_t offset, std::string& folded, std::size_t& at, std::size_t& size,
                bool& substituted) {
  const script_outline& o = outline_of(d);
  substituted = false;
  if (const std::int64_t j = jump_at(o, offset); j >= 0) {
    const script_jump& jump = o.jumps[static_cast<std::size_t>(j)];
    folded = jump.target.folded;
    at = jump.target.at;
    size = jump.target.size;
    substituted = jump.substituted;
    return true;
  }
  if (const std::int64_t l = location_at(o, offset); l >= 0) {
    const script_name& n = o.locations[static_cast<std::size_t>(l)];
    folded = n.folded;
    at = n.at;
    size = n.size;
    return true;
  }
  return false;
}

bool document_position(server& s, const json& params, document*& d, std::size_t& offset) {
  d = params_document(s, params);
  const json* pos = member(params, "position");
  std::int64_t line = 0, character = 0;
  if (d == nullptr || pos == nullptr || !number_at(*pos, "line", line) || !number_at(*pos, "character", character) ||
      line < 0 || character < 0)
    return false;
  offset = offset_of(d->text, d->starts,
                     {static_cast<std::uint64_t>(line), static_cast<std::uint64_t>(character)}, s.units);
  return true;
}

json location_json(const game_script& g, const script_name& n, position_units units) {
  return {{"uri", g.uri}, {"range", script_range(g, n.at, n.at + n.size, units)}};
}

// The first definition of a folded name in the game: in the document itself, else
// in the game's other files in the order of their names; false where none is.
bool first_definition(const std::vector<game_script>& game, std::string_view folded, const game_script*& g,
                      std::size_t& index) {
  for (const game_script& script : game)
    for (std::size_t i = 0; i < script.outline.locations.size(); ++i)
      if (script.outline.locations[i].folded == folded) {
        g = &script;
        index = i;
        return true;
      }
  return false;
}

json definition(server& s, const json& params) {
  document* d;
  std::size_t offset;
  if (!document_position(s, params, d, offset)) return nullptr;
  const script_outline& o = outline_of(*d);
  const std::int64_t j = jump_at(o, offset);
  if (j < 0 || o.jumps[static_cast<std::size_t>(j)].substituted) return nullptr;
  const std::vector<game_script> game = game_scripts(s, *d);
  const game_script* g;
  std::size_t i;
  if (!first_definition(game, o.jumps[static_cast<std::size_t>(j)].target.folded, g, i)) return nullptr;
  return location_json(*g, g->outline.locations[i], s.units);
}

json references(server& s, const json& params, bool highlight) {
  document* d;
  std::size_t offset;
  if (!document_position(s, params, d, offset)) return nullptr;
  std::string folded;
  std::size_t at, size;
  bool substituted;
  if (!name_under(*d, offset, folded, at, size, substituted) || substituted) return json::array();
  bool with_declaration = true;
  if (const json* context = member(params, "context"))
    if (const json* inc = member(*context, "includeDeclaration"); inc != nullptr && inc->is_boolean())
      with_declaration = inc->get<bool>();
  json out = json::array();
  std::vector<game_script> scripts = game_scripts(s, *d);
  if (highlight) scripts.resize(1);
  for (const game_script& g : scripts) {
    if (highlight || with_declaration)
      for (const script_name& n : g.outline.locations)
        if (n.folded == folded) {
          if (highlight)
            out.push_back({{"range", script_range(g, n.at, n.at + n.size, s.units)}, {"kind", 3}});
          else
            out.push_back(location_json(g, n, s.units));
        }
    for (const script_jump& jump : g.outline.jumps)
      if (!jump.substituted && jump.target.folded == folded) {
        if (highlight)
          out.push_back({{"range", script_range(g, jump.target.at, jump.target.at + jump.target.size, s.units)},
                         {"kind", 2}});
        else
          out.push_back(location_json(g, jump.target, s.units));
      }
  }
  return out;
}

json document_symbols(server& s, const json& params) {
  document* d = params_document(s, params);
  if (d == nullptr) return nullptr;
  const script_outline& o = outline_of(*d);
  json out = json::array();
  std::size_t j = 0;
  for (std::size_t i = 0; i < o.locations.size(); ++i) {
    const script_name& n = o.locations[i];
    const std::size_t line_begin = d->starts[static_cast<std::size_t>(position_of(d->text, d->starts, n.at, s.units).line)];
    const std::size_t body_end = o.location_end[i];
    json children = json::array();
    for (; j < o.jumps.size() && o.jumps[j].statement_at < body_end; ++j) {
      const script_jump& jump = o.jumps[j];
      if (jump.statement_at < line_begin || (jump.kind != JUMP_BTN && jump.kind != JUMP_MAVO)) continue;
      const std::string caption = jump.caption.empty() ? d->text.substr(jump.target.at, jump.target.size) : jump.caption;
      children.push_back({{"name", caption},
                          {"detail", (jump.kind == JUMP_MAVO ? "mavo " : "btn ") + d->text.substr(jump.target.at, jump.target.size)},
                          {"kind", 8},  // a field: the location's button
                          {"range", span_json(*d, jump.statement_at, jump.statement_at + jump.statement_size, s.units)},
                          {"selectionRange", span_json(*d, jump.target.at, jump.target.at + jump.target.size, s.units)}});
    }
    std::size_t end = body_end;
    while (end > line_begin && (d->text[end - 1] == '\n' || d->text[end - 1] == '\r')) --end;
    const std::string name = n.size == 0 ? std::string(":") : d->text.substr(n.at, n.size);
    out.push_back({{"name", name},
                   {"kind", 2},  // a module: the location
                   {"range", span_json(*d, line_begin, std::max(end, n.at + n.size), s.units)},
                   {"selectionRange", span_json(*d, n.at, n.at + n.size, s.units)},
                   {"children", std::move(children)}});
  }
  return out;
}

json completion(server& s, const json& params) {
  document* d;
  std::size_t offset;
  if (!document_position(s, params, d, offset)) return nullptr;
  // Only where a target is written: after goto, proc, btn or mavo, or in "[[...|".
  const std::size_t line_begin = d->starts[static_cast<std::size_t>(position_of(d->text, d->starts, offset, s.units).line)];
  std::string_view before = std::string_view(d->text).substr(line_begin, offset - line_begin);
  const std::size_t amp = before.find_last_of('&');
  if (amp != std::string_view::npos) before.remove_prefix(amp + 1);
  std::size_t b = 0;
  while (b < before.size() && (before[b] == ' ' || before[b] == '\t')) ++b;
  before.remove_prefix(b);
  std::size_t typed_from = offset;
  bool target = false;
  const std::size_t link = before.rfind("[[");
  if (link != std::string_view::npos && before.find("]]", link) == std::string_view::npos &&
      before.find('|', link) != std::string_view::npos) {
    target = true;
    typed_from = offset - (before.size() - before.rfind('|') - 1);
  } else {
    for (const char* word : {"goto ", "proc ", "btn ", "mavo "}) {
      const std::size_t n = std::strlen(word);
      if (before.size() < n) continue;
      bool same = true;
      for (std::size_t i = 0; i + 1 < n && same; ++i) same = (before[i] | 0x20) == word[i];
      if (!same || (before[n - 1] != ' ' && before[n - 1] != '\t')) continue;
      const std::string_view rest = before.substr(n);
      if (rest.find(',') != std::string_view::npos) break;  // past the target, in the caption
      target = true;
      std::size_t t = 0;
      while (t < rest.size() && (rest[t] == ' ' || rest[t] == '\t')) ++t;
      typed_from = offset - (rest.size() - t);
    }
  }
  json items = json::array();
  if (!target) return items;
  std::vector<std::string> seen;
  const json replace = span_json(*d, typed_from, offset, s.units);
  for (const game_script& g : game_scripts(s, *d))
    for (const script_name& n : g.outline.locations) {
      if (n.size == 0 || std::find(seen.begin(), seen.end(), n.folded) != seen.end()) continue;
      seen.push_back(n.folded);
      const std::string name = g.text.substr(n.at, n.size);
      items.push_back({{"label", name}, {"kind", 18}, {"textEdit", {{"range", replace}, {"newText", name}}}});
    }
  return items;
}

// The rename's refusals are errors of the request, with the reason as its message.
bool rename_target(server& s, const json& params, document*& d, std::string& folded, std::size_t& at,
                   std::size_t& size, std::string& why) {
  std::size_t offset;
  if (!document_position(s, params, d, offset)) {
    why = "no such document";
    return false;
  }
  bool substituted;
  if (!name_under(*d, offset, folded, at, size, substituted)) {
    why = "no location's name here: a rename starts at a location's label or at a jump to it";
    return false;
  }
  if (substituted) {
    why = "this jump's target is made by a \"#...$\" substitution while the game runs and cannot be followed";
    return false;
  }
  return true;
}

json prepare_rename(server& s, const json& params, const json& id) {
  document* d;
  std::string folded, why;
  std::size_t at, size;
  if (!rename_target(s, params, d, folded, at, size, why)) {
    respond_error(id, REQUEST_FAILED, why);
    return json();
  }
  respond(id, {{"range", span_json(*d, at, at + size, s.units)}, {"placeholder", d->text.substr(at, size)}});
  return json();
}

void rename(server& s, const json& params, const json& id) {
  document* d;
  std::string folded, why;
  std::size_t at, size;
  if (!rename_target(s, params, d, folded, at, size, why)) {
    respond_error(id, REQUEST_FAILED, why);
    return;
  }
  const std::string new_name = string_at(params, "newName");
  if (!valid_location_name(new_name)) {
    respond_error(id, REQUEST_FAILED,
                  "a location's name cannot be empty nor hold a blank, \",\", \"&\", \"#\" or \"$\"");
    return;
  }
  const std::string new_folded = fold_case(new_name, true);
  const std::vector<game_script> scripts = game_scripts(s, *d);
  if (new_folded != folded)
    for (const game_script& g : scripts)
      for (const script_name& n : g.outline.locations)
        if (n.folded == new_folded) {
          respond_error(id, REQUEST_FAILED, "the game already has a location \"" + new_name + "\"");
          return;
        }
  json changes = json::object();
  std::size_t passed = 0;
  for (const game_script& g : scripts) {
    json edits = json::array();
    for (const script_name& n : g.outline.locations)
      if (n.folded == folded) edits.push_back({{"range", script_range(g, n.at, n.at + n.size, s.units)}, {"newText", new_name}});
    for (const script_jump& j : g.outline.jumps) {
      if (j.target.folded == folded && !j.substituted)
        edits.push_back({{"range", script_range(g, j.target.at, j.target.at + j.target.size, s.units)},
                         {"newText", new_name}});
      if (j.substituted) ++passed;
    }
    if (!edits.empty()) changes[g.uri] = std::move(edits);
  }
  respond(id, {{"changes", std::move(changes)}});
  // What a substitution names is known only while the game runs: said, not guessed.
  if (passed != 0)
    notify("window/showMessage",
           {{"type", 2},
            {"message", "mavo-check: " + std::to_string(passed) +
                            " jump(s) through \"#...$\" cannot be followed and were left as they are"}});
}

// ---- code actions ----

bool ranges_meet(const json& a, std::uint64_t a_line_from, std::uint64_t a_line_to) {
  std::int64_t from = 0, to = 0;
  const json* start = member(a, "start");
  const json* end = member(a, "end");
  if (start == nullptr || end == nullptr || !number_at(*start, "line", from) || !number_at(*end, "line", to)) return false;
  return static_cast<std::uint64_t>(from) <= a_line_to && a_line_from <= static_cast<std::uint64_t>(to);
}

json code_actions(server& s, const json& params) {
  document* d = params_document(s, params);
  const json* range = member(params, "range");
  if (d == nullptr || range == nullptr) return nullptr;
  json actions = json::array();
  const bool crlf = d->text.find("\r\n") != std::string::npos;
  for (const report_item& item : d->items) {
    const std::uint64_t line = item.line - 1;
    if (!ranges_meet(*range, line, line)) continue;
    json diagnostic = {{"range", item_range(s, *d, item)}, {"code", CHECK_NAMES[item.id]}, {"source", SOURCE},
                       {"message", item.message}};
    for (const report_fix& fix : item.fixes) {
      const text_position a = position_of_column(d->text, d->starts, fix.line, fix.column, s.units);
      const text_position b = position_of_column(d->text, d->starts, fix.end_line, fix.end_column, s.units);
      actions.push_back({{"title", fix.replacement.empty() ? "mavo-check: delete this"
                                                           : "mavo-check: write \"" + fix.replacement + "\""},
                         {"kind", "quickfix"},
                         {"diagnostics", json::array({diagnostic})},
                         {"isPreferred", item.fixes.size() == 1},
                         {"edit", {{"changes", {{d->uri, json::array({{{"range", range_json(a, b)},
                                                                        {"newText", fix.replacement}}})}}}}}});
    }
    // "Ignore here": the silencing comment alone on the line before; on a
    // continuation line, whose line before would no longer continue, at its end.
    std::size_t begin = d->starts[std::min<std::size_t>(static_cast<std::size_t>(line), d->starts.size() - 1)];
    std::size_t first = begin;
    while (first < d->text.size() && (d->text[first] == ' ' || d->text[first] == '\t')) ++first;
    const std::string comment = std::string(";mavo-check: ignore ") + CHECK_NAMES[item.id];
    json edit;
    if (first < d->text.size() && d->text[first] == '_') {
      const std::size_t end = line_end_at(d->text, begin);
      const text_position at = position_of(d->text, d->starts, end, s.units);
      edit = {{"range", range_json(at, at)}, {"newText", " " + comment}};
    } else {
      const text_position at = position_of(d->text, d->starts, begin, s.units);
      edit = {{"range", range_json(at, at)},
              {"newText", d->text.substr(begin, first - begin) + comment + (crlf ? "\r\n" : "\n")}};
    }
    actions.push_back({{"title", std::string("mavo-check: ignore ") + CHECK_NAMES[item.id] + " here"},
                       {"kind", "quickfix"},
                       {"diagnostics", json::array({diagnostic})},
                       {"edit", {{"changes", {{d->uri, json::array({edit})}}}}}});
  }
  return actions;
}

// ---- hover: a jump's location, its first lines ----

constexpr std::size_t HOVER_LINES = 6;

// On a "mavo" statement outside its target: the "btn" line and the block that mavo
// writes for it.
json hover_button(server& s, document& d, std::size_t offset) {
  const script_outline& o = outline_of(d);
  const script_jump* statement = nullptr;
  for (const script_jump& jump : o.jumps)
    if (jump.kind == JUMP_MAVO && offset >= jump.statement_at && offset <= jump.statement_at + jump.statement_size)
      statement = &jump;
  if (statement == nullptr) return nullptr;
  const text_position at = position_of(d.text, d.starts, statement->statement_at, UNITS_UTF8);
  std::vector<button_output> outputs;
  button_outputs(document_bytes(d, read_manifest(d.folder)), outputs);
  for (const button_output& b : outputs) {
    if (position_of_column(d.text, d.starts, b.line, b.column, UNITS_UTF8) != at) continue;
    std::string shown = "mavo.qst:\n```qst\n" + b.btn + "\n";
    if (!b.block.empty()) shown += "...\n" + b.block;
    if (shown.back() != '\n') shown += '\n';
    shown += "```";
    return {{"contents", {{"kind", "markdown"}, {"value", shown}}},
            {"range", span_json(d, statement->statement_at, statement->statement_at + statement->statement_size, s.units)}};
  }
  return nullptr;
}

json hover(server& s, const json& params) {
  document* d;
  std::size_t offset;
  if (!document_position(s, params, d, offset)) return nullptr;
  const script_outline& o = outline_of(*d);
  const std::int64_t j = jump_at(o, offset);
  if (j < 0) return hover_button(s, *d, offset);
  const script_jump& jump = o.jumps[static_cast<std::size_t>(j)];
  const json range = span_json(*d, jump.target.at, jump.target.at + jump.target.size, s.units);
  if (jump.substituted)
    return {{"contents", {{"kind", "plaintext"}, {"value", "a target made by \"#...$\" while the game runs"}}},
            {"range", range}};
  const std::vector<game_script> game = game_scripts(s, *d);
  const game_script* g;
  std::size_t i;
  if (!first_definition(game, jump.target.folded, g, i))
    return {{"contents", {{"kind", "plaintext"}, {"value", "no location of this name in the game"}}}, {"range", range}};
  const script_name& n = g->outline.locations[i];
  const auto line = static_cast<std::size_t>(position_of(g->text, g->starts, n.at, UNITS_UTF8).line);
  std::string shown;
  for (std::size_t k = line; k < g->starts.size() && k < line + HOVER_LINES; ++k) {
    const std::size_t b = g->starts[k];
    if (b >= g->outline.location_end[i]) break;
    shown.append(g->text, b, line_end_at(g->text, b) - b);
    shown += '\n';
  }
  return {{"contents", {{"kind", "markdown"}, {"value", "```qst\n" + shown + "```"}}}, {"range", range}};
}

// ---- the documents ----

void set_text(document& d, std::string text) {
  d.text = std::move(text);
  find_line_starts(d.text, d.starts);
  d.stale = true;
  d.outline_stale = true;
}

void did_open(server& s, const json& params) {
  const json* td = member(params, "textDocument");
  if (td == nullptr) return;
  const std::string uri = string_at(*td, "uri");
  if (uri.empty()) return;
  document* d = find_document(s, uri);
  if (d == nullptr) {
    s.documents.emplace_back();
    d = &s.documents.back();
  }
  d->uri = uri;
  d->path = path_of_uri(uri);
  d->folder = folder_of(d->path);
  number_at(*td, "version", d->version);
  std::string bytes;
  d->file_is_utf8 = d->path.empty() || !read_file(d->path, bytes) || is_utf8(bytes);
  set_text(*d, string_at(*td, "text"));
}

void did_change(server& s, const json& params) {
  document* d = params_document(s, params);
  const json* changes = member(params, "contentChanges");
  if (d == nullptr || changes == nullptr || !changes->is_array()) return;
  number_at(*member(params, "textDocument"), "version", d->version);  // there: d was found by it
  for (const json& change : *changes) {
    const json* text = member(change, "text");
    if (text == nullptr || !text->is_string()) continue;
    const json* range = member(change, "range");
    if (range == nullptr) {
      set_text(*d, text->get<std::string>());
      continue;
    }
    const json* start = member(*range, "start");
    const json* end = member(*range, "end");
    std::int64_t l0 = 0, c0 = 0, l1 = 0, c1 = 0;
    if (start == nullptr || end == nullptr || !number_at(*start, "line", l0) || !number_at(*start, "character", c0) ||
        !number_at(*end, "line", l1) || !number_at(*end, "character", c1) || l0 < 0 || c0 < 0 || l1 < 0 || c1 < 0)
      continue;
    std::size_t a = offset_of(d->text, d->starts, {static_cast<std::uint64_t>(l0), static_cast<std::uint64_t>(c0)}, s.units);
    std::size_t b = offset_of(d->text, d->starts, {static_cast<std::uint64_t>(l1), static_cast<std::uint64_t>(c1)}, s.units);
    if (b < a) std::swap(a, b);
    std::string t = std::move(d->text);
    t.replace(a, b - a, text->get_ref<const std::string&>());
    set_text(*d, std::move(t));
  }
}

void did_close(server& s, const json& params) {
  const json* td = member(params, "textDocument");
  const std::string uri = td == nullptr ? std::string() : string_at(*td, "uri");
  for (auto it = s.documents.begin(); it != s.documents.end(); ++it) {
    if (it->uri != uri) continue;
    const std::string folder = it->folder;
    const bool had_path = !it->path.empty();
    s.documents.erase(it);
    notify("textDocument/publishDiagnostics", {{"uri", uri}, {"diagnostics", json::array()}});
    // The others read its file again.
    if (had_path)
      for (document& o : s.documents)
        if (!o.path.empty() && same_path(o.folder, folder)) o.stale = true;
    return;
  }
}

// The settings: {"mavoCheck": {"mode": ...}} or the inner object itself.
void take_settings(server& s, const json& settings) {
  const json* inner = member(settings, "mavoCheck");
  const json& m = inner != nullptr ? *inner : settings;
  if (const json* all = member(m, "all"); all != nullptr && all->is_boolean()) s.all = all->get<bool>();
  const std::string mode = string_at(m, "mode");
  for (int i = 0; i < 4; ++i)
    if (mode == MODE_NAMES[i]) {
      s.mode = static_cast<check_mode>(i);
      s.mode_set = true;
    }
  for (document& d : s.documents) d.stale = true;
}

json initialize(server& s, const json& params) {
  // UTF-8 positions where the client offers them, else the protocol's UTF-16.
  if (const json* caps = member(params, "capabilities"))
    if (const json* general = member(*caps, "general"))
      if (const json* encodings = member(*general, "positionEncodings"); encodings != nullptr && encodings->is_array())
        for (const json& e : *encodings)
          if (e.is_string() && e.get<std::string>() == "utf-8") s.units = UNITS_UTF8;
  const std::string locale = string_at(params, "locale");
  s.language = locale.size() >= 2 && (locale[0] | 0x20) == 'r' && (locale[1] | 0x20) == 'u' ? LANGUAGE_RU : LANGUAGE_EN;
  if (const json* options = member(params, "initializationOptions")) take_settings(s, *options);
  s.initialized = true;
  return {{"capabilities",
           {{"positionEncoding", s.units == UNITS_UTF8 ? "utf-8" : "utf-16"},
            {"textDocumentSync", {{"openClose", true}, {"change", 2}}},
            {"definitionProvider", true},
            {"referencesProvider", true},
            {"documentHighlightProvider", true},
            {"documentSymbolProvider", true},
            {"completionProvider", {{"triggerCharacters", json::array({" ", "|"})}}},
            {"renameProvider", {{"prepareProvider", true}}},
            {"codeActionProvider", {{"codeActionKinds", json::array({"quickfix"})}}},
            {"hoverProvider", true}}},
          {"serverInfo", {{"name", "mavo-check"}, {"version", MAVO_VERSION}}}};
}

// Whether a later message in the queue cancels the request `id`; it is taken out.
bool cancelled(server& s, const json& id) {
  for (auto it = s.queue.begin(); it != s.queue.end(); ++it) {
    if (string_at(*it, "method") != "$/cancelRequest") continue;
    const json* params = member(*it, "params");
    const json* cancel = params == nullptr ? nullptr : member(*params, "id");
    if (cancel != nullptr && *cancel == id) {
      s.queue.erase(it);
      return true;
    }
  }
  return false;
}

void handle(server& s, const json& message) {
  if (message.is_discarded()) {
    respond_error(nullptr, PARSE_ERROR, "the message is not JSON");
    return;
  }
  const json* method_j = member(message, "method");
  const json* id = member(message, "id");
  const bool valid_id = id != nullptr && (id->is_string() || id->is_number_integer());
  if (method_j == nullptr || !method_j->is_string()) {
    // A response to a request of ours (there are none), or not a message at all.
    if (id != nullptr && (member(message, "result") != nullptr || member(message, "error") != nullptr)) return;
    respond_error(valid_id ? *id : json(nullptr), INVALID_REQUEST, "not a request or a notification");
    return;
  }
  const std::string method = method_j->get<std::string>();
  const json empty = json::object();
  const json* params_j = member(message, "params");
  const json& params = params_j != nullptr ? *params_j : empty;
  if (id == nullptr) {  // a notification
    if (method == "exit") {
      s.exited = true;
    } else if (s.shut_down || !s.initialized) {
      // Only "exit" counts now, or before "initialize".
    } else if (method == "textDocument/didOpen") {
      did_open(s, params);
    } else if (method == "textDocument/didChange") {
      did_change(s, params);
    } else if (method == "textDocument/didClose") {
      did_close(s, params);
    } else if (method == "workspace/didChangeConfiguration") {
      if (const json* settings = member(params, "settings")) take_settings(s, *settings);
    }
    return;
  }
  if (!valid_id) {
    respond_error(nullptr, INVALID_REQUEST, "a request's id is a number or a string");
    return;
  }
  if (cancelled(s, *id)) {
    respond_error(*id, REQUEST_CANCELLED, "cancelled");
    return;
  }
  if (s.shut_down) {
    respond_error(*id, INVALID_REQUEST, "the server has been shut down");
    return;
  }
  if (method == "initialize") {
    if (s.initialized) {
      respond_error(*id, INVALID_REQUEST, "already initialized");
      return;
    }
    respond(*id, initialize(s, params));
    return;
  }
  if (!s.initialized) {
    respond_error(*id, SERVER_NOT_INITIALIZED, "initialize first");
    return;
  }
  if (!params.is_object() && !params.is_array()) {
    respond_error(*id, INVALID_PARAMS, "params must be an object");
    return;
  }
  if (method == "shutdown") {
    s.shut_down = true;
    respond(*id, nullptr);
  } else if (method == "textDocument/definition") {
    respond(*id, definition(s, params));
  } else if (method == "textDocument/references") {
    respond(*id, references(s, params, false));
  } else if (method == "textDocument/documentHighlight") {
    respond(*id, references(s, params, true));
  } else if (method == "textDocument/documentSymbol") {
    respond(*id, document_symbols(s, params));
  } else if (method == "textDocument/completion") {
    respond(*id, completion(s, params));
  } else if (method == "textDocument/prepareRename") {
    prepare_rename(s, params, *id);
  } else if (method == "textDocument/rename") {
    rename(s, params, *id);
  } else if (method == "textDocument/codeAction") {
    respond(*id, code_actions(s, params));
  } else if (method == "textDocument/hover") {
    respond(*id, hover(s, params));
  } else {
    respond_error(*id, METHOD_NOT_FOUND, "unknown method " + method);
  }
}

}  // namespace

int lsp_run() {
  stream_binary_mode();
  server s;
  message_reader reader;
  std::string body;
  std::string chunk;
  for (;;) {
    while (message_next(reader, body)) {
      // A body that is not JSON stays in the queue as such, answered in its turn.
      s.queue.push_back(json::parse(body, nullptr, false));
    }
    if (s.queue.empty()) {
      // Everything read is handled: the findings of what changed, then wait.
      if (s.initialized && !s.shut_down) publish_stale(s);
      if (!read_input(chunk)) return s.shut_down ? 0 : 1;
      message_feed(reader, chunk);
      continue;
    }
    const json message = std::move(s.queue.front());
    s.queue.pop_front();
    handle(s, message);
    if (s.exited) return s.shut_down ? 0 : 1;
  }
}
