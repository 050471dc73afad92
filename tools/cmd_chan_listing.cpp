// qal3 chan listing: write the tab-separated listing of the descriptions.
#include "chan_documents.h"
#include "cli_common.h"

int cmd_chan_listing(int argc, char** argv) {
  chan_docs::Options o;
  const int st = chan_docs::parse_options("listing", argc, argv, o);
  if (st >= 0) return st;
  return chan_docs::convert_documents(o, chan_docs::Combine::append, chan_docs::Findings::silent, 1);
}
