#ifndef DIAG_HOST_PLUGIN_FILE_H
#define DIAG_HOST_PLUGIN_FILE_H

#include <string>

// The loader maps a library's segments as its program headers give them; a file cut short (a
// copy that stopped, a full disk) maps pages with nothing behind them, and the first touch ends
// the host with a bus error. Returns false with the reason in `error` when `path` is a 64-bit ELF
// file whose headers or loadable segments reach past its end; true for anything else, which the
// loader then judges itself.
bool PluginFileIsWhole(const std::string& path, std::string& error);

#endif  // DIAG_HOST_PLUGIN_FILE_H
