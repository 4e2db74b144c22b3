#include "pose/shared_mapping.h"

#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

MappingHandle CreateNamedMapping(const char *name, std::size_t size) {
  const std::string objectName = std::string("/") + name;
  // Owner only: the block steers a device pose.
  const int fd = shm_open(objectName.c_str(), O_RDWR | O_CREAT, 0600);
  if (fd < 0) return kNoMapping;
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    close(fd);
    return kNoMapping;
  }
  // Only a block of our own is grown; anyone else's is refused when it is mapped.
  if (st.st_uid == geteuid() && static_cast<std::size_t>(st.st_size) < size)
    (void)!ftruncate(fd, static_cast<off_t>(size));
  return fd;
}

MappingHandle OpenExistingNamedMapping(const char *name) {
  const std::string objectName = std::string("/") + name;
  const int fd = shm_open(objectName.c_str(), O_RDWR, 0);
  return fd < 0 ? kNoMapping : fd;
}

void *MapNamedView(MappingHandle mapping, std::size_t size) {
  // A block made by another user could be read or shrunk under us (a shrunk
  // one faults the reader on its next access): only our own, private block of
  // the full size is used.
  struct stat st {};
  if (fstat(static_cast<int>(mapping), &st) != 0 || st.st_uid != geteuid() || (st.st_mode & 077) != 0 ||
      static_cast<std::size_t>(st.st_size) < size)
    return nullptr;
  void *view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, static_cast<int>(mapping), 0);
  return view == MAP_FAILED ? nullptr : view;
}

void UnmapNamedView(void *view, std::size_t size) {
  munmap(view, size);
}

void CloseNamedMapping(MappingHandle mapping) {
  close(static_cast<int>(mapping));
}
