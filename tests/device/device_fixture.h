#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "device/session.h"
#include "tests/support/recording_host.h"

namespace orvane::device {

using Bytes = std::vector<std::uint8_t>;
using orvane::testing::Frame;
using orvane::testing::kPollFrame;

class DeviceTest : public ::testing::Test {
 protected:
  DeviceTest() {
    host.session = &session;
    dir = std::filesystem::temp_directory_path() /
          ("orvane-device-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
  }
  ~DeviceTest() override { std::filesystem::remove_all(dir); }

  std::string WriteFile(const std::string& name, const Bytes& bytes) {
    const std::string path = name.front() == '/' ? name : (dir / name).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  void Receive(const Bytes& bytes) { session.link().ReceiveData(bytes.data(), bytes.size()); }
  void Poll() { Receive(kPollFrame); }
  // The head goes out, then the device's answer comes back.
  void Answer(const Bytes& bytes) {
    session.link().SendHead();
    Receive(bytes);
  }
  link::LinkControl& link() { return session.link(); }
  const link::CommandQueue& queue() { return session.link().queue(); }
  Bytes EntryData(std::size_t i) {
    const auto payload = queue().at(i).Payload();
    return Bytes(payload.begin(), payload.end());
  }
  Bytes SentFrame(std::size_t i) { return link::BuildFrame(queue().at(i)); }

  static Bytes Block(const std::string& id = "", std::int16_t tz = 0) {
    Bytes block(link::kConstantsBlockBytes, 0);
    block[0] = 2;
    block[2] = 31;
    block[10] = static_cast<std::uint8_t>(tz);
    block[11] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(tz) >> 8);
    block[13] = static_cast<std::uint8_t>(id.size());
    std::copy(id.begin(), id.end(), block.begin() + 14);
    return block;
  }

  testing::RecordingHost host;
  Session session{host};
  std::filesystem::path dir;
};

}  // namespace orvane::device
