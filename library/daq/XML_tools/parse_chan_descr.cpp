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
