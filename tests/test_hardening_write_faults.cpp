// Every writer under write faults: a full device, a closed descriptor, and a
// pipe whose reader takes a few bytes at a time while signals interrupt the
// writer (short writes and EINTR). None may report success for a document
// that did not reach its destination in full.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "qal3.hpp"
#include "test_util.h"
#include "user_case_trigger.h"

namespace {

// Writes through `write_to_fd(fd)` into a pipe drained a few bytes at a
// time, with SIGALRM interrupting the writer every 100 microseconds.
// Returns the writer's result and what came out of the pipe.
std::pair<int, std::string> through_slow_pipe(const std::function<int(int)>& write_to_fd) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  std::string received;
  sigset_t alarm_set;
  sigemptyset(&alarm_set);
  sigaddset(&alarm_set, SIGALRM);
  std::thread reader([&] {
    pthread_sigmask(SIG_BLOCK, &alarm_set, nullptr);  // signals go to the writer
    char buf[7];
    for (;;) {
      const ssize_t n = read(fds[0], buf, sizeof buf);
      if (n > 0) {
        received.append(buf, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        break;
      }
    }
  });
  struct sigaction sa {
  }, old{};
  sa.sa_handler = [](int) {};
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: writes are interrupted
  sigaction(SIGALRM, &sa, &old);
  itimerval every{{0, 100}, {0, 100}};
  setitimer(ITIMER_REAL, &every, nullptr);
  int rc = -1;
  testutil::capture_stdout([&] { rc = write_to_fd(fds[1]); });
  itimerval stop{};
  setitimer(ITIMER_REAL, &stop, nullptr);
  sigaction(SIGALRM, &old, nullptr);
  close(fds[1]);
  reader.join();
  close(fds[0]);
  return {rc, received};
}

int closed_fd() {
  const int fd = open("/dev/null", O_WRONLY);
  close(fd);
  return fd;
}

// Drops the isodate line so that documents written at different seconds compare.
std::string without_date(std::string doc) {
  const std::size_t b = doc.find("\t<isodate>");
  if (b != std::string::npos) doc.erase(b, doc.find('\n', b) - b + 1);
  return doc;
}

// --- channel descriptions ---------------------------------------------------

struct ChanList {
  qal3::List<chan_descr_2010> owned;
  std::vector<chan_descr_2010*>& list = owned.records();
  explicit ChanList(int n) {
    for (int i = 0; i < n; ++i) {
      auto* c = new chan_descr_2010();
      std::snprintf(c->prop_name, sizeof c->prop_name, "DEVICE/%d/PROP & <more>", i);
      std::snprintf(c->daq_name, sizeof c->daq_name, "DAQ.%d", i);
      std::snprintf(c->prop_desc, sizeof c->prop_desc, "description \"%d\"", i);
      c->db_key = -1;
      c->max_size = 1;
      list.push_back(c);
    }
  }
};

TEST(WriteFaults, ChannelDescriptions) {
  ChanList chans(3000);  // well beyond a pipe's buffer
  char full[] = "/dev/full";
  for (int format = 0; format <= 1; ++format) {
    testutil::capture_stdout([&] {
      EXPECT_EQ(dump_chan_desr(&chans.list, full, 2, format, -1, nullptr, nullptr), 2);
      EXPECT_EQ(dump_chan_desr(&chans.list, full, 1, format, -1, nullptr, nullptr), 2);
      EXPECT_EQ(dump_chan_desr(&chans.list, nullptr, 2, format, closed_fd(), nullptr, nullptr), 2);
    });
    std::string expected;
    auto [rc, got] = through_slow_pipe(
        [&](int fd) { return dump_chan_desr(&chans.list, nullptr, 2, format, fd, &expected, nullptr); });
    EXPECT_EQ(rc, 0);
    EXPECT_GT(expected.size(), 100000u);
    EXPECT_EQ(got, expected);
  }
}

// --- environment index dictionary --------------------------------------------

template <class Entry, class Dump>
void dictionary_faults(Dump dump) {
  std::vector<Entry*> list;
  for (int i = 0; i < 3000; ++i) {
    auto* e = static_cast<Entry*>(std::calloc(1, sizeof(Entry)));
    e->index = i;
    std::snprintf(e->data.env_prop, sizeof e->data.env_prop, "ENV/%d/T<&>", i);
    e->data.env_ch_abs_delta = 0.5f;
    list.push_back(e);
  }
  char full[] = "/dev/full";
  testutil::capture_stdout([&] {
    EXPECT_EQ(dump(&list, full, 2, -1, nullptr), 2);
    EXPECT_EQ(dump(&list, full, 1, -1, nullptr), 2);
    EXPECT_EQ(dump(&list, nullptr, 2, closed_fd(), nullptr), 2);
  });
  auto [rc, got] = through_slow_pipe([&](int fd) { return dump(&list, nullptr, 2, fd, nullptr); });
  EXPECT_EQ(rc, 0);
  std::string expected;
  testutil::capture_stdout([&] { EXPECT_EQ(dump(&list, nullptr, 3, -1, &expected), 0); });
  EXPECT_GT(expected.size(), 100000u);
  EXPECT_EQ(without_date(got), without_date(expected));
  for (Entry* e : list) std::free(e);
}

TEST(WriteFaults, EnvironmentDictionary) {
  dictionary_faults<qal3_env_index_dictionary_entry>(
      [](auto* l, char* f, int m, int fd, std::string* s) { return dump_env_index_dict(l, f, m, fd, s); });
  dictionary_faults<qal3_env_index_dictionary_entry_2010>(
      [](auto* l, char* f, int m, int fd, std::string* s) { return dump_env_index_dict_2010(l, f, m, fd, s); });
}

// --- trigger lists ------------------------------------------------------------

TEST(WriteFaults, TriggerLists) {
  std::vector<qal3_user_case_trigger*> list;
  for (int i = 0; i < 500; ++i) {
    auto* t = static_cast<qal3_user_case_trigger*>(std::calloc(1, sizeof(qal3_user_case_trigger)));
    std::snprintf(t->channel, sizeof t->channel, "CH/%d", i);
    std::snprintf(t->description, sizeof t->description, "say \"%d\" & <stop>", i);
    t->function = 2;
    list.push_back(t);
  }
  char full[] = "/dev/full";
  // The writer's own line, then the system's reason (every writer delivers
  // through the same destination).
  const std::string out = testutil::capture_stdout([&] {
    const std::string err = testutil::capture_stderr([&] {
      EXPECT_EQ(dump_user_trigger_list(&list, full, USER_TRIG_DUMP_XML_FILE, -1, nullptr), 2);
      EXPECT_EQ(dump_user_trigger_list(&list, full, USER_TRIG_DUMP_TXT_FILE, -1, nullptr), 2);
      EXPECT_EQ(dump_user_trigger_list(&list, nullptr, USER_TRIG_DUMP_XML_FILE, closed_fd(), nullptr), 2);
    });
    EXPECT_EQ(err, "write: No space left on device\nwrite: No space left on device\nwrite: Bad file descriptor\n");
  });
  EXPECT_NE(out.find("dump_user_trigger_list()  write failed\n"), std::string::npos) << out;
  auto [rc, got] = through_slow_pipe(
      [&](int fd) { return dump_user_trigger_list(&list, nullptr, USER_TRIG_DUMP_XML_FILE, fd, nullptr); });
  EXPECT_EQ(rc, 0);
  std::string expected;
  EXPECT_EQ(dump_user_trigger_list(&list, nullptr, USER_TRIG_DUMP_XML_STRING, -1, &expected), 0);
  EXPECT_GT(expected.size(), 100000u);
  EXPECT_EQ(without_date(got), without_date(expected));
  for (auto* t : list) QAL3_FREE_USER(t);
}

}  // namespace
