// GigE feature files: features, names, extensions and texts, printing,
// failures and hostile files.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>
#include <xercesc/dom/DOM.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include "document_limits.h"
#include "pull_reader.h"
#include "qal3.hpp"
#include "qal3_gige_descr.h"
#include "test_util.h"

using testutil::capture_stdout;
using testutil::TempFile;

namespace {

// A feature list destroyed with the library's clean function.
struct Features {
  qal3::List<QAL3GigEFeature> owned;
  std::vector<QAL3GigEFeature*>& v = owned.records();
  const QAL3GigEFeature& operator[](std::size_t i) const { return *v.at(i); }
};

// Reads `xml` from a scratch file; returns the result, keeps what was printed.
bool read_doc(const std::string& xml, Features& f, std::string* printed = nullptr) {
  TempFile file(xml);
  bool rc = false;
  const std::string out = capture_stdout([&] { rc = qal3_fill_gige_descr(file.c_path(), &f.v); });
  if (printed) *printed = out;
  return rc;
}

std::string listing(Features& f) {
  return capture_stdout([&] { qal3_dump_gige_descr(&f.v); });
}

std::string doc(const std::string& body) { return "<RegisterDescription>" + body + "</RegisterDescription>"; }

}  // namespace

TEST(GigERead, FeatureWithToolTipWithOrWithoutWhitespace) {
  for (const std::string& gap : {std::string(), std::string("\n    ")}) {
    Features f;
    ASSERT_FALSE(read_doc(doc(gap + "<Integer Name=\"Gain\">" + gap + "<ToolTip>Gain of the amplifier.</ToolTip>" +
                              gap + "</Integer>" + gap),
                          f));
    ASSERT_EQ(1u, f.v.size());
    EXPECT_EQ(FEATURE_TYPE_INT, f[0].type);
    EXPECT_EQ("Gain", f[0].name);
    EXPECT_EQ("", f[0].extension);
    EXPECT_EQ("Gain of the amplifier.", f[0].tooltip);
    EXPECT_EQ("", f[0].description);
    EXPECT_EQ("[0] Name:'Gain' type:1 ToolTip:'Gain of the amplifier.' Description:''\n", listing(f));
  }
}

TEST(GigERead, ExtensionsNamesAndTexts) {
  Features f;
  ASSERT_FALSE(read_doc(doc("<ToolTip>before any feature</ToolTip>"
                            "<Float Name=\"Exp\"><Extension><PvRename>ExpAbs</PvRename></Extension></Float>"
                            "<Integer Name=\"Raw\"><Extension><PvRename Name=\"Cooked\"/></Extension></Integer>"
                            // no name on the element: a later element's Name fills it
                            "<Command><pValue Name=\"Go\">Reg</pValue><Description/>\n  </Command>"
                            // a second feature takes the later texts
                            "<Boolean Name=\"B1\"/><Enumeration Name=\"E\"><ToolTip>t</ToolTip>"
                            "<Description>d</Description><EnumEntry Name=\"ignored\"/></Enumeration>"
                            // never named; an awaited text that never comes ends empty
                            "<StringReg><PvRename/></StringReg>"
                            "<Undefined Name=\"U\"/><IntReg Name=\"R\"/><Int64 Name=\"L\"/>"),
                        f));
  ASSERT_EQ(9u, f.v.size());
  EXPECT_EQ("ExpAbs", f[0].extension);
  EXPECT_EQ("Cooked", f[1].extension);
  EXPECT_EQ("Go", f[2].name);
  EXPECT_EQ("\n  ", f[2].description);  // whitespace after an empty Description
  EXPECT_EQ("", f[3].tooltip);
  EXPECT_EQ("t", f[4].tooltip);
  EXPECT_EQ("d", f[4].description);
  EXPECT_EQ("E", f[4].name);
  EXPECT_EQ("", f[5].name);
  EXPECT_EQ("", f[5].extension);
  const int types[] = {2, 1, 6, 4, 3, 5, 0, 7, 8};
  for (std::size_t i = 0; i < 9; ++i) {
    EXPECT_EQ(types[i], f[i].type);
    for (const std::string* s : {&f[i].name, &f[i].extension, &f[i].tooltip, &f[i].description})
      EXPECT_TRUE(*s != "Unknown" && *s != "Waiting") << i;
  }
  EXPECT_EQ(
      "[0] Name:'Exp' Extension:'ExpAbs' type:2 ToolTip:'' Description:''\n"
      "[1] Name:'Raw' Extension:'Cooked' type:1 ToolTip:'' Description:''\n"
      "[2] Name:'Go' type:6 ToolTip:'' Description:'\n  '\n"
      "[3] Name:'B1' type:4 ToolTip:'' Description:''\n"
      "[4] Name:'E' type:3 ToolTip:'t' Description:'d'\n"
      "[6] Name:'U' type:0 ToolTip:'' Description:''\n"
      "[7] Name:'R' type:7 ToolTip:'' Description:''\n"
      "[8] Name:'L' type:8 ToolTip:'' Description:''\n",
      listing(f));
}

TEST(GigERead, TextsOfLaterElementsStayWithThem) {
  // A converter's (or any non-feature element's) texts and Name are not the
  // feature's before it; texts inside a feature's element are.
  Features f;
  ASSERT_FALSE(read_doc(doc("<Integer Name=\"Gain\"><ToolTip>gain tip</ToolTip><Description>Own</Description>"
                            "</Integer><IntConverter Name=\"GainConv\"><ToolTip>converter tip</ToolTip>"
                            "<Description>Conv</Description></IntConverter>"
                            "<Float><Description/></Float><Category Name=\"C\"><PvRename>x</PvRename>"
                            "<ToolTip>category tip</ToolTip></Category>\n"),
                        f));
  EXPECT_EQ("[0] Name:'Gain' type:1 ToolTip:'gain tip' Description:'Own'\n", listing(f));
  ASSERT_EQ(2u, f.v.size());
  EXPECT_EQ("", f[1].name);
  EXPECT_EQ("", f[1].extension);
  EXPECT_EQ("", f[1].tooltip);
  EXPECT_EQ("", f[1].description);
}

TEST(GigERead, ExampleFilePrintsItsFeatures) {
  Features f;
  std::string path = QAL3_EXAMPLES_DIR "/gige_camera.xml";
  ASSERT_FALSE(qal3_fill_gige_descr(&path[0], &f.v));
  EXPECT_EQ(
      "[0] Name:'Width' type:1 ToolTip:'Width of the image in pixels.' Description:'Number of "
      "pixels per line sent by the camera.'\n"
      "[1] Name:'WidthReg' type:7 ToolTip:'' Description:''\n"
      "[2] Name:'PixelFormat' type:3 ToolTip:'Format of the pixels sent by the camera.' "
      "Description:''\n"
      "[3] Name:'ExposureTime' Extension:'ExposureTimeAbs' type:2 ToolTip:'Exposure time in "
      "microseconds.' Description:'Time during which the sensor collects light for one image.'\n"
      "[4] Name:'GainRaw' Extension:'Gain' type:1 ToolTip:'Analog gain in steps of the camera.' "
      "Description:''\n"
      "[5] Name:'AcquisitionStart' type:6 ToolTip:'Starts the acquisition of images.' "
      "Description:''\n"
      "[7] Name:'DeviceUserID' type:5 ToolTip:'' Description:'Name that the user gives the "
      "camera.'\n"
      "[8] Name:'TimestampTick' type:8 ToolTip:'Clock ticks of the time stamp per second.' "
      "Description:''\n",
      listing(f));
  EXPECT_EQ(9u, f.v.size());

  // A second read replaces the list's contents; the caller cleans first.
  qal3_clean_gige_descr(&f.v);
  ASSERT_FALSE(qal3_fill_gige_descr(&path[0], &f.v));
  EXPECT_EQ(9u, f.v.size());

  // dump_nodes over the caller's DOM gives the same records, except that a
  // string the file leaves empty keeps its placeholder ("Unknown", "Waiting").
  Features dom;
  xercesc::XMLPlatformUtils::Initialize();
  {
    xercesc::XercesDOMParser parser;
    parser.parse(path.c_str());
    ASSERT_NE(parser.getDocument(), nullptr);
    EXPECT_FALSE(dump_nodes(parser.getDocument()->getChildNodes(), &dom.v));
  }
  xercesc::XMLPlatformUtils::Terminate();
  ASSERT_EQ(f.v.size(), dom.v.size());
  for (std::size_t i = 0; i < f.v.size(); ++i) {
    EXPECT_EQ(f[i].type, dom[i].type) << i;
    const std::string* read[] = {&f[i].name, &f[i].extension, &f[i].tooltip, &f[i].description};
    const std::string* walked[] = {&dom[i].name, &dom[i].extension, &dom[i].tooltip, &dom[i].description};
    for (int k = 0; k < 4; ++k) {
      const bool placeholder = *walked[k] == "Unknown" || *walked[k] == "Waiting";
      EXPECT_EQ(*read[k], placeholder ? "" : *walked[k]) << i << " " << k;
    }
  }
  EXPECT_EQ(dom[1].tooltip, "Unknown");
}

TEST(GigERead, DefaultAttributesAsThePullReadersTakeThem) {
  for (const char* name : {"", " Name=\"own\""}) {
    std::string xml =
        "<!DOCTYPE RegisterDescription [<!ELEMENT RegisterDescription ANY><!ELEMENT Integer EMPTY>"
        "<!ATTLIST Integer Name CDATA \"default\">]>" +
        doc(std::string("<Integer") + name + "/>");
    std::string pulled;
    qal3::reader::read(
        qal3::reader::Document::in_memory(&xml[0]), [](const char*) { return true; },
        [&](const qal3::reader::Step& step) {
          if (const char* v = step.attr("Name")) pulled = v;
          return true;
        });
    Features f;
    ASSERT_FALSE(read_doc(xml, f)) << name;
    ASSERT_EQ(1u, f.v.size());
    EXPECT_EQ(pulled, f[0].name) << name;
  }
}

TEST(GigERead, NoFeaturesAndNullArguments) {
  Features f;
  EXPECT_FALSE(read_doc(doc("<Category Name=\"Root\"><ToolTip>x</ToolTip></Category>"), f));
  EXPECT_TRUE(f.v.empty());
  EXPECT_EQ("", listing(f));

  char name[] = "whatever.xml";
  EXPECT_TRUE(qal3_fill_gige_descr(nullptr, &f.v));
  EXPECT_TRUE(qal3_fill_gige_descr(name, nullptr));
  EXPECT_TRUE(dump_nodes(nullptr, &f.v));
  EXPECT_EQ("", capture_stdout([] { qal3_dump_gige_descr(nullptr); }));
  qal3_clean_gige_descr(nullptr);
}

TEST(GigEFailure, BrokenOrMissingFilesLeaveTheListAlone) {
  Features f;
  ASSERT_FALSE(read_doc(doc("<Integer Name=\"Keep\"/>"), f));
  const QAL3GigEFeature* kept = f.v.at(0);

  const char* broken[] = {
      "<RegisterDescription><Integer Name=\"A\"></Float></RegisterDescription>",
      "<RegisterDescription><Integer Name=\"A\">",
      "<RegisterDescription><Integer Name=\"A\" Name=\"B\"/></RegisterDescription>",
      "",
      "not xml at all",
      "<RegisterDescription>&undefined;</RegisterDescription>",
      "<!DOCTYPE RegisterDescription SYSTEM \"x.dtd\"><RegisterDescription>a&leak;b</RegisterDescription>",
      "<RegisterDescription/><second/>",
  };
  for (const char* xml : broken) {
    std::string printed;
    EXPECT_TRUE(read_doc(xml, f, &printed)) << xml;
    EXPECT_EQ(0u, printed.rfind("An error occurred during parsing  Message: ", 0)) << printed;
    ASSERT_EQ(1u, f.v.size());
    EXPECT_EQ(kept, f.v[0]);
  }

  std::string missing = "/nonexistent/qal3-camera.xml";
  const std::string printed = capture_stdout([&] { EXPECT_TRUE(qal3_fill_gige_descr(&missing[0], &f.v)); });
  EXPECT_NE(std::string::npos, printed.find("An error occurred during parsing  Message: "));
  EXPECT_EQ(1u, f.v.size());
}

TEST(GigEFailure, HostileFilesNeitherLoadFilesNorExplode) {
  TempFile secret("QAL3-SENTINEL-TEXT\n", ".txt");
  auto holds_secret = [](const Features& f) {
    for (const QAL3GigEFeature* x : f.v)
      for (const std::string* s : {&x->name, &x->extension, &x->tooltip, &x->description})
        if (s->find("SENTINEL") != std::string::npos) return true;
    return false;
  };

  // An external entity naming a local file.
  Features e;
  read_doc("<!DOCTYPE R [<!ENTITY s SYSTEM \"" + secret.path() +
               "\">]>\n"
               "<R><Integer Name=\"A\"><ToolTip>&s;</ToolTip></Integer></R>",
           e);
  EXPECT_FALSE(holds_secret(e));
  Features p;
  read_doc("<!DOCTYPE R [<!ENTITY % s SYSTEM \"" + secret.path() +
               "\"> %s;]>\n"
               "<R><Integer Name=\"A\"><ToolTip>x</ToolTip></Integer></R>",
           p);
  EXPECT_FALSE(holds_secret(p));
  // An external DTD is not loaded either.
  Features d;
  EXPECT_FALSE(read_doc("<!DOCTYPE R SYSTEM \"" + secret.path() + "\">\n<R><Integer Name=\"A\"/></R>", d));
  EXPECT_EQ(1u, d.v.size());

  // Nested entities: 10 references per level, 8 levels.
  std::string bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE R [\n<!ENTITY a0 \"lol\">\n";
  for (int i = 1; i <= 8; ++i) {
    bomb += "<!ENTITY a" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) bomb += "&a" + std::to_string(i - 1) + ";";
    bomb += "\">\n";
  }
  bomb += "]>\n<R><Integer Name=\"A\"><ToolTip>&a8;</ToolTip></Integer></R>\n";
  Features b;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_TRUE(read_doc(bomb, b));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_TRUE(b.v.empty());

  // Nesting up to the limit is read; one level more ends as an error that
  // names the limit (the cost of much deeper files: the cost tests).
  for (const std::size_t depth : {qal3::limits::kMaxDepth - 1, qal3::limits::kMaxDepth}) {
    std::string deep = "<R>";
    for (std::size_t i = 0; i < depth; ++i) deep += "<Integer Name=\"n\">";
    for (std::size_t i = 0; i < depth; ++i) deep += "</Integer>";
    deep += "</R>";
    Features n;
    std::string printed;
    const bool too_deep = depth + 1 > qal3::limits::kMaxDepth;
    EXPECT_EQ(too_deep, read_doc(deep, n, &printed));
    EXPECT_EQ(too_deep ? 0u : depth, n.v.size());
    if (too_deep) {
      EXPECT_NE(std::string::npos, printed.find("nested deeper than the limit of 256")) << printed;
    }
  }
}

TEST(GigEWriter, WrittenFileReadsBackToTheSameRecords) {
  Features in;
  ASSERT_FALSE(read_doc(doc("<Integer Name=\"Gain &amp; &quot;x&quot;\"><ToolTip>a &lt; b</ToolTip>"
                            "<Description>\xC2\xB5s</Description><Extension><PvRename>PV:1</PvRename></Extension>"
                            "</Integer><Command/><Float Name=\"F\"/>"),
                        in));
  ASSERT_EQ(in.v.size(), 3u);
  std::string text;
  ASSERT_EQ(qal3_write_gige_descr(&in.v, nullptr, -1, &text), 0);
  Features back;
  ASSERT_FALSE(read_doc(text, back));
  ASSERT_EQ(back.v.size(), in.v.size());
  for (std::size_t i = 0; i < in.v.size(); ++i) {
    EXPECT_EQ(back[i].type, in[i].type);
    EXPECT_EQ(back[i].name, in[i].name);
    EXPECT_EQ(back[i].extension, in[i].extension);
    EXPECT_EQ(back[i].tooltip, in[i].tooltip);
    EXPECT_EQ(back[i].description, in[i].description);
  }

  // The same bytes in a file; what the file cannot hold is refused whole.
  TempFile file;
  EXPECT_EQ(qal3_write_gige_descr(&in.v, file.c_path(), -1, nullptr), 0);
  EXPECT_EQ(file.read(), text);
  capture_stdout([&] {
    EXPECT_EQ(qal3_write_gige_descr(nullptr, nullptr, -1, &text), 2);
    in.v[0]->type = FEATURE_TYPE_MAX;
    EXPECT_EQ(qal3_write_gige_descr(&in.v, nullptr, -1, &text), 2);
    in.v[0]->type = 0;
    in.v[1]->name = std::string("a\0b", 3);
    EXPECT_EQ(qal3_write_gige_descr(&in.v, nullptr, -1, &text), 2);
  });
}
