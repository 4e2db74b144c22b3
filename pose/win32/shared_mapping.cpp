#include "pose/shared_mapping.h"

#include "support/win32/system_headers.h"

MappingHandle CreateNamedMapping(const char *name, std::size_t size) {
  // Backed by the paging file; opens the section when the other process made it first.
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, static_cast<DWORD>(size), name);
  if (!mapping) return kNoMapping;
  return reinterpret_cast<MappingHandle>(mapping);
}

MappingHandle OpenExistingNamedMapping(const char *name) {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
  if (!mapping) return kNoMapping;
  return reinterpret_cast<MappingHandle>(mapping);
}

void *MapNamedView(MappingHandle mapping, std::size_t size) {
  return MapViewOfFile(reinterpret_cast<HANDLE>(mapping), FILE_MAP_ALL_ACCESS, 0, 0, size);
}

void UnmapNamedView(void *view, std::size_t) {
  UnmapViewOfFile(view);
}

void CloseNamedMapping(MappingHandle mapping) {
  CloseHandle(reinterpret_cast<HANDLE>(mapping));
}
