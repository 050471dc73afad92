#!/usr/bin/env bash
# Times `qal3 check` over two inputs it makes once in a work folder:
#   - a folder of 1,000 documents of every family (channel descriptions,
#     DAQ variables, trigger lists, event lists, environment dictionaries,
#     camera feature files) whose trigger lists, event lists and dictionaries
#     name channels described in the folder's channel files, so the checks
#     across files have real work (and a few near misses to report);
#   - one channel-description file of about 31 MB.
# For each, runs check N times (3 by default) under /usr/bin/time and prints
# wall time, user and system CPU, peak memory (max RSS), exit status and the
# number of finding lines of every run, then the medians.
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: bench/check_figures.sh [--runs N] [--only folder|file] QAL3 WORKDIR

Times `QAL3 check` over a folder of 1,000 documents and over one channel
description file of about 31 MB, both made in WORKDIR/inputs on the first
run and reused after (the same bytes on every machine). Prints per run:
wall seconds, user and system CPU seconds, max RSS in KiB, the exit status
of check (1 is expected: the inputs hold a few errors) and the number of
finding lines; then the median of each column. Each run's standard output
and error are kept in WORKDIR/out.

  --runs N       runs per input (default 3)
  --only WHAT    time only the folder or only the file
  -h, --help     this text

Needs /usr/bin/time (Debian package time) and python3.
EOF
}

runs=3
only=
while [ $# -gt 0 ]; do
  case "$1" in
    -h|--help) usage; exit 0 ;;
    --runs) runs="${2:?--runs needs a number}"; shift 2 ;;
    --runs=*) runs="${1#--runs=}"; shift ;;
    --only) only="${2:?--only needs folder or file}"; shift 2 ;;
    --only=*) only="${1#--only=}"; shift ;;
    --) shift; break ;;
    -*) echo "check_figures.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
    *) break ;;
  esac
done
if [ $# -ne 2 ]; then usage >&2; exit 2; fi
case "$runs" in ''|*[!0-9]*|0) echo "check_figures.sh: --runs wants a number above 0" >&2; exit 2 ;; esac
case "$only" in ''|folder|file) ;; *) echo "check_figures.sh: --only wants folder or file" >&2; exit 2 ;; esac

qal3="$1"
work="$2"
[ -x "$qal3" ] || { echo "check_figures.sh: $qal3 is not an executable" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "check_figures.sh: /usr/bin/time is missing (apt-get install time)" >&2; exit 2; }
python=python3
[ -x /usr/bin/python3 ] && python=/usr/bin/python3
qal3="$(cd "$(dirname "$qal3")" && pwd)/$(basename "$qal3")"
mkdir -p "$work"
work="$(cd "$work" && pwd)"

# Bump when the generator changes, so that an old cache is made anew.
gen_version=1
inputs="$work/inputs"
folder="$inputs/folder"
bigfile="$inputs/chan_31MB.xml"

generate() {
  "$python" - "$1" <<'PY'
import os, sys

out = sys.argv[1]
folder = os.path.join(out, "folder")
os.makedirs(folder)

HEAD = '<?xml version="1.0" encoding="ISO-8859-1" ?>\n'
AREAS = ["LINAC", "INJ", "BC1", "BC2", "UND1", "UND2", "DUMP", "EXP1", "EXP2", "LASER"]


def write(name, text):
    with open(os.path.join(folder, name), "w", encoding="latin-1", newline="\n") as f:
        f.write(text)


def section(s):
    return "%s%d" % (AREAS[s % 10], s // 10 + 1)


# Channels described in section s: (property, DAQ name, shape).
def diag_channels(s):
    sec, n = section(s), 8 + (s * 7) % 40
    for i in range(n):
        shape = ("bpm", "toroid", "camera", "status")[i % 4]
        dev = {"bpm": "BPM", "toroid": "TOROID", "camera": "CAMERA", "status": "INTERLOCK"}[shape]
        tail = {"bpm": "X.TD", "toroid": "CHARGE.TD", "camera": "IMAGE", "status": "STATUS"}[shape]
        yield ("FAC.%s/%s/%s%d/%s" % (sec, dev, dev[:3], i, tail),
               "%s.%s%d.%s" % (sec, dev[:3], i, tail.split(".")[0]), shape)


def rf_channels(s):
    sec, n = section(s), 4 + (s * 3) % 17
    for i in range(n):
        yield ("FAC.%s/RF/CAV%d/AMPLITUDE" % (sec, i), "%s.CAV%d.AMPL" % (sec, i), "rf")


def daq_channels(s):
    sec, n = section(s), 5 + s % 20
    for i in range(n):
        if i % 3 == 2:
            yield ("FAC.%s/MAGNETS/QUAD%d/CURRENT.RBV" % (sec, i), "%s.Q%d.I" % (sec, i), "float")
        else:
            yield ("FAC.%s/VACUUM/GAUGE%d/PRESSURE" % (sec, i), "%s.G%d.P" % (sec, i), "float")


def chan_element(k, prop, name, shape, stream=1):
    e = ["<CHANNEL>", "<STREAM>%d</STREAM>" % stream]
    if shape == "bpm":
        e += ["<EVTYPE>1</EVTYPE>", "<DTYPE>38</DTYPE>", "<DB_KEY>%d</DB_KEY>" % k, "<COUNT>0</COUNT>",
              "<SB_NAME>FAC.DIAG.BPM</SB_NAME>", "<PROP>%s</PROP>" % prop, "<NAME>%s</NAME>" % name,
              "<SETPOINT>0</SETPOINT>", "<SUBSYSTEM>DIAG</SUBSYSTEM>", "<UNITS>mm</UNITS>",
              "<DESC>Horizontal beam position at monitor %d, bunch train</DESC>" % k, "<SIZE>800</SIZE>",
              "<DIM>0", "<DIM_NAME>bunch</DIM_NAME>", "<DIM_UNITS>us</DIM_UNITS>",
              "<DIM_DESCR>Time of the bunch in the train</DIM_DESCR>",
              "<STAT>0", "<STAT_NAME>mean</STAT_NAME>", "<STAT_UNITS>mm</STAT_UNITS>",
              "<STAT_DESCR>Mean position over the train</STAT_DESCR>", "</STAT>",
              "<STAT>1", "<STAT_NAME>rms</STAT_NAME>", "<STAT_UNITS>mm</STAT_UNITS>",
              "<STAT_DESCR>RMS of the position over the train</STAT_DESCR>", "</STAT>", "</DIM>"]
    elif shape == "toroid":
        e += ["<EVTYPE>1</EVTYPE>", "<DTYPE>35</DTYPE>", "<DB_KEY>%d</DB_KEY>" % k, "<COUNT>0</COUNT>",
              "<SB_NAME>FAC.DIAG.TOROIDS</SB_NAME>", "<PROP>%s</PROP>" % prop, "<NAME>%s</NAME>" % name,
              "<SETPOINT>0</SETPOINT>", "<SUBSYSTEM>DIAG</SUBSYSTEM>", "<UNITS>nC</UNITS>",
              "<DESC>Bunch charge &amp; losses at toroid %d</DESC>" % k, "<SIZE>1</SIZE>"]
    elif shape == "camera":
        e += ["<EVTYPE>6</EVTYPE>", "<DTYPE>27</DTYPE>", "<DB_KEY>%d</DB_KEY>" % k, "<COUNT>0</COUNT>",
              "<SB_NAME>FAC.CAMERAS</SB_NAME>", "<PROP>%s</PROP>" % prop, "<NAME>%s</NAME>" % name,
              "<SETPOINT>0</SETPOINT>", "<SUBSYSTEM>DIAG</SUBSYSTEM>", "<UNITS>counts</UNITS>",
              "<DESC>Screen camera image %d</DESC>" % k, "<SIZE>307200</SIZE>",
              "<DIM>0", "<DIM_NAME>x</DIM_NAME>", "<DIM_UNITS>pixel</DIM_UNITS>",
              "<DIM_DESCR>Horizontal pixel</DIM_DESCR>", "</DIM>",
              "<DIM>1", "<DIM_NAME>y</DIM_NAME>", "<DIM_UNITS>pixel</DIM_UNITS>",
              "<DIM_DESCR>Vertical pixel</DIM_DESCR>",
              "<STAT>0", "<STAT_NAME>centroid</STAT_NAME>", "<STAT_UNITS>pixel</STAT_UNITS>",
              "<STAT_DESCR>Vertical centroid of the image</STAT_DESCR>", "</STAT>", "</DIM>"]
    elif shape == "status":
        e += ["<EVTYPE>1</EVTYPE>", "<DTYPE>33</DTYPE>", "<DB_KEY>%d</DB_KEY>" % k, "<COUNT>0</COUNT>",
              "<SB_NAME>FAC.STATUS</SB_NAME>", "<PROP>%s</PROP>" % prop, "<NAME>%s</NAME>" % name,
              "<SETPOINT>0</SETPOINT>", "<SUBSYSTEM>SAFETY</SUBSYSTEM>", "<UNITS></UNITS>",
              "<DESC>Interlock status word %d</DESC>" % k, "<SIZE>1</SIZE>",
              "<BIT>0", "<BIT_NAME>HV_ON</BIT_NAME>", "<BIT_DESCR>High voltage on</BIT_DESCR>", "</BIT>",
              "<BIT>1", "<BIT_NAME>INTERLOCK</BIT_NAME>", "<BIT_DESCR>Interlock open</BIT_DESCR>", "</BIT>",
              "<BIT>4", "<BIT_NAME>LOCAL</BIT_NAME>",
              "<BIT_DESCR>Local control &amp; no remote access</BIT_DESCR>", "</BIT>"]
    elif shape == "rf":
        e += ["<EVTYPE>20</EVTYPE>", "<DTYPE>43</DTYPE>", "<DB_KEY>%d</DB_KEY>" % k,
              "<SB_NAME>FAC.RF</SB_NAME>", "<PROP>%s</PROP>" % prop, "<NAME>%s</NAME>" % name,
              "<SUBSYSTEM>RF</SUBSYSTEM>", "<UNITS>MV/m</UNITS>",
              "<DESC>Cavity field amplitude %d</DESC>" % k, "<SIZE>2048</SIZE>",
              "<DIM>0", "<DIM_NAME>t</DIM_NAME>", "<DIM_UNITS>us</DIM_UNITS>",
              "<DIM_DESCR>time in the pulse</DIM_DESCR>",
              "<STAT>0", "<STAT_NAME>mean</STAT_NAME>", "<STAT_UNITS>MV/m</STAT_UNITS>",
              "<STAT_DESCR>mean over the flat top</STAT_DESCR>", "</STAT>", "</DIM>"]
    elif shape == "again":  # a property described twice: the second adds an event type
        e += ["<EVTYPE>5</EVTYPE>", "<DTYPE>33</DTYPE>", "<PROP>%s</PROP>" % prop,
              "<NAME>%s.UPD</NAME>" % name, "<DESC>Same property, recorded on change</DESC>"]
    return "\n".join(e + ["</CHANNEL>"]) + "\n"


def chandescriptions(channels, key0, again_every=0):
    d = [HEAD, "<CHANDESCRIPTIONS>\n"]
    for i, (prop, name, shape) in enumerate(channels):
        d.append(chan_element(key0 + i, prop, name, shape, 1 + i % 8))
        if again_every and i % again_every == again_every - 1:
            d.append(chan_element(0, prop, name, "again", 8))
    d.append("</CHANDESCRIPTIONS>\n")
    return "".join(d)


def daqvariables(s, channels):
    d = [HEAD, "<DAQvariables>\n"]
    for i, (prop, name, _) in enumerate(channels):
        quad = "/QUAD" in prop
        d.append("<DaqFloat>\n<evType>%d</evType>\n<nexol>%s</nexol>\n<daqName>%s</daqName>\n"
                 "<DBKey>%d</DBKey>\n<setPoint>0</setPoint>\n<sbName>FAC.%s</sbName>\n"
                 "<subSystem>%s</subSystem>\n<description>%s</description>\n<units>%s</units>\n"
                 "<freq>1</freq>\n</DaqFloat>\n"
                 % (4 if quad else 1, prop, name, 50000 + s * 100 + i, "MAGNETS" if quad else "VACUUM",
                    "MAGNETS" if quad else "VACUUM",
                    "Quadrupole current, read back" if quad else "Vacuum pressure at gauge %d" % i,
                    "A" if quad else "mbar"))
    if s % 4 == 0:
        d.append("<DaqBits>\n<evType>5</evType>\n<nexol>FAC.%s/RF/KLYSTRON/STATUS</nexol>\n"
                 "<daqName>%s.KLY.STATUS</daqName>\n<DBKey>%d</DBKey>\n<setPoint>0</setPoint>\n"
                 "<sbName>FAC.RF.STATUS</sbName>\n<subSystem>RF</subSystem>\n"
                 "<description>Klystron status word</description>\n<units></units>\n"
                 '<bitTitle bit="0">Filament on</bitTitle>\n<bitTitle bit="1">High voltage on</bitTitle>\n'
                 '<bitTitle bit="7">Vacuum &lt; limit</bitTitle>\n<freq>1</freq>\n</DaqBits>\n'
                 % (section(s), section(s), 59000 + s))
    d.append("</DAQvariables>\n")
    return "".join(d)


TRIG = [  # function, window, operation, limits
    ('MEAN', ' start="2" end="5" incr="1"', "INSIDE", '<LowLimit value="2.500000"/>\n<UpperLimit value="3.500000"/>\n'),
    ('P2P', ' start="100" end="-1"', "GT", '<UpperLimit value="5.000000"/>\n'),
    ('DIFFMAX', ' start="0" end="-1"', "OUTSIDE", '<LowLimit value="-1.000000"/>\n<UpperLimit value="1.000000"/>\n'),
    ('MAX', ' start="0" end="30" incr="1"', "OUTSIDE", '<LowLimit value="0.500000"/>\n<UpperLimit value="100.000000"/>\n'),
    ('MIN', ' start="10" end="400" incr="2"', "LT", '<LowLimit value="-0.050000"/>\n'),
    ('VALUE', '', "BITS", '<BitMask mask="0x5"/>\n'),
    ('STD', ' start="12" end="28" incr="1"', "GT", '<UpperLimit value="0.100000"/>\n'),
    ('VALUE', ' position="8"', "LT", '<LowLimit value="0.500000"/>\n'),
]


def trigger_list(s, which, names):
    n = 4 + (s * 5 + which * 11) % 22
    d = [HEAD, "<QAL3USERTRIGGERLIST>\n", "\t<isodate>2026-%02d-%02dT09:00:00</isodate>\n" % (1 + s % 12, 1 + which)]
    for t in range(n):
        name = names[(t * 7 + which * 3 + s) % len(names)]
        if (s * 31 + which * 17 + t) % 97 == 0:  # a near miss: one character dropped
            name = name[:-3] + name[-2:]
        f, window, op, limits = TRIG[(t + which + s) % len(TRIG)]
        if (s * 13 + which * 7 + t) % 151 == 0:  # a misspelt function name
            f += f[-1]
        d.append('<USERTRIGGER>\n<Chan name="%s" subchan="%d"/>\n<Function name="%s"%s/>\n'
                 '<Operation name="%s"/>\n%s<Description text="%s %s on %s &amp; co"/>\n'
                 '<PreMode events="0"/>\n<PostMode events="%d"/>\n<Group name="%s"/>\n</USERTRIGGER>\n'
                 % (name, t % 2, f, window, op, limits, f, op, name, t % 6, section(s).lower()))
    d.append("</QAL3USERTRIGGERLIST>\n")
    return "".join(d)


def event_list(s, which, names):
    d = [HEAD, "<BMR>\n"]
    for e in range(2 + (s + which) % 6):
        chans = "".join("\t\t\t\t<CHAN>%s</CHAN>\n" % names[(e * 5 + c + which) % len(names)]
                        for c in range(1 + (e + s) % 4))
        d.append("\t<EVENT>\n\t\t<TYPE>%d</TYPE>\n\t\t<TMASK>0x%X</TMASK>\n\t\t<MINTIMESEC>%d</MINTIMESEC>\n"
                 "\t\t<MINTIMEUSEC>%d</MINTIMEUSEC>\n\t\t<PRIORITY>%d</PRIORITY>\n"
                 "\t\t<SBLOCK>%s_BLOCK%d<CHLIST>\n%s\t\t\t</CHLIST>\n\t\t</SBLOCK>\n\t</EVENT>\n"
                 % (40 if (s % 25, which, e) == (7, 1, 1) else 1 + (s + e * 3 + which) % 31, 0x1F << (e % 4), e * 10, 500 * e, e % 4,
                    section(s), e, chans))
    d.append("</BMR>\n")
    return "".join(d)


def envdict(s, props):
    d = [HEAD, "<ENVINDEXDICT>\n", "\t<isodate>2024-03-%02dT09:30:00</isodate>\n" % (1 + s % 28)]
    entries = list(props) + ["FAC.%s/HALL.TEMP/SENSOR.%d/TEMPERATURE" % (section(s), i) for i in range(6)]
    for i, p in enumerate(entries):
        d.append("<CHANNEL>\n<INDEX>%d</INDEX>\n<PROP>%s</PROP>\n<DABS>0.%06d</DABS>\n<DREL>0.005000</DREL>\n</CHANNEL>\n"
                 % (i, p, 100 + i))
    d.append("</ENVINDEXDICT>\n")
    return "".join(d)


def camera(s):
    d = ['<?xml version="1.0" encoding="UTF-8"?>\n',
         '<RegisterDescription ModelName="Cam%s" VendorName="FacilityLab" MajorVersion="1" MinorVersion="%d">\n'
         % (section(s), s % 10),
         '  <Category Name="Root">\n    <pFeature>ImageFormat</pFeature>\n  </Category>\n'
         '  <Category Name="ImageFormat">\n    <pFeature>Width</pFeature>\n    <pFeature>PixelFormat</pFeature>\n'
         '  </Category>\n']
    for i in range(3 + s % 8):
        d.append('  <Integer Name="Width%d">\n    <ToolTip>Width of region %d in pixels.</ToolTip>\n'
                 '    <Description>Number of pixels per line of region %d.</Description>\n'
                 '    <pValue>WidthReg%d</pValue>\n    <Min>8</Min>\n    <Max>1280</Max>\n    <Inc>8</Inc>\n'
                 '  </Integer>\n  <IntReg Name="WidthReg%d">\n    <Address>0x%04X</Address>\n    <Length>4</Length>\n'
                 '    <AccessMode>RW</AccessMode>\n    <pPort>Device</pPort>\n  </IntReg>\n'
                 % (i, i, i, i, i, 0x100 + 4 * i))
    d.append('  <Enumeration Name="PixelFormat">\n    <ToolTip>Format of the pixels sent by the camera.</ToolTip>\n'
             '    <EnumEntry Name="Mono8">\n      <Value>17301505</Value>\n    </EnumEntry>\n'
             '    <EnumEntry Name="Mono12">\n      <Value>17825797</Value>\n    </EnumEntry>\n'
             '    <pValue>PixelFormatReg</pValue>\n  </Enumeration>\n'
             '  <Float Name="ExposureTime">\n    <Extension>\n      <PvRename>ExposureTimeAbs</PvRename>\n'
             '    </Extension>\n    <ToolTip>Exposure time in microseconds.</ToolTip>\n'
             '    <Min>10.0</Min>\n    <Max>1000000.0</Max>\n  </Float>\n'
             '  <Command Name="AcquisitionStart">\n    <ToolTip>Starts the acquisition of images.</ToolTip>\n'
             '    <pValue>AcquisitionCommandReg</pValue>\n    <CommandValue>1</CommandValue>\n  </Command>\n'
             '  <StringReg Name="DeviceUserID">\n    <Description>Name that the user gives the camera.</Description>\n'
             '    <Address>0x0300</Address>\n    <Length>16</Length>\n  </StringReg>\n'
             '</RegisterDescription>\n')
    return "".join(d)


# The folder: 100 sections of 10 documents each.
for s in range(100):
    sec = section(s).lower()
    diag, rf, daq = list(diag_channels(s)), list(rf_channels(s)), list(daq_channels(s))
    write("%s_chan_diag.xml" % sec, chandescriptions(diag, 10000 + s * 100))
    write("%s_chan_rf.xml" % sec, chandescriptions(rf, 20000 + s * 100, 7 if s % 10 == 3 else 0))
    write("%s_daqvars.xml" % sec, daqvariables(s, daq))
    # Trigger and event lists name channels of their own section and of the
    # one before, by property or by DAQ name.
    near = diag + rf + daq + list(diag_channels((s + 99) % 100))
    names = [c[(i // 2) % 2] for i, c in enumerate(near)]
    for w in range(3):
        write("%s_triggers_%c.xml" % (sec, "abc"[w]), trigger_list(s, w, names))
    daq_names = [c[1] for c in near]
    for w in range(2):
        write("%s_evlist_%c.xml" % (sec, "ab"[w]), event_list(s, w, daq_names))
    write("%s_envdict.xml" % sec, envdict(s, [c[0] for c in daq[: 3 + s % 5]]))
    write("%s_camera.xml" % sec, camera(s))

# One channel description file of about 31 MB: the shapes of the folder's
# channels over many sections, a property described twice now and then.
target = 31 * 1000 * 1000
shapes = ("bpm", "toroid", "camera", "status", "rf", "toroid", "bpm", "rf")
with open(os.path.join(out, "chan_31MB.xml"), "w", encoding="latin-1", newline="\n") as f:
    f.write(HEAD + "<CHANDESCRIPTIONS>\n")
    size, i = 0, 0
    while size < target:
        shape = shapes[i % len(shapes)]
        sec = "%s%d" % (AREAS[i % 10], i // 1000)
        prop = "FAC.%s/%s/DEV%d/%s" % (sec, shape.upper(), i, "VALUE.TD")
        text = chan_element(100000 + i, prop, "%s.%s%d" % (sec, shape.upper(), i), shape, 1 + i % 8)
        if i % 2500 == 2499:
            text += chan_element(0, prop, "%s.%s%d" % (sec, shape.upper(), i), "again", 8)
        f.write(text)
        size += len(text)
        i += 1
    f.write("</CHANDESCRIPTIONS>\n")
PY
}

stamp="$inputs/.made-by-check_figures-v$gen_version"
if [ ! -e "$stamp" ]; then
  echo "making the inputs in $inputs ..." >&2
  rm -rf "$inputs" "$inputs.new"
  mkdir -p "$inputs.new"
  generate "$inputs.new"
  touch "$inputs.new/.made-by-check_figures-v$gen_version"
  mv "$inputs.new" "$inputs"
fi

nfiles=$(find "$folder" -type f -name '*.xml' | wc -l)
folder_bytes=$(du -sb --apparent-size "$folder" | cut -f1)
file_bytes=$(stat -c %s "$bigfile")

# The median of the numbers on standard input (the lower middle for an even count).
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

out="$work/out"
mkdir -p "$out"
echo "qal3: $qal3 ($("$qal3" --version 2>&1 | head -1 || true))"
echo "machine: $(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "folder: $folder ($nfiles files, $folder_bytes bytes)"
echo "file:   $bigfile ($file_bytes bytes)"

time_input() {
  local label="$1" input="$2" r rc
  cat "$input" >/dev/null 2>&1 || find "$input" -type f -exec cat {} + >/dev/null
  printf '\n%-7s %4s %9s %9s %9s %12s %5s %9s\n' "$label" run wall_s user_s sys_s maxrss_KiB exit findings
  : >"$out/$label.times"
  for r in $(seq 1 "$runs"); do
    rc=0
    /usr/bin/time -f '%e %U %S %M' -o "$out/$label.time" \
      "$qal3" check "$input" >"$out/$label.$r.stdout" 2>"$out/$label.$r.stderr" || rc=$?
    # time puts "Command exited with non-zero status N" first when N is not 0.
    read -r wall user sys rss < <(tail -n 1 "$out/$label.time")
    findings=$(wc -l <"$out/$label.$r.stdout")
    echo "$wall $user $sys $rss $rc $findings" >>"$out/$label.times"
    printf '%-7s %4s %9s %9s %9s %12s %5s %9s\n' "$label" "$r" "$wall" "$user" "$sys" "$rss" "$rc" "$findings"
  done
  printf '%-7s %4s %9s %9s %9s %12s %5s %9s\n' "$label" median \
    "$(cut -d' ' -f1 "$out/$label.times" | median)" "$(cut -d' ' -f2 "$out/$label.times" | median)" \
    "$(cut -d' ' -f3 "$out/$label.times" | median)" "$(cut -d' ' -f4 "$out/$label.times" | median)" \
    "$(cut -d' ' -f5 "$out/$label.times" | sort -u | paste -sd/)" "$(cut -d' ' -f6 "$out/$label.times" | median)"
  grep -h 'check:' "$out/$label.$runs.stderr" | tail -1 | sed 's/^/summary: /' || true
}

[ "$only" = file ] || time_input folder "$folder"
[ "$only" = folder ] || time_input file "$bigfile"
