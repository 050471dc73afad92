// The documents of the reader benchmarks and the floor they are measured
// against: a raw Xerces SAXParser progressive parse (parseFirst +
// parseNext) whose handler only counts elements and copies text. Shared by
// bench_readers (time) and bench_ir_readers (instruction counts).
#ifndef QAL3_BENCH_READER_DOCUMENTS_H
#define QAL3_BENCH_READER_DOCUMENTS_H

#include <cstdlib>
#include <string>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/AttributeList.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/PlatformUtils.hpp>

namespace bench_docs {

// ---------------------------------------------------------------------------
// Documents

inline std::string chan_doc(int n) {
  std::string d = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<CHANDESCRIPTIONS>\n";
  for (int i = 0; i < n; ++i) {
    const std::string k = std::to_string(i);
    d += "<CHANNEL>\n<STREAM>1</STREAM>\n<EVTYPE>1</EVTYPE>\n<DTYPE>38</DTYPE>\n<DB_KEY>" + k +
         "</DB_KEY>\n<COUNT>0</COUNT>\n<SB_NAME>BPM_BLOCK</SB_NAME>\n<PROP>DEVICE/BPM." + k +
         "/POSITION.X</PROP>\n<NAME>BPM." + k +
         ".X</NAME>\n<SETPOINT>0</SETPOINT>\n<SUBSYSTEM>DIAG</SUBSYSTEM>\n<UNITS>mm</UNITS>\n"
         "<DESC>Horizontal beam position &amp; quality at monitor " +
         k +
         "</DESC>\n<SIZE>1</SIZE>\n<BIT>0\n<BIT_NAME>VALID</BIT_NAME>\n<BIT_DESCR>position is "
         "valid</BIT_DESCR>\n</BIT>\n"
         "<BIT>1\n<BIT_NAME>SAT</BIT_NAME>\n<BIT_DESCR>signal saturated</BIT_DESCR>\n</BIT>\n"
         "<DIM>0\n<DIM_NAME>time</DIM_NAME>\n<DIM_UNITS>us</DIM_UNITS>\n<DIM_DESCR>time axis</DIM_DESCR>\n"
         "<STAT>1\n<STAT_NAME>mean</STAT_NAME>\n<STAT_UNITS>mm</STAT_UNITS>\n<STAT_DESCR>mean "
         "value</STAT_DESCR>\n</STAT>\n"
         "</DIM>\n</CHANNEL>\n";
  }
  return d + "</CHANDESCRIPTIONS>\n";
}

inline std::string evlist_doc(int n) {
  std::string d = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<BMR>\n";
  for (int i = 0; i < n; ++i) {
    const std::string k = std::to_string(i);
    d += "\t<EVENT>\n\t\t<TYPE>" + std::to_string(i % 33) + "</TYPE>\n\t\t<TMASK>0x1F</TMASK>\n\t\t<MINTIMESEC>" + k +
         "</MINTIMESEC>\n\t\t<PRIORITY>3</PRIORITY>\n\t\t<SBLOCK>BLOCK_" + k + "<CHLIST>\n\t\t\t<CHAN>CH." + k +
         ".A</CHAN>\n\t\t\t<CHAN>CH." + k + ".B</CHAN>\n\t\t</CHLIST>\n\t\t</SBLOCK>\n\t</EVENT>\n";
  }
  return d + "</BMR>\n";
}

inline std::string envdict_doc(int n) {
  std::string d = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<ENVINDEXDICT>\n";
  for (int i = 0; i < n; ++i) {
    const std::string k = std::to_string(i);
    d += "<CHANNEL>\n<INDEX>" + k + "</INDEX>\n<PROP>FACILITY/ENV/SENSOR." + k +
         "/TEMPERATURE</PROP>\n<DABS>0.500000</DABS>\n<DREL>0.010000</DREL>\n</CHANNEL>\n";
  }
  return d + "</ENVINDEXDICT>\n\n";
}

inline std::string trigger_doc(int n) {
  std::string d = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<QAL3USERTRIGGERLIST>\n";
  for (int i = 0; i < n; ++i) {
    const std::string k = std::to_string(i);
    d += "<USERTRIGGER>\n<Chan name=\"DEVICE/TOROID." + k + "/CHARGE\" subchan=\"0\"/>\n<Function name=\"MEAN\"";
    for (int p = 0; p < 16; ++p) d += " param" + std::to_string(p) + "=\"" + std::to_string(p) + ".500000\"";
    d += "/>\n<Operation name=\"INSIDE\"/>\n<LowLimit value=\"1.000000\"/>\n<UpperLimit value=\"2.000000\"/>\n"
         "<BitMask mask=\"0x1F\"/>\n<Creation time=\"1765000000\"/>\n<Description text=\"charge window " +
         k + "\"/>\n<PreMode events=\"0\"/>\n<PostMode events=\"0\"/>\n<Group name=\"G1\"/>\n</USERTRIGGER>\n";
  }
  return d + "</QAL3USERTRIGGERLIST>\n";
}

// A document of about `bytes` bytes made from `make(n)`.
template <class Make>
std::string sized(Make make, std::size_t bytes) {
  int n = 1;
  while (make(n).size() < bytes) ++n;
  return make(n);
}

// ---------------------------------------------------------------------------
// The floor: raw progressive SAX parse with a handler that counts and copies.

class CountingHandler : public xercesc::HandlerBase {
 public:
  void startElement(const XMLCh* const, xercesc::AttributeList& attrs) override {
    ++elements;
    attributes += attrs.getLength();
  }
  void characters(const XMLCh* const chars, const XMLSize_t length) override { text.assign(chars, chars + length); }
  std::size_t elements = 0;
  std::size_t attributes = 0;
  std::u16string text;
};

struct RawParser {
  RawParser() {
    xercesc::XMLPlatformUtils::Initialize();
    parser = new xercesc::SAXParser();
    parser->setDocumentHandler(&handler);
    parser->setErrorHandler(&handler);
    parser->setValidationScheme(xercesc::SAXParser::Val_Auto);
    parser->setDoNamespaces(false);
    parser->setDoSchema(false);
  }
  ~RawParser() {
    delete parser;
    xercesc::XMLPlatformUtils::Terminate();
  }
  std::size_t parse(const std::string& doc) {
    xercesc::MemBufInputSource src(reinterpret_cast<const XMLByte*>(doc.data()), doc.size(), "bench", false);
    xercesc::XMLPScanToken token;
    if (!parser->parseFirst(src, token)) std::abort();
    while (parser->parseNext(token)) {
    }
    parser->parseReset(token);
    return handler.elements;
  }
  CountingHandler handler;
  xercesc::SAXParser* parser;
};

}  // namespace bench_docs

#endif  // QAL3_BENCH_READER_DOCUMENTS_H
