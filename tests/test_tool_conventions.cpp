// The conventions every qal3 command keeps: data only on standard output,
// failed writes reported, -o all or nothing, '-' for standard input and
// output, GNU options, --json, answers in exit statuses, messages that name
// the file and the system's reason, and help, manual page and completion
// that agree.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

using testutil::run_command;
using testutil::TempFile;

const std::string kTool = testutil::tool_command();
const std::string kEx = QAL3_EXAMPLES_DIR;
const std::string kTriggers = kEx + "/triggers.xml";
const std::string kChan = kEx + "/chan_descriptions.xml";
const std::string kLinac = kEx + "/chan_select_linac.xml";
const std::string kDict = kEx + "/envdict.xml";
const std::string kCamera = kEx + "/gige_camera.xml";
const std::string kEvlist = kEx + "/evlist_basic.xml";

int qal3(const std::string& args, std::string* out = nullptr, std::string* err = nullptr) {
  return run_command(kTool + " " + args, out, err);
}

// Every command line that prints data, with the data it needs.
const std::vector<std::string> kPrinting = {
    "evlist " + kEvlist,
    "chan print " + kChan,
    "chan convert --to daqvars " + kChan,
    "chan listing " + kChan,
    "chan names " + kChan,
    "chan merge " + kChan,
    "chan select slow TS.Q3.I " + kChan,
    "trigger registry",
    "trigger print " + kTriggers,
    "trigger convert " + kTriggers,
    "trigger test " + kTriggers + " --value 5",
    "envdict " + kDict,
    "envdict --xml - " + kDict,
    "gige " + kCamera,
};

std::string trigger_list(const std::string& low, const std::string& param0, int copies = 1) {
  std::string t;
  for (int i = 0; i < copies; ++i)
    t += "<USERTRIGGER><Chan name=\"BEAM/Current\" subchan=\"0\"/><Function name=\"MEAN\" param0=\"" + param0 +
         "\"/><Operation name=\"GT\"/><LowLimit value=\"" + low +
         "\"/><UpperLimit value=\"2\"/><Description text=\"a rather long description so that the "
         "document grows quickly\"/></USERTRIGGER>\n";
  return "<QAL3USERTRIGGERLIST>\n" + t + "</QAL3USERTRIGGERLIST>\n";
}

std::vector<std::string> entries_of(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    errno = 0;
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.' || (std::string(e->d_name) != "." && std::string(e->d_name) != ".."))
        names.push_back(e->d_name);
    if (errno != 0) ADD_FAILURE() << "readdir " << dir << ": " << std::strerror(errno);
    closedir(d);
  }
  return names;
}

// A scratch folder removed with its files.
struct ScratchDir {
  std::string path;
  ScratchDir() {
    char tmpl[] = "/tmp/qal3-dir-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~ScratchDir() { run_command("rm -rf " + path); }
};

}  // namespace

TEST(ToolConventions, SmallFloatsSurviveConversion) {
  TempFile list(trigger_list("1e-7", "0.000000123"));
  std::string out;
  ASSERT_EQ(qal3("trigger convert " + list.path(), &out), 0);
  EXPECT_NE(out.find("<LowLimit value=\"1e-07\"/>"), std::string::npos) << out;
  EXPECT_NE(out.find("param0=\"1.23e-07\""), std::string::npos) << out;
  TempFile dict(
      "<ENVINDEXDICT><CHANNEL><INDEX>1</INDEX><PROP>A</PROP><DABS>1e-9</DABS><DREL>2.5e-7</DREL>"
      "</CHANNEL></ENVINDEXDICT>");
  ASSERT_EQ(qal3("envdict --xml - " + dict.path(), &out), 0);
  EXPECT_NE(out.find("<DABS>1e-09</DABS>\n<DREL>2.5e-07</DREL>"), std::string::npos) << out;
  ASSERT_EQ(qal3("envdict --text - " + dict.path(), &out), 0);
  EXPECT_EQ(out, "1\tA\t1e-09\t2.5e-07\n");
}

TEST(ToolConventions, FailedStandardOutputIsAnError) {
  for (const std::string& cmd : kPrinting) {
    std::string err;
    // chan select answers "no" with 1: a failed write is an error there.
    const int failed = cmd.rfind("chan select", 0) == 0 ? 2 : 1;
    EXPECT_EQ(run_command("{ " + kTool + " " + cmd + " >/dev/full; }", nullptr, &err), failed) << cmd;
    // Converters may warn about their input first; the failed write is said.
    const bool said = err.rfind("qal3: <stdout>: ", 0) == 0 || err.find("\nqal3: <stdout>: ") != std::string::npos;
    EXPECT_TRUE(said) << cmd << "\n" << err;
    EXPECT_NE(run_command("{ " + kTool + " " + cmd + " --json >/dev/full; }", nullptr, &err), 0) << cmd;
  }
  // A reader that leaves early ends the run without a message.
  std::string err;
  std::string many;
  for (int i = 0; i < 300; ++i) many += " " + kChan;
  EXPECT_EQ(run_command("{ " + kTool + " chan print" + many + " | head -n 1; }", nullptr, &err), 0);
  EXPECT_EQ(err, "");
}

TEST(ToolConventions, OutputFileIsAllOrNothing) {
  ScratchDir dir;
  const std::string target = dir.path + "/out.xml";
  ASSERT_EQ(run_command("{ echo original > " + target + "; }"), 0);
  TempFile big(trigger_list("1", "2", 200));
  std::string err;
  // The file size limit stops the write midway.
  EXPECT_EQ(run_command("ulimit -f 8; " + kTool + " trigger convert -o " + target + " " + big.path(), nullptr, &err),
            1);
  EXPECT_NE(err.find(target), std::string::npos) << err;
  EXPECT_EQ(testutil::read_file(target), "original\n");
  EXPECT_EQ(entries_of(dir.path), std::vector<std::string>{"out.xml"});
  // A complete write replaces the file.
  ASSERT_EQ(qal3("trigger convert -o " + target + " " + kTriggers), 0);
  EXPECT_EQ(testutil::read_file(target).rfind("<?xml", 0), 0u);
  EXPECT_EQ(entries_of(dir.path), std::vector<std::string>{"out.xml"});
  // A failed read leaves it too.
  EXPECT_EQ(qal3("chan convert --to daqvars -o " + target + " /nonexistent.xml"), 1);
  EXPECT_EQ(testutil::read_file(target).rfind("<?xml", 0), 0u);
}

// -o replaces a file as an editor does: mode, owner and group kept, a link
// at FILE replaced (or, with --follow-symlinks, written through), the folder
// synced after the rename, and no file made for an empty name.
TEST(ToolConventions, OutputReplacesAFileAsAnEditorDoes) {
  ScratchDir dir, other;
  const std::string target = dir.path + "/out.xml";
  const std::string real = other.path + "/real.xml";
  const std::string write = "trigger convert " + kTriggers + " -o ";
  ASSERT_EQ(run_command("echo old > " + target + " && chmod 640 " + target), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(target.c_str(), 1234, 2345), 0);
  }
  ASSERT_EQ(qal3(write + target), 0);
  struct stat st {};
  ASSERT_EQ(lstat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 2345u);
  }

  // A link at FILE is replaced; its target stays as it was.
  ASSERT_EQ(run_command("echo real > " + real + " && chmod 600 " + real + " && rm " + target + " && ln -s " + real +
                        " " + target),
            0);
  ASSERT_EQ(qal3(write + target), 0);
  ASSERT_EQ(lstat(target.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0600u);  // what the file it led to has
  EXPECT_EQ(testutil::read_file(real), "real\n");
  // --follow-symlinks replaces the target, in its folder, and keeps the link
  // (a relative one too).
  ASSERT_EQ(run_command("rm " + target + " && ln -s ../" + other.path.substr(5) + "/real.xml " + target), 0);
  ASSERT_EQ(qal3(write + target + " --follow-symlinks"), 0);
  ASSERT_EQ(lstat(target.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(testutil::read_file(real).rfind("<?xml", 0), 0u);
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(entries_of(dir.path), std::vector<std::string>{"out.xml"});
  EXPECT_EQ(entries_of(other.path), std::vector<std::string>{"real.xml"});

  // The folder is synced after the rename.
  if (run_command("command -v strace >/dev/null") == 0 && kTool.find(' ') == std::string::npos) {
    std::string err;
    // (LeakSanitizer, in the sanitizer build, cannot run under a tracer.)
    ASSERT_EQ(run_command("ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 strace -y -e "
                          "trace=rename,renameat,renameat2,fsync,fchmod,write,openat " +
                              kTool + " " + write + target,
                          nullptr, &err),
              0)
        << err;
    const std::size_t renamed = err.find("rename");
    ASSERT_NE(renamed, std::string::npos) << err;
    EXPECT_NE(err.find("fsync(", renamed), std::string::npos) << err;
    EXPECT_NE(err.find("<" + dir.path + ">", renamed), std::string::npos) << err;
    // The new file is private when made, and has its mode before its bytes.
    const std::size_t made = err.find("0600) = ");
    ASSERT_NE(made, std::string::npos) << err;
    EXPECT_LT(err.find("fchmod(", made), err.find("write(", made)) << err;
  }

  // An empty name is a usage error, and nothing is made.
  for (const std::string& cmd : {"trigger convert -o '' " + kTriggers, "chan convert --to daqvars -o '' " + kChan,
                                 "envdict --xml '' " + kDict, "trigger test --plot '' --value 1 " + kTriggers}) {
    std::string out, err;
    EXPECT_EQ(run_command("cd " + other.path + " && " + kTool + " " + cmd, &out, &err), 2) << cmd;
    EXPECT_EQ(out, "") << cmd;
    EXPECT_EQ(entries_of(other.path), std::vector<std::string>{"real.xml"}) << cmd;
  }
}

// A device or FIFO at FILE (or at the end of a link there) is written to,
// never replaced: a full device fails with its reason, and the file stays
// what it was.
TEST(ToolConventions, OutputToADeviceIsWrittenThrough) {
  ScratchDir dir;
  const std::string full = dir.path + "/full", null = dir.path + "/null", fifo = dir.path + "/fifo";
  ASSERT_EQ(run_command("ln -s /dev/full " + full + " && ln -s /dev/null " + null + " && mkfifo " + fifo), 0);
  const struct {
    std::string target;
    int status;
    const char* message;
  } kCases[] = {{full, 1, "No space left on device"}, {null, 0, ""}};
  for (const auto& c : kCases) {
    std::string err;
    EXPECT_EQ(qal3("trigger convert -q " + kTriggers + " -o " + c.target, nullptr, &err), c.status) << c.target;
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    struct stat st {};
    ASSERT_EQ(lstat(c.target.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << c.target;
  }
  std::string out;
  ASSERT_EQ(run_command("(cat " + fifo + " > " + dir.path + "/read & " + kTool + " trigger convert -q " + kTriggers +
                            " -o " + fifo + "; st=$?; wait; cat " + dir.path + "/read; exit $st)",
                        &out),
            0);
  EXPECT_EQ(out.rfind("<?xml", 0), 0u) << out;
  struct stat st {};
  ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// The new file has no name until it is complete, so no signal, SIGKILL
// included, leaves one behind: each comes as the new file is synced.
TEST(ToolConventions, NoSignalLeavesAFileBehind) {
  if (run_command("command -v strace >/dev/null") != 0 || kTool.find(' ') != std::string::npos)
    GTEST_SKIP() << "needs strace";
  ScratchDir dir, cwd;
  const std::string target = dir.path + "/out.xml";
  for (const char* sig : {"INT", "TERM", "HUP", "QUIT", "USR1", "ALRM", "XCPU", "KILL"}) {
    ASSERT_EQ(run_command("{ echo old > " + target + "; }"), 0);
    std::string err;
    EXPECT_NE(run_command("cd " + cwd.path +
                              " && ulimit -c 0 && ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 strace "
                              "-o /dev/null -e trace=fsync -e inject=fsync:signal=SIG" +
                              sig + ":when=1 " + kTool + " trigger convert -q " + kTriggers + " -o " + target,
                          nullptr, &err),
              0)
        << sig;
    EXPECT_EQ(entries_of(dir.path), std::vector<std::string>{"out.xml"}) << sig;
    EXPECT_EQ(testutil::read_file(target), "old\n") << sig;
  }
}

// -o keeps what the replaced file has, and only that: the ACL (a user named
// in it keeps access, the group bits stay the mask), extended attributes,
// the mode less set-id bits. Another hard link keeps the old bytes, names
// up to the system's limit work, and a file the user may not write is
// refused.
TEST(ToolConventions, OutputKeepsWhatTheFileHasAndOnlyThat) {
  ScratchDir dir;
  const std::string target = dir.path + "/out.xml";
  const std::string in_dir = "cd " + dir.path + " && ";
  const bool acl = run_command(in_dir + "touch probe && setfacl -m u:1234:r probe && rm probe") == 0;
  const struct {
    std::string setup;
    std::string check;  // a shell test in the folder, after the write
    bool needs_acl;
  } kCases[] = {
      {"chmod 6750 out.xml", "[ $(stat -c %a out.xml) = 750 ]", false},
      {"chmod 640 out.xml && setfacl -m u:1234:rw,g::r out.xml",
       "getfacl -cp out.xml | grep -qx user:1234:rw- && getfacl -cp out.xml | grep -qx group::r-- && "
       "[ $(stat -c %a out.xml) = 660 ]",
       true},
      {"ln out.xml other.xml", "grep -qx old other.xml && ! grep -q old out.xml && [ $(stat -c %h out.xml) = 1 ]",
       false},
  };
  for (const auto& c : kCases) {
    if (c.needs_acl && !acl) continue;  // the file system keeps no ACLs
    ASSERT_EQ(run_command(in_dir + "rm -f * && echo old > out.xml && " + c.setup), 0) << c.setup;
    ASSERT_EQ(qal3("trigger convert -q " + kTriggers + " -o " + target), 0) << c.setup;
    EXPECT_EQ(run_command(in_dir + c.check), 0) << c.setup;
  }

  // Extended attributes.
  ASSERT_EQ(run_command(in_dir + "rm -f * && { echo old > out.xml; }"), 0);
  if (setxattr(target.c_str(), "user.origin", "lab", 3, 0) == 0) {
    ASSERT_EQ(qal3("trigger convert -q " + kTriggers + " -o " + target), 0);
    char value[8] = {};
    EXPECT_EQ(getxattr(target.c_str(), "user.origin", value, sizeof value), 3);
    EXPECT_STREQ(value, "lab");
  }

  // A name of NAME_MAX bytes.
  const std::string longest = dir.path + "/" + std::string(255, 'n');
  EXPECT_EQ(qal3("trigger convert -q " + kTriggers + " -o " + longest), 0);
  EXPECT_EQ(testutil::read_file(longest).rfind("<?xml", 0), 0u);

  // A file the user may not write (root runs the tool as nobody).
  ASSERT_EQ(run_command(in_dir + "rm -f * && echo old > out.xml && chmod 444 out.xml && chmod 777 ."), 0);
  const std::string as_user = geteuid() == 0
                                  ? "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 setpriv --reuid=65534 "
                                    "--regid=65534 --clear-groups "
                                  : "";
  std::string err;
  EXPECT_EQ(run_command(as_user + kTool + " trigger convert -q " + kTriggers + " -o " + target, nullptr, &err), 1);
  EXPECT_EQ(err, "qal3: " + target + ": Permission denied\n");
  EXPECT_EQ(testutil::read_file(target), "old\n");
  // A link to it is judged as the link: replaced, the file left as it was;
  // a folder that cannot be written is named as such.
  ASSERT_EQ(run_command(in_dir + "ln -s out.xml link.xml"), 0);
  EXPECT_EQ(run_command(as_user + kTool + " trigger convert -q " + kTriggers + " -o " + dir.path + "/link.xml"), 0);
  EXPECT_EQ(run_command(in_dir + "[ -f link.xml ] && [ ! -L link.xml ] && [ $(stat -c %a link.xml) = 444 ]"), 0);
  EXPECT_EQ(testutil::read_file(target), "old\n");
  ASSERT_EQ(run_command(in_dir + "chmod 777 out.xml && chmod 555 ."), 0);
  EXPECT_EQ(run_command(as_user + kTool + " trigger convert -q " + kTriggers + " -o " + target, nullptr, &err), 1);
  EXPECT_EQ(err, "qal3: " + target + ": cannot make a file in its folder: Permission denied\n");
  ASSERT_EQ(run_command(in_dir + "chmod 755 ."), 0);
}

TEST(ToolConventions, DashIsStandardInputAndOutput) {
  ScratchDir dir;
  for (const std::string& cmd :
       {"chan convert --to daqvars -o - " + kChan, "chan merge -o - " + kChan, "chan listing -o - " + kChan,
        "chan names -o - " + kChan, "trigger convert -o - " + kTriggers, "envdict --text - " + kDict,
        "envdict --xml - " + kDict}) {
    std::string out;
    EXPECT_EQ(run_command("cd " + dir.path + " && " + kTool + " " + cmd, &out), 0) << cmd;
    EXPECT_FALSE(out.empty()) << cmd;
  }
  EXPECT_TRUE(entries_of(dir.path).empty());  // no file named '-'
  std::string a, b;
  for (const std::string cmd : {"gige", "evlist", "chan print", "trigger print", "envdict"}) {
    const std::string file = cmd == std::string("gige")         ? kCamera
                             : cmd == std::string("evlist")     ? kEvlist
                             : cmd == std::string("chan print") ? kChan
                             : cmd == std::string("envdict")    ? kDict
                                                                : kTriggers;
    ASSERT_EQ(qal3(cmd + " - < " + file, &a), 0) << cmd;
    ASSERT_EQ(qal3(cmd + " " + file, &b), 0) << cmd;
    if (cmd == std::string("gige") || cmd == std::string("evlist")) {
      EXPECT_EQ(a.substr(0, a.rfind('\n', a.size() - 2)), b.substr(0, b.rfind('\n', b.size() - 2))) << cmd;
      EXPECT_NE(a.find("<stdin>: "), std::string::npos) << cmd;
    } else {
      EXPECT_EQ(a, b) << cmd;
    }
  }
}

// Every reading command reads its input once: a pipe, a FIFO, process
// substitution and standard input give what the file gives.
TEST(ToolConventions, InputIsReadOnceWhateverItComesFrom) {
  ScratchDir dir;
  const std::string fifo = dir.path + "/fifo";
  const struct {
    const char* cmd;
    std::string file;
  } kCommands[] = {{"evlist", kEvlist}, {"chan print", kChan}, {"trigger print", kTriggers},       {"envdict", kDict},
                   {"gige", kCamera},   {"check", kEvlist},    {"chan select slow TS.Q3.I", kChan}};
  for (const auto& c : kCommands) {
    const std::string run = kTool + " " + c.cmd + " ";
    std::string want, got;
    ASSERT_EQ(run_command(run + c.file, &want), 0) << c.cmd;
    const auto named = [&](std::string out, const std::string& name) {
      for (std::size_t at; (at = out.find(name)) != std::string::npos;) out.replace(at, name.size(), c.file);
      return out;
    };
    std::string substitution = run + "<(cat " + c.file + ")";  // for bash, in single quotes
    for (std::size_t at = 0; (at = substitution.find('\'', at)) != std::string::npos; at += 4)
      substitution.replace(at, 1, "'\\''");
    EXPECT_EQ(run_command("bash -c '" + substitution + "'", &got), 0) << c.cmd;
    EXPECT_EQ(named(got, "/dev/fd/63"), want) << c.cmd;
    EXPECT_EQ(run_command("(mkfifo " + fifo + " && { cat " + c.file + " > " + fifo + " & } && " + run + fifo +
                              "; s=$?; rm -f " + fifo + "; exit $s)",
                          &got),
              0)
        << c.cmd;
    EXPECT_EQ(named(got, fifo), want) << c.cmd;
    EXPECT_EQ(run_command("cat " + c.file + " | " + run + "-", &got), 0) << c.cmd;
    EXPECT_EQ(named(got, "<stdin>"), want) << c.cmd;
  }
}

// Input is bounded: a larger regular file is refused by its size, a stream
// as soon as it goes past the limit; the message names both.
TEST(ToolConventions, InputOverTheLimitIsRefused) {
  ScratchDir dir;
  const std::string sparse = dir.path + "/huge.xml";  // no blocks: refused before any read
  ASSERT_EQ(run_command("truncate -s 300M " + sparse), 0);
  const struct {
    std::string args;
    std::string name;
    std::string limit;
  } kCases[] = {
      {"evlist " + sparse, sparse, "256 MiB"},
      {"check " + sparse, sparse, "256 MiB"},
      {"evlist --max-input-size=64K /dev/zero", "/dev/zero", "64 KiB"},
      {"gige --max-input-size 1M /dev/urandom", "/dev/urandom", "1 MiB"},
      {"chan print --max-input-size=100 - < " + kChan, "<stdin>", "100 bytes"},
      {"trigger test --max-input-size=1k --spectrum=/dev/zero " + kTriggers, "/dev/zero", "1 KiB"},
  };
  for (const auto& c : kCases) {
    std::string out, err;
    EXPECT_EQ(qal3(c.args, &out, &err), 1) << c.args;
    EXPECT_EQ(err,
              "qal3: " + c.name + ": larger than the input limit of " + c.limit + " (--max-input-size changes it)\n")
        << c.args;
  }
  std::string out, err;
  EXPECT_EQ(qal3("evlist --max-input-size=1K " + kEvlist, &out, &err), 0) << err;
  for (const char* good : {sizeof(std::size_t) >= 8 ? "16G" : "3G", "unlimited"})
    EXPECT_EQ(qal3(std::string("evlist --max-input-size=") + good + " " + kEvlist, &out, &err), 0) << good;
  for (const char* bad : {"0", "", "12X", "1KB", "-1", "99999999999G", "16E", "Unlimited"})
    EXPECT_EQ(qal3(std::string("evlist --max-input-size=") + bad + " " + kEvlist, &out, &err), 2) << bad;
}

TEST(ToolConventions, StandardOutputCarriesDataOnly) {
  std::string out, err;
  ASSERT_EQ(qal3("trigger test " + kTriggers + " --slow A=1", &out, &err), 0);
  EXPECT_EQ(out.find("func_"), std::string::npos) << out;
  for (std::size_t p = out.find('\n'); p + 1 < out.size(); p = out.find('\n', p + 1))
    EXPECT_TRUE(out[p + 1] == '#' || isdigit(static_cast<unsigned char>(out[p + 1]))) << out;
  ASSERT_EQ(qal3("chan names " + kChan, &out), 0);
  EXPECT_EQ(out.find("\n\n"), std::string::npos);
  EXPECT_NE(out[0], '\n');
  ASSERT_EQ(qal3("chan convert --to daqvars -o - " + kChan, &out), 0);
  EXPECT_EQ(out.find("has been"), std::string::npos);
  TempFile broken("<RegisterDescription><Integer Name=\"A\">");
  EXPECT_EQ(qal3("gige " + broken.path(), &out, &err), 1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(qal3("chan select in-event UPD NOPE " + kLinac, &out, &err), 1);
  EXPECT_EQ(out, "no\n");
  EXPECT_NE(err.find("unknown channel 'NOPE'"), std::string::npos);
}

TEST(ToolConventions, SelectAnswersInTheExitStatus) {
  std::string out, err;
  EXPECT_EQ(qal3("chan select in-event 1 LINAC/BPM/BPM1/X " + kLinac, &out), 0);
  EXPECT_EQ(out, "yes\n");
  EXPECT_EQ(qal3("chan select -q in-event 1 LINAC/BPM/BPM1/X " + kLinac, &out), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(qal3("chan select in-event NORMAL BPM1.X " + kLinac, &out), 1);
  EXPECT_EQ(out, "no\n");
  EXPECT_EQ(qal3("chan select in-event 1 X /nonexistent.xml", &out, &err), 2);
  EXPECT_EQ(qal3("chan select in-event 99 X " + kLinac, &out, &err), 2);
}

// A tab or line break inside a field (at @) never splits a record: every
// text output has the lines and columns it has for a plain field.
TEST(ToolConventions, TextOutputsKeepOneRecordPerLine) {
  const std::string chan =
      "<CHANDESCRIPTIONS><CHANNEL><STREAM>1</STREAM><EVTYPE>1</EVTYPE><DTYPE>1</DTYPE><PROP>P@</PROP>"
      "<NAME>N@</NAME><DESC>D@</DESC><UNITS>U@</UNITS><SIZE>1</SIZE></CHANNEL></CHANDESCRIPTIONS>";
  const std::string dict =
      "<ENVINDEXDICT><CHANNEL><INDEX>1</INDEX><PROP>A@</PROP><DABS>1</DABS><DREL>2</DREL></CHANNEL>"
      "</ENVINDEXDICT>";
  const std::string events =
      "<BMR><EVENT><TYPE>1</TYPE><SBLOCK>B@<CHLIST><CHAN>C@</CHAN></CHLIST></SBLOCK></EVENT></BMR>";
  const std::string triggers =
      "<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name=\"T@\" subchan=\"0\"/><Function name=\"MEAN\"/>"
      "<Operation name=\"GT\"/></USERTRIGGER></QAL3USERTRIGGERLIST>";
  const struct {
    const char* cmd;
    const std::string& doc;
  } kCases[] = {{"chan print", chan},        {"chan listing", chan},
                {"chan names", chan},        {"envdict", dict},
                {"envdict --text -", dict},  {"evlist", events},
                {"trigger print", triggers}, {"trigger convert --to text", triggers}};
  // Lines, and the tabs of each.
  const auto shape = [](const std::string& text) {
    std::vector<long> tabs{0};
    for (char c : text) {
      if (c == '\n')
        tabs.push_back(0);
      else if (c == '\t')
        ++tabs.back();
    }
    return tabs;
  };
  const auto with = [](std::string doc, const std::string& x) {
    for (std::size_t at; (at = doc.find('@')) != std::string::npos;) doc.replace(at, 1, x);
    return doc;
  };
  for (const auto& c : kCases) {
    TempFile plain(with(c.doc, "__")), broken(with(c.doc, "&#9;&#10;&#13;"));
    std::string want, got, err;
    ASSERT_EQ(qal3(std::string(c.cmd) + " " + plain.path(), &want, &err), 0) << c.cmd << err;
    ASSERT_EQ(qal3(std::string(c.cmd) + " " + broken.path(), &got, &err), 0) << c.cmd << err;
    EXPECT_EQ(shape(got), shape(want)) << c.cmd << "\n" << got;
    EXPECT_NE(got.find("\\t\\n\\r"), std::string::npos) << c.cmd << "\n" << got;
  }
}

// Standard input can be read once: naming it twice is a usage error.
TEST(ToolConventions, StandardInputNamedTwiceIsAUsageError) {
  for (const std::string& args : std::vector<std::string>{
           "chan print - -", "chan merge - " + kChan + " -", "chan select slow X - -", "evlist - -", "gige - -",
           "check - -", "trigger test - --spectrum -", "trigger test - --spectrum=- --value 1"}) {
    std::string out, err;
    EXPECT_EQ(qal3(args + " < " + kChan, &out, &err), 2) << args;
    EXPECT_NE(err.find("standard input ('-') is named more than once"), std::string::npos) << args << err;
    EXPECT_EQ(out, "") << args;
  }
}

TEST(ToolConventions, GnuOptionForms) {
  std::string a, b;
  ASSERT_EQ(qal3("chan convert --to=daqvars " + kChan, &a), 0);
  ASSERT_EQ(qal3("chan convert -t daqvars " + kChan, &b), 0);
  EXPECT_EQ(a, b);
  ASSERT_EQ(qal3("chan convert -tdaqvars -- " + kChan, &b), 0);
  EXPECT_EQ(a, b);
  ASSERT_EQ(qal3("chan convert " + kChan + " --to daqvars", &b), 0);  // options after operands
  EXPECT_EQ(a, b);
  ASSERT_EQ(qal3("chan print -sj " + kChan, &a), 0);
  ASSERT_EQ(qal3("chan print --shift --json " + kChan, &b), 0);
  EXPECT_EQ(a, b);
  std::string err;
  EXPECT_EQ(qal3("chan convert --to " + kChan, nullptr, &err), 2);  // the file taken as format
  EXPECT_EQ(qal3("chan print --frob " + kChan, nullptr, &err), 2);
  EXPECT_NE(err.find("Try 'qal3 chan print --help'"), std::string::npos) << err;
  for (const char* cmd :
       {"evlist", "chan print", "chan convert", "chan listing", "chan names", "chan merge", "chan select",
        "trigger registry", "trigger print", "trigger convert", "trigger test", "envdict", "gige", "chan", "trigger"}) {
    std::string out;
    EXPECT_EQ(qal3(std::string(cmd) + " --version", &out), 0) << cmd;
    EXPECT_EQ(out, "qal3 1.0.0\n") << cmd;
    EXPECT_EQ(qal3(std::string(cmd) + " --help", &out), 0) << cmd;
    EXPECT_NE(out.find("\nExit status:\n  0  "), std::string::npos) << cmd;
    EXPECT_NE(out.find("-q, --quiet"), std::string::npos) << cmd;
  }
  // -t is --to everywhere; envdict writes text with --text.
  EXPECT_EQ(qal3("envdict -t x " + kDict, nullptr, &err), 2);
}

TEST(ToolConventions, MessagesNameTheFileAndTheReason) {
  std::string out, err;
  EXPECT_EQ(qal3("evlist /nonexistent.xml", &out, &err), 1);
  EXPECT_EQ(err, "qal3: /nonexistent.xml: No such file or directory\n");
  EXPECT_EQ(qal3("trigger print /tmp", &out, &err), 1);
  EXPECT_EQ(err, "qal3: /tmp: Is a directory\n");
  TempFile bad("<BMR>\n<a>\n</BMR>\n");
  EXPECT_EQ(qal3("evlist - < " + bad.path(), &out, &err), 1);
  EXPECT_EQ(err.rfind("<stdin>:3:3: ", 0), 0u) << err;
  EXPECT_EQ(err.find("my_mem_info"), std::string::npos) << err;
  TempFile bad_chan("<CHANDESCRIPTIONS>\n<CHANNEL>\n</CHANDESCRIPTIONS>\n");
  EXPECT_EQ(qal3("chan print " + bad_chan.path(), &out, &err), 1);
  EXPECT_EQ(err.rfind(bad_chan.path() + ":3:", 0), 0u) << err;
  EXPECT_EQ(qal3("gige - < " + bad.path(), &out, &err), 1);
  EXPECT_NE(err.find("not a feature file"), std::string::npos) << err;
}

TEST(ToolConventions, GigeRefusesOtherDocumentsAndKeepsOneFeaturePerLine) {
  std::string out, err;
  EXPECT_EQ(qal3("gige " + kEvlist, &out, &err), 1);
  EXPECT_NE(err.find("root element 'BMR'"), std::string::npos) << err;
  TempFile cam(
      "<RegisterDescription><Float Name=\"Gain\"><ToolTip>first line\nsecond\tline</ToolTip></Float>"
      "<Command Name=\"Go\"/></RegisterDescription>");
  ASSERT_EQ(qal3("gige " + cam.path(), &out, &err), 0) << err;
  EXPECT_EQ(out, "0\tFloat\t2\tGain\t\tfirst line\\nsecond\\tline\t\n1\tCommand\t6\tGo\t\t\t\n" + cam.path() +
                     ": 2 features\n");
  // A root the library finds behind markup-like text in the DOCTYPE.
  TempFile doctype(
      "<!DOCTYPE RegisterDescription [<!ENTITY e \"]<x>\">]><RegisterDescription><Command Name=\"Go\"/>"
      "</RegisterDescription>");
  ASSERT_EQ(qal3("gige " + doctype.path(), &out, &err), 0) << err;
  EXPECT_EQ(out, "0\tCommand\t6\tGo\t\t\t\n" + doctype.path() + ": 1 features\n");
  // A root of no family is read, as the library's reader reads it.
  TempFile other("<Camera><Command Name=\"Go\"/></Camera>");
  ASSERT_EQ(qal3("gige " + other.path(), &out, &err), 0) << err;
  EXPECT_EQ(out, "0\tCommand\t6\tGo\t\t\t\n" + other.path() + ": 1 features\n");
}

TEST(ToolConventions, JsonDocumentsCarryEveryField) {
  auto json = [](const std::string& args) {
    std::string out, err;
    EXPECT_EQ(qal3(args + " --json", &out, &err), 0) << args << err;
    return nlohmann::json::parse(out);
  };
  nlohmann::json j = json("evlist " + kEvlist);
  ASSERT_EQ(j["files"].size(), 1u);
  for (const char* k : {"evtype", "sb_list", "min_ev_time", "tmask", "priority"})
    EXPECT_TRUE(j["files"][0]["entries"][0].contains(k)) << k;
  j = json("chan print " + kChan);
  for (const char* k : {"stream", "ev_type", "count", "dtype", "db_key", "prop_name", "daq_name", "prop_desc", "units",
                        "max_size", "nbits", "bits", "ndims", "dims", "sb_name", "set_point", "subsystem"})
    EXPECT_TRUE(j["files"][0]["channels"][0].contains(k)) << k;
  j = json("chan select slow TS.Q3.I " + kChan);
  EXPECT_EQ(j["answer"], 1);
  EXPECT_EQ(j["known"], true);
  j = json("envdict " + kDict);
  EXPECT_EQ(j["entries"][0]["env_ch_abs_delta"], 0.1);
  for (const char* k : {"index", "env_prop", "env_ch_abs_delta", "env_ch_rel_delta"})
    EXPECT_TRUE(j["entries"][0].contains(k)) << k;
  j = json("trigger print " + kTriggers);
  for (const char* k : {"channel", "subchannel", "function", "fparam", "operation", "low", "upper", "bitmask", "time",
                        "description", "pre_mode", "post_mode", "group"})
    EXPECT_TRUE(j["triggers"][0].contains(k)) << k;
  EXPECT_EQ(j["triggers"][0]["fparam"].size(), 16u);
  j = json("trigger registry");
  EXPECT_FALSE(j["functions"].empty());
  EXPECT_FALSE(j["operations"].empty());
  j = json("trigger test " + kTriggers + " --value 5 --value 7");
  ASSERT_EQ(j["events"].size(), 2u);
  for (const char* k : {"trigger", "channel", "subchannel", "function", "result", "operation", "verdict"})
    EXPECT_TRUE(j["events"][0]["results"][0].contains(k)) << k;
  j = json("gige " + kCamera);
  for (const char* k : {"position", "type", "type_name", "name", "extension", "tooltip", "description"})
    EXPECT_TRUE(j["files"][0]["features"][0].contains(k)) << k;
  EXPECT_EQ(j["files"][0]["features"][0]["type_name"], "Integer");
}

// The completion keeps file names with blanks whole and offers the values
// of --to, the questions of chan select and the event type names.
TEST(ToolConventions, CompletionOffersValuesAndKeepsNamesWhole) {
  ScratchDir dir;
  ASSERT_EQ(run_command("touch '" + dir.path + "/a b.xml'"), 0);
  const struct {
    const char* words;  // the command line, the last word being completed
    std::string want;   // COMPREPLY, each word in brackets
  } kCases[] = {
      {"qal3 chan print a", "[a b.xml]"},
      {"qal3 chan convert --to ''", "[chandescr][daqvars]"},
      {"qal3 chan merge --to = d", "[daqvars]"},
      {"qal3 trigger convert -t ''", "[xml][text]"},
      {"qal3 chan select ''", "[in-event][event-type][data-type][slow][ml][subchannels]"},
      {"qal3 chan select -q in-event NOR", "[NORMAL]"},
      {"qal3 chan select slow ''", "[a b.xml]"},  // channels are not known: files
  };
  for (const auto& c : kCases) {
    TempFile script("cd " + dir.path + "\nsource " + std::string(QAL3_TOOLS_DIR) +
                        "/qal3.bash-completion\ncompopt() { :; }\nCOMP_WORDS=(" + c.words +
                        ")\nCOMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n_qal3\n"
                        "[ ${#COMPREPLY[@]} -eq 0 ] || printf '[%s]' \"${COMPREPLY[@]}\"\n",
                    ".sh");
    std::string out;
    ASSERT_EQ(run_command("bash " + script.path(), &out), 0) << c.words;
    EXPECT_EQ(out, c.want) << c.words;
  }
}

// Behaviour that is kept but easy to miss is said in the help.
TEST(ToolConventions, HelpSaysWhatIsEasyToMiss) {
  const struct {
    const char* cmd;
    const char* says;
  } kCases[] = {
      {"trigger test", "DIFFSUM      previous minus current sum"},
      {"trigger test", "window that ends before the spectrum starts reads to the end"},
      {"trigger test", "RMS          squares in single precision"},
      {"trigger test", "MIN MAX P2P  keep a NaN only when it is the first sample"},
      {"trigger print", "Creation time is not read back"},
      {"trigger convert", "Creation time is not read back"},
      {"chan convert", "puts each bit's former description into its title"},
      {"chan", "ORs the event types (ENV 4 and NORMAL 1 give UPD 5)"},
  };
  for (const auto& c : kCases) {
    std::string out;
    ASSERT_EQ(qal3(std::string(c.cmd) + " --help", &out), 0) << c.cmd;
    // The help is folded: compare the words, one blank between each.
    const auto words = [](const std::string& t) {
      std::string w;
      for (char ch : t) {
        if (ch != ' ' && ch != '\n')
          w += ch;
        else if (!w.empty() && w.back() != ' ')
          w += ' ';
      }
      return w;
    };
    EXPECT_NE(words(out).find(words(c.says)), std::string::npos) << c.cmd << ": " << c.says;
  }
}

// The committed manual page and completion are what the tool makes from the
// descriptions behind its --help.
TEST(ToolConventions, ManualPageAndCompletionMatchTheHelp) {
  std::string man, completion;
  ASSERT_EQ(qal3("--man", &man), 0);
  ASSERT_EQ(qal3("--bash-completion", &completion), 0);
  EXPECT_EQ(man, testutil::read_file(std::string(QAL3_TOOLS_DIR) + "/qal3.1"))
      << "run: cmake --build <build> --target qal3-docs";
  EXPECT_EQ(completion, testutil::read_file(std::string(QAL3_TOOLS_DIR) + "/qal3.bash-completion"))
      << "run: cmake --build <build> --target qal3-docs";
  EXPECT_NE(man.find("qal3 chan select"), std::string::npos);
  EXPECT_NE(completion.find("\"chan convert\")\n      opts="), std::string::npos);
}
