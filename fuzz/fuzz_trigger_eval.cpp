// Trigger evaluation: trigger records and blocks of channel data decoded
// from the input, built with the event-utility stand-in's builders (each
// block is one allocation of exactly its size, so the address sanitizer
// catches any sample read outside it), evaluated several times in a row so
// that the DIFF functions run.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "event_util.h"
#include "fuzz_common.h"
#include "qal3_evutl_blocks.h"
#include "user_case_trigger.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init();
  return 0;
}

namespace {

// Takes values from the input; zeros once it is used up.
class Bytes {
 public:
  Bytes(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  uint8_t u8() {
    if (!n_) return 0;
    --n_;
    return *p_++;
  }
  uint32_t u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | u8();
    return v;
  }
  float raw_float() {
    const uint32_t bits = u32();
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  // A float of an interesting kind: small values, axis-like values, raw
  // bit patterns, NaN, infinities and huge values.
  float number() {
    switch (u8() % 10) {
      case 0:
        return raw_float();
      case 1:
        return static_cast<int8_t>(u8());
      case 2:
        return static_cast<int8_t>(u8()) / 4.0f;
      case 3:
        return std::numeric_limits<float>::quiet_NaN();
      case 4:
        return (u8() & 1) ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
      case 5:
        return (u8() & 1) ? 3.0e38f : -3.0e38f;
      case 6:
        return static_cast<float>(static_cast<int32_t>(u32()));
      case 7:
        return 0.0f;
      case 8:
        return static_cast<float>(u8()) * 1e-3f;
      default:
        return static_cast<float>(u8());
    }
  }
  int index() {  // a slot index: mostly valid, sometimes anything
    const uint8_t b = u8();
    return b < 224 ? b % 32 : static_cast<int>(u32());
  }
  int small_int() { return static_cast<int8_t>(u8()) % 5; }
  std::string name() {
    static const char* const names[] = {"", "CH", "SPEC.1", "SLOW/A"};
    const uint8_t b = u8();
    if (b < 200) return names[b % 4];
    std::string s;
    for (int i = 0, n = u8() % 12; i < n; ++i) s += static_cast<char>(u8() | 1);
    return s;
  }
  bool empty() const { return n_ == 0; }

 private:
  const uint8_t* p_;
  size_t n_;
};

void copy_name(char* dst, size_t cap, const std::string& s) {
  std::strncpy(dst, s.c_str(), cap - 1);
  dst[cap - 1] = 0;
}

qal3_user_case_trigger* make_trigger(Bytes& in) {
  auto* t = static_cast<qal3_user_case_trigger*>(std::calloc(1, sizeof(qal3_user_case_trigger)));
  if (!t) return nullptr;
  copy_name(t->channel, sizeof t->channel, in.name());
  t->subchannel = in.small_int();
  t->function = in.index();
  t->operation = in.index();
  for (float& p : t->fparam) p = in.number();
  t->low = in.number();
  t->upper = in.number();
  t->bitmask = in.u32();
  return t;
}

qal3_serv_block_subhead_2010* make_spectrum(Bytes& in, const std::string& chname) {
  const int dtype = (in.u8() & 1) ? QAL3_DATA_GSPECTRUM : QAL3_DATA_SPECTRUM;
  const int nsub = in.u8() % 3;
  std::vector<qal3_spect_header_2010> headers(nsub);
  std::vector<std::vector<float>> samples(nsub);
  std::vector<const float*> pointers(nsub);
  for (int i = 0; i < nsub; ++i) {
    headers[i].start = in.number();
    headers[i].inc = in.number();
    headers[i].groups = in.small_int();
    headers[i].group_inc = in.number();
    const uint8_t n = in.u8();
    headers[i].ndata = n < 240 ? n % 48 : n * 16;
    samples[i].resize(headers[i].ndata);
    for (float& s : samples[i]) s = in.empty() ? static_cast<float>(&s - samples[i].data()) : in.number();
    pointers[i] = samples[i].data();
  }
  return qal3_evutl_make_spectrum(chname.c_str(), dtype, nsub, headers.data(), pointers.data());
}

qal3_serv_block_subhead_2010* make_namval(Bytes& in, const std::string& chname) {
  std::vector<float> values(in.u8() % 4);
  for (float& v : values) v = in.number();
  return qal3_evutl_make_namval(chname.c_str(), static_cast<int>(values.size()), values.data());
}

qal3_serv_block_subhead_2010* make_slow(Bytes& in, const std::string& chname, const std::string& watched) {
  std::vector<qal3_upd_data_block_2010> upd(in.u8() % 3);
  for (auto& u : upd) {
    std::memset(&u, 0, sizeof u);
    copy_name(u.upd_prop, sizeof u.upd_prop, (in.u8() & 1) ? watched : in.name());
    u.upd_ch_status = in.small_int();
    u.upd_ch_data = in.number();
  }
  std::vector<qal3_env_data_block_2010> env(in.u8() % 3);
  for (auto& e : env) {
    std::memset(&e, 0, sizeof e);
    e.env_ch_idx = in.small_int();
    e.env_ch_status = in.small_int();
    e.env_ch_data = in.number();
  }
  return qal3_evutl_make_slow(chname.c_str(), static_cast<int>(upd.size()), upd.data(), static_cast<int>(env.size()),
                              env.data());
}

qal3_serv_block_subhead_2010* make_image(Bytes& in, const std::string& chname) {
  qal3_image_ext_frame_head head;
  unsigned char* h = reinterpret_cast<unsigned char*>(&head);
  for (size_t i = 0; i < sizeof head; ++i) h[i] = (i % 4 == 0) ? in.u8() : 0;
  std::vector<unsigned char> pixels(in.u8() % 32);
  for (unsigned char& p : pixels) p = in.u8();
  return qal3_evutl_make_image(chname.c_str(), &head, pixels.data(), static_cast<int>(pixels.size()));
}

qal3_serv_block_subhead_2010* make_raw(Bytes& in, const std::string& chname) {
  static const int dtypes[] = {
      QAL3_DATA_SPECTRUM, QAL3_DATA_GSPECTRUM, QAL3_DATA_NAMVAL, QAL3_DATA_SLOW, QAL3_DATA_IMAGE, 0, -1, 7};
  const uint8_t d = in.u8();
  const int dtype = d < 248 ? dtypes[d % 8] : static_cast<int>(in.u32());
  std::vector<unsigned char> bytes(in.u8() % 160);
  for (size_t i = 0; i < bytes.size(); ++i) {
    // Mostly small integers and floats in their 4-byte places, so that
    // counts and headers look plausible.
    bytes[i] = (i % 4 == 0) ? in.u8() % 8 : ((in.u8() < 32) ? in.u8() : 0);
  }
  return qal3_evutl_make_raw(chname.c_str(), dtype, bytes.data(), static_cast<int>(bytes.size()));
}

qal3_serv_block_subhead_2010* make_block(Bytes& in, const std::string& watched) {
  const std::string chname = in.name();
  switch (in.u8() % 6) {
    case 0:
    case 1:
      return make_spectrum(in, chname);
    case 2:
      return make_namval(in, chname);
    case 3:
      return make_slow(in, chname, watched);
    case 4:
      return make_image(in, chname);
    default:
      return make_raw(in, chname);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes in(data, size);
  std::vector<qal3_user_case_trigger*> triggers;
  for (int i = 0, n = 1 + in.u8() % 3; i < n; ++i)
    if (qal3_user_case_trigger* t = make_trigger(in)) triggers.push_back(t);
  const std::string watched = triggers.empty() ? std::string() : triggers[0]->channel;

  // An environment dictionary for slow channels, now and then.
  std::vector<std::string> props;
  std::vector<qal3_evutl_env_dict_entry> entries;
  qal3_evutl_env_dict dict{0, nullptr};
  const bool with_dict = in.u8() & 1;
  if (with_dict) {
    const int n = in.u8() % 3;
    props.reserve(n);
    for (int i = 0; i < n; ++i) props.push_back((in.u8() & 1) ? watched : in.name());
    for (int i = 0; i < n; ++i) entries.push_back({in.small_int(), props[i].c_str()});
    dict.count = n;
    dict.entries = entries.data();
    qal3_user_trigger_set_ext_env_dictionary(reinterpret_cast<char*>(&dict));
  }

  std::vector<qal3_serv_block_subhead_2010*> blocks;
  for (int i = 0, n = 1 + in.u8() % 3; i < n; ++i)
    if (qal3_serv_block_subhead_2010* b = make_block(in, watched)) blocks.push_back(b);

  // Several events in a row: every trigger on every block, repeatedly.
  const int rounds = 2 + in.u8() % 3;
  for (int r = 0; r < rounds; ++r)
    for (qal3_serv_block_subhead_2010* b : blocks)
      for (qal3_user_case_trigger* t : triggers) {
        const int answer = qal3_is_trigger_on(b, t);
        const bool bad_index = static_cast<unsigned>(t->function) > 31 || static_cast<unsigned>(t->operation) > 31;
        if (answer < -1 || answer > 1 || (answer == -1) != bad_index) std::abort();
      }
  if (!triggers.empty()) (void)qal3_is_trigger_on(nullptr, triggers[0]);
  if (!blocks.empty()) (void)qal3_is_trigger_on(blocks[0], nullptr);

  qal3_user_trigger_set_ext_env_dictionary(nullptr);
  for (qal3_serv_block_subhead_2010* b : blocks) qal3_evutl_free_block(b);
  for (qal3_user_case_trigger* t : triggers) QAL3_FREE_USER(t);
  return 0;
}
