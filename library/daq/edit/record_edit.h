// Editing a family's document record by record: set fields of the records a
// selector picks, add a record, drop records. The family's reader reads the
// records and the element tree gives their places; the family's writer
// gives the text of what changes, and only those bytes of the document are
// rewritten (splice.h). The result must read back as the records with the
// edit and nothing else, or the edit is refused.
#ifndef QAL3_EDIT_RECORD_EDIT_H
#define QAL3_EDIT_RECORD_EDIT_H

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "check_document.h"
#include "qal3_messages.h"
#include "record_fields.h"
#include "splice.h"
#include "trigger_parameters.h"

namespace qal3::edit {

enum class Action { set, add, drop };

// One edit: `selector` picks records (set, drop): a 1-based position in the
// document, or FIELD=VALUE[,FIELD=VALUE...] over the records' fields;
// `assignments` are FIELD=VALUE texts (set, add). Without `all`, a selector
// must pick exactly one record.
struct Request {
  Action action = Action::set;
  std::string selector;
  std::vector<std::string> assignments;
  bool all = false;
};

// What an edit gives: the new document, or the reason it was refused (with
// the position in the document it concerns, 0 when none).
struct Outcome {
  std::string document;
  std::string error;
  int line = 0;
  int column = 0;
  std::size_t records = 0;  // records changed, added or dropped
};

// Sets the field `name` of `r` from `text` as the shell gives it. A trigger's
// function parameter may be named by any attribute name of it or as
// fparam[N]; a registry slot by its name or its number. False, with `why`,
// for a name no field has, a field a document does not hold, or a value
// the field cannot hold exactly.
template <class R>
bool assign(R& r, const std::string& name, const std::string& text, std::string& why);

// Applies `request` to the document `bytes` (named `file` in messages),
// read and written with `options`.
template <class R>
Outcome edit(const std::string& file, std::string_view bytes, const Request& request,
             const records::Options& options = {});

// edit<R> for the record of a document of `family` (qal3_family.h): trigger
// lists, channel descriptions (either format) and environment index
// dictionaries (the old layout with `old_layout`). Any other family is
// refused.
Outcome edit_document(int family, const std::string& file, std::string_view bytes, const Request& request,
                      bool old_layout);

// --- implementation -------------------------------------------------------------

namespace detail {

bool parse_integer(const std::string& text, long long lo, long long hi, long long& out, std::string& why);
bool parse_real(const std::string& text, float& out, std::string& why);
bool check_text(const std::string& text, std::size_t max_bytes, const records::Bounds& bounds, std::string& why);
// The index of a trigger parameter named `name` (an alias or fparam[N]); -1.
int parameter_index(const std::string& name);
// The slot `text` names in the function (or operation) registry; -1.
int slot_of(const std::string& text, bool function);
// "FIELD=VALUE" split; false when there is no '=' or no name.
bool split(const std::string& assignment, std::string& field, std::string& value);
// The selector's parts: a position, or FIELD=VALUE pairs (comma-separated).
bool parse_selector(const std::string& selector, std::size_t& position, std::vector<std::string>& pairs,
                    std::string& why);

// The names of the elements in the root element of `xml`, a writer's own
// document (no comments, attribute values quoted), in order.
std::vector<std::string_view> top_names(std::string_view xml);

// The first error `check` finds in `bytes` that it does not find in
// `before` (compared by message); empty when there is none.
std::string new_error(std::string_view before, std::string_view bytes);

// The written record `element` less each element and attribute that a
// document reads the same without (the value a document without it reads
// as) and that check does not ask for: tried one by one, last first, on a
// document of that record alone (`empty` is the writer's document of no
// record), so the cost is the record's.
template <class R>
std::string without_defaults(const std::string& element, const std::string& empty, R& record,
                             const records::Options& options) {
  using D = records::Description<R>;
  std::vector<R*> one{&record};
  std::string expected;
  const std::size_t close = empty.rfind("</");
  if (D::write_text(&one, &expected, options) != 0 || close == std::string::npos) return element;
  const std::string text = empty.substr(0, close) + element + "\n" + empty.substr(close);
  check::Document tree("", text);
  std::vector<check::Finding> ignored;
  if (!tree.read(ignored) || !tree.root()) return element;
  check::Node node;
  for (const check::Node c : tree.root().children()) node = c;
  // Candidates: each child element with its line, each attribute of a
  // child with the blanks before it.
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  for (const check::Node c : node.children()) {
    const Change r = removal({text, c});
    spans.push_back({r.from, r.to});
    for (std::size_t i = 0; i < c.attribute_count(); ++i) {
      const check::Attribute a = c.attribute_at(i);
      if (a.value_offset == std::string::npos) continue;
      std::size_t from = text.rfind(a.name, a.value_offset);
      if (from == std::string::npos) continue;
      while (from > 0 && (text[from - 1] == ' ' || text[from - 1] == '\t')) --from;
      spans.push_back({from, text.find(text[a.value_offset - 1], a.value_offset) + 1});
    }
  }
  std::sort(spans.begin(), spans.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<std::pair<std::size_t, std::size_t>> gone;  // removed, latest first
  const auto without = [&](const std::vector<std::pair<std::size_t, std::size_t>>& cut) {
    std::string out;
    std::size_t at = 0;
    for (auto it = cut.rbegin(); it != cut.rend(); ++it) {
      if (it->first < at) continue;  // inside one already cut
      out.append(text, at, it->first - at);
      at = it->second;
    }
    return out + text.substr(at);
  };
  const auto reads_same = [&](std::string doc) {
    records::OwnedList<R> back;
    std::string copy = doc, again;
    return D::read_text(copy.data(), copy.size(), &back.items, options) == 0 &&
           D::write_text(&back.items, &again, options) == 0 && again == expected && new_error(text, doc).empty();
  };
  for (const auto& span : spans) {
    std::vector<std::pair<std::size_t, std::size_t>> trial = gone;
    trial.push_back(span);
    std::sort(trial.begin(), trial.end(), [](const auto& a, const auto& b) {
      return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    // A span that holds earlier ones takes their place.
    std::vector<std::pair<std::size_t, std::size_t>> merged;
    for (const auto& t : trial) {
      while (!merged.empty() && merged.back().first >= t.first && merged.back().second <= t.second) merged.pop_back();
      merged.push_back(t);
    }
    if (reads_same(without(merged))) gone = merged;
  }
  const std::string kept = without(gone);
  const std::size_t b = node.tag_offset();
  return kept.substr(b, kept.size() - (text.size() - node.after_end_offset()) - b);
}

}  // namespace detail

template <class R>
bool assign(R& r, const std::string& name, const std::string& text, std::string& why) {
  using records::Kind;
  using records::Shape;
  bool found = false;
  bool ok = false;
  records::for_each_field<R>([&](const auto& field) {
    using V = typename std::decay_t<decltype(field)>::template type<R>;
    constexpr Shape shape = records::shape_of<V>();
    if (found) return;
    if constexpr (shape == Shape::reals) {
      const int p = detail::parameter_index(name);
      if (name != field.name && p < 0) return;
      found = true;
      if (p < 0 || p >= static_cast<int>(sizeof(V) / sizeof(float))) {
        why = "name a parameter: fparam[N] or its attribute name";
        return;
      }
      ok = detail::parse_real(text, field.of(r)[p], why);
      return;
    } else {
      if (name != field.name) return;
      found = true;
      if (field.kind == Kind::count || field.kind == Kind::time || field.kind == Kind::unwritten) {
        why = std::string("a document does not hold ") + field.name + " (it follows from the rest)";
        return;
      }
      if constexpr (shape == Shape::number) {
        if (records::is_slot(field.kind)) {
          const int slot = detail::slot_of(text, field.kind == Kind::function_slot);
          if (slot < 0) {
            why = "no " + std::string(field.kind == Kind::function_slot ? "function" : "operation") + " is named '" +
                  text + "'";
            return;
          }
          field.of(r) = static_cast<V>(slot);
          ok = true;
          return;
        }
        long long lo = field.bounds.lo != records::Bounds::kUnset ? field.bounds.lo
                       : field.kind == Kind::type_code            ? std::numeric_limits<std::int32_t>::min()
                                                       : static_cast<long long>(std::numeric_limits<V>::min());
        long long hi = field.bounds.hi != records::Bounds::kUnset ? field.bounds.hi
                       : field.kind == Kind::type_code
                           ? static_cast<long long>(std::numeric_limits<std::uint32_t>::max())
                           : static_cast<long long>(std::min<unsigned long long>(
                                 std::numeric_limits<V>::max(), std::numeric_limits<long long>::max()));
        long long v = 0;
        if (!detail::parse_integer(text, lo, hi, v, why)) return;
        field.of(r) = static_cast<V>(v);
        ok = true;
      } else if constexpr (shape == Shape::real) {
        ok = detail::parse_real(text, field.of(r), why);
      } else if constexpr (shape == Shape::text) {
        if (!detail::check_text(text, sizeof(V) - 1, field.bounds, why)) return;
        std::memcpy(field.of(r), text.c_str(), text.size() + 1);
        ok = true;
      } else if constexpr (shape == Shape::string) {
        if (!detail::check_text(text, std::string::npos, field.bounds, why)) return;
        field.of(r) = text;
        ok = true;
      } else {
        why = std::string(field.name) + " is a list: it cannot be set as one value";
      }
    }
  });
  if (!found) why = "no field is named '" + name + "'";
  return ok;
}

template <class R>
Outcome edit(const std::string& file, std::string_view bytes, const Request& request, const records::Options& options) {
  using D = records::Description<R>;
  Outcome out;
  const auto refuse = [&out](std::string why, check::Position at = {}) {
    out.error = std::move(why);
    out.line = at.line;
    out.column = at.column;
    return out;
  };
  // One clock for every read and write of the edit, so that the texts
  // compare equal where the records do.
  time_t clock_time = 0;
  qal3_get_thread_clock(&clock_time);
  const ThreadClock clock(&clock_time);
  // The edit reads the document more than once, and trial documents: their
  // readers' lines say nothing of the user's document.
  auto discard = [](const qal3_message&) {};
  const ThreadMessageSink quiet(discard);

  records::OwnedList<R> list;
  {
    std::string copy(bytes);
    if (D::read_text(copy.data(), copy.size(), &list.items, options) != 0)
      return refuse("cannot be read as a " + std::string(D::document));
  }
  check::Document tree(file, bytes);
  std::vector<check::Finding> findings;
  if (!tree.read(findings) || !tree.root()) {
    for (const check::Finding& f : findings)
      if (f.severity == check::Severity::kError) return refuse(f.message, {f.line, f.column});
    return refuse("cannot be read");
  }
  // The elements that hold records: those the writer writes for records
  // (its own text, scanned), less what it writes besides (the date).
  std::string old_text, empty_text;
  std::vector<R*> none;
  if (D::write_text(&list.items, &old_text, options) != 0 || D::write_text(&none, &empty_text, options) != 0)
    return refuse("the records cannot be written");
  std::set<std::string_view> record_names;
  const std::vector<std::string_view> other = detail::top_names(empty_text);
  const std::set<std::string_view> other_names(other.begin(), other.end());
  std::size_t written = 0;
  for (std::string_view n : detail::top_names(old_text))
    if (!other_names.count(n)) record_names.insert(n), ++written;
  std::vector<check::Node> elements;
  for (const check::Node c : tree.root().children())
    if (record_names.count(c.name())) elements.push_back(c);
  if (elements.size() != list.items.size())
    return refuse(std::to_string(elements.size()) + " elements hold records and the reader keeps " +
                  std::to_string(list.items.size()) + " (records merged or dropped): edit the document by hand");
  if (written != list.items.size())
    return refuse("the writer writes " + std::to_string(written) + " of the " + std::to_string(list.items.size()) +
                  " records (it leaves out a repeated name): edit the document by hand");

  // The records the selector picks.
  std::vector<std::size_t> picked;
  if (request.action != Action::add) {
    std::size_t position = 0;
    std::vector<std::string> pairs;
    std::string why;
    if (!detail::parse_selector(request.selector, position, pairs, why)) return refuse(why);
    if (position) {
      if (position > list.items.size())
        return refuse("no record " + std::to_string(position) + ": the document holds " +
                      std::to_string(list.items.size()));
      picked.push_back(position - 1);
    } else {
      // A value matches when a new record given it holds what the record holds.
      records::OwnedList<R> probe;
      R& p = probe.add();
      std::vector<std::string> names;
      for (const std::string& pair : pairs) {
        std::string f, v;
        detail::split(pair, f, v);
        if (!assign(p, f, v, why)) return refuse("selector " + pair + ": " + why);
        names.push_back(f);
      }
      for (std::size_t i = 0; i < list.items.size(); ++i) {
        bool all = true;
        for (const std::string& f : names) {
          R& q = *list.items[i];
          bool same = true;
          records::for_each_field<R>([&](const auto& field) {
            using V = typename std::decay_t<decltype(field)>::template type<R>;
            constexpr records::Shape shape = records::shape_of<V>();
            if constexpr (shape == records::Shape::reals) {
              const int k = detail::parameter_index(f);
              if (k >= 0 && k < static_cast<int>(sizeof(V) / sizeof(float)))
                same = same && std::memcmp(&field.of(q)[k], &field.of(p)[k], sizeof(float)) == 0;
            } else if constexpr (shape == records::Shape::number || shape == records::Shape::real) {
              if (f == field.name) same = same && field.of(q) == field.of(p);
            } else if constexpr (shape == records::Shape::text) {
              if (f == field.name) same = same && std::strcmp(field.of(q), field.of(p)) == 0;
            } else if constexpr (shape == records::Shape::string) {
              if (f == field.name) same = same && field.of(q) == field.of(p);
            }
          });
          all = all && same;
        }
        if (all) picked.push_back(i);
      }
      if (picked.empty()) return refuse("no record matches " + request.selector);
    }
    if (picked.size() > 1 && !request.all) {
      std::string lines;
      for (std::size_t i : picked)
        lines += "\n  record " + std::to_string(i + 1) + " at line " + std::to_string(elements[i].tag().line);
      return refuse(std::to_string(picked.size()) + " records match " + request.selector +
                    " (give --all to edit each, or a position):" + lines);
    }
  }

  // The picked records as the writer writes them, before and after.
  const auto write_picked = [&](std::string& text) {
    std::vector<R*> some;
    for (std::size_t i : picked) some.push_back(i < list.items.size() ? list.items[i] : list.items.back());
    return D::write_text(&some, &text, options) == 0;
  };
  std::string before_text, after_text;
  if (request.action == Action::set && !write_picked(before_text)) return refuse("the records cannot be written");
  // What the document's format cannot hold of the picked records: an edit
  // may not add to it.
  const auto picked_losses = [&] {
    std::vector<R*> some;
    for (std::size_t i : picked)
      if (i < list.items.size()) some.push_back(list.items[i]);
    return records::losses(some, options);
  };
  const std::vector<records::Loss> lost_before =
      request.action == Action::set ? picked_losses() : std::vector<records::Loss>();

  // The records as they are to be: an added one is a new record at the end.
  if (request.action == Action::add) {
    picked.push_back(list.items.size());
    list.add();
  }
  for (const std::string& a : request.assignments) {
    std::string f, v, why;
    if (!detail::split(a, f, v)) return refuse("'" + a + "' is no FIELD=VALUE");
    if (request.action == Action::drop) continue;
    for (std::size_t i : picked)
      if (!assign(*list.items[i], f, v, why))
        return request.action == Action::add ? refuse(f + ": " + why) : refuse(f + ": " + why, elements[i].tag());
  }
  if constexpr (records::has_formats<R>::value) {
    if (request.action != Action::drop)
      for (const records::Loss& now_lost : picked_losses()) {
        std::size_t had = 0;
        for (const records::Loss& l : lost_before)
          if (std::string_view(l.field) == now_lost.field && std::string_view(l.where) == now_lost.where)
            had = l.records;
        if (now_lost.records > had) return refuse(records::loss_line<R>(now_lost, options));
      }
  }
  if (request.action == Action::drop) {
    std::vector<R*> kept, gone;
    for (std::size_t i = 0; i < list.items.size(); ++i)
      (std::find(picked.begin(), picked.end(), i) != picked.end() ? gone : kept).push_back(list.items[i]);
    list.items = kept;
    D::clean(&gone);
  }
  std::string new_text;
  if (D::write_text(&list.items, &new_text, options) != 0 ||
      (request.action != Action::drop && !write_picked(after_text)))
    return refuse("the records cannot be written");
  std::vector<check::Finding> ignored;
  check::Document before_tree("", before_text), after_tree("", after_text);
  std::vector<check::Node> was, now;
  if (request.action == Action::set) before_tree.read(ignored);
  if (request.action != Action::drop) after_tree.read(ignored);
  for (const auto& [t, nodes] :
       {std::pair<const check::Document*, std::vector<check::Node>*>{&before_tree, &was}, {&after_tree, &now}})
    if (t->root())
      for (const check::Node c : t->root().children())
        if (!other_names.count(c.name())) nodes->push_back(c);
  if ((request.action == Action::set && (was.size() != picked.size() || now.size() != picked.size())) ||
      (request.action == Action::add && now.size() != 1))
    return refuse("the writer does not write the records picked one for one: edit the document by hand");

  std::vector<Change> changes;
  std::string why;
  if (request.action == Action::drop) {
    for (std::size_t i : picked) changes.push_back(removal({bytes, elements[i]}));
  } else if (request.action == Action::set) {
    for (std::size_t k = 0; k < picked.size(); ++k)
      if (!record_changes({bytes, elements[picked[k]]}, {before_text, was[k]}, {after_text, now[k]}, changes, why))
        return refuse(why, elements[picked[k]].tag());
  } else {
    const std::string added =
        detail::without_defaults<R>(element_text({after_text, now.front()}), empty_text, *list.items.back(), options);
    if (!elements.empty()) {
      changes.push_back(insertion({bytes, elements.back()}, added, false));
    } else {
      const std::size_t end = tree.root().after_end_offset();
      const std::size_t close = end == std::string::npos ? end : bytes.rfind("</", end - 1);
      if (close == std::string::npos) return refuse("the root element has no end tag to add a record before");
      changes.push_back({close, close, added + line_end(bytes)});
    }
  }
  if (!applied(bytes, changes, out.document)) return refuse("the changes overlap");
  const std::string error = detail::new_error(bytes, out.document);
  if (!error.empty()) {
    out.document.clear();
    return refuse("check would refuse the result: " + error);
  }

  // The result must read back as the records now are.
  records::OwnedList<R> back;
  std::string copy = out.document, back_text;
  if (D::read_text(copy.data(), copy.size(), &back.items, options) != 0 ||
      D::write_text(&back.items, &back_text, options) != 0 || back_text != new_text) {
    out.document.clear();
    return refuse("the edit would not read back as asked: nothing written");
  }
  out.records = picked.size();
  return out;
}

}  // namespace qal3::edit

#endif  // QAL3_EDIT_RECORD_EDIT_H
