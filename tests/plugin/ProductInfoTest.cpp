#include <gtest/gtest.h>

#include <sys/utsname.h>

#include <filesystem>

#include "plugin/ProductInfo.h"

TEST(ProductInfo, LinesInOrder) {
  const std::pair<ProductInfo, std::string> cases[] = {  // the last five lines
      {{}, "unknown\r\nOS: Linux \r\nBuffersize: -1\r\nSamplerate: 0\r\nChannels: -1\r\n"},
      {{"/usr/bin/daw", "6.1.0-18-amd64", 512, 48000.0f, 4},
       "/usr/bin/daw\r\nOS: Linux 6.1.0-18-amd64\r\nBuffersize: 512\r\nSamplerate: 48000\r\nChannels: 4\r\n"},
      {{"h", "r", 1, 44100.99f, 18}, "h\r\nOS: Linux r\r\nBuffersize: 1\r\nSamplerate: 44100\r\nChannels: 18\r\n"},
      {{"h", "r", 64, 1e30f, 2}, "h\r\nOS: Linux r\r\nBuffersize: 64\r\nSamplerate: 0\r\nChannels: 2\r\n"},
  };
  for (const auto& [info, tail] : cases)
    EXPECT_EQ(GetProductInfoText(info), "(hit ctrl+c to copy this)\r\n\r\nProduct: Oskra\r\nVersion: 2.0.0\r\nFormat: VST3\r\n"
                                        "Arch: x86-64\r\nHost: " + tail);
  utsname name{};
  ASSERT_EQ(uname(&name), 0);
  EXPECT_EQ(CurrentProductInfo().hostPath + CurrentProductInfo().kernelRelease,
            std::filesystem::read_symlink("/proc/self/exe").string() + name.release);
}
