#include "PluginFile.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace {

bool ReadAt(int descriptor, void* into, size_t size, uint64_t offset) {
  return pread(descriptor, into, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
}

// The end of the last byte that the headers and loadable segments of the file need, or 0 when
// it is no 64-bit ELF file.
uint64_t NeededSize(int descriptor, uint64_t fileSize) {
  Elf64_Ehdr header{};
  if (!ReadAt(descriptor, &header, sizeof header, 0) ||
      std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64) {
    return 0;
  }
  const uint64_t headersEnd =
      header.e_phoff + static_cast<uint64_t>(header.e_phnum) * sizeof(Elf64_Phdr);
  std::vector<Elf64_Phdr> segments(header.e_phnum);
  if (headersEnd > fileSize || header.e_phentsize != sizeof(Elf64_Phdr) ||
      !ReadAt(descriptor, segments.data(), segments.size() * sizeof(Elf64_Phdr), header.e_phoff)) {
    return headersEnd > fileSize ? headersEnd : 0;
  }
  uint64_t needed = headersEnd;
  for (const Elf64_Phdr& segment : segments) {
    if (segment.p_type == PT_LOAD && segment.p_offset + segment.p_filesz > needed) {
      needed = segment.p_offset + segment.p_filesz;
    }
  }
  return needed;
}

}  // namespace

bool PluginFileIsWhole(const std::string& path, std::string& error) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    return true;  // the loader says why it cannot be opened
  }
  struct stat status {};
  const bool measured = fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
  const uint64_t size = measured ? static_cast<uint64_t>(status.st_size) : 0;
  const uint64_t needed = measured ? NeededSize(descriptor, size) : 0;
  close(descriptor);
  if (needed <= size) {
    return true;
  }
  error = "cannot load " + path + ": the file is cut short (" + std::to_string(size) +
          " bytes, its segments need " + std::to_string(needed) + ")";
  return false;
}
