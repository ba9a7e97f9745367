#pragma once

#include <functional>
#include <string>
#include <vector>

// A modal "open files" picker for the user-interface thread (never the audio thread). Linux
// has no picker in its system interface, so the desktop's own is run as a program: zenity, or
// kdialog when zenity is not installed, and only while the process has a display. Without
// either the dialog counts as cancelled.
struct OpenFileDialogRequest {
  std::string initialFolder;          // UTF-8; empty leaves the choice to the picker
  std::vector<std::string> patterns;  // such as "*.wav"; empty offers every file
};

// The chosen files as full UTF-8 paths in the picker's order; empty when cancelled or failed.
using OpenFileDialogBackend = std::function<std::vector<std::string>(const OpenFileDialogRequest&)>;

// Replaces the picker for the whole process (tests script their answers this way); an empty
// function puts the desktop's picker back.
void setOpenFileDialogBackend(OpenFileDialogBackend backend);

// Runs the current picker. Never throws.
std::vector<std::string> showOpenFileDialog(const OpenFileDialogRequest& request);

// The desktop's picker: the program found on PATH, run with its arguments as an argument
// vector (no shell sees the paths); empty when there is no display or no picker program.
std::vector<std::string> runDesktopFileDialog(const OpenFileDialogRequest& request);
