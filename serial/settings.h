// The configurator's one persisted setting, the link port's name, kept as
// the string value ComPort in the user's settings for Veltranix/Orvane
// (the Linux form of the key "Software\Veltranix\Orvane").
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

namespace orvane::serial {

class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The stored name, if any. Creates the store when it is missing; an
// unreachable store simply holds nothing. Throws SettingsError when the
// value is not a string.
std::optional<std::string> LoadComPort();
// Throws SettingsError when the value cannot be stored.
void SaveComPort(const std::string& name);
// What is wrong with the store's file, or nothing: it cannot be read, or it
// could not be parsed whole. Loading still takes what it can read.
std::optional<std::string> SettingsProblem();

}  // namespace orvane::serial
