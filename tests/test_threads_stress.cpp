// Every family at once in several threads: readers over memory and files,
// writers to files and strings, printers, the camera feature reader, the
// description extractor and channel selector, and trigger evaluation. Each
// thread has its own lists, records and objects; every result must equal
// the one a single thread computed before, and the lines printed on
// standard output and error by all threads together must be those of the
// single-thread runs, as many times as the calls were made.
//
// QAL3_STRESS_ROUNDS sets the rounds per thread (each round runs every
// job once), QAL3_STRESS_THREADS the number of threads; slow runs (an
// emulator, a sanitizer) may lower the rounds. The counts used are printed.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>
#include <xercesc/util/PlatformUtils.hpp>

#include "chan_selector.h"
#include "descr_extractor.h"
#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "qal3.hpp"
#include "qal3_evutl_blocks.h"
#include "qal3_gige_descr.h"
#include "test_util.h"
#include "user_case_trigger.h"

namespace {

constexpr int kVariants = 4;  // documents per family, differing in their names

int env_count(const char* name, int fallback) {
  const char* v = std::getenv(name);
  if (!v || !*v) return fallback;
  const int n = std::atoi(v);
  return n > 0 ? n : fallback;
}

std::string example(const char* name) {
  const std::string text = testutil::read_file(std::string(QAL3_EXAMPLES_DIR) + "/" + name);
  if (text.empty()) throw std::runtime_error(std::string("missing example ") + name);
  return text;
}

// `text` with every `token` followed by `insert`.
std::string inserted_after(std::string text, const std::string& token, const std::string& insert) {
  for (std::size_t at = text.find(token); at != std::string::npos; at = text.find(token, at)) {
    at += token.size();
    text.insert(at, insert);
    at += insert.size();
  }
  return text;
}

// Variant v of a document: names after `token` get the prefix "V<v>_"
// (variant 0 is the document itself).
std::vector<std::string> variants(const std::string& doc, const std::string& token) {
  std::vector<std::string> out{doc};
  for (int v = 1; v < kVariants; ++v) out.push_back(inserted_after(doc, token, "V" + std::to_string(v) + "_"));
  return out;
}

// A scratch directory, removed with what it holds.
class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = "/tmp/qal3-threads-XXXXXX";
    if (!mkdtemp(&tmpl[0])) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~ScratchDir() {
    if (DIR* d = opendir(path_.c_str())) {
      while (const dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
          unlink((path_ + "/" + e->d_name).c_str());
      }
      closedir(d);
    }
    rmdir(path_.c_str());
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string write(const std::string& name, const std::string& content) const {
    const std::string p = path_ + "/" + name;
    FILE* f = std::fopen(p.c_str(), "w");
    if (!f || std::fwrite(content.data(), 1, content.size(), f) != content.size() || std::fclose(f) != 0)
      throw std::runtime_error("cannot write " + p);
    return p;
  }
  std::string path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// `text` with what differs between runs for reasons other than threads
// replaced: the time stamps of a written document and of trigger records
// read without one, and the thread's tag in the scratch file names
// ("out-<tag>-").
std::string normalised(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, 9, "<isodate>") == 0) {
      const std::size_t end = text.find("</isodate>", i);
      if (end != std::string::npos) {
        out += "<isodate/>";
        i = end + 10;
        continue;
      }
    }
    if (text.compare(i, 15, "Creation time=\"") == 0) {  // the time a record was read
      std::size_t k = i + 15;
      while (k < text.size() && std::isdigit(static_cast<unsigned char>(text[k])) != 0) ++k;
      out += "Creation time=\"T";
      i = k;
      continue;
    }
    if (text.compare(i, 4, "out-") == 0) {
      std::size_t k = i + 4;
      while (k < text.size() && (std::isalnum(static_cast<unsigned char>(text[k])) != 0)) ++k;
      if (k > i + 4 && k < text.size() && text[k] == '-') {
        out += "out-N-";
        i = k + 1;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string float_bits(float f) {
  std::uint32_t u = 0;
  std::memcpy(&u, &f, sizeof u);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08" PRIx32, u);
  return buf;
}

std::string file_text(const std::string& path) { return normalised(testutil::read_file(path)); }

// ------------------------------------------------------------------ lists

struct ChanList {
  qal3::List<chan_descr_2010> owned;
  std::vector<chan_descr_2010*>& v = owned.records();
  std::string xml(int format = 0) {
    std::string s;
    const int rc = dump_chan_desr(&v, nullptr, 2, format, -1, &s);
    return "rc=" + std::to_string(rc) + "\n" + normalised(s);
  }
};

struct EvList {
  qal3::List<qal3_ev_entry> owned;
  std::vector<qal3_ev_entry*>& v = owned.records();
  std::string text() const {
    std::ostringstream o;
    for (const qal3_ev_entry* e : v) {
      o << "ev " << e->evtype << " mask " << e->tmask << " prio " << e->priority << " time " << e->min_ev_time.timeup
        << "." << e->min_ev_time.timelow << "\n";
      if (!e->sb_list) continue;
      for (const qal3_ev_sb_list* sb : *e->sb_list) {
        o << " sb " << sb->sb_list << ":";
        if (sb->ch_list)
          for (const char* ch : *sb->ch_list) o << " " << ch;
        o << "\n";
      }
    }
    return o.str();
  }
};

template <class Entry>
struct EnvList {
  qal3::List<Entry> owned;
  std::vector<Entry*>& v = owned.records();
};

struct TriggerList {
  qal3::List<qal3_user_case_trigger> owned;
  std::vector<qal3_user_case_trigger*>& v = owned.records();
  std::string xml() {
    std::string s;
    const int rc = dump_user_trigger_list(&v, nullptr, USER_TRIG_DUMP_XML_STRING, -1, &s);
    return "rc=" + std::to_string(rc) + "\n" + normalised(s);
  }
};

struct GigEList {
  qal3::List<QAL3GigEFeature> owned;
  std::vector<QAL3GigEFeature*>& v = owned.records();
  std::string text() const {
    std::string s;
    for (const QAL3GigEFeature* f : v)
      s +=
          std::to_string(f->type) + "|" + f->name + "|" + f->extension + "|" + f->tooltip + "|" + f->description + "\n";
    return s;
  }
};

std::string rc(int r) { return "rc=" + std::to_string(r) + "\n"; }

// ------------------------------------------------------------------ the blocks

// Channel data the triggers are evaluated on, shared read-only by all
// threads: a two-subchannel spectrum and a status word per event.
class Events {
 public:
  static constexpr int kCount = 6;

  Events() {
    for (int e = 0; e < kCount; ++e) {
      std::vector<float> s0(10), s1(24);
      for (std::size_t i = 0; i < s0.size(); ++i) s0[i] = static_cast<float>((i * (e + 3)) % 7) * 0.75f;
      for (std::size_t i = 0; i < s1.size(); ++i) s1[i] = static_cast<float>((i + e) % 5) - 1.5f;
      const qal3_spect_header_2010 heads[2] = {{0.0f, 1.0f, 10, 1, 1.0f}, {100.0f, 0.5f, 24, 1, 1.0f}};
      const float* samples[2] = {s0.data(), s1.data()};
      spectra_.push_back(qal3_evutl_make_spectrum("BEAM/Current", QAL3_DATA_SPECTRUM, 2, heads, samples));
      const float status = static_cast<float>(e % 8);
      status_.push_back(qal3_evutl_make_namval("VAC/Status", 1, &status));
    }
  }
  ~Events() {
    for (auto* b : spectra_) qal3_evutl_free_block(b);
    for (auto* b : status_) qal3_evutl_free_block(b);
  }
  Events(const Events&) = delete;
  Events& operator=(const Events&) = delete;

  qal3_serv_block_subhead_2010* block(int event, const qal3_user_case_trigger& t) const {
    const bool status = std::strncmp(t.channel, "VAC", 3) == 0;
    return (status ? status_ : spectra_)[static_cast<std::size_t>(event)];
  }

 private:
  std::vector<qal3_serv_block_subhead_2010*> spectra_;
  std::vector<qal3_serv_block_subhead_2010*> status_;
};

// ------------------------------------------------------------------ the jobs

struct Job {
  const char* name;
  int documents;  // documents read per run
  // Result of one run on variant `v`; `tag` names the thread's own files.
  std::function<std::string(int v, const std::string& tag)> run;
};

class Corpus {
 public:
  explicit Corpus(const ScratchDir& dir) : dir_(dir) {
    chan_ = variants(example("chan_descriptions.xml"), "<PROP>");
    daqvars_ = variants(example("chan_daqvariables.xml"), "<PROP>");
    linac_ = variants(example("chan_select_linac.xml"), "<PROP>");
    extra_ = variants(example("chan_select_extra.xml"), "<PROP>");
    evlist_ = variants(example("evlist_basic.xml"), "<CHAN>");
    evmulti_ = variants(example("evlist_multi.xml"), "<SBLOCK>");
    envdict_ = variants(example("envdict.xml"), "<PROP>");
    // One more trigger, SUM, which prints what it adds up.
    std::string triggers = example("triggers.xml");
    const std::string sum =
        "<USERTRIGGER>\n<Chan name=\"BEAM/Current\" subchan=\"1\"/>\n"
        "<Function name=\"SUM\" start=\"100\" end=\"104\" incr=\"1\"/>\n<Operation name=\"TRUE\"/>\n"
        "</USERTRIGGER>\n";
    triggers.insert(triggers.rfind("</QAL3USERTRIGGERLIST>"), sum);
    triggers_ = variants(triggers, "Description text=\"");
    gige_ = variants(example("gige_camera.xml"), " Name=\"");
    for (int v = 0; v < kVariants; ++v) {
      const std::string n = std::to_string(v);
      chan_files_.push_back(dir.write("chan" + n + ".xml", chan_[v]));
      evlist_files_.push_back(dir.write("evlist" + n + ".xml", evmulti_[v]));
      envdict_files_.push_back(dir.write("envdict" + n + ".xml", envdict_[v]));
      trigger_files_.push_back(dir.write("triggers" + n + ".xml", triggers_[v]));
      gige_files_.push_back(dir.write("gige" + n + ".xml", gige_[v]));
    }
  }

  std::vector<Job> jobs() {
    std::vector<Job> j;
    add_chan_jobs(j);
    add_evlist_jobs(j);
    add_envdict_jobs(j);
    add_trigger_jobs(j);
    add_gige_jobs(j);
    add_selection_jobs(j);
    return j;
  }

 private:
  static char* text(std::string& s) { return &s[0]; }
  std::string out(const std::string& tag, const char* job) const { return dir_.path("out-" + tag + "-" + job); }

  void add_chan_jobs(std::vector<Job>& j) {
    j.push_back({"chan read memory", 1, [this](int v, const std::string&) {
                   std::string doc = chan_[v];
                   ChanList l;
                   const int r = parse_descr_list_read(text(doc), &l.v, true, false);
                   return rc(r) + l.xml();
                 }});
    j.push_back({"chan read daqvariables", 1, [this](int v, const std::string&) {
                   std::string doc = daqvars_[v];
                   ChanList l;
                   const int r = parse_descr_list_read(text(doc), &l.v, false, true);
                   return rc(r) + l.xml(1);
                 }});
    j.push_back({"chan read file", 1, [this](int v, const std::string&) {
                   std::string path = chan_files_[v];
                   ChanList l;
                   const int r = parse_descr_list_readf(text(path), &l.v, true, false);
                   return rc(r) + l.xml();
                 }});
    j.push_back({"chan write files", 1, [this](int v, const std::string& tag) {
                   std::string doc = chan_[v];
                   ChanList l;
                   std::string r = rc(parse_descr_list_read(text(doc), &l.v, true, false));
                   for (int mode = 1; mode <= 3; ++mode) {
                     std::string path = out(tag, "chan.txt");
                     r += rc(dump_chan_desr(&l.v, text(path), mode, 1));
                     r += file_text(path);
                   }
                   return r;
                 }});
    j.push_back({"chan print", 1, [this](int v, const std::string&) {
                   std::string doc = chan_[v];
                   ChanList l;
                   const int r = parse_descr_list_read(text(doc), &l.v, false, false);
                   print_qal3_chan_descr(&l.v);
                   return rc(r);
                 }});
  }

  void add_evlist_jobs(std::vector<Job>& j) {
    j.push_back({"evlist read memory", 1, [this](int v, const std::string&) {
                   std::string doc = evlist_[v];
                   EvList l;
                   const int r = qal3_parse_ev_list_read(text(doc), &l.v);
                   return rc(r) + l.text();
                 }});
    j.push_back({"evlist read file and print", 1, [this](int v, const std::string&) {
                   std::string path = evlist_files_[v];
                   EvList l;
                   const int r = qal3_parse_ev_list_readf(text(path), &l.v);
                   qal3_print_ev_list(&l.v);
                   return rc(r) + l.text();
                 }});
  }

  void add_envdict_jobs(std::vector<Job>& j) {
    j.push_back({"envdict read memory, write string", 1, [this](int v, const std::string&) {
                   std::string doc = envdict_[v];
                   EnvList<qal3_env_index_dictionary_entry_2010> l;
                   std::string s;
                   const int r = parse_env_index_dict_list_read_2010(text(doc), &l.v);
                   const int w = dump_env_index_dict_2010(&l.v, nullptr, 3, -1, &s);
                   return rc(r) + rc(w) + normalised(s);
                 }});
    j.push_back({"envdict read file, write file, print", 1, [this](int v, const std::string& tag) {
                   std::string path = envdict_files_[v];
                   EnvList<qal3_env_index_dictionary_entry> l;
                   std::string r = rc(parse_env_index_dict_readf(text(path), &l.v));
                   std::string to = out(tag, "env.xml");
                   r += rc(dump_env_index_dict(&l.v, text(to), 2, -1, nullptr));
                   r += file_text(to);
                   r += rc(dump_env_index_dict(&l.v, nullptr, 2, -1, nullptr));
                   return r;
                 }});
  }

  void add_trigger_jobs(std::vector<Job>& j) {
    j.push_back({"trigger list read memory, write string", 1, [this](int v, const std::string&) {
                   std::string doc = triggers_[v];
                   TriggerList l;
                   const bool r = parse_trigger_list_read(text(doc), &l.v);
                   return rc(r) + l.xml();
                 }});
    j.push_back({"trigger list read file, write file, print", 1, [this](int v, const std::string& tag) {
                   std::string path = trigger_files_[v];
                   TriggerList l;
                   std::string r = rc(parse_trigger_list_readf(text(path), &l.v));
                   std::string to = out(tag, "trig.xml");
                   r += rc(dump_user_trigger_list(&l.v, text(to), USER_TRIG_DUMP_XML_FILE, -1, nullptr));
                   r += file_text(to);
                   r += rc(dump_user_trigger_list(&l.v, nullptr, USER_TRIG_DUMP_TO_SCREEN, -1, nullptr));
                   return r;
                 }});
    j.push_back({"trigger evaluation", 1, [this](int v, const std::string&) {
                   std::string doc = triggers_[v];
                   TriggerList l;
                   std::string r = rc(parse_trigger_list_read(text(doc), &l.v));
                   for (int e = 0; e < Events::kCount; ++e) {
                     for (qal3_user_case_trigger* t : l.v) {
                       r += std::to_string(qal3_is_trigger_on(events_.block(e, *t), t));
                       r += t->fresult ? " " + float_bits(*t->fresult) : std::string(" -");
                       r += e + 1 < Events::kCount ? "," : ";";
                     }
                   }
                   // The composed help texts live in buffers of each thread.
                   for (const qal3_user_case_trigger* t : l.v) {
                     r += qal3_get_function_help(t->function);
                     r += qal3_get_operation_help(t->operation);
                   }
                   return r;
                 }});
  }

  void add_gige_jobs(std::vector<Job>& j) {
    j.push_back({"gige read", 1, [this](int v, const std::string&) {
                   std::string path = gige_files_[v];
                   GigEList l;
                   const bool r = qal3_fill_gige_descr(text(path), &l.v);
                   return rc(r) + l.text();
                 }});
    j.push_back({"gige read and print", 1, [this](int v, const std::string&) {
                   std::string path = gige_files_[v];
                   GigEList l;
                   const bool r = qal3_fill_gige_descr(text(path), &l.v);
                   qal3_dump_gige_descr(&l.v);
                   return rc(r);
                 }});
  }

  void add_selection_jobs(std::vector<Job>& j) {
    j.push_back({"descr_extractor", 3, [this](int v, const std::string&) {
                   std::vector<std::string> docs{chan_[v], linac_[v], extra_[v]};
                   std::vector<char*> src;
                   for (std::string& d : docs) src.push_back(text(d));
                   descr_extractor x;
                   x.set_mode(1);
                   ChanList l;
                   int total = -1;
                   const bool r = x.get_descriptions(&src, &total, &l.v, true);
                   return rc(r) + rc(total) + l.xml();
                 }});
    j.push_back({"chan_selector", 2, [this](int v, const std::string&) {
                   std::vector<std::string> docs{linac_[v], extra_[v]};
                   std::vector<char*> src;
                   for (std::string& d : docs) src.push_back(text(d));
                   chan_selector sel;
                   sel.change_mode(1);
                   int total = -1;
                   std::string r = rc(sel.set_descriptions(&src, &total));
                   r += rc(total) + rc(sel.size());
                   for (const char* name : {"BPM1.X", "CAM1", "GAUGE1.P", "NO.SUCH.CHANNEL"}) {
                     std::string n = name;
                     for (int ev = 0; ev < 8; ++ev) r += sel.find_channel(ev, text(n)) ? "1" : "0";
                     r += " " + std::to_string(sel.get_event_type(text(n))) + " " +
                          std::to_string(sel.get_data_type(text(n))) + "\n";
                   }
                   for (int i = 0; i < sel.size(); ++i) {
                     r += std::string(sel.get_channel(i)) + "|" + sel.get_prop(i) + "|" +
                          std::to_string(sel.is_channel_slow(i)) + std::to_string(sel.is_channel_ml(i)) +
                          std::to_string(sel.get_subchannels(i)) + "\n";
                   }
                   return r;
                 }});
  }

  const ScratchDir& dir_;
  Events events_;
  std::vector<std::string> chan_, daqvars_, linac_, extra_, evlist_, evmulti_, envdict_, triggers_, gige_;
  std::vector<std::string> chan_files_, evlist_files_, envdict_files_, trigger_files_, gige_files_;
};

// What one run printed, as the threads' combined output can be compared:
// its lines, normalised.
void add_lines(std::map<std::string, long>& into, const std::string& text, long times) {
  for (const std::string& line : lines_of(normalised(text))) into[line] += times;
}

// The first difference between two line counts, or "".
std::string first_difference(const std::map<std::string, long>& want, const std::map<std::string, long>& got) {
  for (const auto& [line, n] : want) {
    const auto it = got.find(line);
    const long g = it == got.end() ? 0 : it->second;
    if (g != n) return "line '" + line + "': expected " + std::to_string(n) + " times, got " + std::to_string(g);
  }
  for (const auto& [line, n] : got)
    if (!want.count(line)) return "unexpected line '" + line + "' (" + std::to_string(n) + " times)";
  return "";
}

// Whether this process has the Xerces platform set up (Xerces drops its
// memory manager when the last reference goes).
bool platform_is_up() { return xercesc::XMLPlatformUtils::fgMemoryManager != nullptr; }

// Takes the platform down when only the library's own reference holds it
// up; false when it stays up.
bool take_platform_down() {
  if (platform_is_up()) xercesc::XMLPlatformUtils::Terminate();
  return !platform_is_up();
}

// The set-up of the platform from nothing, from several threads at once:
// pull readers over memory and files and the camera reader, released
// together, in rounds. Before each round the platform is taken down, so
// that every round starts with no platform; after it the threads' own
// references must all have been given back.
TEST(ThreadsStartUp, PlatformSetUpFromNothingInSeveralThreadsAtOnce) {
  if (!take_platform_down()) GTEST_SKIP() << "the Xerces platform is held by more than the library in this process";
  ScratchDir dir;
  std::string evlist = example("evlist_basic.xml");
  const std::string gige = dir.write("gige.xml", example("gige_camera.xml"));
  const std::string chan = dir.write("chan.xml", example("chan_descriptions.xml"));
  constexpr int kThreads = 6;
  const int rounds = env_count("QAL3_STARTUP_ROUNDS", 30);
  for (int round = 0; round < rounds; ++round) {
    ASSERT_TRUE(take_platform_down()) << "round " << round << ": references left behind";
    std::atomic<int> waiting{kThreads};
    std::vector<std::string> got(kThreads);
    const std::string out = testutil::capture_stdout([&] {
      std::vector<std::thread> pool;
      for (int t = 0; t < kThreads; ++t) {
        pool.emplace_back([&, t] {
          std::string doc = evlist, path = t % 3 == 2 ? gige : chan;
          waiting.fetch_sub(1);
          while (waiting.load() > 0) std::this_thread::yield();
          if (t % 3 == 2) {
            GigEList l;
            const bool r = qal3_fill_gige_descr(&path[0], &l.v);
            got[t] = rc(r) + std::to_string(l.v.size());
          } else if (t % 3 == 0) {
            EvList l;
            const int r = qal3_parse_ev_list_read(&doc[0], &l.v);
            got[t] = rc(r) + l.text();
          } else {
            ChanList l;
            const int r = parse_descr_list_readf(&path[0], &l.v, true, false);
            got[t] = rc(r) + std::to_string(l.v.size());
          }
        });
      }
      for (std::thread& th : pool) th.join();
    });
    EXPECT_EQ(out, "") << "round " << round;
    for (int t = 0; t < kThreads; ++t) {
      EXPECT_EQ(got[t].rfind("rc=0\n", 0), 0u) << "round " << round << " thread " << t << ": " << got[t];
      EXPECT_EQ(got[t], got[t % 3]) << "round " << round << " thread " << t;
    }
  }
  EXPECT_TRUE(take_platform_down()) << "references left behind";
  // Gives the library back the reference it keeps for the process.
  xercesc::XMLPlatformUtils::Initialize();
}

TEST(ThreadsStress, EveryFamilyAtOnceGivesTheSingleThreadResults) {
  const int threads = env_count("QAL3_STRESS_THREADS", 4);
  const int rounds = env_count("QAL3_STRESS_ROUNDS", 40);
  ScratchDir dir;
  Corpus corpus(dir);
  const std::vector<Job> jobs = corpus.jobs();
  const std::size_t nj = jobs.size();

  // The single-thread reference: result and printed lines of every job on
  // every variant.
  std::vector<std::vector<std::string>> want(nj, std::vector<std::string>(kVariants));
  std::vector<std::vector<std::string>> printed(nj, std::vector<std::string>(kVariants));
  std::vector<std::vector<std::string>> printed_err(nj, std::vector<std::string>(kVariants));
  for (std::size_t j = 0; j < nj; ++j) {
    for (int v = 0; v < kVariants; ++v) {
      printed_err[j][v] = testutil::capture_stderr(
          [&] { printed[j][v] = testutil::capture_stdout([&] { want[j][v] = jobs[j].run(v, "ref"); }); });
      ASSERT_NE(want[j][v].rfind("rc=0\n", 0), std::string::npos) << jobs[j].name << " failed: " << want[j][v];
    }
  }

  // All threads at once, each running every job in its own order.
  std::atomic<long> mismatches{0};
  std::mutex first_mutex;
  std::string first_mismatch;
  std::vector<std::vector<long>> calls(nj, std::vector<long>(kVariants, 0));
  std::mutex calls_mutex;
  const auto worker = [&](int t) {
    const std::string tag = "t" + std::to_string(t);
    std::vector<std::vector<long>> mine(nj, std::vector<long>(kVariants, 0));
    for (int r = 0; r < rounds; ++r) {
      for (std::size_t k = 0; k < nj; ++k) {
        const std::size_t j = (k + static_cast<std::size_t>(t) * 3) % nj;
        const int v = static_cast<int>((static_cast<std::size_t>(t + r) + k) % kVariants);
        const std::string got = jobs[j].run(v, tag);
        ++mine[j][static_cast<std::size_t>(v)];
        if (got != want[j][v] && mismatches.fetch_add(1) == 0) {
          const std::lock_guard<std::mutex> lock(first_mutex);
          first_mismatch = std::string(jobs[j].name) + " variant " + std::to_string(v) + " in thread " +
                           std::to_string(t) + ":\n--- expected\n" + want[j][v] + "\n--- got\n" + got;
        }
      }
    }
    const std::lock_guard<std::mutex> lock(calls_mutex);
    for (std::size_t j = 0; j < nj; ++j)
      for (int v = 0; v < kVariants; ++v) calls[j][v] += mine[j][v];
  };
  std::string out, err;
  err = testutil::capture_stderr([&] {
    out = testutil::capture_stdout([&] {
      std::vector<std::thread> pool;
      for (int t = 0; t < threads; ++t) pool.emplace_back(worker, t);
      for (std::thread& th : pool) th.join();
    });
  });

  EXPECT_EQ(mismatches.load(), 0) << first_mismatch;
  std::map<std::string, long> want_out, want_err, got_out, got_err;
  long documents = 0;
  for (std::size_t j = 0; j < nj; ++j) {
    for (int v = 0; v < kVariants; ++v) {
      add_lines(want_out, printed[j][v], calls[j][v]);
      add_lines(want_err, printed_err[j][v], calls[j][v]);
      documents += calls[j][v] * jobs[j].documents;
    }
  }
  add_lines(got_out, out, 1);
  add_lines(got_err, err, 1);
  EXPECT_EQ(first_difference(want_out, got_out), "") << "standard output";
  EXPECT_EQ(first_difference(want_err, got_err), "") << "standard error";
  EXPECT_EQ(
      documents, static_cast<long>(threads) * rounds * [&] {
        long per_round = 0;
        for (const Job& job : jobs) per_round += job.documents;
        return per_round;
      }());
  std::printf("%d threads x %d rounds x %zu jobs: %ld documents\n", threads, rounds, nj, documents);
}

}  // namespace
