// A document reads the same on every thread, whatever the thread read
// before: each document of the fuzz corpora and the examples, read by its
// family on a fresh thread and on one thread right after a "poisoning"
// document, gives the same code, records and lines.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "parse_chan_descr.h"
#include "parse_ev_list.h"
#include "qal3_messages.h"
#include "qal3_xml_platform.h"
#include "record_fields.h"
#include "test_util.h"

namespace {

namespace rec = qal3::records;

// What one read gave: its code, its records as the family writes them, and
// its lines with their fields.
std::string outcome_of(const std::function<int(std::string*)>& read) {
  std::string lines, records;
  int code = 0;
  {
    auto collect = [&](const qal3_message& m) {
      lines += std::to_string(m.kind) + ' ' + (m.document ? m.document : "-") + ':' + std::to_string(m.line) + ':' +
               std::to_string(m.column) + ' ' + std::string(m.text, m.length) + '\n';
    };
    qal3::ThreadMessageSink guard(collect);
    code = read(&records);
  }
  return std::to_string(code) + '\n' + records + lines;
}

template <class R>
int read_family(const std::string& document, std::string* records) {
  rec::OwnedList<R> list;
  std::string text = document;
  const int code = rec::Description<R>::read_text(&text[0], text.size(), &list.items, rec::Options{});
  if (!list.items.empty()) rec::Description<R>::write_text(&list.items, records, rec::Options{});
  return code;
}

struct Family {
  const char* name;
  std::vector<const char*> corpora;  // fuzz/corpus folders of its documents
  int (*read)(const std::string&, std::string*);
};

// The fuzz corpora of the documents of each root element.
const std::vector<std::pair<std::string, std::vector<const char*>>> kCorpora = {
    {"BMR", {"evlist", "pull_parser"}}, {"CHANDESCRIPTIONS", {"chan_descr", "chan_load"}},
    {"ENVINDEXDICT", {"envdict"}},      {"QAL3USERTRIGGERLIST", {"trigger_list"}},
    {"RegisterDescription", {"gige"}},
};

// Every family, the event list first; a family whose root has no corpus
// fails the test.
std::vector<Family> families() {
  std::vector<Family> out;
  const auto add = [&](auto tag) {
    using R = typename decltype(tag)::type;
    const char* root = rec::Description<R>::root;
    const auto c = std::find_if(kCorpora.begin(), kCorpora.end(), [&](const auto& e) { return e.first == root; });
    if (c == kCorpora.end()) ADD_FAILURE() << root << " has no corpus here";
    out.push_back({root, c == kCorpora.end() ? std::vector<const char*>{} : c->second, read_family<R>});
  };
  std::apply([&](auto... tag) { (add(tag), ...); }, rec::Families{});
  return out;
}

// Documents that leave the most in a parser: another version, another
// encoding, a DTD with entities and defaults, a failed document, a large one.
std::vector<std::string> poisons() {
  std::string large = "<BMR>";
  for (int i = 0; i < 2000; ++i) large += "<ENTRY><EVENT_TYPE>" + std::to_string(i) + "</EVENT_TYPE></ENTRY>";
  large += "</BMR>";
  return {
      "<?xml version=\"1.1\"?><BMR><ENTRY><EVENT_TYPE>1&#1;\xc2\x85</EVENT_TYPE></ENTRY></BMR>",
      "<?xml version=\"1.0\" encoding=\"UTF-16\"?><BMR/>",
      std::string("\xfe\xff\0<\0B\0M\0R\0/\0>", 14),
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><BMR><ENTRY><EVENT_TYPE>\xe9</EVENT_TYPE></ENTRY></BMR>",
      "<!DOCTYPE BMR [<!ELEMENT BMR ANY><!ENTITY e \"<ENTRY/>\"><!ENTITY lt2 \"&lt;\">"
      "<!ATTLIST ENTRY d CDATA 'x' standalone CDATA #FIXED 'yes'>]><BMR>&e;&e;<ENTRY/></BMR>",
      "<BMR><ENTRY><EVENT_TYPE>1</EVENT_TYPE></ENTRY",
      "<?xml version=\"1.1\" encoding=\"US-ASCII\" standalone=\"yes\"?>\n<BMR/>",
      large,
  };
}

std::vector<std::string> documents(const Family& family) {
  std::vector<std::string> out;
  for (const char* corpus : family.corpora) {
    const std::string dir = std::string(QAL3_EXAMPLES_DIR) + "/../fuzz/corpus/" + corpus;
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
      while (const dirent* e = readdir(d))
        if (e->d_name[0] != '.') names.push_back(e->d_name);
      closedir(d);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) out.push_back(testutil::read_file(dir + "/" + n));
  }
  for (const char* example : {"evlist_basic.xml", "evlist_multi.xml", "chan_descriptions.xml", "chan_daqvariables.xml",
                              "envdict.xml", "triggers.xml", "plot_hard_triggers.xml", "gige_camera.xml"})
    out.push_back(testutil::read_file(std::string(QAL3_EXAMPLES_DIR) + "/" + example));
  // Texts that XML 1.0 and 1.1 read apart: a control character by
  // reference, C1 controls as they are (NEL is a line end in 1.1).
  for (const char* text : {"&#1;", "\xc2\x96",
                           "a\xc2\x85"
                           "b",
                           "\xe2\x80\xa8"})
    out.push_back(std::string("<BMR><ENTRY><EVENT_TYPE>") + text + "</EVENT_TYPE></ENTRY></BMR>");
  return out;
}

// Runs f on a new thread with a fixed clock, as every read here does.
template <class F>
void on_new_thread(F&& f) {
  std::thread([&] {
    const std::time_t when = 1700000000;
    qal3::ThreadClock clock(&when);
    f();
    qal3_xml_drop_thread_parser();
  }).join();
}

TEST(CarryOver, EveryDocumentReadsAsOnAFreshThread) {
  const std::vector<std::string> poison = poisons();
  const std::vector<Family> all = families();
  for (const Family& family : all) {
    for (const std::string& doc : documents(family)) {
      const auto read = [&](std::string* records) { return family.read(doc, records); };
      std::string fresh;
      on_new_thread([&] { fresh = outcome_of(read); });
      on_new_thread([&] {
        for (std::size_t p = 0; p < poison.size(); ++p) {
          outcome_of([&](std::string* r) { return all[0].read(poison[p], r); });  // the thread's one parser
          ASSERT_EQ(outcome_of(read), fresh) << family.name << " after poison " << p << " of:\n" << doc.substr(0, 400);
        }
      });
    }
  }
}

}  // namespace
