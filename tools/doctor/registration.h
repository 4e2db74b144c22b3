#pragma once

// `vk5-doctor --register` / `--unregister`: finds the host's path registry the
// way the host's own tools do, refuses while the host runs, edits the registry
// and, after registering, checks the folder.
#include <filesystem>
#include <string>

namespace doctor {

// The registry file for this user: VR_PATHREG_OVERRIDE when set; otherwise
// %LOCALAPPDATA%\openvr\openvrpaths.vrpath on Windows, and
// $XDG_CONFIG_HOME/openvr/openvrpaths.vrpath (~/.config when unset or empty)
// elsewhere. Empty, with `why`, when no such folder can be named.
std::filesystem::path PathRegistryFile(std::string &why);

// Whether a host server process (vrserver) runs for any user on this machine.
bool HostRunning();

// The driver folder this program sits in (<folder>/bin/<platform>/vk5-doctor),
// or the one a build lays out beside its bin/; empty when neither holds a
// driver.vrdrivermanifest.
std::filesystem::path DriverFolderOfProgram();

// The whole command: prints what it did and returns the exit code.
int RunRegistration(bool add, std::filesystem::path folder);

} // namespace doctor
