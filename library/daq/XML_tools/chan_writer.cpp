// The channel description writer: CHANDESCRIPTIONS and DAQvariables
// documents, the tab-separated listing and the name table.
#include <cstdio>
#include <string>
#include <vector>

#include "chan_descr_internal.h"
#include "float_text.h"
#include "messages.h"
#include "name_map.h"
#include "text_field.h"
#include "xml_output.h"

namespace msg = qal3::messages;

using namespace qal3::chan;  // tag(), its rows and columns, the shared constants

namespace {

constexpr auto put_text = qal3::output::text_element;

void put_int(std::string& out, const char* name, int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%d", v);
  START_TAG(out, name);
  out += buf;
  END_TAGN(out, name);
}

void put_float(std::string& out, const char* name, float v) {
  START_TAG(out, name);
  out += qal3::number::float_text(v, qal3::number::FloatForm::scientific);
  END_TAGN(out, name);
}

// Start tag of "BIT", "DIM" or "STAT" with its number and a newline.
void put_numbered_start(std::string& out, const char* name, int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%d\n", v);
  START_TAG(out, name);
  out += buf;
}

void put_spectrum_axis(std::string& out, const qal3_spect_header_2010& h) {
  put_float(out, "DIM_START", h.start);
  put_float(out, "DIM_INC", h.inc);
  put_int(out, "DIM_NDATA", h.ndata);
  put_int(out, "DIM_GROUPS", h.groups);
  put_float(out, "DIM_GROUP_INC", h.group_inc);
}

void put_image_axis(std::string& out, const qal3_image_ext_frame_head& h) {
  put_int(out, "DIM_XSTART", h.x_start);
  put_int(out, "DIM_WIDTH", h.aoi_width > 0 ? h.aoi_width : h.width);
  if (h.hbin > 0) put_int(out, "DIM_XBIN", h.hbin);
  put_int(out, "DIM_YSTART", h.y_start);
  put_int(out, "DIM_HEIGHT", h.aoi_height > 0 ? h.aoi_height : h.height);
  if (h.vbin > 0) put_int(out, "DIM_YBIN", h.vbin);
  if (h.bpp > 0) put_int(out, "DIM_BPP", h.bpp);
  if (h.ebitpp > 0) put_int(out, "DIM_EBITPP", h.ebitpp);
  if (h.ispare4 != -1) put_int(out, "DIM_UNSIGNED", h.ispare4);
  if (h.fspare2 > 0.0f) put_float(out, "DIM_START", h.fspare2);
  if (h.fspare3 > 0.0f) put_float(out, "DIM_INC", h.fspare3);
  if (h.ispare3 > 0) put_int(out, "DIM_NDATA", h.ispare3);
  if (h.ispare2 > 0) put_int(out, "DIM_GROUPS", h.ispare2);
  if (h.fspare4 > 0.0f) put_float(out, "DIM_GROUP_INC", h.fspare4);
}

// Axis elements of dimension number `k` of the axis entry `p` (only for
// k in 0..num-1).
void put_axis(std::string& out, const dim_params* p, int k) {
  if (!p || k < 0 || k >= p->num) return;
  if (p->params) put_spectrum_axis(out, p->params[k]);
  if (p->iparams) put_image_axis(out, p->iparams[k]);
}

// The axis entries of one call, by DAQ name: the first qualifying entry of
// `dims` for each name.
class AxisIndex {
 public:
  explicit AxisIndex(std::vector<dim_params*>* dims) {
    if (!dims) return;
    for (dim_params* p : *dims) {
      if (p && p->name && p->num != 0 && (p->params || p->iparams)) index_.insert(p->name, p);
    }
  }
  const dim_params* find(const char* name) const {
    const dim_params* const* found = index_.find(name);
    return found ? *found : nullptr;
  }

 private:
  qal3::NameMap<const dim_params*> index_;
};

void write_chandescriptions(std::string& out, const chan_descr_2010* d, const char* name, const dim_params* axis) {
  START_TAGN(out, tag(T_CHANNEL));
  put_int(out, tag(T_STREAM), d->stream);
  put_int(out, tag(T_EVTYPE), static_cast<int>(d->ev_type));
  put_int(out, tag(T_DTYPE), static_cast<int>(d->dtype));
  put_int(out, tag(T_DB_KEY), d->db_key);
  put_int(out, tag(T_COUNT), d->count);
  put_text(out, tag(T_SB_NAME), d->sb_name);
  put_text(out, tag(T_PROP), d->prop_name);
  put_text(out, tag(T_NAME), name);
  put_int(out, tag(T_SETPOINT), d->set_point);
  put_text(out, tag(T_SUBSYSTEM), d->subsystem);
  put_text(out, tag(T_UNITS), d->units);
  put_text(out, tag(T_DESC), d->prop_desc);
  put_int(out, tag(T_SIZE), d->max_size);
  for (const bit_descr* b : d->bits) {
    if (!b) continue;
    put_numbered_start(out, tag(T_BIT, C_BIT), b->bit);
    put_text(out, tag(T_BIT_NAME, C_BIT), b->bit_name);
    put_text(out, tag(T_BIT_DESCR, C_BIT), b->bit_desc);
    END_TAGN(out, tag(T_BIT, C_BIT));
  }
  if (!d->dims.empty()) {
    for (const dim_descr* dm : d->dims) {
      if (!dm) continue;
      put_numbered_start(out, tag(T_BIT, C_DIM), dm->dim);
      put_text(out, tag(T_BIT_NAME, C_DIM), dm->dim_name);
      put_text(out, tag(T_UNITS, C_DIM), dm->units);
      put_text(out, tag(T_BIT_DESCR, C_DIM), dm->dim_desc);
      for (const stat_descr* st : dm->stats) {
        if (!st) continue;
        put_numbered_start(out, tag(T_BIT, C_STAT), st->stat);
        put_text(out, tag(T_BIT_NAME, C_STAT), st->stat_name);
        put_text(out, tag(T_UNITS, C_STAT), st->units);
        put_text(out, tag(T_BIT_DESCR, C_STAT), st->stat_desc);
        END_TAGN(out, tag(T_BIT, C_STAT));
      }
      put_axis(out, axis, dm->dim);
      END_TAGN(out, tag(T_BIT, C_DIM));
    }
  } else if (axis) {
    for (int k = 0; k < axis->num; ++k) {
      put_numbered_start(out, tag(T_BIT, C_DIM), k);
      put_axis(out, axis, k);
      END_TAGN(out, tag(T_BIT, C_DIM));
    }
  }
  END_TAGN(out, tag(T_CHANNEL));
}

void write_daqvariables(std::string& out, const chan_descr_2010* d, const char* name) {
  const char* element = d->max_size != 1 ? "DaqFloatMatrix" : (!d->bits.empty() ? "DaqBits" : "DaqFloat");
  START_TAGN(out, element);
  put_int(out, "evType", static_cast<int>(d->ev_type));
  put_text(out, "nexol", d->prop_name);
  put_text(out, "daqName", name);
  put_int(out, "DBKey", d->db_key);
  put_int(out, "setPoint", d->set_point);
  put_text(out, "sbName", d->sb_name);
  put_text(out, "subSystem", d->subsystem);
  put_text(out, "description", d->prop_desc);
  put_text(out, "units", d->units);
  if (d->max_size > 1) {
    put_int(out, "firstIndex", 0);
    put_int(out, "lastIndex", d->max_size - 1);
  }
  char number[16];
  char bit_attr[] = "bit";
  char id_attr[] = "id";
  std::vector<char*> at(1);
  std::vector<char*> v(1, number);
  for (const bit_descr* b : d->bits) {
    if (!b) continue;
    std::snprintf(number, sizeof number, "%d", b->bit);
    at[0] = bit_attr;
    START_TAG_ATTRNS(out, "bitTitle", &at, &v);
    xml_escape(out, b->bit_desc);
    END_TAGN(out, "bitTitle");
  }
  // Dimensions are read only inside "DaqFloatMatrix"; elsewhere their
  // description and units would be read as the channel's own.
  const bool matrix = d->max_size != 1;
  for (const dim_descr* dm : d->dims) {
    if (!dm || !matrix) continue;
    std::snprintf(number, sizeof number, "%d", dm->dim);
    at[0] = id_attr;
    START_TAG_ATTRNNS(out, "dimension", &at, &v);
    put_text(out, "name", dm->dim_name);
    put_text(out, "description", dm->dim_desc);
    put_text(out, "units", dm->units);
    END_TAGN(out, "dimension");
  }
  const int kind = get_event_struct_type(static_cast<int>(d->ev_type));
  put_text(out, "freq", kind == QAL3_EV_STRUCT_LOCAL || kind == QAL3_EV_STRUCT_ML ? "-1" : "1");
  END_TAGN(out, element);
}

// The sub-block type named in mode 3.
const char* data_type_name(unsigned int dtype) {
  if (dtype == 0) return "UNKNOWN";
  for (int t = 0; t < 31; ++t) {
    if (dtype & (1u << t)) return block_name_itoa((dtype & 0x80000000u) ? 32 + t : t);
  }
  return "UNKNOWN";
}

using qal3::text::one_line;

void write_listing(qal3::output::File& file, const chan_descr_2010* d, const char* name) {
  file.printf("%d\t%d\t%s\t%s\t%d\t\"%s\"\t\"%s\"\t%d\t%d\t%d\n", d->stream, static_cast<int>(d->ev_type),
              one_line(name).c_str(), one_line(d->prop_name).c_str(), d->set_point, one_line(d->prop_desc).c_str(),
              one_line(d->units).c_str(), d->max_size, d->nbits, d->ndims);
  for (const bit_descr* b : d->bits) {
    if (b) file.printf("%d\t%s\t\"%s\"\n", b->bit, one_line(b->bit_name).c_str(), one_line(b->bit_desc).c_str());
  }
  for (const dim_descr* dm : d->dims) {
    if (!dm) continue;
    file.printf("%d\t%s\t\"%s\"\t\"%s\"\n", dm->dim, one_line(dm->dim_name).c_str(), one_line(dm->units).c_str(),
                one_line(dm->dim_desc).c_str());
    file.printf("%d\n", dm->nstats);
    for (const stat_descr* st : dm->stats) {
      if (st)
        file.printf("%d\t%s\t\"%s\"\t\"%s\"\n", st->stat, one_line(st->stat_name).c_str(), one_line(st->units).c_str(),
                    one_line(st->stat_desc).c_str());
    }
  }
}

const qal3::output::Messages kMessages{"dump_chan_desr()", false, "dump_chan_desr()  write failed\n", nullptr};

}  // namespace

int dump_chan_desr(std::vector<chan_descr_2010*>* chdscr_list, char* file_name, int mode, int format, int fd,
                   std::string* sout, std::vector<dim_params*>* dims) {
  if ((format != 0 && format != 1) || !chdscr_list) {
    msg::print(msg::out, msg::error, msg::flush, "dump_chan_desr() invalid argument: \'\n");
    return 2;
  }
  qal3::output::Destination out(file_name, fd, sout, kMessages);
  return out.write([&] {
    qal3::output::File& file = out.file();
    const char* root = format == 1 ? kDaqRoot : tag(T_ROOT);

    // The document: the declaration of set_xml_header, then the body built
    // in place behind it (the same text as building the body alone and
    // putting the declaration in front, without copying the body).
    std::string doc;
    if (mode == 2) {
      set_xml_header(doc);
      START_TAGN(doc, root);
      if (format == 0 && out.named()) add_iso_date(doc);
    }

    const AxisIndex axes(format == 0 && mode == 2 ? dims : nullptr);
    qal3::NameMap<bool> seen;  // a property is written once, first one wins
    seen.reserve(chdscr_list->size());
    for (const chan_descr_2010* d : *chdscr_list) {
      if (!d) continue;
      if (!seen.insert(d->prop_name, true)) continue;
      if (out.console()) {
        print_qal3_chan_descr(chdscr_list);
        break;
      }
      const char* name = d->daq_name[0] ? d->daq_name : kUndefinedName;
      if (mode == 2) {
        if (format == 0) {
          write_chandescriptions(doc, d, name, axes.find(name));
        } else {
          write_daqvariables(doc, d, name);
        }
      } else if (mode == 1) {
        write_listing(file, d, name);
      } else if (mode == 3) {
        file.printf("%50s\t%d\t%s\n", one_line(name).c_str(), d->max_size, data_type_name(d->dtype));
        if (d->dtype != 0) {
          msg::list("\n");
        }
      }
    }
    if (mode == 3) msg::flush_default(msg::out);

    if (mode != 2) return true;
    END_TAGN(doc, root);
    doc += '\n';
    return out.deliver(doc, qal3::output::Text::append);
  });
}

int dump_chan_desr_from_xml(char* xml, char* file_name, int mode, int format, int fd) {
  return qal3::output::rewrite<chan_descr_2010>(
      [&](auto* list) { return parse_descr_list_read(xml, list, true, false); }, "Failed to parse CHANDESCR list\n",
      [&](auto* list) { return dump_chan_desr(list, file_name, mode, format, fd, nullptr, nullptr); });
}
