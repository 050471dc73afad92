// A trigger list replayed through the C++ face (qal3::Replay) over an events
// file of the tool's CSV form with channel, subchannel and event columns:
//
//   replay_face TRIGGERS.xml EVENTS.csv
//
// The first row names the columns channel,subchannel,event,start,inc and
// the samples follow; the rows of one event are together. Prints
// "event trigger outcome value" per line (events from 0, value "nan" when
// there is none), for the surfaces' agreement test.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "qal3.hpp"

namespace {

struct Row {
  std::string channel;
  int subchannel = 0;
  std::string event;
  float start = 0, inc = 1;
  std::vector<float> samples;
};

Row row_of(const std::string& line) {
  std::vector<std::string> f;
  std::stringstream in(line);
  for (std::string field; std::getline(in, field, ',');) f.push_back(field);
  Row r;
  r.channel = f.at(0);
  r.subchannel = std::stoi(f.at(1));
  r.event = f.at(2);
  r.start = std::strtof(f.at(3).c_str(), nullptr);
  r.inc = std::strtof(f.at(4).c_str(), nullptr);
  for (std::size_t i = 5; i < f.size(); ++i) r.samples.push_back(std::strtof(f[i].c_str(), nullptr));
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s TRIGGERS.xml EVENTS.csv\n", argv[0]);
    return 2;
  }
  const auto list = qal3::Triggers::read_file(argv[1]);
  if (!list) return 1;
  auto replay = qal3::Replay::of(list.value().records());
  if (!replay) return 1;
  std::ifstream in(argv[2]);
  std::vector<std::vector<Row>> events;
  std::string line;
  std::getline(in, line);  // the column names
  while (std::getline(in, line)) {
    const Row r = row_of(line);
    if (events.empty() || events.back().front().event != r.event) events.emplace_back();
    events.back().push_back(r);
  }
  for (std::size_t e = 0; e < events.size(); ++e) {
    std::vector<qal3_replay_data> data;
    for (const Row& r : events[e])
      data.push_back(qal3::spectrum_data(r.channel.c_str(), r.subchannel, r.start, r.inc, r.samples.size(),
                                         r.samples.data(), r.samples.size()));
    const auto table = replay.value().run(data, 1);
    if (!table) return 1;
    for (std::size_t k = 0; k < table.value().triggers; ++k) {
      const auto v = table.value().value(0, k);
      std::printf("%zu %zu %d %.9g\n", e, k, static_cast<int>(table.value().outcome(0, k)),
                  v ? static_cast<double>(*v) : std::nan(""));
    }
  }
  return 0;
}
