// A bench of simulated modems for the station window's demo and its
// pictures: each position an adapter (a link to a simulator's port in a
// folder of its own, which ORVANE_PORT_DIR names), a job made of the demo's
// files, and a record store made for the run.
#pragma once

#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

#include "sim/simulator.h"

namespace orvane::app {

struct DemoModem {
  std::size_t capacity = 16384;  // a smaller one cannot take the plans
};

class StationDemo {
 public:
  // Writes the job and its files, starts a simulator for each position and
  // links it as ttyUSB<i>; sets ORVANE_PORT_DIR. Throws when
  // a file cannot be written or no pseudo-terminal can be had.
  explicit StationDemo(const std::vector<DemoModem>& modems);
  ~StationDemo();

  const std::string& JobPath() const { return job_; }
  const std::string& StorePath() const { return store_; }
  const std::string& PortFolder() const { return ports_; }
  sim::Simulator* Modem(std::size_t position) const { return modems_.at(position).get(); }

 private:
  QTemporaryDir folder_;
  std::string job_, store_, ports_;
  std::vector<std::unique_ptr<sim::Simulator>> modems_;
};

}  // namespace orvane::app
