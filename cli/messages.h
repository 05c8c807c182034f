// Messages of the tool that several of its parts say, in the messages'
// language, each written once.
#pragma once

#include <string>

namespace orvane::cli {

std::string NoPortChosen();
std::string NotConfirmed();
std::string NotConfirmedWithoutTerminal();
std::string NoPortFoundForAll();
std::string StoppedBy(int signal);

}  // namespace orvane::cli
