#include "plugin/library/AudioFileDialog.h"

#include "platform/OpenFileDialog.h"
#include "plugin/files/FileUtils.h"

std::vector<std::string> AudioFilePatterns(const std::string& extensions) {
  std::vector<std::string> patterns = SplitStringByChar(extensions, ' ');
  for (std::string& pattern : patterns) pattern = "*." + pattern;
  return patterns;
}

std::vector<std::string> ChooseAudioFiles(const std::string& initialFolder, const std::string& extensions) {
  try {
    return showOpenFileDialog({initialFolder, AudioFilePatterns(extensions)});
  } catch (const std::exception&) {
    return {};
  }
}
