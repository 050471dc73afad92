// The checking library's C API: documents given as text, files and
// folders, what became of each, the findings as records, and their line.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <vector>

#include "check_document.h"
#include "qal3.hpp"
#include "qal3_check.h"
#include "record_fields.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;

using Checker = std::unique_ptr<qal3_checker, void (*)(qal3_checker*)>;

Checker make() { return Checker(qal3_check_new(), qal3_check_free); }

const char kTriggers[] =
    "<?xml version=\"1.0\"?>\n<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"BEAM/Current\" subchan=\"0\"/>"
    "<Function name=\"MAX\" start=\"0\" end=\"4\"/><Operation name=\"GT\"/>"
    "<LowLimit value=\"5\"/></USERTRIGGER></QAL3USERTRIGGERLIST>\n";

const char kChannels[] =
    "<?xml version=\"1.0\"?>\n<CHANDESCRIPTIONS><CHANNEL><PROP>BEAM/Curent</PROP><NAME>BEAM_CUR</NAME>"
    "</CHANNEL></CHANDESCRIPTIONS>\n";

std::vector<std::string> codes(const qal3_checker* c) {
  std::vector<std::string> out;
  for (size_t i = 0; i < qal3_check_finding_count(c); ++i) out.push_back(qal3_check_finding_at(c, i)->code);
  return out;
}

bool has(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

// A scratch folder, removed with all below it.
struct Folder {
  fs::path path;
  Folder() {
    char tmpl[] = "/tmp/qal3-check-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~Folder() { fs::remove_all(path); }
  void put(const std::string& name, const std::string& text) const {
    fs::create_directories((path / name).parent_path());
    std::ofstream(path / name, std::ios::binary) << text;
  }
};

TEST(CheckApi, NullsAndRangesAreRefused) {
  const char* text = nullptr;
  size_t length = 0;
  EXPECT_EQ(qal3_check_text(nullptr, "a", "<x/>", 4), -1);
  EXPECT_EQ(qal3_check_file(nullptr, "a"), -1);
  EXPECT_EQ(qal3_check_folder(nullptr, "/tmp"), -1);
  EXPECT_EQ(qal3_check_know(nullptr, "F"), -1);
  EXPECT_EQ(qal3_check_exclude(nullptr, "*"), -1);
  EXPECT_EQ(qal3_check_set_strict(nullptr, 1), -1);
  EXPECT_EQ(qal3_check_finding_count(nullptr), 0u);
  EXPECT_EQ(qal3_check_document_at(nullptr, 0), nullptr);
  EXPECT_EQ(qal3_check_format(nullptr, nullptr, 0), 0u);
  EXPECT_EQ(qal3_check_schema(QAL3_FAMILY_UNKNOWN, &text, &length), nullptr);
  qal3_check_free(nullptr);
  const Checker c = make();
  EXPECT_EQ(qal3_check_text(c.get(), "a", nullptr, 1), -1);
  EXPECT_EQ(qal3_check_know(c.get(), ""), -1);
  EXPECT_EQ(qal3_check_set_max_bytes(c.get(), 0), -1);
  EXPECT_EQ(qal3_check_folder(c.get(), "/nonexistent/folder"), -1);
  EXPECT_EQ(qal3_check_finding_at(c.get(), 0), nullptr);
  EXPECT_EQ(qal3_check_document_count(c.get()), 0u);
}

// Every family's schema is in the library; the text the tool installs.
TEST(CheckApi, SchemasAreBuiltIn) {
  for (auto f = QAL3_FAMILY_EVENT_LIST; qal3_family_root(f); f = static_cast<qal3_family>(f + 1)) {
    const char* text = nullptr;
    size_t length = 0;
    const char* name = qal3_check_schema(f, &text, &length);
    ASSERT_NE(name, nullptr) << f;
    EXPECT_EQ(std::string(text, length), testutil::read_file(std::string(QAL3_SCHEMA_DIR) + "/" + name)) << name;
  }
}

// Documents given together: their states, own findings, and those across
// them, each a record naming its document.
TEST(CheckApi, AFolderIsCheckedAsAWhole) {
  const Folder dir;
  dir.put("a/triggers.xml", kTriggers);
  dir.put("b/channels.xml", kChannels);
  dir.put("pom.xml", "<project/>");
  dir.put("left/out.xml", "<broken");
  dir.put(".hidden.xml", "<broken");
  const Checker c = make();
  ASSERT_EQ(qal3_check_exclude(c.get(), "left/*"), 0);
  EXPECT_EQ(qal3_check_folder(c.get(), dir.path.c_str()), 0);
  ASSERT_EQ(qal3_check_document_count(c.get()), 3u);
  const struct {
    const char* below;
    qal3_check_state state;
    qal3_family family;
    const char* root;
  } kDocuments[] = {
      {"a/triggers.xml", QAL3_CHECK_CHECKED, QAL3_FAMILY_TRIGGER_LIST, "QAL3USERTRIGGERLIST"},
      {"b/channels.xml", QAL3_CHECK_CHECKED, QAL3_FAMILY_CHAN_DESCRIPTIONS, "CHANDESCRIPTIONS"},
      {"pom.xml", QAL3_CHECK_SKIPPED, QAL3_FAMILY_UNKNOWN, "project"},
  };
  for (size_t i = 0; i < 3; ++i) {
    const qal3_check_document* d = qal3_check_document_at(c.get(), i);
    EXPECT_EQ(d->name, (dir.path / kDocuments[i].below).string());
    EXPECT_EQ(d->state, kDocuments[i].state);
    EXPECT_EQ(d->family, kDocuments[i].family);
    EXPECT_STREQ(d->root, kDocuments[i].root);
  }
  // GT with only the low limit set; the channel a typo away from one described.
  const std::vector<std::string> found = codes(c.get());
  EXPECT_TRUE(has(found, "limit-unset"));
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found.back(), "undescribed");
  const qal3_check_finding* last = qal3_check_finding_at(c.get(), found.size() - 1);
  EXPECT_TRUE(last->across);
  EXPECT_EQ(last->document, 0u);
  EXPECT_NE(std::strstr(last->message, "channels.xml"), nullptr) << last->message;
  EXPECT_EQ(qal3_check_count(c.get(), QAL3_CHECK_WARNING), found.size());
  // Strict: every finding, across the documents too, is an error.
  qal3_check_set_strict(c.get(), 1);
  EXPECT_EQ(qal3_check_finding_at(c.get(), found.size() - 1)->severity, QAL3_CHECK_ERROR);
}

TEST(CheckApi, FilesThatCannotBeReadAreErrors) {
  const Folder dir;
  dir.put("big.xml", std::string(100, ' ') + kTriggers);
  const struct {
    std::string path;
    qal3_check_state state;
    const char* code;
  } kCases[] = {
      {(dir.path / "missing.xml").string(), QAL3_CHECK_UNREADABLE, "unreadable"},
      {dir.path.string(), QAL3_CHECK_UNREADABLE, "unreadable"},
      {(dir.path / "big.xml").string(), QAL3_CHECK_TOO_LARGE, "too-large"},
  };
  for (const auto& k : kCases) {
    const Checker c = make();
    qal3_check_set_max_bytes(c.get(), 64);
    EXPECT_EQ(qal3_check_file(c.get(), k.path.c_str()), 1) << k.path;
    EXPECT_EQ(qal3_check_document_at(c.get(), 0)->state, k.state) << k.path;
    EXPECT_NE(*qal3_check_document_at(c.get(), 0)->reason, '\0');
    ASSERT_EQ(qal3_check_finding_count(c.get()), 1u);
    EXPECT_STREQ(qal3_check_finding_at(c.get(), 0)->code, k.code);
    EXPECT_EQ(qal3_check_count(c.get(), QAL3_CHECK_ERROR), 1u);
  }
}

// The line the tool prints, cut at a whole character to fit.
TEST(CheckApi, FormatGivesTheToolsLine) {
  qal3_check_finding f{};
  f.file = "d\xC3\xA9.xml";
  f.line = 3;
  f.column = 7;
  f.severity = QAL3_CHECK_WARNING;
  f.message = "a\nb";
  const std::string whole = "d\xC3\xA9.xml:3:7: warning: a\\nb";
  char out[64];
  EXPECT_EQ(qal3_check_format(&f, out, sizeof out), whole.size());
  EXPECT_EQ(std::string(out), whole);
  EXPECT_EQ(qal3_check_format(&f, out, 3), whole.size());
  EXPECT_STREQ(out, "d");  // not half of the é
  f.line = 0;
  f.severity = QAL3_CHECK_ERROR;
  qal3_check_format(&f, out, sizeof out);
  EXPECT_STREQ(out, "d\xC3\xA9.xml: error: a\\nb");
}

TEST(CheckApi, KnownNamesAndTextInMemory) {
  const std::string site =
      "<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"X\"/><Function name=\"SITEFN\"/>"
      "<Operation name=\"GT\"/><LowLimit value=\"1\"/><UpperLimit value=\"1\"/></USERTRIGGER></QAL3USERTRIGGERLIST>";
  const Checker c = make();
  EXPECT_GT(qal3_check_text(c.get(), "m", site.data(), site.size()), 0);
  EXPECT_TRUE(has(codes(c.get()), "unknown-name"));
  const Checker k = make();
  qal3_check_know(k.get(), "SITEFN");
  EXPECT_EQ(qal3_check_text(k.get(), nullptr, site.data(), site.size()), 0);
  EXPECT_STREQ(qal3_check_document_at(k.get(), 0)->name, "<text>");
}

// Checkers in several threads at once, each with its own documents.
TEST(CheckApi, CheckersRunInThreads) {
  std::vector<std::thread> threads;
  std::vector<size_t> found(4);
  for (size_t t = 0; t < found.size(); ++t)
    threads.emplace_back([t, &found] {
      for (int round = 0; round < 5; ++round) {
        const Checker c = make();
        qal3_check_text(c.get(), "t.xml", kTriggers, sizeof kTriggers - 1);
        qal3_check_text(c.get(), "c.xml", kChannels, sizeof kChannels - 1);
        found[t] = qal3_check_finding_count(c.get());
      }
    });
  for (std::thread& t : threads) t.join();
  for (size_t n : found) EXPECT_EQ(n, found[0]);
  EXPECT_GT(found[0], 0u);
}

// Every record family of the descriptions (record_fields.h) is in every
// table that names families: the checker's, with a schema file, the xmllint
// script's, the root lookup of qal3_family.h and the C++ face; and the fuzz
// corpora of the targets that walk every family hold a document of it.
namespace registry {

template <class T, class = void>
struct complete : std::false_type {};
template <class T>
struct complete<T, std::void_t<decltype(sizeof(T))>> : std::true_type {};

// The family codes of the documents of the fuzz corpus `name`.
std::set<int> corpus_families(const char* name) {
  std::set<int> out;
  for (const auto& e : fs::directory_iterator(fs::path(QAL3_SCHEMA_DIR) / ".." / "fuzz" / "corpus" / name)) {
    const std::string doc = testutil::read_file(e.path().string());
    out.insert(qal3_family_of_text(doc.data(), doc.size(), nullptr));
  }
  return out;
}

void expect_root_in_tables(const char* root, const std::string& xmllint) {
  SCOPED_TRACE(root);
  const auto& families = check::families();
  const auto info = std::find_if(families.begin(), families.end(),
                                 [&](const check::FamilyInfo& f) { return std::strcmp(f.root, root) == 0; });
  ASSERT_NE(info, families.end()) << "no row in check::families()";
  EXPECT_TRUE(fs::exists(fs::path(QAL3_SCHEMA_DIR) / info->schema)) << info->schema;
  EXPECT_NE(xmllint.find(std::string(root) + ") echo " + info->schema), std::string::npos) << "xmllint script";
  EXPECT_EQ(qal3_family_of_root(root), info->code);
  for (const char* corpus : {"py_records", "check"}) {
    static std::map<std::string, std::set<int>> found;
    if (!found.count(corpus)) found[corpus] = corpus_families(corpus);
    EXPECT_EQ(found[corpus].count(info->code), 1u) << "no document in fuzz/corpus/" << corpus;
  }
}

}  // namespace registry

TEST(FamilyRegistry, EveryFamilyIsInEveryTableThatNamesFamilies) {
  const std::string xmllint = testutil::read_file(
      (fs::path(QAL3_SCHEMA_DIR) / ".." / "tests" / "schema" / "validate_with_xmllint.sh").string());
  std::apply(
      [&](auto... tag) {
        const auto one = [&](auto t) {
          using R = typename decltype(t)::type;
          using D = qal3::records::Description<R>;
          static_assert(registry::complete<qal3::Family<R>>::value, "a family of the descriptions lacks qal3::Family");
          registry::expect_root_in_tables(D::root, xmllint);
          if (const char* other = D::other_root) registry::expect_root_in_tables(other, xmllint);
        };
        (one(tag), ...);
      },
      qal3::records::Families{});
}

}  // namespace
