#pragma once

#include <functional>
#include <string>
#include <vector>

// The editor's multi-file open dialog for importing audio files.

// The dialog's patterns for extension words separated by spaces: "wav WAV" gives "*.wav",
// "*.WAV".
std::vector<std::string> AudioFilePatterns(const std::string& extensions);

// Shows the dialog (modal, on the user-interface thread); the chosen full paths in the dialog's
// order, empty when cancelled or when no dialog can be shown.
std::vector<std::string> ChooseAudioFiles(const std::string& initialFolder, const std::string& extensions);

// Shows the dialog, calls completion with the chosen paths (empty when cancelled), then
// releases the editor's mouse capture. graphics is the editor's graphics object (may be null).
template <typename Graphics>
void PromptForAudioFiles(Graphics* graphics, const std::string& initialFolder, const std::string& extensions,
                         const std::function<void(const std::vector<std::string>&)>& completion) {
  const std::vector<std::string> paths = ChooseAudioFiles(initialFolder, extensions);
  if (completion) completion(paths);
  if (graphics != nullptr) graphics->ReleaseMouseCapture();
}
