// The test application where the SDK is not built: no SDK commands.
#include "test_app_commands.h"

bool qv::test::SdkCommand(const std::string&, std::istream&, void (*)(const std::string&)) { return false; }
