// Test helper started in place of the pose helper: writes the descriptors it
// was given to "<its own path>.fds", one number a line, then waits to be killed.
#include <dirent.h>
#include <fstream>
#include <string>
#include <unistd.h>

int main(int, char **argv) {
  std::string fds;
  if (DIR *dir = opendir("/proc/self/fd")) {
    while (const dirent *entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      if (std::stoi(entry->d_name) == dirfd(dir)) continue;
      fds += entry->d_name;
      fds += '\n';
    }
    closedir(dir);
  }
  const std::string out = std::string(argv[0]) + ".fds";
  std::ofstream(out + ".part") << fds;
  std::rename((out + ".part").c_str(), out.c_str());
  for (;;) pause();
}
