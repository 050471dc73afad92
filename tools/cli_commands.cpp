// The commands and options of qal3: the one table of them.
#include "cli_commands.h"

#include <cstring>
#include <deque>

#include "chan_documents.h"
#include "cli_args.h"
#include "cli_clock.h"
#include "event.h"
#include "record_fields.h"

namespace cli {

const char* const kSelectQuestions[6] = {"in-event", "event-type", "data-type", "slow", "ml", "subchannels"};

namespace {

// The one option table: a letter means the same in every command.
const OptionInfo kOptions[] = {
    {"help", 'h', nullptr},        {"quiet", 'q', nullptr},
    {"version", 0, nullptr},       {"json", 'j', nullptr},
    {"output", 'o', "FILE"},       {"to", 't', "FORMAT"},
    {"shift", 's', nullptr},       {"check", 'c', nullptr},
    {"xml", 'x', "FILE"},          {"text", 0, "FILE"},
    {"2010", 0, nullptr},          {"old-layout", 0, nullptr},
    {"functions", 'f', nullptr},   {"operations", 'p', nullptr},
    {"all", 'a', nullptr},         {"channel", 0, "NAME"},
    {"spectrum", 0, "FILE"},       {"value", 0, "V[,V...]"},
    {"slow", 0, "NAME=V[,...]"},   {"plot", 0, "FILE"},
    {"strict", 0, nullptr},        {"known", 0, "NAME[,NAME...]"},
    {"max-input-size", 0, "SIZE"}, {"follow-symlinks", 0, nullptr},
    {"events", 0, "FILE"},         {"plot-event", 0, "N"},
    {"date", 0, "TIME"},           {"keep-date", 0, nullptr},
    {"recording", 0, "FILE"},      {"start", 0, "[NAME=]X"},
    {"inc", 0, "[NAME=]X"},        {"exclude", 0, "GLOB"},
    {"records-only", 0, nullptr},  {"in-place", 'i', nullptr},
    {"from", 0, "FORMAT"},
};

const char kJsonHelp[] = "print one JSON document instead of text";

// The help texts name the default limit, and the bytes a property name
// keeps in each dictionary layout.
static_assert(kDefaultMaxInput == std::size_t{256} << 20, "the help texts say 256 MiB");
static_assert(sizeof(qal3_env_dictionary_block_2010::env_prop) - 1 == 255, "the envdict help says 255 bytes");
static_assert(sizeof(qal3_env_dictionary_block::env_prop) - 1 == 79, "the envdict help says 79 bytes");
const char kMaxInputHelp[] =
    "refuse an input larger than SIZE bytes (K, M, G, T, P, E: powers of 1024; default 256M; 'unlimited' "
    "lifts the limit). Reading takes memory of up to about 60 times the input for gige, 40 times for the "
    "other documents";

const char kOutputHelp[] =
    "write to FILE (default and '-': standard output). A FILE you may not write is refused; one with other "
    "hard links is replaced under this name only, the other names keep the old content";
const char kFollowHelp[] =
    "when the output FILE is a symbolic link, replace the file it points to and keep the link "
    "(without it, the link itself is replaced by the new file)";

// The edit commands of a family ("trigger set", "trigger add", "trigger
// drop"), `identity` saying which fields tell its records apart.
// A text that lives as long as the command table.
const char* kept(std::string text) {
  static std::deque<std::string> texts;
  texts.push_back(std::move(text));
  return texts.back().c_str();
}

// The fields that tell a family's records apart, as a phrase: "channel,
// subchannel and function".
template <class R>
std::string identity_of() {
  const auto& names = qal3::records::Description<R>::identity;
  const std::size_t n = sizeof names / sizeof *names;
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += (i == 0 ? "" : i + 1 == n ? " and " : ", ") + std::string(names[i]);
  return out;
}

void add_edit_commands(std::vector<CommandInfo>& c, const char* family, const char* what, const std::string& identity,
                       const char* example, bool layouts) {
  static const std::string kKeeps =
      "Only the bytes of the change are rewritten: the document keeps its comments, layout, encoding, date and "
      "the spelling of every value the edit does not touch; a value the edit writes is spelt as the writers "
      "spell it, and an element the document left out is added in the layout of its neighbours. The result "
      "must read back as the records with the edit and nothing else, or the edit is refused and nothing is "
      "written. Without -i or -o the document goes to standard output.";
  static const std::string kSelector =
      "SELECTOR is a record's position in the document (1 for the first, as 'qal3 show' counts them), or "
      "FIELD=VALUE[,FIELD=VALUE...] over the records' fields (the fields of 'print --json'; ";
  static const std::string kFields =
      "FIELD=VALUE names a field as 'print --json' does; a trigger's function parameters also by their "
      "attribute names (start, end, incr, ...) or as fparam[N], functions and operations by name. A value the "
      "field cannot hold exactly (a text too long, a number out of range or beyond a float) is refused.";
  const std::string base = family;
  std::vector<OptionUse> options = {{"in-place", "write the result over FILE (atomically, as -o does)"},
                                    {"output", kOutputHelp},
                                    {"follow-symlinks", kFollowHelp}};
  if (layouts) options.push_back({"old-layout", "read and write the old layout"});
  std::vector<OptionUse> with_all = options;
  with_all.insert(with_all.begin(), {"all", "apply the edit to every record the selector picks"});
  const std::string ex = std::string("Example: ") + example;
  c.push_back({kept((base + " set").c_str()), "[OPTION]... FILE SELECTOR FIELD=VALUE...",
               kept(("set fields of a record of " + std::string(what)).c_str()),
               "Sets each FIELD of the record SELECTOR picks in FILE ('-': standard input) to VALUE. " + kSelector +
                   identity +
                   " tell the records apart). A selector that picks no record, or more than one "
                   "without --all, is refused and lists the records it picks.\n\n" +
                   kFields + "\n\n" + kKeeps + "\n\n" + ex,
               with_all, nullptr, cmd_edit});
  c.push_back({kept((base + " add").c_str()), "[OPTION]... FILE FIELD=VALUE...",
               kept(("add a record to " + std::string(what)).c_str()),
               "Adds a record after the last one of FILE, made as a new record (every field at the value a "
               "document without it reads as) with each FIELD set to VALUE. " +
                   kFields + "\n\n" + kKeeps,
               options, nullptr, cmd_edit});
  c.push_back({kept((base + " drop").c_str()), "[OPTION]... FILE SELECTOR",
               kept(("drop records of " + std::string(what)).c_str()),
               "Removes the record SELECTOR picks from FILE, with its line. " + kSelector + identity +
                   " tell the records apart); --all drops every record it picks.\n\n" + kKeeps,
               with_all, nullptr, cmd_edit});
}

// What a trigger list does not keep.
const char kCreationText[] =
    "A trigger's Creation time is not read back from the list: each trigger gets the time it is read, "
    "or the time --date or SOURCE_DATE_EPOCH fixes.";

// The converting commands' --from, and what it reads.
const char kFromHelp[] =
    "xml (the default) or json: read the records from the JSON the tool prints with --json (as 'qal3 ... "
    "--json FILE | jq ... | qal3 ... --from json -'); each value is checked as a writer needs it, and one "
    "that does not fit its field is refused, naming its place (triggers[0].low)";
const char kFromText[] =
    "With --from json the input is the JSON the tool prints for the family (the records under their field "
    "names; a document of several files, or the list of records alone, is taken too): no XML is checked. "
    "What the JSON gives twice must agree: a slot and its name (function and function_name), fparam and "
    "a parameter's names (start, end, ...), a list and its count; a value alone is taken. A field left out "
    "is what a document without it reads as, and a trigger's time is the time of reading.";

const char kStrictHelp[] = "fail, writing nothing, when a document has findings";

// What the converting commands say of the findings of their documents.
const char kFindingsText[] =
    "Each document is first checked as 'qal3 check' does; its findings are printed on "
    "standard error as warnings, for they point at what the conversion drops or changes. "
    "With --strict they are errors, and nothing is written.";

// The chan commands that read documents into one list and write it.
using chan_docs::Combine;
using chan_docs::Findings;
using chan_docs::Form;
constexpr chan_docs::Writing kChanConvert{Combine::append, Findings::warn, Form::xml, true};
constexpr chan_docs::Writing kChanListing{Combine::append, Findings::cuts, Form::listing, false};
constexpr chan_docs::Writing kChanNames{Combine::append, Findings::cuts, Form::names, false};
constexpr chan_docs::Writing kChanMerge{Combine::merge, Findings::warn, Form::xml, false};

std::vector<CommandInfo> make_commands() {
  std::vector<CommandInfo> c;
  c.push_back({"evlist",
               "[OPTION]... FILE...",
               "read and print event lists (root BMR)",
               "Reads each event list (root element BMR) and prints its entries, then the result "
               "line of the file, 'FILE: N event entries read', on standard output with the "
               "entries. A file that cannot be read is reported on standard error.",
               {{"json", kJsonHelp}, {"quiet", "print only the result line of each file"}},
               nullptr,
               cmd_evlist});
  c.push_back({"chan",
               "COMMAND [OPTION]... ARG...",
               "print, convert, merge and query channel descriptions",
               "Channel description documents (root CHANDESCRIPTIONS or DAQvariables).\n\n"
               "A document named as a file is read by the file reader, standard input by the "
               "memory reader, and they differ: for a property that a DAQvariables document lists "
               "more than once, the file reader ORs the event types (ENV 4 and NORMAL 1 give UPD 5), "
               "the memory reader keeps the first.",
               {},
               nullptr,
               nullptr});
  c.push_back({"chan print",
               "[OPTION]... FILE...",
               "print the descriptions of each document",
               "Reads each description document and prints its channels. The listing shows event "
               "and data types as masks (type n is bit n; a 2010 data type 32 + n is bit n with "
               "bit 31) with the names of their types, with or without --shift; --json shows them as "
               "stored: plain numbers, or masks with --shift.",
               {{"shift", "store event and data types as masks: type n becomes bit n"}, {"json", kJsonHelp}},
               nullptr,
               cmd_chan_print});
  c.push_back({"chan convert",
               "--to FORMAT [OPTION]... FILE...",
               "write the descriptions in another format",
               "Reads the description documents (either format) and writes their channels as one "
               "document of FORMAT. A property that appears again is written once.\n\n"
               "DAQvariables carries no data type, stream, count, database key, server block name "
               "or statistics; bit titles are written from bit descriptions, so a DAQvariables "
               "document written again puts each bit's former description into its title.\n\n" +
                   std::string(kFindingsText) + "\n\n" + kFromText,
               {{"to", "chandescr (CHANDESCRIPTIONS) or daqvars (DAQvariables)", "chandescr daqvars"},
                {"from", kFromHelp, "xml json"},
                {"shift", "store event and data types as masks (type n becomes bit n) and write the masks"},
                {"strict", kStrictHelp},
                {"output", kOutputHelp},
                {"follow-symlinks", kFollowHelp},
                {"date", kDateHelp},
                {"keep-date", kKeepDateHelp}},
               nullptr,
               cmd_chan_write,
               &kChanConvert});
  c.push_back({"chan listing",
               "[OPTION]... FILE...",
               "write the tab-separated listing",
               "Writes the channels as a tab-separated listing: per channel stream, event type, DAQ "
               "name, property, set point, description, units, size, number of bits and of "
               "dimensions, then its bits, dimensions and statistics.",
               {{"shift", "store event and data types as masks: type n becomes bit n"},
                {"output", kOutputHelp},
                {"follow-symlinks", kFollowHelp}},
               nullptr,
               cmd_chan_write,
               &kChanListing});
  c.push_back({"chan names",
               "[OPTION]... FILE...",
               "write the DAQ name, size and data type table",
               "Writes one line per channel: the DAQ name right-aligned in 50 columns, the size and "
               "the name of the data type. Data types are stored as masks.",
               {{"output", kOutputHelp}, {"follow-symlinks", kFollowHelp}},
               nullptr,
               cmd_chan_write,
               &kChanNames});
  c.push_back({"chan merge",
               "[OPTION]... FILE...",
               "merge several documents into one",
               "Reads the documents in order into one list, merging a channel whose property is "
               "already known into the first one (it takes the event and data type when the first "
               "has none and adds its stream), and writes the result as one document.\n\n" +
                   std::string(kFindingsText),
               {{"to", "chandescr (default) or daqvars", "chandescr daqvars"},
                {"shift", "store event and data types as masks (type n becomes bit n) and write the masks"},
                {"strict", kStrictHelp},
                {"output", kOutputHelp},
                {"follow-symlinks", kFollowHelp},
                {"date", kDateHelp},
                {"keep-date", kKeepDateHelp}},
               nullptr,
               cmd_chan_write,
               &kChanMerge});
  c.push_back({"chan select",
               "[OPTION]... QUESTION ARG... FILE...",
               "ask the channel selector a question",
               "Loads the documents into a channel selector (event and data types as masks) and "
               "answers one question. CHANNEL is a DAQ name or a property name.\n\n"
               "Questions:\n"
               "  in-event TYPE CHANNEL  yes/no: is CHANNEL wanted in events of TYPE (a number "
               "0..31 or a name such as UPD); local and ML event types know channels by DAQ name, "
               "the others by property\n"
               "  event-type CHANNEL     the event-type mask and the names of its types\n"
               "  data-type CHANNEL      the data-type mask of the DAQ name and its types\n"
               "  slow CHANNEL           1 slow, 0 not slow, -1 without type\n"
               "  ml CHANNEL             1 ML channel, 0 not, -1 without type\n"
               "  subchannels CHANNEL    1 for a slow channel, else the number of dimensions\n\n"
               "The answer is also the exit status, as with grep: a CHANNEL that no document "
               "knows is a 'no', said so on standard error.",
               {{"json", kJsonHelp}, {"quiet", "print no answer: only the exit status tells"}},
               "0  yes (in-event), or the channel is known and the answer printed\n"
               "1  no, or the channel is unknown\n"
               "2  usage error, a document could not be read, or the answer could not be written\n",
               cmd_chan_select});
  add_edit_commands(c, "chan", "channel descriptions", identity_of<chan_descr_2010>(),
                    "qal3 chan set -i vacuum.xml prop_name=VAC/Gauge1 units=mbar", false);
  c.push_back({"trigger",
               "ACTION [OPTION]... ARG...",
               "list the trigger registry; print, convert and test trigger lists",
               "Trigger lists (root QAL3USERTRIGGERLIST) and the registry of trigger functions and "
               "operations.",
               {},
               nullptr,
               nullptr});
  c.push_back({"trigger registry",
               "[OPTION]...",
               "list the function and operation slots with their help texts",
               "Lists the slots of the function and operation tables: slot number, name and help "
               "text. Free slots (help text \"undefined\") are left out unless --all is given.",
               {{"functions", "only the function table"},
                {"operations", "only the operation table"},
                {"all", "include free slots"},
                {"json", kJsonHelp}},
               nullptr,
               cmd_trigger_registry});
  c.push_back({"trigger print",
               "[OPTION]... FILE",
               "print a trigger list",
               "Reads the trigger list FILE and prints every trigger: channel, subchannel, "
               "function, its sixteen parameters, operation, limits and bit mask. " +
                   std::string(kCreationText),
               {{"json", kJsonHelp}},
               nullptr,
               cmd_trigger_print});
  c.push_back({"trigger convert",
               "[OPTION]... FILE",
               "write a trigger list as XML or as text",
               "Reads the trigger list FILE and writes it again, as an XML trigger list (--to xml, "
               "the default) or as text (--to text: per trigger a line with channel, subchannel "
               "and function, a line of parameters, a line with the operation and a line with low "
               "limit, upper limit and bit mask). " +
                   std::string(kCreationText) + "\n\n" + kFindingsText + "\n\n" + kFromText,
               {{"to", "xml or text", "xml text"},
                {"from", kFromHelp, "xml json"},
                {"strict", kStrictHelp},
                {"output", kOutputHelp},
                {"follow-symlinks", kFollowHelp},
                {"date", kDateHelp},
                {"keep-date", kKeepDateHelp}},
               nullptr,
               cmd_trigger_convert});
  add_edit_commands(c, "trigger", "a trigger list", identity_of<qal3_user_case_trigger>(),
                    "qal3 trigger set -i triggers.xml channel=BEAM/Current,function=MEAN upper=4 start=1.5", false);
  c.push_back({"trigger test",
               "[OPTION]... FILE EVENT...",
               "evaluate a trigger list against data given as files or values",
               "Reads the trigger list FILE and evaluates its triggers on each EVENT in turn. "
               "Every EVENT is one block of channel data, given by --spectrum, --value or --slow; "
               "or the file of --events holds them. "
               "The data of --spectrum and --value, and of an events file without a channel "
               "column, is every trigger's, whatever its channel; --slow NAME=VALUE and the rows of "
               "an events file with a channel column are the data of channel NAME only. Each trigger "
               "reads its own subchannel: one the event does not have gives 'no result'. "
               "--channel NAME keeps only the triggers of channel NAME. Give several "
               "events to see the DIFF functions, which compare with the previous event and give "
               "no verdict on their first one.\n\n"
               "Spectrum file format: numbers separated by spaces, tabs or newlines; '#' starts a "
               "comment that runs to the end of the line. The first number is the axis start "
               "(microseconds), the second the increment between samples, the others are the "
               "samples, so that sample i lies at start + i * increment. A line holding only '--' "
               "ends one subchannel and begins the next (subchannel 0, 1, ...), which again starts "
               "with its own axis start and increment.\n\n"
               "Output: one line per event and trigger, tab-separated: event number, trigger "
               "number, channel, subchannel, function, result ('-' when the function gave none), "
               "operation and the verdict: 'fires', 'does not fire', 'no result' (no data for the "
               "trigger's channel or subchannel, or the function failed: window outside the "
               "spectrum, wrong kind of data), 'first event' "
               "(a DIFF function has nothing to compare with yet) or 'invalid' (function or "
               "operation slot out of range).\n\n"
               "Events file (--events): one spectrum per line, read one line at a time and evaluated "
               "in order, so that the DIFF functions see each event's predecessor: the axis start, "
               "the increment and the samples, separated by spaces or tabs; a FILE whose name ends "
               "in '.csv' separates them by commas, and its first row may name the columns. A "
               "first row naming a 'channel' column (and a 'subchannel' and an 'event' column) makes "
               "each row the data of that channel and subchannel (0 without the column): the rows "
               "of one event follow each other, and a new event starts where the 'event' column "
               "changes, or, without it, where a channel and subchannel come again. '#' "
               "starts a comment; blank lines are passed over; a line is bounded by "
               "--max-input-size; a file holding binary data is refused. Each event is labelled "
               "'line L of FILE' (or 'lines L-M'). After the table, one "
               "comment line per trigger says in how many of the events it fired. With --json, "
               "each event and trigger is one JSON record on a line of its own (the fields of the "
               "--json results, whose 'outcome' is fires, not_fired, first_event, no_result, "
               "no_data or invalid, and 'event'), and the last line is {\"summary\": [{\"trigger\", "
               "\"fires\", \"events\"}, ...]}.\n\n"
               "Recording (--recording): the channels of an HDF5 file (channel A/B is data set B of "
               "group A), of an .npz archive (member A/B.npy) or of one .npy file (the channel "
               "--channel names), as the Python module's qal3.replay reads them: an array named NAME "
               "is subchannel 0 of channel NAME, one named NAME[k] subchannel k; a 2-D array holds "
               "spectra (events x samples), a 1-D one a value per event. Every row is one event, "
               "labelled 'row R of FILE' (R from 0, as the rows of the Python table). A trigger whose "
               "channel or subchannel the recording lacks gives 'no result', and the recording's "
               "name is warned about once.\n\n"
               "--plot FILE draws every trigger evaluated on a spectrum into the SVG file FILE, one "
               "panel each: the samples of its subchannel against the axis, the window the trigger "
               "sets and the samples its function read, the function's value, the limits and the "
               "operation, and the verdict. MIN, MAX, MEAN and VALUE are drawn as levels of the "
               "samples; any other value, with its limits, on a scale of its own beside them. "
               "--plot-event N draws only event N (from 1); with --events, the first event unless "
               "--plot-event is given.\n\n"
               "What the functions do that may surprise:\n"
               "  DIFFSUM      previous minus current sum: the opposite sign of the other DIFF "
               "functions (current minus previous)\n"
               "  window       a window that ends before the spectrum starts reads to the end of "
               "the spectrum\n"
               "  RMS          squares in single precision: it overflows for samples above about "
               "1.8e19 and loses samples below about 1e-20, where STD does not\n"
               "  MIN MAX P2P  keep a NaN only when it is the first sample of the window; later NaNs "
               "are passed over",
               {{"spectrum", "an event: a spectrum read from the text file FILE ('-': standard input)"},
                {"value", "an event: a name/value block; the i-th value belongs to subchannel i"},
                {"slow",
                 "an event: a slow channel block with update values; a trigger finds the "
                 "value whose NAME equals its channel"},
                {"events", "events: one spectrum per line of FILE (CSV when FILE ends in .csv), replayed in order"},
                {"recording",
                 "events: the recording FILE (HDF5, .npz, or .npy with --channel naming its channel), "
                 "each trigger on its own channel's data, replayed in order"},
                {"start",
                 "with --recording: sample 0 of the spectra lies at X on the axis (default 0); NAME=X for "
                 "channel NAME or NAME[k] only; may be repeated"},
                {"inc",
                 "with --recording: the axis step between samples of the spectra (default 1); NAME=X as "
                 "for --start"},
                {"channel", "evaluate only the triggers of channel NAME"},
                {"plot", "draw the evaluations on spectra into the SVG file FILE"},
                {"plot-event", "draw only event N (from 1)"},
                {"follow-symlinks",
                 "when the --plot FILE is a symbolic link, replace the file it "
                 "points to and keep the link (without it, the link itself is "
                 "replaced)"},
                {"json", kJsonHelp}},
               nullptr,
               cmd_trigger_test});
  c.push_back({"envdict",
               "[OPTION]... FILE",
               "print, convert and check environment index dictionaries",
               "Reads an environment index dictionary (root element ENVINDEXDICT) and lists its "
               "entries on standard output, converts it, or checks it.\n\n"
               "The entries are read in the 2010 layout unless --old-layout is given. A property "
               "name longer than the layout's field is cut at a whole UTF-8 character, and each cut "
               "is a warning on standard error: the reader's note, with the text's length, the field's size "
               "and the start of the text.\n\n"
               "With --xml or --text the dictionary is first checked as 'qal3 check' does; its "
               "findings are printed on standard error as warnings, for they point at what the "
               "conversion drops or changes. With --strict they are errors, and nothing is written.\n\n" +
                   std::string(kFromText) + " The JSON's layout, when it names one, must be the one read.",
               {{"2010", "use the 2010 layout (property names up to 255 bytes), the default"},
                {"old-layout", "use the old layout, whose property names keep 79 bytes"},
                {"check",
                 "only read the dictionary, report its size and warn about indexes used "
                 "more than once"},
                {"xml", "write the dictionary as an XML document to FILE ('-': standard output)"},
                {"text", "write one tab-separated line per entry to FILE ('-': standard output)"},
                {"from", kFromHelp, "xml json"},
                {"strict", "with --xml or --text: fail, writing nothing, when the dictionary has findings"},
                {"follow-symlinks",
                 "when the --xml or --text FILE is a symbolic link, replace the "
                 "file it points to and keep the link (without it, the link "
                 "itself is replaced)"},
                {"date", kDateHelp},
                {"keep-date", kKeepDateHelp},
                {"json", kJsonHelp}},
               nullptr,
               cmd_envdict});
  add_edit_commands(c, "envdict", "an environment index dictionary",
                    identity_of<qal3_env_index_dictionary_entry_2010>(),
                    "qal3 envdict set -i envdict.xml index=12 env_ch_abs_delta=0.5", true);
  c.push_back({"gige",
               "[OPTION]... FILE...",
               "list the features of a GigE camera feature file",
               "Reads each camera feature file (root RegisterDescription, or any root but another "
               "family's) and lists its named "
               "features, one line each, tab-separated: position, type name, then the feature's "
               "fields as --json names them: type, name, extension (the alternative name, when "
               "the file renames it), tooltip and description. External entities and DTDs are "
               "never loaded.",
               {{"json", kJsonHelp}, {"quiet", "print only the result line of each file"}},
               nullptr,
               cmd_gige});
  c.push_back({"check",
               "[OPTION]... FILE|FOLDER...",
               "validate documents against their schemas and report mistakes",
               "Checks each FILE, a configuration document of one of these families, found by its "
               "root element:\n"
               "  BMR                  event list\n"
               "  CHANDESCRIPTIONS     channel descriptions\n"
               "  DAQvariables         channel descriptions, DAQvariables format\n"
               "  ENVINDEXDICT         environment index dictionary\n"
               "  QAL3USERTRIGGERLIST  trigger list\n"
               "  RegisterDescription  GigE camera feature file\n\n"
               "A FOLDER stands for the documents below it: the files named *.xml (in any case) in "
               "it and in its folders, in the order of their paths; folders reached through a "
               "symbolic link and names starting with '.' are passed over, and so are the files "
               "--exclude leaves out. A file found there whose root element is no family's (another "
               "tool's XML) is skipped, said so on standard error ('FILE: skipped: ...'; --json lists "
               "it under 'skipped'), and counted nowhere; named on the command line, it is an error. "
               "After a folder, a "
               "summary line on standard error counts the files of each family, the errors and "
               "the warnings; --json gives the counts as 'families'.\n\n"
               "The document is validated against the family's XML Schema (installed in "
               "share/qal3/schema), then checked for what a schema cannot say: repeated properties, "
               "DAQ names and indexes, fields and trigger parameters given twice, texts longer "
               "than their field, numbers a float does not keep, event and data types out of "
               "range, function and operation names the trigger registry does not know or holds "
               "as free slots; and, as warnings, what a built-in trigger function does that the "
               "file shows: DIFFSUM's sign (previous minus current), a window end before or equal "
               "to its start (an empty window, or one that runs to the end of the spectrum), a "
               "window function given no window at all (it never fires), RMS limits beyond what its "
               "single-precision squares hold; a limit the trigger's operation compares left unset "
               "while the other is given, a low limit above the upper one where the operation "
               "compares both (it never fires, or always), a bit mask of 0 where the operation "
               "tests one, each with the operation's condition in words; a negative DABS or DREL; "
               "an event type listed again. Across the files checked together (a FOLDER, or "
               "several FILEs), as warnings naming both places: a property described with another "
               "DAQ name or DB key, one DAQ name given to two properties, and, where the files "
               "describe channels at all, trigger and event list channels no description has, and "
               "dictionary properties no description has but one a character or its case away. "
               "A camera feature file is read by the library's "
               "reader, and what it makes of each feature is compared with the file: features "
               "without a name, elements of no feature type the reader knows that carry a name and "
               "feature texts (they are not read), names used twice, and any name, type or text "
               "read as other than written.\n\n"
               "Each finding is a line 'FILE:LINE:COLUMN: error|warning: message' on standard "
               "output, its texts on one line (a line feed shown as \\n, a backslash as \\\\); "
               "a clean file gives no output. A file that cannot be read is reported on standard "
               "error.",
               {{"known",
                 "function or operation names that a site registers itself; they are not "
                 "reported as unknown"},
                {"strict", "report warnings as errors: they then fail the check too"},
                {"exclude",
                 "leave out the files below a FOLDER whose path below it, or whose base name, "
                 "matches GLOB (fnmatch(3): '*' matches '/' too, so DIR/* leaves out all below DIR); "
                 "may be given again. Files named on the command line are always checked"},
                {"json", "print the findings as one JSON document"},
                {"quiet", "print no findings: only the exit status tells"}},
               "0  no file has errors (warnings are printed, and pass)\n"
               "1  a file has errors or cannot be read; with --strict, warnings too\n"
               "2  usage error\n",
               cmd_check});
  c.push_back({"diff",
               "[OPTION]... OLD NEW",
               "compare two documents of one family record by record, and what the readers do not keep",
               "Reads the documents OLD and NEW ('-': standard input, for one of them) through the "
               "readers of their family, found by the root element (channel descriptions in either "
               "format compare with each other), and reports what their records hold differently. "
               "Formatting, the order of fields and of records, the spelling of a number that reads "
               "as the same value, the isodate and a trigger's Creation time are not differences.\n\n"
               "Records are matched by what identifies them: a channel by its property name, a "
               "dictionary entry by its index, an event list entry by its event type, a feature by "
               "its name, a trigger by its channel, subchannel and function slot. Records that "
               "share these are matched by their order in each document and named with it (#1, "
               "#2, ...).\n\n"
               "Beside the records, the element trees of both documents are compared, so that a "
               "change the readers do not keep shows too: a camera register's Address, a "
               "DAQvariables DBKey, sbName or freq, an attribute no reader looks at, an element "
               "added or removed that no reader reads. Element names, attributes and texts count; "
               "comments, processing instructions, texts of blanks only between elements and the "
               "blanks around a text do not. Elements are paired by their path: by name (and Name "
               "attribute) and by position among the children of the same name. A difference on an element or "
               "attribute that a reader keeps is left to the records. The trees of the two channel "
               "description formats are not compared with each other.\n\n"
               "Output, sorted by record: 'added<TAB>RECORD', 'removed<TAB>RECORD', and for each "
               "field of a record that changed 'changed<TAB>RECORD<TAB>FIELD<TAB>OLD<TAB>NEW', one "
               "line each; RECORD is its identity as FIELD=VALUE, FIELD a field as --json names it "
               "(an entry of a list as bits[1].bit_name; a trigger's function parameter by the "
               "attribute name its built-in function gives it, else as fparam[N]), a value a record "
               "lacks (a list of "
               "another length) is (none), a trigger's function and operation are the names registered in their "
               "slots, and texts are on one line (\\\\, \\n, \\r and "
               "\\t for backslash, line feed, carriage return and tab). Then, by path, "
               "each difference not read into the records: "
               "'unread<TAB>OLD:LINE / NEW:LINE<TAB>PATH<TAB>OLD<TAB>NEW', PATH as "
               "/ROOT/ELEMENT[N]/ELEMENT@ATTRIBUTE (an element with a Name attribute as "
               "ELEMENT[@Name=VALUE], paired by it; [N] counts from 1 among children of one name, "
               "where there are several), LINE where the start tag ends ('-' on the side without "
               "it), a value not there (none), and an element added or removed whole as its text "
               "or <NAME>.",
               {{"records-only",
                 "compare the records only, as the readers see the documents: no unread lines, "
                 "and they do not count for the exit status"},
                {"json",
                 "print one JSON document instead of text; the differences not read into the "
                 "records are in 'unread', each with 'path', 'old', 'new', 'old_line' and "
                 "'new_line' (null where there is none)"},
                {"max-input-size", kMaxInputHelp}},
               "0  the documents hold the same records, and (without --records-only) their trees "
               "differ in nothing else\n"
               "1  they differ\n"
               "2  usage error, a document that cannot be read, or documents of different families\n",
               cmd_diff});
  c.push_back({"show",
               "[OPTION]... FILE",
               "print a document's records in the form diff compares",
               "Reads FILE ('-': standard input) and prints one line per field of each record, "
               "'RECORD<TAB>FIELD<TAB>VALUE', records sorted as diff sorts them and named as diff "
               "names them, without the isodate and Creation times. A value at what the reader "
               "gives a record that does not set it is left out where the library states that "
               "value: a trigger's function parameters at 0, its function and operation at the "
               "reader's MEAN and GT; diff still reports a change from or to it. Then, in document order, one "
               "line 'unread<TAB>PATH<TAB>VALUE' for each text and attribute the readers do not "
               "keep, PATH as diff names it (an element's text at its path, an attribute at "
               "PATH@NAME; an element no reader reads is listed with all it holds). Two documents "
               "that diff finds the same give the same lines, so that 'qal3 show' serves as git's "
               "textconv for configuration files (see the README). A file that is no "
               "configuration document, or that cannot be read, is printed as it is after its "
               "reader's messages.",
               {},
               nullptr,
               cmd_show});
  // Every command that reads documents bounds each one.
  for (CommandInfo& command_info : c)
    if (std::strstr(command_info.synopsis, "FILE")) command_info.options.push_back({"max-input-size", kMaxInputHelp});
  return c;
}

}  // namespace

const OptionInfo* find_option(const std::string& name) {
  for (const OptionInfo& o : kOptions)
    if (name == o.name) return &o;
  return nullptr;
}

const std::vector<CommandInfo>& commands() {
  static const std::vector<CommandInfo> all = make_commands();
  return all;
}

// The commands of a group ("chan print", ... for "chan").
std::vector<const CommandInfo*> members(const std::string& group) {
  std::vector<const CommandInfo*> v;
  for (const CommandInfo& c : commands())
    if (std::string(c.name).rfind(group + " ", 0) == 0) v.push_back(&c);
  return v;
}

}  // namespace cli
