// qal3 chan merge: merge several documents into one by property name.
#include "chan_documents.h"
#include "cli_common.h"

int cmd_chan_merge(int argc, char** argv) {
  chan_docs::Options o;
  const int st = chan_docs::parse_options("merge", argc, argv, o);
  if (st >= 0) return st;
  return chan_docs::convert_documents(o, chan_docs::Combine::merge, chan_docs::Findings::warn);
}

