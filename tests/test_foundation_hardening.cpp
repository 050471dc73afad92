// Hostile documents: nothing is read from outside the document, entity
// expansion is bounded, and every failure ends as a counted error.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "SAX_File_Parser.h"
#include "SAX_Memory_Parser.h"
#include "document_limits.h"
#include "parse_chan_descr.h"
#include "parse_ev_list.h"
#include "qal3_gige_descr.h"
#include "test_util.h"

namespace {

const char kSentinel[] = "SENTINEL-SECRET-CONTENT";

// Reads the whole document; returns the parser's final result and all texts seen.
int read_all(std::string doc, std::string& texts) {
  SAX_Memory_Parser p(&doc[0]);
  if (!p.init_ok()) return -100;
  if (p.start()) return 1000;
  int rc = 0;
  for (int i = 0; i < 100000; ++i) {
    char* t = nullptr;
    char* v = nullptr;
    rc = p.parse(&t, &v);
    if (rc != 0) break;
    if (v) texts += v;
  }
  return rc;
}

TEST(Hardening, ExternalEntitiesAndDtdsAreNeverLoaded) {
  testutil::TempFile secret(kSentinel, ".txt");
  testutil::TempFile dtd("<!ENTITY leak SYSTEM \"" + secret.path() + "\">", ".dtd");
  const std::string docs[] = {
      // general entity in the internal subset naming a local file
      "<!DOCTYPE R [<!ELEMENT R ANY><!ENTITY x SYSTEM \"" + secret.path() + "\">]><R>&x;</R>",
      "<!DOCTYPE R [<!ENTITY x SYSTEM \"file://" + secret.path() + "\">]><R>&x;</R>",
      // external DTD declaring the entity
      "<!DOCTYPE R SYSTEM \"" + dtd.path() + "\"><R>&leak;</R>",
      // parameter entity pulling a file into the DTD
      "<!DOCTYPE R [<!ENTITY % p SYSTEM \"" + dtd.path() + "\"> %p;]><R>&leak;</R>",
  };
  for (const std::string& doc : docs) {
    std::string texts;
    int rc = 0;
    testutil::capture_stderr([&] { rc = read_all(doc, texts); });
    EXPECT_NE(rc, 0) << doc;
    EXPECT_EQ(texts.find(kSentinel), std::string::npos) << doc;
  }
}

// A listening socket on the loopback address that nobody should connect to.
class Listener {
 public:
  Listener() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ok_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(fd_, 4) == 0 &&
          getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
    if (ok_) fcntl(fd_, F_SETFL, O_NONBLOCK);
    port_ = ntohs(addr.sin_port);
  }
  ~Listener() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return ok_; }
  std::string url(const std::string& file) const { return "http://127.0.0.1:" + std::to_string(port_) + "/" + file; }
  bool connected() const { return accept(fd_, nullptr, nullptr) >= 0; }

 private:
  int fd_ = -1;
  bool ok_ = false;
  int port_ = 0;
};

TEST(Hardening, NoNetworkConnectionForRemoteDtd) {
  Listener server;
  ASSERT_TRUE(server.ok());
  const std::string url = server.url("x.dtd");
  std::string texts;
  int rc = 0;
  testutil::capture_stderr([&] { rc = read_all("<!DOCTYPE R SYSTEM \"" + url + "\"><R>x</R>", texts); });
  EXPECT_NE(rc, 0);
  EXPECT_FALSE(server.connected()) << "the parser connected to " << url;
}

// A file reader given a URL in place of a path fetches nothing: only file:
// URLs are opened, as local files.
TEST(Hardening, FileReadersNeverFetchUrls) {
  Listener server;
  ASSERT_TRUE(server.ok());
  std::string url = server.url("list.xml");
  int events_rc = 0, chans_rc = 0, start_rc = 0;
  bool features_failed = false;
  std::string err;
  const std::string out = testutil::capture_stdout([&] {
    err = testutil::capture_stderr([&] {
      std::vector<qal3_ev_entry*> events;
      events_rc = qal3_parse_ev_list_readf(&url[0], &events);
      qal3_clean_ev_list(&events);
      std::vector<chan_descr_2010*> chans;
      chans_rc = parse_descr_list_readf(&url[0], &chans, false, false);
      clean_chan_desr_list(&chans);
      std::vector<QAL3GigEFeature*> features;
      features_failed = qal3_fill_gige_descr(&url[0], &features);
      SAX_File_Parser p;
      start_rc = p.init_ok() ? p.start(&url[0]) : -1;
    });
  });
  EXPECT_NE(events_rc, 0);
  EXPECT_NE(chans_rc, 0);
  EXPECT_TRUE(features_failed);
  EXPECT_GT(start_rc, 0);
  EXPECT_NE(err.find("http"), std::string::npos) << err;
  EXPECT_NE(out.find("http"), std::string::npos) << out;  // the feature reader's message
  EXPECT_FALSE(server.connected()) << "a reader connected to " << url;

  testutil::TempFile local("<BMR><EVENT><TYPE>1</TYPE></EVENT></BMR>");
  std::string file_url = "file://" + local.path();
  std::vector<qal3_ev_entry*> events;
  EXPECT_EQ(qal3_parse_ev_list_readf(&file_url[0], &events), 0);
  EXPECT_EQ(events.size(), 1u);
  qal3_clean_ev_list(&events);
}

TEST(Hardening, NestedEntitiesEndAsAnError) {
  // Ten references per level, eight levels: 10^8 expansions if unbounded.
  std::string dtd = "<!ENTITY e0 \"lol\">";
  for (int level = 1; level <= 8; ++level) {
    std::string refs;
    for (int i = 0; i < 10; ++i) refs += "&e" + std::to_string(level - 1) + ";";
    dtd += "<!ENTITY e" + std::to_string(level) + " \"" + refs + "\">";
  }
  const std::string doc = "<!DOCTYPE R [" + dtd + "]><R><X>&e8;</X></R>";
  std::string texts;
  int rc = 0;
  testutil::capture_stderr([&] { rc = read_all(doc, texts); });
  EXPECT_GT(rc, 0);
  EXPECT_LT(texts.size(), 1u << 21);
}

// The expansion budget is each document's own, also when the thread's
// parser is kept from one document to the next.
TEST(Hardening, EachDocumentHasItsOwnExpansionBudget) {
  const auto expanding = [](std::size_t n) {
    std::string refs;
    for (std::size_t i = 0; i < n; ++i) refs += "&e;";
    return "<!DOCTYPE R [<!ELEMENT R (X)><!ELEMENT X (#PCDATA)><!ENTITY e \"x\">]><R><X>" + refs + "</X></R>";
  };
  const std::size_t limit = qal3::limits::kEntityExpansionLimit;
  const struct {
    std::size_t expansions;
    bool read;
  } documents[] = {{limit * 3 / 5, true}, {limit * 3 / 5, true}, {limit + 1, false}, {limit, true}};
  for (const auto& d : documents) {
    std::string texts;
    int rc = 0;
    testutil::capture_stderr([&] { rc = read_all(expanding(d.expansions), texts); });
    EXPECT_EQ(rc == -1, d.read) << d.expansions << " expansions";
  }
}

TEST(Hardening, InternalEntitiesStillWork) {
  std::string texts;
  const int rc = read_all(
      "<!DOCTYPE R [<!ELEMENT R (X)><!ELEMENT X (#PCDATA)><!ENTITY who \"world\">]>"
      "<R><X>hello &who;</X></R>",
      texts);
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(texts, "hello world");
}

// A small internal DTD's attribute default still supplies its value.
TEST(Hardening, AttributeDefaultsStillApply) {
  std::string doc =
      "<!DOCTYPE R [<!ELEMENT R (X)*><!ELEMENT X EMPTY><!ATTLIST X a CDATA \"d\">]><R><X/><X a=\"s\"/></R>";
  SAX_Memory_Parser p(&doc[0]);
  ASSERT_TRUE(p.init_ok());
  ASSERT_EQ(p.start(), 0);
  std::string values;
  char* tag = nullptr;
  char* value = nullptr;
  char* a = nullptr;
  char name[] = "a";
  while (p.parse(&tag, &value) == 0)
    if (tag && std::string(tag) == "X" && p.get_attr(name, &a) == 0) values += a;
  EXPECT_EQ(values, "ds");
}

TEST(Hardening, MalformedAndTruncatedDocumentsFailCleanly) {
  const std::string good =
      "<?xml version=\"1.0\"?><BMR><EVENT><TYPE>1</TYPE><SBLOCK>S<CHLIST><CHAN>c</CHAN>"
      "</CHLIST></SBLOCK></EVENT></BMR>";
  testutil::capture_stderr([&] {
    for (std::size_t n = 0; n < good.size(); ++n) {
      std::string doc = good.substr(0, n);
      std::vector<qal3_ev_entry*> list;
      EXPECT_NE(qal3_parse_ev_list_read(&doc[0], &list), 0) << n;
      qal3_clean_ev_list(&list);
    }
    const char* junk[] = {"\xff\xfe<",
                          "<a",
                          "<<<>>>",
                          "<a b=>",
                          "<a>&undefined;</a>",
                          "<a>&#0;</a>",
                          "<a>\x01</a>",
                          "<?xml version=\"9\"?><a/>",
                          "<a></b>",
                          "<!DOCTYPE"};
    for (const char* j : junk) {
      std::string doc = j;
      std::vector<qal3_ev_entry*> list;
      EXPECT_NE(qal3_parse_ev_list_read(&doc[0], &list), 0) << j;
      qal3_clean_ev_list(&list);
    }
    // A file's data after a NUL that follows the root is refused, not dropped.
    testutil::TempFile nul(good + std::string(1, '\0') + good);
    std::string path = nul.path();
    std::vector<qal3_ev_entry*> list;
    EXPECT_NE(qal3_parse_ev_list_readf(&path[0], &list), 0);
    qal3_clean_ev_list(&list);
  });
}

}  // namespace
