// The event-utility stand-in: names, structure kinds, and the block layout.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "event_util.h"
#include "qal3_evutl_blocks.h"
#include "user_case_trigger.h"

namespace {

TEST(EventUtil, NamesAreNeverNull) {
  for (int t = -5; t <= 40; ++t) ASSERT_NE(event_name_itoa(t), nullptr) << t;
  for (int t = -5; t <= 70; ++t) ASSERT_NE(block_name_itoa(t), nullptr) << t;
  EXPECT_STREQ(event_name_itoa(QAL3_EV_UPD), "UPD");
  EXPECT_STREQ(event_name_itoa(QAL3_EV_EVMAX), "EVMAX");
  EXPECT_STREQ(block_name_itoa(QAL3_UPD_BLOCK_2010), "UPD_BLOCK_2010");
  EXPECT_STREQ(block_name_itoa(30), "UNKNOWN");
  EXPECT_STREQ(block_name_itoa(63), "UNKNOWN");
}

TEST(EventUtil, StructureKinds) {
  EXPECT_EQ(get_event_struct_type(QAL3_EV_LLRF_ML), QAL3_EV_STRUCT_ML);
  EXPECT_EQ(get_event_struct_type(QAL3_EV_TOROID_ML), QAL3_EV_STRUCT_ML);
  EXPECT_EQ(get_event_struct_type(QAL3_EV_IMAGE), QAL3_EV_STRUCT_LOCAL);
  EXPECT_EQ(get_event_struct_type(QAL3_EV_UPD), QAL3_EV_STRUCT_GLOBAL);
  EXPECT_EQ(get_event_struct_type(32), QAL3_EV_STRUCT_UNKNOWN);
  EXPECT_EQ(get_event_struct_type(-1), QAL3_EV_STRUCT_UNKNOWN);
  EXPECT_EQ(get_data_structure_type(QAL3_DATA_GSPECTRUM), QAL3_DATA_GSPECTRUM);
  EXPECT_EQ(get_data_structure_type(QAL3_DATA_IMAGE_EXT), QAL3_DATA_IMAGE);
  EXPECT_EQ(get_data_structure_type(12345), 0);
}

TEST(EventUtil, SpectrumBlock) {
  const float a[] = {1, 2, 3};
  const float b[] = {7};
  const qal3_spect_header_2010 heads[] = {{0.5f, 0.25f, 3, 1, 1.0f}, {10.0f, 2.0f, 1, 2, 3.0f}};
  const float* samples[] = {a, b};
  qal3_serv_block_subhead_2010* blk = qal3_evutl_make_spectrum("SPEC", QAL3_DATA_SPECTRUM, 2, heads, samples);
  ASSERT_NE(blk, nullptr);
  EXPECT_STREQ(blk->chname, "SPEC");
  float* d1 = get_pointer_to_data_2010(blk, 1);
  ASSERT_NE(d1, nullptr);
  EXPECT_EQ(d1[0], 7.0f);
  EXPECT_EQ(get_pointer_to_data_2010(blk, 0)[2], 3.0f);
  EXPECT_EQ(get_pointer_to_data_2010(blk, 2), nullptr);
  EXPECT_EQ(get_pointer_to_data_2010(blk, -1), nullptr);
  float start = 0, inc = 0, ginc = 1;
  int n = 0, groups = 1;
  qal3_spect_statistics_2010* st = nullptr;
  EXPECT_EQ(get_spect_params_for_data_type_2010(blk, &start, &inc, nullptr, &n, &groups, &ginc, &st, 1), 0);
  EXPECT_EQ(start, 10.0f);
  EXPECT_EQ(inc, 2.0f);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(groups, 2);
  EXPECT_EQ(get_spect_params_for_data_type_2010(blk, &start, &inc, nullptr, &n, &groups, &ginc, &st, 5), -1);
  // A block whose length is shorter than its counts yields no data.
  blk->ldata -= 4;
  EXPECT_EQ(get_pointer_to_data_2010(blk, 1), nullptr);
  EXPECT_NE(get_pointer_to_data_2010(blk, 0), nullptr);
  qal3_evutl_free_block(blk);
  qal3_evutl_free_block(nullptr);
}

TEST(EventUtil, NameValueSlowAndImageBlocks) {
  const float values[] = {-3.0f, 4.5f};
  qal3_serv_block_subhead_2010* nv = qal3_evutl_make_namval("NV", 2, values);
  ASSERT_NE(nv, nullptr);
  EXPECT_EQ(get_data_structure_type(nv->dtype), QAL3_DATA_NAMVAL);
  EXPECT_EQ(*get_pointer_to_data_2010(nv, 1), 4.5f);
  EXPECT_EQ(get_pointer_to_data_2010(nv, 2), nullptr);
  qal3_evutl_free_block(nv);

  qal3_upd_data_block_2010 upd{};
  std::strcpy(upd.upd_prop, "MAGNET/CURRENT");
  upd.upd_ch_data = 12.5f;
  qal3_env_data_block_2010 env{};
  env.env_ch_idx = 7;
  env.env_ch_data = 21.0f;
  qal3_serv_block_subhead_2010* slow = qal3_evutl_make_slow("SLOW", 1, &upd, 1, &env);
  ASSERT_NE(slow, nullptr);
  qal3_user_case_trigger trig{};
  std::strcpy(trig.channel, "MAGNET/CURRENT");
  qal3_upd_data_block_2010* found_upd = nullptr;
  ASSERT_EQ(find_upd_channel_2010(slow, &trig, &found_upd), 0);
  EXPECT_EQ(found_upd->upd_ch_data, 12.5f);

  std::strcpy(trig.channel, "HALL/TEMP");
  EXPECT_NE(find_upd_channel_2010(slow, &trig, &found_upd), 0);
  qal3_env_data_block_2010* found_env = nullptr;
  EXPECT_NE(find_slow_channel_2010(slow, nullptr, &trig, &found_env), 0);
  const qal3_evutl_env_dict_entry entries[] = {{3, "OTHER"}, {7, "HALL/TEMP"}};
  qal3_evutl_env_dict dict{2, entries};
  ASSERT_EQ(find_slow_channel_2010(slow, reinterpret_cast<char*>(&dict), &trig, &found_env), 0);
  EXPECT_EQ(found_env->env_ch_data, 21.0f);
  qal3_evutl_free_block(slow);

  qal3_image_ext_frame_head head{};
  head.width = 4;
  head.height = 2;
  head.bpp = 8;
  const unsigned char pixels[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  qal3_serv_block_subhead_2010* img = qal3_evutl_make_image("CAM", &head, pixels, 8);
  ASSERT_NE(img, nullptr);
  int x = 0, y = 0, bpp = 0, ev = 0;
  unsigned char* chd = nullptr;
  EXPECT_EQ(get_image_params_2010(img, &x, &y, &bpp, &ev, &chd), 0);
  EXPECT_EQ(x, 4);
  EXPECT_EQ(y, 2);
  EXPECT_EQ(chd[7], 8);
  EXPECT_EQ(get_pointer_to_data_2010(img, 0), nullptr);
  qal3_evutl_free_block(img);

  EXPECT_EQ(qal3_evutl_make_namval("X", -1, values), nullptr);
  EXPECT_EQ(qal3_evutl_make_spectrum("X", QAL3_DATA_SLOW, 0, nullptr, nullptr), nullptr);
}

TEST(EventUtil, RecordFacts) {
  EXPECT_EQ(int(QAL3_DATA_IMAGE), int(QAL3_DATA_IMAGE_EXT));
  EXPECT_EQ(QAL3_EV_EVMAX, 32);
  EXPECT_EQ(QAL3_SLOW_EVTYPE_MASK,
            (1u << QAL3_EV_BOR) | (1u << QAL3_EV_EOR) | (1u << QAL3_EV_ENV) | (1u << QAL3_EV_UPD));
  EXPECT_EQ(QAL3_BLOCK_7CHAN_2010, 62);
}

}  // namespace
