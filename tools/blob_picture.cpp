// blob_picture: draws a ".blob" file as two PNG pictures, for checking blobs by eye.
//
//   blob_picture <file.blob> [output prefix] [--contrast c] [--morph m --with other.blob]
//   blob_picture --import <sound.wav|.aif|.aiff|.flac> <out.blob> [output prefix] [--contrast c]
//
// --import analyses an audio file as the sound import does (mixed to mono, low cut on),
// writes the blob to <out.blob> and draws it.
//
// <prefix>_map.png: the density map as the blob editor computes it (frequency from left to
// right, time from top to bottom), shaded from black (empty) to white (densest), with the
// blob's 7 time curves (red) and 6 frequency curves (green) drawn over it.
// <prefix>_waveform.png: the amplitude envelope of the waveform preview, drawn symmetric about
// the middle line like a sample display.

#include <stb/stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/blob/AudioFileLoader.h"
#include "engine/blob/Blob.h"

namespace {

constexpr int kMapSize = 512;
constexpr int kWaveWidth = 800;
constexpr int kWaveHeight = 200;

struct Image {
  int width;
  int height;
  std::vector<uint8_t> rgb;
  Image(int w, int h) : width(w), height(h), rgb(static_cast<size_t>(w) * h * 3, 0) {}
  void set(int x, int y, uint8_t r, uint8_t g, uint8_t b) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
    p[0] = r;
    p[1] = g;
    p[2] = b;
  }
  bool save(const std::string& path) const {
    return stbi_write_png(path.c_str(), width, height, 3, rgb.data(), width * 3) != 0;
  }
};

bool loadBlob(const char* path, Blob& blob) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot open %s\n", path);
    return false;
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const int32_t size = static_cast<int32_t>(bytes.size());
  const int32_t read = blob.deserialize(bytes.data(), size, nullptr);
  if (read != size) {
    std::fprintf(stderr, "%s: not a blob file (read %d of %d bytes)\n", path, read, size);
    return false;
  }
  return true;
}

// Fills the triangle (a, b, c) in pixel coordinates, interpolating the value v linearly.
void fillTriangle(std::vector<float>& field, int size, const float* a, const float* b, const float* c) {
  const float minX = std::floor(std::min({a[0], b[0], c[0]}));
  const float maxX = std::ceil(std::max({a[0], b[0], c[0]}));
  const float minY = std::floor(std::min({a[1], b[1], c[1]}));
  const float maxY = std::ceil(std::max({a[1], b[1], c[1]}));
  const float area = (b[0] - a[0]) * (c[1] - a[1]) - (c[0] - a[0]) * (b[1] - a[1]);
  if (std::fabs(area) < 1e-12f) return;
  for (int y = std::max(0, static_cast<int>(minY)); y <= std::min(size - 1, static_cast<int>(maxY)); ++y) {
    for (int x = std::max(0, static_cast<int>(minX)); x <= std::min(size - 1, static_cast<int>(maxX)); ++x) {
      const float px = x + 0.5f;
      const float py = y + 0.5f;
      const float wa = ((b[0] - px) * (c[1] - py) - (c[0] - px) * (b[1] - py)) / area;
      const float wb = ((c[0] - px) * (a[1] - py) - (a[0] - px) * (c[1] - py)) / area;
      const float wc = 1.0f - wa - wb;
      if (wa < -1e-4f || wb < -1e-4f || wc < -1e-4f) continue;
      field[static_cast<size_t>(y) * size + x] = wa * a[2] + wb * b[2] + wc * c[2];
    }
  }
}

void drawCurve(Image& image, const std::vector<float>& xs, const std::vector<float>& ys, uint8_t r, uint8_t g,
               uint8_t b) {
  for (size_t i = 0; i + 1 < xs.size(); ++i) {
    const float steps = std::max(std::fabs(xs[i + 1] - xs[i]), std::fabs(ys[i + 1] - ys[i])) + 1.0f;
    for (int s = 0; s <= static_cast<int>(steps); ++s) {
      const float t = s / steps;
      image.set(static_cast<int>(xs[i] + t * (xs[i + 1] - xs[i])), static_cast<int>(ys[i] + t * (ys[i + 1] - ys[i])),
                r, g, b);
    }
  }
}

Image drawMap(const Blob& blob, float contrast) {
  FloatGrid positions;
  FloatGrid densities;
  blob.renderMap(positions, densities, contrast, true);
  int32_t rows = 0;
  int32_t columns = 0;
  Blob::getGridSizes(rows, columns);

  float peak = 0.0f;
  for (const auto& row : densities)
    for (float v : row) peak = std::max(peak, v);
  const float scale = peak > 0.0f ? 1.0f / peak : 0.0f;

  // Each mesh cell is two triangles between its four nodes.
  std::vector<float> field(static_cast<size_t>(kMapSize) * kMapSize, 0.0f);
  auto node = [&](int r, int c, float* out) {
    out[0] = positions[r][2 * c + 1] * kMapSize;  // frequency across
    out[1] = positions[r][2 * c] * kMapSize;      // time down
    out[2] = densities[r][c] * scale;
  };
  for (int r = 0; r + 1 < rows; ++r) {
    for (int c = 0; c + 1 < columns; ++c) {
      float p00[3], p01[3], p10[3], p11[3];
      node(r, c, p00);
      node(r, c + 1, p01);
      node(r + 1, c, p10);
      node(r + 1, c + 1, p11);
      fillTriangle(field, kMapSize, p00, p01, p11);
      fillTriangle(field, kMapSize, p00, p11, p10);
    }
  }
  Image image(kMapSize, kMapSize);
  for (int y = 0; y < kMapSize; ++y) {
    for (int x = 0; x < kMapSize; ++x) {
      const float v = std::sqrt(std::clamp(field[static_cast<size_t>(y) * kMapSize + x], 0.0f, 1.0f));
      const uint8_t g = static_cast<uint8_t>(v * 255.0f + 0.5f);
      image.set(x, y, g, g, g);
    }
  }

  // The curves themselves: time curve k runs down mesh column 8k, frequency curve m across
  // mesh row 8m.
  const float toPixelsT = kMapSize / Blob::kTimeRange;
  const float toPixelsF = kMapSize / Blob::kFrequencyRange;
  for (size_t k = 0; k < blob.gridA.size(); ++k) {
    std::vector<float> xs;
    std::vector<float> ys;
    for (int r = 0; r < rows; ++r) {
      xs.push_back(sampleGridBilinear(blob.gridB, r / 8.0f, static_cast<float>(8 * k)) * toPixelsF);
      ys.push_back(blob.gridA[k][static_cast<size_t>(r)] * toPixelsT);
    }
    drawCurve(image, xs, ys, 220, 40, 40);
  }
  for (size_t m = 0; m < blob.gridB.size(); ++m) {
    std::vector<float> xs;
    std::vector<float> ys;
    for (int c = 0; c < columns; ++c) {
      xs.push_back(blob.gridB[m][static_cast<size_t>(c)] * toPixelsF);
      ys.push_back(sampleGridBilinear(blob.gridA, c / 8.0f, static_cast<float>(8 * m)) * toPixelsT);
    }
    drawCurve(image, xs, ys, 40, 200, 40);
  }
  return image;
}

Image drawWaveform(const Blob& a, const Blob* b, float morph) {
  std::vector<float> envelope(kWaveWidth);
  Blob::renderWaveform(&a, b, morph, envelope);
  Image image(kWaveWidth, kWaveHeight);
  const int middle = kWaveHeight / 2;
  for (int x = 0; x < kWaveWidth; ++x) {
    const float v = std::clamp(envelope[static_cast<size_t>(x)], 0.0f, 1.0f);
    const int half = static_cast<int>(v * (middle - 2));
    for (int y = middle - half; y <= middle + half; ++y) image.set(x, y, 90, 170, 255);
    image.set(x, middle, 60, 60, 60);
  }
  return image;
}

int usage() {
  std::fprintf(stderr,
               "usage: blob_picture <file.blob> [output prefix] [--contrast c] [--morph m --with other.blob]\n"
               "       blob_picture --import <sound file> <out.blob> [output prefix] [--contrast c]\n");
  return 2;
}

bool importSound(const char* soundPath, const char* blobPath, Blob& blob) {
  float sampleRate = 0.0f;
  const std::vector<float> samples = LoadAudioFileMono(soundPath, &sampleRate, true, nullptr);
  if (sampleRate < 1.0f) {
    std::fprintf(stderr, "%s: not a readable audio file\n", soundPath);
    return false;
  }
  if (!blob.analyze(samples, sampleRate, true, 0)) {
    std::fprintf(stderr, "%s: no hit found (silent or too quiet)\n", soundPath);
    return false;
  }
  std::vector<uint8_t> bytes;
  blob.toBytes(bytes);
  std::ofstream out(blobPath, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", blobPath);
    return false;
  }
  std::printf("%s\n", blobPath);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const bool import = std::strcmp(argv[1], "--import") == 0;
  if (import && argc < 4) return usage();
  const char* sound = import ? argv[2] : nullptr;
  const char* input = import ? argv[3] : argv[1];
  std::string prefix;
  float contrast = 0.0f;
  float morph = 0.0f;
  const char* other = nullptr;
  for (int i = import ? 4 : 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--contrast") == 0 && i + 1 < argc) {
      contrast = std::strtof(argv[++i], nullptr);
    } else if (std::strcmp(argv[i], "--morph") == 0 && i + 1 < argc) {
      morph = std::strtof(argv[++i], nullptr);
    } else if (std::strcmp(argv[i], "--with") == 0 && i + 1 < argc) {
      other = argv[++i];
    } else if (argv[i][0] != '-' && prefix.empty()) {
      prefix = argv[i];
    } else {
      return usage();
    }
  }
  if (prefix.empty()) {
    prefix = input;
    const size_t dot = prefix.rfind('.');
    if (dot != std::string::npos && prefix.find('/', dot) == std::string::npos) prefix.resize(dot);
  }

  Blob blob;
  if (import ? !importSound(sound, input, blob) : !loadBlob(input, blob)) return 1;
  Blob second;
  if (other != nullptr && !loadBlob(other, second)) return 1;

  const std::string mapPath = prefix + "_map.png";
  const std::string wavePath = prefix + "_waveform.png";
  if (!drawMap(blob, contrast).save(mapPath) ||
      !drawWaveform(blob, other != nullptr ? &second : nullptr, morph).save(wavePath)) {
    std::fprintf(stderr, "cannot write the pictures\n");
    return 1;
  }
  std::printf("%s\n%s\n", mapPath.c_str(), wavePath.c_str());
  return 0;
}
