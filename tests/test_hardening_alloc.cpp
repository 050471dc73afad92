// Every reader and writer under an allocator that fails the Nth allocation,
// for every N up to the number of allocations the call makes on an example
// document (the replaced allocator is in test_hardening_alloc_hooks.cpp).
//
// For each N the call must return one of its failure codes, or succeed with
// exactly the records or the document of an undisturbed call; no exception
// may leave it, the process must go on, and once the caller has released
// what the call handed out the heap must hold what it held before.
//
// Two injection modes: only the Nth allocation fails (the call may go on
// after it), and every allocation from the Nth on fails (the error paths
// themselves run short of memory).
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>
#include <xercesc/util/PlatformUtils.hpp>

#include "alloc_fault.h"
#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "qal3_evutl_blocks.h"
#include "qal3_gige_descr.h"
#include "test_util.h"
#include "user_case_trigger.h"

namespace {

// --- the sweep ---------------------------------------------------------------

// The case and N under way, for the terminate handler.
const char* g_case = "";
std::size_t g_fail_at = 0;
int g_real_stderr = STDERR_FILENO;

[[noreturn]] void on_terminate() {
  allocfault::disarm();
  char line[256];
  const int n =
      std::snprintf(line, sizeof line, "std::terminate in '%s' with allocation %zu failing\n", g_case, g_fail_at);
  if (n > 0) (void)!write(g_real_stderr, line, static_cast<std::size_t>(n));
  std::abort();
}

// Standard output and error go to /dev/null while a sweep runs: failure
// paths print messages, thousands of them.
class Silence {
 public:
  Silence() {
    flush();
    out_ = dup(STDOUT_FILENO);
    err_ = dup(STDERR_FILENO);
    g_real_stderr = err_;
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    close(null);
  }
  ~Silence() {
    flush();
    dup2(out_, STDOUT_FILENO);
    dup2(err_, STDERR_FILENO);
    close(out_);
    close(err_);
    g_real_stderr = STDERR_FILENO;
  }
  Silence(const Silence&) = delete;
  Silence& operator=(const Silence&) = delete;

 private:
  static void flush() {
    std::fflush(stdout);
    std::fflush(stderr);
    std::cout.flush();
    std::cerr.flush();
  }
  int out_ = -1;
  int err_ = -1;
};

// What one attempt found wrong; fixed storage, so that a verdict does not
// disturb the heap balance it is part of.
struct Verdict {
  char text[240] = "";
  bool ok() const { return text[0] == '\0'; }
  void fail(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    if (!ok()) return;
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
  }
};

enum class Mode { once, from_then_on };

// One attempt: the case sets up outside injection, makes the library call
// through Attempt::call (injection armed around it only), checks the
// result, and releases everything.
class Attempt {
 public:
  Attempt(std::size_t fail_at, Mode mode) : fail_at_(fail_at), mode_(mode) {}

  template <class Call>
  void call(Call&& body) {
    allocfault::Armed armed(fail_at_, mode_ == Mode::from_then_on);
    try {
      body();
    } catch (...) {
      verdict.fail("an exception left the call");
    }
  }
  // Whether an allocation was made to fail during call().
  bool injected() const { return allocfault::injected(); }

  Verdict verdict;

 private:
  std::size_t fail_at_;
  Mode mode_;
};

struct SweepStats {
  std::size_t allocations = 0;  // made by the undisturbed call
};

// Open file descriptors of the process.
int open_fds() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

// Reads a document that ends in an error, after which the calling thread
// keeps no parser: an attempt between two of these starts as the first read
// of a thread does (building its parser), and leaves nothing behind.
void drop_kept_parser() {
  char bad[] = "<";
  std::vector<qal3_ev_entry*> list;
  qal3_parse_ev_list_read(bad, &list);
}

// Runs `attempt_fn(Attempt&)` once undisturbed (twice, to warm up what is
// made once per process), then for N = 1 .. the undisturbed allocation count
// with allocation N failing, in both modes. Faults are reported with N; the
// heap and the open file descriptors must be as before each attempt.
template <class Fn>
SweepStats sweep(const char* name, Fn&& attempt_fn) {
  SweepStats stats;
  std::vector<std::string> faults;
  g_case = name;
  const std::terminate_handler previous = std::set_terminate(on_terminate);
  {
    Silence quiet;
    for (int warm = 0; warm < 2; ++warm) {
      drop_kept_parser();
      Attempt a(0, Mode::once);
      attempt_fn(a);
      if (!a.verdict.ok()) faults.push_back(std::string("undisturbed: ") + a.verdict.text);
      stats.allocations = allocfault::counted();
    }
    for (Mode mode : {Mode::once, Mode::from_then_on}) {
      const char* mode_name = mode == Mode::once ? "only" : "from";
      for (std::size_t n = 1; n <= stats.allocations && faults.size() < 12; ++n) {
        g_fail_at = n;
        drop_kept_parser();
        const int fds_before = open_fds();
        std::size_t before = allocfault::heap_in_use();
        Attempt a(n, mode);
        attempt_fn(a);
        drop_kept_parser();
        std::size_t after = allocfault::heap_in_use();
        if (after != before) {
          // Something made once per process on a failure path (a message
          // catalogue, say) is not a leak: a leak comes back on a rerun.
          before = allocfault::heap_in_use();
          Attempt again(n, mode);
          attempt_fn(again);
          drop_kept_parser();
          after = allocfault::heap_in_use();
        }
        char where[64];
        std::snprintf(where, sizeof where, "allocation %zu (%s) failing: ", n, mode_name);
        if (!a.verdict.ok()) faults.push_back(where + std::string(a.verdict.text));
        if (open_fds() != fds_before) faults.push_back(where + std::string("a file descriptor was left open"));
        if (after != before) {
          faults.push_back(where + std::string("heap grew by ") +
                           std::to_string(static_cast<long long>(after) - static_cast<long long>(before)) + " bytes");
        }
      }
    }
    g_fail_at = 0;
  }
  std::set_terminate(previous);
  for (const std::string& f : faults) ADD_FAILURE() << name << ": " << f;
  EXPECT_GT(stats.allocations, 0u) << name << ": the call allocated nothing the injector saw";
  std::printf("[ alloc    ] %s: %zu allocations swept\n", name, stats.allocations);
  return stats;
}

std::string example(const char* name) { return testutil::read_file(std::string(QAL3_EXAMPLES_DIR) + "/" + name); }

// Drops the isodate line so that documents written at different seconds compare.
std::string without_date(std::string doc) {
  const std::size_t b = doc.find("\t<isodate>");
  if (b != std::string::npos) doc.erase(b, doc.find('\n', b) - b + 1);
  return doc;
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The whole text, however long: a dump cut short could hide a difference.
std::string format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list again;
  va_copy(again, ap);
  const int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string out(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(&out[0], out.size() + 1, fmt, again);
  va_end(again);
  return out;
}

// Checks the result of a reader that returns 0 or a positive error sum.
void check_sum_reader(Attempt& a, int rc, const std::string& got, const std::string& want) {
  if (rc < 0) a.verdict.fail("result %d", rc);
  if (rc == 0 && got != want) a.verdict.fail("success reported, but the records differ");
  if (rc != 0 && !a.injected()) a.verdict.fail("failure %d without a failed allocation", rc);
}

// Checks a writer's result: 0 with the full document, or one of `codes`.
void check_writer(Attempt& a, int rc, std::initializer_list<int> codes, const std::string& got,
                  const std::string& want) {
  if (rc == 0) {
    if (without_date(got) != want) a.verdict.fail("success reported, but the document differs");
    return;
  }
  if (!a.injected()) a.verdict.fail("failure %d without a failed allocation", rc);
  for (int c : codes)
    if (rc == c) return;
  a.verdict.fail("result %d", rc);
}

// --- event lists ---------------------------------------------------------------

std::string fingerprint(const std::vector<qal3_ev_entry*>& list) {
  std::string s;
  for (const qal3_ev_entry* e : list) {
    s += format("%d %u %u.%u %u:", static_cast<int>(e->evtype), e->tmask, e->min_ev_time.timeup, e->min_ev_time.timelow,
                e->priority);
    for (const qal3_ev_sb_list* b : *e->sb_list) {
      s += format(" %s(", b->sb_list);
      for (const char* c : *b->ch_list) s += format("%s,", c);
      s += ")";
    }
    s += "\n";
  }
  return s;
}

TEST(AllocFailure, EventListReader) {
  std::string doc = example("evlist_multi.xml");
  std::vector<qal3_ev_entry*> ref;
  ASSERT_EQ(qal3_parse_ev_list_read(&doc[0], &ref), 0);
  const std::string want = fingerprint(ref);
  qal3_clean_ev_list(&ref);
  ASSERT_FALSE(want.empty());

  sweep("qal3_parse_ev_list_read", [&](Attempt& a) {
    std::vector<qal3_ev_entry*> list;
    int rc = 0;
    a.call([&] { rc = qal3_parse_ev_list_read(&doc[0], &list); });
    check_sum_reader(a, rc, fingerprint(list), want);
    qal3_clean_ev_list(&list);
  });

  std::string path = std::string(QAL3_EXAMPLES_DIR) + "/evlist_multi.xml";
  sweep("qal3_parse_ev_list_readf", [&](Attempt& a) {
    std::vector<qal3_ev_entry*> list;
    int rc = 0;
    a.call([&] { rc = qal3_parse_ev_list_readf(&path[0], &list); });
    check_sum_reader(a, rc, fingerprint(list), want);
    qal3_clean_ev_list(&list);
  });
}

// --- channel descriptions ---------------------------------------------------------

std::string fingerprint(std::vector<chan_descr_2010*>& list) {
  std::string out;
  testutil::capture_stdout([&] { dump_chan_desr(&list, nullptr, 2, 0, -1, &out); });
  return without_date(out);
}

void sweep_chan_reader(const char* name, const char* file, bool shift, bool delete_duplicated) {
  std::string doc = example(file);
  std::vector<chan_descr_2010*> ref;
  ASSERT_EQ(parse_descr_list_read(&doc[0], &ref, shift, delete_duplicated), 0);
  const std::string want = fingerprint(ref);
  clean_chan_desr_list(&ref);

  sweep(name, [&](Attempt& a) {
    std::vector<chan_descr_2010*> list;
    int rc = 0;
    a.call([&] { rc = parse_descr_list_read(&doc[0], &list, shift, delete_duplicated); });
    check_sum_reader(a, rc, fingerprint(list), want);
    clean_chan_desr_list(&list);
  });
}

TEST(AllocFailure, ChannelDescriptionReader) {
  sweep_chan_reader("parse_descr_list_read CHANDESCRIPTIONS", "chan_descriptions.xml", true, true);
  sweep_chan_reader("parse_descr_list_read CHANDESCRIPTIONS, no merge", "chan_descriptions.xml", false, false);
  sweep_chan_reader("parse_descr_list_read DAQvariables", "chan_daqvariables.xml", true, false);

  std::string path = std::string(QAL3_EXAMPLES_DIR) + "/chan_descriptions.xml";
  std::vector<chan_descr_2010*> ref;
  ASSERT_EQ(parse_descr_list_readf(&path[0], &ref, true, true), 0);
  const std::string want = fingerprint(ref);
  clean_chan_desr_list(&ref);
  sweep("parse_descr_list_readf", [&](Attempt& a) {
    std::vector<chan_descr_2010*> list;
    int rc = 0;
    a.call([&] { rc = parse_descr_list_readf(&path[0], &list, true, true); });
    check_sum_reader(a, rc, fingerprint(list), want);
    clean_chan_desr_list(&list);
  });
}

TEST(AllocFailure, ChannelDescriptionWriter) {
  std::string doc = example("chan_descriptions.xml");
  std::vector<chan_descr_2010*> list;
  ASSERT_EQ(parse_descr_list_read(&doc[0], &list, true, true), 0);

  for (int format : {0, 1}) {
    std::string want;
    ASSERT_EQ(dump_chan_desr(&list, nullptr, 2, format, -1, &want), 0);
    want = without_date(want);
    sweep(format == 0 ? "dump_chan_desr CHANDESCRIPTIONS to a string" : "dump_chan_desr DAQvariables to a string",
          [&](Attempt& a) {
            std::string out;
            int rc = 0;
            a.call([&] { rc = dump_chan_desr(&list, nullptr, 2, format, -1, &out); });
            check_writer(a, rc, {2}, out, want);
          });
  }

  std::string want;
  ASSERT_EQ(dump_chan_desr(&list, nullptr, 2, 0, -1, &want), 0);
  want = without_date(want);
  testutil::TempFile file;
  sweep("dump_chan_desr to a file", [&](Attempt& a) {
    unlink(file.c_path());
    int rc = 0;
    a.call([&] { rc = dump_chan_desr(&list, file.c_path(), 2, 0); });
    check_writer(a, rc, {1, 2}, file.read(), want);
  });
  clean_chan_desr_list(&list);
}

// --- environment index dictionary ---------------------------------------------------

template <class Entry>
std::string fingerprint(const std::vector<Entry*>& list) {
  std::string s;
  for (const Entry* e : list) {
    s += format("%d %s %.9g %.9g\n", e->index, e->data.env_prop, static_cast<double>(e->data.env_ch_abs_delta),
                static_cast<double>(e->data.env_ch_rel_delta));
  }
  return s;
}

template <class Entry>
void free_entries(std::vector<Entry*>& list) {
  for (Entry* e : list) std::free(e);
  list.clear();
}

template <class Entry, class Read, class Dump>
void sweep_dictionary(const char* layout, Read read, Dump dump) {
  std::string doc = example("envdict.xml");
  std::vector<Entry*> list;
  ASSERT_EQ(read(&doc[0], &list), 0);
  const std::string want_records = fingerprint(list);
  ASSERT_FALSE(want_records.empty());

  sweep((std::string("env dictionary reader ") + layout).c_str(), [&](Attempt& a) {
    std::vector<Entry*> got;
    int rc = 0;
    a.call([&] { rc = read(&doc[0], &got); });
    check_sum_reader(a, rc, fingerprint(got), want_records);
    free_entries(got);
  });

  std::string want;
  ASSERT_EQ(testutil::capture_stdout([&] { EXPECT_EQ(dump(&list, nullptr, 3, -1, &want), 0); }), "");
  want = without_date(want);
  sweep((std::string("env dictionary writer to a string ") + layout).c_str(), [&](Attempt& a) {
    std::string out;
    int rc = 0;
    a.call([&] { rc = dump(&list, nullptr, 3, -1, &out); });
    check_writer(a, rc, {2}, out, want);
  });

  testutil::TempFile file;
  sweep((std::string("env dictionary writer to a file ") + layout).c_str(), [&](Attempt& a) {
    unlink(file.c_path());
    int rc = 0;
    a.call([&] { rc = dump(&list, file.c_path(), 2, -1, nullptr); });
    check_writer(a, rc, {1, 2}, file.read(), want);
  });
  free_entries(list);
}

TEST(AllocFailure, EnvDictionary) {
  using Old = qal3_env_index_dictionary_entry;
  using New = qal3_env_index_dictionary_entry_2010;
  sweep_dictionary<Old>(
      "(old layout)", [](char* xml, std::vector<Old*>* l) { return parse_env_index_dict_list_read(xml, l); },
      [](std::vector<Old*>* l, char* f, int m, int fd, std::string* s) { return dump_env_index_dict(l, f, m, fd, s); });
  sweep_dictionary<New>(
      "(2010 layout)", [](char* xml, std::vector<New*>* l) { return parse_env_index_dict_list_read_2010(xml, l); },
      [](std::vector<New*>* l, char* f, int m, int fd, std::string* s) {
        return dump_env_index_dict_2010(l, f, m, fd, s);
      });
}

// --- trigger lists --------------------------------------------------------------------

std::string fingerprint(const std::vector<qal3_user_case_trigger*>& list) {
  std::string s;
  for (const qal3_user_case_trigger* t : list) {
    s += format("%.255s %d %d %d %.9g %.9g %x %.255s %d %.255s %d |", t->channel, t->subchannel, t->function,
                t->operation, static_cast<double>(t->low), static_cast<double>(t->upper), t->bitmask, t->description,
                t->pre_mode, t->group, t->post_mode);
    for (float p : t->fparam) s += format(" %.9g", static_cast<double>(p));
    s += "\n";
  }
  return s;
}

void free_triggers(std::vector<qal3_user_case_trigger*>& list) {
  for (qal3_user_case_trigger* t : list) QAL3_FREE_USER(t);
  list.clear();
}

TEST(AllocFailure, TriggerListReaderAndWriter) {
  std::string doc = example("triggers.xml");
  std::vector<qal3_user_case_trigger*> list;
  ASSERT_FALSE(parse_trigger_list_read(&doc[0], &list));
  const std::string want_records = fingerprint(list);
  ASSERT_FALSE(want_records.empty());

  sweep("parse_trigger_list_read", [&](Attempt& a) {
    std::vector<qal3_user_case_trigger*> got;
    bool failed = false;
    a.call([&] { failed = parse_trigger_list_read(&doc[0], &got); });
    check_sum_reader(a, failed ? 1 : 0, fingerprint(got), want_records);
    free_triggers(got);
  });

  std::string path = std::string(QAL3_EXAMPLES_DIR) + "/triggers.xml";
  sweep("parse_trigger_list_readf", [&](Attempt& a) {
    std::vector<qal3_user_case_trigger*> got;
    bool failed = false;
    a.call([&] { failed = parse_trigger_list_readf(&path[0], &got); });
    check_sum_reader(a, failed ? 1 : 0, fingerprint(got), want_records);
    free_triggers(got);
  });

  std::string want;
  ASSERT_EQ(dump_user_trigger_list(&list, nullptr, USER_TRIG_DUMP_XML_STRING, -1, &want), 0);
  want = without_date(want);
  sweep("dump_user_trigger_list to a string", [&](Attempt& a) {
    std::string out;
    int rc = 0;
    a.call([&] { rc = dump_user_trigger_list(&list, nullptr, USER_TRIG_DUMP_XML_STRING, -1, &out); });
    check_writer(a, rc, {2}, out, want);
  });

  testutil::TempFile file;
  sweep("dump_user_trigger_list to a file", [&](Attempt& a) {
    unlink(file.c_path());
    int rc = 0;
    a.call([&] { rc = dump_user_trigger_list(&list, file.c_path(), USER_TRIG_DUMP_XML_FILE, -1, nullptr); });
    check_writer(a, rc, {1, 2}, file.read(), want);
  });
  free_triggers(list);
}

// --- camera features -------------------------------------------------------------------

std::string fingerprint(const std::vector<QAL3GigEFeature*>& list) {
  std::string s;
  for (const QAL3GigEFeature* f : list) {
    s += std::to_string(f->type) + "|" + f->name + "|" + f->extension + "|" + f->tooltip + "|" + f->description + "\n";
  }
  return s;
}

TEST(AllocFailure, CameraFeatureReader) {
  std::string path = std::string(QAL3_EXAMPLES_DIR) + "/gige_camera.xml";
  std::vector<QAL3GigEFeature*> ref;
  bool failed = true;
  testutil::capture_stdout([&] { failed = qal3_fill_gige_descr(&path[0], &ref); });
  ASSERT_FALSE(failed);
  const std::string want = fingerprint(ref);
  qal3_clean_gige_descr(&ref);
  ASSERT_FALSE(want.empty());

  sweep("qal3_fill_gige_descr", [&](Attempt& a) {
    std::vector<QAL3GigEFeature*> got;
    bool bad = false;
    a.call([&] { bad = qal3_fill_gige_descr(&path[0], &got); });
    if (bad && !got.empty()) a.verdict.fail("failure reported, but the list was changed");
    check_sum_reader(a, bad ? 1 : 0, fingerprint(got), want);
    qal3_clean_gige_descr(&got);
  });
}

// --- trigger evaluation -------------------------------------------------------------------

TEST(AllocFailure, TriggerEvaluationResultBuffers) {
  if (!allocfault::kCountsCHeap) GTEST_SKIP() << "result buffers come from the C heap, owned by the sanitizer";
  const std::vector<float> samples{1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f};
  qal3_spect_header_2010 head{0.0f, 1.0f, static_cast<int>(samples.size()), 1, 1.0f};
  const float* data = samples.data();
  qal3_serv_block_subhead_2010* block = qal3_evutl_make_spectrum("SPEC", 1013, 1, &head, &data);
  ASSERT_NE(block, nullptr);

  constexpr int kMean = 2, kDiffMean = 10, kTrue = 10;
  for (int function : {kMean, kDiffMean}) {
    sweep(function == kMean ? "qal3_is_trigger_on MEAN" : "qal3_is_trigger_on DIFFMEAN twice", [&](Attempt& a) {
      auto* t = static_cast<qal3_user_case_trigger*>(std::calloc(1, sizeof(qal3_user_case_trigger)));
      std::snprintf(t->channel, sizeof t->channel, "SPEC");
      t->function = function;
      t->operation = kTrue;
      t->fparam[0] = 1.0f;
      t->fparam[1] = 4.0f;
      int first = -2, second = -2;
      a.call([&] {
        first = qal3_is_trigger_on(block, t);
        second = qal3_is_trigger_on(block, t);
      });
      // MEAN fires twice on samples 1..3 (mean 3); DIFFMEAN records the
      // first mean and fires on the second call with a change of 0.
      const int want_first = function == kMean ? 1 : 0;
      const float want_value = function == kMean ? 3.0f : 0.0f;
      if (first != want_first && !(a.injected() && first == 0)) a.verdict.fail("first answer %d", first);
      if (second != 1 && !(a.injected() && second == 0)) a.verdict.fail("second answer %d", second);
      if (second == 1 && (!t->fresult || *t->fresult != want_value)) a.verdict.fail("wrong result on success");
      QAL3_FREE_USER(t);
    });
  }
  qal3_evutl_free_block(block);
}

// --- the first Xerces initialisation of a process -------------------------------------

// Xerces cannot recover from a first XMLPlatformUtils::Initialize that fails
// half-way. Each N runs in a fresh process (this binary, filtered to the
// child test below): the first read fails allocation N; then every reader is
// called again and must answer, with success or its failure code, without
// crashing or ending the process. Initialisation makes thousands of
// allocations; the first ones are swept one by one, the rest by a sample.
constexpr char kInitEnv[] = "QAL3_ALLOC_INIT_AT";

std::string self_command(std::size_t fail_at) {
  return std::string(kInitEnv) + "=" + std::to_string(fail_at) + " " +
         testutil::program_command(testutil::self_path()) +
         " --gtest_also_run_disabled_tests --gtest_filter=AllocFailure.DISABLED_PlatformInitialisationChild";
}

TEST(AllocFailure, PlatformInitialisation) {
  std::string out;
  ASSERT_EQ(testutil::run_command(self_command(0), &out), 0);
  const std::size_t mark = out.find("allocations: ");
  ASSERT_NE(mark, std::string::npos) << out;
  const std::size_t count = std::strtoul(out.c_str() + mark + 13, nullptr, 10);
  ASSERT_GT(count, 0u) << out;
  // Thousands of allocations, one process each: the first ones all, then a
  // sample spread over the rest, and the first read after it.
  const std::size_t stride = std::max<std::size_t>(1, count / 80);
  std::printf("[ alloc    ] first Xerces initialisation: %zu allocations, every %zu-th swept\n", count, stride);
  int faults = 0;
  for (std::size_t n = 1; n <= count + 1 && faults < 5; n += n < 32 ? 1 : stride) {
    const int status = testutil::run_command(self_command(n), &out);
    if (status != 0) {
      ++faults;
      ADD_FAILURE() << "allocation " << n << " failing in the first initialisation: "
                    << (status < 0 ? "the process died" : "exit status " + std::to_string(status)) << "\n"
                    << out;
    }
  }
}

// Run only by AllocFailure.PlatformInitialisation, in a process of its own.
TEST(AllocFailure, DISABLED_PlatformInitialisationChild) {
  const char* at = std::getenv(kInitEnv);
  if (!at) GTEST_SKIP() << "run in a process of its own by AllocFailure.PlatformInitialisation";
  const std::size_t fail_at = std::strtoul(at, nullptr, 10);
  std::string doc = example("evlist_basic.xml");
  std::string gige = std::string(QAL3_EXAMPLES_DIR) + "/gige_camera.xml";
  std::string triggers = example("triggers.xml");
  std::string report;
  {
    Silence quiet;
    if (fail_at == 0) {
      allocfault::arm(0);
      xercesc::XMLPlatformUtils::Initialize();
      allocfault::disarm();
      report = "allocations: " + std::to_string(allocfault::counted());
    } else {
      std::vector<qal3_ev_entry*> list;
      int rc = -1;
      {
        allocfault::Armed armed(fail_at);
        try {
          rc = qal3_parse_ev_list_read(&doc[0], &list);
        } catch (...) {
          report += "an exception left qal3_parse_ev_list_read\n";
        }
      }
      if (rc < 0) report += "result " + std::to_string(rc) + "\n";
      qal3_clean_ev_list(&list);
      // Later calls: any answer but a crash.
      rc = qal3_parse_ev_list_read(&doc[0], &list);
      if (rc < 0) report += "later result " + std::to_string(rc) + "\n";
      qal3_clean_ev_list(&list);
      std::vector<QAL3GigEFeature*> features;
      if (qal3_fill_gige_descr(&gige[0], &features) && !features.empty()) report += "gige list changed\n";
      qal3_clean_gige_descr(&features);
      std::vector<qal3_user_case_trigger*> trig;
      parse_trigger_list_read(&triggers[0], &trig);
      for (qal3_user_case_trigger* t : trig) QAL3_FREE_USER(t);
    }
  }
  std::fputs(report.c_str(), stdout);
  std::fflush(stdout);
  _exit(fail_at == 0 || report.empty() ? 0 : 1);  // no leak report: a failed platform stays held
}

}  // namespace
