// Compiled once for each build of the host: the one run from the build tree knows the library it
// was built with; the one that is installed knows only where its plug-in directory lies relative
// to itself, so that no installed file names the build tree.
#include "PluginDirectory.h"

DefaultPlugins BuiltInPlugins() {
#ifdef ZORVEX_BUILT_PLUGIN
  return {ZORVEX_BUILT_PLUGIN, false};
#else
  return {DirectoryBesideProgram(ZORVEX_PLUGIN_DIR_FROM_BINDIR, ZORVEX_INSTALLED_PLUGIN_DIR), true};
#endif
}
