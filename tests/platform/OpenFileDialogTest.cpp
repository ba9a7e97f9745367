#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "platform/OpenFileDialog.h"
#include "support/ScopedEnvironment.h"
#include "support/TestAudio.h"

using Args = std::vector<std::string>;

namespace {
// A stand-in picker program: it records its arguments (NUL-separated) and answers as told.
void writeFakePicker(const std::string& path, const std::string& answer, int status) {
  std::ofstream(path) << "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$0.args\"\nprintf '" << answer << "'\nexit " << status;
  ::chmod(path.c_str(), 0755);
}

Args recordedArguments(const std::string& picker) {
  std::ifstream in(picker + ".args");
  Args args;
  for (std::string arg; std::getline(in, arg, '\0');) args.push_back(arg);
  return args;
}
}  // namespace

TEST(OpenFileDialog, DesktopPickerRunsOnlyWithADisplayAndGetsEachPathAsOneArgument) {
  testaudio::TempFolder bin;
  const OpenFileDialogRequest request{bin.path() + "/my \"sounds\"; $(rm -rf x)", {"*.wav", "*.WAV"}};
  ScopedEnvironment env;
  env.set("PATH", bin.path().c_str());
  env.set("DISPLAY", nullptr);
  env.set("WAYLAND_DISPLAY", nullptr);
  writeFakePicker(bin.file("zenity"), "/s/a b.wav\\n/s/\\303\\251.wav\\n", 0);
  EXPECT_TRUE(runDesktopFileDialog(request).empty());  // no display: cancelled, nothing run
  EXPECT_TRUE(recordedArguments(bin.file("zenity")).empty());

  env.set("WAYLAND_DISPLAY", "wayland-0");
  EXPECT_EQ(runDesktopFileDialog(request), (Args{"/s/a b.wav", "/s/\xC3\xA9.wav"}));
  EXPECT_EQ(recordedArguments(bin.file("zenity")), (Args{"--file-selection", "--multiple", "--separator=\n",
                                                         "--filename=" + request.initialFolder + "/",
                                                         "--file-filter=*.wav;*.WAV | *.wav *.WAV"}));
  writeFakePicker(bin.file("zenity"), "/s/a.wav\\n", 1);  // the user cancelled
  EXPECT_TRUE(runDesktopFileDialog(request).empty());

  // Without zenity, kdialog; without either, cancelled.
  ::unlink(bin.file("zenity").c_str());
  writeFakePicker(bin.file("kdialog"), "/k/x.wav\\n", 0);
  EXPECT_EQ(runDesktopFileDialog({"", {}}), Args{"/k/x.wav"});
  EXPECT_EQ(recordedArguments(bin.file("kdialog")), (Args{"--getopenfilename", ".", "--multiple", "--separate-output"}));
  env.set("PATH", "");
  EXPECT_TRUE(runDesktopFileDialog(request).empty());
}
