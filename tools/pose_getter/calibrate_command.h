#pragma once

#include <string>

#include "tools/pose_getter/getter_config.h"

// `pose_getter --calibrate [--countdown SECONDS]`: measures the mount of the
// configured openvr or opentrack source in a terminal and writes it into the
// configuration at `configPath`. `args` are those after --calibrate. The
// process's exit code.
int RunCalibrateCommand(int argc, char **args, const GetterConfig &config, const std::string &configPath);
