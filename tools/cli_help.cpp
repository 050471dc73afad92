// --help, the manual page and the bash completion, made from the command
// table.
#include "cli_help.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "event_util.h"
#include "qal3_check.h"

namespace cli {

namespace {

const char kUsualExit[] =
    "0  success\n"
    "1  a document could not be read or written\n"
    "2  usage error\n";

std::string option_label(const OptionInfo& o) {
  std::string s = o.letter ? std::string("-") + o.letter + ", " : "    ";
  s += std::string("--") + o.name;
  if (o.arg) s += std::string("=") + o.arg;
  return s;
}

// Every option a command takes, its own first, then the common ones.
std::vector<OptionUse> all_options(const CommandInfo& command_info) {
  std::vector<OptionUse> v = command_info.options;
  auto add = [&](const char* name, const char* help) {
    for (const OptionUse& u : v)
      if (std::strcmp(u.name, name) == 0) return;
    v.push_back({name, help});
  };
  add("quiet", "print no warnings");
  add("help", "show this help and exit");
  add("version", "show the version and exit");
  return v;
}

// `text` folded at `width` columns, every line indented by `indent`.
std::string fold(const std::string& text, std::size_t indent, std::size_t width) {
  std::istringstream words(text);
  std::string word, line, out;
  const std::string pad(indent, ' ');
  while (words >> word) {
    if (!line.empty() && indent + line.size() + 1 + word.size() > width) {
      out += pad + line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  if (!line.empty()) out += pad + line + "\n";
  return out;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// A paragraph of the description: plain text is folded; lines that start
// with two blanks ("  name  meaning") are a table and keep their start.
std::string render_paragraph(const std::string& para) {
  std::string out;
  for (const std::string& line : split_lines(para)) {
    if (line.rfind("  ", 0) == 0) {
      const std::size_t cut = line.find("  ", 2);
      std::size_t col = cut == std::string::npos ? 2 : line.find_first_not_of(' ', cut);
      if (col == std::string::npos) col = 2;
      std::string folded = fold(line.substr(col), col, 79);
      folded.replace(0, col, line.substr(0, col));
      out += folded;
    } else {
      out += fold(line, 0, 79);
    }
  }
  return out;
}

std::vector<std::string> paragraphs(const std::string& text) {
  std::vector<std::string> out;
  std::size_t b = 0;
  for (;;) {
    const std::size_t e = text.find("\n\n", b);
    out.push_back(text.substr(b, e == std::string::npos ? std::string::npos : e - b));
    if (e == std::string::npos) break;
    b = e + 2;
  }
  return out;
}

std::string exit_text(const CommandInfo& command_info) {
  return command_info.exit_status ? command_info.exit_status : kUsualExit;
}

// roff: backslashes doubled, minus signs as \-, and no line starting with
// a dot or an apostrophe.
std::string roff(const std::string& text) {
  std::string out;
  bool line_start = true;
  for (char ch : text) {
    if (line_start && (ch == '.' || ch == '\'')) out += "\\&";
    if (ch == '\\')
      out += "\\e";
    else if (ch == '-')
      out += "\\-";
    else
      out += ch;
    line_start = ch == '\n';
  }
  return out;
}

std::string man_option(const OptionInfo& o) {
  std::string s = o.letter ? std::string("\\fB\\-") + o.letter + "\\fR, " : "";
  s += std::string("\\fB\\-\\-") + roff(o.name) + "\\fR";
  if (o.arg) s += std::string("=\\fI") + roff(o.arg) + "\\fR";
  return s;
}

}  // namespace

std::string help_text(const CommandInfo& command_info) {
  std::string out = std::string("Usage: qal3 ") + command_info.name + " " + command_info.synopsis + "\n";
  for (const std::string& p : paragraphs(command_info.text)) out += "\n" + render_paragraph(p);
  const std::vector<const CommandInfo*> subs = members(command_info.name);
  if (!subs.empty()) {
    out += "\nCommands:\n";
    for (const CommandInfo* s : subs) {
      const std::string word = std::string(s->name).substr(std::strlen(command_info.name) + 1);
      std::string line = "  " + word;
      line.resize(std::max<std::size_t>(line.size() + 2, 12), ' ');
      out += line + s->summary + "\n";
    }
    out += std::string("\nRun 'qal3 ") + command_info.name + " COMMAND --help' for the options of a command.\n";
  }
  out += "\nOptions:\n";
  for (const OptionUse& u : all_options(command_info)) {
    // The help beside a short label, below a long one.
    const std::string label = "  " + option_label(*find_option(u.name));
    const std::string folded = fold(u.help, 24, 79);
    out += label.size() < 24 ? label + folded.substr(label.size()) : label + "\n" + folded;
  }
  const bool with_output = std::any_of(command_info.options.begin(), command_info.options.end(),
                                       [](const OptionUse& u) { return std::strcmp(u.name, "output") == 0; });
  if (with_output)
    out +=
        "\nA FILE of '-' is standard input; output goes to standard output unless\n"
        "-o FILE is given, and FILE is then replaced only by a complete result,\n"
        "keeping its mode (less set-id bits), ACL and extended attributes (and,\n"
        "as root, its owner). A symbolic link at FILE is\n"
        "replaced by the new file unless --follow-symlinks is given. A device or\n"
        "FIFO at FILE is written to once the result is complete, never replaced.\n";
  else
    out += "\nA FILE of '-' is standard input.\n";
  out += "\nExit status:\n";
  for (const std::string& line : split_lines(exit_text(command_info))) out += "  " + line + "\n";
  return out;
}

std::string tool_help() {
  std::string out =
      "Usage: qal3 COMMAND [OPTION]... [ARG]...\n"
      "       qal3 COMMAND --help\n"
      "\n"
      "Checks, prints, converts and tests the DAQ configuration documents.\n"
      "\n"
      "Commands:\n";
  for (const CommandInfo& c : commands()) {
    if (std::strchr(c.name, ' ')) continue;
    std::string line = std::string("  ") + c.name;
    line.resize(12, ' ');
    out += line + c.summary + "\n";
  }
  out +=
      "\n"
      "Options:\n"
      "  -h, --help          show this help and exit\n"
      "      --version       show the version and exit\n"
      "      --man           print the manual page qal3(1) (roff)\n"
      "      --bash-completion  print the bash completion script\n"
      "\n"
      "Data goes to standard output, messages to standard error. A FILE of '-' is\n"
      "standard input, '-o -' standard output. --json prints one JSON document.\n"
      "An input larger than 256 MiB is refused; --max-input-size=SIZE changes that.\n"
      "\n"
      "Exit status:\n";
  for (const std::string& line : split_lines(kUsualExit)) out += "  " + line + "\n";
  return out;
}

namespace {

// The manual page's ENVIRONMENT, FILES and EXAMPLES.
std::string man_environment() {
  return ".SH ENVIRONMENT\n"
         ".TP\n.B SOURCE_DATE_EPOCH\n"
         "Seconds since 1970-01-01 00:00 UTC: the time that every document the tool\n"
         "writes carries as its date, so that writing the same records twice gives\n"
         "the same bytes.\n"
         ".PP\n"
         "No other variable is read: a scratch file is made in the folder of the file\n"
         "it replaces, and a document read from standard input is handed to a reader\n"
         "in an anonymous memory file, never in \\fBTMPDIR\\fR.\n";
}

std::string man_files() {
  std::string m =
      ".SH FILES\n"
      "The XML Schemas that \\fBqal3 check\\fR validates against, looked for next to\n"
      "the tool, in \\fIbin/../share/qal3/schema\\fR (installed in\n"
      "\\fI/usr/share/qal3/schema\\fR by the package):\n";
  // Every family, in the order of their codes.
  for (auto f = QAL3_FAMILY_EVENT_LIST; qal3_family_root(f); f = static_cast<qal3_family>(f + 1))
    m += ".TP\n.I " + roff(qal3_check_schema(f, nullptr, nullptr)) + "\n" +
         roff(std::string(qal3_family_root(f)) + ": " + qal3_family_name(f)) + "\n";
  return m;
}

std::string man_examples() {
  static const char* const kExamples[][2] = {
      {"qal3 check configuration/", "check every document below a folder, with a summary per family"},
      {"qal3 chan convert \\-\\-to daqvars \\-o vars.xml chan.xml", "write channel descriptions as DAQvariables"},
      {"qal3 chan print \\-\\-json chan.xml", "the channels as JSON"},
      {"qal3 trigger test \\-\\-spectrum spectrum.txt triggers.xml", "evaluate a trigger list on one spectrum"},
      {"qal3 trigger test \\-\\-events run.csv \\-\\-plot p.svg \\-\\-plot\\-event 7 triggers.xml",
       "replay recorded events in order and draw event 7"},
      {"qal3 trigger test \\-\\-recording run.h5 \\-\\-start BEAM/Current[1]=100 \\-\\-inc 0.5 triggers.xml",
       "replay a recording of several channels and subchannels, each trigger on its own data"},
      {"qal3 gige camera.xml", "list a camera's features"},
  };
  std::string m = ".SH EXAMPLES\n";
  for (const auto& e : kExamples) m += ".TP\n.B " + std::string(e[0]) + "\n" + roff(e[1]) + "\n";
  return m;
}

}  // namespace

std::string man_page() {
  std::string m =
      ".\\\" Made by qal3 --man from the same descriptions as qal3 --help.\n"
      ".TH QAL3 1 \"\" \"qal3\" \"User Commands\"\n"
      ".SH NAME\n"
      "qal3 \\- check, print, convert and test the DAQ configuration documents\n"
      ".SH SYNOPSIS\n";
  for (const CommandInfo& c : commands()) {
    if (!members(c.name).empty()) continue;
    m += ".B qal3 " + roff(c.name) + "\n" + roff(c.synopsis) + "\n.br\n";
  }
  m += ".SH DESCRIPTION\n"
       "Data goes to standard output, messages to standard error.\n"
       "A FILE of \\- is standard input; \\fB\\-o \\-\\fR is standard output.\n"
       "Each input is read once; one larger than 256 MiB is refused, and\n"
       "\\fB\\-\\-max\\-input\\-size\\fR=\\fISIZE\\fR changes that limit.\n"
       "With \\fB\\-o\\fR \\fIFILE\\fR the result replaces FILE only once it is complete,\n"
       "through a new file that has no name until then (on a file system\n"
       "without O_TMPFILE, a scratch file .qal3\\-XXXXXXXX in the same folder):\n"
       "on any failure, or any signal, FILE is as it was and nothing is left.\n"
       "The new file keeps the mode (less set-id bits), ACL and extended\n"
       "attributes of the old one (and, as root, its owner and\n"
       "group). A symbolic link at FILE is replaced by the new file, as\n"
       "\\fBsed \\-i\\fR does; with \\fB\\-\\-follow\\-symlinks\\fR the file the link points to\n"
       "is replaced in its own folder and the link stays.\n"
       "\\fB\\-\\-json\\fR prints one JSON document per run, with the fields of the\n"
       "records under their own names.\n"
       "Errors in documents read \\fIFILE\\fR:\\fILINE\\fR:\\fICOLUMN\\fR: \\fImessage\\fR.\n"
       ".SH COMMANDS\n";
  for (const CommandInfo& c : commands()) {
    m += ".SS \"qal3 " + roff(c.name) + "\"\n";
    m += ".B qal3 " + roff(c.name) + "\n" + roff(c.synopsis) + "\n.PP\n";
    for (const std::string& p : paragraphs(c.text)) {
      for (const std::string& line : split_lines(p)) {
        if (line.rfind("  ", 0) == 0) m += ".br\n";
        m += roff(line.rfind("  ", 0) == 0 ? line.substr(2) : line) + "\n";
      }
      m += ".PP\n";
    }
    for (const CommandInfo* s : members(c.name)) {
      m += ".TP\n.B " + roff(std::string(s->name).substr(std::strlen(c.name) + 1)) + "\n" + roff(s->summary) + "\n";
    }
    for (const OptionUse& u : all_options(c)) {
      m += ".TP\n" + man_option(*find_option(u.name)) + "\n" + roff(u.help) + "\n";
    }
    m += ".PP\nExit status:\n";
    for (const std::string& line : split_lines(exit_text(c))) m += ".br\n" + roff(line) + "\n";
  }
  m += ".SH EXIT STATUS\n";
  for (const std::string& line : split_lines(kUsualExit)) m += ".br\n" + roff(line) + "\n";
  m += ".PP\n\\fBqal3 chan select\\fR answers in its exit status: 0 yes, 1 no, 2 error.\n"
       "\\fBqal3 check\\fR exits 1 when a file has errors; warnings alone pass, unless \\fB\\-\\-strict\\fR.\n";
  m += man_environment() + man_files() + man_examples() +
       ".SH SEE ALSO\n"
       ".BR xmllint (1),\n"
       ".BR git (1)\n";
  return m;
}

std::string bash_completion() {
  std::string s =
      "# bash completion for qal3. Made by qal3 --bash-completion from the same\n"
      "# descriptions as qal3 --help.\n"
      "_qal3() {\n"
      "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} cmd=${COMP_WORDS[1]} words opts values=\n"
      "  if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
      "    words=\"";
  std::string top;
  for (const CommandInfo& c : commands())
    if (!std::strchr(c.name, ' ')) top += std::string(top.empty() ? "" : " ") + c.name;
  s += top +
       " --help --version --man --bash-completion\"\n"
       "    COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
       "    return\n"
       "  fi\n"
       "  case $cmd in\n";
  for (const CommandInfo& c : commands()) {
    if (std::strchr(c.name, ' ')) continue;
    const std::vector<const CommandInfo*> subs = members(c.name);
    if (subs.empty()) continue;
    std::string words;
    for (const CommandInfo* m : subs)
      words += std::string(words.empty() ? "" : " ") + (m->name + std::strlen(c.name) + 1);
    s += std::string("    ") + c.name +
         ")\n"
         "      if [ \"$COMP_CWORD\" -eq 2 ]; then\n"
         "        COMPREPLY=($(compgen -W \"" +
         words +
         " --help\" -- \"$cur\"))\n"
         "        return\n"
         "      fi\n"
         "      cmd=\"$cmd ${COMP_WORDS[2]}\" ;;\n";
  }
  s += "  esac\n"
       "  [[ $prev == = ]] && prev=${COMP_WORDS[COMP_CWORD-2]}\n"
       "  case $cmd in\n";
  for (const CommandInfo& c : commands()) {
    if (!members(c.name).empty()) continue;
    std::string opts, values;
    for (const OptionUse& u : all_options(c)) {
      const OptionInfo* o = find_option(u.name);
      opts += std::string(opts.empty() ? "" : " ") + "--" + o->name + (o->arg ? "=" : "");
      if (o->letter) opts += std::string(" -") + o->letter;
      if (u.values)
        values += std::string("        --") + o->name + (o->letter ? std::string("|-") + o->letter : "") +
                  ") values=\"" + u.values + "\" ;;\n";
    }
    s += std::string("    \"") + c.name + "\")\n      opts=\"" + opts + "\"\n";
    if (!values.empty())
      s += "      case $prev in\n" + values + "      esac ;;\n";
    else
      s += "      ;;\n";
  }
  std::string questions, types;
  for (const char* q : kSelectQuestions) questions += std::string(questions.empty() ? "" : " ") + q;
  for (int n = 0; n < QAL3_EV_EVMAX; ++n) {
    const char* name = event_name_itoa(n);
    if (name && *name) types += std::string(types.empty() ? "" : " ") + name;
  }
  s += "    *) opts= ;;\n"
       "  esac\n"
       "  if [[ $cmd == \"chan select\" && -z $values && $cur != -* ]]; then\n"
       "    local i n=0 question=\n"
       "    for ((i = 3; i < COMP_CWORD; i++)); do\n"
       "      [[ ${COMP_WORDS[i]} == -* ]] && continue\n"
       "      n=$((n + 1))\n"
       "      [ $n -eq 1 ] && question=${COMP_WORDS[i]}\n"
       "    done\n"
       "    if [ $n -eq 0 ]; then\n"
       "      values=\"" +
       questions +
       "\"\n"
       "    elif [ $n -eq 1 ] && [ \"$question\" = in-event ]; then\n"
       "      values=\"" +
       types +
       "\"\n"
       "    fi\n"
       "  fi\n"
       "  if [ -n \"$values\" ]; then\n"
       "    mapfile -t COMPREPLY < <(compgen -W \"$values\" -- \"$cur\")\n"
       "  elif [[ $cur == -* ]]; then\n"
       "    mapfile -t COMPREPLY < <(compgen -W \"$opts\" -- \"$cur\")\n"
       "    [[ ${COMPREPLY[0]} == *= ]] && compopt -o nospace\n"
       "  else\n"
       "    mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
       "  fi\n"
       "}\n"
       "complete -o filenames -F _qal3 qal3\n";
  return s;
}

}  // namespace cli
