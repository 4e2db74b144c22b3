#pragma once

#include <cstddef>
#include <cstdint>

// A named block of memory that another process can open by the same name.
// Each platform implements these in its own folder.
using MappingHandle = std::intptr_t;
inline constexpr MappingHandle kNoMapping = -1;

// Creates the named mapping, or opens it when it exists already, at least `size` bytes.
MappingHandle CreateNamedMapping(const char *name, std::size_t size);
// Opens the named mapping only if it exists already; kNoMapping otherwise.
MappingHandle OpenExistingNamedMapping(const char *name);
// Maps `size` bytes of it for reading and writing; null on failure.
void *MapNamedView(MappingHandle mapping, std::size_t size);
void UnmapNamedView(void *view, std::size_t size);
// Leaves the name in place: the other process may still hold it.
void CloseNamedMapping(MappingHandle mapping);
