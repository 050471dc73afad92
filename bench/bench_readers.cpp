// Reader speed against the floor of the pull design: a raw Xerces SAXParser
// progressive parse (parseFirst + parseNext) of the same document whose
// handler only counts and copies text. Run bench/ratios.py on this binary's
// JSON output for the ratios.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/AttributeList.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef QAL3_HAVE_PUGIXML
#include <pugixml.hpp>
#endif

#include "event_util.h"
#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "user_case_trigger.h"

namespace {

// ---------------------------------------------------------------------------
// Documents

std::string chan_doc(int n) {
  std::string d = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<CHANDESCRIPTIONS>\n";
  for (int i = 0; i < n; ++i) {
    const std::string k = std::to_string(i);
    d += "<CHANNEL>\n<STREAM>1</STREAM>\n<EVTYPE>1</EVTYPE>\n<DTYPE>38</DTYPE>\n<DB_KEY>" + k +
         "</DB_KEY>\n<COUNT>0</COUNT>\n<SB_NAME>BPM_BLOCK</SB_NAME>\n<PROP>DEVICE/BPM." + k +
         "/POSITION.X</PROP>\n<NAME>BPM." + k +
         ".X</NAME>\n<SETPOINT>0</SETPOINT>\n<SUBSYSTEM>DIAG</SUBSYSTEM>\n<UNITS>mm</UNITS>\n"
         "<DESC>Horizontal beam position &amp; quality at monitor " + k +
         "</DESC>\n<SIZE>1</SIZE>\n<BIT>0\n<BIT_NAME>VALID</BIT_NAME>\n<BIT_DESCR>position is valid</BIT_DESCR>\n</BIT>\n"
         "<BIT>1\n<BIT_NAME>SAT</BIT_NAME>\n<BIT_DESCR>signal saturated</BIT_DESCR>\n</BIT>\n"
         "<DIM>0\n<DIM_NAME>time</DIM_NAME>\n<DIM_UNITS>us</DIM_UNITS>\n<DIM_DESCR>time axis</DIM_DESCR>\n"
         "<STAT>1\n<STAT_NAME>mean</STAT_NAME>\n<STAT_UNITS>mm</STAT_UNITS>\n<STAT_DESCR>mean value</STAT_DESCR>\n</STAT>\n"
         "</DIM>\n</CHANNEL>\n";
  }
  return d + "</CHANDESCRIPTIONS>\n";
}

std::string evlist_doc(int n) {
  std::string d = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<BMR>\n";
  for (int i = 0; i < n; ++i) {
    const std::string k = std::to_string(i);
    d += "\t<EVENT>\n\t\t<TYPE>" + std::to_string(i % 33) +
         "</TYPE>\n\t\t<TMASK>0x1F</TMASK>\n\t\t<MINTIMESEC>" + k +
         "</MINTIMESEC>\n\t\t<PRIORITY>3</PRIORITY>\n\t\t<SBLOCK>BLOCK_" + k +
         "<CHLIST>\n\t\t\t<CHAN>CH." + k + ".A</CHAN>\n\t\t\t<CHAN>CH." + k +
         ".B</CHAN>\n\t\t</CHLIST>\n\t\t</SBLOCK>\n\t</EVENT>\n";
  }
  return d + "</BMR>\n";
}

std::string envdict_doc(int n) {
  std::string d = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<ENVINDEXDICT>\n";
  for (int i = 0; i < n; ++i) {
    const std::string k = std::to_string(i);
    d += "<CHANNEL>\n<INDEX>" + k + "</INDEX>\n<PROP>FACILITY/ENV/SENSOR." + k +
         "/TEMPERATURE</PROP>\n<DABS>0.500000</DABS>\n<DREL>0.010000</DREL>\n</CHANNEL>\n";
  }
  return d + "</ENVINDEXDICT>\n\n";
}

std::string trigger_doc(int n) {
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
  void characters(const XMLCh* const chars, const XMLSize_t length) override {
    text.assign(chars, chars + length);
  }
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

void raw(benchmark::State& state, const std::string& doc) {
  RawParser p;
  for (auto _ : state) benchmark::DoNotOptimize(p.parse(doc));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

#ifdef QAL3_HAVE_PUGIXML
void pugi_walk(benchmark::State& state, const std::string& doc) {
  for (auto _ : state) {
    pugi::xml_document d;
    d.load_buffer(doc.data(), doc.size());
    std::size_t n = 0;
    struct Walker : pugi::xml_tree_walker {
      std::size_t* count;
      bool for_each(pugi::xml_node& node) override {
        *count += node.type() == pugi::node_element;
        return true;
      }
    } w;
    w.count = &n;
    d.traverse(w);
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}
#endif

// ---------------------------------------------------------------------------
// The readers.

void read_chan(benchmark::State& state, std::string doc) {
  for (auto _ : state) {
    std::vector<chan_descr_2010*> list;
    if (parse_descr_list_read(&doc[0], &list, false, false) != 0) std::abort();
    state.PauseTiming();
    clean_chan_desr_list(&list);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void read_chan_file(benchmark::State& state, const std::string& doc) {
  char path[] = "/tmp/qal3-bench-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0 || write(fd, doc.data(), doc.size()) != static_cast<ssize_t>(doc.size())) std::abort();
  close(fd);
  for (auto _ : state) {
    std::vector<chan_descr_2010*> list;
    if (parse_descr_list_readf(path, &list, false, false) != 0) std::abort();
    state.PauseTiming();
    clean_chan_desr_list(&list);
    state.ResumeTiming();
  }
  unlink(path);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void read_evlist(benchmark::State& state, std::string doc) {
  for (auto _ : state) {
    std::vector<qal3_ev_entry*> list;
    if (qal3_parse_ev_list_read(&doc[0], &list) != 0) std::abort();
    state.PauseTiming();
    qal3_clean_ev_list(&list);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void read_envdict(benchmark::State& state, std::string doc) {
  for (auto _ : state) {
    std::vector<qal3_env_index_dictionary_entry_2010*> list;
    if (parse_env_index_dict_list_read_2010(&doc[0], &list) != 0) std::abort();
    state.PauseTiming();
    for (auto* e : list) std::free(e);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void read_triggers(benchmark::State& state, std::string doc) {
  for (auto _ : state) {
    std::vector<qal3_user_case_trigger*> list;
    if (parse_trigger_list_read(&doc[0], &list)) std::abort();
    state.PauseTiming();
    for (auto* t : list) QAL3_FREE_USER(t);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

// Registers the floor, the reader and pugixml for one document.
template <class Reader>
void family(const std::string& name, const std::string& doc, Reader reader) {
  benchmark::RegisterBenchmark((name + "/floor").c_str(), raw, doc)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark((name + "/reader").c_str(), reader, doc)->Unit(benchmark::kMicrosecond);
#ifdef QAL3_HAVE_PUGIXML
  benchmark::RegisterBenchmark((name + "/pugixml").c_str(), pugi_walk, doc)->Unit(benchmark::kMicrosecond);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t small = 2048;
  family("evlist_10000", evlist_doc(10000), read_evlist);
  family("evlist_2KB", sized(evlist_doc, small), read_evlist);
  family("chan_mem_10000", chan_doc(10000), read_chan);
  family("chan_mem_2KB", sized(chan_doc, small), read_chan);
  family("chan_file_10000", chan_doc(10000), read_chan_file);
  family("chan_file_2KB", sized(chan_doc, small), read_chan_file);
  family("envdict_10000", envdict_doc(10000), read_envdict);
  family("envdict_2KB", sized(envdict_doc, small), read_envdict);
  family("trigger_1000", trigger_doc(1000), read_triggers);
  family("trigger_2KB", sized(trigger_doc, small), read_triggers);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
