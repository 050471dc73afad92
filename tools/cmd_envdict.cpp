// qal3 envdict: print, convert and check environment index dictionaries.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "check_rules.h"
#include "cli_common.h"
#include "parse_env_index_dictionary.h"

namespace {

const char kHelp[] =
    "Usage: qal3 envdict [--2010] [--check | --xml OUT | --text OUT] FILE\n"
    "\n"
    "Reads an environment index dictionary (root element ENVINDEXDICT) and\n"
    "lists its entries on standard output, converts it, or checks it.\n"
    "FILE '-' reads standard input.\n"
    "\n"
    "Options:\n"
    "      --strict    with --xml or --text: fail, writing nothing, when the\n"
    "                  dictionary has findings\n"
    "      --2010      use the 2010 layout (property names up to 255 characters);\n"
    "                  the default old layout keeps 79 and warns when a name is cut\n"
    "  -c, --check     only read the dictionary, report its size and warn about\n"
    "                  indexes used more than once\n"
    "  -x, --xml OUT   write the dictionary as an XML document to OUT ('-' for\n"
    "                  standard output)\n"
    "  -t, --text OUT  write one tab-separated line per entry to OUT\n"
    "  -h, --help      show this help\n"
    "\n"
    "Exit status: 0 success, 1 the dictionary could not be read or written,\n"
    "2 usage error.\n";

enum class Action { list, check, xml, text };

struct Options {
  bool layout_2010 = false;
  bool strict = false;  // findings make a conversion fail
  Action action = Action::list;
  std::string out;
  std::string file;
};

// The entry points of one layout.
template <class Entry>
struct Api;

template <>
struct Api<qal3_env_index_dictionary_entry> {
  static int read(char* xml, std::vector<qal3_env_index_dictionary_entry*>* l) {
    return parse_env_index_dict_list_read(xml, l);
  }
  static int readf(char* file, std::vector<qal3_env_index_dictionary_entry*>* l) {
    return parse_env_index_dict_readf(file, l);
  }
  static int dump(std::vector<qal3_env_index_dictionary_entry*>* l, char* file, int mode, int fd) {
    return dump_env_index_dict(l, file, mode, fd, nullptr);
  }
};

template <>
struct Api<qal3_env_index_dictionary_entry_2010> {
  static int read(char* xml, std::vector<qal3_env_index_dictionary_entry_2010*>* l) {
    return parse_env_index_dict_list_read_2010(xml, l);
  }
  static int readf(char* file, std::vector<qal3_env_index_dictionary_entry_2010*>* l) {
    return parse_env_index_dict_readf_2010(file, l);
  }
  static int dump(std::vector<qal3_env_index_dictionary_entry_2010*>* l, char* file, int mode, int fd) {
    return dump_env_index_dict_2010(l, file, mode, fd, nullptr);
  }
};

// A dictionary read from the command line's input; entries freed on exit.
template <class Entry>
struct Dictionary {
  std::vector<Entry*> entries;
  Dictionary() = default;
  Dictionary(const Dictionary&) = delete;
  Dictionary& operator=(const Dictionary&) = delete;
  ~Dictionary() {
    for (Entry* e : entries) std::free(e);
  }

  int read(cli::Input& in, const std::string& path) {
    return in.from_stdin ? Api<Entry>::read(&in.text[0], &entries)
                         : Api<Entry>::readf(const_cast<char*>(path.c_str()), &entries);
  }
};

// Old layout: the same document read with room for long names shows which
// names were cut.
void warn_cut_names(cli::Input& in, const std::string& path,
                    const std::vector<qal3_env_index_dictionary_entry*>& kept) {
  Dictionary<qal3_env_index_dictionary_entry_2010> full;
  full.read(in, path);
  const std::size_t keep = sizeof(kept[0]->data.env_prop) - 1;
  for (std::size_t i = 0; i < kept.size() && i < full.entries.size(); ++i) {
    const char* name = full.entries[i]->data.env_prop;
    if (std::strlen(name) > keep)
      cli::file_error(in.name, "warning: property name of index " + std::to_string(kept[i]->index) +
                                   " cut to " + std::to_string(keep) + " characters: '" +
                                   std::string(name, keep) + "'");
  }
}
void warn_cut_names(cli::Input&, const std::string&,
                    const std::vector<qal3_env_index_dictionary_entry_2010*>&) {}

template <class Entry>
int check(const cli::Input& in, const std::vector<Entry*>& entries) {
  std::map<int, int> seen;
  for (const Entry* e : entries) ++seen[e->index];
  int repeated = 0;
  for (const auto& s : seen) {
    if (s.second < 2) continue;
    ++repeated;
    cli::file_error(in.name, "warning: index " + std::to_string(s.first) + " used by " +
                                 std::to_string(s.second) + " entries");
  }
  std::printf("%s: %zu entries read", in.name.c_str(), entries.size());
  if (repeated) std::printf(", %d repeated indexes", repeated);
  std::printf("\n");
  return cli::kOk;
}

template <class Entry>
int run(const Options& opt) {
  cli::Input in;
  if (!cli::open_input(opt.file, in)) return cli::kBadDocument;
  Dictionary<Entry> dict;
  const int rc = dict.read(in, opt.file);
  if (rc != 0) {
    cli::file_error(in.name, "dictionary not read (error sum " + std::to_string(rc) + ")");
    return cli::kBadDocument;
  }
  warn_cut_names(in, opt.file, dict.entries);
  std::fflush(stdout);
  if (opt.action != Action::check && check::warn_dropped_inputs({opt.file}, in.text, opt.strict))
    return cli::kBadDocument;

  int wrc = 0;
  switch (opt.action) {
    case Action::check:
      return check(in, dict.entries);
    case Action::list:
      wrc = Api<Entry>::dump(&dict.entries, nullptr, 2, -1);
      break;
    case Action::xml:
      wrc = opt.out == "-" ? Api<Entry>::dump(&dict.entries, nullptr, 2, 1)
                           : Api<Entry>::dump(&dict.entries, const_cast<char*>(opt.out.c_str()), 2, -1);
      break;
    case Action::text:
      wrc = Api<Entry>::dump(&dict.entries, const_cast<char*>(opt.out.c_str()), 1, -1);
      break;
  }
  if (wrc != 0) {
    cli::file_error(opt.out.empty() ? in.name : opt.out,
                    "dictionary not written (status " + std::to_string(wrc) + ")");
    return cli::kBadDocument;
  }
  return cli::kOk;
}

// Parses the command line; returns -1 to go on, else the exit status.
int parse_options(int argc, char** argv, Options& opt) {
  bool action_set = false;
  auto set_action = [&](Action a) {
    if (action_set) return false;
    opt.action = a;
    action_set = true;
    return true;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (cli::is_help(a)) {
      std::fputs(kHelp, stdout);
      return cli::kOk;
    }
    if (a == "--2010") {
      opt.layout_2010 = true;
    } else if (a == "--strict") {
      opt.strict = true;
    } else if (a == "-c" || a == "--check") {
      if (!set_action(Action::check))
        return cli::usage_error("envdict", "choose one of --check, --xml, --text");
    } else if (a == "-x" || a == "--xml" || a == "-t" || a == "--text") {
      const bool xml = a == "-x" || a == "--xml";
      if (!set_action(xml ? Action::xml : Action::text))
        return cli::usage_error("envdict", "choose one of --check, --xml, --text");
      if (i + 1 >= argc) return cli::usage_error("envdict", "option '" + a + "' needs an output file");
      opt.out = argv[++i];
      if (opt.out.empty() || (!xml && opt.out == "-"))
        return cli::usage_error("envdict", "option '" + a + "' needs an output file");
    } else if (a.size() > 1 && a[0] == '-') {
      return cli::usage_error("envdict", "unknown option '" + a + "'");
    } else if (!opt.file.empty()) {
      return cli::usage_error("envdict", "only one dictionary at a time");
    } else {
      opt.file = a;
    }
  }
  if (opt.file.empty()) return cli::usage_error("envdict", "no dictionary given");
  return -1;
}

}  // namespace

int cmd_envdict(int argc, char** argv) {
  Options opt;
  const int status = parse_options(argc, argv, opt);
  if (status >= 0) return status;
  return opt.layout_2010 ? run<qal3_env_index_dictionary_entry_2010>(opt)
                         : run<qal3_env_index_dictionary_entry>(opt);
}
