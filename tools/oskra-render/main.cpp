// oskra-render: plays a demo groove, a MIDI file or the instrument's own sequencer through a
// VST3 bundle and writes the result as a WAV file. See UsageText for the options.
#include <cstdio>
#include <string>

#include "tools/oskra-render/Renderer.h"

int main(int argc, char** argv) {
  oskrarender::RenderOptions options;
  bool help = false;
  std::string error;
  int code = oskrarender::ParseCommandLine(argc, argv, options, help, error);
  if (help) {
    std::fputs(oskrarender::UsageText(), stdout);
    return oskrarender::kExitOk;
  }
  if (code != oskrarender::kExitOk) {
    std::fprintf(stderr, "oskra-render: %s\n\n%s", error.c_str(), oskrarender::UsageText());
    return code;
  }
  code = oskrarender::Render(options, error);
  if (code != oskrarender::kExitOk) std::fprintf(stderr, "oskra-render: %s\n", error.c_str());
  return code;
}
