// The pull parser itself: a step loop that also asks for attributes whose
// names come from the input.
#include <cstdint>
#include <string>
#include <vector>

#include "SAX_File_Parser.h"
#include "SAX_Memory_Parser.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init();
  return 0;
}

namespace {

// Attribute names to ask for: words of the input, plus some usual ones.
std::vector<std::string> names_from(const std::string& doc) {
  std::vector<std::string> names = {"name", "id", "bit", "a", ""};
  std::string word;
  for (char c : doc) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') {
      word += c;
    } else if (!word.empty()) {
      if (names.size() < 32) names.push_back(word);
      word.clear();
    }
  }
  return names;
}

template <class Parser>
void walk(Parser& p, std::vector<std::string>& names) {
  for (int i = 0; i < 100000; ++i) {
    char* tag = nullptr;
    char* value = nullptr;
    const int rc = p.parse(&tag, &value);
    if (tag) {
      for (std::string& n : names) {
        char* v = nullptr;
        if (p.get_attr(&n[0], &v) == 0 && v) (void)v[0];
      }
    }
    if (rc != 0) break;
  }
  (void)p.get_error_counter();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string doc = fuzz::text(data, size);
  std::vector<std::string> names = names_from(doc);
  {
    SAX_Memory_Parser p(&doc[0]);
    if (p.init_ok() && !p.start()) walk(p, names);
  }
  if (size % 4 == 0) {  // now and then through a file as well
    fuzz::ScratchFile f(data, size);
    SAX_File_Parser p;
    if (p.init_ok() && !p.start(f.path())) walk(p, names);
  }
  return 0;
}
