// Readers and writers of every document family, between the libraries'
// records and the Python records of qal3._records.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "chan_selector.h"
#include "common.h"
#include "messages.h"
#include "record_conversion.h"
#include "record_fields.h"

namespace qal3py {
namespace {

using namespace pybind11::literals;

// ---------------------------------------------------------------------------
// Sources: a path or a document held in a Python str.

struct Source {
  std::string path;  // file to read, when `text` is unused
  std::string text;  // the document, when `in_memory`
  bool in_memory = false;
  py::object label;  // the path as given, or None
};

// True when the file `path` does not exist.
bool missing(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) != 0 && errno == ENOENT;
}

// A path is a file system path: a "file:" URL that names no file is a
// missing file, as it is for the tool, never a URL for the parser to resolve.
std::string local_path(py::handle path, const char* field = "path") {
  std::string p = path_of(path, field);
  if (p.compare(0, 5, "file:") == 0 && missing(p)) {
    py::list messages;
    messages.append(records().attr("Message")("stderr", "error", path, 0, 0, "No such file or directory"));
    raise_error(p + ": no such file (paths are file system paths, not URLs)", 1, messages, path, true);
  }
  return p;
}

Source from_path(py::handle path) {
  Source s;
  s.path = local_path(path);
  s.label = py::reinterpret_borrow<py::object>(path);
  return s;
}

Source from_text(py::handle text) {
  Source s;
  s.text = document_of(text);
  s.in_memory = true;
  s.label = py::none();
  return s;
}

std::string name_of(const Source& s) { return s.in_memory ? "<string>" : s.path; }

// Runs the library call `call` with the GIL released: it touches no Python
// object (the message log it fills is the thread's own).
template <class Call>
auto without_gil(Call&& call) {
  const py::gil_scoped_release nogil;
  return call();
}

// ---------------------------------------------------------------------------
// Records to Python, made from the records' field tables.

template <class R>
py::object record_py(const R& record);

// One field's value.
struct ValuePy {
  Kind kind;

  template <class V>
  py::object integer(V v) const {
    return py::int_(qal3::records::number_value(kind, v));
  }
  py::object real(float v) const { return py::float_(v); }
  template <std::size_t N>
  py::object reals(const float (&v)[N]) const {
    py::list list;
    for (float x : v) list.append(real(x));
    return list;
  }
  template <std::size_t N>
  py::object text(const char (&v)[N]) const {
    return to_py(v, strnlen(v, N));
  }
  py::object string(const std::string& v) const { return to_py(v); }
  py::object texts(const std::vector<char*>& v) const {
    py::list list;
    for (const char* c : v) list.append(to_py(c));
    return list;
  }
  template <class T>
  py::object records(const std::vector<T*>& v) const {
    py::list list;
    for (const T* x : v)
      if (x) list.append(record_py(*x));
    return list;
  }
  template <class T>
  py::object record(const T& v) const {
    return record_py(v);
  }
};

// The qal3._records record of `record`; the counts of lists are left to
// the Python records, which count their lists.
template <class R>
py::object record_py(const R& record) {
  py::dict kw;
  qal3::records::for_each_field<R>([&](const auto& field) {
    if (!qal3::records::is_derived(field.kind))
      kw[field.name] = qal3::records::visit_value(field.of(record), ValuePy{field.kind});
  });
  return records().attr(qal3::records::Description<R>::name)(**kw);
}

// Ends a read: raises qal3.Error (qal3.FileNotFound for a missing file) when
// the reader failed, passes messages of a successful read on as warnings.
// Every line of a read from text names the text "<string>", also a line of a
// reader that read it through a memory file.
void conclude(const MessageLog& log, bool failed, int code, const Source& s, const char* what) {
  py::list messages = log.records(s.in_memory ? py::str("<string>") : py::str(s.path));
  if (s.in_memory) {
    const py::object replace = py::module_::import("dataclasses").attr("replace");
    for (std::size_t i = 0; i < messages.size(); ++i)
      if (!messages[i].attr("document").is_none()) messages[i] = replace(messages[i], "document"_a = "<string>");
  }
  if (failed)
    raise_error(name_of(s) + ": " + what + " could not be read", code, messages, s.label,
                !s.in_memory && missing(s.path));
  warn_messages(messages);
}

// A writer's result: the document, or qal3.Error.
py::str written(const MessageLog& log, int code, const std::string& doc, const char* what) {
  const py::list messages = log.records(py::none());
  if (code != 0) raise_error(std::string(what) + " could not be written", code, messages, py::none());
  // The writers put out ASCII (other characters as references); Latin-1
  // keeps any byte as it is.
  return py::reinterpret_steal<py::str>(
      PyUnicode_DecodeLatin1(doc.data(), static_cast<Py_ssize_t>(doc.size()), nullptr));
}

using qal3::records::Description;
using qal3::records::Options;
using qal3::records::OwnedList;

// The records of the family of R read from `s`.
template <class R>
py::list read_records(Source s, const Options& o = {}) {
  OwnedList<R> list;
  MessageLog log;
  const int rc = without_gil([&] {
    return s.in_memory ? Description<R>::read_text(&s.text[0], s.text.size(), &list.items, o)
                       : Description<R>::read_file(&s.path[0], &list.items, o);
  });
  conclude(log, rc != 0, rc, s, Description<R>::document);
  py::list out;
  for (const R* r : list.items)
    if (r) out.append(record_py(*r));
  return out;
}

// What a written list leaves to say: the channel description writer writes
// a property once, the first description that has it; nothing for others.
template <class R>
void after_writing(const std::vector<R*>&) {}
void after_writing(const std::vector<chan_descr_2010*>& list) {
  std::set<std::string> seen, repeated;
  std::string names;
  for (const chan_descr_2010* c : list) {
    const std::string prop(c->prop_name, strnlen(c->prop_name, sizeof c->prop_name));
    if (!seen.insert(prop).second && repeated.insert(prop).second) names += (names.empty() ? "'" : ", '") + prop + "'";
  }
  if (!repeated.empty())
    warn("repeated propert" + std::string(repeated.size() == 1 ? "y" : "ies") + " " + names +
             ": only the first description of each is written, the others are dropped",
         py::none());
}

constexpr char kDateRange[] = "date must lie within the years 1970 to 9999 (UTC)";

// The time a write stamps: `date` (an int: seconds since 1970-01-01 UTC),
// -1 (a time the clock refuses) when time_t cannot hold it. TypeError for
// anything but an int, ValueError beyond what a long long holds.
time_t write_time(const py::object& date) {
  if (!PyLong_Check(date.ptr()) && !PyIndex_Check(date.ptr()))
    throw py::type_error("date must be an int (seconds since 1970-01-01 UTC) or None, not " +
                         std::string(py::str(py::type::of(date).attr("__name__"))));
  const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(date.ptr()));
  if (!index) throw py::error_already_set();
  int overflow = 0;
  const long long seconds = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (seconds == -1 && PyErr_Occurred()) throw py::error_already_set();
  if (overflow != 0) throw py::value_error(kDateRange);
  const auto t = static_cast<time_t>(seconds);
  return static_cast<long long>(t) == seconds ? t : -1;
}

// A new record at the end of `list`; the list grows geometrically, so
// that n records cost O(n) (OwnedList::add alone reserves one more each).
template <class R>
R& appended(OwnedList<R>& list) {
  room_for_one(list.items);
  return list.add();
}

// The document of the family of R of the Python records `items`; what a
// refused value leaves behind goes with the list. The document is stamped
// with `date` (see write_time), or the system clock's time when it is None.
// A record refused is named by its place in `items`, the argument `what`.
// What the records lose in the format written (records::losses) is said in
// a qal3.Warning per field.
template <class R>
py::str write_records(py::iterable items, const char* what, const py::object& date, const Options& o = {}) {
  const time_t when = date.is_none() ? 0 : write_time(date);
  OwnedList<R> list;
  for (py::handle x : items)
    filling(std::string(what) + "[" + std::to_string(list.items.size()) + "]", [&] { fill_record(x, appended(list)); });
  std::string doc;
  py::str out;
  {
    const qal3::ThreadClock clock(date.is_none() ? nullptr : &when);
    if (!clock.ok()) throw py::value_error(kDateRange);
    MessageLog log;
    const int rc = without_gil([&] { return Description<R>::write_text(&list.items, &doc, o); });
    out = written(log, rc, doc, Description<R>::document);
  }
  after_writing(list.items);
  if constexpr (qal3::records::has_formats<R>::value)
    for (const qal3::records::Loss& loss : qal3::records::losses(list.items, o))
      warn(qal3::records::loss_line<R>(loss, o), py::none());
  return out;
}

bool daqvars(const std::string& format) {
  if (format == "chandescr") return false;
  if (format == "daqvars") return true;
  throw py::value_error("format must be 'chandescr' or 'daqvars', not '" + format + "'");
}

bool layout_2010(const std::string& layout) {
  if (layout == "2010") return true;
  if (layout == "old") return false;
  throw py::value_error("layout must be '2010' or 'old', not '" + layout + "'");
}

using Env = qal3_env_index_dictionary_entry;
using Env2010 = qal3_env_index_dictionary_entry_2010;

py::list read_envdict(Source s, const std::string& layout) {
  return layout_2010(layout) ? read_records<Env2010>(std::move(s)) : read_records<Env>(std::move(s));
}

py::str write_envdict(py::iterable entries, const std::string& layout, const py::object& date) {
  return layout_2010(layout) ? write_records<Env2010>(entries, "entries", date)
                             : write_records<Env>(entries, "entries", date);
}

// ---------------------------------------------------------------------------
// The channel selector.

// One source (a path, or a document with `documents`) or an iterable of them.
py::list source_list(py::handle sources, bool documents) {
  const bool one = PyUnicode_Check(sources.ptr()) || PyBytes_Check(sources.ptr()) ||
                   (!documents && PyObject_HasAttrString(sources.ptr(), "__fspath__"));
  if (one) {
    py::list l;
    l.append(sources);
    return l;
  }
  if (!py::isinstance<py::iterable>(sources))
    throw py::type_error(std::string(documents ? "documents" : "sources") +
                         " must be a path or document, or an iterable of them");
  return py::list(py::reinterpret_borrow<py::object>(sources));
}

class Selector {
 public:
  Selector(py::handle sources, bool documents, bool shift) : documents_(documents), shift_(shift) {
    sel_.set_shift(shift);
    sel_.change_mode(documents ? 1 : 0);
    std::vector<std::string> texts;
    py::list labels;
    for (py::handle s : source_list(sources, documents)) {
      texts.push_back(documents ? document_of(s, "sources") : local_path(s, "sources"));
      labels.append(s);
    }
    labels_ = labels;
    std::vector<char*> args;
    for (std::string& t : texts) args.push_back(&t[0]);
    int total = 0;
    MessageLog log;
    const bool failed = without_gil([&] { return sel_.set_descriptions(&args, &total); });
    const py::list messages = log.records(documents ? py::object(py::str("<string>")) : py::object(py::none()));
    const bool absent = !documents && std::any_of(texts.begin(), texts.end(), missing);
    if (failed) raise_error("channel descriptions could not be loaded", 1, messages, labels, absent);
    warn_messages(messages);
  }

  int size() { return sel_.size(); }
  bool find_channel(int ev_type, const std::string& chan) { return sel_.find_channel(ev_type, arg(chan)); }
  unsigned int get_event_type(const std::string& chan) {
    const MessageLog quiet;  // "NOT FOUND" goes to the console otherwise
    const int t = sel_.get_event_type(arg(chan));
    return static_cast<unsigned int>(t);
  }
  int get_data_type(const std::string& chan) { return sel_.get_data_type(arg(chan)); }
  py::object get_channel(int num) { return text_or_none(sel_.get_channel(num)); }
  py::object get_prop(int num) { return text_or_none(sel_.get_prop(num)); }
  int is_channel_slow(int num) { return sel_.is_channel_slow(num); }
  int is_channel_ml(int num) { return sel_.is_channel_ml(num); }
  int get_subchannels(int num) { return sel_.get_subchannels(num); }

  // What a pickle keeps: the sources as given (paths are read again where
  // it is loaded) and the options.
  py::tuple state() const { return py::make_tuple(labels_, documents_, shift_); }

  std::string repr() {
    std::string out = "ChanSelector(";
    if (documents_)
      out += std::to_string(labels_.size()) + " document" + (labels_.size() == 1 ? "" : "s");
    else
      out += std::string(py::repr(labels_));
    out += ", channels=" + std::to_string(size());
    if (documents_) out += ", documents=True";
    if (!shift_) out += ", shift=False";
    return out + ")";
  }

 private:
  // `s` as the selector's C string argument (named `field`).
  char* arg(const std::string& s, const char* field = "chan") {
    refuse_nul(s, field);
    scratch_ = s;
    return &scratch_[0];
  }
  static py::object text_or_none(const char* s) { return s ? py::object(to_py(s)) : py::object(py::none()); }

  chan_selector sel_;
  std::string scratch_;
  bool documents_;
  bool shift_;
  py::list labels_;
};

// Adds the Python record's fields of R, in the records' order, under its class name.
template <class R>
void add_field_names(py::dict& d) {
  py::list names;
  qal3::records::for_each_field<R>([&](const auto& field) {
    if (!qal3::records::is_derived(field.kind)) names.append(field.name);
  });
  d[qal3::records::Description<R>::name] = py::tuple(names);
}

py::dict record_fields() {
  py::dict d;
  qal3::records::for_each_family_record([&](auto tag) { add_field_names<typename decltype(tag)::type>(d); });
  return d;
}

// read_<name>, parse_<name> and write_<name> of a family whose functions
// take no options (`items`: the writer's argument).
template <class R>
void bind_family(py::module_& m, const std::string& name, const char* items, const char* read_doc,
                 const std::string& parse_doc, const char* write_doc) {
  m.def(("read_" + name).c_str(), [](py::object p) { return read_records<R>(from_path(p)); }, py::arg("path"),
        read_doc);
  m.def(("parse_" + name).c_str(), [](py::object t) { return read_records<R>(from_text(t)); }, py::arg("text"),
        parse_doc.c_str());
  m.def(("write_" + name).c_str(),
        [items](py::iterable e, const py::object& d) { return write_records<R>(e, items, d); }, py::arg(items),
        py::kw_only(), py::arg("date") = py::none(), write_doc);
}

}  // namespace

// The float the real field `field` of R's records (R named `record`) holds
// for `v`, checked as the writers' conversion checks it (real_value), a
// refusal naming `shown`; false when R has no such real field.
template <class R>
bool real_of(const std::string& record, const std::string& field, py::handle v, const char* shown, float& out) {
  bool found = false;
  if (record != qal3::records::Description<R>::name) return false;
  qal3::records::for_each_field<R>([&](const auto& f) {
    using V = typename std::decay_t<decltype(f)>::template type<R>;
    constexpr auto shape = qal3::records::shape_of<V>();
    if constexpr (shape == qal3::records::Shape::real || shape == qal3::records::Shape::reals)
      if (field == f.name) {
        out = real_value(v, f.bounds, shown);
        found = true;
      }
  });
  return found;
}

// _core._real: see its docstring.
float real_field(const std::string& record, const std::string& field, py::handle v, py::object shown) {
  const std::string name = shown.is_none() ? field : std::string(py::str(shown));
  bool found = false;
  float out = 0;
  qal3::records::for_each_family_record(
      [&](auto tag) { found = real_of<typename decltype(tag)::type>(record, field, v, name.c_str(), out) || found; });
  if (!found) throw py::key_error(record + " has no float field " + field);
  return out;
}

// ---------------------------------------------------------------------------

void bind_documents(py::module_& m) {
  using Ev = qal3_ev_entry;
  using Chan = chan_descr_2010;
  using Trigger = qal3_user_case_trigger;
  using Feature = QAL3GigEFeature;
  static const char kText[] =
      " A str is text: its characters are read as they are, whatever encoding its XML declaration "
      "names. bytes are read as a file's content, decoded as their declaration says.";
  const auto parse_doc = [](const char* what) { return std::string(what) + kText; };

  m.def(
      "_clock",
      [] {
        time_t now = 0;
        qal3_get_thread_clock(&now);
        return static_cast<long long>(now);
      },
      "The calling thread's clock, as the readers stamp the time of each record they make.");
  m.def("_real", &real_field, py::arg("record"), py::arg("field"), py::arg("value"), py::arg("shown") = py::none(),
        "The float32 value the float field `field` (or an entry of it) of the record class `record` holds for the "
        "number `value`, as a float. ValueError, naming `shown` (else the field) and the value, when the field "
        "cannot hold it: beyond the float range, a number other than 0 that becomes 0, outside the field's bounds "
        "(infinities and NaN are held); TypeError when it is no number; KeyError when there is no such field.");
  m.def("record_fields", &record_fields,
        "The fields of each record class of qal3._records, as the libraries' records name them: "
        "{class name: (field name, ...)}.");
  bind_family<Ev>(m, "evlist", "entries", "Reads the event list (BMR) in the file `path`: a list of EvEntry.",
                  parse_doc("Reads the event list held in `text` (str or bytes)."),
                  "The event list document of `entries`.");

  m.def(
      "read_chan",
      [](py::object p, bool s, bool m) {
        return read_records<Chan>(from_path(p), {s, m});
      },
      py::arg("path"), py::kw_only(), py::arg("shift") = false, py::arg("merge") = false,
      "Reads channel descriptions (CHANDESCRIPTIONS or DAQvariables): a list of ChanDescr.");
  m.def(
      "parse_chan",
      [](py::object t, bool s, bool m) {
        return read_records<Chan>(from_text(t), {s, m});
      },
      py::arg("text"), py::kw_only(), py::arg("shift") = false, py::arg("merge") = false,
      parse_doc("Reads channel descriptions held in `text` (str or bytes).").c_str());
  m.def(
      "write_chan",
      [](py::iterable c, const std::string& f, const py::object& d) {
        return write_records<Chan>(c, "chans", d, {false, false, daqvars(f)});
      },
      py::arg("chans"), py::kw_only(), py::arg("format") = "chandescr", py::arg("date") = py::none(),
      "The channel description document of `chans`; a property is written once: repeated "
      "ones are dropped (the first wins) and named in a qal3.Warning. A field the format cannot hold "
      "for some of them (DAQvariables: stream, count, dtype, statistics, ...) is named in a qal3.Warning "
      "with the number of descriptions that lose it.");

  m.def(
      "read_envdict", [](py::object p, const std::string& l) { return read_envdict(from_path(p), l); }, py::arg("path"),
      py::kw_only(), py::arg("layout") = "2010", "Reads an environment index dictionary: a list of EnvIndexEntry.");
  m.def(
      "parse_envdict", [](py::object t, const std::string& l) { return read_envdict(from_text(t), l); },
      py::arg("text"), py::kw_only(), py::arg("layout") = "2010",
      parse_doc("Reads the environment index dictionary held in `text` (str or bytes).").c_str());
  m.def("write_envdict", &write_envdict, py::arg("entries"), py::kw_only(), py::arg("layout") = "2010",
        py::arg("date") = py::none(), "The environment index dictionary document of `entries`.");

  bind_family<Trigger>(m, "triggers", "triggers", "Reads a trigger list: a list of Trigger.",
                       parse_doc("Reads the trigger list held in `text` (str or bytes)."),
                       "The trigger list document of `triggers`.");

  bind_family<Feature>(m, "gige", "features", "Reads a GigE camera feature file: a list of GigEFeature.",
                       parse_doc("Reads the GigE feature file held in `text` (str or bytes)."),
                       "The GigE feature file of `features`.");

  py::class_<Selector>(m, "ChanSelector", R"(The channel selector over channel description files.

ChanSelector(path) reads one file, ChanSelector([path, ...]) several; with
documents=True the sources are documents (str or bytes) instead of paths.
shift=True (the default) shifts event types as the selector does in the DAQ.)")
      .def(py::init<py::handle, bool, bool>(), py::arg("sources"), py::kw_only(), py::arg("documents") = false,
           py::arg("shift") = true, "Loads the channel descriptions of `sources`; qal3.Error when they cannot be read.")
      .def("__len__", method(&Selector::size))
      .def("__repr__", method(&Selector::repr))
      .def(py::pickle([](py::handle self) { return made<Selector>(self).state(); },
                      [](const py::tuple& t) {
                        if (t.size() != 3) throw std::runtime_error("not a pickled qal3.ChanSelector");
                        return std::make_unique<Selector>(t[0], t[1].cast<bool>(), t[2].cast<bool>());
                      }))
      .def("size", method(&Selector::size), "The number of channels.")
      .def("find_channel", method(&Selector::find_channel), py::arg("ev_type"), py::arg("chan"),
           "True when events of `ev_type` carry `chan` (also when nothing is loaded).")
      .def("get_event_type", method(&Selector::get_event_type), py::arg("chan"),
           "The event type mask of channel `chan`; 0 when nothing matches.")
      .def("get_data_type", method(&Selector::get_data_type), py::arg("chan"),
           "The data type of the channel whose DAQ name is `chan`, else 0 (signed, as the "
           "channel description writer writes it).")
      .def("get_channel", method(&Selector::get_channel), py::arg("num"), "The DAQ name of channel `num`, or None.")
      .def("get_prop", method(&Selector::get_prop), py::arg("num"), "The property name of channel `num`, or None.")
      .def("is_channel_slow", method(&Selector::is_channel_slow), py::arg("num"),
           "1 when channel `num` is slow (BOR, EOR, ENV or UPD), 0 when not, -1 when out of range or "
           "without event type.")
      .def("is_channel_ml", method(&Selector::is_channel_ml), py::arg("num"),
           "1 when channel `num` is an ML channel, 0 when not, -1 as for is_channel_slow.")
      .def("get_subchannels", method(&Selector::get_subchannels), py::arg("num"),
           "1 for a slow channel, else the number of dimensions of channel `num`; 0 when out of range.");
}

}  // namespace qal3py
