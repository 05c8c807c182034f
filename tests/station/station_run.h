// A station session on simulated modems in this process, for the engine's
// tests: what it reported, in order, and a loop that waits for it.
#pragma once

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "station/station_engine.h"

namespace orvane::station::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Pattern(std::size_t size, std::uint8_t start) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(start + i * 7);
  return bytes;
}

inline std::string WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

struct StationRun {
  StationRun(std::vector<StationPosition> positions, std::shared_ptr<const JobSnapshot> snapshot,
             const std::string& store, EngineOptions options = {}) {
    QObject::connect(&engine, &StationEngine::PositionChanged, [this](const PositionEvent& e) { events.push_back(e); });
    QObject::connect(&engine, &StationEngine::UnitEnded, [this](const UnitEnd& end) { ends.push_back(end); });
    QObject::connect(&engine, &StationEngine::LogLine,
                     [this](std::size_t, const std::string& line) { log.push_back(line); });
    options.version = "test";
    refused = engine.Start(std::move(positions), std::move(snapshot), store, std::move(options));
  }
  bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
  }
  bool WaitForEnds(std::size_t count) {
    return WaitFor([&] { return ends.size() >= count; });
  }

  std::optional<std::string> refused;  // why the session did not start
  std::vector<PositionEvent> events;
  std::vector<UnitEnd> ends;
  std::vector<std::string> log;
  // Last, so it goes first: its end (a lease it cannot release) may still log.
  StationEngine engine;
};

}  // namespace orvane::station::testing
