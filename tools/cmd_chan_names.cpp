// qal3 chan names: write the DAQ name, size and data type table.
#include "chan_documents.h"
#include "cli_common.h"

int cmd_chan_names(int argc, char** argv) {
  chan_docs::Options o;
  const int st = chan_docs::parse_options("names", argc, argv, o);
  if (st >= 0) return st;
  o.shift = true;  // the table names data types stored as masks
  return chan_docs::convert_documents(o, chan_docs::Combine::append, chan_docs::Findings::silent, 3);
}
