// The recordings `trigger test --recording` reads (tools/recording.h):
// files made here byte by byte (.npy), with libzip (.npz) and libhdf5, each
// opened and read back whole and in pieces, or refused with a clean message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "recording.h"
#include "test_util.h"

#ifdef QAL3_RECORDING_HDF5
#include <hdf5.h>
#endif
#ifdef QAL3_RECORDING_NPZ
#include <zip.h>
#endif

namespace {

// The bytes of `values` as T, little- or big-endian.
template <typename T>
std::string bytes_of(const std::vector<double>& values, bool big = false) {
  std::string out;
  for (double v : values) {
    const T t = static_cast<T>(v);
    char b[sizeof(T)];
    std::memcpy(b, &t, sizeof(T));
    if (big) std::reverse(b, b + sizeof(T));
    out.append(b, sizeof(T));
  }
  return out;
}

// An .npy file (version 1.0) with header dict `dict` and data `data`.
std::string npy(const std::string& dict, const std::string& data) {
  std::string header = dict;
  while ((10 + header.size() + 1) % 64) header += ' ';
  header += '\n';
  std::string out("\x93NUMPY\x01\x00", 8);
  out += static_cast<char>(header.size() & 0xff);
  out += static_cast<char>(header.size() >> 8);
  return out + header + data;
}

void write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

struct Member {
  std::string name;
  std::string bytes;
  bool deflated = false;
};

#ifdef QAL3_RECORDING_NPZ
void write_zip(const std::string& path, const std::vector<Member>& members) {
  int code = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  ASSERT_NE(z, nullptr);
  for (const Member& m : members) {
    zip_source_t* s = zip_source_buffer(z, m.bytes.data(), m.bytes.size(), 0);
    const zip_int64_t i = zip_file_add(z, m.name.c_str(), s, ZIP_FL_ENC_GUESS);
    ASSERT_GE(i, 0);
    zip_set_file_compression(z, static_cast<zip_uint64_t>(i), m.deflated ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0);
  }
  ASSERT_EQ(zip_close(z), 0);
}
#endif

#ifdef QAL3_RECORDING_HDF5
// Data set `name` of file type `type`, written from doubles.
void h5_set(hid_t where, const char* name, hid_t type, std::vector<hsize_t> dims, const std::vector<double>& v,
            bool compressed = false) {
  const hid_t space = H5Screate_simple(static_cast<int>(dims.size()), dims.data(), nullptr);
  const hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
  if (compressed) {
    std::vector<hsize_t> chunk(dims.size(), 2);
    H5Pset_chunk(dcpl, static_cast<int>(chunk.size()), chunk.data());
    H5Pset_deflate(dcpl, 6);
  }
  const hid_t set = H5Dcreate2(where, name, type, space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
  ASSERT_GE(set, 0);
  if (!v.empty()) {
    ASSERT_GE(H5Dwrite(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data()), 0);
  }
  H5Dclose(set);
  H5Pclose(dcpl);
  H5Sclose(space);
}
#endif

struct Expected {
  std::string name;
  int subchannel;
  bool spectrum;
  std::size_t samples;
  std::vector<double> values;  // as stored; read as static_cast<float>
};

struct Case {
  const char* what;
  std::function<void(const std::string& path)> make;
  std::string npy_channel;
  std::string error;  // a part of the refusal; "" for a recording
  std::vector<Expected> channels;
};

// 3 x 4; 1 + 2^-24 lies halfway between two float32 values: numpy rounds to even.
const std::vector<double> kSpectrum = {0.1, -2.5, 1e-3, 7, 8, 1 + 0x1p-24, 1e30, -0.0, 3, 2, 1, 0};
const std::vector<double> kShorts = {-2, 300, 32767};
const std::vector<double> kWide = {16777217, -16777219, 2147483647};  // rounded to float32 as numpy does

std::vector<Case> cases() {
  std::vector<Case> c;
  c.push_back({"float32 spectrum in an .npy",
               [](const std::string& p) {
                 write(p,
                       npy("{'descr': '<f4', 'fortran_order': False, 'shape': (3, 4), }", bytes_of<float>(kSpectrum)));
               },
               "spec",
               "",
               {{"spec", 0, true, 4, kSpectrum}}});
  c.push_back({"big-endian int16 values, subchannel from NAME[3]",
               [](const std::string& p) {
                 write(p, npy("{'descr': '>i2', 'fortran_order': True, 'shape': (3,), }",
                              bytes_of<std::int16_t>(kShorts, true)));
               },
               "v[3]",
               "",
               {{"v", 3, false, 1, kShorts}}});
  c.push_back(
      {"an .npy without its channel's name",
       [](const std::string& p) { write(p, npy("{'descr': '<f4', 'fortran_order': False, 'shape': (0,), }", "")); },
       "",
       "an .npy file holds one channel; name it",
       {}});
  c.push_back({"truncated .npy",
               [](const std::string& p) {
                 write(p, npy("{'descr': '<f4', 'fortran_order': False, 'shape': (4,), }", bytes_of<float>({1, 2})));
               },
               "x",
               "holds 8 bytes of data, not the 16 its shape needs",
               {}});
  c.push_back({"shape whose byte count overflows",
               [](const std::string& p) {
                 write(p, npy("{'descr': '<f8', 'fortran_order': False, 'shape': (4294967296, 4294967296), }", ""));
               },
               "x",
               "has a shape too large for any file",
               {}});
  c.push_back({"header longer than 64 KiB",
               [](const std::string& p) { write(p, std::string("\x93NUMPY\x02\x00\x00\x00\x02\x00", 12) + "{"); },
               "x",
               "has an .npy header of 131072 bytes",
               {}});
  c.push_back({"text file",
               [](const std::string& p) { write(p, "channel spec\x1b[31m 1 2 3\n"); },
               "",
               "not a recording: neither an HDF5 file, an .npz archive nor an .npy array",
               {}});
  c.push_back({"HDF5 signature without HDF5 behind it",
               [](const std::string& p) { write(p, std::string("\x89HDF\r\n\x1a\n", 8) + std::string(600, '\x07')); },
               "",
#ifdef QAL3_RECORDING_HDF5
               "not a recording: ",
#else
               "this build of qal3 reads no HDF5 recordings",
#endif
               {}});
#ifdef QAL3_RECORDING_NPZ
  c.push_back(
      {".npz: members by name and subchannel, stored and deflated",
       [](const std::string& p) {
         write_zip(
             p,
             {{"spec.npy",
               npy("{'descr': '<f8', 'fortran_order': False, 'shape': (3, 4), }", bytes_of<double>(kSpectrum)), true},
              {"A/B[3].npy",
               npy("{'descr': '|u1', 'fortran_order': False, 'shape': (3,), }", bytes_of<std::uint8_t>({0, 128, 255}))},
              {"wide.npy",
               npy("{'descr': '>i8', 'fortran_order': False, 'shape': (3,), }", bytes_of<std::int64_t>(kWide, true)),
               true},
              {"notes.txt", "not an array"}});
       },
       "",
       "",
       {{"spec", 0, true, 4, kSpectrum}, {"A/B", 3, false, 1, {0, 128, 255}}, {"wide", 0, false, 1, kWide}}});
  c.push_back({"zip archive without .npy members",
               [](const std::string& p) {
                 write_zip(p, {{"notes.txt", "hello"}});
               },
               "",
               "not a recording: a zip archive without .npy members",
               {}});
  c.push_back({".npz member with a bad header",
               [](const std::string& p) {
                 write_zip(p, {{"bad.npy", npy("{'descr': '<f4', 'shape': [3]}", "")}});
               },
               "",
               "member 'bad.npy' has a malformed shape in its .npy header",
               {}});
  c.push_back(
      {".npz members with different row counts",
       [](const std::string& p) {
         write_zip(
             p,
             {{"a.npy", npy("{'descr': '<f4', 'fortran_order': False, 'shape': (3,), }", bytes_of<float>({1, 2, 3}))},
              {"b.npy", npy("{'descr': '<f4', 'fortran_order': False, 'shape': (2,), }", bytes_of<float>({1, 2}))}});
       },
       "",
       "different numbers of events: member 'a.npy' holds 3, member 'b.npy' holds 2",
       {}});
#endif
#ifdef QAL3_RECORDING_HDF5
  c.push_back({"HDF5: group path A/B[3], byte orders, compression; others skipped",
               [](const std::string& p) {
                 const hid_t f = H5Fcreate(p.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
                 const hid_t g = H5Gcreate2(f, "A", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
                 h5_set(g, "B[3]", H5T_STD_I16BE, {3}, kShorts);
                 h5_set(g, "wide", H5T_STD_I32BE, {3}, kWide);
                 h5_set(f, "spec", H5T_IEEE_F64BE, {3, 4}, kSpectrum, true);
                 h5_set(f, "cube", H5T_IEEE_F32LE, {1, 1, 1}, {1});
                 const hid_t text = H5Tcopy(H5T_C_S1);
                 H5Tset_size(text, 4);
                 h5_set(f, "label", text, {3}, {});
                 H5Tclose(text);
                 H5Gclose(g);
                 H5Fclose(f);
               },
               "",
               "",
               {{"A/B", 3, false, 1, kShorts}, {"A/wide", 0, false, 1, kWide}, {"spec", 0, true, 4, kSpectrum}}});
  c.push_back({"HDF5 data set of subchannel 4096, a control character in its name",
               [](const std::string& p) {
                 const hid_t f = H5Fcreate(p.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
                 h5_set(f, "x\x1b[4096]", H5T_NATIVE_FLOAT, {1}, {1});
                 H5Fclose(f);
               },
               "",
               "data set '/x\\x1b[4096]': 'x\\x1b[4096]' names subchannel 4096, not one of 0..4095",
               {}});
  c.push_back({"HDF5 data sets with different row counts",
               [](const std::string& p) {
                 const hid_t f = H5Fcreate(p.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
                 h5_set(f, "a", H5T_NATIVE_FLOAT, {3}, {1, 2, 3});
                 h5_set(f, "b", H5T_NATIVE_FLOAT, {2, 2}, {1, 2, 3, 4});
                 H5Fclose(f);
               },
               "",
               "different numbers of events: data set '/a' holds 3, data set '/b' holds 2",
               {}});
#endif
  return c;
}

bool printable(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char ch) { return ch >= 0x20 && ch < 0x7f; });
}

TEST(ToolRecording, OpensReadsAndRefuses) {
  for (const Case& k : cases()) {
    SCOPED_TRACE(k.what);
    testutil::TempFile file("", ".rec");
    k.make(file.path());
    std::string error;
    std::unique_ptr<recording::Recording> r;
    // Nothing of any library reaches the terminal.
    EXPECT_EQ(testutil::capture_stderr([&] { r = recording::Recording::open(file.path(), k.npy_channel, error); }), "");
    if (!k.error.empty()) {
      EXPECT_EQ(r, nullptr);
      EXPECT_NE(error.find(k.error), std::string::npos) << error;
      EXPECT_TRUE(printable(error)) << error;
      continue;
    }
    ASSERT_NE(r, nullptr) << error;
    ASSERT_EQ(r->channels().size(), k.channels.size());
    for (std::size_t i = 0; i < k.channels.size(); ++i) {
      const Expected& e = k.channels[i];
      const std::size_t c = r->find(e.name, e.subchannel);
      ASSERT_LT(c, r->channels().size()) << e.name;
      const recording::Channel& ch = r->channels()[c];
      EXPECT_EQ(ch.spectrum, e.spectrum) << e.name;
      ASSERT_EQ(ch.samples, e.samples) << e.name;
      const std::size_t events = e.values.size() / e.samples;
      ASSERT_EQ(r->events(), events);
      std::vector<float> want;
      for (double v : e.values) want.push_back(static_cast<float>(v));
      // Whole, then the last row and back to the first (a stream reopened).
      std::vector<float> got(want.size());
      ASSERT_TRUE(r->read(c, 0, events, got.data(), error)) << error;
      EXPECT_EQ(got, want) << e.name;
      std::vector<float> last(e.samples), first(e.samples);
      ASSERT_TRUE(r->read(c, events - 1, 1, last.data(), error)) << error;
      ASSERT_TRUE(r->read(c, 0, 1, first.data(), error)) << error;
      EXPECT_TRUE(std::equal(last.begin(), last.end(), want.end() - e.samples)) << e.name;
      EXPECT_TRUE(std::equal(first.begin(), first.end(), want.begin())) << e.name;
      EXPECT_FALSE(r->read(c, events, 1, got.data(), error)) << e.name;
    }
  }
}

}  // namespace
