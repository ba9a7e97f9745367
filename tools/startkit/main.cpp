// oskra-kit: installs the start kit (its drum sounds and its preset) into the user's Oskra
// folders, leaving every file that is already there untouched. $OSKRA_DATA_DIR, when set,
// replaces the user-data root.
#include <cstdio>
#include <cstring>

#include "plugin/files/UserDataPaths.h"
#include "tools/startkit/StartKit.h"

int main(int argc, char** argv) {
  const bool quiet = argc > 1 && std::strcmp(argv[1], "--quiet") == 0;
  if (argc > 2 || (argc == 2 && !quiet)) {
    std::fprintf(stderr, "usage: oskra-kit [--quiet]\n");
    return 1;
  }
  const startkit::InstallReport report = startkit::InstallStartKit();
  if (!quiet) {
    for (const std::string& path : report.installed) std::printf("installed %s\n", path.c_str());
    if (!report.kept.empty())
      std::printf("kept %zu start kit file%s that %s already there\n", report.kept.size(),
                  report.kept.size() == 1 ? "" : "s", report.kept.size() == 1 ? "was" : "were");
  }
  if (!report.ok()) {
    std::fprintf(stderr, "oskra-kit: %s\n", report.error.c_str());
    return 2;
  }
  return 0;
}
