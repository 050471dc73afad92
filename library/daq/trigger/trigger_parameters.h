// The element and attribute names of a trigger list, its function
// parameters' among them: the trigger list reader and writer and the
// checker take them from here. Header only; internal to the project, not
// installed.
#ifndef QAL3_TRIGGER_PARAMETERS_H
#define QAL3_TRIGGER_PARAMETERS_H

namespace qal3 {
namespace trigger {

constexpr int kParameters = 16;
constexpr int kParameterNames = 5;

// For each parameter, the attribute names that give it, tried left to
// right: the first one present is read, the others are ignored. Unused
// columns hold "".
constexpr const char* const kParameterAliases[kParameters][kParameterNames] = {
    {"param0", "start", "x0", "position", ""},
    {"param1", "end", "y0", "", ""},
    {"param2", "incr", "halfwidthX", "a", ""},
    {"param3", "halfwidthY", "b", "", ""},
    {"param4", "form", "", "", ""},
    {"param5", "", "", "", ""},
    {"param6", "", "", "", ""},
    {"param7", "", "", "", ""},
    {"param8", "", "", "", ""},
    {"param9", "", "", "", ""},
    {"param10", "", "", "", ""},
    {"param11", "", "", "", ""},
    {"param12", "", "", "", ""},
    {"param13", "", "", "", ""},
    {"param14", "", "", "", ""},
    {"param15", "", "", "", ""},
};

namespace names {

// An element of a trigger record and the attribute that holds its value.
struct ListElement {
  const char* tag;
  const char* value;
};

// A record's element, and the elements in it in the order the writer writes
// them; Chan also gives the subchannel in kSubchannel.
constexpr char kRecordTag[] = "USERTRIGGER";
constexpr ListElement kChan{"Chan", "name"}, kFunction{"Function", "name"}, kOperation{"Operation", "name"},
    kLowLimit{"LowLimit", "value"}, kUpperLimit{"UpperLimit", "value"}, kBitMask{"BitMask", "mask"},
    kCreation{"Creation", "time"}, kDescription{"Description", "text"}, kPreMode{"PreMode", "events"},
    kPostMode{"PostMode", "events"}, kGroup{"Group", "name"};
constexpr char kSubchannel[] = "subchan";

}  // namespace names
}  // namespace trigger
}  // namespace qal3

#endif  // QAL3_TRIGGER_PARAMETERS_H
