// The libraries' message path: records with their fields, the default
// output unchanged, and sinks per thread and per process.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "parse_ev_list.h"
#include "qal3.hpp"
#include "qal3_messages.h"
#include "test_util.h"

namespace {

struct Record {
  int stream, kind;
  std::string text, document;
  bool named;
  long long line, column;
  std::string default_bytes;
};

struct Collector {
  std::vector<Record> got;
  void operator()(const qal3_message& m) {
    got.push_back({m.stream, m.kind, std::string(m.text, m.length), m.document ? m.document : "", m.document != nullptr,
                   m.line, m.column,
                   m.default_text ? std::string(m.default_text, m.default_length) : std::string(m.text) + "\n"});
  }
  std::string stream(int s) const {
    std::string out;
    for (const Record& r : got)
      if (r.stream == s) out += r.default_bytes;
    return out;
  }
};

struct EvList {
  qal3::List<qal3_ev_entry> owned;
  std::vector<qal3_ev_entry*>& v = owned.records();
};

const char kBroken[] = "<BMR>\n  <ENTRY>\n    <EVENT_TYPE>1</EVENT_TYPE\n</BMR>\n";
const char kWrongRoot[] = "<?xml version=\"1.0\"?>\n<FOO>\n</FOO>\n";

// One case per kind of line: what is read or printed, and the record expected.
struct KindCase {
  const char* name;
  const char* content;  // document; in a file when `in_file`
  bool in_file;
  bool list;  // print the example event list instead of reading
  int stream, kind;
  const char* text_start;
  long long line;  // -1: any positive line
};

class Kinds : public ::testing::TestWithParam<KindCase> {};

TEST_P(Kinds, SinkReceivesTheKindWithItsFields) {
  const KindCase& c = GetParam();
  testutil::TempFile file(c.content ? c.content : "");
  Collector sink;
  {
    qal3::ThreadMessageSink guard(sink);
    EvList list;
    if (c.list) {
      std::string path = std::string(QAL3_EXAMPLES_DIR) + "/evlist_basic.xml";
      ASSERT_EQ(qal3_parse_ev_list_readf(&path[0], &list.v), 0);
      qal3_print_ev_list(&list.v);
    } else if (c.in_file) {
      qal3_parse_ev_list_readf(file.c_path(), &list.v);
    } else {
      std::string doc = c.content;
      qal3_parse_ev_list_read(&doc[0], &list.v);
    }
  }
  ASSERT_FALSE(sink.got.empty());
  const Record& r = sink.got.front();
  EXPECT_EQ(r.stream, c.stream);
  EXPECT_EQ(r.kind, c.kind);
  EXPECT_EQ(r.text.rfind(c.text_start, 0), 0u) << r.text;
  for (const Record& each : sink.got) EXPECT_EQ(each.text.find('\n'), std::string::npos) << each.text;
  if (c.list) return;
  EXPECT_EQ(r.named, c.in_file);
  if (c.in_file) {
    EXPECT_EQ(r.document, file.path());  // as given, not the parser's own form
  }
  if (c.line < 0) {
    EXPECT_GT(r.line, 0);
  } else {
    EXPECT_EQ(r.line, c.line);
  }
  EXPECT_GT(r.column, 0);
}

INSTANTIATE_TEST_SUITE_P(Messages, Kinds,
                         ::testing::Values(KindCase{"listing", nullptr, false, true, QAL3_MESSAGE_STDOUT,
                                                    QAL3_MESSAGE_LISTING, "Entry[0]", 0},
                                           KindCase{"fatal_in_memory", kBroken, false, false, QAL3_MESSAGE_STDERR,
                                                    QAL3_MESSAGE_PARSER_FATAL, "unterminated end tag", 4},
                                           KindCase{"fatal_in_file", kBroken, true, false, QAL3_MESSAGE_STDERR,
                                                    QAL3_MESSAGE_PARSER_FATAL, "unterminated end tag", 4},
                                           KindCase{"wrong_root", kWrongRoot, true, false, QAL3_MESSAGE_STDERR,
                                                    QAL3_MESSAGE_ERROR, "WRONG root tag: FOO must be 'BMR'", 2},
                                           KindCase{"empty_document", "", true, false, QAL3_MESSAGE_STDERR,
                                                    QAL3_MESSAGE_PARSER_FATAL, "", -1},
                                           KindCase{"not_xml", "plain text\n", true, false, QAL3_MESSAGE_STDERR,
                                                    QAL3_MESSAGE_PARSER_FATAL, "", -1}),
                         [](const ::testing::TestParamInfo<KindCase>& i) { return std::string(i.param.name); });

// With a sink, the records' default bytes put together are exactly what is
// written without one, on each stream.
TEST(Messages, DefaultBytesOfTheRecordsAreTheDefaultOutput) {
  const auto work = [] {
    EvList list;
    std::string broken = kBroken, wrong = kWrongRoot, empty;
    qal3_parse_ev_list_read(&broken[0], &list.v);
    qal3_parse_ev_list_read(&wrong[0], &list.v);
    qal3_parse_ev_list_read(&empty[0], &list.v);
    std::string path = std::string(QAL3_EXAMPLES_DIR) + "/evlist_multi.xml";
    qal3_parse_ev_list_readf(&path[0], &list.v);
    qal3_print_ev_list(&list.v);
  };
  std::string err;
  const std::string out = testutil::capture_stdout([&] { err = testutil::capture_stderr(work); });
  Collector sink;
  std::string quiet_out, quiet_err;
  quiet_out = testutil::capture_stdout([&] {
    quiet_err = testutil::capture_stderr([&] {
      qal3::ThreadMessageSink guard(sink);
      work();
    });
  });
  EXPECT_EQ(quiet_out, "");
  EXPECT_EQ(quiet_err, "");
  EXPECT_FALSE(out.empty());
  EXPECT_EQ(sink.stream(QAL3_MESSAGE_STDOUT), out);
  EXPECT_EQ(sink.stream(QAL3_MESSAGE_STDERR), err);
}

// The thread's own sink takes precedence over the process-wide one; guards
// nest and put back what was there.
TEST(Messages, ThreadSinkTakesPrecedenceAndGuardsRestore) {
  Collector process, outer, inner;
  auto to = [](const qal3_message* m, void* c) { (*static_cast<Collector*>(c))(*m); };
  qal3_set_message_sink(to, &process);
  const auto emit = [](const char* text) {
    qal3_message m{QAL3_MESSAGE_STDERR, QAL3_MESSAGE_INFO, text, std::strlen(text), nullptr, 0, 0, nullptr, 0, 0};
    qal3_message_emit(&m);
  };
  emit("a");
  {
    qal3::ThreadMessageSink g1(outer);
    emit("b");
    {
      qal3::ThreadMessageSink g2(inner);
      emit("c");
    }
    emit("d");
  }
  emit("e");
  qal3_set_message_sink(nullptr, nullptr);
  qal3_message_sink s = to;
  qal3_get_message_sink(&s, nullptr);
  EXPECT_EQ(s, nullptr);
  const auto texts = [](const Collector& c) {
    std::string t;
    for (const Record& r : c.got) t += r.text;
    return t;
  };
  EXPECT_EQ(texts(process), "ae");
  EXPECT_EQ(texts(outer), "bd");
  EXPECT_EQ(texts(inner), "c");
}

// Two threads with sinks of their own each receive only their own lines
// (their documents), while a third thread's printing stays on stdout.
TEST(Messages, ThreadSinksKeepToTheirThreads) {
  constexpr int kReads = 40;
  Collector sinks[2];
  testutil::TempFile files[2] = {testutil::TempFile(kBroken), testutil::TempFile(kWrongRoot)};
  std::string printed = testutil::capture_stdout([&] {
    std::thread printer([] {
      for (int i = 0; i < 200; ++i) std::printf("printer %d\n", i);
      std::fflush(stdout);
    });
    std::vector<std::thread> readers;
    for (int t = 0; t < 2; ++t)
      readers.emplace_back([&, t] {
        qal3::ThreadMessageSink guard(sinks[t]);
        for (int i = 0; i < kReads; ++i) {
          EvList list;
          qal3_parse_ev_list_readf(files[t].c_path(), &list.v);
        }
      });
    for (std::thread& r : readers) r.join();
    printer.join();
  });
  std::string expected;
  for (int i = 0; i < 200; ++i) expected += "printer " + std::to_string(i) + "\n";
  EXPECT_EQ(printed, expected);
  for (int t = 0; t < 2; ++t) {
    ASSERT_FALSE(sinks[t].got.empty());
    for (const Record& r : sinks[t].got) EXPECT_EQ(r.document, files[t].path()) << r.text;
  }
  EXPECT_EQ(sinks[1].got.size(), static_cast<std::size_t>(kReads));  // one wrong root per read
}

// A read inside a sink leaves the line the sink was given as it was, and
// the outer document's later lines keep its name and position.
TEST(Messages, ReadInsideASinkLeavesTheOuterLineWhole) {
  testutil::TempFile outer(  // two warnings
      "<!DOCTYPE BMR [<!ELEMENT BMR ANY><!ATTLIST BMR a CDATA #IMPLIED><!ATTLIST BMR a CDATA #IMPLIED>\n"
      "<!ATTLIST BMR b CDATA #IMPLIED><!ATTLIST BMR b CDATA #IMPLIED>]>\n<BMR/>\n");
  struct Nesting {
    std::vector<Record> got;
    std::string outer_after_inner;
  } seen;
  const auto sink = [](const qal3_message* m, void* data) {
    auto& s = *static_cast<Nesting*>(data);
    const bool first = s.got.empty();
    s.got.push_back({m->stream, m->kind, std::string(m->text, m->length), m->document ? m->document : "",
                     m->document != nullptr, m->line, m->column, ""});
    if (!first || !m->document) return;
    EvList inner;
    std::string doc = kBroken;
    qal3_parse_ev_list_read(&doc[0], &inner.v);  // its own lines come back here
    s.outer_after_inner = m->document;
  };
  {
    qal3::ThreadMessageSink guard(static_cast<qal3_message_sink>(sink), &seen);
    EvList list;
    qal3_parse_ev_list_readf(outer.c_path(), &list.v);
  }
  EXPECT_EQ(seen.outer_after_inner, outer.path());
  int outer_lines = 0;
  for (const Record& r : seen.got) {
    if (r.document != outer.path()) continue;
    ++outer_lines;
    EXPECT_GT(r.line, 0) << r.text;
  }
  EXPECT_GE(outer_lines, 2);
}

}  // namespace
