#include "reference.h"

#include <vector>

namespace {

struct ref_label {
  std::string name;
  bool generated;
  std::string body;
};

// Newest first, exactly as the hashed table answers.
const ref_label* ref_find(const std::vector<ref_label>& labels, const std::string& name) {
  for (auto it = labels.rbegin(); it != labels.rend(); ++it)
    if (it->name == name) return &*it;
  return nullptr;
}

size_t ref_skip_blanks(const std::string& t, size_t p) {
  while (p < t.size() && t[p] == ' ') ++p;
  return p;
}

std::string ref_name(std::vector<ref_label>& labels, const std::string& label, const std::string& caption,
                     const std::string& actions, bool& is_new) {
  std::string base = "mavo_" + label + "_" + caption;
  for (char& c : base) c = c == ' ' || c == ',' ? '_' : c == '#' ? '[' : c == '$' ? ']' : c;
  std::string candidate = base;
  for (unsigned long long n = 2;; ++n) {
    const ref_label* found = ref_find(labels, candidate);
    if (found == nullptr) {
      labels.push_back({candidate, true, actions});
      is_new = true;
      return candidate;
    }
    if (found->generated && found->body == actions) {
      is_new = false;
      return candidate;
    }
    candidate = base + "[" + std::to_string(n) + "]";
  }
}

}  // namespace

std::string reference_clean(std::string t) {
  for (char& c : t)
    if (c == '\t') c = ' ';
  size_t p = 0;
  while (p < t.size()) {
    if (t[p] == '\n') {
      const size_t q = ref_skip_blanks(t, p + 1);
      if (q < t.size() && t[q] == '_') {
        t.erase(p, q - p + 1);
        continue;
      }
    } else if (t[p] == '/' && p + 1 < t.size() && t[p + 1] == '*') {
      const size_t close = t.find("*/", p + 2);
      if (close != std::string::npos) {
        t.erase(p, close + 2 - p);
        continue;
      }
    } else if (t[p] == ';') {
      const size_t nl = t.find('\n', p);
      if (nl != std::string::npos) {
        t.erase(p, nl - p);
        continue;
      }
    }
    ++p;
  }
  return t;
}

reference_result reference_transform(std::string script) {
  std::string t = reference_clean(script + "\nend\n") + ";===== mavo implementation =====\n";
  std::vector<ref_label> labels;
  for (size_t pos = t.find(':'); pos != std::string::npos;) {
    const size_t nl = t.find('\n', pos);
    labels.push_back({t.substr(pos + 1, nl - pos - 1), false, ""});
    pos = nl == std::string::npos ? nl : t.find(':', nl + 1);
  }
  std::uint64_t count = 0;
  size_t s = 0;
  for (;;) {
    const size_t k = t.find("mavo ", s);
    if (k == std::string::npos) break;
    s = k + 5;
    if (k == 0) continue;
    size_t b = k - 1;
    while (b > 0 && t[b] == ' ') --b;
    const bool starts = t[b] == '\n' || t[b] == '&' ||
                        (b >= 4 && (t.compare(b - 4, 5, " then") == 0 || t.compare(b - 4, 5, " else") == 0));
    if (!starts) continue;
    const size_t ls = ref_skip_blanks(t, k + 5);
    const size_t c = t.find(',', ls);
    if (c == std::string::npos || c == ls) continue;
    size_t le = c;
    while (le > ls && t[le - 1] == ' ') --le;
    const std::string label = t.substr(ls, le - ls);
    size_t e = c + 1;
    while (e < t.size() && t[e] != '&' && t[e] != '\n') ++e;
    const std::string caption = t.substr(c + 1, e - c - 1);
    if (e == t.size() || t[e] != '&') {
      t.replace(k, 4, " btn");
      continue;
    }
    const size_t a = ref_skip_blanks(t, e + 1);
    size_t from, to, f;
    if (a < t.size() && t[a] == '{') {
      from = a + 1;
      to = t.find('}', from);
      if (to == std::string::npos) continue;
      f = to + 1;
    } else {
      from = a;
      to = t.find('\n', a);
      if (to == std::string::npos) to = t.size();
      f = to;
    }
    std::string actions = t.substr(from, to - from);
    while (!actions.empty() && actions.back() == ' ') actions.pop_back();
    while (!actions.empty() && actions.back() == '\n') actions.pop_back();
    bool is_new = false;
    const std::string name = ref_name(labels, label, caption, actions, is_new);
    const std::string replacement = "btn " + name + "," + caption;
    std::string rebuilt = t.substr(0, k) + replacement + t.substr(f);
    if (is_new) rebuilt += ":" + name + "\n" + actions + "\ngoto " + label + "\nend\n\n";
    t = rebuilt;
    s = k + replacement.size();
    ++count;
  }
  return {t, count};
}
