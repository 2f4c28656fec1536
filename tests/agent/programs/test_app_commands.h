// The commands of an SDK application, for the test application of
// test_app.cpp. Builds without the SDK supply none.
#pragma once

#include <istream>
#include <string>

namespace qv::test {

// Runs `command` with its arguments from `words` and answers through `say`;
// false when the command is not one of them. "quit" stops the application.
bool SdkCommand(const std::string& command, std::istream& words, void (*say)(const std::string&));

}  // namespace qv::test
