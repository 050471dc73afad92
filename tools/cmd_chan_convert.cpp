// qal3 chan convert: write documents in one format.
#include "chan_documents.h"
#include "cli_common.h"

int cmd_chan_convert(int argc, char** argv) {
  chan_docs::Options o;
  const int st = chan_docs::parse_options("convert", argc, argv, o);
  if (st >= 0) return st;
  if (!o.format_given) return cli::usage_error("chan convert", "--to FORMAT is required");
  return chan_docs::convert_documents(o, chan_docs::Combine::append, chan_docs::Findings::warn);
}

