// Reproducible output (a fixed clock) and qal3 diff / qal3 show: documents
// compared record by record, also as git's textconv.
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "parse_chan_descr.h"
#include "record_fields.h"
#include "test_util.h"

namespace {

using testutil::run_command;
using testutil::TempFile;

const std::string kTool = testutil::tool_command();
const std::string kEx = QAL3_EXAMPLES_DIR;

int qal3(const std::string& args, std::string* out = nullptr, std::string* err = nullptr) {
  return run_command(kTool + " " + args, out, err);
}

// The document the library writer of R makes of the example `file` under
// the clock fixed at `when`.
template <class R>
std::string rewritten(const std::string& file, time_t when) {
  qal3::records::OwnedList<R> list;
  std::string path = kEx + "/" + file;
  EXPECT_EQ(qal3::records::Description<R>::read_file(&path[0], &list.items, {}), 0) << file;
  const qal3::ThreadClock clock(&when);
  std::string doc;
  EXPECT_EQ(qal3::records::Description<R>::write_text(&list.items, &doc, {}), 0) << file;
  return doc;
}

// Every family written twice with the time fixed, in two time zones, by
// SOURCE_DATE_EPOCH and by --date, gives the same bytes, stamped in UTC;
// --keep-date writes the input's own isodate again.
TEST(Reproducible, EveryFamilyTheSameBytes) {
  const std::string env1 = "env TZ=UTC SOURCE_DATE_EPOCH=1700000000 ";
  const std::string env2 = "env TZ=JST-9 SOURCE_DATE_EPOCH=5 ";
  const std::string iso = "2023-11-14T22:13:20";  // 1700000000 in UTC
  const struct {
    std::string command;
    bool dated;
  } rows[] = {
      {"chan convert --to chandescr " + kEx + "/chan_descriptions.xml", true},
      {"chan convert --to daqvars " + kEx + "/chan_descriptions.xml", false},
      {"chan merge " + kEx + "/chan_daqvariables.xml", true},
      {"envdict --xml - " + kEx + "/envdict.xml", true},
      {"trigger convert " + kEx + "/triggers.xml", true},
  };
  for (const auto& row : rows) {
    std::string a, b, kept;
    ASSERT_EQ(run_command(env1 + kTool + " " + row.command, &a), 0) << row.command;
    ASSERT_EQ(run_command(env2 + kTool + " " + row.command + " --date=" + iso, &b), 0) << row.command;
    EXPECT_EQ(a, b) << row.command;
    EXPECT_EQ(a.find("<isodate>" + iso + "</isodate>") != std::string::npos, row.dated) << row.command;
    if (!row.dated) continue;
    const TempFile first(a);
    const std::string again = row.command.substr(0, row.command.rfind(' ')) + " " + first.path() + " --keep-date";
    ASSERT_EQ(run_command(env2 + kTool + " " + again, &kept), 0) << again;
    EXPECT_EQ(kept, a) << again;
  }
  // A trigger's creation time is the clock's.
  std::string triggers;
  qal3("trigger convert --date=1700000000 " + kEx + "/triggers.xml", &triggers);
  EXPECT_NE(triggers.find("<Creation time=\"1700000000\"/>"), std::string::npos);
  // The families the tool does not write, through the library.
  EXPECT_EQ(rewritten<qal3_ev_entry>("evlist_multi.xml", 1700000000),
            rewritten<qal3_ev_entry>("evlist_multi.xml", 1700000000));
  EXPECT_NE(rewritten<qal3_ev_entry>("evlist_multi.xml", 1700000000).find(iso), std::string::npos);
  EXPECT_EQ(rewritten<QAL3GigEFeature>("gige_camera.xml", 1), rewritten<QAL3GigEFeature>("gige_camera.xml", 2));
  // Times that are none.
  // (A trigger's Creation time holds 32 bits: a later time is refused, not cut.)
  for (const char* bad : {"--date=yesterday", "--date=2023-13-01T00:00:00", "--date=-5", "--date=99999999999999",
                          "--date=4294967296", "--date=2200-01-01T00:00:00"}) {
    std::string err;
    EXPECT_EQ(qal3("trigger convert " + std::string(bad) + " " + kEx + "/triggers.xml", nullptr, &err), 2) << bad;
    EXPECT_NE(err.find("--date: '"), std::string::npos) << err;
  }
  std::string err;
  EXPECT_EQ(
      run_command("env SOURCE_DATE_EPOCH=1e9 " + kTool + " envdict --xml - " + kEx + "/envdict.xml", nullptr, &err), 2);
  EXPECT_NE(err.find("SOURCE_DATE_EPOCH: '1e9' is not"), std::string::npos) << err;
  EXPECT_EQ(run_command("env SOURCE_DATE_EPOCH=4294967296 " + kTool + " trigger convert " + kEx + "/triggers.xml",
                        nullptr, &err),
            2);
  EXPECT_NE(err.find("SOURCE_DATE_EPOCH: '4294967296' lies after 2106-02-07T06:28:15 UTC"), std::string::npos) << err;
}

// `ascii` in UTF-16 with its byte order mark, little or big endian.
std::string utf16(const std::string& ascii, bool little) {
  std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
  for (const char c : ascii) out += little ? std::string{c, '\0'} : std::string{'\0', c};
  return out;
}

const std::string kChanOld =
    "<CHANDESCRIPTIONS><CHANNEL><PROP>A/B</PROP><NAME>AB</NAME><UNITS>V</UNITS><EVTYPE>1</EVTYPE>"
    "<BIT><BIT>0</BIT><BIT_NAME>on</BIT_NAME></BIT></CHANNEL>"
    "<CHANNEL><PROP>GONE</PROP></CHANNEL></CHANDESCRIPTIONS>";

// Pairs of documents of each family: qal3 diff's status and lines.
TEST(Diff, PairsOfEveryFamily) {
  const struct {
    std::string old_doc, new_doc;
    int status;
    std::string lines;
  } rows[] = {
      // Event lists: by event type; field order, number spelling and the isodate are no change.
      {"<BMR><EVENT><TYPE>1</TYPE><TMASK>31</TMASK><PRIORITY>3</PRIORITY></EVENT><EVENT><TYPE>2</TYPE></EVENT></BMR>",
       "<BMR>\n\t<isodate>2020-01-01T00:00:00</isodate>\n<EVENT><TYPE>1</TYPE><PRIORITY>4</PRIORITY><TMASK>0x1F</"
       "TMASK></EVENT>"
       "<EVENT><TYPE>3</TYPE></EVENT></BMR>",
       1, "changed\tevtype=1\tpriority\t3\t4\nremoved\tevtype=2\nadded\tevtype=3\n"},
      // In UTF-16, with a declaration and a comment before the root.
      {utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<!-- <x> -->\n<BMR><EVENT><TYPE>1</TYPE>"
             "<PRIORITY>3</PRIORITY></EVENT></BMR>",
             true),
       "<BMR><EVENT><TYPE>1</TYPE><PRIORITY>4</PRIORITY></EVENT></BMR>", 1, "changed\tevtype=1\tpriority\t3\t4\n"},
      {utf16("<BMR><EVENT><TYPE>1</TYPE></EVENT></BMR>", false), "<BMR><EVENT><TYPE>1</TYPE></EVENT></BMR>", 0, ""},
      // Channels: by property, across the two formats; list entries by position.
      {kChanOld,
       "<CHANDESCRIPTIONS><CHANNEL><EVTYPE>1</EVTYPE><NAME>AB</NAME><PROP>A/B</PROP><UNITS>m\\V\n</UNITS>"
       "<BIT><BIT>0</BIT><BIT_NAME>on</BIT_NAME></BIT><BIT><BIT>1</BIT></BIT></CHANNEL></CHANDESCRIPTIONS>",
       1,
       "changed\tprop_name=A/B\tunits\tV\tm\\\\V\\n\nchanged\tprop_name=A/B\tbits[1].bit\t(none)\t1\n"
       "changed\tprop_name=A/B\tbits[1].bit_name\t(none)\t\nchanged\tprop_name=A/B\tbits[1].bit_desc\t(none)\t\n"
       "removed\tprop_name=GONE\n"},
      // A list shorter in the new record; records of one identity by order.
      {"<CHANDESCRIPTIONS><CHANNEL><PROP>A</PROP><BIT><BIT>0</BIT></BIT><BIT><BIT>1</BIT></BIT></CHANNEL>"
       "</CHANDESCRIPTIONS>",
       "<CHANDESCRIPTIONS><CHANNEL><PROP>A</PROP><BIT><BIT>0</BIT></BIT></CHANNEL><CHANNEL><PROP>A</PROP></CHANNEL>"
       "</CHANDESCRIPTIONS>",
       1,
       "changed\tprop_name=A #1\tbits[1].bit\t1\t(none)\nchanged\tprop_name=A #1\tbits[1].bit_name\t\t(none)\n"
       "changed\tprop_name=A #1\tbits[1].bit_desc\t\t(none)\nadded\tprop_name=A #2\n"},
      {"<DAQvariables><DaqFloat><evType>4</evType><nexol>P</nexol><daqName>D</daqName><units>mbar</units>"
       "</DaqFloat></DAQvariables>",
       "<DAQvariables><DaqFloat><nexol>P</nexol><units>mbar</units><daqName>D</daqName><evType>4</evType>"
       "</DaqFloat></DAQvariables>",
       0, ""},
      // Dictionaries: by index; 1.5 and 1.500000 are one float.
      {"<ENVINDEXDICT><CHANNEL><INDEX>0</INDEX><PROP>T</PROP><DABS>1.5</DABS><DREL>0.1</DREL></CHANNEL></ENVINDEXDICT>",
       "<ENVINDEXDICT><isodate>2024-03-18T09:30:00</isodate><CHANNEL><INDEX>0</INDEX><PROP>T</PROP>"
       "<DREL>0.2</DREL><DABS>1.500000</DABS></CHANNEL></ENVINDEXDICT>",
       1, "changed\tindex=0\tenv_ch_rel_delta\t0.100000\t0.200000\n"},
      // Triggers: by channel, subchannel and function, then by order.
      {"<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"C\" subchan=\"0\"/><Function name=\"MEAN\"/>"
       "<LowLimit value=\"1\"/></USERTRIGGER><USERTRIGGER><Chan name=\"C\" subchan=\"0\"/>"
       "<Function name=\"MEAN\"/><LowLimit value=\"2\"/></USERTRIGGER></QAL3USERTRIGGERLIST>",
       "<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"C\" subchan=\"0\"/><Function name=\"MEAN\"/>"
       "<LowLimit value=\"1.0\"/><Creation time=\"5\"/></USERTRIGGER><USERTRIGGER><Chan name=\"C\" subchan=\"0\"/>"
       "<Function name=\"MEAN\"/><LowLimit value=\"3\"/></USERTRIGGER></QAL3USERTRIGGERLIST>",
       1, "changed\tchannel=C subchannel=0 function=MEAN #2\tlow\t2.000000\t3.000000\n"},
      // A parameter by its function's name for it, from or to the reader's default; the
      // defaults spelled out are none.
      {"<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"C\"/><Function name=\"MAX\" start=\"0\"/>"
       "<Operation name=\"GT\"/></USERTRIGGER></QAL3USERTRIGGERLIST>",
       "<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"C\"/><Function name=\"MAX\" end=\"5\" param9=\"1\"/>"
       "<Operation name=\"LT\"/></USERTRIGGER></QAL3USERTRIGGERLIST>",
       1,
       "changed\tchannel=C subchannel=0 function=MAX\tend\t0.000000\t5.000000\n"
       "changed\tchannel=C subchannel=0 function=MAX\tfparam[9]\t0.000000\t1.000000\n"
       "changed\tchannel=C subchannel=0 function=MAX\toperation\tGT\tLT\n"},
      {"<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"C\"/><Function start=\"0\" param7=\"0.0\"/>"
       "<Operation name=\"GT\"/></USERTRIGGER></QAL3USERTRIGGERLIST>",
       "<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"C\"/></USERTRIGGER></QAL3USERTRIGGERLIST>", 0, ""},
      // Features: by name.
      {"<RegisterDescription><Integer Name=\"W\"><ToolTip>w</ToolTip></Integer><Float Name=\"G\"/>"
       "</RegisterDescription>",
       "<RegisterDescription><Float Name=\"G\"/><Integer Name=\"W\"><ToolTip>width</ToolTip></Integer>"
       "</RegisterDescription>",
       1, "changed\tname=W\ttooltip\tw\twidth\n"},
  };
  for (const auto& row : rows) {
    const TempFile a(row.old_doc), b(row.new_doc);
    std::string out, json;
    EXPECT_EQ(qal3("diff " + a.path() + " " + b.path(), &out), row.status) << row.new_doc;
    EXPECT_EQ(out, row.lines) << row.new_doc;
    EXPECT_EQ(qal3("diff --json " + a.path() + " - < " + b.path(), &json), row.status);
    EXPECT_EQ(nlohmann::json::parse(json)["same"], row.status == 0) << json;
    std::string shown_a, shown_b;
    qal3("show " + a.path(), &shown_a);
    qal3("show " + b.path(), &shown_b);
    EXPECT_EQ(shown_a == shown_b, row.status == 0) << shown_a << shown_b;
  }
}

// show names a trigger's parameters as its function does and leaves out
// the values the reader gives a trigger that does not set them.
TEST(Show, TriggerParametersByNameDefaultsLeftOut) {
  const struct {
    std::string trigger, label, lines;  // lines: the function's, its parameters' and the operation's
  } rows[] = {
      {"<Function name=\"MAX\" start=\"1\" end=\"5\" param5=\"2\"/><Operation name=\"LT\"/>", "function=MAX",
       "function\tMAX\nstart\t1.000000\nend\t5.000000\nfparam[5]\t2.000000\n|operation\tLT\n"},
      {"<Function name=\"VALUE\" x0=\"3\" y0=\"-1\" form=\"7\"/>", "function=VALUE",
       "function\tVALUE\nposition\t3.000000\ny0\t-1.000000\nfparam[4]\t7.000000\n|"},
      {"<Function name=\"DIFFSUM\" incr=\"2\" halfwidthY=\"4\" form=\"1\"/>", "function=DIFFSUM",
       "function\tDIFFSUM\nincr\t2.000000\nhalfwidthY\t4.000000\nform\t1.000000\n|"},
      {"<Function param0=\"0\"/><Operation name=\"GT\"/>", "function=MEAN", "|"},
  };
  for (const auto& row : rows) {
    const TempFile doc("<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"C\"/>" + row.trigger +
                       "</USERTRIGGER></QAL3USERTRIGGERLIST>");
    // Every line but those of the row is a field's own.
    const std::string label = "channel=C subchannel=0 " + row.label + "\t";
    std::string expected = "channel\tC\nsubchannel\t0\n" + row.lines.substr(0, row.lines.find('|')) +
                           "low\t0.000000\nupper\t0.000000\nbitmask\t0\n" + row.lines.substr(row.lines.find('|') + 1) +
                           "description\t\npre_mode\t0\ngroup\t\npost_mode\t0\n";
    for (std::size_t at = 0; at < expected.size(); at = expected.find('\n', at) + 1) expected.insert(at, label);
    std::string out;
    EXPECT_EQ(qal3("show " + doc.path(), &out), 0);
    EXPECT_EQ(out, expected) << row.trigger;
  }
  // diff --json names a parameter as the lines do.
  const TempFile a(
      "<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"C\"/><Function name=\"SUM\"/></USERTRIGGER>"
      "</QAL3USERTRIGGERLIST>"),
      b("<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"C\"/><Function name=\"SUM\" incr=\"3\"/></USERTRIGGER>"
        "</QAL3USERTRIGGERLIST>");
  std::string json;
  EXPECT_EQ(qal3("diff --json " + a.path() + " " + b.path(), &json), 1);
  EXPECT_EQ(nlohmann::json::parse(json)["changed"][0]["fields"][0]["field"], "incr") << json;
}

// What the readers do not keep: a change of it is a difference of its own
// kind, which --records-only leaves out; comments and blanks are none.
TEST(Diff, WhatTheReadersDoNotKeep) {
  const std::string reg =
      "<RegisterDescription><IntReg Name=\"R\"><Address>0x100</Address></IntReg>"
      "<Integer Name=\"W\"/></RegisterDescription>";
  const std::string daq =
      "<DAQvariables><DaqFloat><nexol>P</nexol><DBKey>1</DBKey><sbName>S</sbName><freq>1</freq></DaqFloat>"
      "</DAQvariables>";
  const auto with = [](std::string doc, const std::string& from, const std::string& to) {
    return doc.replace(doc.find(from), from.size(), to);
  };
  const struct {
    std::string old_doc, new_doc, options;
    int status;
    std::string lines;  // with OLD and NEW for the two files' names
  } rows[] = {
      {reg, with(reg, "0x100", "0x104"), "", 1,
       "unread\tOLD:1 / NEW:1\t/RegisterDescription/IntReg[@Name=R]/Address\t0x100\t0x104\n"},
      {reg, with(reg, "0x100", "0x104"), "--records-only ", 0, ""},
      {daq, with(daq, "<freq>1", "<freq>5"), "", 1, "unread\tOLD:1 / NEW:1\t/DAQvariables/DaqFloat/freq\t1\t5\n"},
      // Each change shows once, by the records or beside them (~: each line's end, once).
      {daq, with(with(with(daq, "<DBKey>1", "<DBKey>2"), ">S<", ">T<"), "<freq>1", "<freq>5"), "", 1,
       "~\t1\t2\n~\tS\tT\n~\t1\t5\n"},
      // An unread element added; a read one changed is the records' alone.
      {daq, with(with(daq, "</DaqFloat>", "<firstIndex>0</firstIndex></DaqFloat>"), ">P<", ">Q<"), "", 1,
       "removed\tprop_name=P\nadded\tprop_name=Q\n"
       "unread\tOLD:- / NEW:1\t/DAQvariables/DaqFloat/firstIndex\t(none)\t0\n"},
      {reg, with(with(reg, "<Address>", "<!-- moved? -->\n<?pi x?><Address>"), "<Integer", "<!-- W -->\n<Integer"), "",
       0, ""},
      {reg, with(with(reg, "<Address>0x100", "\n  <Address>\n\t0x100  "), "<Integer", "\n\n  <Integer"), "", 0, ""},
  };
  for (const auto& row : rows) {
    const TempFile a(row.old_doc), b(row.new_doc);
    std::string out, json, expected = row.lines;
    for (const auto& [from, to] :
         {std::pair<std::string, std::string>{"OLD:", a.path() + ":"}, {"NEW:", b.path() + ":"}})
      for (std::size_t at; (at = expected.find(from)) != std::string::npos;) expected.replace(at, from.size(), to);
    EXPECT_EQ(qal3("diff " + row.options + a.path() + " " + b.path(), &out, &json), row.status) << row.new_doc;
    if (expected[0] != '~') {
      EXPECT_EQ(out, expected) << row.new_doc;
    }
    for (std::size_t from = 0; expected[0] == '~' && from < expected.size();) {
      const std::size_t to = std::min(expected.find('~', from + 1), expected.size());
      const std::string end = expected.substr(from + 1, to - from - 1);
      std::size_t n = 0;
      for (std::size_t at = out.find(end); at != std::string::npos; at = out.find(end, at + 1)) ++n;
      EXPECT_EQ(n, 1u) << end << out;
      from = to;
    }
    EXPECT_EQ(qal3("diff --json " + row.options + a.path() + " " + b.path(), &json, &out), row.status);
    const nlohmann::json doc = nlohmann::json::parse(json);
    EXPECT_EQ(doc["same"], row.status == 0) << json;
    EXPECT_EQ(doc.contains("unread"), row.options.empty()) << json;
  }
}

TEST(Diff, Trouble) {
  const TempFile chan(kChanOld), dict("<ENVINDEXDICT/>"), broken("<BMR><EVENT>"), other("<html/>");
  const struct {
    std::string args, message;
  } rows[] = {
      {chan.path() + " " + dict.path(), "is channel descriptions and " + dict.path() + " environment index dictionary"},
      {chan.path() + " " + broken.path(), broken.path()},
      {other.path() + " " + chan.path(), other.path() + ":1:1: root element 'html'"},
      {chan.path() + " /nonexistent.xml", "/nonexistent.xml"},
      {chan.path(), "give two documents"},
  };
  for (const auto& row : rows) {
    std::string err;
    EXPECT_EQ(qal3("diff " + row.args, nullptr, &err), 2) << row.args;
    EXPECT_NE(err.find(row.message), std::string::npos) << err;
  }
}

// The README's two lines of git configuration and one of .gitattributes:
// git diff and git log -p show what changed, and nothing else.
TEST(Diff, GitTextconv) {
  const TempFile dir("", ".d");
  const std::string repo = dir.path() + ".git-scratch";
  const std::string git = "cd " + repo + " && git -c user.name=t -c user.email=t@t ";
  ASSERT_EQ(run_command("rm -rf " + repo + " && mkdir " + repo + " && cd " + repo +
                        " && git init -q . && "
                        "git config diff.qal3.textconv '" +
                        kTool +
                        " show' && "
                        "echo '*.xml diff=qal3' > .gitattributes && cp " +
                        kEx + "/envdict.xml d.xml"),
            0);
  ASSERT_EQ(run_command(git + "add . && " + git + "commit -qm one && " + kTool + " envdict --xml d.xml --date=0 " +
                        kEx + "/envdict.xml && sed -i '0,/0.005000/s//0.006/' d.xml && " + git + "commit -qam two"),
            0);
  for (const char* cmd : {"diff HEAD~1 HEAD", "log -p -1"}) {
    std::string out;
    EXPECT_EQ(run_command(git + cmd + " | grep '^[-+][^-+]'", &out), 0) << cmd;
    EXPECT_EQ(out, "-index=0\tenv_ch_rel_delta\t0.005000\n+index=0\tenv_ch_rel_delta\t0.006000\n") << cmd;
  }
  run_command("rm -rf " + repo);
}

// A camera register moved: git's diff through the README's textconv shows
// it, though no record changes.
TEST(Diff, GitTextconvShowsUnread) {
  if (run_command("git --version") != 0) GTEST_SKIP() << "no git";
  const TempFile dir("", ".d");
  const std::string repo = dir.path() + ".git-unread";
  const std::string git = "cd " + repo + " && git -c user.name=t -c user.email=t@t ";
  ASSERT_EQ(
      run_command("rm -rf " + repo + " && mkdir " + repo + " && cd " + repo + " && git init -q . && " +
                  "git config diff.qal3.textconv '" + kTool + " show' && echo '*.xml diff=qal3' > .gitattributes" +
                  " && cp " + kEx + "/gige_camera.xml g.xml && " + git + "add . && " + git + "commit -qm one" +
                  " && sed -i 's/0x0100/0x0104/' g.xml && " + git + "commit -qam two"),
      0);
  std::string out;
  EXPECT_EQ(run_command(git + "show HEAD 2>/dev/null | grep '^[-+][^-+]'", &out), 0);
  EXPECT_EQ(out,
            "-unread\t/RegisterDescription/IntReg[@Name=WidthReg]/Address\t0x0100\n"
            "+unread\t/RegisterDescription/IntReg[@Name=WidthReg]/Address\t0x0104\n");
  run_command("rm -rf " + repo);
}

}  // namespace
