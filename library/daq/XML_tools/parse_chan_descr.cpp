// Channel descriptions, and the declaration and time stamp helpers.
#include "parse_chan_descr.h"

#include <cstdio>

void set_xml_header(std::string& str) {
  str.assign("<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n");
}

void create_isodate(char* isodate_str, time_t* t) {
  if (!isodate_str) return;
  const time_t when = t ? *t : time(nullptr);
  struct tm local {};
  if (!localtime_r(&when, &local)) {
    isodate_str[0] = '\0';
    return;
  }
  if (strftime(isodate_str, 40, "%FT%T", &local) == 0) isodate_str[0] = '\0';
}

void create_isodate(char* isodate_str) {
  if (!isodate_str) return;
  time_t now = time(nullptr);
  create_isodate(isodate_str, &now);
}

void add_iso_date(std::string& str) {
  char date[64] = {0};
  create_isodate(date);
  char line[80];
  std::snprintf(line, sizeof line, "\t<isodate>%.*s</isodate>\n", 58, date);
  str += line;
}

// --- Temporary stubs: the API of Parts 3.1 to 3.4 (implementation follows).
const char* const tags[QAL3_CHAN_DESCR_TAG_ROWS][QAL3_CHAN_DESCR_TAG_COLS] = {
    {"CHANDESCRIPTIONS", nullptr, nullptr},
    {"CHANNEL", nullptr, nullptr},
    {"EVTYPE", nullptr, nullptr},
    {"STREAM", nullptr, nullptr},
    {"PROP", nullptr, nullptr},
    {"NAME", nullptr, nullptr},
    {"DESC", nullptr, nullptr},
    {"UNITS", "DIM_UNITS", "STAT_UNITS"},
    {"SIZE", nullptr, nullptr},
    {"BIT", "DIM", "STAT"},
    {"BIT_NAME", "DIM_NAME", "STAT_NAME"},
    {"BIT_DESCR", "DIM_DESCR", "STAT_DESCR"},
    {"SB_NAME", nullptr, nullptr},
    {"DTYPE", nullptr, nullptr},
    {"COUNT", nullptr, nullptr},
    {"SETPOINT", nullptr, nullptr},
    {"SUBSYSTEM", nullptr, nullptr},
    {"DB_KEY", nullptr, nullptr},
};
int parse_descr_list_read(char*, std::vector<chan_descr_2010*>* list, bool, bool) { return list ? 1 : 2; }
int parse_descr_list_readf(char*, std::vector<chan_descr_2010*>* list, bool, bool) { return list ? 1 : 2; }
chan_descr_2010* find_chan_entry(std::vector<chan_descr_2010*>*, char*) { return nullptr; }
int dump_chan_desr(std::vector<chan_descr_2010*>*, char*, int, int, int, std::string*, std::vector<dim_params*>*) { return 2; }
int dump_chan_desr_from_xml(char*, char*, int, int, int) { return 3; }
char* get_chan_descr_root_tag(int, int) { return nullptr; }
bit_descr* qal3_clone_bit_descr(bit_descr*) { return nullptr; }
stat_descr* qal3_clone_stat_descr(stat_descr*) { return nullptr; }
dim_descr* qal3_clone_dim_descr(dim_descr*) { return nullptr; }
void clean_chan_desr_list(std::vector<chan_descr_2010*>*) {}
void print_qal3_chan_descr(std::vector<chan_descr_2010*>*) {}
bool extend_channel_description(chan_descr_2010*, chan_descr_2010*, bool) { return true; }
int qal3_load_chan_descr(qal3_xml_chan_descr_header*, std::vector<chan_descr_2010*>*) { return -1; }
int qal3_load_master_daq_channel_description_file(std::vector<chan_descr_2010*>*, char*) { return -1; }
